#include "platform/TonePlayer.h"

#include "platform/Clock.h"
#include "platform/EventWait.h"

void TTonePlayer::PlayTone(unsigned, int ms) {
    if (ms > 0) platform::Pause(ms);
}

void TTonePlayer::Rest(int ms) {
    platform::WaitProcessingEvents(ms);
}

namespace {
TTonePlayer* gPlayer = nullptr;
} // namespace

TTonePlayer& TonePlayer() {
    static TTonePlayer silent;
    return gPlayer ? *gPlayer : silent;
}

void SetTonePlayer(TTonePlayer* player) {
    gPlayer = player;
}
