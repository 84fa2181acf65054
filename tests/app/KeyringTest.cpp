#include "ScopedSeam.h"
#include "TempHome.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/Settings.h"
#include "platform/IniFile.h"
#include "platform/SecretService.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
