#include "OAuthTestServer.h"
#include "ScopedSeam.h"
#include "StandInBrowser.h"
#include "TempHome.h"
#include "app/AccountCli.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/OAuthAccount.h"
#include "mailbox/Settings.h"
#include "platform/IniFile.h"
#include "platform/SecretService.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
struct Keyring : ::testing::Test {
    pvtest::TTempHome tempHome{"pv-keyring"};
    fs::path home = tempHome.Path();
    TSecretServiceStore keyring;
    pvtest::TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};

    void SetUp() override { InitMainUnit(); }
};
} // namespace

TEST_F(Keyring, AnAccountsPasswordIsStoredReadBackAndRemovedWithTheAccount) {
    ASSERT_TRUE(keyring.Available());
    TAccountSettings s;
    s.IniDescript = "Office";
    s.Server = "pop.example.org";
    s.UserName = "ann";
    s.Password = "a passphrase longer than thirty-five characters";
    std::string error;
    const std::string name = CreateAccount(s, error);
    ASSERT_FALSE(name.empty()) << error;
    const std::string file = AccountFileName(name);
    EXPECT_FALSE(TIniFile(file).ValueExists("POPClient", "Password"));

    // Another connection to the keyring, as the next start of the program makes.
    TSecretServiceStore other;
    EXPECT_EQ(other.Lookup(KeyringKey(file)), s.Password);
    ReadClientFile(file);
    EXPECT_EQ(ClientRec.Password, s.Password);

    // An edit replaces the entry rather than adding one.
    s.Password = "changed";
    ASSERT_TRUE(WriteAccountFile(file, s, error)) << error;
    EXPECT_EQ(other.Lookup(KeyringKey(file)), "changed");

    ASSERT_TRUE(RemoveAccount(name, error)) << error;
    EXPECT_EQ(other.Lookup(KeyringKey(file)), std::nullopt);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Keyring, AccountsInOtherProgramFoldersKeepTheirOwnPasswords) {
    TAccountSettings s;
    s.IniDescript = "Same";
    s.Server = "h";
    s.UserName = "u";
    s.Password = "first";
    std::string error;
    const std::string firstFile = AccountFileName(CreateAccount(s, error));
    const fs::path second = home / "elsewhere";
    fs::create_directories(second);
    s.Password = "second";
    ASSERT_TRUE(WriteAccountFile((second / "Same.Set").string(), s, error));
    EXPECT_EQ(keyring.Lookup(KeyringKey(firstFile)), "first");
    EXPECT_EQ(keyring.Lookup(KeyringKey((second / "Same.Set").string())), "second");
}

TEST_F(Keyring, AnOAuthAccountFromTheCommandLineKeepsItsSignInOnlyInTheKeyring) {
    pvtest::TOAuthTestServer authority{"ann"};
    std::string error;
    ASSERT_TRUE(authority.Start(error)) << error;
    std::istringstream none;
    std::ostringstream out, err;
    ASSERT_EQ(RunAddAccount({"--oauth", "other", "--client-id", "client-1", "--user", "ann",
                             "--server", "127.0.0.1", "--port", "995", "--security", "tls",
                             "--authorization-url", authority.AuthorizeUrl(), "--token-url",
                             authority.TokenUrl(), "--scopes", "mail"},
                            none, out, err),
              0)
        << err.str();
    EXPECT_NE(out.str().find("postvigil --sign-in"), std::string::npos) << out.str();
    const std::string file = AccountFileName(StartAccountName());
    const TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("Authentication", "Method", ""), "oauth2");
    EXPECT_EQ(ini.ReadString("Authentication", "ClientId", ""), "client-1");
    EXPECT_FALSE(ini.ValueExists("POPClient", "Password"));

    pvtest::TStandInBrowser browser;
    out.str("");
    ASSERT_EQ(RunSignIn(browser.Opener(), out, err), 0) << err.str();
    EXPECT_NE(out.str().find("Sign in in the browser at: " + authority.AuthorizeUrl() + "?"),
              std::string::npos)
        << out.str();
    // Another connection to the keyring, as the next run makes: the refresh token is there,
    // and no token is in the account file.
    TSecretServiceStore other;
    const std::string refresh = other.Lookup(RefreshTokenKey(KeyringKey(file))).value_or("");
    EXPECT_EQ(refresh.rfind("rt-", 0), 0u);
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    for (const std::string& token : authority.IssuedTokens())
        EXPECT_EQ(text.str().find(token), std::string::npos);

    ASSERT_TRUE(RemoveAccount(StartAccountName(), error)) << error;
    EXPECT_EQ(other.Lookup(RefreshTokenKey(KeyringKey(file))), std::nullopt);
    ForgetAccessTokens();
}

TEST_F(Keyring, OAuthPresetsFillTheAccountAndNoKeyringRefusesIt) {
    std::istringstream none;
    std::ostringstream out, err;
    ASSERT_EQ(
        RunAddAccount({"--oauth", "microsoft", "--client-id", "id-1", "--user", "ann@outlook.com"},
                      none, out, err),
        0)
        << err.str();
    const TAccountSettings s = ReadAccountSettings(AccountFileName(StartAccountName()));
    EXPECT_EQ(s.Server, "outlook.office365.com");
    EXPECT_EQ(s.DefPort, 995);
    EXPECT_EQ(s.Security, "tls");
    EXPECT_EQ(s.OAuth.Provider, "microsoft");
    EXPECT_NE(s.OAuth.Scopes.find("POP.AccessAsUser.All"), std::string::npos);
    EXPECT_EQ(s.OAuth.TokenUrl.rfind("https://login.microsoftonline.com/", 0), 0u);

    EXPECT_EQ(
        RunAddAccount({"--oauth", "nowhere", "--client-id", "x", "--user", "u"}, none, out, err),
        2);
    EXPECT_NE(err.str().find("microsoft, google, other"), std::string::npos) << err.str();
    TNoPasswordStore noKeyring;
    pvtest::TScopedSeam<TPasswordStore*> without{SetPasswordStore, &noKeyring, &keyring};
    err.str("");
    EXPECT_EQ(
        RunAddAccount({"--oauth", "google", "--client-id", "id-2", "--user", "u"}, none, out, err),
        1);
    EXPECT_NE(err.str().find("no keyring answers"), std::string::npos) << err.str();
}
