// The settings dialog's rules: control Tags to option bytes, typed values and
// the radio groups.
#include <string>

#include "core/settings.h"
#include "core/settings_file.h"
#include "shell/main/settings_dialog_rules.h"
#include "store/planes/interpolation_kernels.h"
#include "test_support.h"

namespace astrelon {
namespace {

class SettingsRulesTest : public ::testing::Test {
protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override {
    ResetSettings();
    SetToolMode(2);
  }
};

TEST_F(SettingsRulesTest, TagsAddressTheNamedOptionBytes) {
  TProgramOptions o;
  const struct {
    int tag, index;
    uint8_t* field;
  } table[] = {{0, 0, &o.Preview},         {5, 5, &o.YuvLoad},       {10, 8, &o.FitsFormatItem},
               {11, 9, &o.FitsExtFts},     {13, 11, &o.TiffScale},   {20, 16, &o.OpInterpolation},
               {31, 25, &o.GammaAdjust},   {42, 34, &o.ArrowKeys},   {53, 43, &o.MemoryBar},
               {54, 44, &o.ToolbarTint}};
  for (const auto& t : table) {
    EXPECT_EQ(OptionByteIndex(t.tag), t.index) << t.tag;
    EXPECT_EQ(&OptionByte(o, t.index), t.field) << t.tag;
  }
  EXPECT_THROW(OptionByte(o, 48), std::out_of_range);
}

TEST_F(SettingsRulesTest, TypedValuesAreClampedAndNonNumbersKeepTheValue) {
  const struct {
    TSettingsEdit edit;
    const char* text;
    double expected;
  } cases[] = {
      {TSettingsEdit::JpegQuality, "150", 100},   {TSettingsEdit::JpegQuality, " 0 ", 1},
      {TSettingsEdit::JpegQuality, "abc", 1},     {TSettingsEdit::PngCompression, "12", 9},
      {TSettingsEdit::HistoLow, "60", 50},        {TSettingsEdit::HistoLow, "0,5", 0.5},
      {TSettingsEdit::HistoHigh, "40", 51},       {TSettingsEdit::HistoHigh, "nan", 51},
      {TSettingsEdit::HotPixelSigma, "0,5", 1},   {TSettingsEdit::HotPixelSigma, "19.5", 19},
      {TSettingsEdit::FftSigma, "0.01", 0.1},     {TSettingsEdit::FftMargin, "1e12", 8},
      {TSettingsEdit::NetworkInit, "-3", 0},      {TSettingsEdit::FftMargin, "120", 99},
  };
  for (const auto& c : cases) {
    ApplySettingsEditText(c.edit, c.text);
    EXPECT_EQ(std::stod(SettingsEditText(c.edit)), c.expected) << c.text;
  }
  EXPECT_EQ(Settings.JpegQuality, 1);
  EXPECT_EQ(Settings.HistoLowPercent, 0.5);
  EXPECT_EQ(SettingsEditText(TSettingsEdit::FftSigma), "0.1");
}

TEST_F(SettingsRulesTest, RadioGroupsSetFormatExtensionAndInterpolation) {
  ApplySettingsRadio(InterpolationTag, 3);  // "Lanczos3"
  EXPECT_EQ(Settings.InterpolationKind, 4);
  EXPECT_EQ(Options.OpInterpolation, 3);
  EXPECT_EQ(KernelWindow.Lo, -2);
  EXPECT_EQ(KernelWindow.Hi, 3);
  EXPECT_EQ(SettingsRadioItem(InterpolationTag), 3);
  Settings.InterpolationKind = 3;  // "dSinc", only from a hand-edited file
  EXPECT_EQ(SettingsRadioItem(InterpolationTag), -1);

  constexpr int32_t formats[] = {-32, 32, 16};
  for (int item : {0, 1, 2}) {
    ApplySettingsRadio(FitsFormatTag, item);
    EXPECT_EQ(Settings.FitsSaveFormat, formats[item]);
    EXPECT_EQ(Options.FitsFormatItem, item);
    EXPECT_EQ(SettingsRadioItem(FitsFormatTag), item);
  }
  Settings.FitsSaveFormat = 8;
  EXPECT_EQ(SettingsRadioItem(FitsFormatTag), 2);
  ApplySettingsRadio(FitsExtensionTag, 1);
  EXPECT_EQ(Settings.FitsExtension, ".fts");
  EXPECT_EQ(Options.FitsExtFts, 1);
  EXPECT_NE(SettingsFileText().find("Fits Dateiendung: .fts\n"), std::string::npos);
  ApplySettingsRadio(FitsExtensionTag, 0);
  EXPECT_EQ(Settings.FitsExtension, ".fit");
}

}  // namespace
}  // namespace astrelon
