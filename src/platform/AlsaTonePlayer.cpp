#include "platform/AlsaTonePlayer.h"

#include "base/Clock.h"
#include "platform/SoundLibrary.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr int kRetryAfterMs = 10000;
constexpr unsigned kLatencyUs = 100000;
constexpr long kChunkFrames = 1024;
constexpr double kAmplitude = 0.3 * 32767;
constexpr long kFadeFrames = TAlsaTonePlayer::kSampleRate / 250; // 4 ms against clicks
constexpr unsigned kLowestFrequency = 20;
constexpr unsigned kHighestFrequency = 20000;
} // namespace

TAlsaTonePlayer::TAlsaTonePlayer(std::string device, TToneWave wave)
    : FDevice(std::move(device)), FWave(wave) {}

TAlsaTonePlayer::~TAlsaTonePlayer() {
    Close();
}

void TAlsaTonePlayer::PlayTone(unsigned frequency, int ms) {
    if (ms <= 0) return;
    const int64_t start = Clock().NowMs();
    if (frequency >= kLowestFrequency && frequency <= kHighestFrequency && Open()) {
        const long frames = long(int64_t(ms) * kSampleRate / 1000);
        if (!Render(frequency, frames)) Close();
    }
    // A device that plays faster than real time (or none at all) still takes the tone's
    // length, measured on the program's clock.
    const int64_t left = ms - (Clock().NowMs() - start);
    if (left > 0) platform::Pause(int(left));
}

void TAlsaTonePlayer::Finish() {
    Close();
}

bool TAlsaTonePlayer::Open() {
    if (FPcm) return true;
    if (Clock().NowMs() < FRetryAt) return false;
    // A mail checker without sound is normal: the library must not print about it.
    SilenceSoundLibrary();
    snd_pcm_t* pcm = nullptr;
    // Opened without blocking so a busy device fails at once instead of hanging the
    // program; writes block again afterwards.
    bool ok = snd_pcm_open(&pcm, FDevice.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) == 0;
    ok = ok && snd_pcm_nonblock(pcm, 0) == 0 &&
         snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate,
                            1, kLatencyUs) == 0;
    if (!ok) {
        if (pcm) snd_pcm_close(pcm);
        FRetryAt = Clock().NowMs() + kRetryAfterMs;
        return false;
    }
    FPcm = pcm;
    return true;
}

void TAlsaTonePlayer::Close() {
    if (!FPcm) return;
    snd_pcm_close(FPcm);
    FPcm = nullptr;
}

bool TAlsaTonePlayer::Render(unsigned frequency, long frames) {
    if (snd_pcm_state(FPcm) != SND_PCM_STATE_PREPARED && snd_pcm_prepare(FPcm) < 0) return false;
    FBuffer.resize(kChunkFrames);
    const double step = double(frequency) / kSampleRate; // cycles per frame
    const long fade = std::min(kFadeFrames, frames / 2);
    long done = 0;
    while (done < frames) {
        const long count = std::min(kChunkFrames, frames - done);
        for (long i = 0; i < count; ++i) {
            const long n = done + i;
            const double phase = std::fmod(double(n) * step, 1.0);
            double value = FWave == twSine ? std::sin(2 * std::numbers::pi * phase)
                                           : (phase < 0.5 ? 1.0 : -1.0);
            if (n < fade) value *= double(n) / fade;
            if (frames - n <= fade) value *= double(frames - n - 1) / fade;
            FBuffer[std::size_t(i)] = int16_t(std::lround(value * kAmplitude));
        }
        long offset = 0;
        while (offset < count) {
            snd_pcm_sframes_t written =
                snd_pcm_writei(FPcm, FBuffer.data() + offset, snd_pcm_uframes_t(count - offset));
            if (written < 0) {
                if (snd_pcm_recover(FPcm, int(written), 1) < 0) return false;
                continue;
            }
            offset += written;
        }
        done += count;
    }
    // Blocks until the last sample has sounded.
    return snd_pcm_drain(FPcm) == 0;
}
