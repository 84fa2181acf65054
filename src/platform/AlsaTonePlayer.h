// Tones on an ALSA playback device.
#pragma once

#include "platform/TonePlayer.h"

#include <cstdint>
#include <string>
#include <vector>

struct _snd_pcm;

enum TToneWave { twSine, twSquare };

// Plays each tone on the device and blocks until it has sounded. When the device cannot be
// opened (no sound card, device busy) the tone is a silent wait of the same length, and the
// device is tried again after a while. Out-of-range frequencies (below 20 Hz or above
// 20 kHz) are silent waits too.
class TAlsaTonePlayer : public TTonePlayer {
public:
    static constexpr unsigned kSampleRate = 48000;

    explicit TAlsaTonePlayer(std::string device = "default", TToneWave wave = twSine);
    ~TAlsaTonePlayer() override;
    TAlsaTonePlayer(const TAlsaTonePlayer&) = delete;
    TAlsaTonePlayer& operator=(const TAlsaTonePlayer&) = delete;

    void PlayTone(unsigned frequency, int ms) override;
    // Closes the device; the next tone opens it again.
    void Finish() override;

    const std::string& Device() const { return FDevice; }

private:
    bool Open();
    void Close();
    bool Render(unsigned frequency, long frames);

    std::string FDevice;
    TToneWave FWave;
    _snd_pcm* FPcm = nullptr;
    int64_t FRetryAt = 0; // clock time before which a failed device is not tried again
    std::vector<int16_t> FBuffer;
};
