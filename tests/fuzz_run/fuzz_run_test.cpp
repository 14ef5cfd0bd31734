// fuzz/run.sh on a build folder of stand-in targets: a target without a seed
// folder in the script, or whose seed folder is missing or empty, fails the
// run before anything is fuzzed; a target with seeds runs and passes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct TCase {
  const char* What;
  const char* Target;      // stand-in target's name, without "_fuzz"
  const char* SeedFolder;  // folder made under the seed root ("" none)
  bool SeedFile;           // one seed put into it
  int Status;
  const char* Says;
};

TEST(FuzzRun, EveryTargetNeedsSeeds) {
  const fs::path script = fs::path(ASTRELON_TEST_DATA).parent_path().parent_path() / "fuzz" / "run.sh";
  const TCase cases[] = {
      {"seed folder missing", "shift_list", "", false, 1, "seed folder"},
      {"seed folder empty", "shift_list", "shift_list", false, 1, "is empty or missing"},
      {"target unknown to the script", "no_such", "no_such", true, 1, "has no seeds in fuzz/run.sh"},
      {"target with a seed", "shift_list", "shift_list", true, 0, "fuzz: 1 passed, 0 failed"},
  };
  for (const TCase& c : cases) {
    astrelon::test::TempDir dir;
    const fs::path build = dir.path() / "build", seeds = dir.path() / "seeds";
    fs::create_directories(build);
    fs::create_directories(seeds);
    if (*c.SeedFolder) fs::create_directories(seeds / c.SeedFolder);
    if (c.SeedFile) astrelon::test::WriteText((seeds / c.SeedFolder / "one").string(), "x");
    const std::string target = (build / (std::string(c.Target) + "_fuzz")).string();
    astrelon::test::WriteText(target, "#!/bin/sh\necho 'stat::number_of_executed_units: 3'\n");
    ::chmod(target.c_str(), 0755);
    const std::string out = dir.file("out.txt");
    const int rc = std::system(("FUZZ_SEEDS=" + seeds.string() + " bash " + script.string() + " " + build.string() +
                                " 1 >" + out + " 2>&1")
                                   .c_str());
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, c.Status) << c.What << ":\n" << text.str();
    EXPECT_NE(text.str().find(c.Says), std::string::npos) << c.What << ":\n" << text.str();
  }
}

}  // namespace
