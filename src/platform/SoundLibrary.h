// The sound library's own error printing (ALSA writes "ALSA lib ..." lines to standard error
// when a card is missing): turned off for the whole program, the first message kept for the
// protocol instead.
#pragma once

#include <string>

// Installs the quiet handler; call once at start, before anything plays a sound.
void SilenceSoundLibrary();
// The first error the sound library reported in this run, handed out once; empty when there
// was none or it has been taken.
std::string TakeSoundLibraryError();
// Starts over as in a new run: the next error is kept again (tests run many runs in one
// process).
void ForgetSoundLibraryErrors();
