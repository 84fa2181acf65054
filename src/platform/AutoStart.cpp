#include "platform/AutoStart.h"

#include "base/Exceptions.h"
#include "platform/DurableFile.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <cstring>
#include <filesystem>

namespace {
const char* const kProfileSection = "Windows";
const char* const kLoadKey = "Load";
const char* const kEntryName = "postvigil.desktop";
const char* const kEntryHead = "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Tessmar Postvigil\n"
                               "GenericName=Mail Checker\n"
                               "Comment=Watch POP3 mail accounts and collect waiting mail\n"
                               "Icon=postvigil\n"
                               "Terminal=false\n"
                               "StartupNotify=false\n"
                               "X-GNOME-Autostart-enabled=true\n"
                               "Exec=";
// Characters that make an Exec argument need quotes.
const char* const kReserved = " \t\"'\\><~|&;$*?#()`";

// program as one Exec argument: quoted where needed, "%" doubled, and the backslashes of the
// quoting escaped once more, since the whole value is read as an escaped string first.
std::string ExecArgument(std::string_view program) {
    std::string arg;
    bool quote = false;
    for (char c : program) {
        if (c == '%') {
            arg += "%%";
            continue;
        }
        if (std::strchr(kReserved, c)) quote = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
        arg += c;
    }
    if (quote) arg = '"' + arg + '"';
    std::string value;
    for (char c : arg) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}
} // namespace

bool AddToLoadLine(std::string& value, std::string_view path) {
    if (value.find(path) != std::string::npos) return false;
    value += ',';
    value += path;
    return true;
}

bool RemoveFromLoadLine(std::string& value, std::string_view path) {
    std::size_t at = value.find(path);
    if (path.empty() || at == std::string::npos) return false;
    std::size_t length = path.size();
    if (at > 0 && value[at - 1] == ',') {
        --at;
        ++length;
    }
    value.erase(at, length);
    return true;
}

std::string ReadLoadLine() {
    return TIniFile(WinIniFile()).ReadString(kProfileSection, kLoadKey, "");
}

bool WriteLoadLine(std::string_view value) {
    return TIniFile(WinIniFile()).WriteString(kProfileSection, kLoadKey, value);
}

std::string AutostartEntryFile() {
    return AutostartDir() + kEntryName;
}

std::string AutostartEntryText(std::string_view program) {
    for (unsigned char c : program)
        if (c < 0x20 || c == 0x7f) return {};
    return kEntryHead + ExecArgument(program) + "\n";
}

bool WriteAutostartEntry(std::string_view program) {
    const std::string text = AutostartEntryText(program);
    if (text.empty() || !ForceDirectories(AutostartDir())) return false;
    try {
        WriteFileDurably(AutostartEntryFile(), text);
    } catch (const Exception&) {
        return false;
    }
    return true;
}

bool RemoveAutostartEntry() {
    std::error_code ec;
    std::filesystem::remove(AutostartEntryFile(), ec);
    return !ec;
}
