// The tokens of one OAuth 2.0 account: the refresh token in the desktop keyring (never in a
// file), the access token in this process's memory only, renewed before it runs out.
#pragma once

#include "mailbox/OAuthFlow.h"

#include <string>

// An access token with less than this left is renewed before it is used.
inline constexpr int64_t kRenewAheadMs = 5 * 60 * 1000;

// Why a token cannot be had. NeedsSignIn: there is no valid sign-in (never signed in, or the
// provider refused the refresh token): only the browser's sign-in helps.
class EOAuthSignInNeeded : public EOAuthError {
public:
    using EOAuthError::EOAuthError;
};

class TOAuthAccount {
public:
    // keyringKey: the account's own key (KeyringKey of its file); user: its user name.
    TOAuthAccount(TOAuthConfig config, std::string keyringKey, std::string user);

    // The access token to log in with: the one held while more than kRenewAheadMs of it is
    // left, else a renewed one. Raises EOAuthError without a keyring, EOAuthSignInNeeded
    // without a sign-in or when the renewal was refused (the stored refresh token is then
    // removed), EOAuthError for any other failure of the renewal.
    std::string AccessToken();
    // The server refused the held access token: the next AccessToken renews it.
    void Forget();
    // The browser's sign-in; its refresh token goes to the keyring. Raises as AccessToken.
    void SignIn(const TBrowserOpener& open, const bool* cancel = nullptr);
    // Removes the refresh token and the held access token.
    void SignOut();
    // The keyring key the refresh token is kept under.
    std::string RefreshKey() const;

private:
    void RequireKeyring();
    void Keep(const TOAuthTokens& tokens);

    TOAuthClient FClient;
    std::string FKey;
    std::string FUser;
};

// The keyring key of the refresh token of the account whose own key is accountKey.
std::string RefreshTokenKey(const std::string& accountKey);

// Forgets every access token held in memory (tests, and a program that signs out).
void ForgetAccessTokens();
