// An OAuth 2.0 account in the window, as a new user meets it: the first check asks to sign in,
// the browser signs in at a local authorization server, Dovecot takes the token and the list
// fills; the next check needs no browser.
#include "DovecotServer.h"
#include "MainWindowFixture.h"
#include "OAuthDovecot.h"
#include "OAuthTestServer.h"
#include "StandInBrowser.h"
#include "TestCertificates.h"
#include "mailbox/OAuthAccount.h"
#include "platform/Keyring.h"
#include "platform/Prompts.h"

#include <QCoreApplication>

using namespace pvtest;

struct WindowOAuth : MainWindowFixture {
    TTestCertificates certificates;
    TOAuthTestServer authority{"alice"};
    TDovecotServer dovecot;
    TMemoryPasswordStore keyring;
    TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};
    TScriptedPrompts prompts;
    TScopedSeam<TPrompts*> promptsSeam{SetPrompts, &prompts};
    TScopedEnv trust{"SSL_CERT_FILE", certificates.Authority()};
    TStandInBrowser browser;

    void SetUp() override {
        MainWindowFixture::SetUp();
        ForgetAccessTokens();
        std::string error;
        ASSERT_TRUE(StartOAuthDovecot(authority, dovecot, certificates,
                                      "From: Ann <ann@example.org>\r\nSubject: Signed in\r\n\r\n"
                                      "Hi\r\n",
                                      error))
            << error;
        Account("Dummy", "[ProgSet]\nIniDescript=Cloud box\nTimeout=30\n[RASSet]\nRASService=-1\n"
                         "[POPClient]\nSecurity=tls\nServer=127.0.0.1\nDefPort=" +
                             std::to_string(dovecot.TlsPort()) +
                             "\nUserName=alice\n[Authentication]\nMethod=oauth2\n"
                             "AuthorizationUrl=" +
                             authority.AuthorizeUrl() + "\nTokenUrl=" + authority.TokenUrl() +
                             "\nScopes=mail\nClientId=client-1\n");
    }
    void TearDown() override { ForgetAccessTokens(); }
};

TEST_F(WindowOAuth, FirstCheckSignsInAndListsThenLaterChecksNeedNoBrowser) {
    TFormMain w;
    w.Session->SetBrowser(browser.Opener());
    w.show();
    QCoreApplication::processEvents();
    prompts.QueueAnswer(mrYes);
    w.RunCheck(true, true, false);
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_EQ(prompts.Shown[0].Caption, "Sign in");
    EXPECT_EQ(browser.Opened, 1);
    ASSERT_EQ(w.MailRows->Count(), 1) << dovecot.Log();
    EXPECT_EQ(authority.Authorizations(), 1);

    w.RunCheck(false, true, false);
    EXPECT_EQ(w.MailRows->Count(), 1);
    EXPECT_EQ(prompts.Shown.size(), 1u);
    EXPECT_EQ(browser.Opened, 1);
    EXPECT_EQ(authority.Authorizations(), 1);
}
