// The process's peak resident size, for tests that bound what hostile input may cost.
#pragma once

#include <sys/resource.h>

namespace pvtest {

// Peak resident memory of the process so far, in MB.
inline long PeakMegabytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace pvtest
