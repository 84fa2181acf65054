// An account's OAuth 2.0 sign-in: where the user signs in, where tokens are had, what is asked
// for and which registered client asks. An account file keeps it in its [Authentication]
// section; an account without one signs in with its password.
#pragma once

#include <string>

inline constexpr const char* kAuthPassword = "password";
inline constexpr const char* kAuthOAuth2 = "oauth2";

struct TOAuthConfig {
    // kAuthPassword or kAuthOAuth2.
    std::string Method = kAuthPassword;
    // The provider's name as the editor's presets know it ("" for one typed in).
    std::string Provider;
    std::string AuthorizationUrl;
    std::string TokenUrl;
    // Blank-separated, as the authorization address takes them.
    std::string Scopes;
    std::string ClientId;
    // Sent with the client id when not empty: some providers give desktop clients one (it is
    // no secret in a program that anyone can read, and is kept in the account file).
    std::string ClientSecret;

    bool Enabled() const { return Method == kAuthOAuth2; }
};
