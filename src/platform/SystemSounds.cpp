#include "platform/SystemSounds.h"

#include "platform/TonePlayer.h"

#include <canberra.h>

namespace {
constexpr unsigned kFallbackFrequency = 880;
constexpr int kFallbackMs = 120;

// One libcanberra context for the process, opened on first use; a failed open is tried
// again on the next beep (a sound server may have started meanwhile).
class TCanberra {
public:
    ~TCanberra() {
        if (FContext) ca_context_destroy(FContext);
    }
    bool Play(const char* eventId) {
        if (!FContext && !Open()) return false;
        return ca_context_play(FContext, 0, CA_PROP_EVENT_ID, eventId, CA_PROP_EVENT_DESCRIPTION,
                               "Postvigil", nullptr) == CA_SUCCESS;
    }

private:
    bool Open() {
        if (ca_context_create(&FContext) != CA_SUCCESS) {
            FContext = nullptr;
            return false;
        }
        ca_context_change_props(FContext, CA_PROP_APPLICATION_NAME, "Postvigil",
                                CA_PROP_APPLICATION_ID, "postvigil", nullptr);
        if (ca_context_open(FContext) != CA_SUCCESS) {
            ca_context_destroy(FContext);
            FContext = nullptr;
            return false;
        }
        return true;
    }
    ca_context* FContext = nullptr;
};

bool PlayWithCanberra(const char* eventId) {
    static TCanberra canberra;
    return canberra.Play(eventId);
}

TSystemSounds* gSounds = nullptr;
} // namespace

TDesktopSounds::TDesktopSounds() : FThemePlayer(PlayWithCanberra) {}

TDesktopSounds::TDesktopSounds(TThemeSoundPlayer themePlayer)
    : FThemePlayer(std::move(themePlayer)) {}

const char* TDesktopSounds::EventId(unsigned type) {
    switch (type) {
    case MB_ICONHAND:
        return "dialog-error";
    case MB_ICONQUESTION:
        return "dialog-question";
    case MB_ICONEXCLAMATION:
        return "dialog-warning";
    case MB_ICONASTERISK:
        return "dialog-information";
    default:
        return "bell";
    }
}

void TDesktopSounds::MessageBeep(unsigned type) {
    if (FThemePlayer && FThemePlayer(EventId(type))) return;
    TTonePlayer& player = TonePlayer();
    player.PlayTone(kFallbackFrequency, kFallbackMs);
    player.Finish();
}

TSystemSounds& SystemSounds() {
    static TDesktopSounds toneOnly(nullptr);
    return gSounds ? *gSounds : toneOnly;
}

void SetSystemSounds(TSystemSounds* sounds) {
    gSounds = sounds;
}
