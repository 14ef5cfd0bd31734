#pragma once
// Loading a frame of a stack into a slot (from the batch's video or from its
// file) and the labels of the batch status window during a stack run.
#include <string>

namespace astrelon {

// Loads frame `name` into the slot: the video frame with the name's number
// while the batch reads a video, else (or when that fails) the file. False when
// nothing could be loaded, with one message that names the frame's file.
bool LoadStackFrame(int slot, const std::string& name, bool colour);

void SetStackStatusFunction(const std::string& text);
void SetStackStatusProgress(const std::string& text);

}  // namespace astrelon
