#include "store/raw/own_raw.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/atomic_file.h"
#include "common/file_extension.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "common/text_codec.h"
#include "core/settings.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

std::array<TRawFormatDef, RawFormatCount + 1> RawFormatDefs;
std::string OwnRawExtensionList;
TMosaicConversion MosaicConversion;

bool RawLayoutValid(const TRawFormatDef& def) {
  return def.HeaderOffset >= 0 && def.Width >= 1 && def.Height >= 1 &&
         int64_t(def.Width) * int64_t(def.Height) <= MaxOwnRawPixels;
}

int64_t RawLayoutFileSize(const TRawFormatDef& def) {
  return int64_t(def.HeaderOffset) + int64_t(def.Width) * int64_t(def.Height) * (def.Bits == 8 ? 1 : 2);
}

std::string RawDefinitionFileName(int index) { return SettingsFolder() + "/rawdef" + std::to_string(index) + ".ini"; }

namespace {

std::optional<int32_t> LineInt(const std::vector<std::string>& lines, size_t i) {
  if (i >= lines.size()) return std::nullopt;
  const std::optional<int64_t> v = TryStrToInt(lines[i]);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return int32_t(*v);
}

std::string Line(const std::vector<std::string>& lines, size_t i) { return i < lines.size() ? lines[i] : std::string(); }

}  // namespace

void ReadRawDefinition(int index, const std::string& fileName) {
  if (index < 1 || index > RawFormatCount) return;
  TRawFormatDef& def = RawFormatDefs[size_t(index)];
  def = TRawFormatDef{};
  const std::optional<std::string> text = ReadTextFile(fileName, 64 * 1024);
  if (!text) return;
  const std::vector<std::string> lines = SplitLines(*text);
  TRawFormatDef read;
  read.Extension = Line(lines, 0);
  const std::optional<int32_t> offset = LineInt(lines, 1), width = LineInt(lines, 2), height = LineInt(lines, 3),
                               bits = LineInt(lines, 4);
  if (!offset || !width || !height || !bits) return;
  read.HeaderOffset = *offset;
  read.Width = *width;
  read.Height = *height;
  read.Bits = *bits;
  if (!RawLayoutValid(read)) return;
  read.IntelOrder = Line(lines, 5) == "Intel";
  read.InUse = Line(lines, 6) == "Verwenden";
  read.ColorInterpolation = Line(lines, 7) == "Farbinterpolation";
  if (read.ColorInterpolation) read.Pattern = Line(lines, 8);
  def = read;
}

void BuildOwnRawExtensionList() {
  std::string list;
  for (int n = 1; n <= RawFormatCount; ++n)
    if (RawFormatDefs[size_t(n)].InUse) list += RawFormatDefs[size_t(n)].Extension;
  OwnRawExtensionList = UpperCase(list);
}

void LoadRawDefinitions() {
  for (int n = 1; n <= RawFormatCount; ++n) {
    std::string file = RawDefinitionFileName(n);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
      if (std::string shipped = FindFileInFolders(ProgramDataFolders(), "rawdef" + std::to_string(n) + ".ini");
          !shipped.empty())
        file = std::move(shipped);
    ReadRawDefinition(n, file);
  }
  BuildOwnRawExtensionList();
}

bool RawFormatSpeichern(int index) {
  if (index < 1 || index > RawFormatCount) return false;
  const TRawFormatDef& d = RawFormatDefs[size_t(index)];
  const char* const crlf = "\r\n";
  std::string text = d.Extension + crlf + IntToStr(d.HeaderOffset) + crlf + IntToStr(d.Width) + crlf +
                     IntToStr(d.Height) + crlf + IntToStr(d.Bits) + crlf + (d.IntelOrder ? "Intel" : "Win") + crlf +
                     (d.InUse ? "Verwenden" : "Nicht verwenden") + crlf;
  text += d.ColorInterpolation ? "Farbinterpolation" + std::string(crlf) + d.Pattern + crlf
                               : "Keine Farbinterpolation" + std::string(crlf);
  return EnsureSettingsFolder() && WriteFileAtomic(RawDefinitionFileName(index), text);
}

