#include "dialup/RasBinding.h"

#include "base/Clock.h"
#include "base/Exceptions.h"
#include "dialup/DialMailbox.h"
#include "net/EventWait.h"

namespace {
const char kRasLibrary[] = "rasapi32.dll";
const char kFallbackLibrary[] = "rnaph.dll";
const char kErrorOpeningRas[] = "Error opening rasapi.dll";
const char kErrorOpeningFallback[] = "Error opening rnaph.dll";
const char kFunction[] = "Function ";
const char kNotFound[] = " not found!";

struct TRasBinding {
    TRasLoader Loader;
    std::function<void()> PhoneBookListener;
    bool PhoneBookWait = false;
    std::shared_ptr<TRasLibrary> Library;  // "rasapi32.dll" once opened
    std::shared_ptr<TRasLibrary> Fallback; // "rnaph.dll" once opened
    bool Loaded = false;
    bool FallbackMode = false;
};

TRasBinding& Binding() {
    static TRasBinding binding;
    return binding;
}

std::shared_ptr<TRasLibrary> Load(TRasBinding& b, const std::string& fileName) {
    return b.Loader ? b.Loader(fileName) : nullptr;
}

[[noreturn]] void RaiseNotFound(const std::string& name) {
    throw Exception(kFunction + name + kNotFound);
}
} // namespace

TRasLibrary& GetRasProc(const std::string& name) {
    TRasBinding& b = Binding();
    if (b.Loaded) {
        if (b.FallbackMode) {
            if (b.Fallback->Exports(name)) return *b.Fallback;
        } else if (b.Library->Exports(name + "A") || b.Library->Exports(name)) {
            return *b.Library;
        }
        RaiseNotFound(name);
    }

    if (!b.Library) b.Library = Load(b, kRasLibrary);
    if (!b.Library) throw Exception(kErrorOpeningRas);
    if (b.Library->Exports(name + "A") || b.Library->Exports(name)) {
        b.Loaded = true;
        return *b.Library;
    }

    if (!b.Fallback) b.Fallback = Load(b, kFallbackLibrary);
    if (!b.Fallback) throw Exception(kErrorOpeningFallback);
    if (!b.Fallback->Exports(name)) RaiseNotFound(name);
    b.Loaded = true;
    b.FallbackMode = true;
    return *b.Fallback;
}

void UnloadRas() {
    // A progress report still on its way must not wait for a component whose provider is
    // going away.
    AbandonAsyncDialer();
    TRasBinding& b = Binding();
    b.Loaded = false;
    b.FallbackMode = false;
    b.Fallback.reset();
    b.Library.reset();
}

void SetRasLoader(TRasLoader loader) {
    UnloadRas();
    Binding().Loader = std::move(loader);
}

bool RasLoaded() {
    return Binding().Loaded;
}

bool RasPhoneBookPending() {
    const TRasBinding& b = Binding();
    return b.Library && b.Library->PhoneBookPending();
}

bool WaitForRasPhoneBook(int limitMs) {
    TRasBinding& b = Binding();
    if (!RasPhoneBookPending() || b.PhoneBookWait) return !RasPhoneBookPending();
    b.PhoneBookWait = true;
    const TWaitEnd end =
        WaitEvents(Clock().NowMs() + limitMs, nullptr, [] { return !RasPhoneBookPending(); });
    b.PhoneBookWait = false;
    return end == TWaitEnd::Done;
}

void SetRasPhoneBookListener(std::function<void()> listener) {
    Binding().PhoneBookListener = std::move(listener);
}

void RasPhoneBookRead() {
    TRasBinding& b = Binding();
    if (b.PhoneBookListener) b.PhoneBookListener();
}
