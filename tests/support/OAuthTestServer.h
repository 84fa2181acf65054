// A local OAuth 2.0 authorization server for tests, on its own thread and a free loopback
// port: the authorization address (signs its one user in at once and sends the browser back
// to the redirect with a code), the token address (authorization codes with PKCE S256
// checked, refresh tokens), revocation (RFC 7009) and introspection (RFC 7662, what Dovecot's
// oauth2 password database asks). Tokens are random; the test expires and revokes them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pvtest {

class TOAuthTestServer {
public:
    // user is who signs in at the authorization address.
    explicit TOAuthTestServer(std::string user);
    ~TOAuthTestServer();
    TOAuthTestServer(const TOAuthTestServer&) = delete;
    TOAuthTestServer& operator=(const TOAuthTestServer&) = delete;

    bool Start(std::string& error);
    std::string AuthorizeUrl() const;
    std::string TokenUrl() const;
    std::string RevokeUrl() const;
    std::string IntrospectionUrl() const;

    // An access token for the user, issued without a sign-in (for tests of the log-in alone).
    // The token is made at least length characters long.
    std::string IssueAccessToken(std::size_t length = 0);
    // Every access token issued so far is refused from now on (as when it expired).
    void ExpireAccessTokens();
    // Every refresh token issued so far is refused from now on.
    void RevokeRefreshTokens();
    // Refreshes hand out a new refresh token each time (the old one is then refused).
    void RotateRefreshTokens();

    int Authorizations() const;
    int CodeExchanges() const;
    int Refreshes() const;
    int Introspections() const;
    // Every token issued (access and refresh), for tests that look for them where they must
    // not be.
    std::vector<std::string> IssuedTokens() const;
    // The last token request's form fields, as "name=value" lines (for tests of what was sent).
    std::string LastTokenRequest() const;

private:
    class TState;
    class TThread;
    std::shared_ptr<TState> FState;
    std::unique_ptr<TThread> FThread;
};

} // namespace pvtest
