#include "registration/stacking/master_frames.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/mean_fits_rows.h"
#include "registration/stacking/mean_sums.h"
#include "shell/main/recent_files.h"
#include "shell/slots/slot_utilities.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/header_dates.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr double NoiseFloor = 0.01 / 1.1 * (1 + 1e-6);
constexpr const char* NotEnoughFiles = "Es sind nicht genug Dateien zur Bearbeitung ausgewählt worden.";

void SetProgressText(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetProgressLabel(text);
}
void SetFileText(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetFileLabel(text);
}

// Loads a file into a slot; false (slot left free) when it cannot be read.
bool LoadFrame(int slot, const std::string& name) {
  try {
    if (LoadImageFile(slot, name)) return true;
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage(OutOfMemoryText(name));
  }
  FreeSlot(slot);
  return false;
}

// Adds rows of `frame` (minus the flat-dark row when one is given) into the
// target's sums and counters.
void AddFrameRows(TImageSlot& sum, std::vector<std::vector<int16_t>>& counts, const TImageSlot& frame,
                  const TImageSlot* dark) {
  int32_t w = std::min(sum.Width, frame.Width), h = std::min(sum.Height, frame.Height);
  int planes = std::min(sum.PlaneCount, frame.PlaneCount);
  if (dark) {
    w = std::min(w, dark->Width);
    h = std::min(h, dark->Height);
  }
  for (int p = 1; p <= planes; ++p) {
    const int dp = dark && p <= dark->PlaneCount ? p : 1;
    int16_t* count = counts[size_t(p)].data();
    const int threads = BandThreads(int64_t(w) * h, 1 << 16, Options.Multicore != 0);
    ForEachBand(h, threads, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y) {
        if (dark && BatchAbort) return;
        AddRowToMean(sum.Row(p, int(y)).data(), count + size_t(y) * size_t(sum.Width), frame.Row(p, int(y)).data(),
                     dark ? dark->Row(dp, int(y)).data() : nullptr, w, Sse2Enabled);
      }
    });
  }
}

// The estimate never falls below its floor (sqrt(0.0001) / 1.1): a difference
// of darks without any noise gives no noise value.
double NoiseOrNone(double noise) { return noise <= NoiseFloor ? 0 : noise; }

// Noise of dark a minus dark b (a is changed); 0 when the difference shows none.
double DifferenceNoise(int a, int b) {
  SetProgressText("Rauschanteil bestimmen...");
  const bool colour = Store.Image[size_t(a)].PlaneCount > 1 && Store.Image[size_t(b)].PlaneCount > 1;
  SubtractDarkFrame(a, b, false, false);
  const double noise = NoiseOrNone(EstimateNoise(a, colour ? 2 : 1));
  SetProgressText("");
  return noise;
}

// Noise of the difference of the first two darks; 0 when either cannot be
// loaded or their shapes differ.
double DarkDifferenceNoise(const std::vector<std::string>& darks) {
  const int a = FindFreeSlot();
  if (a < 1 || !LoadFrame(a, darks[0])) return 0;
  const int b = FindFreeSlot();
  double noise = 0;
  if (b >= 1 && LoadFrame(b, darks[1])) {
    if (TFrameShape::Of(Store.Image[size_t(a)]) == TFrameShape::Of(Store.Image[size_t(b)])) noise = DifferenceNoise(a, b);
    FreeSlot(b);
  }
  FreeSlot(a);
  return noise;
}

// The mean or the stack combination of one list into slot `target`; the number
// of frames used (below 1: nothing made, the target is free).
int CombineList(int target, const TMasterList& list, bool flat, bool temperature, double* darkNoise = nullptr) {
  const int n = int(list.Files.size());
  if (list.Method == TStackMethod::Mean || n < 3)
    return MeanOfFrames(target, list.Files, flat ? FlatDarkSlot : -1, temperature, darkNoise);
  if (darkNoise) *darkNoise = DarkDifferenceNoise(list.Files);
  SeriesFileList = list.Files;
  const int made = CombineImageStack({.TargetSlot = target, .Count = n, .Method = list.Method, .IsFlat = flat});
  if (made < 1 && SlotInUse(target)) FreeSlot(target);
  return made;
}

