// The hand-over of progress reports from the provider's thread: order and completeness
// under load, hang-up and destruction while reports are on their way. Run under
// ThreadSanitizer in CI.
#include "DialTestSupport.h"

#include "dialup/DialUp.h"
#include "dialup/RasSimulator.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {
constexpr int kReports = 2000;

std::string ManySteps(std::vector<int32_t>& expected) {
    std::string steps = "Steps=";
    for (int i = 0; i < kReports; ++i) {
        const int32_t state = i % 22; // every state of the dialling phase, over and over
        expected.push_back(state);
        steps += std::to_string(state) + "@0 ";
    }
    expected.push_back(RASCS_Connected);
    return steps + "8192@0\n";
}
} // namespace

TEST(DialUpProgress, ThousandsOfReportsArriveOneAtATimeInOrder) {
    std::vector<int32_t> expected;
    auto sim = std::make_shared<TRasSimulator>(Script("[Load]\n" + ManySteps(expected)));
    TRasInstall install(sim);
    TDialUp dialUp;
    dialUp.SetEntry("Load");
    std::vector<int32_t> got;
    bool inside = false, overlapped = false;
    dialUp.OnAsyncEvent = [&](TDialUp*, int32_t state, int32_t error, const std::string&) {
        overlapped |= inside || error != 0;
        inside = true;
        got.push_back(state);
        QCoreApplication::processEvents(); // a handler that pumps must not get the next one
        inside = false;
    };
    ASSERT_EQ(dialUp.Dial(), 0);
    ASSERT_TRUE(WaitFor([&] { return !got.empty() && got.back() == RASCS_Connected; }, 120000))
        << got.size() << " reports arrived";
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(sim->PendingReports(), 0);
}

TEST(DialUpProgress, DelaysFollowTheClockAndHangUpStopsTheRest) {
    TManualClock clock;
    auto sim = std::make_shared<TRasSimulator>(
        Script("[Office]\nSteps=0@0 5@1000 14@1000 8192@1000\n"), clock);
    TRasInstall install(sim);
    TDialUp dialUp(clock);
    TDialRecorder events(dialUp);
    dialUp.SetEntry("Office");
    ASSERT_EQ(dialUp.Dial(), 0);
    ASSERT_TRUE(WaitFor([&] { return events.Count("Async") == 1; }));
    EXPECT_EQ(sim->PendingReports(), 3) << "the later steps wait for their time";

    clock.Advance(1000);
    ASSERT_TRUE(WaitFor([&] { return events.Count("Async") == 2; }));
    EXPECT_EQ(events.Lines.back(), "Async 5 0 Start authenticating");

    EXPECT_EQ(dialUp.HangUp(), 0);
    EXPECT_EQ(sim->PendingReports(), 0) << "hanging up drops the reports still to come";
    clock.Advance(5000);
    QCoreApplication::processEvents();
    EXPECT_EQ(events.Lines,
              (std::vector<std::string>{"Dialing", "Async 0 0 Opening port",
                                        "Async 5 0 Start authenticating", "NotConnected 0 "}));
}

TEST(DialUpProgress, ComponentGoneWhileAReportWaits) {
    auto sim = std::make_shared<TRasSimulator>(Script("[Load]\nSteps=0@0 1@0 2@0 3@0 8192@0\n"));
    auto install = std::make_unique<TRasInstall>(sim);
    {
        TDialUp dialUp;
        dialUp.SetEntry("Load");
        ASSERT_EQ(dialUp.Dial(), 0);
        // No event loop runs: the simulator's thread fills the slot and waits for it.
    }
    // The waiting report was let go and the rest find no one: the simulator's thread does not
    // hang, and nothing is delivered to the component that is gone.
    install.reset();
    sim.reset();
    QCoreApplication::processEvents();
}

TEST(DialUpProgress, ReportsOfAnotherDialNeverReachTheCurrentOne) {
    TManualClock clock;
    auto sim = std::make_shared<TRasSimulator>(
        Script("[Old]\nSteps=0@0 5@1000 8192@1000\n[New]\nSteps=0@0 8192@3000\n"), clock);
    TRasInstall install(sim);
    auto first = std::make_unique<TDialUp>(clock);
    TDialRecorder firstEvents(*first);
    first->SetEntry("Old");
    ASSERT_EQ(first->Dial(), 0);
    ASSERT_TRUE(WaitFor([&] { return firstEvents.Count("Async") == 1; }));
    first.reset(); // gone without hanging up: its link goes on reporting

    TDialUp second(clock);
    TDialRecorder events(second);
    second.SetEntry("New");
    ASSERT_EQ(second.Dial(), 0);
    clock.Advance(2000); // the old link reaches 5 and 8192 on the way
    ASSERT_TRUE(WaitFor([&] { return sim->PendingReports() == 1; }));
    clock.Advance(1000);
    ASSERT_TRUE(WaitFor([&] { return events.Count("Async 8192") == 1; }));
    EXPECT_EQ(events.Lines, (std::vector<std::string>{"Dialing", "Async 0 0 Opening port",
                                                      "Async 8192 0 Connected"}));
}