namespace {

using TFile = std::unique_ptr<FILE, int (*)(FILE*)>;

// The layout's rows into the slot through a picture sink, a block of rows per read.
bool ReadRawPixels(FILE* f, const TRawFormatDef& def, int slot) {
  const bool eight = def.Bits == 8;
  const size_t w = size_t(def.Width);
  const size_t rowBytes = w * (eight ? 1 : 2);
  const size_t rowsPerBlock = std::max<size_t>(1, (size_t(1) << 20) / rowBytes);
  TPictureSink sink;
  if (!sink.Begin(slot, {def.Width, def.Height, 1, eight ? 8 : 16, false}, false)) return false;
  // 16-bit samples land in 16-bit words; those stored the other way round are swapped.
  const bool swap = def.IntelOrder == (std::endian::native == std::endian::little);
  std::vector<uint16_t> words(eight ? 0 : rowsPerBlock * w);
  std::vector<uint8_t> bytes(eight ? rowsPerBlock * w : 0);
  for (size_t y = 0; y < size_t(def.Height);) {
    const size_t rows = std::min(rowsPerBlock, size_t(def.Height) - y);
    void* buffer = eight ? static_cast<void*>(bytes.data()) : static_cast<void*>(words.data());
    if (std::fread(buffer, rowBytes, rows, f) != rows) {
      sink.Stop();
      return false;
    }
    for (size_t r = 0; r < rows; ++r) {
      if (eight) {
        sink.PutRow(bytes.data() + r * w);
      } else {
        uint16_t* row = words.data() + r * w;
        if (swap)
          for (size_t x = 0; x < w; ++x) row[x] = uint16_t((row[x] << 8) | (row[x] >> 8));
        sink.PutRow(row);
      }
    }
    y += rows;
  }
  return sink.Finish();
}

// The slot's mosaic turned into RGB by the colour-mosaic conversion, when installed and asked for.
void ConvertMosaic(int slot, const TRawFormatDef& def, bool preview) {
  const TMosaicConversion& m = MosaicConversion;
  if (!Options.RawInterpolation || !def.ColorInterpolation || !m.ReadMosaicSettings || !m.GenerateRgbFromMosaic ||
      !m.ReadMosaicSettings(def.Pattern))
    return;
  int result = 0;
  if (preview && m.Method && m.SetMethod) {
    const int method = m.Method();
    if (method > 0) m.SetMethod(QuickPreviewMosaicMethod);
    result = m.GenerateRgbFromMosaic(slot);
    m.SetMethod(method);
  } else {
    result = m.GenerateRgbFromMosaic(slot);
  }
  if (!ValidSlot(result) || result == slot) return;
  const std::string name = Store.FileName[size_t(slot)];
  CopyImageSlot(result, slot);
  FreeSlot(result);
  Store.FileName[size_t(slot)] = name;
  Store.Image[size_t(slot)].NumberedName = 0;
  MakeDefaultHeader(slot);
  ResetDisplayRange(slot, def.Bits == 8 ? 255.0f : 65535.0f);
  ComputeHistogram(slot, false, false);
}

}  // namespace

bool LoadOwnRawFile(int slot, const std::string& fileName, bool preview) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  const std::string ext = UpperFileExt(fileName);
  if (ext.empty()) return false;
  const auto def = std::find_if(RawFormatDefs.begin() + 1, RawFormatDefs.end(),
                                [&](const TRawFormatDef& d) { return UpperCase(d.Extension) == ext; });
  if (def == RawFormatDefs.end() || !RawLayoutValid(*def)) return false;
  TFile f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!f) return false;
  std::error_code ec;
  const auto size = std::filesystem::file_size(fileName, ec);
  if (ec || int64_t(size) < RawLayoutFileSize(*def) || std::fseek(f.get(), long(def->HeaderOffset), SEEK_SET) != 0)
    return false;
  bool ok = false;
  try {
    ok = ReadRawPixels(f.get(), *def, slot);
  } catch (...) {
    Store.InUse[size_t(slot)] = 0;
    Store.Image[size_t(slot)].FreePlanes();
    throw;
  }
  if (!ok) {
    Store.InUse[size_t(slot)] = 0;
    Store.Image[size_t(slot)].FreePlanes();
    return false;
  }
  ConvertMosaic(slot, *def, preview);
  return true;
}

}  // namespace astrelon
