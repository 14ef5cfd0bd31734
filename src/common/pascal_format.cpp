#include "common/pascal_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

// Rounding of printed digits: the classic runtime rounds the decimal digits of
// the value half away from zero. Here the exact binary value is rounded to the
// nearest decimal with ties to even (what std::to_chars with a precision does).
// The two differ only when the binary value lies exactly on a half, for example
// 0.125 to two decimals gives "0.12" and 2.5 to no decimals gives "2".
//
// A result whose printed digits are all zero never carries a minus sign
// ("0.00", not "-0.00").

namespace astrelon {
namespace {

constexpr int kMaxPrecision = 18;     // significant digits, as with 80-bit floats
constexpr int kMaxDecimals = 18;
constexpr int kUnlimited = 100000;    // "no limit on the decimals"

// An unsigned decimal number 0.d1d2d3... × 10^exponent. No leading or trailing
// zeros in `digits`; empty digits mean zero.
struct TDecimal {
  std::string digits;
  int exponent = 0;
  bool IsZero() const { return digits.empty(); }
  // The digit at position `index` counted from the first significant one;
  // '0' outside the stored digits.
  char DigitAt(int index) const {
    return index >= 0 && index < static_cast<int>(digits.size()) ? digits[size_t(index)] : '0';
  }
};

void TrimDecimal(std::string& all, int pointPos, TDecimal& d) {
  size_t lead = 0;
  while (lead < all.size() && all[lead] == '0')
    ++lead;
  if (lead == all.size()) {
    d = {};
    return;
  }
  size_t end = all.size();
  while (end > lead && all[end - 1] == '0')
    --end;
  d.digits = all.substr(lead, end - lead);
  d.exponent = pointPos - static_cast<int>(lead);
}

// Rounds a finite value >= 0 to at most `maxSignificant` significant digits and
// at most `decimals` decimals, whichever cuts earlier.
TDecimal ToDecimal(double a, int maxSignificant, int decimals) {
  TDecimal d;
  if (a == 0.0)
    return d;
  std::array<char, 512> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), a, std::chars_format::scientific, maxSignificant - 1);
  std::string_view sci(buf.data(), size_t(r.ptr - buf.data()));
  size_t e = sci.find('e');
  int exp10 = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exp10);
  if (decimals >= kUnlimited || exp10 + 1 + decimals >= maxSignificant) {
    std::string all;
    for (char c : sci.substr(0, e))
      if (c != '.')
        all += c;
    TrimDecimal(all, 1 + exp10, d);
    return d;
  }
  r = std::to_chars(buf.data(), buf.data() + buf.size(), a, std::chars_format::fixed, decimals);
  std::string_view fix(buf.data(), size_t(r.ptr - buf.data()));
  size_t point = fix.find('.');
  std::string all(fix.substr(0, point));
  int pointPos = static_cast<int>(all.size());
  if (point != std::string_view::npos)
    all += fix.substr(point + 1);
  TrimDecimal(all, pointPos, d);
  return d;
}

std::optional<std::string> NonFinite(double v) {
  if (std::isnan(v))
    return "NAN";
  if (std::isinf(v))
    return v < 0 ? "-INF" : "INF";
  return std::nullopt;
}

std::string PaddedNumber(unsigned value, int minDigits) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < minDigits)
    s.insert(0, size_t(minDigits) - s.size(), '0');
  return s;
}

// "E" + sign + exponent digits; `plusSign` writes "+" for exponents >= 0.
std::string ExponentText(char letter, int exp10, bool plusSign, int minDigits) {
  std::string s(1, letter);
  if (exp10 < 0)
    s += '-';
  else if (plusSign)
    s += '+';
  s += PaddedNumber(static_cast<unsigned>(std::abs(exp10)), minDigits);
  return s;
}

std::string GroupThousands(const std::string& intPart) {
  std::string s;
  const size_t n = intPart.size();
  for (size_t i = 0; i < n; ++i) {
    s += intPart[i];
    if (i + 1 < n && (n - 1 - i) % 3 == 0)
      s += ',';
  }
  return s;
}