// Whether the flat-dark has the size of the flats (the first flat that can be
// loaded): a flat-dark of another size would calibrate only their overlap. Says
// so once when not.
bool FlatDarkFitsFlats(const TMasterList& flats) {
  if (FlatDarkSlot < 1 || !SlotInUse(FlatDarkSlot)) return true;
  for (const std::string& file : flats.Files) {
    const int slot = FreeSlotExcept(FlatDarkSlot);
    if (slot < 1) return true;
    if (!LoadFrame(slot, file)) continue;
    const bool fits = DarkSizeFits(slot, FlatDarkSlot);
    FreeSlot(slot);
    return fits;
  }
  return true;
}

// Master dark or flat: combined, given the temperature (and the noise), written
// (its full name then goes into `written`).
void BuildMaster(const TMasterList& list, std::string& name, bool flat, TMasterProgress& progress,
                 std::vector<std::string>& written) {
  const char* what = flat ? "Masterflat" : "Masterdark";
  SeriesFileList = list.Files;
  double noise = 0;
  CcdTemperatureSum = 0;
  CcdTemperatureCount = 0;
  const int target = FindFreeSlot();
  if (target < 1) return;
  const int made = CombineList(target, list, flat, true, flat ? nullptr : &noise);
  if (made < 1) {
    if (list.Method != TStackMethod::Mean || !BatchAbort) {
      if (list.Method != TStackMethod::Mean) BatchAbort = 1;
      EngineUi().ShowMessage(std::string("Die ") + what + "-Datei konnte nicht erstellt werden");
    }
    return;
  }
  if (!BatchAbort) {
    if (CcdTemperatureCount > 0)
      SetHeaderKeyword(target, "CCD-TEMP", "", CcdTemperatureSum / CcdTemperatureCount, true, false, false);
    Store.Image[size_t(target)].DarkRms = noise > 0 ? noise / std::sqrt(2.0 * double(made)) : 0.0;
    if (SaveMasterFile(target, name, std::string("Die ") + what + "-Datei existiert schon", progress))
      written.push_back(name);
  }
  FreeSlot(target);
}

// The flat-dark into FlatDarkSlot; asks whether to go on without one when it fails.
void BuildFlatDark(const TMasterList& list, TMasterProgress& progress) {
  const int n = int(list.Files.size());
  if (n == 0) return;
  if (n == 1) {
    const int slot = FindFreeSlot();
    if (slot >= 1 && LoadFrame(slot, list.Files[0])) {
      FlatDarkSlot = slot;
      return;
    }
    if (EngineUi().AskYesNoCancel(
            "Die Flatdark-Datei konnte nicht geladen werden. Wollen Sie ohne diese weitermachen?", false) !=
        TDialogAnswer::Yes)
      BatchAbort = 1;
    return;
  }
  progress.SetTitle("Flatdark erstellen");
  SeriesFileList = list.Files;
  const int slot = FindFreeSlot();
  const int made = slot < 1 ? 0 : CombineList(slot, list, false, false);
  if (made >= 1) {
    FlatDarkSlot = slot;
    return;
  }
  if (BatchAbort) return;
  if (EngineUi().AskYesNoCancel(
          "Die Flatdark-Datei konnte nicht erstellt werden. Wollen Sie ohne diese weitermachen?", false) !=
      TDialogAnswer::Yes)
    BatchAbort = 1;
}

}  // namespace

std::string MasterWrittenText(const std::vector<std::string>& written) {
  if (written.empty()) return "Es wurde keine Datei geschrieben.";
  std::string text = "Geschrieben:";
  for (const std::string& name : written) text += "\n" + name;
  return text;
}

std::string MasterEndTitle(bool aborted, bool wroteAny) {
  if (aborted) return "Bearbeitung abgebrochen";
  return wroteAny ? "Bearbeitung fertig" : "Bearbeitung fertig, nichts geschrieben";
}

