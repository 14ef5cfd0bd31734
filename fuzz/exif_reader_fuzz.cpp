// libFuzzer target for the EXIF reader: the block is read from memory, its
// cards go into a header, and the file goes through the date scan and the
// observation-time query. Built by fuzz/build.sh (clang).
#include <cstdint>
#include <span>
#include <string>

#include "common/date_time.h"
#include "fuzz_input.h"
#include "store/header_cards.h"
#include "store/observation_time.h"
#include "store/pictures/exif_reader.h"
#include "store/pictures/jpeg_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".jpg");
  fuzz::QuietMessages();
  TExif exif;
  exif.ReadFromBytes(std::span<const uint8_t>(data, size));
  if (!fuzz::WriteInput(input, data, size)) return 0;
  Store.Reset();
  MakeDefaultHeader(1);
  TDateTime when = UnknownDateTime;
  AppendExifCards(1, input, when);
  fuzz::CheckHeaderCards(1);
  int32_t fileSize = 0, quality = 0;
  ScanFileForExifDate(input, when, fileSize);
  fuzz::Check(fileSize == int32_t(size), "file size");
  GetObservationTime(input, when, quality);
  fuzz::Check(quality >= 0 && quality <= 2, "quality code");
  return 0;
}