// General format of an already rounded decimal: fixed notation unless the
// value has more integer digits than `precision` or is below 0.0001.
std::string GeneralText(const TDecimal& d, bool negative, int precision, int expDigits) {
  if (d.IsZero())
    return "0";
  std::string s = negative ? "-" : "";
  const int n = static_cast<int>(d.digits.size());
  if (d.exponent > precision || d.exponent < -3) {
    s += d.digits[0];
    if (n > 1) {
      s += '.';
      s += d.digits.substr(1);
    }
    s += ExponentText('E', d.exponent - 1, false, expDigits);
  } else if (d.exponent <= 0) {
    s += "0.";
    s.append(size_t(-d.exponent), '0');
    s += d.digits;
  } else if (n <= d.exponent) {
    s += d.digits;
    s.append(size_t(d.exponent - n), '0');
  } else {
    s += d.digits.substr(0, size_t(d.exponent));
    s += '.';
    s += d.digits.substr(size_t(d.exponent));
  }
  return s;
}

// ---- picture formats ------------------------------------------------------

struct TPictureToken {
  enum class Kind { Digit, Point, Exponent, Literal };
  Kind kind = Kind::Literal;
  std::string text = {};  // literal text, or the exponent letter
  bool zero = false;      // Digit: '0' (forced) rather than '#'
  bool plusSign = false;  // Exponent: "E+" style
  int expDigits = 0;      // Exponent: minimum exponent digits
};

struct TPicture {
  std::vector<TPictureToken> tokens;
  int intCount = 0;    // placeholders before the decimal point
  int fracCount = 0;   // placeholders after it
  int minInt = 0;      // integer digits always written (from the first '0')
  int minFrac = 0;     // decimals always written (up to the last '0')
  bool thousands = false;
  bool scientific = false;
};

