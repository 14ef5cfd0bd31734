#include "common/file_extension.h"

#include "common/paths.h"

namespace astrelon {

std::string UpperFileExt(const std::string& fileName) { return UpperCase(ExtractFileExt(fileName)); }

std::string ReplaceFileExt(const std::string& fileName, const std::string& ext) {
  return ChangeFileExt(fileName, ext);
}

std::string FileNamePart(const std::string& fileName) { return ExtractFileName(fileName); }

}  // namespace astrelon
