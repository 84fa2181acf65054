#include "platform/IniFile.h"

#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "base/Streams.h"
#include "platform/DurableFile.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The section name of a "[name]" line, or false when the line is no section header.
bool SectionName(std::string_view line, std::string_view& name) {
    const std::string_view t = TrimView(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) return false;
    name = TrimView(t.substr(1, close - 1));
    return true;
}

bool IsComment(std::string_view line) {
    const std::string_view t = TrimView(line);
    return t.empty() || t.front() == ';';
}

// Splits "key = value" into its trimmed key and value; false when there is no "=".
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = TrimView(line.substr(0, eq));
    value = TrimView(line.substr(eq + 1));
    return true;
}

// A value written in matching quotes reads without them.
std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}
} // namespace

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
    try {
        TStringList lines;
        lines.LoadFromFile(FFileName);
        FLines = std::move(lines.Items());
    } catch (const Exception&) {
        // A missing or unreadable file reads as empty.
    }
}

int TIniFile::FindSection(std::string_view section) const {
    std::string_view name;
    for (std::size_t i = 0; i < FLines.size(); ++i)
        if (SectionName(FLines[i], name) && SameText(name, section)) return int(i);
    return -1;
}

int TIniFile::SectionEnd(int header) const {
    std::string_view name;
    std::size_t i = std::size_t(header) + 1;
    while (i < FLines.size() && !SectionName(FLines[i], name)) ++i;
    return int(i);
}

int TIniFile::FindKey(int header, std::string_view key) const {
    const int end = SectionEnd(header);
    std::string_view k, v;
    for (int i = header + 1; i < end; ++i) {
        const std::string& line = FLines[std::size_t(i)];
        if (!IsComment(line) && KeyValue(line, k, v) && SameText(k, key)) return i;
    }
    return -1;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
    const int header = FindSection(section);
    const int line = header < 0 ? -1 : FindKey(header, key);
    if (line < 0) return std::string(def);
    std::string_view k, v;
    KeyValue(FLines[std::size_t(line)], k, v);
    return std::string(Unquote(v));
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    return StrToIntDef(ReadString(section, key, ""), def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const {
    return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    const int header = FindSection(section);
    return header >= 0 && FindKey(header, key) >= 0;
}

void TIniFile::ReadSection(std::string_view section, TStringList& keys) const {
    keys.Clear();
    const int header = FindSection(section);
    if (header < 0) return;
    const int end = SectionEnd(header);
    std::string_view k, v;
    for (int i = header + 1; i < end; ++i) {
        const std::string& line = FLines[std::size_t(i)];
        if (!IsComment(line) && KeyValue(line, k, v) && keys.IndexOf(k) < 0)
            keys.Add(std::string(k));
    }
}

void TIniFile::ReadSections(TStringList& sections) const {
    sections.Clear();
    std::string_view name;
    for (const auto& line : FLines)
        if (SectionName(line, name) && sections.IndexOf(name) < 0) sections.Add(std::string(name));
}

bool TIniFile::Save(const std::vector<std::string>& lines) const {
    const std::filesystem::path target(FFileName);
    if (target.has_parent_path()) ForceDirectories(target.parent_path().string());
    // The new file gets the permissions of the one it replaces; a new private one is the
    // owner's alone from its first byte.
    struct stat old {};
    const bool replacing = ::stat(FFileName.c_str(), &old) == 0;
    const unsigned mode = replacing ? unsigned(old.st_mode & 07777) : FPrivate ? 0600u : 0644u;
    try {
        TStringList out;
        out.Items() = lines;
        WriteFileDurably(FFileName, out.Text(), true, mode);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::vector<std::string> lines = FLines;
    const std::string entry = std::string(key) + "=" + std::string(value);
    const int header = FindSection(section);
    if (header < 0) {
        if (!lines.empty() && !TrimView(lines.back()).empty()) lines.emplace_back();
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    } else if (const int line = FindKey(header, key); line >= 0) {
        lines[std::size_t(line)] = entry;
    } else {
        // After the section's last non-empty line.
        int at = SectionEnd(header);
        while (at > header + 1 && TrimView(lines[std::size_t(at - 1)]).empty()) --at;
        lines.insert(lines.begin() + at, entry);
    }
    return Commit(lines);
}

bool TIniFile::Commit(std::vector<std::string>& lines) {
    if (!FUpdating && !Save(lines)) return false;
    FLines = std::move(lines);
    return true;
}

bool TIniFile::EndUpdate() {
    FUpdating = false;
    return Save(FLines);
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key) {
    const int header = FindSection(section);
    const int line = header < 0 ? -1 : FindKey(header, key);
    if (line < 0) return true;
    std::vector<std::string> lines = FLines;
    lines.erase(lines.begin() + line);
    return Commit(lines);
}
