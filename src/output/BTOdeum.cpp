#include "output/BTOdeum.h"

#include "platform/TonePlayer.h"

#include <initializer_list>
#include <iterator>

namespace {
struct TStep {
    uint16_t Frequency;
    uint16_t Duration;
};
using TTune = std::initializer_list<TStep>;

// The preset tunes in TPresetSound order, as (hertz, milliseconds); 1 Hz is a rest.
const TTune kTunes[] = {
    /* psOK */ {{932, 100}, {988, 100}, {1046, 100}},
    /* psError */ {{92, 150}, {1, 200}, {65, 500}},
    /* psWelcome */
    {{932, 100}, {988, 100}, {1046, 100}, {1, 100}, {1046, 100}, {988, 100}, {932, 100}},
    /* psEmergency */
    {{698, 200},
     {494, 200},
     {698, 200},
     {494, 200},
     {698, 200},
     {494, 200},
     {698, 200},
     {494, 200}},
    /* psWrong */
    {{261, 150},
     {247, 50},
     {233, 50},
     {220, 50},
     {207, 50},
     {196, 50},
     {189, 50},
     {174, 50},
     {165, 50},
     {155, 50},
     {149, 50},
     {138, 50},
     {131, 100},
     {65, 200}},
    /* psCall */ {{196, 650}, {1, 100}, {165, 500}},
    /* psOfficial */
    {{196, 200},
     {1, 50},
     {196, 200},
     {1, 50},
     {196, 200},
     {1, 50},
     {165, 700},
     {1, 100},
     {261, 200},
     {1, 50},
     {261, 200},
     {1, 50},
     {261, 200},
     {1, 50},
     {131, 700}},
    /* psDaze */
    {{329, 100},
     {311, 100},
     {293, 100},
     {311, 100},
     {329, 100},
     {311, 100},
     {293, 100},
     {311, 100},
     {329, 100},
     {311, 100},
     {293, 100},
     {311, 100}},
    /* psFall */
    {{329, 100},
     {311, 100},
     {293, 100},
     {311, 100},
     {349, 100},
     {329, 100},
     {311, 100},
     {329, 100},
     {370, 100},
     {349, 100},
     {329, 100},
     {349, 100}},
    /* psChord */
    {{494, 80},
     {466, 80},
     {440, 80},
     {415, 80},
     {392, 80},
     {370, 80},
     {349, 80},
     {329, 80},
     {311, 80},
     {293, 80},
     {277, 80},
     {261, 80}},
    /* psWhisle */ {{523, 80}, {698, 80}, {784, 80}, {1046, 80}},
    /* psHanging */
    {{784, 80},
     {1046, 80},
     {830, 80},
     {1109, 80},
     {880, 80},
     {1174, 80},
     {932, 80},
     {1244, 80},
     {988, 80},
     {1318, 80},
     {1046, 80},
     {1397, 80}},
    /* psClimb */
    {{261, 80},
     {277, 80},
     {293, 80},
     {311, 80},
     {329, 80},
     {349, 80},
     {370, 80},
     {392, 80},
     {415, 80},
     {440, 80},
     {466, 80},
     {494, 80}},
};
static_assert(std::size(kTunes) == psClimb + 1, "one tune per preset");

constexpr int kBeatMilliseconds[] = {500, 1000, 1500, 2000};
} // namespace

TBTBeeper::TBTBeeper() = default;

void TBTBeeper::SetBeatDuration(TBeatDuration value) {
    if (unsigned(value) > unsigned(bd_2000)) return;
    FBeatDuration = value;
    FBeatMilliseconds = kBeatMilliseconds[value];
}

TTonePlayer& TBTBeeper::Player() {
    return FPlayer ? *FPlayer : TonePlayer();
}

void TBTBeeper::PlayDefault() {
    PlayPreset(FDefaultSound);
}

void TBTBeeper::PlayPreset(TPresetSound Sound) {
    if (unsigned(Sound) > unsigned(psClimb)) return;
    for (const TStep& step : kTunes[Sound]) PlayTone(step.Frequency, step.Duration);
    Player().Finish();
}

void TBTBeeper::PlayTone(uint16_t Frequency, int Duration) {
    if (Duration <= 0) return;
    if (Frequency == kRest)
        Player().Rest(Duration);
    else
        Player().PlayTone(Frequency, Duration);
}
