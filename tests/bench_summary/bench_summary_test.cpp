// The benchmark summary (scripts/bench_summary.py) on folders of program
// outputs: it must fail on a program that could not start, on a run whose
// result was not checked and on a folder without any figure, and pass a
// checked figure within its goal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// The summary's exit status and output on the folder.
std::pair<int, std::string> Summary(const astrelon::test::TempDir& dir) {
  const fs::path script = fs::path(ASTRELON_TEST_DATA).parent_path().parent_path() / "scripts" / "bench_summary.py";
  const std::string out = dir.file("summary.txt");
  const int rc = std::system(
      ("/usr/bin/python3 " + script.string() + " --runs 1 " + dir.path().string() + " >" + out + " 2>&1").c_str());
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, text.str()};
}

// One iteration entry of Google Benchmark's JSON output with the counters given.
std::string Json(const std::string& counters) {
  return R"({"benchmarks": [{"name": "BM_X/1", "run_name": "BM_X/1", "run_type": "iteration", )" + counters + "}]}";
}

struct TCase {
  const char* What;
  std::vector<std::pair<std::string, std::string>> Files;  // name, text
  int Status;
  const char* Says;
};

TEST(BenchSummary, FailsUnlessEveryFigureIsMetAndChecked) {
  const std::string figure = R"("ms": 2, "plain_ratio": 0.5, "plain_ms": 4, "plain_ratio_goal": 1)";
  const std::vector<TCase> cases = {
      {"no figures at all", {}, 1, "no benchmark figures"},
      {"a program that cannot start",
       {{"bench_a.error", "error while loading shared libraries: libfoo.so"}},
       1,
       "CANNOT START (missed): error while loading shared libraries"},
      {"a result not checked",
       {{"bench_a.list", "BM_X/1\n"}, {"bench_a.figures", "BM_X plain\n"}, {"bench_a.json", Json(figure)}},
       1,
       "NOT CHECKED (1 of 1 runs; missed)"},
      {"a wrong result",
       {{"bench_a.list", "BM_X/1\n"},
        {"bench_a.figures", "BM_X plain\n"},
        {"bench_a.json", Json(R"("error_occurred": true, "error_message": "fingerprint differs")")}},
       1,
       "NO FIGURE (0 of 1 runs): fingerprint differs"},
      {"a checked figure within its goal",
       {{"bench_a.list", "BM_X/1\n"},
        {"bench_a.figures", "BM_X plain\n"},
        {"bench_a.json", Json(figure + R"(, "checked": 1)")}},
       0,
       "met (1/1 runs)"},
  };
  for (const TCase& c : cases) {
    astrelon::test::TempDir dir;
    for (const auto& [name, text] : c.Files) astrelon::test::WriteText(dir.file(name), text);
    const auto [status, output] = Summary(dir);
    EXPECT_EQ(status, c.Status) << c.What << ":\n" << output;
    EXPECT_NE(output.find(c.Says), std::string::npos) << c.What << ":\n" << output;
  }
}

}  // namespace
