#include "filters/network/network_filter.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "common/engine_ui.h"
#include "common/float_range.h"
#include "filters/network/network_filter_blocks.h"
#include "filters/network/network_list_file.h"
#include "kernels/network/network_file.h"
#include "store/display/display_histogram.h"

namespace astrelon {

namespace {

bool LoadFilterNetwork(const std::string& fileName) {
  int32_t n = 0, current = 0, inputTop = 0;
  return LoadNetworkFile(fileName, n, current, inputTop);
}

// One plane (or, for a 3-input network, all planes) of the rectangle, in
// bands of rows handed to the threads as they become free. A band predicts
// its rows and writes the result rows they start; the blocks of the row above
// a band are predicted again by the band itself, so that no band waits for
// another and every pixel comes out the same whatever the split.
bool FilterPlane(const TNetworkFilterPlane& f, TImageSlot& dst, const TNetworkRowPoll& poll) {
  const bool blocks = NetworkFilterKind(f.Type) == TNetworkFilterKind::Blocks;
  const int32_t columns = f.X2 - f.X1 + 1, rows = f.Y2 - f.Y1 + 1;
  const size_t rowFloats = size_t(columns) * 4;
  const int threads = NetworkRowThreads(rows, columns);
  const int32_t band = std::clamp(rows / (4 * threads), 8, 64);
  const int lastPlane =
      NetworkFilterKind(f.Type) == TNetworkFilterKind::ThreeInput && dst.PlaneCount >= 3 ? 3 : f.Plane;
  auto write = [&](int32_t py, std::span<const float> above, std::span<const float> current) {
    for (int q = f.Plane; q <= lastPlane; ++q)
      WriteNetworkRow(
          f, py, above, current, q,
          std::span<float>(dst.Planes[size_t(q)]).subspan(size_t(py) * size_t(dst.Width), size_t(dst.Width)));
  };
  const int64_t bands = (rows + band - 1) / band;
  return RunNetworkRows(
      bands, threads,
      [&](int64_t k, TNetworkPass& pass) {
        const int32_t a = f.Y1 + int32_t(k) * band, b = std::min(f.Y2 + 1, a + band);
        std::vector<float> above(rowFloats), current(rowFloats);
        if (blocks && a > f.Y1) PredictNetworkRow(f, a - 1, above, pass);
        for (int32_t py = a; py < b; ++py) {
          PredictNetworkRow(f, py, current, pass);
          write(py, blocks && py > f.Y1 ? std::span<const float>(above) : std::span<const float>(), current);
          std::swap(above, current);
        }
        // The row below the last block row takes the lower halves of its blocks.
        if (blocks && b == f.Y2 + 1 && b < dst.Height) write(b, above, {});
      },
      [&](int64_t done) { return !AbortRequested && (!poll || poll(f.Plane, std::min<int64_t>(done * band, rows))); });
}

// The rectangle of a run with the network now in memory (less its last
// column and row for networks of 2 x 2 blocks), the values' scaling and the
// planes.
struct TFilterRun {
  TNetworkFilterPlane F;
  std::vector<int> Planes;
};

TFilterRun PrepareRun(const TImageSlot& src, int destination, const TWorkRect& rect, double strength) {
  TFilterRun run;
  TNetworkFilterPlane& f = run.F;
  f.Source = &src;
  const TNetworkFilterKind kind = NetworkFilterKind(Network.TypeCode);
  f.X1 = std::max(rect.x1, 0);
  f.X2 = std::min(rect.x2, src.Width - 1);
  f.Y1 = std::max(rect.y1, 0);
  f.Y2 = std::min(rect.y2, src.Height - 1);
  if (kind == TNetworkFilterKind::Blocks) {
    --f.X2;
    --f.Y2;
  }
  f.Mid = (double(src.MaxValue) + double(src.MinValue)) / 2;
  f.Scale = (double(src.MaxValue) - double(src.MinValue)) / 2 * LimitFactor(strength);
  f.Floor = float(std::min(double(src.MinValue) - 0.3 * f.Scale, 0.0));
  if (!src.IsColor || src.PlaneCount < 3 || kind == TNetworkFilterKind::ThreeInput)
    run.Planes.push_back(1);
  else
    for (int p = FirstChannel(destination); p >= 1 && p <= 3; NextChannel(destination, p)) run.Planes.push_back(p);
  return run;
}

// Every plane of the run; `listed` holds each plane's network of a list file.
bool RunPlanes(TFilterRun& run, TImageSlot& dst, const std::array<std::optional<TNetworkWeights>, 3>* listed,
               const TNetworkRowPoll& poll) {
  TNetworkFilterPlane& f = run.F;
  // A flat image (or no strength) would divide every input by 0.
  if (!(f.Scale > 0) || !std::isfinite(f.Scale) || f.X2 < f.X1 || f.Y2 < f.Y1) return true;
  for (const int p : run.Planes) {
    f.Plane = p;
    if (listed) Network = *(*listed)[size_t(p - 1)];
    f.Type = Network.TypeCode;
    f.InputTop = std::clamp(Network.InputTop, 2, 60);
    f.Current = Network.Current;
    if (!FilterPlane(f, dst, poll)) return false;
  }
  return true;
}

bool SameSize(const TImageSlot& a, const TImageSlot& b) {
  return a.Width == b.Width && a.Height == b.Height && a.PlaneCount == b.PlaneCount;
}

}  // namespace

bool ApplyNetworkFilter(int source, int destination, const std::string& fileName, const TWorkRect& rect,
                        double strength, const TNetworkRowPoll& poll) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  if (!SameSize(src, dst)) return false;
  // A list file's networks are all read before any plane is filtered; when one
  // cannot be read, the network loaded before comes back.
  std::optional<std::array<std::string, 3>> list;
  std::optional<TNetworkWeights> before;
  std::array<std::optional<TNetworkWeights>, 3> listed;
  if (IsNetworkListFile(fileName)) {
    list = ReadNetworkListFile(fileName);
    if (!list) {
      EngineUi().ShowMessage(fileName + "\nkonnte nicht geöffnet werden!");
      return false;
    }
    before = Network;
    if (!LoadFilterNetwork((*list)[0])) return false;
    listed[0] = Network;
  } else if (!LoadFilterNetwork(fileName)) {
    return false;
  }
  TFilterRun run = PrepareRun(src, destination, rect, strength);
  if (list)
    for (const int p : run.Planes) {
      if (listed[size_t(p - 1)]) continue;
      if (!LoadFilterNetwork((*list)[size_t(p - 1)])) {
        Network = std::move(*before);
        return false;
      }
      listed[size_t(p - 1)] = Network;
    }
  AbortRequested = 0;
  return RunPlanes(run, dst, list ? &listed : nullptr, poll);
}

bool ApplyLoadedNetworkFilter(int source, int destination, const TWorkRect& rect, double strength,
                              const TNetworkRowPoll& poll) {
  if (!SlotInUse(source) || !SlotInUse(destination) ||
      !SameSize(Store.Image[size_t(source)], Store.Image[size_t(destination)]))
    return false;
  TFilterRun run = PrepareRun(Store.Image[size_t(source)], destination, rect, strength);
  return RunPlanes(run, Store.Image[size_t(destination)], nullptr, poll);
}

}  // namespace astrelon
