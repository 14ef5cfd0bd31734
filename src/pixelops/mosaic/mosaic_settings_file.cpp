#include "pixelops/mosaic/mosaic_settings_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "common/text_excerpt.h"

namespace astrelon {

namespace {

const char* YesNo(bool on) { return on ? "Ja" : "Nein"; }

// Reads the lines in order; past the end every line reads as empty.
class TLineReader {
public:
  explicit TLineReader(const std::vector<std::string>& lines) : lines_(lines) {}
  bool AtEnd() const { return next_ >= lines_.size(); }
  size_t LineNumber() const { return next_ + 1; }
  std::string Next() { return next_ < lines_.size() ? lines_[next_++] : (++next_, std::string()); }

private:
  const std::vector<std::string>& lines_;
  size_t next_ = 0;
};

// The integer of the reader's next line within lo..hi; nullopt with a message in `error`.
std::optional<int32_t> IntegerLine(TLineReader& in, int64_t lo, int64_t hi, const char* what, std::string& error) {
  const size_t number = in.LineNumber();
  const std::string text = in.Next();
  const std::optional<int64_t> v = TryStrToInt(text);
  if (!v) {
    error = "Zeile " + IntToStr(int64_t(number)) + ": '" + MessageExcerpt(text) + "' ist kein gültiger Integerwert";
    return std::nullopt;
  }
  if (*v < lo || *v > hi) {
    error = "Zeile " + IntToStr(int64_t(number)) + ": " + IntToStr(*v) + " ist keine gültige " + what;
    return std::nullopt;
  }
  return int32_t(*v);
}

}  // namespace

std::optional<TMosaicSettings> ParseMosaicSettings(const std::vector<std::string>& lines,
                                                   const TMosaicSettings& current, std::string& error) {
  TLineReader in(lines);
  TMosaicSettings s;  // the defaults of a file that ends early
  s.Method = DmLinear;
  s.CameraProfile = false;
  s.NetworkFile = current.NetworkFile;
  s.Cells = current.Cells;
  for (size_t i = 0; i < 4; ++i) {
    const auto cell = IntegerLine(in, -1, MosaicColorCount - 1, "Farbe", error);
    if (!cell) return std::nullopt;
    s.Cells[i] = *cell;
  }
  s.FourRows = in.Next() == "Ja";
  if (s.FourRows)
    for (size_t i = 4; i < 8; ++i) {
      const auto cell = IntegerLine(in, -1, MosaicColorCount - 1, "Farbe", error);
      if (!cell) return std::nullopt;
      s.Cells[i] = *cell;
    }
  if (in.AtEnd()) return s;
  const auto method = IntegerLine(in, -1, INT32_MAX, "Methode", error);
  if (!method) return std::nullopt;
  s.Method = std::min(*method, DemosaicMethodCount - 1);
  // Each later value only while the file goes on.
  const auto flag = [&](bool& field) {
    if (!in.AtEnd()) field = in.Next() == "Ja";
  };
  const auto text = [&](std::string& field) {
    if (!in.AtEnd()) field = in.Next();
  };
  flag(s.PixFilter);
  for (std::string* field : {&s.Rmul, &s.Bmul, &s.Bias, &s.RedRatio, &s.BlueRatio, &s.G1mul, &s.NetworkFile})
    text(*field);
  flag(s.Highlights);
  flag(s.CameraProfile);
  return s;
}

bool ReadMosaicSettings(const std::string& fileName) {
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::is_regular_file(fileName, ec)) return false;
  std::string error;
  std::optional<TMosaicSettings> s;
  if (std::filesystem::file_size(fileName, ec) > MaxMosaicSettingsBytes || ec) {
    error = "Die Datei ist zu groß für Farb-CCD Einstellungen.";
  } else {
    const std::optional<std::string> text = ReadTextFile(fileName, MaxMosaicSettingsBytes);
    if (!text) return false;
    s = ParseMosaicSettings(SplitLines(*text), MosaicSettings, error);
  }
  if (!s) {
    EngineUi().ShowMessage(fileName + "\n" + error);
    return false;
  }
  MosaicSettings = *s;
  NotifyMosaicSettingsChanged();
  return true;
}

std::string MosaicSettingsText(const TMosaicSettings& s) {
  std::string out;
  const auto line = [&](const std::string& v) { out += v + "\r\n"; };
  for (size_t i = 0; i < 4; ++i) line(IntToStr(s.Cells[i]));
  line(YesNo(s.FourRows));
  if (s.FourRows)
    for (size_t i = 4; i < 8; ++i) line(IntToStr(s.Cells[i]));
  line(IntToStr(s.Method));
  line(YesNo(s.PixFilter));
  for (const std::string* field : {&s.Rmul, &s.Bmul, &s.Bias, &s.RedRatio, &s.BlueRatio, &s.G1mul, &s.NetworkFile})
    line(*field);
  line(YesNo(s.Highlights));
  line(YesNo(s.CameraProfile));
  return out;
}

std::string MosaicSettingsFileName(std::string_view fileName) { return ReplaceFileExt(std::string(fileName), ".qcm"); }

bool WriteMosaicSettings(const std::string& fileName, const TMosaicSettings& s, std::string* error) {
  return WriteFileAtomic(MosaicSettingsFileName(fileName), MosaicSettingsText(s), error);
}

}  // namespace astrelon
