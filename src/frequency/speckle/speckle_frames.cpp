#include "frequency/speckle/speckle_frames.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "common/engine_ui.h"
#include "common/series_number.h"
#include "platform/avi_reader.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/named_load.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

TSpeckleFrame TSpeckleFrameSource::Load(int slot) {
  const bool loaded = LoadImageFileNamed(slot, name_);
  if (!loaded) FreeSlot(slot);
  return loaded ? TSpeckleFrame::Loaded : TSpeckleFrame::Skipped;
}

TSpeckleFrame TSpeckleFrameSource::Next(int slot) {
  const int64_t k = k_++;
  const int32_t step = std::max(in_.Step, 1);
  switch (in_.Mode) {
    case TSpeckleInput::List:
      if (k >= int64_t(in_.Files.size())) return TSpeckleFrame::End;
      name_ = in_.Files[size_t(k)];
      return Load(slot);
    case TSpeckleInput::Series: {
      if (k == 0) {
        name_ = in_.FirstFile;
      } else {
        for (int32_t s = 0; s < step; ++s)
          if (!IncrementSeriesFileName(name_)) return TSpeckleFrame::End;
      }
      std::error_code ec;
      if (GetSeriesNumber(name_) > in_.Until || !std::filesystem::is_regular_file(name_, ec))
        return TSpeckleFrame::End;
      return Load(slot);
    }
    case TSpeckleInput::Avi: {
      TAviReader* video = in_.Video;
      index_ = k == 0 ? int64_t(in_.FirstFrame) - 1 : index_ + step;
      name_ = in_.FirstFile;
      if (!video || index_ < 0 || index_ >= in_.Until || index_ >= video->FrameCount) return TSpeckleFrame::End;
      bool loaded = false;
      std::string why;
      try {
        loaded = ReadAviFrame(*video, int32_t(index_), true) && GraphicToSlot(video->Frame, slot, true);
      } catch (const std::bad_alloc&) {
        why = OutOfMemoryText(name_);
      }
      if (loaded) return TSpeckleFrame::Loaded;
      // The frame left out, named by its number (from 1) in the video.
      EngineUi().ShowMessage((why.empty() ? FileOpenErrorText(name_) : why) + "\r\nFrame " + std::to_string(index_ + 1));
      FreeSlot(slot);
      return TSpeckleFrame::Skipped;
    }
  }
  return TSpeckleFrame::End;
}

}  // namespace astrelon
