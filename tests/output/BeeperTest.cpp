#include "base/Clock.h"
#include "output/BTOdeum.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include <gtest/gtest.h>

namespace {
using Steps = std::vector<TToneStep>;

TEST(Beeper, PresetsPlayTheirStepsAndRestsInOrder) {
    TRecordingTonePlayer player;
    TBTBeeper beeper;
    beeper.SetTonePlayer(&player);
    EXPECT_EQ(beeper.DefaultSound(), psOK);
    EXPECT_EQ(beeper.BeatMilliseconds(), 1000);

    beeper.PlayPreset(psWhisle);
    EXPECT_EQ(player.Steps, (Steps{{523, 80}, {698, 80}, {784, 80}, {1046, 80}}));
    EXPECT_EQ(player.Finishes, 1);
    player.Steps.clear();
    beeper.PlayPreset(psError); // the rest in the middle is a rest, not a 1 Hz tone
    EXPECT_EQ(player.Steps, (Steps{{92, 150}, {1, 200}, {65, 500}}));
    player.Steps.clear();
    beeper.PlayDefault();
    EXPECT_EQ(player.Steps, (Steps{{932, 100}, {988, 100}, {1046, 100}}));

    // Repeated figures are played out in full.
    const std::size_t counts[] = {3, 3, 7, 8, 14, 3, 15, 12, 12, 12, 4, 12, 12};
    for (int sound = psOK; sound <= psClimb; ++sound) {
        player.Steps.clear();
        beeper.PlayPreset(TPresetSound(sound));
        EXPECT_EQ(player.Steps.size(), counts[sound]) << sound;
    }
    player.Steps.clear();
    player.Finishes = 0;
    beeper.PlayPreset(TPresetSound(13));
    EXPECT_TRUE(player.Steps.empty());
    EXPECT_EQ(player.Finishes, 0);

    beeper.SetBeatDuration(bd_1500);
    EXPECT_EQ(beeper.BeatMilliseconds(), 1500);
}

TEST(Beeper, SilentPlayerKeepsTheTimingOnTheProgramClock) {
    TManualClock clock;
    SetClock(&clock);
    TTonePlayer silent;
    TBTBeeper beeper;
    beeper.SetTonePlayer(&silent);
    beeper.PlayPreset(psCall);
    SetClock(nullptr);
    EXPECT_EQ(clock.Pauses, (std::vector<int>{650, 100, 500}));
}

TEST(Beeper, MessageBeepUsesTheSoundThemeElseAShortTone) {
    TRecordingTonePlayer tones;
    SetTonePlayer(&tones);
    std::vector<std::string> events;
    bool themeWorks = true;
    TDesktopSounds sounds([&](const char* id) {
        events.push_back(id);
        return themeWorks;
    });
    sounds.MessageBeep(MB_ICONASTERISK);
    sounds.MessageBeep(MB_OK);
    EXPECT_EQ(events, (std::vector<std::string>{"dialog-information", "bell"}));
    EXPECT_TRUE(tones.Steps.empty());
    themeWorks = false;
    sounds.MessageBeep(MB_ICONASTERISK);
    SetTonePlayer(nullptr);
    EXPECT_EQ(tones.Steps, (Steps{{880, 120}}));
    EXPECT_EQ(tones.Finishes, 1);
}
} // namespace