int MasterSlotsNeeded(const TMasterJob& job) {
  const auto stacked = [](const TMasterList& l) { return l.Method != TStackMethod::Mean && l.Files.size() >= 3; };
  int need = 0;
  // Darks: the master and a frame; the mean keeps the first dark beside the
  // second for the noise (the combination measures it before taking the master's slot).
  if (job.Darks.Files.size() >= 2) need = stacked(job.Darks) ? 2 : 3;
  // The flat-dark stays loaded while the flats are combined: its own slot and a frame.
  const int flatDark = job.FlatDarks.Files.empty() ? 0 : 1;
  if (job.FlatDarks.Files.size() >= 2) need = std::max(need, 2);
  if (flatDark) need = std::max(need, 1);
  if (job.Flats.Files.size() >= 2) need = std::max(need, flatDark + 2);
  return need;
}

int FreeSlotExcept(int a, int b) {
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (!Store.InUse[size_t(s)] && s != a && s != b) return s;
  return -1;
}

std::string MasterListTooLongText(const std::vector<const std::vector<std::string>*>& lists) {
  for (const auto* l : lists)
    if (l && l->size() > size_t(MaxStackFrames))
      return "Eine Liste hält " + std::to_string(l->size()) + " Dateien; höchstens " + std::to_string(MaxStackFrames) +
             " Dateien können verarbeitet werden.";
  return {};
}

