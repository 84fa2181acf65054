// TOnLineDetect against the simulator.
#include "DialTestSupport.h"

#include "base/Exceptions.h"
#include "dialup/OnLine.h"
#include "dialup/RasSimulator.h"

#include <gtest/gtest.h>

namespace {
struct TSimOnLine {
    explicit TSimOnLine(const std::string& script)
        : Sim(std::make_shared<TRasSimulator>(Script(script))), Install(Sim) {
        Detector.OnChange = [this](TOnLineDetect*) { ++Changes; };
    }
    std::shared_ptr<TRasSimulator> Sim;
    TRasInstall Install;
    TOnLineDetect Detector;
    int Changes = 0;
};
} // namespace

TEST(OnLineDetect, NothingOpenMeansOfflineAndNoChange) {
    TSimOnLine t("[Office]\n[Home]\n");
    EXPECT_EQ(t.Detector.Interval(), 250);
    for (int i = 0; i < 3; ++i) t.Detector.Poll();
    EXPECT_EQ(t.Changes, 0);
    EXPECT_FALSE(t.Detector.IsOnline());
}

TEST(OnLineDetect, ConnectionOpenAtStartIsReportedByTheTimer) {
    TSimOnLine t("[Office]\nOnline=1\n[Home]\n");
    t.Detector.SetInterval(1);
    EXPECT_EQ(t.Detector.Interval(), 1);
    ASSERT_TRUE(WaitFor([&] { return t.Changes == 1; }));
    EXPECT_TRUE(t.Detector.IsOnline());
    EXPECT_EQ(t.Detector.Connections(), TStringList{"Office"});
}

TEST(OnLineDetect, ChangesAreCountedNotNamed) {
    TSimOnLine t("[A]\n[B]\n[C]\n");
    t.Sim->OpenConnection("A");
    t.Sim->OpenConnection("B");
    t.Detector.Poll();
    EXPECT_EQ(t.Changes, 1);
    EXPECT_EQ(t.Detector.Connections(), (TStringList{"A", "B"}));

    t.Sim->CloseConnection("A"); // two, one hung up: still online
    t.Detector.Poll();
    EXPECT_EQ(t.Changes, 2);
    EXPECT_TRUE(t.Detector.IsOnline());

    t.Sim->CloseConnection("B"); // one closes while another opens: same count, no event
    t.Sim->OpenConnection("C");
    t.Detector.Poll();
    EXPECT_EQ(t.Changes, 2);
    EXPECT_EQ(t.Detector.Connections(), TStringList{"C"});
}

TEST(OnLineDetect, RasFailureReadsOfflineOnceAndPollingGoesOn) {
    TSimOnLine t("[Office]\nOnline=1\n");
    t.Detector.Poll();
    ASSERT_TRUE(t.Detector.IsOnline());

    {
        TRasInstall none(nullptr);
        try {
            t.Detector.Poll();
            ADD_FAILURE() << "the first failure must reach the application";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message, "Error opening rasapi.dll");
        }
        EXPECT_FALSE(t.Detector.IsOnline());
        EXPECT_EQ(t.Changes, 2);
        EXPECT_NO_THROW(t.Detector.Poll()) << "the same failure again is not repeated";
    }
    // RAS answers again: the timer, still running, finds the connection.
    TRasInstall back(t.Sim);
    t.Detector.SetInterval(1);
    ASSERT_TRUE(WaitFor([&] { return t.Detector.IsOnline(); }));
    EXPECT_EQ(t.Changes, 3);
}

TEST(OnLineDetect, StartsWithoutRas) {
    TRasInstall none(nullptr);
    TOnLineDetect detector; // binding fails inside; the detector reads offline
    EXPECT_FALSE(detector.IsOnline());
}
