#include "loader_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "store/header_cards.h"

namespace astrelon::test {

void LoaderTest::SetUp() {
  StoreTest::SetUp();
  SetEngineUi(&ui);
}

void LoaderTest::TearDown() {
  SetEngineUi(nullptr);
  StoreTest::TearDown();
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool HaveTool(const std::string& name) { return Shell("command -v " + name); }

std::string PnmBytes(bool colour, int width, int height, int maxval, const std::vector<int>& samples) {
  std::string s = std::string(colour ? "P6" : "P5") + "\n" + std::to_string(width) + " " + std::to_string(height) +
                  "\n" + std::to_string(maxval) + "\n";
  for (int v : samples) {
    if (maxval > 255) s += char(v >> 8);
    s += char(v & 255);
  }
  return s;
}

TPnm ReadPnm(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  TPnm p;
  f >> magic >> p.Width >> p.Height >> maxval;
  f.get();
  p.Channels = magic == "P6" ? 3 : 1;
  p.Samples.resize(size_t(std::max(p.Width, 0)) * size_t(std::max(p.Height, 0)) * size_t(p.Channels));
  f.read(reinterpret_cast<char*>(p.Samples.data()), std::streamsize(p.Samples.size()));
  return p;
}

float Px(int slot, int p, int x, int y) { return Store.Image[slot].At(p, x, y); }

std::string Card(int slot, const std::string& key) {
  const int i = FindHeaderKeyword(slot, key);
  return i < 0 ? std::string() : PadCard(Store.Header[slot][size_t(i)]);
}

}  // namespace astrelon::test
