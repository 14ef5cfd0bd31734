#pragma once
// The recent-file list: Settings.RecentFiles entries 1..8, entry 1 newest.
#include <string>

namespace astrelon {

// Puts a file name at entry 1. A name without a folder gets the folder of the
// open dialog's current file name. A name already in the list moves up to entry 1
// (names compare exactly: file names are case-sensitive); a new one pushes the
// others down and entry 8 drops. Empty names are ignored.
void AddRecentFile(const std::string& fileName);
// Removes entry k (1..8); the entries after it move up, entry 8 becomes empty.
void RemoveRecentFile(int k);

// Called after every change of the list (the user interface rebuilds its menu).
extern void (*RecentFilesChangedHook)();

}  // namespace astrelon
