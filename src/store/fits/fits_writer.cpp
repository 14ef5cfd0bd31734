#include "store/fits/fits_writer.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/language.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/fits/fits_chunk_plan.h"
#include "store/fits/fits_chunk_turns.h"
#include "store/fits/fits_display_cards.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_layout.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/fits/fits_pixel_encoder.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

std::time_t (*FitsSaveClock)() = [] { return std::time(nullptr); };

namespace {

// ---- scaling ------------------------------------------------------------------

struct TIntRange {
  double Levels;  // raw steps spanned by the valid values
  double Top;     // raw code of the maximum
  double Bottom;  // raw code of the blank value when the data are shifted up
};

TIntRange RangeOf(int bitpix) {
  if (bitpix == 16) return {65530.0, 32766.0, -32767.0};
  return {655300000.0, 327600000.0, -327600000.0};
}

TFitsEncoding EncodingOf(const TFitsScalePlan& plan) {
  TFitsEncoding e;
  e.Bitpix = plan.Bitpix;
  e.Bzero = plan.Bzero;
  e.InvScale = plan.Bscale > 0 ? 1.0 / plan.Bscale : 1.0;
  e.BlankBits = plan.Bitpix == -32 ? std::bit_cast<uint32_t>(plan.BlankFloat) : uint32_t(int32_t(plan.BlankCode));
  return e;
}

// The value of a scale card as the reader parses it back from its text.
double CardValue(double value) {
  const std::string text = FormatCardExponent(value);
  return ParseFitsNumber(text).value_or(value);
}

TFitsScalePlan ComputePlan(int bitpix, double maxValue, double lo, bool hasBlank) {
  TFitsScalePlan plan;
  plan.Bitpix = bitpix;
  plan.HasBlank = hasBlank;
  if (bitpix != 16 && bitpix != 32) {
    plan.Bitpix = -32;
    plan.BlankFloat = float(lo);
    return plan;
  }
  const TIntRange r = RangeOf(bitpix);
  const double bscale = (maxValue - lo) / r.Levels;
  double bzero = 0.0;
  if (r.Top * bscale < maxValue)
    bzero = maxValue - r.Top * bscale;
  else if (r.Bottom * bscale > lo)
    bzero = lo - r.Bottom * bscale;
  plan.Scaled = true;
  plan.Bscale = CardValue(bscale);
  plan.Bzero = CardValue(bzero);
  plan.BlankCode = FitsRawCode(lo, EncodingOf(plan));
  return plan;
}

// True when the blank code reads back as blank and no valid value as blank, as
// the reader will decide from the cards written.
bool BlankReadsBack(const TFitsScalePlan& plan, double minValue, double maxValue) {
  if (plan.Bitpix == -32) {
    const double b = ParseFitsNumber(FormatCardExponent(plan.BlankFloat)).value_or(plan.BlankFloat);
    return std::fabs(double(plan.BlankFloat) - b) < 0.01 && minValue - b >= 0.01;
  }
  TFitsHeaderInfo info;
  info.Bzero = plan.Bzero;
  info.Bscale = plan.Bscale;
  info.BlankDefined = true;
  info.BlankFromKeyword = true;
  info.BlankValue = double(plan.BlankCode);
  const TFitsScaling scaling = FitsScalingFor(plan.Bitpix, info);
  const TFitsDecoder decoder(plan.Bitpix, scaling);
  if (IsValidPixel(decoder.Convert(double(plan.BlankCode)))) return false;
  const TFitsEncoding e = EncodingOf(plan);
  const double rmin = FitsRawCode(minValue, e), rmax = FitsRawCode(maxValue, e);
  if (scaling.Blank == TFitsBlankRule::RawEquals) return plan.BlankCode < rmin || plan.BlankCode > rmax;
  // A physical blank value: the valid codes decode to a range that must keep 0.01 away.
  const double vmin = rmin * plan.Bscale + plan.Bzero, vmax = rmax * plan.Bscale + plan.Bzero;
  const double b = scaling.BlankValue;
  return vmin - b >= 0.01 || b - vmax >= 0.01;
}

}  // namespace