std::vector<std::string_view> SplitSections(std::string_view picture) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < picture.size(); ++i) {
    char c = picture[i];
    if (quote) {
      if (c == quote)
        quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(picture.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(picture.substr(start));
  if (sections.size() > 3)
    sections.resize(3);
  return sections;
}

TPicture ParsePicture(std::string_view section) {
  TPicture p;
  bool afterPoint = false;
  int firstIntZero = -1;
  auto literal = [&](std::string_view text) {
    if (!p.tokens.empty() && p.tokens.back().kind == TPictureToken::Kind::Literal)
      p.tokens.back().text += text;
    else
      p.tokens.push_back({TPictureToken::Kind::Literal, std::string(text)});
  };
  for (size_t i = 0; i < section.size(); ++i) {
    char c = section[i];
    if (c == '"' || c == '\'') {
      size_t end = section.find(c, i + 1);
      if (end == std::string_view::npos)
        end = section.size();
      literal(section.substr(i + 1, end - i - 1));
      i = end;
    } else if (c == '0' || c == '#') {
      TPictureToken t{TPictureToken::Kind::Digit, {}};
      t.zero = c == '0';
      if (afterPoint) {
        ++p.fracCount;
        if (t.zero)
          p.minFrac = p.fracCount;
      } else {
        if (t.zero && firstIntZero < 0)
          firstIntZero = p.intCount;
        ++p.intCount;
      }
      p.tokens.push_back(t);
    } else if (c == '.') {
      if (!afterPoint) {
        afterPoint = true;
        p.tokens.push_back({TPictureToken::Kind::Point, {}});
      }
    } else if (c == ',') {
      p.thousands = true;
    } else if ((c == 'E' || c == 'e') && i + 1 < section.size() &&
               (section[i + 1] == '+' || section[i + 1] == '-') && !p.scientific) {
      TPictureToken t{TPictureToken::Kind::Exponent, std::string(1, c)};
      t.plusSign = section[i + 1] == '+';
      i += 2;
      while (i < section.size() && section[i] == '0' && t.expDigits < 4) {
        ++t.expDigits;
        ++i;
      }
      --i;
      p.scientific = true;
      p.tokens.push_back(t);
    } else {
      literal(section.substr(i, 1));
    }
  }
  p.minInt = firstIntZero < 0 ? 0 : p.intCount - firstIntZero;
  if (p.scientific)
    p.thousands = false;
  return p;
}

// The digits a picture writes for |value|: integer digits, decimals, exponent.
struct TPictureDigits {
  std::string intPart;
  std::string fracPart;  // fracCount digits
  int exp10 = 0;
  bool zero = true;
};

TPictureDigits PictureDigits(const TPicture& p, double a) {
  TPictureDigits r;
  if (p.scientific) {
    const int n = std::clamp(p.intCount + p.fracCount, 1, kMaxPrecision);
    TDecimal d = ToDecimal(a, n, kUnlimited);
    r.zero = d.IsZero();
    r.exp10 = r.zero ? 0 : d.exponent - p.intCount;
    for (int i = 0; i < p.intCount; ++i)
      r.intPart += d.DigitAt(i);
    for (int i = 0; i < p.fracCount; ++i)
      r.fracPart += d.DigitAt(p.intCount + i);
    return r;
  }
  TDecimal d = ToDecimal(a, kMaxPrecision, std::min(p.fracCount, kMaxDecimals));
  r.zero = d.IsZero();
  for (int i = 0; i < d.exponent; ++i)
    r.intPart += d.DigitAt(i);
  if (static_cast<int>(r.intPart.size()) < p.minInt)
    r.intPart.insert(0, size_t(p.minInt) - r.intPart.size(), '0');
  for (int i = 0; i < p.fracCount; ++i)
    r.fracPart += d.DigitAt(d.exponent + i);
  return r;
}

std::string ApplyPicture(const TPicture& p, const TPictureDigits& dg, bool negative) {
  std::string out = negative && !dg.zero ? "-" : "";
  int fracOut = p.minFrac;
  for (int i = p.fracCount; i > fracOut; --i)
    if (dg.fracPart[size_t(i - 1)] != '0') {
      fracOut = i;
      break;
    }
  const int len = static_cast<int>(dg.intPart.size());
  auto putInt = [&](int k) {
    out += dg.intPart[size_t(k)];
    if (p.thousands && k < len - 1 && (len - 1 - k) % 3 == 0)
      out += ',';
  };
  int intIndex = 0, fracIndex = 0;
  bool afterPoint = false;
  for (const TPictureToken& t : p.tokens) {
    switch (t.kind) {
      case TPictureToken::Kind::Digit:
        if (!afterPoint) {
          if (intIndex == 0)
            for (int k = 0; k < len - p.intCount; ++k)
              putInt(k);
          int k = len - p.intCount + intIndex;
          if (k >= 0)
            putInt(k);
          ++intIndex;
        } else {
          ++fracIndex;
          if (fracIndex <= fracOut)
            out += dg.fracPart[size_t(fracIndex - 1)];
        }
        break;
      case TPictureToken::Kind::Point:
        afterPoint = true;
        if (p.intCount == 0)
          for (int k = 0; k < len; ++k)
            putInt(k);
        if (fracOut > 0)
          out += '.';
        break;
      case TPictureToken::Kind::Exponent:
        out += ExponentText(t.text[0], dg.exp10, t.plusSign, t.expDigits);
        break;
      case TPictureToken::Kind::Literal:
        out += t.text;
        break;
    }
  }
  return out;
}

template <typename T>
std::optional<T> ParseInteger(std::string_view s) {
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-')
      return std::nullopt;
  }
  T v{};
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size())
    return std::nullopt;
  return v;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
  if (auto s = NonFinite(value))
    return *s;
  precision = std::clamp(precision, 1, kMaxPrecision);
  const bool negative = value < 0;
  const double a = std::fabs(value);
  switch (format) {
    case TFloatFormat::General:
      return GeneralText(ToDecimal(a, precision, kUnlimited), negative, precision, std::clamp(digits, 0, 4));
    case TFloatFormat::Exponent: {
      TDecimal d = ToDecimal(a, precision, kUnlimited);
      std::string s = negative && !d.IsZero() ? "-" : "";
      s += d.DigitAt(0);
      if (precision > 1) {
        s += '.';
        for (int i = 1; i < precision; ++i)
          s += d.DigitAt(i);
      }
      s += ExponentText('E', d.IsZero() ? 0 : d.exponent - 1, true, std::clamp(digits, 0, 4));
      return s;
    }
    case TFloatFormat::Fixed:
    case TFloatFormat::Number: {
      digits = std::clamp(digits, 0, kMaxDecimals);
      TDecimal d = ToDecimal(a, precision, digits);
      // More integer digits than the precision allows: scientific notation.
      if (d.exponent > precision)
        return GeneralText(ToDecimal(a, precision, kUnlimited), negative, precision, 0);
      std::string intPart(size_t(std::max(d.exponent, 1)), '0');
      for (int i = 0; i < d.exponent; ++i)
        intPart[size_t(i)] = d.DigitAt(i);
      std::string s = negative && !d.IsZero() ? "-" : "";
      s += format == TFloatFormat::Number ? GroupThousands(intPart) : intPart;
      if (digits > 0) {
        s += '.';
        for (int i = 0; i < digits; ++i)
          s += d.DigitAt(d.exponent + i);
      }
      return s;
    }
  }
  return {};
}

std::string FloatToStr(double value) { return FloatToStrF(value, TFloatFormat::General, 15, 0); }

