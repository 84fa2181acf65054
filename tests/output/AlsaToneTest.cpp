// The ALSA tone player renders a tune into a WAV file through an ALSA configuration of our
// own (a "file" device in front of a "null" device, which plays faster than real time).
#include "base/Clock.h"
#include "output/BTOdeum.h"
#include "platform/AlsaTonePlayer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

namespace {
struct TWav {
    unsigned Rate = 0, Channels = 0, Bits = 0;
    std::vector<int16_t> Samples;
};

bool ReadWav(const QString& path, TWav& wav) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray b = f.readAll();
    auto u16 = [&](qsizetype at) {
        return unsigned(uint8_t(b[at])) | unsigned(uint8_t(b[at + 1])) << 8;
    };
    auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    if (b.size() < 12 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE") return false;
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        qsizetype size = u32(at + 4);
        if (id == "fmt ") {
            wav.Channels = u16(at + 10);
            wav.Rate = u32(at + 12);
            wav.Bits = u16(at + 22);
        } else if (id == "data") {
            size = std::min(size, b.size() - at - 8);
            wav.Samples.resize(std::size_t(size / 2));
            std::memcpy(wav.Samples.data(), b.constData() + at + 8, wav.Samples.size() * 2);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

// Power of one frequency in a stretch of samples (Goertzel).
double Power(const int16_t* x, std::size_t n, double frequency, double rate) {
    const double k = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s0 = x[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

double DominantFrequency(const int16_t* x, std::size_t n, double rate) {
    double best = 0, bestPower = -1;
    for (double f = 40; f <= 4000; f += 2) {
        const double p = Power(x, n, f, rate);
        if (p > bestPower) {
            bestPower = p;
            best = f;
        }
    }
    return best;
}

TEST(AlsaTonePlayer, RendersTheWhistleWithTheTabledLengthsAndPitches) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wavPath = dir.filePath("whisle.wav");
    const QString config = dir.filePath("asound.conf");
    QFile conf(config);
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("pcm.pvnull { type null }\n"
               "pcm.pvwav {\n  type file\n  slave.pcm \"pvnull\"\n  file \"" +
               wavPath.toUtf8() + "\"\n  format \"wav\"\n}\n");
    conf.close();
    const char* before = std::getenv("ALSA_CONFIG_PATH");
    const std::string saved = before ? before : "";
    setenv("ALSA_CONFIG_PATH", config.toUtf8().constData(), 1);

    TManualClock clock;
    SetClock(&clock);
    {
        TAlsaTonePlayer player("pvwav");
        TBTBeeper beeper;
        beeper.SetTonePlayer(&player);
        beeper.PlayPreset(psWhisle);
    }
    SetClock(nullptr);
    if (before)
        setenv("ALSA_CONFIG_PATH", saved.c_str(), 1);
    else
        unsetenv("ALSA_CONFIG_PATH");

    // Each tone blocked for its length, on the program's clock: the device took none.
    EXPECT_EQ(clock.Pauses, (std::vector<int>{80, 80, 80, 80}));

    TWav wav;
    ASSERT_TRUE(ReadWav(wavPath, wav)) << "no WAV written";
    EXPECT_EQ(wav.Channels, 1u);
    EXPECT_EQ(wav.Bits, 16u);
    ASSERT_GT(wav.Rate, 0u);
    const double seconds = double(wav.Samples.size()) / wav.Rate;
    EXPECT_NEAR(seconds, 0.320, 0.320 * 0.03);

    const double expected[] = {523, 698, 784, 1046};
    const std::size_t step = wav.Samples.size() / 4;
    const std::size_t margin = step / 10; // away from the fades and the step edges
    for (int i = 0; i < 4; ++i) {
        const int16_t* at = wav.Samples.data() + i * step + margin;
        const double f = DominantFrequency(at, step - 2 * margin, wav.Rate);
        EXPECT_NEAR(f, expected[i], expected[i] * 0.03) << "step " << i;
        int peak = 0;
        for (std::size_t j = 0; j < step - 2 * margin; ++j)
            peak = std::max(peak, std::abs(int(at[j])));
        EXPECT_GT(peak, 5000) << "step " << i << " is silent";
    }
}
} // namespace
