#pragma once
// The resize settings as the resize dialog shows them, their ".qzg" files and
// the resampling arguments they stand for (the batch uses the same routines).
//
// A ".qzg" file has one value per line: "V4 G" (factors) or "V4 P" (pixel
// counts) directly followed by the horizontal entry; the vertical entry; the
// interpolation kind; "AMF" or "noAMF"; "BOX" or "noBOX".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace astrelon {

struct TResizeSettings {
  bool PixelTab = false;   // entries are pixel counts ("Pixelanzahl"), else factors ("Faktor")
  std::string Horizontal = "1.0";
  std::string Vertical = "1.0";
  int32_t Kind = 2;        // interpolation kind, the dialog's item index
  bool AntiMoire = true;   // "Anti Moiré"
  bool Box = false;        // "Kasten Funktion (verkleinern)"
};

// Applies the first lines of a ".qzg" file to the settings: line 1 chooses the
// tab when it is longer than 3 characters and starts with "V" (fourth character
// "G": factors, else pixel counts) and, without its first four characters, is
// the horizontal entry (any other line 1 selects factors and is taken whole);
// line 2 is the vertical entry. Only when the file goes on: line 3 sets the kind
// and line 4 the anti-moiré switch ("AMF"); a line 3 that is not an integer
// changes neither and leaves line 4 to be read as line 5 (one in 0..4 only sets
// the kind). Only when the file still goes on, the next line sets the box switch
// ("BOX"); a file that has ended clears it.
void ApplyResizeLines(const std::vector<std::string>& lines, TResizeSettings& s);
// Reads the first five lines of a ".qzg" file (each cut to 1000 characters)
// into the settings; false, and nothing changed, when it cannot be read.
bool ReadResizeSettings(const std::string& fileName, TResizeSettings& s);
// The five lines of the file.
std::string ResizeSettingsText(const TResizeSettings& s);
// Writes the file (replacing it whole or not at all); false with the reason in
// `error` when it fails.
bool WriteResizeSettings(const std::string& fileName, const TResizeSettings& s, std::string* error = nullptr);

// Arguments of ResampleImage for the settings.
struct TResizeRequest {
  int32_t Kind = 2;
  int32_t NewWidth = 0, NewHeight = 0;
  double RatioX = 1, RatioY = 1;
  bool SizesGiven = false;
  bool AntiMoire = true;
  bool Box = false;
};
// Factors: both entries non-empty numbers ("," or ".") above 0; pixel counts:
// both non-empty integers above 0. nullopt for an empty or non-positive entry;
// throws std::invalid_argument with a message for an entry that is not a number.
std::optional<TResizeRequest> ResizeRequest(const TResizeSettings& s);

}  // namespace astrelon
