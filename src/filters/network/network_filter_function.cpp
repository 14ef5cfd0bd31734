#include "filters/network/network_filter_function.h"

#include <algorithm>
#include <chrono>

#include "common/engine_ui.h"
#include "common/paths.h"
#include "filters/network/network_filter.h"
#include "filters/network/network_list_file.h"
#include "kernels/network/network_file.h"

namespace astrelon {

std::string NetworkFilterDialogFile;

bool AppliedThroughDialog(const std::string& fileName) {
  const std::string name = ExtractFileName(fileName);
  return !name.empty() && name[0] == '_';
}

namespace {

bool LoadDialogNetwork() {
  std::string file = NetworkFilterDialogFile;
  if (IsNetworkListFile(file)) {
    const auto names = ReadNetworkListFile(file);
    if (!names) {
      EngineUi().ShowMessage(file + "\nkonnte nicht geöffnet werden!");
      return false;
    }
    file = (*names)[0];
  }
  int32_t n = 0, current = 0, inputTop = 0;
  return LoadNetworkFile(file, n, current, inputTop);
}

void RunNetworkFilter(TFilterCall& c) {
  // A computation starts from the source again (the slider may have changed
  // since the last one).
  const int planes = std::min(Store.Image[size_t(c.Source)].PlaneCount, 3);
  for (int p = 1; p <= planes; ++p) CopyPlane(c.Source, p, c.Destination, p);
  FilterAbortRequested = 0;
  TFilterPoll& poll = *c.Poll;
  auto lastDraw = std::chrono::steady_clock::now();
  const bool finished = ApplyNetworkFilter(
      c.Source, c.Destination, NetworkFilterDialogFile, c.Rect, double(c.Value[1]), [&](int plane, int64_t rows) {
        if (FilterAbortRequested) return false;
        // The result window follows the rows done, a few times a second.
        if (c.Redraw && std::chrono::steady_clock::now() - lastDraw > std::chrono::milliseconds(500)) {
          lastDraw = std::chrono::steady_clock::now();
          c.Redraw(c.Destination);
        }
        return poll.Continue(plane, c.Rect.y1 + int(rows));
      });
  EndFilterRun(poll, finished);
}

}  // namespace

TFilterFunktion NetworkFilterFunktion() {
  TFilterFunktion f;
  f.Started = [](int, int) { return LoadDialogNetwork(); };
  f.Run = RunNetworkFilter;
  f.Hidden = [](int, int) { Network = TNetworkWeights{}; };
  return f;
}

}  // namespace astrelon
