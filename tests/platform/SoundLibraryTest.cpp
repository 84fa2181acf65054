// The sound library's complaints stay off the terminal; the first one of a run is kept for
// the protocol, handed out once.
#include "platform/SoundLibrary.h"
#include "base/Clock.h"
#include "platform/AlsaTonePlayer.h"

#include <gtest/gtest.h>

TEST(SoundLibrary, ErrorsAreKeptForTheProtocolNotPrinted) {
    TManualClock clock;
    SetClock(&clock);
    SilenceSoundLibrary();
    ForgetSoundLibraryErrors();
    // A device that does not exist: the library has something to say about it.
    auto play = [] {
        TAlsaTonePlayer player("pv-no-such-device");
        player.PlayTone(440, 10);
    };
    ::testing::internal::CaptureStderr();
    play();
    const std::string kept = TakeSoundLibraryError();
    EXPECT_EQ(TakeSoundLibraryError(), "");
    // Once a run: the same trouble again is not reported again.
    play();
    EXPECT_EQ(TakeSoundLibraryError(), "");
    const std::string printed = ::testing::internal::GetCapturedStderr();
    SetClock(nullptr);
    EXPECT_EQ(printed, "");
    EXPECT_NE(kept.find("pv-no-such-device"), std::string::npos) << kept;
    // The tones still took their time, silently.
    EXPECT_EQ(clock.Now, 20);
}
