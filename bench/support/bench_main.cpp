// The benchmark programs' start: Google Benchmark's usual options, and
// "--figures", which prints each benchmark family with the figures it declares
// (one line: the family, then its peers) and runs nothing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string_view>

#include "figures.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--figures") {
    for (const auto& [family, peers] : astrelon::bench::DeclaredFigures()) {
      std::printf("%s", family.c_str());
      for (const auto& p : peers) std::printf(" %s", p.c_str());
      std::printf("\n");
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
