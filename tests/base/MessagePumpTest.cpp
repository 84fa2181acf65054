#include "base/MessagePump.h"

#include <gtest/gtest.h>

namespace {
struct PumpFixture : ::testing::Test {
    int64_t now = 1000;
    int pumped = 0;
    void SetUp() override {
        SetPumpClock([this] { return now; });
        InstallMessagePump([this] { ++pumped; }, 5);
    }
    void TearDown() override {
        RemoveMessagePump();
        SetPumpClock(nullptr);
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
    now += 5;
    Call(1000);
    EXPECT_EQ(pumped, 1);
    Call(1000);
    EXPECT_EQ(pumped, 1);
    now += 4;
    Call(1000);
    EXPECT_EQ(pumped, 1);
    now += 1;
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