namespace {

// Adds the frame's "CCD-TEMP" (when above -300) to the temperature sum.
void AddTemperature(double t) {
  if (t <= -300) return;
  CcdTemperatureSum += t;
  ++CcdTemperatureCount;
}

// A mean under way. Its first frame is loaded into a slot and copied into the
// target, whose planes then hold its values; where the noise of the first two
// darks is measured on loaded frames, the first stays loaded until the second
// comes (FirstSlot).
struct TMeanState {
  int Target = 0;
  int FlatDark = -1;
  bool Temperature = false;
  double* DarkNoise = nullptr;
  int Used = 0;
  int FirstSlot = -1;
};

// Loads file k of the list into a free slot and checks it against the first
// frame; the first frame is copied into the target (with `movePlanes` its
// planes are moved there, and the slot keeps none). The slot is returned (it
// holds the frame) or -1 (the frame is left out: it could not be loaded, or its
// shape differs, which is said); -2 when no slot is free.
int LoadMeanFrame(TMeanState& m, size_t k, const std::string& file, bool movePlanes = false) {
  const int slot = FreeSlotExcept(m.Target, m.FlatDark);
  if (slot < 1) return -2;
  // Without the first dark the noise of the first difference cannot be measured.
  auto leaveOut = [&] {
    if (k == 1 && m.FirstSlot > 0) FreeSlot(std::exchange(m.FirstSlot, -1));
    return -1;
  };
  if (!LoadFrame(slot, file)) return leaveOut();
  // Every frame must have the first one's shape; another is left out, named once.
  if (m.Used > 0 && TFrameShape::Of(Store.Image[size_t(slot)]) != TFrameShape::Of(Store.Image[size_t(m.Target)])) {
    EngineUi().ShowMessage(OtherFrameShapeText(file));
    FreeSlot(slot);
    return leaveOut();
  }
  if (m.Temperature) AddTemperature(ReadCcdTemperature(slot));
  if (m.Used == 0) {
    // Moved rather than copied when the frame's slot is not needed any more.
    TImageSlot& frame = Store.Image[size_t(slot)];
    std::array<TPlane, 4> planes;
    if (movePlanes)
      for (size_t p = 1; p <= 3; ++p) planes[p] = std::exchange(frame.Planes[p], TPlane());
    CopyImageSlot(slot, m.Target);
    if (movePlanes)
      for (size_t p = 1; p <= 3; ++p) Store.Image[size_t(m.Target)].Planes[p] = std::move(planes[p]);
  }
  return slot;
}

// Ends the part a loaded frame plays: the first dark stays for the noise, the
// second measures it.
void ReleaseMeanFrame(TMeanState& m, size_t k, int slot) {
  if (m.DarkNoise && k == 0) {
    m.FirstSlot = slot;
    return;
  }
  if (m.DarkNoise && k == 1 && m.FirstSlot > 0) {
    *m.DarkNoise = DifferenceNoise(m.FirstSlot, slot);
    FreeSlot(std::exchange(m.FirstSlot, -1));
  }
  FreeSlot(slot);
}

// The frames after the first read row by row from their FITS files
// (MeanOfFitsRows); only the first frame is loaded, and the target takes its
// planes. The noise of the first two darks comes from their difference made on
// the way. The number of frames used; -1 when a file could not be read on the
// way (the target is free again and the mean must be made from loaded frames).
int MeanFromFitsRows(TMeanState& m, const std::vector<std::string>& files, const TImageSlot* dark) {
  std::vector<std::string> later;
  bool firstIsFile0 = false, noise = false;
  for (size_t k = 0; k < files.size(); ++k) {
    const std::string& file = files[k];
    if (BatchAbort) break;
    if (m.Used == 0) {
      const int slot = LoadMeanFrame(m, k, file, true);
      if (slot == -2) break;
      if (slot > 0) {
        ++m.Used;
        firstIsFile0 = k == 0;
        SetFileText(file);
        FreeSlot(slot);
      }
    } else {
      // The header alone, checked as the loader checks it.
      std::error_code ec;
      TFitsFile f;
      if (std::filesystem::is_regular_file(file, ec) && OpenFitsFile(file, f)) {
        if (!f.Layout) {
          EngineUi().ShowMessage(HeaderNotRecognisedText());
        } else if (TFrameShape::Of(*f.Layout) != TFrameShape::Of(Store.Image[size_t(m.Target)])) {
          EngineUi().ShowMessage(OtherFrameShapeText(file));
        } else {
          if (m.Temperature && ReadFileHeaderOnly(0, file)) AddTemperature(ReadCcdTemperature(0));
          // The noise of the first dark minus the second, as the loaded frames give it.
          noise = noise || (m.DarkNoise && firstIsFile0 && k == 1);
          later.push_back(file);
          ++m.Used;
          SetFileText(file);
        }
      }
    }
    EngineUi().ProcessMessages();
  }
  if (m.Used == 0) return 0;
  const TImageSlot& t = Store.Image[size_t(m.Target)];
  const int threads = BandThreads(int64_t(t.Width) * t.Height, 1 << 16, Options.Multicore != 0);
  TPlane difference(noise ? t.PixelCount() : 0);
  const int noisePlane = t.PlaneCount > 1 ? 2 : 1;
  const TMeanRows r = BatchAbort ? TMeanRows::Aborted
                                 : MeanOfFitsRows(m.Target, later, dark, threads, noise ? &difference : nullptr, noisePlane);
  if (r != TMeanRows::Done) {
    FreeSlot(m.Target);
    return r == TMeanRows::Aborted ? 0 : -1;
  }
  if (noise) {
    SetProgressText("Rauschanteil bestimmen...");
    *m.DarkNoise = NoiseOrNone(EstimateNoise(difference));
    SetProgressText("");
  }
  return m.Used;
}

// Each frame loaded into a slot in turn and added to the target's sums.
int MeanFromSlots(TMeanState& m, const std::vector<std::string>& files, const TImageSlot* dark) {
  std::vector<std::vector<int16_t>> counts(4);
  for (size_t k = 0; k < files.size(); ++k) {
    const std::string& file = files[k];
    if (BatchAbort) break;
    const int slot = LoadMeanFrame(m, k, file);
    if (slot == -2) break;
    if (slot > 0) {
      if (m.Used == 0) {
        ZeroAllPlanes(m.Target);
        const TImageSlot& t = Store.Image[size_t(m.Target)];
        for (int p = 1; p <= t.PlaneCount; ++p) counts[size_t(p)].assign(t.PixelCount(), 0);
      }
      ++m.Used;
      SetFileText(file);
      AddFrameRows(Store.Image[size_t(m.Target)], counts, Store.Image[size_t(slot)], dark);
      ReleaseMeanFrame(m, k, slot);
    }
    EngineUi().ProcessMessages();
  }
  if (m.FirstSlot > 0) FreeSlot(std::exchange(m.FirstSlot, -1));
  if (m.Used == 0) return 0;
  if (BatchAbort) {
    FreeSlot(m.Target);
    return 0;
  }
  TImageSlot& t = Store.Image[size_t(m.Target)];
  for (int p = 1; p <= t.PlaneCount; ++p) DivideMean(t.Plane(p).data(), counts[size_t(p)].data(), t.PixelCount());
  return m.Used;
}

// Whether every frame can be read row by row: FITS files that the loader reads
// as they are (colour frames loaded as YUV are converted by the loader).
bool MeanReadsFitsRows(const std::vector<std::string>& files) {
  if (!MeanFitsRows) return false;
  for (const std::string& file : files) {
    if (!LoadsAsFits(file)) return false;
    TFitsFile f;
    if (Options.YuvLoad && OpenFitsFile(file, f) && f.Layout && f.Layout->IsColor) return false;
  }
  return true;
}

}  // namespace

