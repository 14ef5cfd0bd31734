#include "pixelops/stamping/header_info_text.h"

#include "common/number_text.h"
#include "common/pascal_format.h"
#include "store/header_cards.h"

namespace astrelon {

namespace {

// Keys padded to the keyword column, so that "RA" does not find "RADESYS".
std::string Value(int slot, const char* key, bool raw = false) {
  std::string k = key;
  if (k.size() < 8) k.resize(8, ' ');
  return GetHeaderValue(slot, k, raw);
}

std::string Camera(int slot) {
  std::string v = Value(slot, "INSTRUME");
  return v.empty() ? Value(slot, "CAMERA") : v;
}

std::string ExposureRaw(int slot) {
  std::string v = Value(slot, "EXPOSURE", true);
  return v.empty() ? Value(slot, "EXPTIME", true) : v;
}

std::string Time(int slot) {
  std::string v = Value(slot, "TIME-OBS");
  return v.empty() ? Value(slot, "UT") : v;
}

std::string Temperature(int slot) {
  const std::string raw = Value(slot, "CCD-TEMP", true);
  if (const auto t = TryStrToFloatDot(raw)) return FloatToStrF(*t, TFloatFormat::Fixed, 4, 1);
  return raw;
}

std::string Exposure(int slot) {
  const std::string raw = ExposureRaw(slot);
  const auto t = TryStrToFloatDot(raw);
  if (!t) return raw + "s";
  if (*t >= 600) return FloatToStrF(*t / 60, TFloatFormat::General, 6, 0) + "min";
  return FloatToStrF(*t, TFloatFormat::General, 6, 0) + "s";
}

bool Has(const THeaderInfoChoice& t, THeaderInfoKey k) { return t[size_t(k)]; }

void Append(std::string& text, const std::string& item) {
  if (!text.empty()) text += ", ";
  text += item;
}

}  // namespace

const char* HeaderInfoCaption(THeaderInfoKey key) {
  static constexpr const char* captions[HeaderInfoKeyCount] = {
      "OBJECT", "TELESCOP", "EXPOSURE", "DATE-OBS", "TIME-OBS (UT)", "OBSERVER",
      "ORIGIN", "INSTRUME(nt)", "RA", "DEC", "CCD-TEMP", "FILTERS"};
  return captions[size_t(key)];
}

bool HeaderInfoAvailable(int slot, THeaderInfoKey key) {
  switch (key) {
    case THeaderInfoKey::Object: return !Value(slot, "OBJECT").empty();
    case THeaderInfoKey::Telescope: return !Value(slot, "TELESCOP").empty();
    case THeaderInfoKey::Exposure: return !ExposureRaw(slot).empty();
    case THeaderInfoKey::DateObs: return !Value(slot, "DATE-OBS").empty();
    case THeaderInfoKey::TimeObs: return !Time(slot).empty();
    case THeaderInfoKey::Observer: return !Value(slot, "OBSERVER").empty();
    case THeaderInfoKey::Origin: return !Value(slot, "ORIGIN").empty();
    case THeaderInfoKey::Instrument: return !Camera(slot).empty();
    case THeaderInfoKey::Ra: return !Value(slot, "RA").empty();
    case THeaderInfoKey::Dec: return !Value(slot, "DEC").empty();
    case THeaderInfoKey::CcdTemp: return !Value(slot, "CCD-TEMP", true).empty();
    case THeaderInfoKey::Filters: return !Value(slot, "FILTERS").empty();
  }
  return false;
}

std::string BuildHeaderInfoText(int slot, const THeaderInfoChoice& t, std::string text) {
  using K = THeaderInfoKey;
  if (Has(t, K::Object)) text = Value(slot, "OBJECT");
  if (Has(t, K::Telescope)) Append(text, Value(slot, "TELESCOP"));
  if (Has(t, K::Filters)) Append(text, Value(slot, "FILTERS"));
  if (Has(t, K::Instrument)) {
    std::string camera = Camera(slot);
    if (Has(t, K::CcdTemp)) camera += " @ " + Temperature(slot) + "\u00B0C";
    Append(text, camera);
  } else if (Has(t, K::CcdTemp)) {
    Append(text, "CCD @ " + Temperature(slot) + "\u00B0C");
  }
  if (Has(t, K::Exposure)) Append(text, Exposure(slot));
  if (Has(t, K::DateObs)) Append(text, Value(slot, "DATE-OBS"));
  if (Has(t, K::TimeObs)) Append(text, Time(slot));
  if (Has(t, K::Observer)) Append(text, Value(slot, "OBSERVER"));
  if (Has(t, K::Origin)) Append(text, Value(slot, "ORIGIN"));
  if (Has(t, K::Ra)) {
    text += "\nRA: " + Value(slot, "RA");
    if (Has(t, K::Dec)) text += "  DEC: " + Value(slot, "DEC");
  } else if (Has(t, K::Dec)) {
    text += "\nDEC: " + Value(slot, "DEC");
  }
  return text;
}

}  // namespace astrelon
