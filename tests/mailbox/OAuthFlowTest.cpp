// The OAuth 2.0 sign-in and renewal against a local authorization server, with a stand-in
// browser and the keyring in memory.
#include "OAuthTestServer.h"
#include "ScopedSeam.h"
#include "StandInBrowser.h"
#include "base/Clock.h"
#include "mailbox/OAuthAccount.h"
#include "platform/Keyring.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>

#include <gtest/gtest.h>

using pvtest::TOAuthTestServer;
using pvtest::TScopedSeam;
using pvtest::TStandInBrowser;

namespace {
const char* const kKey = "/home/ann/Box.Set";

struct OAuthFlow : ::testing::Test {
    TOAuthTestServer authority{"ann@example.org"};
    TMemoryPasswordStore keyring;
    TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};
    TManualClock clock;
    TScopedSeam<TClock*> clockSeam{SetClock, &clock};
    TStandInBrowser browser;
    TOAuthConfig config;

    void SetUp() override {
        ForgetAccessTokens();
        std::string error;
        ASSERT_TRUE(authority.Start(error)) << error;
        config.Method = kAuthOAuth2;
        config.AuthorizationUrl = authority.AuthorizeUrl();
        config.TokenUrl = authority.TokenUrl();
        config.Scopes = "mail offline";
        config.ClientId = "client-1";
    }
    void TearDown() override { ForgetAccessTokens(); }

    TOAuthAccount Account() { return TOAuthAccount(config, kKey, "ann@example.org"); }
    std::string StoredRefresh() { return keyring.Lookup(RefreshTokenKey(kKey)).value_or(""); }

    // A code from the authorization address for this PKCE challenge, as a browser would bring
    // it back to redirect.
    std::string CodeFor(const std::string& challenge, const std::string& redirect) {
        QUrl address(QString::fromStdString(config.AuthorizationUrl));
        QUrlQuery query;
        for (auto [name, value] : {std::pair<const char*, std::string>{"response_type", "code"},
                                   {"client_id", config.ClientId},
                                   {"redirect_uri", redirect},
                                   {"state", "s"},
                                   {"code_challenge", challenge},
                                   {"code_challenge_method", "S256"}})
            query.addQueryItem(name, QString::fromStdString(value));
        address.setQuery(query);
        QNetworkAccessManager manager;
        QNetworkRequest request(address);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = manager.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        const QUrl back = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        return QUrlQuery(back).queryItemValue("code").toStdString();
    }
};
} // namespace

TEST_F(OAuthFlow, FirstSignInKeepsOnlyTheRefreshTokenAndRenewsBeforeExpiry) {
    TOAuthAccount account = Account();
    account.SignIn(browser.Opener());
    EXPECT_EQ(browser.Opened, 1);
    ASSERT_TRUE(browser.WaitDone());
    EXPECT_EQ(browser.LastStatus, 200); // the loopback page after the redirect
    // The browser was sent with a PKCE challenge and a loopback redirect.
    const QUrlQuery asked(QUrl(QString::fromStdString(browser.LastAddress)));
    EXPECT_EQ(asked.queryItemValue("code_challenge_method"), "S256");
    EXPECT_EQ(asked.queryItemValue("login_hint", QUrl::FullyDecoded), "ann@example.org");
    EXPECT_TRUE(
        asked.queryItemValue("redirect_uri", QUrl::FullyDecoded).startsWith("http://127.0.0.1:"));
    EXPECT_NE(authority.LastTokenRequest().find("code_verifier="), std::string::npos);
    EXPECT_EQ(authority.CodeExchanges(), 1);

    const std::string refresh = StoredRefresh();
    EXPECT_EQ(refresh.rfind("rt-", 0), 0u);
    EXPECT_EQ(keyring.Items.size(), 1u); // the access token stays in memory
    const std::string first = account.AccessToken();
    EXPECT_EQ(first.rfind("at-", 0), 0u);

    // Held while more than the margin is left; renewed once within it.
    clock.Advance(3600 * 1000 - kRenewAheadMs - 1000);
    EXPECT_EQ(Account().AccessToken(), first);
    EXPECT_EQ(authority.Refreshes(), 0);
    authority.RotateRefreshTokens();
    clock.Advance(2000);
    const std::string second = Account().AccessToken();
    EXPECT_NE(second, first);
    EXPECT_EQ(authority.Refreshes(), 1);
    // A rotated refresh token replaces the one kept.
    EXPECT_NE(StoredRefresh(), refresh);
    EXPECT_EQ(StoredRefresh().rfind("rt-", 0), 0u);

    // A token the server refused is renewed at the next ask.
    account.Forget();
    EXPECT_NE(account.AccessToken(), second);
    EXPECT_EQ(authority.Refreshes(), 2);
}

