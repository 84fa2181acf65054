#include "NetFixture.h"
#include "base/Clock.h"
#include "net/EventWait.h"
#include "net/HiddenWindow.h"
#include "net/msutils.h"

namespace {
class TimerTest : public TNetTest {};

// Runs the event loop until done() holds; the guard only ends a test that went wrong.
template <class F> bool RunUntil(F done, int guardMs = 5000) {
    return WaitEvents(Clock().NowMs() + guardMs, nullptr, done) == TWaitEnd::Done;
}
} // namespace

TEST_F(TimerTest, CountdownKeepsTimedOutUntilRestart) {
    TmsTimeCounter counter;
    counter.TimeOut = 2;
    counter.Start();
    EXPECT_EQ(counter.Remaining, 2);
    counter.Tick();
    EXPECT_FALSE(counter.TimedOut);
    counter.Tick();
    EXPECT_TRUE(counter.TimedOut);
    counter.Start(); // a new wait does not forget the time-out
    EXPECT_TRUE(counter.TimedOut);
    EXPECT_EQ(counter.Remaining, 2);
    counter.Restart(); // progress does
    EXPECT_FALSE(counter.TimedOut);
    counter.Stop();
    EXPECT_FALSE(counter.Timer().Enabled());
}

TEST_F(TimerTest, TicksThroughTheEventLoopAndHandsExceptionsToTheApplication) {
    TmsTimeCounter counter;
    counter.TimeOut = 3;
    counter.Timer().SetInterval(1);
    counter.Start();
    EXPECT_TRUE(RunUntil([&] { return counter.TimedOut; }));
    EXPECT_LE(counter.Remaining, 0);

    std::string reported;
    SetApplicationExceptionHandler([&](const std::exception& e) { reported = e.what(); });
    TmsTimer timer;
    timer.SetInterval(1);
    int ticks = 0;
    timer.SetOnTimer([&](TmsTimer*) {
        ++ticks;
        throw Exception("tick failed");
    });
    EXPECT_TRUE(RunUntil([&] { return ticks > 0; }));
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(reported, "tick failed");
    timer.SetEnabled(false);
}