std::string FormatFloat(std::string_view picture, double value) {
  if (NonFinite(value))
    return FloatToStr(value);
  const std::vector<std::string_view> sections = SplitSections(picture);
  if (sections[0].empty())
    return FloatToStr(value);
  const bool negative = value < 0;
  const double a = std::fabs(value);
  size_t index = 0;
  if (negative && sections.size() >= 2 && !sections[1].empty())
    index = 1;
  TPicture p = ParsePicture(sections[index]);
  TPictureDigits dg = PictureDigits(p, a);
  if (dg.zero && sections.size() >= 3 && !sections[2].empty()) {
    p = ParsePicture(sections[2]);
    dg = PictureDigits(p, 0.0);
    return ApplyPicture(p, dg, false);
  }
  // The negative section writes its own sign.
  return ApplyPicture(p, dg, negative && index == 0);
}

std::string FormatFixed(double value, int decimals) {
  if (auto s = NonFinite(value))
    return *s;
  decimals = std::clamp(decimals, 0, kMaxDecimals);
  std::array<char, 400> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
  std::string s(buf.data(), r.ptr);
  if (!s.empty() && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos)
    s.erase(0, 1);
  return s;
}

std::string IntToStr(int64_t value) {
  std::array<char, 24> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  return std::string(buf.data(), r.ptr);
}

std::string IntToHex(uint64_t value, int digits) {
  std::array<char, 24> buf{};
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value, 16);
  std::string s(buf.data(), r.ptr);
  for (char& c : s)
    if (c >= 'a' && c <= 'f')
      c = char(c - 'a' + 'A');
  digits = std::clamp(digits, 0, 32);
  if (static_cast<int>(s.size()) < digits)
    s.insert(0, size_t(digits) - s.size(), '0');
  return s;
}

std::optional<double> TryStrToFloat(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  // Check the whole syntax first: digits, optional point, optional exponent.
  // (from_chars alone would also take "inf", "nan" and hexadecimal forms.)
  size_t i = 0;
  int mantissaDigits = 0;
  int firstNonZero = -1;  // position of the first non-zero digit relative to the point
  int intDigits = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (firstNonZero < 0 && s[i] != '0')
      firstNonZero = intDigits;
    ++i, ++mantissaDigits, ++intDigits;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    int frac = 0;
    while (i < s.size() && IsDigit(s[i])) {
      if (firstNonZero < 0 && s[i] != '0')
        firstNonZero = intDigits + frac;
      ++i, ++mantissaDigits, ++frac;
    }
  }
  if (mantissaDigits == 0)
    return std::nullopt;
  long long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      expNegative = s[i] == '-';
      ++i;
    }
    if (i >= s.size() || !IsDigit(s[i]))
      return std::nullopt;
    while (i < s.size() && IsDigit(s[i])) {
      if (exponent < 100000)
        exponent = exponent * 10 + (s[i] - '0');
      ++i;
    }
    if (expNegative)
      exponent = -exponent;
  }
  if (i != s.size())
    return std::nullopt;
  double v = 0.0;
  if (firstNonZero >= 0) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      // Decimal exponent of the leading digit tells overflow from underflow.
      long long lead = exponent + intDigits - firstNonZero - 1;
      if (lead > 0)
        return std::nullopt;
      v = 0.0;
    } else if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
      return std::nullopt;
    }
  }
  return negative ? -v : v;
}

std::optional<int64_t> TryStrToInt(std::string_view text) { return ParseInteger<int64_t>(TrimBlanks(text)); }

double StrToFloatDef(std::string_view text, double def) { return TryStrToFloat(text).value_or(def); }

int64_t StrToIntDef(std::string_view text, int64_t def) { return TryStrToInt(text).value_or(def); }

namespace {
// 2^63 as a double: the first value beyond int64_t.
constexpr double kTwo63 = 9223372036854775808.0;

int64_t ClampToInt64(double r) {
  if (std::isnan(r))
    return 0;
  if (r >= kTwo63)
    return std::numeric_limits<int64_t>::max();
  if (r < -kTwo63)
    return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

int32_t ClampToInt32(double r) {
  if (std::isnan(r))
    return 0;
  r = std::clamp(r, double(std::numeric_limits<int32_t>::min()), double(std::numeric_limits<int32_t>::max()));
  return static_cast<int32_t>(r);
}
}  // namespace

int64_t Round(double value) { return ClampToInt64(std::nearbyint(value)); }
int64_t Trunc(double value) { return ClampToInt64(std::trunc(value)); }
int32_t Round32(double value) { return ClampToInt32(std::nearbyint(value)); }
int32_t Trunc32(double value) { return ClampToInt32(std::trunc(value)); }

}  // namespace astrelon
