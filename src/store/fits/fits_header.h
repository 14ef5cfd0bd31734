#pragma once
// Reading and checking the header of a FITS file: the 80-byte cards up to END,
// the values the reader takes from them, and the check that the header
// describes an image this program can read from a file of the given length.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/fits/fits_display_cards.h"

namespace astrelon {

// A file opened for reading at given offsets (closed on destruction).
class TFitsInput {
public:
  TFitsInput() = default;
  ~TFitsInput();
  TFitsInput(const TFitsInput&) = delete;
  TFitsInput& operator=(const TFitsInput&) = delete;

  bool Open(const std::string& fileName);
  uint64_t Size() const { return size_; }
  // Reads exactly buffer.size() bytes at offset; false on a short read or an error.
  bool ReadAt(uint64_t offset, std::span<uint8_t> buffer) const;
  // True when every page of the range is in the page cache (so that reading it
  // in any order costs no seeks).
  bool Resident(uint64_t offset, uint64_t length) const;
  // Tells the system that the range will be read front to back.
  void AdviseSequential(uint64_t offset, uint64_t length) const;

private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// A number as the cards write it: "." or "," as decimal separator, an exponent
// with "E" or "D"; nullopt when the text is no number.
std::optional<double> ParseFitsNumber(std::string_view text);
// The integer of a card's value field (columns 11..30; a value written in free
// format up to a "/" comment is taken as well); nullopt when there is none.
std::optional<int64_t> ParseCardInt(std::string_view card);
// The number of a card's value field, "." or "," as decimal separator; the
// default when it is no number.
double ParseCardFloat(std::string_view card, double def);

// What the reader takes from the cards.
struct TFitsHeaderInfo {
  std::optional<int64_t> Bitpix;
  std::optional<int64_t> Naxis;
  std::optional<int64_t> Naxis1, Naxis2, Naxis3;  // NAXIS3 only after NAXIS = 3
  bool IsColor = false;                            // NAXIS = 3
  double Bzero = 0.0;
  double Bscale = 1.0;
  bool BlankDefined = false;
  bool BlankFromKeyword = false;  // the BLANK card (else "COMMENT BLANK ")
  double BlankValue = 1e-30;
  std::string Hp3Card;            // "COMMENT QZHP3 " card, empty when none
  std::optional<THistParValues> HistPar;
  double DarkRms = 0.0;
  bool HasEnd = false;
  int64_t CardCount = 0;          // cards read, END included
  uint64_t DataOffset = 0;        // start of the data: the cards rounded up to whole blocks
};

// Reads the cards from the start of the file up to END (or the end of the file,
// or MaxFitsHeaderCards cards). Bytes outside 32..126 are stored as "?". False
// when no END card was found.
bool ReadFitsHeader(const TFitsInput& in, std::vector<std::string>& cards, TFitsHeaderInfo& info);

// How the data of an accepted header lie in the file.
struct TFitsImageLayout {
  int32_t Width = 0;
  int32_t Height = 0;
  int Bitpix = 0;
  int BytesPerPixel = 0;  // |BITPIX| / 8
  int PlanesInFile = 1;   // planes to read (0 to 3)
  bool IsColor = false;
  uint64_t DataOffset = 0;
  uint64_t RowBytes = 0;
  uint64_t PlaneBytes = 0;
};

// Nullopt when the header is to be refused: no END card, a BITPIX other than 8,
// 16, 32, -32, -64, no axes or an axis length missing or below 1, more than
// MaxFitsPixels pixels, or data that would reach past the end of the file.
std::optional<TFitsImageLayout> CheckFitsHeader(const TFitsHeaderInfo& info, uint64_t fileSize);

// An opened FITS file with its header read and checked.
struct TFitsFile {
  TFitsInput Input;
  std::vector<std::string> Cards;
  TFitsHeaderInfo Info;
  std::optional<TFitsImageLayout> Layout;  // nullopt when the header is refused
};
// False when the file cannot be opened; otherwise the cards are read and the
// header checked against the file's length.
bool OpenFitsFile(const std::string& fileName, TFitsFile& file);

}  // namespace astrelon
