// Pure tones for the notification tunes: an interface, the silent base that only keeps the
// timing, and a recording double for tests. The ALSA player is in AlsaTonePlayer.h.
#pragma once

#include <vector>

class TTonePlayer {
public:
    virtual ~TTonePlayer() = default;
    // Plays frequency Hz for ms milliseconds and returns when the tone is over. The base
    // player is silent: it waits through platform::Pause (no events run meanwhile).
    virtual void PlayTone(unsigned frequency, int ms);
    // ms milliseconds of silence while pending events run.
    virtual void Rest(int ms);
    // The tune is over; a player may let go of its sound device.
    virtual void Finish() {}
};

struct TToneStep {
    unsigned Frequency; // 1 marks a rest
    int Duration;       // milliseconds
    bool operator==(const TToneStep&) const = default;
};

// Records every tone and rest (a rest as frequency 1) and returns at once.
class TRecordingTonePlayer : public TTonePlayer {
public:
    void PlayTone(unsigned frequency, int ms) override { Steps.push_back({frequency, ms}); }
    void Rest(int ms) override { Steps.push_back({1, ms}); }
    void Finish() override { ++Finishes; }

    std::vector<TToneStep> Steps;
    int Finishes = 0;
};

// The player the program's tunes and beeps go to: the installed one (the program installs an
// ALSA player at start), else the silent base player, so the tunes still take their time.
TTonePlayer& TonePlayer();
// Installs a player (not owned; nullptr leaves the silent one).
void SetTonePlayer(TTonePlayer* player);
