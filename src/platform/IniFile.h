// Profile (ini) files with the rules desktop users know from them: sections and keys
// compared without regard to case, the first match wins, a missing file or key reads as the
// default, ";" starts a comment line.
#pragma once

#include "base/StringList.h"

#include <string>
#include <string_view>
#include <vector>

class TIniFile {
public:
    // Reads the file now (a missing or unreadable file reads as empty).
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Decimal (or $hex) integer; anything else reads as def.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // True for any integer other than 0; def when the value is missing or not a number.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // Key names of a section in file order (first spelling of each).
    void ReadSection(std::string_view section, TStringList& keys) const;
    void ReadSections(TStringList& sections) const;

    // Writes change the file at once (written to a temporary file, flushed and renamed over
    // it, so a failed write leaves the old file). They return false when the file could not
    // be written; the value in memory is then unchanged as well. A rewritten file keeps the
    // permissions of the one it replaces.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);
    bool DeleteKey(std::string_view section, std::string_view key);

    // Between BeginUpdate and EndUpdate writes change only the copy in memory; EndUpdate
    // writes the file once and returns false when that failed (the file is then unchanged).
    void BeginUpdate() { FUpdating = true; }
    bool EndUpdate();
    // A file this object creates is readable by its owner only (for files holding secrets).
    void SetPrivate(bool value) { FPrivate = value; }

private:
    // Takes lines as the new content: written at once, or kept until EndUpdate.
    bool Commit(std::vector<std::string>& lines);
    // Index of the section header line, or -1.
    int FindSection(std::string_view section) const;
    // Index of the key's line within the section starting at header, or -1.
    int FindKey(int header, std::string_view key) const;
    int SectionEnd(int header) const;
    bool Save(const std::vector<std::string>& lines) const;

    std::string FFileName;
    std::vector<std::string> FLines;
    bool FUpdating = false;
    bool FPrivate = false;
};
