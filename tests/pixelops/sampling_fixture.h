#pragma once
// Images in slots and the Python oracles of the sampling and resampling tests.
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "store/image_store.h"
#include "store/planes/interpolation_kernels.h"
#include "test_support.h"

namespace astrelon::test {

// Keeps the program-wide kind and the options of a test.
class SamplingTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    savedKind_ = Settings.InterpolationKind;
    savedOptions_ = Options;
  }
  void TearDown() override {
    SetToolMode(savedKind_);
    Options = savedOptions_;
    StoreTest::TearDown();
  }

  // A w x h image of `planes` planes with the values f(x, y, plane).
  static void MakeImage(int slot, int w, int h, const std::function<float(int, int, int)>& f, int planes = 1) {
    std::vector<std::vector<float>> values(static_cast<size_t>(planes));
    for (int p = 1; p <= planes; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) values[size_t(p - 1)].push_back(f(x, y, p));
    test::MakeImage(slot, w, h, values);
  }

  int savedKind_ = 2;
  TProgramOptions savedOptions_;
};

inline void WriteFloats(const std::string& path, const std::vector<float>& v) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()), std::streamsize(v.size() * 4));
}
inline std::vector<float> ReadFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<float> v(size_t(in.tellg()) / 4);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(v.data()), std::streamsize(v.size() * 4));
  return v;
}

// Runs a Python script with arguments; true when it ends with status 0.
inline bool RunPython(const TempDir& dir, const std::string& script, const std::string& args) {
  const std::string file = dir.file("oracle.py");
  WriteText(file, script);
  return std::system(("/usr/bin/python3 " + file + " " + args).c_str()) == 0;
}

}  // namespace astrelon::test
