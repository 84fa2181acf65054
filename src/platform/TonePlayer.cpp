#include "platform/TonePlayer.h"

#include "base/Clock.h"
#include "net/EventWait.h"
#include "platform/AlsaTonePlayer.h"

void TTonePlayer::PlayTone(unsigned, int ms) {
    if (ms > 0) platform::Pause(ms);
}

void TTonePlayer::Rest(int ms) {
    WaitProcessingEvents(ms);
}

namespace {
TTonePlayer* gPlayer = nullptr;
} // namespace

TTonePlayer& TonePlayer() {
    static TAlsaTonePlayer alsa;
    return gPlayer ? *gPlayer : alsa;
}

void SetTonePlayer(TTonePlayer* player) {
    gPlayer = player;
}
