#pragma once
// The frames of a speckle run, one at a time into a slot: the files of a list,
// a numbered series counted up from its first file, or the frames of a video.
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

struct TAviReader;

enum class TSpeckleInput { List, Series, Avi };

struct TSpeckleFrameInput {
  TSpeckleInput Mode = TSpeckleInput::List;
  std::vector<std::string> Files;  // list mode
  std::string FirstFile;           // series mode: the first file; AVI mode: the video
  TAviReader* Video = nullptr;     // AVI mode: the open video
  int32_t FirstFrame = 1;          // "Frames:" (AVI: 1-based number of the first frame)
  int32_t Until = 9999;            // "bis:": the last series number, or the frame index the video stops below
  int32_t Step = 1;                // "Step:" (at least 1)
};

enum class TSpeckleFrame { Loaded, Skipped, End };

class TSpeckleFrameSource {
public:
  explicit TSpeckleFrameSource(const TSpeckleFrameInput& input) : in_(input) {}

  // Reads the next frame into `slot`: Loaded, Skipped (a file or frame that does
  // not read, named in one message; the slot is left free) or End (the list,
  // series or video is over).
  // A series ends at a name that cannot be counted up, whose number exceeds
  // "bis:" or whose file does not exist; a video at the frame index "bis:" or
  // its frame count.
  TSpeckleFrame Next(int slot);
  // The file of the frame last read (the video's name in AVI mode).
  const std::string& FileName() const { return name_; }

private:
  TSpeckleFrame Load(int slot);
  const TSpeckleFrameInput& in_;
  int64_t k_ = 0;
  int64_t index_ = 0;
  std::string name_;
};

}  // namespace astrelon
