#include "batch/inputs/shift_list_file.h"

#include <cmath>

#include "batch/inputs/series_file_list.h"
#include "common/atomic_file.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "store/copy_name.h"

namespace astrelon {

namespace {

constexpr size_t MaxListBytes = size_t(128) << 20;

std::string Number(double v) { return FloatToStrF(v, TFloatFormat::Exponent, 14, 2); }

// Sequential reading of the lines with the reasons of a refusal.
class TLineReader {
public:
  explicit TLineReader(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  size_t Left() const { return lines_.size() - next_; }
  bool Line(std::string& line, std::string& error) {
    if (next_ >= lines_.size()) return Fail(error, "es fehlen Zeilen");
    line = lines_[next_++];
    return true;
  }
  bool Integer(int64_t& value, std::string& error) {
    std::string line;
    if (!Line(line, error)) return false;
    const auto v = TryStrToInt(line);
    if (!v) return Fail(error, "keine ganze Zahl");
    value = *v;
    return true;
  }
  // Two numbers: characters 1 to 21, and the rest of the line from character 22.
  bool Pair(float& a, float& b, std::string& error) {
    std::string line;
    if (!Line(line, error)) return false;
    return Real(Utf8Substr(line, 0, 21), a, error) && Real(Utf8Substr(line, 21), b, error);
  }
  bool Quality(float& q, std::string& error) {
    std::string line;
    if (!Line(line, error)) return false;
    const auto v = TryStrToFloatDot(line);
    if (!v || !(std::fabs(*v) <= MaxShiftListQuality)) return Fail(error, "ungültiger Qualitätswert");
    q = float(*v);
    return true;
  }
  bool Fail(std::string& error, const std::string& why) const {
    error = why + " (Zeile " + std::to_string(next_) + ")";
    return false;
  }

private:
  bool Real(std::string_view text, float& value, std::string& error) const {
    const auto v = TryStrToFloatDot(text);
    if (!v || !std::isfinite(float(*v))) return Fail(error, "keine gültige Zahl");
    value = float(*v);
    return true;
  }
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

}  // namespace

std::string CoordinateLine(double a, double b) {
  std::string line = Number(a);
  if (line.size() < 22) line.append(22 - line.size(), ' ');
  return line + Number(b);
}

std::string ShiftListFileName(const std::string& startFolder, int32_t mode, int32_t count) {
  return startFolder + "VList_" + std::to_string(mode) + "Stars_" + std::to_string(count) + "files.qvl";
}

bool FormatShiftList(const TShiftListFile& list, std::string& text, std::string& error) {
  const int32_t n = list.Count();
  text = std::to_string(n) + "\r\n" + std::to_string(list.Mode) + "\r\n";
  for (int32_t i = 0; i < n; ++i) {
    const std::string& name = list.Names[size_t(i)];
    if (name.find_first_of("\r\n") != std::string::npos) {
      error = "Der Dateiname enthält einen Zeilenumbruch: " + name;
      return false;
    }
    text += name + "\r\n";
    if (list.Mode == 3) {
      static const std::vector<TMarkPair> none;
      const auto& pairs = size_t(i) < list.MarkPairs.size() ? list.MarkPairs[size_t(i)] : none;
      text += std::to_string(pairs.size()) + "\r\n";
      for (const TMarkPair& p : pairs)
        text += CoordinateLine(p.Xa, p.Xb) + "\r\n" + CoordinateLine(p.Ya, p.Yb) + "\r\n";
    } else {
      const TStarPair s = size_t(i) < list.StarPairs.size() ? list.StarPairs[size_t(i)] : TStarPair{};
      text += CoordinateLine(s[0], s[4]) + "\r\n" + CoordinateLine(s[1], s[5]) + "\r\n";
      if (list.Mode == 2) text += CoordinateLine(s[2], s[6]) + "\r\n" + CoordinateLine(s[3], s[7]) + "\r\n";
    }
    text += Number(size_t(i) < list.Qualities.size() ? list.Qualities[size_t(i)] : 0.0f) + "\r\n";
  }
  return true;
}

bool ParseShiftList(std::string_view text, TShiftListFile& out, std::string& error) {
  TLineReader in(SplitLines(text));
  int64_t n = 0, mode = 0;
  if (!in.Integer(n, error) || !in.Integer(mode, error)) return false;
  if (mode < 1 || mode > 3) return in.Fail(error, "unbekannte Anzahl Sterne " + std::to_string(mode));
  if (n < 1) return in.Fail(error, "keine Bilder");
  if (n > MaxRunFiles) return in.Fail(error, "mehr als " + std::to_string(MaxRunFiles) + " Bilder");
  const int64_t linesPerImage = mode == 3 ? 3 : mode == 2 ? 6 : 4;
  if (n * linesPerImage > int64_t(in.Left()))
    return in.Fail(error, "die Datei ist zu kurz für " + std::to_string(n) + " Bilder");
  TShiftListFile list;
  list.Mode = int32_t(mode);
  for (int64_t i = 0; i < n; ++i) {
    std::string name;
    if (!in.Line(name, error)) return false;
    list.Names.push_back(name);
    if (mode == 3) {
      int64_t pairs = 0;
      if (!in.Integer(pairs, error)) return false;
      if (pairs < 0 || pairs > MaxShiftListPairs || 2 * pairs + 1 > int64_t(in.Left()))
        return in.Fail(error, "ungültige Anzahl Sternpaare " + std::to_string(pairs));
      std::vector<TMarkPair> record(static_cast<size_t>(pairs));
      for (TMarkPair& p : record)
        if (!in.Pair(p.Xa, p.Xb, error) || !in.Pair(p.Ya, p.Yb, error)) return false;
      list.MarkPairs.push_back(std::move(record));
    } else {
      TStarPair s{};
      if (!in.Pair(s[0], s[4], error) || !in.Pair(s[1], s[5], error)) return false;
      if (mode == 2 && (!in.Pair(s[2], s[6], error) || !in.Pair(s[3], s[7], error))) return false;
      list.StarPairs.push_back(s);
    }
    float q = 0;
    if (!in.Quality(q, error)) return false;
    list.Qualities.push_back(q);
  }
  out = std::move(list);
  return true;
}

std::string VerschiebungslisteSpeichern(const std::string& fileName, const TShiftListFile& list, std::string& error) {
  std::string text;
  if (!FormatShiftList(list, text, error)) return "";
  const std::string name = FreeCopyFileName(fileName);
  if (name.empty()) {
    error = "Kein freier Dateiname für " + fileName;
    return "";
  }
  std::string why;
  if (!WriteFileAtomic(name, text, &why)) {
    error = why.empty() ? "Fehler beim Abspeichern der Datei " + name : why;
    return "";
  }
  return name;
}

bool ReadShiftListFile(const std::string& path, TShiftListFile& list, std::string& error) {
  const auto text = ReadTextFile(path, MaxListBytes);
  if (!text) {
    error = "die Datei kann nicht gelesen werden";
    return false;
  }
  return ParseShiftList(*text, list, error);
}

TShiftListFile RunShiftList(int32_t mode) {
  TShiftListFile list;
  list.Mode = mode;
  list.Names = SeriesFileList;
  const size_t n = list.Names.size();
  list.Qualities.assign(n, 0.0f);
  for (size_t i = 0; i < n && i < BatchQualities.size(); ++i) list.Qualities[i] = BatchQualities[i];
  if (mode == 3) {
    list.MarkPairs.assign(n, {});
    for (size_t i = 0; i < n && i < BatchMarkPairs.size(); ++i) list.MarkPairs[i] = BatchMarkPairs[i];
  } else {
    list.StarPairs.assign(n, TStarPair{});
    for (size_t i = 0; i < n && i < BatchStarPairs.size(); ++i) list.StarPairs[i] = BatchStarPairs[i];
  }
  return list;
}

void InstallRunShiftList(const TShiftListFile& list) {
  ClearRunFiles();
  SeriesFileList = list.Names;
  BatchQualities = list.Qualities;
  BatchStarPairs = list.StarPairs;
  BatchMarkPairs = list.MarkPairs;
}

void RaiseReferenceQuality(TShiftListFile& list) {
  if (list.Qualities.size() > 1) list.Qualities[0] = 1.01f * list.Qualities[1];
}

}  // namespace astrelon
