#include "batch/run/batch_result_save.h"

#include <filesystem>
#include <new>
#include <stdexcept>

#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_captions.h"
#include "common/engine_ui.h"
#include "common/paths.h"
#include "common/text_codec.h"
#include "core/settings.h"
#include "registration/stacking/master_frame_state.h"
#include "shell/main/recent_files.h"
#include "shell/save/save_tiff_scaled.h"
#include "store/copy_name.h"
#include "store/display/display_bitmap.h"
#include "store/display/render_image_bitmap.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/jpeg_writer.h"
#include "store/pictures/png_writer.h"

namespace astrelon {

namespace {

namespace fs = std::filesystem;

std::string Padded(int32_t count) {
  std::string digits = std::to_string(count);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return digits;
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  return fs::exists(fs::path(name), ec);
}

enum class TWriter { Bmp, Jpeg, Tiff, Png, Fits };

TWriter WriterOf(const std::string& targetExt) {
  if (targetExt == ".BMP") return TWriter::Bmp;
  if (targetExt == ".JPG" || targetExt == ".JPE") return TWriter::Jpeg;
  if (targetExt == ".TIF") return TWriter::Tiff;
  if (targetExt == ".PNG") return TWriter::Png;
  return TWriter::Fits;
}

bool Write(int slot, const std::string& fileName, TWriter writer) {
  if (writer == TWriter::Tiff) return SaveTiffScaled(slot, 2, fileName);
  if (writer == TWriter::Fits) return SaveFits(slot, Settings.FitsSaveFormat, fileName, false, false);
  TDisplayBitmap bitmap;
  if (!RenderImageToBitmap(slot, RenderFactor(ImageMaximum(slot)), bitmap)) return false;
  switch (writer) {
    case TWriter::Bmp: return SaveBmpFile(bitmap, fileName);
    case TWriter::Jpeg:
      return SaveJpegFile(bitmap, Settings.JpegQuality, !Store.Image[size_t(slot)].IsColor, fileName);
    default: return SavePngFile(bitmap, Settings.PngCompression, false, fileName);
  }
}

}  // namespace

std::string WithResultExtension(const TResultNaming& naming, const std::string& name) {
  return ChangeFileExt(name, Utf8Length(naming.TargetExt) > 2 ? naming.TargetExt : naming.FitsExtension);
}

std::string ResultFileName(const TResultNaming& naming, const std::string& inputFile, int32_t count,
                           bool videoFrame) {
  const std::string ext = ExtractFileExt(naming.TargetName);
  const size_t n = Utf8Length(naming.TargetName), e = Utf8Length(ext);
  const std::string base = naming.TargetName.substr(0, naming.TargetName.size() - ext.size());
  std::string name;
  if (n > e && base.back() != '*')
    name = base + "_" + Padded(count) + naming.TargetExt;
  else if (videoFrame)
    name = inputFile;
  else
    name = ExtractFilePath(inputFile) + "QZ_" + ExtractFileName(inputFile);
  return naming.TargetFolder + ExtractFileName(WithResultExtension(naming, name));
}

TResultNaming RunResultNaming() {
  return TResultNaming{BatchRun.TargetName, BatchRun.TargetExt, BatchRun.TargetFolder, Settings.FitsExtension};
}

bool WriteSlotByExtension(int slot, const std::string& fileName, const std::string& targetExt) {
  bool written = false;
  try {
    written = Write(slot, fileName, WriterOf(targetExt));
  } catch (const std::bad_alloc&) {
    written = false;
  } catch (const std::runtime_error&) {
    written = false;  // the TIFF writer reports its failures so
  }
  if (!written) EngineUi().ShowMessage(BatchCaption(TBatchCaption::SaveFailed) + "\r\n" + fileName);
  return written;
}

std::string WriteRunImage(int slot, const std::string& name, bool mayReplace) {
  const std::string file = mayReplace ? name : FreeCopyFileName(name);
  StatusFunction(BatchCaption(TBatchCaption::SavingFile));
  EngineUi().ProcessMessages();
  if (CcdTemperatureCount > 0)
    SetHeaderKeyword(slot, "CCD-TEMP", "", CcdTemperatureSum / CcdTemperatureCount, true, false, false);
  if (!file.empty() && SaveFits(slot, Settings.FitsSaveFormat, file, false, true)) {
    AddRecentFile(Store.FileName[size_t(slot)]);
    return file;
  }
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::SaveFailed) + "\r\n" + (file.empty() ? name : file));
  return "";
}

TResultSave SaveBatchResultFile(int slot, const std::string& fileName) {
  if (FileExists(fileName) && !BatchRun.OverwriteAll) {
    const std::string text = ExtractFileName(fileName) + "\r\n" + BatchCaption(TBatchCaption::OverwriteYes) + "\r\n" +
                             BatchCaption(TBatchCaption::OverwriteNo) + "\r\n" +
                             BatchCaption(TBatchCaption::OverwriteCancel);
    switch (EngineUi().AskYesNoCancelTitled(BatchCaption(TBatchCaption::FileExistsTitle), text)) {
      case TDialogAnswer::Yes: BatchRun.OverwriteAll = true; break;
      case TDialogAnswer::No: return TResultSave::Skipped;
      default: BatchRun.EndOfRun = true; return TResultSave::Cancelled;
    }
  }
  StatusFunction(BatchCaption(TBatchCaption::SavingFile));
  EngineUi().ProcessMessages();
  const bool written = WriteSlotByExtension(slot, fileName, BatchRun.TargetExt);
  StatusFunction("");
  return written ? TResultSave::Written : TResultSave::Failed;
}

void SaveWorkResult() {
  const int work = BatchRun.WorkSlot;
  if (!SlotInUse(work) || Store.Image[size_t(work)].PixelCount() == 0) return;
  const std::string name =
      ResultFileName(RunResultNaming(), BatchRun.InputFileName, BatchRun.FilesDone, BatchRun.AviInput != 0);
  SaveBatchResultFile(work, name);
}

}  // namespace astrelon
