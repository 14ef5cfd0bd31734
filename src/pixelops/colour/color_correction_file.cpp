#include "pixelops/colour/color_correction_file.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "common/atomic_file.h"
#include "common/file_extension.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"

namespace astrelon {

namespace {

constexpr size_t MatrixValues = 9;
// Nine numbers need far less; anything larger is not such a file.
constexpr size_t MaxFileBytes = 64 * 1024;

}  // namespace

TColorCorrectionRead ReadColorCorrection(const std::string& fileName, TColorMatrix& matrix, std::string* message) {
  auto refuse = [&](const std::string& why) {
    if (message) *message = why + ": " + fileName;
    return TColorCorrectionRead::Refused;
  };
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::exists(fileName, ec)) return TColorCorrectionRead::Missing;
  const std::optional<std::string> text = ReadTextFile(fileName, MaxFileBytes);
  if (!text) return refuse("Die Datei kann nicht gelesen werden");
  const std::vector<std::string> lines = SplitLines(*text);
  if (lines.size() < MatrixValues) return refuse("Die Datei enthält keine 9 Werte");
  TColorMatrix read;
  for (size_t i = 0; i < MatrixValues; ++i) {
    const std::optional<double> v = TryStrToFloat32Dot(lines[i]);
    if (!v) return refuse("Die Datei enthält keine 9 Zahlen");
    read.Percent[i] = *v;
  }
  matrix = read;
  return TColorCorrectionRead::Read;
}

std::string ColorCorrectionText(const TColorMatrix& matrix) {
  std::string text;
  for (double v : matrix.Percent) text += FloatToStr(v) + "\n";
  return text;
}

std::string ColorCorrectionFileName(const std::string& fileName) { return ReplaceFileExt(fileName, ".qzf"); }

bool WriteColorCorrection(const std::string& fileName, const TColorMatrix& matrix, std::string* error) {
  return WriteFileAtomic(ColorCorrectionFileName(fileName), ColorCorrectionText(matrix), error);
}

}  // namespace astrelon
