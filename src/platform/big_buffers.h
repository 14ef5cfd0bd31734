#pragma once
// Large buffers (image planes of many megabytes) that are written in full right
// after allocation: asking the kernel for huge pages turns hundreds of thousands
// of page faults into a few hundred. Only a hint; without transparent huge pages
// nothing changes, and the contents never do.
#include <cstddef>
#include <cstdint>

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

}  // namespace astrelon
