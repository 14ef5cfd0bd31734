#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <random>

#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::test {

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    auto p = std::filesystem::temp_directory_path() / ("astrelon-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(p)) {
      path_ = p;
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string DataFile(const std::string& name) { return std::string(ASTRELON_TEST_DATA) + "/" + name; }

std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, std::span<const unsigned char> bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

ConfigHome::ConfigHome() {
  if (const char* v = std::getenv("XDG_CONFIG_HOME")) {
    old_ = v;
    hadOld_ = true;
  }
  setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
}

ConfigHome::~ConfigHome() {
  if (hadOld_)
    setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

void MakeImage(int slot, int w, int h, const std::vector<std::vector<float>>& planes, const std::string& name) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = int(planes.size());
  im.IsColor = planes.size() == 3;
  for (size_t p = 0; p < planes.size(); ++p) im.Planes[p + 1].assign(planes[p].begin(), planes[p].end());
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = name;
  MakeDefaultHeader(slot);
}

void StoreTest::SetUp() { Store.Reset(); }
void StoreTest::TearDown() { Store.Reset(); }

}  // namespace astrelon::test
