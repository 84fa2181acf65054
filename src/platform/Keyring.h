// Passwords kept in the desktop's keyring rather than in a file. The program installs the
// Secret Service store at start; until then (and in tests that install none) no keyring is
// there, and callers keep passwords in their files as before.
#pragma once

#include <map>
#include <optional>
#include <string>

class TPasswordStore {
public:
    virtual ~TPasswordStore() = default;
    // True when a keyring answers now.
    virtual bool Available() = 0;
    // Stores password under key, replacing an earlier one. label is what the keyring's own
    // tools show. False, with the keyring's reason in error, when it was not stored.
    virtual bool Store(const std::string& key, const std::string& label,
                       const std::string& password, std::string& error) = 0;
    // The password under key; nothing when there is none or the keyring cannot be asked.
    virtual std::optional<std::string> Lookup(const std::string& key) = 0;
    // True when no password is left under key.
    virtual bool Remove(const std::string& key) = 0;
};

// No keyring at all.
class TNoPasswordStore : public TPasswordStore {
public:
    bool Available() override { return false; }
    bool Store(const std::string&, const std::string&, const std::string&,
               std::string& error) override;
    std::optional<std::string> Lookup(const std::string&) override { return std::nullopt; }
    bool Remove(const std::string&) override { return false; }
};

// A keyring in memory, for tests and runs that must not touch the user's own.
class TMemoryPasswordStore : public TPasswordStore {
public:
    bool Available() override { return Present; }
    bool Store(const std::string& key, const std::string& label, const std::string& password,
               std::string& error) override;
    std::optional<std::string> Lookup(const std::string& key) override;
    bool Remove(const std::string& key) override;

    bool Present = true;
    std::map<std::string, std::string> Items;
    std::map<std::string, std::string> Labels;
};

// The keyring the program uses (not owned; nullptr restores "no keyring").
TPasswordStore& PasswordStore();
void SetPasswordStore(TPasswordStore* store);
