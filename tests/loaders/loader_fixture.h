#pragma once
// Shared helpers of the loader tests: a store fixture that collects the engine's
// messages, external tools (ImageMagick, FFmpeg) and small picture files.
#include <cstdint>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

// Collects messages and answers questions with a chosen button.
class TRecordingUi : public TEngineUi {
public:
  int Questions = 0;
  TDialogAnswer AskYesNoCancel(const std::string& text, bool allowCancel) override {
    ++Questions;
    Messages.push_back(text);
    return DefaultAnswer;
  }
};

class LoaderTest : public StoreTest {
protected:
  void SetUp() override;
  void TearDown() override;
  TRecordingUi ui;
  TempDir dir;
};

// Runs a shell command quietly; true on exit code 0.
bool Shell(const std::string& command);
bool HaveTool(const std::string& name);

// A binary PPM (P6) or PGM (P5) with the header on three lines.
std::string PnmBytes(bool colour, int width, int height, int maxval, const std::vector<int>& samples);

// Samples of a P5/P6 file with one-byte samples (header without comments).
struct TPnm {
  int Width = 0, Height = 0, Channels = 0;
  std::vector<unsigned char> Samples;
};
TPnm ReadPnm(const std::string& path);

// Pixel (x, y) of plane p of a slot.
float Px(int slot, int p, int x, int y);

// A card of the slot's header that starts with key, padded to 80; "" when none.
std::string Card(int slot, const std::string& key);

}  // namespace astrelon::test
