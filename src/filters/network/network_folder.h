#pragma once
// What the network folder offers the menus: the filter networks (".nnf") in
// the folder and in its subfolders, and the two-times networks (".nnw") in
// the folder.
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

struct TNetworkMenuEntry {
  std::string Caption;  // the file name without its extension
  std::string Path;     // the file as the listing found it
  int32_t Tag = 0;
};

struct TNetworkSubfolder {
  std::string Name;
  std::vector<TNetworkMenuEntry> Items;  // tags 1000 s + j, s and j from 1
};

struct TNetworkFolderListing {
  std::vector<TNetworkMenuEntry> Filters;  // tags 1, 2, ...
  std::vector<TNetworkSubfolder> Subfolders;
  std::vector<TNetworkMenuEntry> TwoTimes;  // tags 1, 2, ...
};

// Lists the folder by name: each subfolder whose name does not begin with "."
// and that holds ".nnf" files (at most 999 are taken), each ".nnf" and each
// ".nnw" file (extensions in any case), until 1000 filter entries exist. A
// folder that cannot be read gives what was found before.
TNetworkFolderListing ListNetworkFolder(const std::string& folder);

}  // namespace astrelon
