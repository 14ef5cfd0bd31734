// The engine folders form layers, each including only its own and lower layers:
// common, core, platform, store, shell, kernels, the processing subsystems
// (pixelops, registration, filters, frequency), batch, app. The processing
// subsystems share a layer as equals that do not include each other: what
// several of them need is a kernel. The ui/ folders (and the program's main)
// sit above all of them, may include any engine folder and are the only places
// with Qt.
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
constexpr int ProcessingLayer = 6;

const std::map<std::string, int> EngineLayers = {
    {"common", 0},   {"core", 1},         {"platform", 2}, {"store", 3},     {"shell", 4}, {"kernels", 5},
    {"pixelops", 6}, {"registration", 6}, {"filters", 6},  {"frequency", 6}, {"batch", 7}, {"app", 8},
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

// Why `from` may not include `to` (both below src/), or "" when it may: a file
// includes only its own and lower layers, and a processing subsystem none of the
// others.
std::string IncludeFault(const fs::path& from, const fs::path& to) {
  const int layer = LayerOf(from), target = LayerOf(to);
  if (target > layer) return "from a higher layer";
  if (layer == ProcessingLayer && target == ProcessingLayer && *from.begin() != *to.begin())
    return "from another processing subsystem";
  return "";
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
      if (const std::string fault = IncludeFault(relative, inc.Text); !fault.empty())
        found.push_back(where + "includes \"" + inc.Text + "\" " + fault);
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
  EXPECT_EQ(LayerOf("app/startup.cpp"), 8);
  EXPECT_EQ(LayerOf("shell/ui.h"), 4);  // a file named ui is no ui folder
  EXPECT_EQ(LayerOf("kernels/fft/fft_plan.cpp"), 5);
  EXPECT_EQ(LayerOf("frequency/filter/frequency_filter.cpp"), ProcessingLayer);
  EXPECT_EQ(LayerOf("unknown/file.h"), -1);

  struct Case {
    const char* From;
    const char* To;
    bool Allowed;
  };
  const Case cases[] = {
      {"pixelops/mosaic/mosaic_vng.cpp", "kernels/mosaic/mosaic_kernels.h", true},
      {"kernels/sampling/shift_image.cpp", "kernels/regions/rect_runs.h", true},
      {"kernels/sampling/shift_image.cpp", "shell/slots/slot_utilities.h", true},
      {"kernels/gauss/filter_poll.cpp", "filters/dialog/filter_state.h", false},
      {"shell/stars/star_pick.cpp", "kernels/alignment/stars/find_star_centroid.h", false},
      {"pixelops/colour/colour_layer_alignment.cpp", "pixelops/mosaic/mosaic_passes.h", true},
      {"pixelops/colour/colour_layer_alignment.cpp", "registration/stacking/stack_alignment.h", false},
      {"registration/calibration/flat_division.cpp", "filters/noise/nlm_filter.h", false},
      {"frequency/filter/frequency_filter.cpp", "batch/batch_run.h", false},
      {"batch/batch_run.cpp", "frequency/filter/frequency_filter.h", true},
      {"pixelops/ui/pixels/image_tool_commands.cpp", "frequency/interference/periodic_noise_filter.h", true},
      {"filters/ui/filter_dialog.cpp", "pixelops/ui/operation_frame.h", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IncludeFault(c.From, c.To).empty(), c.Allowed) << c.From << " -> " << c.To;
}
