#include "base/Clock.h"
#include "platform/Prompts.h"

#include <gtest/gtest.h>

TEST(Prompts, ScriptedAnswersThenDeclines) {
    TScriptedPrompts p;
    SetPrompts(&p);
    p.QueueAnswer(mrYes);
    EXPECT_EQ(Prompts().Ask("Terminate active connection?"), mrYes);
    EXPECT_EQ(Prompts().Ask("again?"), mrNo);
    EXPECT_EQ(Prompts().Show({"Warning", "x", mtWarning, mbOK | mbCancel}), mrCancel);
    Prompts().Tell("done", "Warnung");
    ASSERT_EQ(p.Shown.size(), 4u);
    EXPECT_EQ(p.Shown[0].Text, "Terminate active connection?");
    EXPECT_EQ(p.Shown[3].Caption, "Warnung");
    SetPrompts(nullptr);
    // Without installed prompts nobody is asked and every question is declined.
    EXPECT_EQ(Prompts().Ask("x"), mrNo);
}

TEST(Clock, ManualClockCountsPausesInsteadOfWaiting) {
    TManualClock c;
    SetClock(&c);
    platform::Pause(2000);
    platform::Pause(600);
    EXPECT_EQ(Clock().NowMs(), 2600);
    EXPECT_EQ(c.Pauses, (std::vector<int>{2000, 600}));
    SetClock(nullptr);
    const int64_t a = Clock().NowMs();
    EXPECT_GE(Clock().NowMs(), a);
}
