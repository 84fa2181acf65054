#include "mailbox/OAuthAccount.h"

#include "base/Clock.h"
#include "platform/Keyring.h"

#include <map>

namespace {
const char* const kNoKeyring =
    "OAuth 2.0 accounts keep their sign-in in the desktop keyring, and no keyring answers: "
    "this account cannot sign in";
const char* const kNotSignedIn =
    "This account is not signed in: sign in from the window's check or with postvigil --sign-in";
const char* const kSignInExpired =
    "The account's sign-in is no longer valid: sign in again from the window's check or with "
    "postvigil --sign-in. ";
const char* const kNotKept = "The sign-in could not be kept in the keyring: ";
const char* const kRefreshPrefix = "oauth2-refresh:";
const char* const kLabel = "Postvigil OAuth 2.0 sign-in for ";

struct THeldToken {
    std::string Token;
    int64_t ExpiresAtMs = 0;
};
// Access tokens by account key; never written anywhere.
std::map<std::string, THeldToken>& Held() {
    static std::map<std::string, THeldToken> held;
    return held;
}
} // namespace

void ForgetAccessTokens() {
    Held().clear();
}

TOAuthAccount::TOAuthAccount(TOAuthConfig config, std::string keyringKey, std::string user)
    : FClient(std::move(config)), FKey(std::move(keyringKey)), FUser(std::move(user)) {}

std::string RefreshTokenKey(const std::string& accountKey) {
    return kRefreshPrefix + accountKey;
}

std::string TOAuthAccount::RefreshKey() const {
    return RefreshTokenKey(FKey);
}

void TOAuthAccount::RequireKeyring() {
    if (!PasswordStore().Available()) throw EOAuthError(kNoKeyring);
}

std::string TOAuthAccount::AccessToken() {
    RequireKeyring();
    auto held = Held().find(FKey);
    if (held != Held().end() &&
        (held->second.ExpiresAtMs == 0 ||
         held->second.ExpiresAtMs - InstalledClock().NowMs() > kRenewAheadMs))
        return held->second.Token;
    const std::optional<std::string> refresh = PasswordStore().Lookup(RefreshKey());
    if (!refresh || refresh->empty()) throw EOAuthSignInNeeded(kNotSignedIn);
    TOAuthTokens tokens;
    try {
        tokens = FClient.Refresh(*refresh);
    } catch (const EOAuthError& e) {
        if (!e.Refused) throw;
        SignOut();
        throw EOAuthSignInNeeded(kSignInExpired + e.Message, true);
    }
    Keep(tokens);
    return tokens.AccessToken;
}

void TOAuthAccount::Forget() {
    Held().erase(FKey);
}

void TOAuthAccount::SignIn(const TBrowserOpener& open, const bool* cancel) {
    RequireKeyring();
    Keep(FClient.SignIn(open, FUser, cancel));
}

void TOAuthAccount::SignOut() {
    Forget();
    PasswordStore().Remove(RefreshKey());
}

void TOAuthAccount::Keep(const TOAuthTokens& tokens) {
    if (!tokens.RefreshToken.empty()) {
        std::string error;
        if (!PasswordStore().Store(RefreshKey(), kLabel + FUser, tokens.RefreshToken, error))
            throw EOAuthError(kNotKept + error);
    }
    Held()[FKey] = {tokens.AccessToken, tokens.ExpiresAtMs};
}
