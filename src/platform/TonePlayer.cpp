#include "platform/TonePlayer.h"

#include "base/Clock.h"
#include "net/EventWait.h"

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
    static TTonePlayer silent;
    return gPlayer ? *gPlayer : silent;
}

void SetTonePlayer(TTonePlayer* player) {
    gPlayer = player;
}
