// Wall-clock and CPU time of the benchmark programs, in seconds.
#pragma once

#include <chrono>
#include <sys/resource.h>

inline double Seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// CPU time (user and system) of this process, or with RUSAGE_CHILDREN of its waited-for
// children.
inline double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    ::getrusage(who, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

inline double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
