#include "platform/Paths.h"

#include "base/StrUtils.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::string Home() {
    std::string home = Env("HOME");
    return home.empty() ? std::string("/tmp") : home;
}

std::string XdgDir(const char* variable, const char* fallback) {
    const std::string v = Env(variable);
    // The base directory specification ignores relative paths.
    if (!v.empty() && v.front() == '/') return WithSlash(v);
    return WithSlash(Home() + "/" + fallback);
}
} // namespace

std::string ProgDir() {
    const std::string home = Env("POSTVIGIL_HOME");
    if (!home.empty()) return WithSlash(home);
    return XdgDir("XDG_DATA_HOME", ".local/share") + "Tessmar/";
}

std::string ConfigDir() {
    return XdgDir("XDG_CONFIG_HOME", ".config") + "Tessmar/";
}

std::string CacheDir() {
    return XdgDir("XDG_CACHE_HOME", ".cache") + "Tessmar/";
}

std::string RegistryFile() {
    return ConfigDir() + "registry.ini";
}

std::string WinIniFile() {
    return ConfigDir() + "win.ini";
}

std::string AutostartDir() {
    return XdgDir("XDG_CONFIG_HOME", ".config") + "autostart/";
}

std::string FindFileNoCase(const std::string& dir, std::string_view name) {
    const std::string exact = dir + std::string(name);
    std::error_code ec;
    if (fs::exists(exact, ec)) return exact;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (SameText(entry, name)) return dir + entry;
    }
    return exact;
}

std::string NativeRelative(std::string_view windowsPath) {
    std::string p(windowsPath);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

bool ForceDirectories(const std::string& path) {
    // Each missing folder is made the owner's alone (it may hold mail); folders that are
    // there keep the permissions their owner gave them.
    std::error_code ec;
    fs::path made;
    for (const fs::path& part : fs::path(path)) {
        made /= part;
        if (part.empty() || fs::is_directory(made, ec)) continue;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return fs::is_directory(path, ec);
}
