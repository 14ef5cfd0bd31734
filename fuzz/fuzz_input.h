#pragma once
// Shared by the fuzz targets: each input is written to a file in TMPDIR (one
// name per process and target) for the readers that take a file name, and a
// failed check ends the run so that libFuzzer keeps the input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/engine_ui.h"
#include "store/image_store.h"

namespace astrelon::fuzz {

inline std::string TempName(const char* what) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/astrelon-fuzz-" + std::to_string(getpid()) + what;
}

// The readers' messages are collected and dropped instead of shown.
inline void QuietMessages() {
  static TEngineUi quiet;
  SetEngineUi(&quiet);
  quiet.Messages.clear();
}

// Writes the input to `path`; false when the file cannot be written.
inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// A broken promise of the code under test.
inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

// A slot a reader filled: in use, with planes of Width x Height for its plane
// count, one plane for grey and three for colour.
inline void CheckLoadedSlot(int slot) {
  const TImageSlot& im = Store.Image[slot];
  Check(Store.InUse[slot] != 0, "slot in use");
  Check(im.Width >= 1 && im.Height >= 1, "size");
  Check(im.PlaneCount == (im.IsColor ? 3 : 1), "plane count");
  for (int p = 1; p <= im.PlaneCount; ++p) Check(im.Planes[p].size() == im.PixelCount(), "plane size");
}

// Every card of a slot's header is ASCII and fits in 80 characters.
inline void CheckHeaderCards(int slot) {
  for (const std::string& card : Store.Header[slot].ActiveCards()) {
    Check(card.size() <= 80, "card length");
    for (char c : card) Check(c >= 32 && c <= 126, "card character");
  }
}

}  // namespace astrelon::fuzz
