#pragma once
// The camera RAW decoder: LibRaw behind the calls of a dcraw-style decoder. A
// decode is asked for with an argument vector of option letters and the file
// name; it hands back a buffer of 4 unsigned 16-bit samples per pixel (channel 0
// red or the single mosaic value, 1 green, 2 blue, 3 second green or unused),
// row-major, getwidth() x getheight() pixels, unrotated, and a metadata record.
//
// Options:
//   -c  the image goes to the buffer (always so; accepted for compatibility)
//   -w  use the camera's white balance
//   -D  the colour mosaic of the visible area as stored in the file: no black
//       subtraction, no scaling (channel 0)
//   -d  the colour mosaic with the black level subtracted and each colour site
//       scaled by its white-balance multiplier so that the white level maps to
//       65535, plus a pedestal of RawPedestal, so that noise below the black
//       level survives (channel 0); clipped to 0..65535
//   -i  identify only: metadata, no pixels
//   -h  half size (2 x 2 sites become one pixel; shrink exponent 1)
//   -x  keep highlights unclipped: the white-balance multipliers are normalised
//       by the largest instead of the smallest, so that no colour clips before
//       the others and clipped sites keep their own level for the program's
//       highlight repair; an interpolated image blends clipped highlights
// Without -D and -d the image is interpolated (LibRaw's default, AHD) and
// converted to sRGB primaries, linear, without brightening; its samples are
// LibRaw's values with no pedestal (getpedestal() is 0).
//
// A damaged, truncated or oversized file ends the decode with an error code
// instead of hanging: decoding stops after a time limit.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LibRaw;

namespace astrelon {

// Added to every sample of a "-d" decode (the loader subtracts it again).
constexpr int RawPedestal = 300;

// Error codes of geterrorcode().
enum TRawError : int32_t {
  RawOk = 0,
  RawNoFile = 1,         // no file name given, or the file cannot be opened or read
  RawUnsupported = 2,    // not a raw format the decoder knows
  RawDamaged = 3,        // the file is damaged or truncated
  RawTooLarge = 4,       // the image is too large for the file or for memory
  RawTimeout = 5,        // decoding took too long and was stopped
  RawDecoderFailure = 6  // any other failure of the decoder
};

// Metadata of the last decode; pointers stay valid until freeimage() or the next decode.
struct TRawMetaData {
  int32_t Width = 0;           // of the decoded image (the buffer)
  int32_t Height = 0;
  int64_t TimeStamp = -1;      // exposure time, Unix seconds from the camera's clock read as local time; -1 none
  uint32_t FilterPattern = 0;  // the 32-bit code of the visible area's mosaic (dcraw's "filters")
  int32_t Shrink = 0;          // the buffer is the sensor's size divided by 2 to this power
  int32_t Valid = 0;           // 0: the record must not be used
  int32_t BlackLevel = 0;      // black level common to all colour sites
  double Iso = 0;
  double ExposureTime = 0;     // seconds
  double Aperture = 0;         // f-number
  double FocalLength = 0;      // mm
  const double* Multipliers = nullptr;           // 4 white-balance multipliers, the smallest 1.0
  std::array<const double*, 3> Matrix{};         // 3 rows of 4: camera colours to sRGB
  const char* Maker = "";
  const char* Model = "";
  const char* Artist = "";
};

class TRawDecoder {
public:
  TRawDecoder();
  ~TRawDecoder();
  TRawDecoder(const TRawDecoder&) = delete;
  TRawDecoder& operator=(const TRawDecoder&) = delete;

  // Decodes the file named by the last non-option argument; returns the buffer,
  // or nullptr (identify only, or an error: see geterrorcode). `reserved` is ignored.
  const uint16_t* loadRaw(int argc, const char* const* argv, int reserved);
  int32_t geterrorcode() const { return error_; }
  void freeimage();
  // The metadata record of the last decode (Valid = 0 before one).
  const TRawMetaData* qz_getMetaData() const { return &meta_; }
  int32_t getwidth() const { return meta_.Width; }
  int32_t getheight() const { return meta_.Height; }
  int32_t getshrink() const { return meta_.Shrink; }
  int64_t gettimestamp() const { return meta_.TimeStamp; }
  const char* getmodel() const { return meta_.Model; }
  const char* getmaker() const { return meta_.Maker; }
  // What was added to every sample of the buffer (RawPedestal after "-d", else 0).
  int32_t getpedestal() const { return pedestal_; }

  // Time limits of a decode, in seconds: reading and unpacking, and processing.
  static constexpr int UnpackSeconds = 20;
  static constexpr int ProcessSeconds = 120;

private:
  struct TOptions;
  int32_t Decode(const TOptions& o);
  void FillMetaData(bool half);
  void BuildMosaic(bool scaled, bool half, bool unclipped);

  std::unique_ptr<LibRaw> raw_;
  std::unique_ptr<uint16_t[]> mosaic_;  // the buffer of a "-D"/"-d" decode
  const uint16_t* buffer_ = nullptr;
  int32_t error_ = RawOk;
  int32_t pedestal_ = 0;
  TRawMetaData meta_;
  std::array<double, 4> multipliers_{};
  std::array<std::array<double, 4>, 3> matrix_{};
  std::string maker_, model_, artist_;
};

}  // namespace astrelon
