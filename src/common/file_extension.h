#pragma once
// File-name extensions: taken from the last path component only, so that a
// folder name with a dot never counts and a name without a dot has none.
#include <string>

namespace astrelon {

// Upper-case extension with its dot (".FIT"); empty when the name has none.
std::string UpperFileExt(const std::string& fileName);
// The name with its extension (from the last dot of the file part) replaced by
// ext, or with ext appended when the file part has no dot.
std::string ReplaceFileExt(const std::string& fileName, const std::string& ext);
// The file part of a path (after the last "/").
std::string FileNamePart(const std::string& fileName);

}  // namespace astrelon
