#include "filters/network/network_folder.h"

#include <algorithm>
#include <filesystem>

#include "common/paths.h"

namespace fs = std::filesystem;

namespace astrelon {

namespace {

constexpr size_t MaxFilterEntries = 1000;
constexpr int32_t MaxSubfolderItems = 999;

struct TFolderEntry {
  std::string Name;
  fs::path Path;
  bool Folder = false;
};

// The entries of a folder sorted by name; none when it cannot be read.
std::vector<TFolderEntry> SortedEntries(const fs::path& folder) {
  std::vector<TFolderEntry> entries;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code type;
    const bool isFolder = it->is_directory(type);
    const bool isFile = !isFolder && it->is_regular_file(type);
    if (isFolder || isFile) entries.push_back({it->path().filename().string(), it->path(), isFolder});
  }
  std::sort(entries.begin(), entries.end(),
            [](const TFolderEntry& a, const TFolderEntry& b) { return a.Name < b.Name; });
  return entries;
}

std::string Extension(const std::string& name) { return UpperCase(ExtractFileExt(name)); }

TNetworkMenuEntry EntryOf(const TFolderEntry& e, int32_t tag) {
  return {ChangeFileExt(e.Name, ""), e.Path.string(), tag};
}

}  // namespace

TNetworkFolderListing ListNetworkFolder(const std::string& folder) {
  TNetworkFolderListing listing;
  if (folder.empty()) return listing;
  for (const TFolderEntry& e : SortedEntries(folder)) {
    if (listing.Filters.size() + listing.Subfolders.size() >= MaxFilterEntries) break;
    if (e.Folder) {
      if (e.Name.empty() || e.Name[0] == '.') continue;
      TNetworkSubfolder sub{e.Name, {}};
      const int32_t s = int32_t(listing.Subfolders.size()) + 1;
      for (const TFolderEntry& f : SortedEntries(e.Path)) {
        if (f.Folder || Extension(f.Name) != ".NNF") continue;
        if (int32_t(sub.Items.size()) >= MaxSubfolderItems) break;
        sub.Items.push_back(EntryOf(f, 1000 * s + int32_t(sub.Items.size()) + 1));
      }
      if (!sub.Items.empty()) listing.Subfolders.push_back(std::move(sub));
    } else if (Extension(e.Name) == ".NNF") {
      listing.Filters.push_back(EntryOf(e, int32_t(listing.Filters.size()) + 1));
    } else if (Extension(e.Name) == ".NNW") {
      listing.TwoTimes.push_back(EntryOf(e, int32_t(listing.TwoTimes.size()) + 1));
    }
  }
  return listing;
}

}  // namespace astrelon
