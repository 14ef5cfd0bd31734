#include "platform/memory_probe.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <string>


namespace astrelon {

namespace {

std::string ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, size_t(in.gcount()));
    if (text.size() > (1u << 20)) break;
  }
  return text;
}

// Address space the process may still map under RLIMIT_AS; nullopt without a limit.
std::optional<uint64_t> AddressSpaceLeft() {
  rlimit lim{};
  if (getrlimit(RLIMIT_AS, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return std::nullopt;
  // First field of /proc/self/statm: the mapped size in pages.
  const std::string statm = ReadSmallFile("/proc/self/statm");
  uint64_t pages = 0;
  const auto res = std::from_chars(statm.data(), statm.data() + statm.size(), pages);
  if (res.ec != std::errc()) return std::nullopt;
  const long pageSize = sysconf(_SC_PAGESIZE);
  const uint64_t used = pages * uint64_t(pageSize > 0 ? pageSize : 4096);
  const uint64_t limit = uint64_t(lim.rlim_cur);
  return limit > used ? limit - used : 0;
}

}  // namespace

std::optional<uint64_t> ParseProcBytes(std::string_view text, std::string_view key) {
  if (key.empty()) return std::nullopt;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    uint64_t value = 0;
    const auto res = std::from_chars(line.data(), line.data() + line.size(), value);
    if (res.ec != std::errc() || res.ptr == line.data()) return std::nullopt;
    std::string_view unit(res.ptr, size_t(line.data() + line.size() - res.ptr));
    while (!unit.empty() && (unit.front() == ' ' || unit.front() == '\t')) unit.remove_prefix(1);
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\r')) unit.remove_suffix(1);
    uint64_t scale = 1;
    if (unit == "kB") scale = 1024;
    else if (!unit.empty()) return std::nullopt;
    if (value > std::numeric_limits<uint64_t>::max() / scale) return std::numeric_limits<uint64_t>::max();
    return value * scale;
  }
  return std::nullopt;
}

std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo) { return ParseProcBytes(meminfo, "MemAvailable:"); }

TProcessMemory ReadProcessMemory() {
  const std::string status = ReadSmallFile("/proc/self/status");
  const std::string meminfo = ReadSmallFile("/proc/meminfo");
  TProcessMemory m;
  m.Resident = ParseProcBytes(status, "VmRSS:").value_or(0);
  m.Mapped = ParseProcBytes(status, "VmSize:").value_or(0);
  m.Available = ParseMemAvailable(meminfo).value_or(0);
  m.Total = ParseProcBytes(meminfo, "MemTotal:").value_or(0);
  return m;
}
uint64_t (*AvailableMemoryOverride)() = nullptr;

uint64_t AvailableMemory() {
  if (AvailableMemoryOverride) return AvailableMemoryOverride();
  const std::optional<uint64_t> physical = ParseMemAvailable(ReadSmallFile("/proc/meminfo"));
  if (!physical) return 0;
  const std::optional<uint64_t> virt = AddressSpaceLeft();
  return virt ? std::min(*physical, *virt) : *physical;
}

bool NewPlanesFit(int64_t width, int64_t height, int planes) {
  constexpr int64_t Side = std::numeric_limits<int32_t>::max();
  if (width < 1 || height < 1 || width > Side || height > Side || planes < 1) return false;
  const uint64_t values = uint64_t(width) * uint64_t(height);
  if (values > (uint64_t(1) << 60) / uint64_t(planes)) return false;  // beyond any plane's limit
  const uint64_t free = AvailableMemory();
  return free == 0 || values * uint64_t(planes) <= free / sizeof(float);
}

uint64_t MemoryNeededForPixels(uint64_t pixels, bool colour) {
  const uint64_t perPixel = colour ? 28 : 20;
  if (pixels > std::numeric_limits<uint64_t>::max() / perPixel) return std::numeric_limits<uint64_t>::max();
  return pixels * perPixel;
}

}  // namespace astrelon
