#include "base/MessagePump.h"

#include "base/Clock.h"

#include <gtest/gtest.h>

namespace {
struct PumpFixture : ::testing::Test {
    TManualClock clock;
    int pumped = 0;
    void SetUp() override {
        clock.Now = 1000;
        SetClock(&clock);
        InstallMessagePump([this] { ++pumped; }, 5);
    }
    void TearDown() override {
        RemoveMessagePump();
        SetClock(nullptr);
    }
    void Call(int n) {
        for (int i = 0; i < n; ++i) ProcessMessages();
    }
};
} // namespace

TEST(MessagePump, WithoutPumpNothingHappens) {
    RemoveMessagePump();
    ProcessMessages();
    ProcessMessagesNow();
}

TEST_F(PumpFixture, PumpsAtMostOncePerSlice) {
    Call(100000);
    EXPECT_EQ(pumped, 0); // the clock did not move
    clock.Advance(5);
    Call(1000);
    EXPECT_EQ(pumped, 1);
    Call(1000);
    EXPECT_EQ(pumped, 1);
    clock.Advance(4);
    Call(1000);
    EXPECT_EQ(pumped, 1);
    clock.Advance(1);
    Call(1000);
    EXPECT_EQ(pumped, 2);
    ProcessMessagesNow();
    EXPECT_EQ(pumped, 3);
}

TEST_F(PumpFixture, PumpIsNotReentered) {
    int depth = 0, maxDepth = 0;
    InstallMessagePump(
        [&] {
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            ProcessMessagesNow();
            --depth;
        },
        0);
    ProcessMessagesNow();
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(PumpFixture, ClockBehindTheLastRunCountsAsASliceGone) {
    clock.Now = 0; // another clock, installed after the pump
    Call(1);
    EXPECT_EQ(pumped, 1);
}
