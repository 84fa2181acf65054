#include "platform/SoundLibrary.h"

#include <alsa/asoundlib.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
// Sounds may be played from other threads (the sound theme's), so the slot is guarded.
std::mutex gMutex;
std::string gFirstError;
bool gSeen = false;

void KeepFirstError(const char* file, int line, const char* function, int err, const char* fmt,
                    ...) {
    std::lock_guard lock(gMutex);
    if (gSeen) return;
    gSeen = true;
    char text[256] = {};
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    gFirstError = text;
    if (err) gFirstError += std::string(": ") + snd_strerror(err);
    (void)file;
    (void)line;
    if (function && *function) gFirstError = std::string(function) + ": " + gFirstError;
}
} // namespace

void SilenceSoundLibrary() {
    snd_lib_error_set_handler(KeepFirstError);
}

std::string TakeSoundLibraryError() {
    std::lock_guard lock(gMutex);
    std::string taken;
    taken.swap(gFirstError);
    return taken;
}

void ForgetSoundLibraryErrors() {
    std::lock_guard lock(gMutex);
    gFirstError.clear();
    gSeen = false;
}
