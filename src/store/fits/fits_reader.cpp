#include "store/fits/fits_reader.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "common/paths.h"
#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/fits/fits_chunk_plan.h"
#include "store/fits/fits_chunk_turns.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_layout.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/plane_routines.h"
#include "store/raw/own_raw.h"

namespace astrelon {

namespace {

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

// Decodes a chunk from raw into the plane's rows, and measures the pixels
// while they are in the cache.
void DecodeChunk(const TFitsChunkPlan& plan, const TFitsChunkPlan::TChunk& c, const TFitsDecoder& dec, int bpp,
                 bool flip, const uint8_t* raw, TPlane& plane, TMinMaxScan& scan) {
  plan.ForEachRowPiece(c, flip, [&](uint64_t pixel, uint64_t sample, uint64_t n) {
    float* dst = plane.data() + pixel;
    dec.DecodeRow(raw + (sample - c.First) * uint64_t(bpp), size_t(n), dst, Sse2Enabled);
    ScanMinMax(std::span<float>(dst, size_t(n)), int32_t(n), 1, int64_t(n), scan, Sse2Enabled);
  });
}

}  // namespace

TFitsReadStatus ReadFitsPlanes(const TFitsFile& file, bool flip, int threads, TFitsPlanes& planes,
                               std::array<TMinMaxScan, 4>& scans, TFitsReadOrder order) {
  if (!file.Layout) return TFitsReadStatus::ReadError;
  const TFitsImageLayout& l = *file.Layout;
  const int planeCount = l.IsColor ? 3 : 1;
  const TFitsChunkPlan plan(l.Width, l.Height, l.BytesPerPixel, l.PlanesInFile);
  scans = {};
  try {
    const TFitsDecoder decoder(l.Bitpix, FitsScalingFor(l.Bitpix, file.Info));
    // The planes' memory is first touched by the workers that fill it.
    for (int p = 1; p <= planeCount; ++p) planes[size_t(p)].resize(size_t(plan.PlaneSamples));
    const uint64_t dataBytes = l.PlaneBytes * uint64_t(l.PlanesInFile);
    // Chunks that are in memory are read side by side; from a disk they are read
    // front to back, each worker waiting for its chunk's turn.
    const bool inOrder = order == TFitsReadOrder::FileOrder || !file.Input.Resident(l.DataOffset, dataBytes);
    if (inOrder) file.Input.AdviseSequential(l.DataOffset, dataBytes);
    TChunkTurns turns(plan.Count);
    std::atomic<bool> readFailed{false};
    std::mutex merging;
    threads = int(std::clamp<int64_t>(threads, 1, std::max<int64_t>(plan.Count, 1)));
    RunChunkWorkers(threads, turns, [&] {
      std::vector<uint8_t> raw(size_t(std::min(plan.ChunkSamples, plan.PlaneSamples)) * size_t(l.BytesPerPixel));
      std::array<TMinMaxScan, 4> own{};
      for (int64_t c = turns.Claim(); c >= 0; c = turns.Claim()) {
        const TFitsChunkPlan::TChunk chunk = plan.Chunk(c);
        const size_t p = size_t(chunk.Plane);
        const uint64_t at = l.DataOffset + (p - 1) * l.PlaneBytes + chunk.First * uint64_t(l.BytesPerPixel);
        const std::span<uint8_t> bytes(raw.data(), size_t(chunk.Last - chunk.First) * size_t(l.BytesPerPixel));
        if (inOrder && !turns.WaitTurn(c)) break;
        const bool ok = file.Input.ReadAt(at, bytes);
        if (inOrder) turns.PassTurn();
        if (!ok) {
          readFailed = true;
          turns.Fail();
          break;
        }
        DecodeChunk(plan, chunk, decoder, l.BytesPerPixel, flip, raw.data(), planes[p], own[p]);
      }
      std::lock_guard<std::mutex> lock(merging);
      for (size_t p = 1; p <= 3; ++p) scans[p].Merge(own[p]);
    });
    if (readFailed) return TFitsReadStatus::ReadError;
    for (int p = l.PlanesInFile + 1; p <= planeCount; ++p) {
      TPlane& plane = planes[size_t(p)];
      ForEachBand(int64_t(plane.size()), threads, [&](int64_t first, int64_t last) {
        std::fill(plane.begin() + first, plane.begin() + last, BlankPixel);
      });
    }
  } catch (const std::bad_alloc&) {
    return TFitsReadStatus::OutOfMemory;
  } catch (const std::length_error&) {
    return TFitsReadStatus::OutOfMemory;
  }
  return TFitsReadStatus::Ok;
}

namespace {

// CountAbove over bands of the values on threads; counts add up in any order.
TAboveCount CountAboveInBands(std::span<const float> values, float threshold, int threads) {
  TAboveCount total;
  std::mutex merging;
  ForEachBand(int64_t(values.size()), threads, [&](int64_t first, int64_t last) {
    const TAboveCount part = CountAbove(values.subspan(size_t(first), size_t(last - first)), threshold);
    std::lock_guard<std::mutex> lock(merging);
    total.Valid += part.Valid;
    total.Above += part.Above;
  });
  return total;
}

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
  std::array<TMinMaxScan, 4> scans{};
  const int64_t samples = int64_t(l.Width) * int64_t(l.Height) * std::max(l.PlanesInFile, 1);
  const int threads = BandThreads(samples, int64_t(1) << 19, Options.Multicore != 0);
  switch (ReadFitsPlanes(file, Options.FitsFlip != 0, threads, planes, scans)) {
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

  // The minimum and maximum were measured while the planes were read.
  SetMinMaxFromScans(slot, scans);
  ResetDisplayRangeMeasured(slot, 0);
  const bool displayCards = ApplyDisplayCards(slot, info);
  if (info.Hp3Card.empty()) {
    TDisplayRecord& d = Store.Display[slot];
    const int p = l.IsColor ? 2 : 1;
    const float threshold = d.Black + 0.2f * (d.White - d.Black);
    d.SqrtHistogram = CountAboveInBands(im.Plane(p), threshold, threads).Percent() < 50 ? 1 : 0;
  }
  ComputeHistogram(slot, false, false);
  if (!displayCards) SetAutoDisplayRange(slot, false);
  return true;
}

bool LoadsAsFits(const std::string& fileName) {
  const std::string ext = UpperFileExt(fileName).substr(0, 4);
  return (ext == ".FTS" || ext == ".FIT") && !ContainsStr(OwnRawExtensionList, ext);
}

}  // namespace astrelon
