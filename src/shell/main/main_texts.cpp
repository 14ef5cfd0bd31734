#include "shell/main/main_texts.h"

#include <cctype>

#include "common/pascal_format.h"
#include "core/language.h"
#include "shell/main/main_services.h"

namespace astrelon {

TMainTexts MainTexts;

void ResetMainTexts() { MainTexts = TMainTexts(); }

namespace {

// The text of a key, or the current one when onlyWhenNotEmpty and the key gives nothing.
void Take(std::string& target, int key, bool onlyWhenNotEmpty = false) {
  std::string text = LangText(key);
  if (onlyWhenNotEmpty && text.empty()) return;
  target = std::move(text);
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(s[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// The first character (UTF-8 sequence) of a text.
std::string FirstCharacter(const std::string& s) {
  if (s.empty()) return " ";
  size_t n = 1;
  while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  return s.substr(0, n);
}

}  // namespace

std::string NotLoadedText(const std::string& translated) {
  if (translated.size() > 10 && StartsWithNoCase(translated, "DCRAW")) {
    const size_t blank = translated.find(' ');
    if (blank != std::string::npos) return translated.substr(blank);
  }
  return translated;
}

void ApplyTranslatedMainTexts() {
  if (!LanguageFileLoaded) return;
  TMainTexts& t = MainTexts;
  Take(t.Stamp, LangKey(3, 1, 5));
  Take(t.NetworkFilter, LangKey(9, 1));
  Take(t.Colour, LangKey(9, 2));
  Take(t.AbortWithEsc, LangKey(9, 3));
  Take(t.Value, LangKey(9, 7));
  Take(t.HalfFrame, LangKey(9, 17));
  Take(t.Image, LangKey(9, 18));
  t.ErrorPrefix = LangText(LangKey(9, 65)) + ": ";
  t.NotLoaded = NotLoadedText(LangText(LangKey(9, 67)));
  Take(t.Size, LangKey(10, 1));
  t.ZoomPrefix = LangText(LangKey(10, 2)) + ": ";
  Take(t.ComputeImage, LangKey(4, 13));
  Take(t.Input, LangKey(1, 3, 6, 6));
  Take(t.Cutout, LangKey(31, 4), true);
  t.Images = LangText(LangKey(29, 7, 1)) + " ";
  Take(t.OpenScaling, LangKey(18, 9));
  if (const std::string s = LangText(LangKey(6, 4)); !s.empty()) t.Compute = StripAccelerators(s);
  if (const std::string s = LangText(LangKey(6, 6)); !s.empty()) t.Interrupt = StripAccelerators(s);
  Take(t.PaletteHint, LangKey(2, 10));
  Take(t.ColourSpaceHint, LangKey(2, 18));
  if (!LangText(LangKey(3, 1, 9)).empty())
    for (int i = 0; i < 9; ++i) Take(t.InfoLabels[size_t(i)], LangKey(3, 1, 9 + i));

  // Channel names, letters and the name parts of separated channel files.
  const std::string word = LangText(LangKey(4, 19));
  std::string letters;
  for (int i = 1; i <= 3; ++i) {
    const std::string name = LangText(LangKey(7, 20 + i));
    if (!name.empty()) t.ChannelNames[size_t(i)] = name;
    letters += FirstCharacter(t.ChannelNames[size_t(i)]);
    t.ChannelFileParts[size_t(i)] = FoldToAscii(t.ChannelNames[size_t(i)]) + "_" + word + "_";
    t.YuvFileParts[size_t(i)] = std::string(1, "YUV"[i - 1]) + "_" + word + "_";
  }
  t.RgbLetters = letters;
}

void PadInfoLabels() {
  auto& labels = MainTexts.InfoLabels;
  if (!labels[0].empty() && labels[0].back() == ' ') return;
  for (std::string& s : labels) s += ' ';
}

std::string StatusLineText(uint64_t freeBytes, int imageCount) {
  const double mbytes = double(freeBytes) / 1048576.0;
  std::string number = FormatFloat("#########.#", mbytes);
  if (number.empty()) number = "0";
  std::string label = " Freier Speicher: ", word = imageCount == 1 ? " Bild" : " Bilder";
  if (LanguageFileLoaded) {
    label = " " + LangText(LangKey(34, 6)) + " ";
    word = " " + LangText(imageCount == 1 ? LangKey(9, 18) : LangKey(9, 39));
  }
  return label + number + " MByte, " + IntToStr(imageCount) + word;
}

}  // namespace astrelon
