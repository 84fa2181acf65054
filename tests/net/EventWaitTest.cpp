#include "net/EventWait.h"
#include "NetFixture.h"
#include "ScopedSeam.h"
#include "base/Clock.h"

#include <QTimer>

namespace {
class EventWaitTest : public TNetTest {
protected:
    TManualClock clock;
    pvtest::TScopedSeam<TClock*> clockSeam{SetClock, &clock};
};
} // namespace

// On a manual clock the wait sleeps in the event loop and ends on whatever an event changes:
// the awaited state, the cancel flag or the clock itself.
TEST_F(EventWaitTest, EndsOnWhatAnEventChangesAndSaysWhich) {
    bool ready = false, cancel = false;
    const auto isReady = [&] { return ready; };

    QTimer::singleShot(0, [&] { ready = true; });
    EXPECT_EQ(WaitEvents(1000, &cancel, isReady), TWaitEnd::Done);

    ready = false;
    QTimer::singleShot(0, [&] { cancel = true; });
    EXPECT_EQ(WaitEvents(1000, &cancel, isReady), TWaitEnd::Cancelled);

    cancel = false;
    QTimer::singleShot(0, [&] { clock.Advance(999); });
    QTimer::singleShot(0, [&] { clock.Advance(1); });
    EXPECT_EQ(WaitEvents(1000, &cancel, isReady), TWaitEnd::Deadline);
    EXPECT_EQ(clock.NowMs(), 1000);
    EXPECT_TRUE(clock.Pauses.empty()) << "a wait for a state does not move the clock itself";

    ready = true; // the state counts before the deadline, both before any event runs
    EXPECT_EQ(WaitEvents(0, nullptr, isReady), TWaitEnd::Done);
}

TEST_F(EventWaitTest, WaitForTimeAloneMovesTheManualClock) {
    WaitProcessingEvents(250);
    WaitProcessingEvents(0);
    EXPECT_EQ(clock.Pauses, std::vector<int>{250});
    EXPECT_EQ(WaitEvents(clock.NowMs() + 40), TWaitEnd::Deadline);
    EXPECT_EQ(clock.NowMs(), 290);
}

TEST_F(EventWaitTest, OneTurnRunsThePendingEvents) {
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    WaitForMessages();
    EXPECT_EQ(ran, 1);
}
