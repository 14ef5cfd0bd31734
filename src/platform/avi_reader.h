#pragma once
// Single frames of an AVI video, decoded through FFmpeg (libavformat,
// libavcodec, libswscale). A reader is opened on a file, hands out any frame by
// its 0-based number as an 8-bit grey or RGB picture, and is closed again.
// Reading the frame after the last one read only decodes on; other frames are
// reached from the nearest key frame before them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/picture.h"

namespace astrelon {

struct TAviStream;  // the FFmpeg state of an open video

struct TAviReader {
  TAviReader();
  ~TAviReader();  // closes an open stream
  TAviReader(const TAviReader&) = delete;
  TAviReader& operator=(const TAviReader&) = delete;

  int32_t CurrentFrame = 0;  // number of the frame in Frame
  // Frames present in the file: index entries whose data lies within the file,
  // at most the count the header declares.
  int32_t FrameCount = 0;
  // The last frame read: 8-bit samples, one channel for grey videos, else RGB.
  TPicture Frame;
  std::unique_ptr<TAviStream> Stream;
  // Decoder threads (1: results and timing independent of the machine).
  int Threads = 1;
};

// Opens the video and reads frame 0 into Frame. False, with everything released,
// when the file is no AVI with a video stream or frame 0 cannot be read. Throws
// std::runtime_error "Error Frameopen" when no decoder exists for the video's
// format and "Error AVIBegin" when its frames cannot be converted, also with
// everything released.
bool OpenAviStream(TAviReader& reader, const std::string& fileName, bool show);

// Decodes frame `index` (0-based) into Frame and sets CurrentFrame. False, with
// Frame and CurrentFrame unchanged, for an index outside 0..FrameCount-1, a
// closed reader or a frame that does not decode. A frame the file marks as
// dropped (stored empty) reads as the frame before it.
bool ReadAviFrame(TAviReader& reader, int32_t index, bool show);

// Releases the decoder, the file and Frame.
void CloseAviStream(TAviReader& reader);

// Called with each frame read with `show` set (the speckle tool's preview).
extern std::function<void(const TPicture& frame, int32_t index)> AviFrameShowHook;

}  // namespace astrelon
