// A fresh, private home for the program in a test.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pvtest {
// An environment variable set for a while: its previous value, or its absence, comes back at
// the end.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string FName;
    std::optional<std::string> FPrevious;
};

// A new folder below /tmp as the program folder (POSTVIGIL_HOME), with the settings
// (XDG_CONFIG_HOME) in "config" and the cache (XDG_CACHE_HOME) in "cache" below it. The
// variables are set back and the folder is removed at the end.
class TTempHome {
public:
    // prefix: the start of the folder's name, e.g. "pv-main".
    explicit TTempHome(const std::string& prefix);
    ~TTempHome();
    TTempHome(const TTempHome&) = delete;
    TTempHome& operator=(const TTempHome&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
    TScopedEnv FProgram, FConfig, FCache;
};
} // namespace pvtest
