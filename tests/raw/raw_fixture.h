#pragma once
// The test DNG of the camera RAW tests: 64 x 48 RGGB mosaic, black 1024, white
// 16383, a date in summer time, EXIF exposure data and the camera's names.
#include <cstdlib>
#include <ctime>
#include <string>

#include "dng_writer.h"
#include "test_support.h"

namespace astrelon::test {

// Sets TZ (a zone with summer time) for the life of the object.
class LocalZone {
public:
  explicit LocalZone(const char* tz = "CET-1CEST,M3.5.0,M10.5.0/3") {
    if (const char* v = std::getenv("TZ")) old_ = v, hadOld_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~LocalZone() {
    if (hadOld_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  std::string old_;
  bool hadOld_ = false;
};

inline TDngLayout StandardDng() {
  TDngLayout s;
  s.Width = 64;
  s.Height = 48;
  s.Cfa = MakeTestMosaic(s.Width, s.Height, 1100, 9000, 7);
  s.Cfa[5 * 64 + 9] = 1000;  // one site below the black level
  s.BlackLevel = 1024;
  s.WhiteLevel = 16383;
  s.AsShotNeutral = {0.5, 1.0, 0.8};
  s.DateTime = "2021:07:14 23:30:05";
  s.Make = "Testkamera";
  s.Model = "TK-1";
  s.Artist = "Erika Mustermann";
  s.ExposureTime = 1.0 / 125;
  s.FNumber = 5.6;
  s.FocalLength = 50;
  s.Iso = 800;
  return s;
}

}  // namespace astrelon::test
