#pragma once
// Helpers shared by the tests: a temporary folder, float comparison and test data.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/engine_ui.h"

namespace astrelon::test {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

// Path of a file in tests/data.
std::string DataFile(const std::string& name);

std::vector<unsigned char> ReadAll(const std::string& path);
void WriteAll(const std::string& path, std::span<const unsigned char> bytes);
void WriteText(const std::string& path, const std::string& text);

// A file of little-endian float32 values.
std::vector<float> ReadFloats(const std::string& path);
void WriteFloats(const std::string& path, const std::vector<float>& values);

// Runs a Python script with /usr/bin/python3; true when it exits with 0 (its
// output is reported as test failures otherwise).
bool RunPython(const std::string& script);
// Whether /usr/bin/python3 can import the module.
bool HavePythonModule(const std::string& module);

// Points XDG_CONFIG_HOME at a temporary folder for the life of the object.
class ConfigHome {
public:
  ConfigHome();
  ~ConfigHome();
  const std::filesystem::path& path() const { return dir_.path(); }

private:
  TempDir dir_;
  std::string old_;
  bool hadOld_ = false;
};

// Fills a slot with a w x h image whose pixels are given row by row per plane
// (three planes make a colour image), a file name and a default header.
void MakeImage(int slot, int w, int h, const std::vector<std::vector<float>>& planes,
               const std::string& name = "/data/img.fit");

// An engine interface that runs a hook (with the number of calls so far) whenever
// the engine lets pending events run; messages are collected as by the default.
class HookUi : public TEngineUi {
public:
  void ProcessMessages() override {
    ++Calls;
    if (Hook) Hook(Calls);
  }
  int Calls = 0;
  std::function<void(int calls)> Hook;
};

// The lines of a translation file holding sections 1 to `lastSection` in order,
// each followed by its entries ("[1.9]Text") from `entries` (keyed by section).
std::vector<std::string> TranslationLines(const std::map<int, std::vector<std::string>>& entries, int lastSection);

// The texts of the slot's "HISTORY " cards (without the keyword and trailing
// blanks), joined with the separator.
std::string HistoryText(int slot, const std::string& separator = "|");
// The values of plane p of a slot.
std::vector<float> PlaneValues(int slot, int p);
// The bit patterns of floats, for comparing results to the last bit.
std::vector<uint32_t> FloatBits(std::span<const float> values);

// Frees every slot of the image store before and after a test.
class StoreTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace astrelon::test

// Float comparison with an absolute tolerance, for results of float arithmetic.
#define EXPECT_CLOSE(a, b, tol) EXPECT_NEAR((a), (b), (tol))
