// Short tunes of pure tones for notifications: thirteen preset tunes, played step by step on
// the platform's tone player.
#pragma once

#include <cstdint>

class TTonePlayer;

enum TBeatDuration { bd_500, bd_1000, bd_1500, bd_2000 };

enum TPresetSound {
    psOK,
    psError,
    psWelcome,
    psEmergency,
    psWrong,
    psCall,
    psOfficial,
    psDaze,
    psFall,
    psChord,
    psWhisle,
    psHanging,
    psClimb,
};

class TBTBeeper {
public:
    // Frequency of a rest.
    static constexpr uint16_t kRest = 1;

    TBTBeeper();

    // Kept with its length in milliseconds; no tune uses it.
    TBeatDuration BeatDuration() const { return FBeatDuration; }
    void SetBeatDuration(TBeatDuration value);
    int BeatMilliseconds() const { return FBeatMilliseconds; }
    // The tune of PlayDefault.
    TPresetSound DefaultSound() const { return FDefaultSound; }
    void SetDefaultSound(TPresetSound value) { FDefaultSound = value; }

    // Where the tones go (not owned); nullptr means the platform's TonePlayer().
    void SetTonePlayer(TTonePlayer* player) { FPlayer = player; }

    void PlayDefault();
    // Plays the tune's steps in order and returns when it is over; a value outside the
    // presets plays nothing.
    void PlayPreset(TPresetSound Sound);
    // One step: Frequency hertz for Duration milliseconds; frequency 1 is a rest, during
    // which pending events run.
    void PlayTone(uint16_t Frequency, int Duration);

private:
    TTonePlayer& Player();

    TBeatDuration FBeatDuration = bd_1000;
    int FBeatMilliseconds = 1000;
    TPresetSound FDefaultSound = psOK;
    TTonePlayer* FPlayer = nullptr;
};