TFitsScalePlan PlanFitsScaling(int bitpix, float minValue, float maxValue, bool hasBlank) {
  double lo = minValue;
  if (hasBlank) {
    lo = lo - 0.0001 * (double(maxValue) - double(minValue)) - 0.00001;
    int64_t c = Round(lo - 0.5);
    if (c == 0) c = -1;
    lo = double(c);
  }
  TFitsScalePlan plan = ComputePlan(bitpix, maxValue, lo, hasBlank);
  // The blank value may lie so close to the minimum that valid pixels would read
  // back as blank: lower it (by at least one float step at its size) until not.
  for (int attempt = 0; hasBlank && attempt < 64 && !BlankReadsBack(plan, minValue, maxValue); ++attempt) {
    lo = std::floor(lo - std::max(1.0, std::fabs(lo) * 0x1p-20));
    plan = ComputePlan(bitpix, maxValue, lo, hasBlank);
  }
  // Far above zero a float blank value may have no exact 14-digit card text, and
  // the blank pixels would read back as valid; -1 lies below every valid value.
  if (hasBlank && plan.Bitpix == -32 && minValue > 0 && !BlankReadsBack(plan, minValue, maxValue))
    plan = ComputePlan(bitpix, maxValue, -1.0, hasBlank);
  return plan;
}