TEST_F(OAuthFlow, ARevokedSignInAsksForANewOneAndForgetsTheStoredToken) {
    TOAuthAccount account = Account();
    EXPECT_THROW(account.AccessToken(), EOAuthSignInNeeded); // never signed in
    account.SignIn(browser.Opener());
    // Revoked at the revocation address (RFC 7009), as the provider's account page does.
    QNetworkAccessManager manager;
    QNetworkRequest revoke(QUrl(QString::fromStdString(authority.RevokeUrl())));
    revoke.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply* reply =
        manager.post(revoke, "token=" + QByteArray::fromStdString(StoredRefresh()));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    account.Forget();
    try {
        account.AccessToken();
        FAIL() << "a revoked sign-in gave a token";
    } catch (const EOAuthSignInNeeded& e) {
        EXPECT_NE(e.Message.find("sign in again"), std::string::npos) << e.Message;
        EXPECT_NE(e.Message.find("invalid_grant"), std::string::npos) << e.Message;
    }
    EXPECT_EQ(StoredRefresh(), "");
    // Signing in again brings the account back.
    account.SignIn(browser.Opener());
    EXPECT_EQ(account.AccessToken().rfind("at-", 0), 0u);
}

TEST_F(OAuthFlow, TheTokenAddressTakesACodeOnlyWithItsOwnVerifier) {
    TOAuthClient client(config);
    const std::string redirect = "http://127.0.0.1:1/";
    const std::string verifier = TOAuthClient::NewVerifier();
    EXPECT_EQ(verifier.size(), 43u);
    EXPECT_NE(TOAuthClient::NewVerifier(), verifier);
    // RFC 7636's own example pair.
    EXPECT_EQ(TOAuthClient::ChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");

    const std::string code = CodeFor(TOAuthClient::ChallengeOf(verifier), redirect);
    ASSERT_FALSE(code.empty());
    try {
        client.ExchangeCode(code, TOAuthClient::NewVerifier(), redirect);
        FAIL() << "a wrong verifier was taken";
    } catch (const EOAuthError& e) {
        EXPECT_TRUE(e.Refused);
        EXPECT_NE(e.Message.find("invalid_grant"), std::string::npos) << e.Message;
    }
    const std::string second = CodeFor(TOAuthClient::ChallengeOf(verifier), redirect);
    EXPECT_FALSE(client.ExchangeCode(second, verifier, redirect).AccessToken.empty());

    // A provider's address in clear text off this machine gets neither code nor token.
    TOAuthConfig clear = config;
    clear.TokenUrl = "http://oauth.example/token";
    EXPECT_THROW(TOAuthClient(clear).Refresh("rt-1"), EOAuthError);
    clear = config;
    clear.AuthorizationUrl = "http://oauth.example/authorize";
    EXPECT_THROW(TOAuthClient(clear).SignIn(browser.Opener(), ""), EOAuthError);
    EXPECT_EQ(browser.Opened, 0);
}

TEST_F(OAuthFlow, AnAnswerOfAnotherSignInOrNoBrowserOrNoKeyringTakesNothing) {
    TOAuthAccount account = Account();
    browser.Tamper = [](const QUrl& address) {
        QUrl changed = address;
        QUrlQuery query(address);
        query.removeQueryItem("state");
        query.addQueryItem("state", "forged");
        changed.setQuery(query);
        return changed;
    };
    try {
        account.SignIn(browser.Opener());
        FAIL() << "a forged state was taken";
    } catch (const EOAuthError& e) {
        EXPECT_NE(e.Message.find("state differs"), std::string::npos) << e.Message;
    }
    EXPECT_EQ(authority.CodeExchanges(), 0);

    browser.Missing = true;
    EXPECT_THROW(account.SignIn(browser.Opener()), EOAuthError);

    keyring.Present = false;
    browser.Missing = false;
    for (auto attempt : {std::function<void()>([&] { account.AccessToken(); }),
                         std::function<void()>([&] { account.SignIn(browser.Opener()); })}) {
        try {
            attempt();
            FAIL() << "no keyring, yet the account signed in";
        } catch (const EOAuthError& e) {
            EXPECT_NE(e.Message.find("no keyring answers"), std::string::npos) << e.Message;
        }
    }
    EXPECT_TRUE(keyring.Items.empty());
}
