#include "store/observation_time.h"

#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "common/file_extension.h"
#include "store/header_cards.h"
#include "store/header_dates.h"
#include "store/image_loader.h"
#include "store/pictures/exif_reader.h"

namespace astrelon {

namespace {

int32_t FileSize32(const std::string& fileName) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(fileName, ec);
  if (ec) return 0;
  return size > uintmax_t(INT32_MAX) ? INT32_MAX : int32_t(size);
}

}  // namespace

void ScanFileForExifDate(const std::string& fileName, TDateTime& obsTime, int32_t& fileSize) {
  obsTime = UnknownDateTime;
  fileSize = FileSize32(fileName);
  if (fileSize < 1051) return;
  std::ifstream f(fileName, std::ios::binary);
  if (!f) return;
  constexpr size_t Limit = 1024;  // candidates start at byte 1024 at the latest
  std::vector<char> buf(Limit + 21, 0);
  f.read(buf.data(), std::streamsize(buf.size()));
  if (size_t(f.gcount()) < buf.size()) return;
  size_t pos = 0;
  while (pos <= Limit) {
    while (pos <= Limit && buf[pos] != 0) ++pos;
    while (pos <= Limit && buf[pos] == 0) ++pos;
    if (pos > Limit) return;
    const char* c = &buf[pos];
    if (c[4] == ':' && c[7] == ':' && c[10] == ' ' && c[13] == ':' && c[16] == ':' && c[19] == 0) {
      const std::string date = std::string(c + 8, 2) + "." + std::string(c + 5, 2) + "." + std::string(c, 4);
      const std::optional<TDateTime> d = ParseDateText(date);
      const std::optional<TDateTime> t = ParseTimeText(std::string(c + 11, 8));
      if (d && t) obsTime = *d + *t;
      return;
    }
    pos += 20;  // the candidate was read; the search goes on behind it
  }
}

void AppendDateCards(int slot, TDateTime t, bool observation) {
  AppendHeaderCard(slot, std::string(observation ? "DATE-OBS= '" : "DATE    = '") + FormatIsoDate(t) + "'");
  AppendHeaderCard(slot, std::string(observation ? "TIME-OBS= '" : "TIME    = '") + FormatTimeOfDay(t) + "'");
}

void GetObservationTime(const std::string& fileName, TDateTime& obsTime, int32_t& quality) {
  quality = 0;
  obsTime = UnknownDateTime;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return;
  const std::string ext = UpperFileExt(fileName).substr(0, 4);
  if (ext == ".FTS" || ext == ".FIT") {
    if (ReadFileHeaderOnly(0, fileName)) {
      if (ReadObservationTime(0, obsTime)) quality = 2;
      else if (obsTime > 0.0) quality = 1;
    }
  } else if (!ext.empty() && std::string_view(".JPG.JPE.TIF.BMP").find(ext) != std::string_view::npos) {
    // Any part of the list counts, as ".JP" or ".TI" do.
    TExif exif;
    exif.ExifTagsLesen(fileName);
    int code = 2;
    obsTime = ParseDateTimeText(exif.DateTimeDigitized);
    if (obsTime <= 0.0) obsTime = ParseDateTimeText(exif.DateTimeOriginal);
    if (obsTime <= 0.0) {
      obsTime = ParseDateTimeText(exif.DateTime);
      code = 1;
    }
    if (obsTime > 0.0) quality = code;
  } else if (IdentifyCameraRaw(0, fileName)) {
    if (ReadObservationTime(0, obsTime)) quality = 2;
    else if (obsTime > 0.0) quality = 1;
  }
  if (obsTime < 0.0) {
    if (const std::optional<TDateTime> t = FileModificationTime(fileName)) {
      obsTime = *t;
      quality = 1;
    }
  }
}

}  // namespace astrelon
