// Inputs kept from fuzzing (tests/data/fuzz): each goes through the reader its
// fuzz target drives and must be refused, or read soundly.
#include <filesystem>
#include <functional>
#include <span>

#include "common/engine_ui.h"
#include "core/funktion_defs.h"
#include "core/language.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/neural_tables.h"
#include "kernels/network/two_times_network_file.h"
#include "loader_fixture.h"
#include "store/header_cards.h"
#include "store/image_loader.h"
#include "store/pictures/exif_reader.h"
#include "store/pictures/jpeg_reader.h"

namespace astrelon::test {
namespace {

namespace fs = std::filesystem;

// The header cards of a slot are ASCII and fit in 80 characters.
void ExpectSoundCards(int slot) {
  for (const std::string& card : Store.Header[slot].ActiveCards()) {
    EXPECT_LE(card.size(), 80u);
    for (char c : card) EXPECT_TRUE(c >= 32 && c <= 126) << card;
  }
}

class FuzzFindings : public LoaderTest {
protected:
  // A picture file loads into a sound slot or leaves the slot free.
  void LoadPicture(const fs::path& input, const char* extension) {
    const std::string f = dir.file(std::string("input") + extension);
    fs::copy_file(input, f, fs::copy_options::overwrite_existing);
    if (!LoadImageFile(1, f)) {
      EXPECT_EQ(Store.InUse[1], 0);
      return;
    }
    const TImageSlot& im = Store.Image[1];
    EXPECT_EQ(im.PlaneCount, im.IsColor ? 3 : 1);
    for (int p = 1; p <= im.PlaneCount; ++p) EXPECT_EQ(im.Planes[p].size(), im.PixelCount());
    ExpectSoundCards(1);
  }

  void ReadExif(const fs::path& input) {
    const std::vector<unsigned char> bytes = ReadAll(input.string());
    TExif exif;
    exif.ReadFromBytes(std::span<const uint8_t>(bytes.data(), bytes.size()));
    MakeDefaultHeader(1);
    TDateTime when = UnknownDateTime;
    AppendExifCards(1, input.string(), when);
    ExpectSoundCards(1);
  }

  // What the program writes after reading a settings file reads back to the
  // same settings.
  void ReadSettings(const fs::path& input) {
    ResetSettings();
    ReadSettingsFile(input.string());
    const std::string first = SettingsFileText();
    ASSERT_TRUE(WriteSettingsFile(dir.file("written.ini")));
    ResetSettings();
    ASSERT_TRUE(ReadSettingsFile(dir.file("written.ini")));
    Settings.HistWidth += 56;  // written 56 less than it was read
    EXPECT_EQ(SettingsFileText(), first);
    ResetSettings();
    FunktionDefTable = DefaultFunktionDefTable();
  }

  void ReadTranslation(const fs::path& input) {
    ASSERT_TRUE(LoadLanguageFileFrom(input.string()));
    for (int section = 0; section <= 12; ++section)
      for (int n1 = 0; n1 <= 12; ++n1) EXPECT_LE(FoldToAsciiShort(LangText(LangKey(section, n1)), 80).size(), 80u);
    UnloadLanguageFile();
  }

  // The weight file readers refuse the file with one message and keep the
  // network, or read a network whose arrays fit its size and that evaluates.
  void ReadNetwork(const fs::path& input) {
    using TLoader = bool (*)(const std::string&, int32_t&, int32_t&, int32_t&);
    BuildTanhTable();
    for (const TLoader load :
         {TLoader(LoadNetworkFile), TLoader(LoadTwoTimesNetworkFile), TLoader(LoadEnlargementNetworkFile)}) {
      Network = TNetworkWeights{};
      Network.Size(3);
      EngineUi().Messages.clear();
      int32_t n = 0, current = 0, top = 0;
      if (!load(input.string(), n, current, top)) {
        EXPECT_EQ(EngineUi().Messages.size(), 1u);
        EXPECT_EQ(Network.Top, 3);
        continue;
      }
      EXPECT_TRUE(n >= 1 && n <= 1000 && current <= n);
      EXPECT_EQ(Network.W1.size(), size_t(Network.Stride) * size_t(Network.RowWidth));
      EXPECT_EQ(Network.Tables1.size(), size_t(n + 1) * NetworkTableSize);
      TNetworkPass pass;
      pass.X.fill(0.5f);
      for (const TNetworkPath path : {TNetworkPath::Plain, TNetworkPath::Avx2})
        ForwardNetwork(Network, pass, top, current, true, true, path);
    }
    Network = TNetworkWeights{};
  }
};

TEST_F(FuzzFindings, EveryKeptInputIsRefusedOrReadSoundly) {
  const std::pair<const char*, std::function<void(const fs::path&)>> readers[] = {
      {"bmp", [this](const fs::path& f) { LoadPicture(f, ".bmp"); }},
      {"pnm", [this](const fs::path& f) { LoadPicture(f, ".ppm"); }},
      {"exif", [this](const fs::path& f) { ReadExif(f); }},
      {"settings", [this](const fs::path& f) { ReadSettings(f); }},
      {"translation", [this](const fs::path& f) { ReadTranslation(f); }},
      {"network", [this](const fs::path& f) { ReadNetwork(f); }},
  };
  int inputs = 0;
  for (const auto& [kind, read] : readers) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(DataFile(std::string("fuzz/") + kind), ec)) {
      SCOPED_TRACE(entry.path().string());
      read(entry.path());
      Store.Reset();
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
}  // namespace astrelon::test
