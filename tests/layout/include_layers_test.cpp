// The engine folders form layers, each including only its own and lower layers:
// common, core, platform, store, shell, the processing subsystems (pixelops,
// registration, filters, frequency, one layer), batch, app. The ui/ folders (and
// the program's main) sit above all of them and are the only places with Qt.
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const fs::path SourceDir = ASTRELON_SOURCE_DIR;
constexpr int UiLayer = 100;

const std::map<std::string, int> EngineLayers = {
    {"common", 0},   {"core", 1},         {"platform", 2}, {"store", 3},     {"shell", 4},
    {"pixelops", 5}, {"registration", 5}, {"filters", 5},  {"frequency", 5}, {"batch", 6},
    {"app", 7},
};

bool InUiFolder(const fs::path& relative) {
  if (relative == "app/main.cpp") return true;
  for (auto it = relative.begin(); it != relative.end(); ++it)
    if (std::next(it) != relative.end() && *it == "ui") return true;
  return false;
}

// The layer of a file below src/; -1 for a folder the table does not know.
int LayerOf(const fs::path& relative) {
  if (InUiFolder(relative)) return UiLayer;
  const auto found = EngineLayers.find(relative.begin()->string());
  return found == EngineLayers.end() ? -1 : found->second;
}

struct TInclude {
  std::string Text;
  bool Angled = false;
  int Line = 0;
};

std::vector<TInclude> IncludesOf(const fs::path& file) {
  static const std::regex pattern(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::vector<TInclude> result;
  std::ifstream in(file);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    std::smatch m;
    if (std::regex_search(line, m, pattern)) result.push_back({m[2].str(), m[1].str() == "<", n});
  }
  return result;
}

// Every violation as "file:line: what", for the failure message.
std::vector<std::string> LayerViolations() {
  static const std::regex qtHeader(R"(^Q[A-Za-z0-9]+(/.*)?$)");
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(SourceDir)) {
    const auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
    const fs::path relative = fs::relative(entry.path(), SourceDir);
    const int layer = LayerOf(relative);
    if (layer < 0) {
      found.push_back(relative.string() + ": folder has no layer");
      continue;
    }
    for (const TInclude& inc : IncludesOf(entry.path())) {
      const std::string where = relative.string() + ":" + std::to_string(inc.Line) + ": ";
      if (inc.Angled) {
        if (layer != UiLayer && std::regex_match(inc.Text, qtHeader))
          found.push_back(where + "Qt header <" + inc.Text + "> outside a ui/ folder");
        continue;
      }
      if (!fs::exists(SourceDir / inc.Text)) continue;  // a file beside it, not a program header
      const int target = LayerOf(inc.Text);
      if (target > layer)
        found.push_back(where + "includes \"" + inc.Text + "\" from a higher layer");
    }
  }
  return found;
}

}  // namespace

TEST(IncludeLayers, NoIncludeClimbsAndQtStaysInUiFolders) {
  const std::vector<std::string> violations = LayerViolations();
  std::string message;
  for (const std::string& v : violations) message += v + "\n";
  EXPECT_TRUE(violations.empty()) << message;
}

TEST(IncludeLayers, TheFolderRulesAsExamples) {
  EXPECT_EQ(LayerOf("store/fits/fits_reader.cpp"), 3);
  EXPECT_EQ(LayerOf("store/ui/save_dialog.cpp"), UiLayer);
  EXPECT_EQ(LayerOf("app/main.cpp"), UiLayer);
  EXPECT_EQ(LayerOf("app/startup.cpp"), 7);
  EXPECT_EQ(LayerOf("shell/ui.h"), 4);  // a file named ui is no ui folder
  EXPECT_EQ(LayerOf("unknown/file.h"), -1);
}
