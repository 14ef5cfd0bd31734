#include "batch/inputs/series_file_list.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/paths.h"
#include "common/series_number.h"
#include "core/batch_series.h"
#include "shell/main/known_extensions.h"

namespace astrelon {

TSeriesFileList SeriesFiles;

namespace {

namespace fs = std::filesystem;

bool SameName(const std::string& a, const std::string& b) { return UpperCase(a) == UpperCase(b); }

bool Listed(const TInputSeries& input, const std::string& name) {
  int32_t index = 0;
  return !input.UseShiftList || FindRunFileIndex(name, index);
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  return fs::is_regular_file(fs::path(name), ec);
}

std::string Normal(const std::string& name) { return UpperCase(fs::path(name).lexically_normal().string()); }

}  // namespace

void ClearRunFiles() {
  SeriesFileList.clear();
  BatchStarPairs.clear();
  BatchMarkPairs.clear();
  BatchQualities.clear();
  SeriesFiles.LeftOut = 0;
}

bool AddRunFileName(const std::string& name) {
  if (int32_t(SeriesFileList.size()) >= MaxRunFiles) {
    ++SeriesFiles.LeftOut;
    return false;
  }
  SeriesFileList.push_back(name);
  return true;
}

bool FindRunFileIndex(const std::string& name, int32_t& index) {
  const std::string wanted = UpperCase(name);
  for (size_t i = 0; i < SeriesFileList.size(); ++i)
    if (UpperCase(SeriesFileList[i]) == wanted) {
      index = int32_t(i);
      return true;
    }
  return false;
}

void BuildInputFileList(std::string& startFile, const std::vector<std::string>& inputList) {
  const size_t first = startFile.find_first_not_of(' ');
  startFile = first == std::string::npos ? "" : startFile.substr(first, startFile.find_last_not_of(' ') - first + 1);
  SeriesFiles.Candidates.clear();
  for (const std::string& entry : inputList)
    if (!SameName(entry, startFile)) SeriesFiles.Candidates.push_back(entry);
}

void BuildAllFilesList(const std::string& startFile, const std::string& targetFile) {
  SeriesFiles.Candidates.clear();
  const std::string folder = ExtractFilePath(startFile);
  const std::string start = Normal(startFile), target = Normal(targetFile);
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileError;
    if (!it->is_regular_file(fileError)) continue;
    const std::string name = it->path().filename().string();
    const std::string full = Normal(folder + name);
    if (full == start || full == target || !AcceptedImageExtension(name)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string ua = UpperCase(a), ub = UpperCase(b);
    return ua != ub ? ua < ub : a < b;
  });
  SeriesFiles.Candidates = std::move(names);
}

std::string VideoFrameName(int32_t index) {
  std::string digits = std::to_string(std::max(index, 0));
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return "Frame" + digits;
}

bool NextInputFileName(const TInputSeries& input, int32_t& position, int32_t& frame, std::string& name) {
  switch (input.Mode) {
    case TInputMode::List:
    case TInputMode::AllFiles:
      while (position >= 0 && size_t(position) < SeriesFiles.Candidates.size()) {
        const std::string& entry = SeriesFiles.Candidates[size_t(position++)];
        if (entry.empty()) break;
        const std::string candidate = input.Mode == TInputMode::AllFiles ? input.StartFolder + entry : entry;
        if (!Listed(input, candidate)) continue;
        name = candidate;
        return true;
      }
      break;
    case TInputMode::Video:
      while (frame + 1 < input.VideoFrames) {
        const std::string candidate = VideoFrameName(++frame);
        if (!Listed(input, candidate)) continue;
        name = candidate;
        return true;
      }
      break;
    case TInputMode::Series: {
      std::string candidate = name;
      for (int32_t tries = 0; tries < SeriesTries;) {
        if (!IncrementSeriesFileName(candidate)) break;
        if (!FileExists(candidate)) {
          if (!input.SkipMissing) break;
          ++tries;
          continue;
        }
        if (!Listed(input, candidate)) continue;
        name = candidate;
        return true;
      }
      break;
    }
  }
  name.clear();
  return false;
}

}  // namespace astrelon
