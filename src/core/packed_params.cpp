#include "core/packed_params.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/pascal_format.h"
#include "core/funktion_defs.h"
#include "core/settings.h"

namespace astrelon {

namespace {

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

std::optional<int> DecDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return std::nullopt;
}

// Two hexadecimal characters starting at 0-based index i.
std::optional<int> HexPair(const std::string& s, size_t i) {
  if (i + 1 >= s.size()) return std::nullopt;
  auto hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
  if (!hi || !lo) return std::nullopt;
  return *hi * 16 + *lo;
}

void PutHexPair(std::string& s, size_t i, int value) {
  const std::string h = IntToHex(uint64_t(std::clamp(value, 0, 255)), 2);
  s[i] = h[0];
  s[i + 1] = h[1];
}

int ClampedRound(double v, int lo, int hi) {
  if (!(v == v)) return lo;  // NaN
  return int(Round(std::clamp(v, double(lo), double(hi))));
}

}  // namespace

void DecodePackedParams() {
  std::string& s = Settings.PackedParams;
  if (s.size() > PackedParamsMaxLength) s.resize(PackedParamsMaxLength);
  // The string holds digits only; anything outside printable ASCII would shift positions.
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '0';
  const std::string def = PackedParamsDefault;
  if (s.size() < def.size()) s += def.substr(s.size());

  if (auto d = DecDigit(s[13])) Options.ToolbarTint = uint8_t(*d);
  if (auto d = DecDigit(s[22])) Options.PackedFlag23 = uint8_t(*d);
  if (auto v = HexPair(s, 23)) Settings.PsfParamA = *v - 128;
  if (auto v = HexPair(s, 25)) Settings.PsfParamB = *v - 128;
  if (auto v = HexPair(s, 27)) Settings.FftNoiseParam1 = *v / 10.0;
  if (auto v = HexPair(s, 29)) Settings.FftNoiseParam2 = *v;
  if (auto d = DecDigit(s[31])) Settings.ShiftMode = *d;
}

void EncodePackedParams() {
  std::string& s = Settings.PackedParams;
  const std::string def = PackedParamsDefault;
  if (s.size() < def.size()) s += def.substr(s.size());
  s[13] = char('0' + std::clamp<int>(Options.ToolbarTint, 0, 9));
  s[22] = char('0' + std::clamp<int>(Options.PackedFlag23, 0, 9));
  PutHexPair(s, 23, ClampedRound(double(Settings.PsfParamA) + 128, 0, 255));
  PutHexPair(s, 25, ClampedRound(double(Settings.PsfParamB) + 128, 0, 255));
  PutHexPair(s, 27, ClampedRound(Settings.FftNoiseParam1 * 10.0, 0, 255));
  PutHexPair(s, 29, std::clamp(Settings.FftNoiseParam2, 0, 255));
  s[31] = char('0' + std::clamp(Settings.ShiftMode, 0, 9));
}

void SetParamDigits(int p, int value) {
  std::string& s = Settings.PackedParams;
  if (p < 1 || size_t(p) >= s.size()) return;
  value = std::clamp(value, 0, 99);
  s[size_t(p) - 1] = char('0' + value / 10);
  s[size_t(p)] = char('0' + value % 10);
}

int GetParamDigits(int p) {
  const std::string& s = Settings.PackedParams;
  if (p < 1 || size_t(p) >= s.size()) return 0;
  auto a = DecDigit(s[size_t(p) - 1]), b = DecDigit(s[size_t(p)]);
  if (a && b) return *a * 10 + *b;
  if (a) return *a;
  if (b) return *b;
  return 0;
}

std::string EncodeFilterRow(int funktionNr) {
  const TFunktionDef& d = FunktionDefTable[size_t(funktionNr)];
  std::string row;
  for (const auto& t : d.Trackbar) row += IntToHex(uint64_t(ClampedRound(double(t.Position) * 160.0, 0, 255)), 2);
  row += IntToHex(uint64_t((d.CheckBox[0].Checked ? 1 : 0) + (d.CheckBox[1].Checked ? 2 : 0)), 1);
  return row;
}

bool DecodeFilterRow(int funktionNr, const std::string& row) {
  if (row.size() < 7) return false;
  std::array<int, 3> v{};
  for (size_t k = 0; k < 3; ++k) {
    auto p = HexPair(row, 2 * k);
    if (!p) return false;
    v[k] = *p;
  }
  auto flags = HexDigit(row[6]);
  if (!flags) return false;
  TFunktionDef& d = FunktionDefTable[size_t(funktionNr)];
  for (size_t k = 0; k < 3; ++k) d.Trackbar[k].Position = float(v[k] / 160.0);
  d.CheckBox[0].Checked = (*flags & 1) ? 1 : 0;
  d.CheckBox[1].Checked = (*flags & 2) ? 1 : 0;
  return true;
}

std::string EncodeFilterRows(int first, int last) {
  std::string s;
  for (int n = first; n <= last; ++n) s += EncodeFilterRow(n);
  return s;
}

void DecodeFilterRows(const std::string& text, int first, int last) {
  const size_t need = size_t(last - first + 1) * 7;
  if (text.size() < need) return;
  for (int n = first; n <= last; ++n)
    if (!DecodeFilterRow(n, text.substr(size_t(n - first) * 7, 7))) return;
}

}  // namespace astrelon
