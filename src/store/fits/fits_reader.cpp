#include "store/fits/fits_reader.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "common/engine_ui.h"
#include "common/paths.h"
#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_layout.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

// Raw bytes read per file access, and float pixels decoded per step: small
// enough to stay in the cache, large enough for few system calls.
constexpr uint64_t ChunkBytes = uint64_t(1) << 18;
constexpr size_t DecodePixels = 16384;

// The slot's card list becomes the cards read, ended by END and with the room
// after END that insertions expect.
void StoreCards(int slot, std::vector<std::string>&& cards, bool hasEnd) {
  THeaderCardList& h = Store.Header[slot];
  h.Cards = std::move(cards);
  if (!hasEnd) h.Cards.push_back(PadCard("END"));
  if (h.Cards.size() < 30) h.Cards.resize(30);
  h.EnsureRoomAfterEnd();
  if (HeaderChangedHook) HeaderChangedHook(slot);
}

// Appends the decoded samples of one run of the file to the plane.
void AppendDecoded(const TFitsDecoder& dec, const uint8_t* src, size_t n, int bytesPerPixel, std::vector<float>& buf,
                   TPlane& plane) {
  for (size_t i = 0; i < n; i += DecodePixels) {
    const size_t m = std::min(DecodePixels, n - i);
    dec.DecodeRow(src + i * size_t(bytesPerPixel), m, buf.data(), Sse2Enabled);
    plane.insert(plane.end(), buf.data(), buf.data() + m);
  }
}

// Reads plane p (1-based in the file) into `plane`, image row 0 first. The rows
// are appended in image order, so the plane is written once and never zeroed.
bool ReadPlane(const TFitsInput& in, const TFitsImageLayout& l, int p, const TFitsDecoder& dec, bool flip,
               TPlane& plane) {
  const int64_t w = l.Width, h = l.Height;
  const int bpp = l.BytesPerPixel;
  const uint64_t planeOffset = l.DataOffset + uint64_t(p - 1) * l.PlaneBytes;
  plane.clear();
  plane.reserve(size_t(w) * size_t(h));
  std::vector<float> decoded(DecodePixels);
  if (l.RowBytes <= ChunkBytes) {
    const int64_t rowsPerChunk = int64_t(ChunkBytes / l.RowBytes);
    std::vector<uint8_t> raw(size_t(std::min<int64_t>(rowsPerChunk, h)) * size_t(l.RowBytes));
    for (int64_t y0 = 0; y0 < h; y0 += rowsPerChunk) {
      const int64_t y1 = std::min(h, y0 + rowsPerChunk);
      // File row r holds image row r ("Fits umdrehen" on) or Height-1-r.
      const int64_t firstFileRow = flip ? y0 : h - y1;
      const size_t bytes = size_t(y1 - y0) * size_t(l.RowBytes);
      if (!in.ReadAt(planeOffset + uint64_t(firstFileRow) * l.RowBytes, std::span(raw.data(), bytes))) return false;
      for (int64_t y = y0; y < y1; ++y) {
        const int64_t k = flip ? y - y0 : y1 - 1 - y;
        AppendDecoded(dec, raw.data() + size_t(k) * size_t(l.RowBytes), size_t(w), bpp, decoded, plane);
      }
    }
  } else {
    // Rows longer than a chunk are read in pieces.
    const int64_t piece = int64_t(ChunkBytes) / bpp;
    std::vector<uint8_t> raw(size_t(piece) * size_t(bpp));
    for (int64_t y = 0; y < h; ++y) {
      const int64_t r = flip ? y : h - 1 - y;
      for (int64_t x0 = 0; x0 < w; x0 += piece) {
        const int64_t n = std::min(piece, w - x0);
        const uint64_t at = planeOffset + uint64_t(r) * l.RowBytes + uint64_t(x0) * uint64_t(bpp);
        if (!in.ReadAt(at, std::span(raw.data(), size_t(n) * size_t(bpp)))) return false;
        AppendDecoded(dec, raw.data(), size_t(n), bpp, decoded, plane);
      }
    }
  }
  return true;
}

}  // namespace

TFitsReadStatus ReadFitsPlanes(const TFitsFile& file, bool flip, TFitsPlanes& planes) {
  if (!file.Layout) return TFitsReadStatus::ReadError;
  const TFitsImageLayout& l = *file.Layout;
  const int planeCount = l.IsColor ? 3 : 1;
  try {
    const TFitsDecoder decoder(l.Bitpix, FitsScalingFor(l.Bitpix, file.Info));
    for (int p = 1; p <= l.PlanesInFile; ++p)
      if (!ReadPlane(file.Input, l, p, decoder, flip, planes[size_t(p)])) return TFitsReadStatus::ReadError;
    for (int p = l.PlanesInFile + 1; p <= planeCount; ++p)
      planes[size_t(p)].assign(size_t(l.Width) * size_t(l.Height), BlankPixel);
  } catch (const std::bad_alloc&) {
    return TFitsReadStatus::OutOfMemory;
  } catch (const std::length_error&) {
    return TFitsReadStatus::OutOfMemory;
  }
  return TFitsReadStatus::Ok;
}

