#pragma once
// The folder of a benchmark's files: in /dev/shm where it exists (so that the
// files are read from memory), one of its own for each process (two runs at
// once never touch each other's files), removed when the program ends.
#include <unistd.h>

#include <filesystem>
#include <string>

namespace astrelon::bench {

class TBenchFolder {
public:
  explicit TBenchFolder(const std::string& name) {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    Path = (base / ("astrelon-bench-" + name + "-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(Path);
  }
  ~TBenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  TBenchFolder(const TBenchFolder&) = delete;
  TBenchFolder& operator=(const TBenchFolder&) = delete;
  std::string Path;
};

}  // namespace astrelon::bench
