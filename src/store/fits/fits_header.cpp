#include "store/fits/fits_header.h"

#include <algorithm>
#include <cerrno>

#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/pascal_format.h"
#include "store/fits/fits_layout.h"
#include "store/header_cards.h"

namespace astrelon {

TFitsInput::~TFitsInput() {
  if (fd_ >= 0) ::close(fd_);
}

bool TFitsInput::Open(const std::string& fileName) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  size_ = uint64_t(st.st_size);
  return true;
}

bool TFitsInput::ReadAt(uint64_t offset, std::span<uint8_t> buffer) const {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::pread(fd_, buffer.data() + done, buffer.size() - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool TFitsInput::Resident(uint64_t offset, uint64_t length) const {
  if (fd_ < 0 || length == 0) return fd_ >= 0;
  const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
  const uint64_t start = offset / page * page;
  const uint64_t end = std::min(offset + length, size_);
  if (end <= start) return false;
  void* map = ::mmap(nullptr, size_t(end - start), PROT_READ, MAP_SHARED, fd_, off_t(start));
  if (map == MAP_FAILED) return false;
  std::vector<unsigned char> pages(size_t((end - start + page - 1) / page));
  const bool known = ::mincore(map, size_t(end - start), pages.data()) == 0;
  ::munmap(map, size_t(end - start));
  return known && std::all_of(pages.begin(), pages.end(), [](unsigned char c) { return (c & 1) != 0; });
}

void TFitsInput::AdviseSequential(uint64_t offset, uint64_t length) const {
  if (fd_ >= 0) ::posix_fadvise(fd_, off_t(offset), off_t(length), POSIX_FADV_SEQUENTIAL);
}

namespace {

// Columns 11..30 of a card.
std::string_view FixedField(std::string_view card) {
  if (card.size() <= 10) return {};
  return card.substr(10, 20);
}

// The value of a free-format card: columns 11..80 up to a "/" comment.
std::string FreeField(std::string_view card) {
  if (card.size() <= 10) return {};
  std::string_view v = card.substr(10);
  v = v.substr(0, v.find('/'));
  return std::string(v);
}

bool Keyword(std::string_view card, std::string_view key8) { return card.substr(0, 8) == key8; }

}  // namespace

std::optional<double> ParseFitsNumber(std::string_view value) {
  std::string text(value);
  std::replace(text.begin(), text.end(), ',', '.');
  if (auto v = TryStrToFloat(text)) return v;
  // Double-precision exponents written with "D" (1.0D+00).
  std::replace(text.begin(), text.end(), 'D', 'E');
  std::replace(text.begin(), text.end(), 'd', 'E');
  return TryStrToFloat(text);
}

std::optional<int64_t> ParseCardInt(std::string_view card) {
  if (auto v = TryStrToInt(FixedField(card))) return v;
  return TryStrToInt(FreeField(card));
}

double ParseCardFloat(std::string_view card, double def) {
  // A free-format value may run past column 30 (1.25000000000000000000E-01):
  // the whole value counts, not the number its first 20 characters make.
  if (auto v = ParseFitsNumber(FreeField(card))) return *v;
  if (auto v = ParseFitsNumber(FixedField(card))) return *v;
  return def;
}

namespace {

void ApplyCard(const std::string& card, TFitsHeaderInfo& info) {
  if (Keyword(card, "BITPIX  ")) {
    info.Bitpix = ParseCardInt(card);
  } else if (Keyword(card, "NAXIS   ")) {
    info.Naxis = ParseCardInt(card);
    info.IsColor = info.Naxis == 3;
  } else if (Keyword(card, "NAXIS1  ")) {
    info.Naxis1 = ParseCardInt(card);
  } else if (Keyword(card, "NAXIS2  ")) {
    info.Naxis2 = ParseCardInt(card);
  } else if (Keyword(card, "NAXIS3  ")) {
    if (info.IsColor) info.Naxis3 = ParseCardInt(card).value_or(0);
  } else if (Keyword(card, "BZERO   ")) {
    info.Bzero = ParseCardFloat(card, 0.0);
  } else if (Keyword(card, "BSCALE  ")) {
    info.Bscale = ParseCardFloat(card, 1.0);
  } else if (Keyword(card, "BLANK   ")) {
    info.BlankValue = ParseCardFloat(card, 1e-30);
    info.BlankDefined = true;
    info.BlankFromKeyword = true;
  } else if (Keyword(card, "COMMENT ")) {
    const std::string_view rest = std::string_view(card).substr(8);
    if (!info.BlankDefined && rest.substr(0, 6) == "BLANK ") {
      if (auto v = ParseFitsNumber(rest.substr(6, 20))) {
        info.BlankValue = *v;
        info.BlankDefined = true;
      }
    } else if (rest.substr(0, 6) == "QZHP3 ") {
      info.Hp3Card = card;
    } else if (rest.substr(0, 14) == "QZHistPar Min ") {
      if (auto v = ParseHistParCard(card)) info.HistPar = v;
    } else if (rest.substr(0, 9) == "MDarkRMS ") {
      if (auto v = ParseFitsNumber(rest.substr(9, 20))) info.DarkRms = *v;
    }
  }
}

}  // namespace

bool ReadFitsHeader(const TFitsInput& in, std::vector<std::string>& cards, TFitsHeaderInfo& info) {
  info = TFitsHeaderInfo{};
  cards.clear();
  std::vector<uint8_t> block(FitsBlockSize);
  uint64_t offset = 0;
  while (!info.HasEnd && info.CardCount < MaxFitsHeaderCards) {
    // A final part block still yields the whole cards it holds.
    const uint64_t left = in.Size() > offset ? in.Size() - offset : 0;
    const size_t bytes = size_t(std::min<uint64_t>(left, FitsBlockSize)) / FitsCardLength * FitsCardLength;
    if (bytes == 0 || !in.ReadAt(offset, std::span(block.data(), bytes))) break;
    for (size_t c = 0; c < bytes && !info.HasEnd; c += FitsCardLength) {
      std::string card(reinterpret_cast<const char*>(block.data() + c), FitsCardLength);
      for (char& ch : card)
        if (ch < 32 || ch > 126) ch = '?';
      ApplyCard(card, info);
      info.HasEnd = Keyword(card, "END     ");
      cards.push_back(std::move(card));
      ++info.CardCount;
    }
    offset += FitsBlockSize;
  }
  info.DataOffset = FitsBlockRoundUp(uint64_t(info.CardCount) * FitsCardLength);
  return info.HasEnd;
}

std::optional<TFitsImageLayout> CheckFitsHeader(const TFitsHeaderInfo& info, uint64_t fileSize) {
  if (!info.HasEnd || !info.Bitpix || !info.Naxis) return std::nullopt;
  const int64_t bitpix = *info.Bitpix;
  if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64) return std::nullopt;
  const int64_t naxis = *info.Naxis;
  if (naxis < 1) return std::nullopt;
  // The axis lengths the header's NAXIS promises must be there; a one-axis image
  // is one row high. A colour image without NAXIS3 (or with it before NAXIS)
  // reads one plane.
  if (!info.Naxis1 || (naxis >= 2 && !info.Naxis2)) return std::nullopt;
  const int64_t w = *info.Naxis1;
  const int64_t h = info.Naxis2.value_or(1);
  if (w < 1 || h < 1 || w > MaxFitsPixels || h > MaxFitsPixels || w * h > MaxFitsPixels) return std::nullopt;
  TFitsImageLayout l;
  l.Width = int32_t(w);
  l.Height = int32_t(h);
  l.Bitpix = int(bitpix);
  l.BytesPerPixel = int(bitpix < 0 ? -bitpix : bitpix) / 8;
  l.IsColor = info.IsColor;
  if (info.IsColor) {
    // A plane count below 1 reads no plane: the colour image's planes stay blank.
    const int64_t planes = info.Naxis3.value_or(1);
    l.PlanesInFile = int(std::clamp<int64_t>(planes, 0, 3));
  }
  l.DataOffset = info.DataOffset;
  l.RowBytes = uint64_t(w) * uint64_t(l.BytesPerPixel);
  l.PlaneBytes = l.RowBytes * uint64_t(h);
  const uint64_t dataEnd = l.DataOffset + l.PlaneBytes * uint64_t(l.PlanesInFile);
  if (dataEnd > fileSize) return std::nullopt;
  return l;
}

bool OpenFitsFile(const std::string& fileName, TFitsFile& file) {
  if (!file.Input.Open(fileName)) return false;
  ReadFitsHeader(file.Input, file.Cards, file.Info);
  file.Layout = CheckFitsHeader(file.Info, file.Input.Size());
  return true;
}

}  // namespace astrelon