namespace {

bool Refuse() {
  EngineUi().ShowMessage(HeaderNotRecognisedText());
  return false;
}

// Display settings from the program's own cards (a QZHP3 card wins over a
// QZHistPar card); false when the file has neither.
bool ApplyDisplayCards(int slot, const TFitsHeaderInfo& info) {
  TDisplayRecord& d = Store.Display[slot];
  if (!info.Hp3Card.empty())
    ApplyHp3Card(info.Hp3Card, d);
  else if (info.HistPar)
    ApplyHistPar(*info.HistPar, d);
  else
    return false;
  if (d.White > d.RangeHigh) d.RangeHigh = d.White;
  if (d.Black < d.RangeLow) d.RangeLow = d.Black;
  return true;
}

}  // namespace

bool LoadFits(int slot, const std::string& fileName, bool headerOnly) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  TFitsFile file;
  if (!OpenFitsFile(fileName, file)) return false;
  const TFitsHeaderInfo& info = file.Info;
  StoreCards(slot, std::move(file.Cards), info.HasEnd);

  if (headerOnly) {
    if (!info.HasEnd) return false;
    TImageSlot& im = Store.Image[slot];
    const int64_t w = info.Naxis1.value_or(1), h = info.Naxis2.value_or(1);
    im.Width = w >= 1 && w <= MaxFitsPixels ? int32_t(w) : 1;
    im.Height = h >= 1 && h <= MaxFitsPixels ? int32_t(h) : 1;
    im.IsColor = info.IsColor ? 1 : 0;
    im.DarkRms = info.DarkRms;
    return true;
  }

  if (!file.Layout || CountOpenWindows() >= MaxImageSlots) return Refuse();
  const TFitsImageLayout& l = *file.Layout;
  const int planeCount = l.IsColor ? 3 : 1;
  const uint64_t needed = uint64_t(planeCount) * uint64_t(l.Width) * uint64_t(l.Height) * sizeof(float);
  const uint64_t available = AvailableMemory();
  if (available > 0 && needed > available) {
    EngineUi().ShowMessage(OutOfMemoryText(fileName));
    return false;
  }

  TImageSlot& im = Store.Image[slot];
  // A free slot's old planes go first, so that loading never holds two images.
  if (!Store.InUse[slot]) im.FreePlanes();
  TFitsPlanes planes;
  switch (ReadFitsPlanes(file, Options.FitsFlip != 0, planes)) {
    case TFitsReadStatus::Ok:
      break;
    case TFitsReadStatus::OutOfMemory:
      EngineUi().ShowMessage(OutOfMemoryText(fileName));
      return false;
    case TFitsReadStatus::ReadError:
      EngineUi().ShowMessage(FileOpenErrorText(fileName));
      return false;
  }

  im.Width = l.Width;
  im.Height = l.Height;
  im.IsColor = l.IsColor ? 1 : 0;
  im.PlaneCount = planeCount;
  im.ColorModel = CmRgb;
  if (l.IsColor) {
    const int k = FindHeaderKeyword(slot, "CTYPE3  = ");
    if (k > 0 && ContainsStr(Store.Header[slot][size_t(k)], "YUV")) im.ColorModel = CmYuv;
  }
  im.DarkRms = info.DarkRms;
  for (int p = 1; p <= 3; ++p) im.Planes[size_t(p)] = std::move(planes[size_t(p)]);
  Store.InUse[slot] = 1;
  Store.FileName[slot] = fileName;
  im.NumberedName = 0;

  ResetDisplayRange(slot, 0);
  const bool displayCards = ApplyDisplayCards(slot, info);
  if (info.Hp3Card.empty()) {
    TDisplayRecord& d = Store.Display[slot];
    const int p = l.IsColor ? 2 : 1;
    const float threshold = d.Black + 0.2f * (d.White - d.Black);
    d.SqrtHistogram = PercentAbove(im.Plane(p), threshold) < 50 ? 1 : 0;
  }
  ComputeHistogram(slot, false, false);
  if (!displayCards) SetAutoDisplayRange(slot, false);
  return true;
}

}  // namespace astrelon
