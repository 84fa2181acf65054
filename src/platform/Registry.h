// The per-user settings store: keys named by backslash paths under the current user, each
// holding string values. Kept in one profile file (one section per key path) in the user's
// configuration folder.
#pragma once

#include "platform/IniFile.h"

#include <memory>
#include <string>
#include <string_view>

class TRegistry {
public:
    // Opens the store in its usual place (Paths: RegistryFile()).
    TRegistry();
    explicit TRegistry(std::string hiveFile);

    // Makes keyPath the current key. Without canCreate, a missing key is not opened and
    // false is returned; with it, the key is created on the first write.
    bool OpenKey(std::string_view keyPath, bool canCreate);
    bool KeyExists(std::string_view keyPath) const;
    void CloseKey() { FKey.clear(); }
    const std::string& CurrentPath() const { return FKey; }

    bool ValueExists(std::string_view name) const;
    std::string ReadString(std::string_view name, std::string_view def = "") const;
    // Integer text; a missing value or text that is not an integer reads as def.
    int ReadInteger(std::string_view name, int def) const;
    // True for any integer other than 0.
    bool ReadBool(std::string_view name, bool def) const;

    // A failed write leaves the old value and returns false.
    bool WriteString(std::string_view name, std::string_view value);
    bool WriteInteger(std::string_view name, int value);
    bool WriteBool(std::string_view name, bool value);
    bool DeleteValue(std::string_view name);
    void GetValueNames(TStringList& names) const;

private:
    std::unique_ptr<TIniFile> FHive;
    std::string FKey;
};
