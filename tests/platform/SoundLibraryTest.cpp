// The sound library's complaints stay off the terminal; the first one is kept for the
// protocol, handed out once.
#include "platform/SoundLibrary.h"
#include "platform/AlsaTonePlayer.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

TEST(SoundLibrary, ErrorsAreKeptForTheProtocolNotPrinted) {
    TManualClock clock;
    SetClock(&clock);
    SilenceSoundLibrary();
    ::testing::internal::CaptureStderr();
    {
        // A device that does not exist: the library has something to say about it.
        TAlsaTonePlayer player("pv-no-such-device");
        player.PlayTone(440, 10);
    }
    const std::string printed = ::testing::internal::GetCapturedStderr();
    SetClock(nullptr);
    EXPECT_EQ(printed, "");
    const std::string kept = TakeSoundLibraryError();
    EXPECT_NE(kept.find("pv-no-such-device"), std::string::npos) << kept;
    EXPECT_EQ(TakeSoundLibraryError(), "");
    // The tone still took its time, silently.
    EXPECT_EQ(clock.Now, 10);
}
