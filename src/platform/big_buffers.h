#pragma once
// Large buffers (image planes of many megabytes): asking the kernel for huge
// pages for one that is written in full right after allocation turns hundreds of
// thousands of page faults into a few hundred (only a hint; without transparent
// huge pages nothing changes, and the contents never do), and one that is no
// longer needed can be freed without making anyone wait.
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace astrelon {

inline void AdviseHugePages(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t huge = uintptr_t(2) << 20;
  if (bytes < 8 * huge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~(huge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(huge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

// Frees a large buffer (anything that owns its memory, such as planes) on a
// thread of its own: returning hundreds of megabytes to the system takes
// milliseconds that nobody needs to wait for. Small ones are freed at once.
template <typename T>
void ReleaseInBackground(T&& owner, size_t bytes) {
  if (bytes < (size_t(8) << 20)) return;
  try {
    std::thread([held = std::forward<T>(owner)]() mutable { T gone(std::move(held)); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the caller frees it itself.
  }
}

}  // namespace astrelon