bool MeanFitsRows = true;

int MeanOfFrames(int target, const std::vector<std::string>& files, int flatDark, bool temperature,
                 double* darkNoise) {
  const TImageSlot* dark = flatDark > 0 && SlotInUse(flatDark) ? &Store.Image[size_t(flatDark)] : nullptr;
  const double temperatureSum = CcdTemperatureSum;
  const int32_t temperatureCount = CcdTemperatureCount;
  int used = -1;
  if (MeanReadsFitsRows(files)) {
    if (darkNoise) *darkNoise = 0;
    TMeanState m{target, flatDark, temperature, darkNoise};
    used = MeanFromFitsRows(m, files, dark);
    // A file that could not be read on the way: the mean again, from loaded frames.
    if (used < 0) {
      CcdTemperatureSum = temperatureSum;
      CcdTemperatureCount = temperatureCount;
    }
  }
  if (used < 0) {
    if (darkNoise) *darkNoise = 0;
    TMeanState m{target, flatDark, temperature, darkNoise};
    used = MeanFromSlots(m, files, dark);
  }
  if (used == 0) return 0;
  UpdateMinMax(target);
  if (temperature) {
    Store.NewHistoryCard[size_t(target)] = 1;
    AddHistoryCard(target, std::to_string(used) + " Bilder gemittelt", 1);
  }
  return used;
}

bool SaveMasterFile(int slot, std::string& name, const std::string& existsCaption, TMasterProgress& progress) {
  name = ReplaceFileExt(name, Settings.FitsExtension);
  std::error_code ec;
  if (std::filesystem::exists(name, ec)) {
    std::string edited = name;
    if (!progress.ConfirmOverwrite(existsCaption, "Bei gleichem Namen wird die Datei überschrieben.", edited))
      return false;
    name = edited;
  }
  if (FileNamePart(name).empty() || !SaveFits(slot, -32, name, false, false)) {
    EngineUi().ShowMessage(SaveFailedText(name));
    return false;
  }
  AddRecentFile(name);
  return true;
}

bool BuildMasterFrames(TMasterJob& job, TMasterProgress& progress) {
  BatchAbort = 0;
  if (job.Darks.Files.size() < 2 && job.Flats.Files.size() < 2) {
    EngineUi().ShowMessage(NotEnoughFiles);
    return false;
  }
  if (const std::string text = MasterListTooLongText({&job.Darks.Files, &job.Flats.Files, &job.FlatDarks.Files});
      !text.empty()) {
    EngineUi().ShowMessage(text);
    return false;
  }
  BatchMarkCount = 0;
  progress.Start("Masterdark erstellen");
  SetProgressText("");
  FlatDarkSlot = -1;
  // The slots the run will need are checked before anything is loaded.
  if (CountFreeSlots() < MasterSlotsNeeded(job)) {
    EngineUi().ShowMessage(TooFewSlotsText());
    BatchAbort = 1;
    progress.Report(MasterWrittenText({}));
    progress.Finish(MasterEndTitle(true, false));
    return true;
  }
  std::vector<std::string> written;
  if (job.Darks.Files.size() >= 2) BuildMaster(job.Darks, job.Darks.FileName, false, progress, written);
  if (!BatchAbort) BuildFlatDark(job.FlatDarks, progress);
  if (job.Flats.Files.size() >= 2 && !BatchAbort) {
    progress.SetTitle("Masterflat erstellen");
    if (FlatDarkFitsFlats(job.Flats))
      BuildMaster(job.Flats, job.Flats.FileName, true, progress, written);
    else
      BatchAbort = 1;
  }
  if (FlatDarkSlot > 0) FreeSlot(FlatDarkSlot);
  FlatDarkSlot = -1;
  SetProgressText("");
  progress.Report(MasterWrittenText(written));
  progress.Finish(MasterEndTitle(BatchAbort != 0, !written.empty()));
  return true;
}

}  // namespace astrelon
