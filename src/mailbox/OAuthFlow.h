// OAuth 2.0 for a native application (RFC 8252): the authorization code with PKCE (RFC 7636)
// through the desktop's browser and a loopback redirect, and renewal with the refresh token.
// Every exchange is bounded in size and time; the waits run the application's events. Our own
// small flow on Qt Network: the Network Authorization module of Debian 12 (Qt 6.4) has no
// PKCE, and the flow is a few requests.
#pragma once

#include "base/Exceptions.h"
#include "mailbox/OAuthConfig.h"

#include <cstdint>
#include <functional>
#include <string>

class QByteArray;

// Why a sign-in or a renewal failed. Refused: the authorization server said no to the grant
// (a revoked or expired refresh token, a wrong code or verifier); only a new sign-in helps.
class EOAuthError : public Exception {
public:
    explicit EOAuthError(const std::string& message, bool refused = false)
        : Exception(message), Refused(refused) {}
    bool Refused;
};

struct TOAuthTokens {
    std::string AccessToken;
    // "" when the answer brought none (a renewal that keeps the refresh token).
    std::string RefreshToken;
    // When the access token ends, on the installed clock (NowMs); 0 when the server did not say.
    int64_t ExpiresAtMs = 0;
};

// Opens address in the user's browser; false when none could be started.
using TBrowserOpener = std::function<bool(const std::string& address)>;

// An answer of the token address may hold this many bytes and take this long.
inline constexpr int64_t kMaxTokenAnswer = 64 * 1024;
inline constexpr int kTokenTimeoutMs = 30 * 1000;
// The user has this long to sign in in the browser.
inline constexpr int kSignInTimeoutMs = 10 * 60 * 1000;
// The browser's request to the loopback redirect may hold this many bytes.
inline constexpr int kMaxRedirectRequest = 16 * 1024;

class TOAuthClient {
public:
    explicit TOAuthClient(TOAuthConfig config) : FConfig(std::move(config)) {}

    // The whole sign-in: a listener on a free loopback port, the browser at the authorization
    // address, the code from the redirect (its state checked), the code's exchange. userHint
    // goes along as login_hint. A cancel (*cancel set) or the time running out ends it.
    TOAuthTokens SignIn(const TBrowserOpener& open, const std::string& userHint,
                        const bool* cancel = nullptr);
    // The authorization code, its PKCE verifier and the redirect it was sent to, for tokens.
    TOAuthTokens ExchangeCode(const std::string& code, const std::string& verifier,
                              const std::string& redirect);
    TOAuthTokens Refresh(const std::string& refreshToken);

    // A new PKCE verifier (43 characters of base64url from 32 random bytes), and its S256
    // challenge.
    static std::string NewVerifier();
    static std::string ChallengeOf(const std::string& verifier);

private:
    TOAuthTokens PostToTokenAddress(const QByteArray& form);

    TOAuthConfig FConfig;
};
