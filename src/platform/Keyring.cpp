#include "platform/Keyring.h"

namespace {
const char* const kNoKeyring = "No keyring is running";

TNoPasswordStore& NoStore() {
    static TNoPasswordStore none;
    return none;
}
TPasswordStore* Installed = nullptr;
} // namespace

bool TNoPasswordStore::Store(const std::string&, const std::string&, const std::string&,
                             std::string& error) {
    error = kNoKeyring;
    return false;
}

bool TMemoryPasswordStore::Store(const std::string& key, const std::string& label,
                                 const std::string& password, std::string& error) {
    if (!Present) {
        error = kNoKeyring;
        return false;
    }
    Items[key] = password;
    Labels[key] = label;
    return true;
}

std::optional<std::string> TMemoryPasswordStore::Lookup(const std::string& key) {
    const auto it = Items.find(key);
    if (!Present || it == Items.end()) return std::nullopt;
    return it->second;
}

bool TMemoryPasswordStore::Remove(const std::string& key) {
    if (!Present) return false;
    Items.erase(key);
    Labels.erase(key);
    return true;
}

TPasswordStore& PasswordStore() {
    return Installed ? *Installed : NoStore();
}

void SetPasswordStore(TPasswordStore* store) {
    Installed = store;
}
