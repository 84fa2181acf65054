// The system's event sounds (the message beep): the desktop's sound theme where a sound
// backend plays it, else a short tone.
#pragma once

#include <functional>
#include <vector>

// The beep kinds of MessageBeep.
enum TMessageBeepType : unsigned {
    MB_OK = 0x00, // the default beep
    MB_ICONHAND = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONASTERISK = 0x40,
    MB_SIMPLEBEEP = 0xFFFFFFFF,
};

class TSystemSounds {
public:
    virtual ~TSystemSounds() = default;
    virtual void MessageBeep(unsigned type) = 0;
};

// Plays a sound-theme event by its freedesktop name ("dialog-information"); false when no
// backend or no sound for it is there.
using TThemeSoundPlayer = std::function<bool(const char* eventId)>;

// The sound theme through libcanberra; when that fails, a short tone on TonePlayer().
class TDesktopSounds : public TSystemSounds {
public:
    TDesktopSounds();
    // Without a theme player (nullptr) every beep is the tone.
    explicit TDesktopSounds(TThemeSoundPlayer themePlayer);
    void MessageBeep(unsigned type) override;

    // The theme event of a beep kind ("bell" for the default and the simple beep).
    static const char* EventId(unsigned type);

private:
    TThemeSoundPlayer FThemePlayer;
};

// Records the beeps and plays nothing.
class TRecordingSystemSounds : public TSystemSounds {
public:
    void MessageBeep(unsigned type) override { Beeps.push_back(type); }
    std::vector<unsigned> Beeps;
};

// The installed sounds (the program installs a TDesktopSounds at start), else the short tone
// on TonePlayer() for every beep.
TSystemSounds& SystemSounds();
// Installs sounds (not owned; nullptr leaves the tone).
void SetSystemSounds(TSystemSounds* sounds);

inline void MessageBeep(unsigned type) {
    SystemSounds().MessageBeep(type);
}
