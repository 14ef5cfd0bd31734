#include "shell/main/recent_files.h"

#include "core/settings.h"

namespace astrelon {

void (*RecentFilesChangedHook)() = nullptr;

namespace {

void Changed() {
  if (RecentFilesChangedHook) RecentFilesChangedHook();
}

std::string FolderOf(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

}  // namespace

void AddRecentFile(const std::string& fileName) {
  if (fileName.empty()) return;
  std::string name = fileName;
  if (name.find('/') == std::string::npos) name = FolderOf(Settings.OpenDialogFileName) + name;
  auto& list = Settings.RecentFiles;
  int found = 0;
  for (int k = 1; k <= RecentFileCount; ++k)
    if (list[size_t(k)] == name) {
      found = k;
      break;
    }
  if (found != 1) {
    // Entries 1..found-1 (all but the last when the name is new) move down one place.
    const int last = found > 0 ? found : RecentFileCount;
    for (int k = last; k >= 2; --k) list[size_t(k)] = list[size_t(k - 1)];
    list[1] = name;
  }
  Changed();
}

void RemoveRecentFile(int k) {
  if (k < 1 || k > RecentFileCount) return;
  auto& list = Settings.RecentFiles;
  for (int i = k; i < RecentFileCount; ++i) list[size_t(i)] = list[size_t(i + 1)];
  list[RecentFileCount] = "";
  Changed();
}

}  // namespace astrelon
