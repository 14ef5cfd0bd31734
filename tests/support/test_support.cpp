#include "test_support.h"

#include <algorithm>
#include <bit>
#include <cstdint>
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

std::vector<float> ReadFloats(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadAll(path);
  std::vector<float> v(bytes.size() / 4);
  for (size_t i = 0; i < v.size(); ++i) {
    uint32_t u = 0;
    for (int b = 3; b >= 0; --b) u = u << 8 | bytes[i * 4 + size_t(b)];
    v[i] = std::bit_cast<float>(u);
  }
  return v;
}

std::vector<uint32_t> FloatBits(std::span<const float> values) {
  std::vector<uint32_t> b(values.size());
  std::transform(values.begin(), values.end(), b.begin(), [](float x) { return std::bit_cast<uint32_t>(x); });
  return b;
}

void WriteFloats(const std::string& path, const std::vector<float>& values) {
  std::vector<unsigned char> bytes;
  for (float f : values) {
    const auto u = std::bit_cast<uint32_t>(f);
    for (int b = 0; b < 4; ++b) bytes.push_back(uint8_t(u >> (8 * b)));
  }
  WriteAll(path, bytes);
}

bool RunPython(const std::string& script) {
  TempDir dir;
  const std::string file = dir.file("script.py");
  WriteText(file, script);
  const std::string cmd = "/usr/bin/python3 " + file + " >" + dir.file("out.txt") + " 2>&1";
  const int rc = std::system(cmd.c_str());
  if (rc != 0) {
    std::ifstream out(dir.file("out.txt"));
    std::string line;
    while (std::getline(out, line)) ADD_FAILURE() << "python: " << line;
  }
  return rc == 0;
}

bool HavePythonModule(const std::string& module) {
  return std::system(("/usr/bin/python3 -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
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

std::string HistoryText(int slot, const std::string& separator) {
  std::string text;
  for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
    if (card.rfind("HISTORY ", 0) == 0)
      text += (text.empty() ? "" : separator) + card.substr(8, card.find_last_not_of(' ') - 7);
  return text;
}

std::vector<std::string> TranslationLines(const std::map<int, std::vector<std::string>>& entries, int lastSection) {
  std::vector<std::string> lines;
  for (int s = 1; s <= lastSection; ++s) {
    lines.push_back("[" + std::to_string(s) + "_section");
    if (const auto it = entries.find(s); it != entries.end()) lines.insert(lines.end(), it->second.begin(), it->second.end());
  }
  return lines;
}

std::vector<float> PlaneValues(int slot, int p) {
  const auto& v = Store.Image[size_t(slot)].Planes[size_t(p)];
  return {v.begin(), v.end()};
}

void StoreTest::SetUp() { Store.Reset(); }
void StoreTest::TearDown() { Store.Reset(); }

}  // namespace astrelon::test
