// The process's peak resident size, for tests that bound what hostile input may cost.
#pragma once

#include <sys/resource.h>

namespace pvtest {

// The address sanitizer's allocator pads every block and holds freed ones back for a while:
// bounds on growth get this much more room under it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr long kAllocatorSlackMb = 256;
#else
inline constexpr long kAllocatorSlackMb = 0;
#endif

// Peak resident memory of the process so far, in MB.
inline long PeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace pvtest
