#pragma once
// What a long run measures about its own process: open descriptors, the
// resident set, and the bytes the allocator holds live.

#include <dirent.h>
#include <malloc.h>

#include <cstddef>
#include <fstream>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZN7QX_HAVE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZN7QX_HAVE_ASAN 1
#endif
#ifdef ZN7QX_HAVE_ASAN
// Declared here: GCC's runtime has it, but only clang ships the header.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zn7qx::bench {

// Under ASan freed memory sits in its quarantine, so the resident set grows
// without a leak; the live heap is the measure there.
#ifdef ZN7QX_HAVE_ASAN
inline constexpr bool kResidentSetTracksHeap = false;
#else
inline constexpr bool kResidentSetTracksHeap = true;
#endif

inline int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++n;
    ::closedir(dir);
    --n;  // the listing's own
  }
  return n;
}

inline long VmRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

// ASan's allocator replaces malloc's, so mallinfo would see nothing there.
inline std::size_t LiveHeapBytes() {
#ifdef ZN7QX_HAVE_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

}  // namespace zn7qx::bench
