#include "platform/SecretService.h"

#include <libsecret/secret.h>

namespace {
// One attribute names the password: the account it belongs to.
const char* const kAccountAttribute = "account";

const SecretSchema* Schema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "org.tessmar.Postvigil.Account";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {kAccountAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// Takes a GError's text and frees it.
std::string Consume(GError* error) {
    std::string text = error && error->message ? error->message : "";
    if (error) g_error_free(error);
    return text;
}
} // namespace

bool TSecretServiceStore::Available() {
    // Opening a session asks the service itself: a bus without a keyring on it fails here,
    // and so does a machine without a session bus.
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    Consume(error);
    if (!service) return false;
    g_object_unref(service);
    return true;
}

bool TSecretServiceStore::Store(const std::string& key, const std::string& label,
                                const std::string& password, std::string& error) {
    GError* failure = nullptr;
    const gboolean stored = secret_password_store_sync(
        Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr, &failure,
        kAccountAttribute, key.c_str(), nullptr);
    error = Consume(failure);
    return stored;
}

std::optional<std::string> TSecretServiceStore::Lookup(const std::string& key) {
    GError* failure = nullptr;
    gchar* password = secret_password_lookup_sync(Schema(), nullptr, &failure, kAccountAttribute,
                                                  key.c_str(), nullptr);
    Consume(failure);
    if (!password) return std::nullopt;
    std::string result = password;
    secret_password_free(password);
    return result;
}

bool TSecretServiceStore::Remove(const std::string& key) {
    GError* failure = nullptr;
    secret_password_clear_sync(Schema(), nullptr, &failure, kAccountAttribute, key.c_str(),
                               nullptr);
    // Clearing nothing is no failure: the password is gone either way.
    return Consume(failure).empty();
}
