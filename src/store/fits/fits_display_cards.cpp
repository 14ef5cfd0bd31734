#include "store/fits/fits_display_cards.h"

#include <bit>
#include <cmath>

#include "common/pascal_format.h"
#include "store/header_cards.h"

namespace astrelon {

namespace {

std::optional<uint32_t> ParseHex(std::string_view hex, size_t digits) {
  if (hex.size() != digits) return std::nullopt;
  uint32_t v = 0;
  for (char c : hex) {
    uint32_t d;
    if (c >= '0' && c <= '9')
      d = uint32_t(c - '0');
    else if (c >= 'A' && c <= 'F')
      d = uint32_t(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      d = uint32_t(c - 'a' + 10);
    else
      return std::nullopt;
    v = v << 4 | d;
  }
  return v;
}

// Columns first..last (1-based, inclusive) of a card padded to 80.
std::string_view Columns(const std::string& card, size_t first, size_t last) {
  return std::string_view(card).substr(first - 1, last - first + 1);
}

// Gamma kind of the QZHP3 card: 1 power gamma, 2 equalisation share, 3 curve.
int GammaKind(float gamma) {
  if (gamma > 0.1f) return 1;
  if (gamma >= -5.0f) return 2;
  return 3;
}

}  // namespace

std::string FormatIntField(int64_t value, int width) {
  std::string s = IntToStr(value);
  if (int(s.size()) > width) return std::string(size_t(width), '9');
  return std::string(size_t(width) - s.size(), ' ') + s;
}

std::string FloatToHexBits(float f) { return IntToHex(std::bit_cast<uint32_t>(f), 8); }

std::string ScaledToHex(double v, double lo, double hi) {
  if (hi == lo) return "0000";
  const double scaled = (v - lo) * 65535.0 / (hi - lo);
  if (!(scaled >= 0)) return "0000";  // also NaN
  if (scaled >= 65535.0) return "FFFF";
  return IntToHex(uint64_t(Round(scaled)), 4);
}

std::optional<float> HexBitsToFloat(std::string_view hex) {
  const auto v = ParseHex(hex, 8);
  if (!v) return std::nullopt;
  return std::bit_cast<float>(*v);
}

std::optional<double> HexToScaled(std::string_view hex, double lo, double hi) {
  const auto v = ParseHex(hex, 4);
  if (!v) return std::nullopt;
  return lo + (hi - lo) * double(*v) / 65535.0;
}

std::string HistParCardText(const TDisplayRecord& d) {
  const bool power = d.Gamma > 0.1f;
  const std::string gamma = power ? FloatToStrF(d.Gamma, TFloatFormat::Fixed, 3, 2) : "1.00";
  return std::string(HistParCardKey) + FormatIntField(Round(d.Black), 8) + " Max " + FormatIntField(Round(d.White), 8) +
         " Gam " + gamma + " Typ " + (power && d.CurveMode ? "1" : "0");
}

std::string Hp3CardText(const TDisplayRecord& d) {
  const int k = GammaKind(d.Gamma);
  const int flags = (d.CurveMode ? 1 : 0) + (d.LumaOnly ? 2 : 0) + (d.SqrtHistogram ? 4 : 0) + (d.SpanBlackWhite ? 8 : 0);
  const int type = d.DisplayType >= 0 && d.DisplayType <= 25 ? d.DisplayType : DtGrey;
  std::string s(Hp3CardKey);
  s += char('0' + k);
  s += IntToHex(uint64_t(flags), 1);
  s += char('A' + type);
  s += FloatToHexBits(d.Black);
  s += FloatToHexBits(d.White);
  if (k == 1) {
    s += ScaledToHex(d.Gamma, 0.2, 5.0);
  } else if (k == 2) {
    s += ScaledToHex(d.Gamma, 0.0, -1.0);
  } else {
    for (int i = 1; i <= 5; ++i) {
      s += ScaledToHex(d.CurvePoints[size_t(i)].X, d.Black, d.White);
      s += ScaledToHex(d.CurvePoints[size_t(i)].Y, 0.0, 1.0);
    }
  }
  return s;
}

std::optional<THistParValues> ParseHistParCard(std::string_view text) {
  const std::string card = PadCard(text);
  if (std::string_view(card).substr(0, HistParCardKey.size()) != HistParCardKey) return std::nullopt;
  const auto mn = TryStrToInt(Columns(card, 23, 30));
  const auto mx = TryStrToInt(Columns(card, 36, 43));
  const auto gam = TryStrToFloat(Columns(card, 49, 52));
  const char typ = card[57];
  if (!mn || !mx || !gam || typ < '0' || typ > '9') return std::nullopt;
  return THistParValues{*mn, *mx, *gam, typ - '0'};
}

void ApplyHistPar(const THistParValues& v, TDisplayRecord& d) {
  d.White = float(v.Max);
  d.Black = float(v.Min);
  d.Gamma = float(v.Gamma);
  d.CurveMode = v.Typ == 1 ? 1 : 0;
}

bool ApplyHp3Card(std::string_view text, TDisplayRecord& d) {
  const std::string card = PadCard(text);
  if (std::string_view(card).substr(0, Hp3CardKey.size()) != Hp3CardKey) return false;
  const char kc = card[14];
  if (kc < '0' || kc > '9') return false;
  const int k = kc - '0';
  const auto flags = ParseHex(Columns(card, 16, 16), 1);
  if (!flags) return false;
  d.CurveMode = *flags & 1 ? 1 : 0;
  d.LumaOnly = *flags & 2 ? 1 : 0;
  d.SqrtHistogram = *flags & 4 ? 1 : 0;
  d.SpanBlackWhite = *flags & 8 ? 1 : 0;
  // Only display codes the renderer knows are taken.
  const int type = card[16] - 'A';
  if (type < DtGrey || type > DtColorYuv) return false;
  d.DisplayType = type;
  const auto black = HexBitsToFloat(Columns(card, 18, 25));
  if (!black || !std::isfinite(*black)) return false;
  d.Black = *black;
  const auto white = HexBitsToFloat(Columns(card, 26, 33));
  if (!white || !std::isfinite(*white)) return false;
  d.White = *white;
  if (k == 1 || k == 2) {
    const auto g = k == 1 ? HexToScaled(Columns(card, 34, 37), 0.2, 5.0) : HexToScaled(Columns(card, 34, 37), 0.0, -1.0);
    if (!g) return false;
    d.Gamma = float(*g);
    return true;
  }
  d.Gamma = CurveModeGamma;
  d.CurvePoints[0] = {d.Black, 0.0f};
  d.CurvePoints[6] = {d.White, 1.0f};
  for (int i = 1; i <= 5; ++i) {
    const size_t col = 34 + 8 * size_t(i - 1);
    const auto x = HexToScaled(Columns(card, col, col + 3), d.Black, d.White);
    if (!x) return false;
    d.CurvePoints[size_t(i)].X = float(*x);
    const auto y = HexToScaled(Columns(card, col + 4, col + 7), 0.0, 1.0);
    if (!y) return false;
    d.CurvePoints[size_t(i)].Y = float(*y);
  }
  return true;
}

}  // namespace astrelon
