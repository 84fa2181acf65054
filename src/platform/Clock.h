// The program's clock: monotonic time, wall-clock time and the blocking pauses.
//
// The real clock sleeps; tests install a manual clock whose pauses return at once and only
// move its time forward, so waits are counted instead of waited.
#pragma once

#include <cstdint>
#include <vector>

class TClock {
public:
    virtual ~TClock() = default;
    // Monotonic milliseconds.
    virtual int64_t NowMs() = 0;
    // Milliseconds since the Unix epoch, local wall-clock time for display and file names.
    virtual int64_t WallMs() = 0;
    // Blocks for ms milliseconds without letting any event run.
    virtual void Pause(int ms) = 0;
};

class TSystemClock : public TClock {
public:
    int64_t NowMs() override;
    int64_t WallMs() override;
    void Pause(int ms) override;
};

// A clock that only moves when told to (or by a pause, which it records).
class TManualClock : public TClock {
public:
    int64_t NowMs() override { return Now; }
    int64_t WallMs() override { return Wall + Now; }
    void Pause(int ms) override {
        Pauses.push_back(ms);
        Now += ms;
    }
    void Advance(int64_t ms) { Now += ms; }

    int64_t Now = 0;
    int64_t Wall = 1700000000000; // 2023-11-14
    std::vector<int> Pauses;
};

TClock& Clock();
// Installs a clock (not owned; nullptr restores the system clock).
void SetClock(TClock* clock);

namespace platform {
// Blocks for ms milliseconds through the installed clock.
inline void Pause(int ms) {
    Clock().Pause(ms);
}
} // namespace platform