namespace {

// ---- header cards -------------------------------------------------------------

// The keyword of a card: columns 1..8 without trailing blanks.
std::string_view KeywordOf(std::string_view card) {
  std::string_view k = card.substr(0, 8);
  while (!k.empty() && k.back() == ' ') k.remove_suffix(1);
  return k;
}

// "KEY     = " and the integer right-justified to column 30; what followed column
// 30 in the old card (a comment) stays.
std::string IntegerCardText(std::string_view key, int64_t value, std::string_view old = {}) {
  std::string card(key);
  card.resize(8, ' ');
  card += "= ";
  const std::string digits = IntToStr(value);
  card += std::string(digits.size() < 20 ? 20 - digits.size() : 0, ' ') + digits;
  const std::string padded = PadCard(old);
  if (!old.empty()) card += padded.substr(30);
  return PadCard(card);
}

bool IsAxisKeyword(std::string_view k) {
  if (k == "SIMPLE" || k == "BITPIX" || k == "NAXIS") return true;
  if (k.size() < 6 || k.substr(0, 5) != "NAXIS") return false;
  return std::all_of(k.begin() + 5, k.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Makes the mandatory cards match the planes written: SIMPLE, BITPIX, NAXIS,
// NAXIS1, NAXIS2 (and NAXIS3 for more than one plane) in this order at the top
// of the header, and CTYPE3 for colour images. Cards that already stand in this
// order keep their comments; otherwise they are built afresh.
void NormalizeAxisCards(int slot, int bitpix) {
  THeaderCardList& h = Store.Header[slot];
  const TImageSlot& im = Store.Image[slot];
  const bool planes3 = im.PlaneCount > 1;
  std::vector<std::string> want{"SIMPLE", "BITPIX", "NAXIS", "NAXIS1", "NAXIS2"};
  if (planes3) want.push_back("NAXIS3");
  const std::vector<int64_t> values{0, bitpix, planes3 ? 3 : 2, im.Width, im.Height, im.PlaneCount};

  int end = h.FindEnd();
  bool inOrder = end > int(want.size());
  for (size_t i = 0; inOrder && i < want.size(); ++i) inOrder = KeywordOf(h[i]) == want[i];
  for (int i = int(want.size()); inOrder && i < end; ++i) inOrder = !IsAxisKeyword(KeywordOf(h[size_t(i)]));

  if (inOrder) {
    h[0] = PadCard("SIMPLE  =                    T");
    for (size_t i = 1; i < want.size(); ++i) h[i] = IntegerCardText(want[i], values[i], h[i]);
  } else {
    for (int i = end - 1; i >= 0; --i)
      if (IsAxisKeyword(KeywordOf(h[size_t(i)]))) h.Cards.erase(h.Cards.begin() + i);
    h.Cards.insert(h.Cards.begin(), PadCard("SIMPLE  =                    T"));
    for (size_t i = 1; i < want.size(); ++i) h.Cards.insert(h.Cards.begin() + std::ptrdiff_t(i), IntegerCardText(want[i], values[i]));
  }
  h.EnsureRoomAfterEnd();

  const int ctype = FindHeaderKeyword(slot, "CTYPE3  ");
  if (im.IsColor && planes3) {
    const char* card = im.ColorModel != CmRgb ? "CTYPE3  = 'YUV     '" : "CTYPE3  = 'RGB     '";
    if (ctype > 0)
      h[size_t(ctype)] = PadCard(card);
    else
      h.InsertAt(int(want.size()), card);
  } else if (ctype > 0) {
    h.Cards.erase(h.Cards.begin() + ctype);
    h.Cards.emplace_back();
  }
}

// Step through the cards up to END: the BITPIX card is replaced, scale and blank
// cards that do not apply are removed.
void ReplaceFormatCards(int slot, const TFitsScalePlan& plan) {
  THeaderCardList& h = Store.Header[slot];
  if (h.FindEnd() >= int(h.size())) {
    // No END card: one is put after the cards there are.
    const size_t old = h.size();
    h.Cards.resize(old + 5);
    h[old] = PadCard("END");
  }
  const std::string bitpixCard = IntegerCardText("BITPIX", plan.Bitpix);
  for (int i = 0; i < h.FindEnd();) {
    const std::string& card = h[size_t(i)];
    const std::string_view k = KeywordOf(card);
    const bool drop = ((k == "BZERO" || k == "BSCALE") && !plan.Scaled) ||
                      (k == "BLANK" && (!plan.HasBlank || plan.Bitpix == -32)) ||
                      std::string_view(card).substr(0, 14) == "COMMENT BLANK ";
    if (drop) {
      h.Cards.erase(h.Cards.begin() + i);
      h.Cards.emplace_back();
      continue;
    }
    if (card.size() > 5 && card.compare(0, 6, "BITPIX") == 0) h[size_t(i)] = bitpixCard;
    ++i;
  }
}

std::string SaveCommentText() {
  std::string text = FoldToAscii(LangTextOr(LangKey(9, 52), "Bearbeitet mit Astrelon am"));
  std::tm t{};
  const std::time_t now = FitsSaveClock();
  localtime_r(&now, &t);
  auto two = [](int v) { return std::string(1, char('0' + v / 10 % 10)) + char('0' + v % 10); };
  const std::string stamp = two(t.tm_mday) + "." + two(t.tm_mon + 1) + "." + IntToStr(t.tm_year + 1900) + " " +
                            two(t.tm_hour) + ":" + two(t.tm_min) + ":" + two(t.tm_sec);
  std::string card = "COMMENT " + text + " " + stamp;
  if (card.size() > CardLength) card.resize(CardLength);
  return card;
}

void WriteCards(int slot, const TFitsScalePlan& plan, bool writeDisplayCards) {
  if (plan.Scaled) {
    SetHeaderKeyword(slot, "BZERO   ", "", plan.Bzero, true, false, false);
    SetHeaderKeyword(slot, "BSCALE  ", "", plan.Bscale, true, false, false);
  }
  if (plan.HasBlank) {
    if (plan.Bitpix == -32)
      SetHeaderKeyword(slot, "COMMENT BLANK ", FormatCardExponent(plan.BlankFloat), 0, false, false, true);
    else
      SetHeaderKeyword(slot, "BLANK   ", "", double(plan.BlankCode), true, true, false);
  }
  // The whole comment is the key, so a save in the same second replaces its card.
  SetHeaderKeyword(slot, SaveCommentText(), "", 0, false, false, true);
  const TDisplayRecord& d = Store.Display[slot];
  if (writeDisplayCards) {
    const std::string histPar = HistParCardText(d);
    const std::string hp3 = Hp3CardText(d);
    SetHeaderKeyword(slot, HistParCardKey, histPar.substr(HistParCardKey.size()), 0, false, false, true);
    SetHeaderKeyword(slot, Hp3CardKey, hp3.substr(Hp3CardKey.size()), 0, false, false, true);
  } else {
    // Without display cards the file holds none: a reader makes the display
    // range from the values (a card of the frame the slot was read from would
    // set it from other ones).
    for (const std::string_view key : {HistParCardKey, Hp3CardKey})
      for (int k; (k = FindHeaderKeyword(slot, key)) > 0;) DeleteHeaderCard(slot, k);
  }
  const double rms = Store.Image[slot].DarkRms;
  if (rms > 0) SetHeaderKeyword(slot, "COMMENT MDarkRMS ", FormatCardExponent(rms), 0, false, false, true);
}

// ---- pixels -------------------------------------------------------------------

enum class TWriteResult { Ok, Failed, FoundBlank };

// Threads for writing or scanning `samples` samples ("Multicores" off: one).
int WriteThreads(int64_t samples) { return BandThreads(samples, int64_t(1) << 19, Options.Multicore != 0); }

// Scans merged in chunk order: of two equal extremes the earlier one stays, as
// in one pass over the whole plane.
void MergeScan(TPlaneScan& into, const TPlaneScan& next) {
  into.Min = next.Min < into.Min ? next.Min : into.Min;
  into.Max = next.Max > into.Max ? next.Max : into.Max;
  into.HasBlank = into.HasBlank || next.HasBlank;
}

// Writes the file. The data are cut into chunks that workers encode side by
// side, straight into the mapped file where the file system allows it, else
// into buffers of their own that they write in file order. With `scans` (BITPIX
// -32 only, written as if the image had no blank pixel) the planes are scanned
// while they are encoded, and the write stops at the first blank pixel found.
TWriteResult WriteFile(int slot, const TFitsScalePlan& plan, const std::string& name, TPlaneScan* scans) {
  const TImageSlot& im = Store.Image[slot];
  TAtomicFile file;
  if (!file.Open(name)) return TWriteResult::Failed;
  std::string header;
  const std::vector<std::string> cards = Store.Header[slot].ActiveCards();
  for (const std::string& card : cards) {
    std::string c = card;
    for (char& ch : c)
      if (ch < 32 || ch > 126) ch = '?';
    header += c;
  }
  // The file always ends its header with a real END card, also when the list has none.
  if (cards.empty() || cards.back().compare(0, 8, "END     ") != 0)
    header += PadCard("END");
  else
    header.replace(header.size() - CardLength, CardLength, PadCard("END"));
  header.resize(size_t(FitsBlockRoundUp(header.size())), ' ');

  const TFitsEncoding encoding = EncodingOf(plan);
  const int bytesPerPixel = plan.Bitpix == 16 ? 2 : 4;
  const TFitsChunkPlan chunks(im.Width, im.Height, bytesPerPixel, im.PlaneCount);
  const bool flip = Options.FitsFlip != 0;
  std::vector<TPlaneScan> chunkScans(scans ? size_t(chunks.Count) : 0);
  std::atomic<bool> foundBlank{false}, writeFailed{false};
  TChunkTurns turns(chunks.Count);
  const int threads = int(std::min<int64_t>(WriteThreads(int64_t(chunks.PlaneSamples) * im.PlaneCount),
                                            std::max<int64_t>(chunks.Count, 1)));
  // Encodes chunk c into dst; false when a blank pixel stops the write.
  auto encode = [&](int64_t c, const TFitsChunkPlan::TChunk& chunk, uint8_t* dst) {
    const float* plane = im.Planes[size_t(chunk.Plane)].data();
    chunks.ForEachRowPiece(chunk, flip, [&](uint64_t pixel, uint64_t sample, uint64_t n) {
      const std::span<const float> row(plane + pixel, size_t(n));
      uint8_t* out = dst + (sample - chunk.First) * uint64_t(bytesPerPixel);
      if (scans)
        EncodeFloatRowScanning(row, encoding.BlankBits, out, chunkScans[size_t(c)], Sse2Enabled);
      else
        EncodeFitsRow(row, encoding, out, Sse2Enabled);
    });
    if (scans && chunkScans[size_t(c)].HasBlank) {
      foundBlank = true;
      turns.Fail();
      return false;
    }
    return true;
  };

  const uint64_t dataBytes = chunks.PlaneSamples * uint64_t(bytesPerPixel) * uint64_t(im.PlaneCount);
  // One thread writes as fast through the kernel's copy as through a mapping.
  const std::span<std::byte> map =
      threads > 1 ? file.MapForWriting(size_t(header.size() + FitsBlockRoundUp(dataBytes))) : std::span<std::byte>();
  if (!file.IsOpen()) return TWriteResult::Failed;
  if (!map.empty()) {
    // The workers encode straight into the mapped file (the padding is zero already).
    std::memcpy(map.data(), header.data(), header.size());
    uint8_t* data = reinterpret_cast<uint8_t*>(map.data()) + header.size();
    RunChunkWorkers(threads, turns, [&] {
      for (int64_t c = turns.Claim(); c >= 0; c = turns.Claim()) {
        const TFitsChunkPlan::TChunk chunk = chunks.Chunk(c);
        const uint64_t sample = uint64_t(chunk.Plane - 1) * chunks.PlaneSamples + chunk.First;
        if (!encode(c, chunk, data + sample * uint64_t(bytesPerPixel))) break;
      }
    });
  } else {
    // Workers encode into buffers of their own and write them in file order.
    if (!file.Write(header)) return TWriteResult::Failed;
    RunChunkWorkers(threads, turns, [&] {
      std::vector<uint8_t> buffer(size_t(std::min(chunks.ChunkSamples, chunks.PlaneSamples)) * size_t(bytesPerPixel));
      for (int64_t c = turns.Claim(); c >= 0; c = turns.Claim()) {
        const TFitsChunkPlan::TChunk chunk = chunks.Chunk(c);
        if (!encode(c, chunk, buffer.data())) break;
        if (!turns.WaitTurn(c)) break;
        const size_t bytes = size_t(chunk.Last - chunk.First) * size_t(bytesPerPixel);
        const bool ok = file.Write(std::as_bytes(std::span(buffer.data(), bytes)));
        turns.PassTurn();
        if (!ok) {
          writeFailed = true;
          turns.Fail();
          break;
        }
      }
    });
  }
  if (foundBlank) return TWriteResult::FoundBlank;
  if (writeFailed || turns.Failed()) return TWriteResult::Failed;
  if (scans)
    for (int64_t c = 0; c < chunks.Count; ++c) MergeScan(scans[chunks.Chunk(c).Plane], chunkScans[size_t(c)]);

  const size_t padding = size_t(FitsBlockRoundUp(dataBytes) - dataBytes);
  if (map.empty() && padding > 0 && !file.Write(std::string(padding, '\0'))) return TWriteResult::Failed;
  return file.Commit() ? TWriteResult::Ok : TWriteResult::Failed;
}

std::string FinalFileName(const std::string& fileName) {
  const std::string ext = UpperCase(ExtractFileExt(fileName));
  if (ext == ".FIT" || ext == ".FTS") return fileName;
  return ChangeFileExt(fileName, Settings.FitsExtension);
}

// Sets the slot's minimum and maximum as UpdateMinMax does from the scans of
// planes 1..PlaneCount; values above 1e18 count as 1e18 but stay in the planes.
void ApplyScans(int slot, const TPlaneScan* scans) {
  TImageSlot& im = Store.Image[slot];
  float lo = 1e18f, hi = -1e18f;
  for (int p = 1; p <= im.PlaneCount; ++p) {
    const TPlaneScan& s = scans[p];
    if (s.Min < 1e18f) {
      // A zero found as an extreme is +0, whichever zero came first.
      im.PlaneMin[size_t(p)] = s.Min + 0.0f;
      im.PlaneMax[size_t(p)] = s.Max + 0.0f;
      lo = std::min(lo, s.Min + 0.0f);
      hi = std::max(hi, s.Max + 0.0f);
    } else {
      im.PlaneMin[size_t(p)] = 0.0f;
      im.PlaneMax[size_t(p)] = 1.0f;
    }
  }
  im.MinValue = lo < 1e18f ? lo : 0.0f;
  im.MaxValue = lo < 1e18f ? hi : 1.0f;
}

// Minimum, maximum and blank pixels of the slot from one pass over each plane;
// true when it has blank pixels.
bool UpdateStatisticsForSave(int slot) {
  const TImageSlot& im = Store.Image[slot];
  TPlaneScan scans[4];
  bool blank = false;
  // Pieces of a fixed size scanned on threads and merged in order.
  constexpr size_t Piece = size_t(1) << 18;
  const size_t n = im.PixelCount();
  const int64_t pieces = int64_t((n + Piece - 1) / Piece);
  std::vector<TPlaneScan> parts(static_cast<size_t>(pieces));
  const int threads = int(std::min<int64_t>(WriteThreads(int64_t(n) * im.PlaneCount), std::max<int64_t>(pieces, 1)));
  for (int p = 1; p <= im.PlaneCount; ++p) {
    const std::span<const float> plane = im.Plane(p).first(n);
    ForEachBand(pieces, threads, [&](int64_t first, int64_t last) {
      for (int64_t k = first; k < last; ++k)
        parts[size_t(k)] = ScanPlaneForSave(plane.subspan(size_t(k) * Piece, std::min(Piece, n - size_t(k) * Piece)),
                                            Sse2Enabled);
    });
    for (const TPlaneScan& part : parts) MergeScan(scans[p], part);
    blank = blank || scans[p].HasBlank;
  }
  ApplyScans(slot, scans);
  return blank;
}

bool PlanesComplete(const TImageSlot& im) {
  if (im.Width < 1 || im.Height < 1 || im.PlaneCount < 1 || im.PlaneCount > 3) return false;
  for (int p = 1; p <= im.PlaneCount; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return false;
  return true;
}

}  // namespace

bool SaveFits(int slot, int bitpix, const std::string& fileName, bool writeDisplayCards, bool askDynamicRange) {
  if (!SlotInUse(slot) || !PlanesComplete(Store.Image[slot])) return false;
  const std::string name = FinalFileName(fileName);
  const TImageSlot& im = Store.Image[slot];
  const bool integer = bitpix == 16 || bitpix == 32;
  // Integer formats scale by the minimum and maximum, so they are found first.
  // A float file is written in one pass that finds them on the way, and written
  // again only when that pass meets a blank pixel (whose value is then known).
  bool hasBlank = integer ? UpdateStatisticsForSave(slot) : false;

  if (askDynamicRange && bitpix == 16) {
    const int p = im.IsColor && im.ColorModel == CmRgb ? 2 : 1;
    const float noise = std::max(EstimatePlaneNoise(slot, p), 0.0001f);
    if ((im.MaxValue - im.MinValue) / noise > 15000.0f) {
      const std::string question = LangTextOr(LangKey(9, 51),
                                              "Die Bilddynamik ist sehr groß und mit 16 Bit können Verluste beim "
                                              "Speichern auftreten. Soll das Bild mit 32 Bit gespeichert werden?");
      if (EngineUi().AskYesNoCancel(question, false) == TDialogAnswer::Yes) bitpix = 32;
    }
  }

  const THeaderCardList oldCards = Store.Header[slot];
  auto attempt = [&](bool scanning, TPlaneScan* scans) {
    const TFitsScalePlan plan = PlanFitsScaling(bitpix, im.MinValue, im.MaxValue, hasBlank);
    Store.Header[slot] = oldCards;
    ReplaceFormatCards(slot, plan);
    NormalizeAxisCards(slot, plan.Bitpix);
    WriteCards(slot, plan, writeDisplayCards);
    return WriteFile(slot, plan, name, scanning ? scans : nullptr);
  };
  TWriteResult result;
  if (integer) {
    result = attempt(false, nullptr);
  } else {
    TPlaneScan scans[4];
    result = attempt(true, scans);
    if (result == TWriteResult::FoundBlank) {
      hasBlank = UpdateStatisticsForSave(slot);
      result = attempt(false, nullptr);
    } else if (result == TWriteResult::Ok) {
      ApplyScans(slot, scans);
    }
  }
  if (result != TWriteResult::Ok) {
    Store.Header[slot] = oldCards;
    if (HeaderChangedHook) HeaderChangedHook(slot);
    return false;
  }
  Store.FileName[slot] = name;
  if (HeaderChangedHook) HeaderChangedHook(slot);
  return true;
}

}  // namespace astrelon
