// The desktop keyring through the freedesktop Secret Service (GNOME Keyring, KWallet and
// others offer it on the session bus). Calls are synchronous: the keyring answers locally,
// and an unlock prompt, when the keyring is locked, is the desktop's own window.
#pragma once

#include "platform/Keyring.h"

class TSecretServiceStore : public TPasswordStore {
public:
    bool Available() override;
    bool Store(const std::string& key, const std::string& label, const std::string& password,
               std::string& error) override;
    std::optional<std::string> Lookup(const std::string& key) override;
    bool Remove(const std::string& key) override;
};
