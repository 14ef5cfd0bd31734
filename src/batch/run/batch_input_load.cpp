#include "batch/run/batch_input_load.h"

#include <filesystem>
#include <new>
#include <stdexcept>

#include "batch/inputs/series_file_list.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_window_state.h"
#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "common/paths.h"
#include "common/series_number.h"
#include "common/text_codec.h"
#include "core/settings.h"
#include "platform/avi_reader.h"
#include "registration/stacking/stack_alignment.h"
#include "store/copy_name.h"
#include "store/header_dates.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/named_load.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

namespace {

namespace fs = std::filesystem;

bool FileExists(const std::string& name) {
  std::error_code ec;
  return fs::exists(fs::path(name), ec);
}

// Opens the run's video; false (everything released) when it does not open.
bool OpenRunVideo(const std::string& fileName) {
  TBatchEngineState& e = BatchEngine;
  e.Video = std::make_unique<TAviReader>();
  bool opened = false;
  try {
    opened = OpenAviStream(*e.Video, fileName, false);
  } catch (const std::exception&) {
    opened = false;
  }
  if (!opened) {
    e.Video.reset();
    return false;
  }
  StackVideo = e.Video.get();
  return true;
}

// Frame `name` of the video (its number from the name) into the slot: three
// planes for a colour frame, one for a grey one (a raw colour mosaic stays a
// single plane for the Bayer accumulation).
bool ReadVideoFrame(int slot, const std::string& name) {
  TBatchEngineState& e = BatchEngine;
  if (!e.Video) return false;
  int32_t index = GetSeriesNumber(name);
  if (index < 0) index = e.VideoFrame;
  if (!ReadAviFrame(*e.Video, index, false)) return false;
  if (!GraphicToSlot(e.Video->Frame, slot, e.Video->Frame.Format.Channels >= 3)) return false;
  e.VideoFrame = index;
  Store.FileName[size_t(slot)] = name;
  return true;
}

// The input into the slot: a video frame (a frame that does not read falls
// back to a file of that name) or a file. An input that does not read is
// named in the message that says so.
bool ReadInput(int slot, const std::string& name) {
  bool read = false, told = false;
  if (BatchRun.AviInput) {
    try {
      read = ReadVideoFrame(slot, name);
    } catch (const std::bad_alloc&) {
      EngineUi().ShowMessage(OutOfMemoryText(name));
      told = true;
    }
  }
  std::error_code ec;
  if (!read && !told) {
    if (BatchRun.AviInput && !fs::exists(fs::path(name), ec))
      EngineUi().ShowMessage(FileOpenErrorText(BatchSteps.Records[1].Values[0]) + "\r\n" + name);
    else
      read = LoadImageFileNamed(slot, name);
  }
  if (!read && !Store.HasWindow[size_t(slot)]) FreeSlot(slot);
  return read;
}

// The target's file name: the target folder and name (or "Zielbild"), with
// the FITS extension, made unique while a file of that name exists.
std::string NewTargetFileName() {
  const std::string name = BatchRun.TargetName.empty() ? BatchCaption(TBatchCaption::TargetImage) : BatchRun.TargetName;
  std::string file = ChangeFileExt(BatchRun.TargetFolder + name, Settings.FitsExtension);
  if (!FileExists(file)) return file;
  bool added = false;
  return NextCopyName(file, false, added, [](const std::string& n) { return FileExists(n); });
}

}  // namespace

std::string ShortInputName(const std::string& name) {
  const size_t n = Utf8Length(name);
  return n > 30 ? "..." + Utf8Substr(name, n - 30) : name;
}

TInputSeries RunInputSeries() {
  TInputSeries in;
  const TBatchRunState& s = BatchRun;
  if (s.AviInput)
    in.Mode = TInputMode::Video;
  else if (s.InputList)
    in.Mode = TInputMode::List;
  else if (BatchWindow.AllFilesInFolder)
    in.Mode = TInputMode::AllFiles;
  else
    in.Mode = TInputMode::Series;
  in.SkipMissing = !BatchSteps.Records[1].OptionCaption.empty();
  in.VideoFrames = BatchEngine.Video ? BatchEngine.Video->FrameCount : 0;
  in.StartFolder = s.StartFolder;
  in.UseShiftList = s.UseShiftList && !s.CometCompute;
  return in;
}

bool NextRunInput(std::string& name) {
  const TInputSeries in = RunInputSeries();
  return NextInputFileName(in, BatchEngine.ListPosition, BatchEngine.VideoFrame, name);
}

void LoadNextInput() {
  TBatchRunState& s = BatchRun;
  TBatchEngineState& e = BatchEngine;
  const int free = FindFreeSlot();
  if (free < 1) {
    s.EndOfRun = true;
    return;
  }
  const std::string& start = BatchSteps.Records[1].Values[0];
  if (s.FilesDone == 0 && !s.AviOpened && UpperFileExt(start) == ".AVI") {
    s.AviInput = 1;
    if (!OpenRunVideo(start)) {
      s.EndOfRun = true;
      return;
    }
    if (!s.UseShiftList) s.InputFileName = VideoFrameName(0);
    e.VideoFrame = std::max(GetSeriesNumber(s.InputFileName), 0);
    s.AviOpened = true;
  }

  const bool isTarget = s.FilesDone == 0 && (s.HasAddStep || s.MarkCount > 0) && !SlotInUse(s.TargetSlot);
  int slot = free;
  if (!isTarget && ValidSlot(s.WorkSlot) && s.WorkSlot != s.TargetSlot) slot = s.WorkSlot;
  const bool reused = slot != free && SlotInUse(slot);
  const int32_t zoom = Store.Display[size_t(slot)].ZoomPercent;
  // The status line names the input while it is read.
  StatusFile(ShortInputName(s.InputFileName));
  if (!ReadInput(slot, s.InputFileName)) {
    s.EndOfRun = true;
    return;
  }
  if (reused) Store.Display[size_t(slot)].ZoomPercent = zoom;

  if (isTarget) {
    s.TargetSlot = slot;
    e.LoadedTarget = slot;
    if (s.HasAddStep) {
      s.TargetFileName = NewTargetFileName();
      Store.FileName[size_t(slot)] = s.TargetFileName;
    }
  }
  ViewShowWindow(slot);
  if (reused) ViewRender(slot);
  if (isTarget && Store.Window[size_t(slot)]) Store.Window[size_t(slot)]->SetOperationIcons(true);

  if (s.UseShiftList && !s.CometCompute) {
    int32_t index = s.ShiftListIndex;
    s.InShiftList = FindRunFileIndex(s.InputFileName, index);
    if (s.InShiftList)
      s.ShiftListIndex = index;
    else if (s.ShiftListIndex < s.ShiftListCount)
      ++s.ShiftListIndex;
  }
  s.WorkSlot = slot;
  e.LoadedWork = slot;
  s.SeriesNumber = GetSeriesNumber(s.InputFileName);
  if (isTarget) s.TargetSeriesNumber = s.SeriesNumber;
  if (s.ByTimestamp || s.CometCompute) {
    TDateTime t = UnknownDateTime;
    s.CurrentTime = ReadObservationTime(slot, t) ? t : UnknownDateTime;
    if (isTarget) s.TargetTimeStart = s.CurrentTime;
  }
}

}  // namespace astrelon
