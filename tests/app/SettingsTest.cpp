#include "mailbox/Settings.h"
#include "TempHome.h"
#include "mailbox/AccountFiles.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
// The inverse of the account file's password scrambling, as the companion program writes it.
std::string Scramble(const std::string& password) {
    unsigned char b[36];
    b[0] = static_cast<unsigned char>(password.size());
    std::fill(b + 1, b + 36, ' ');
    std::copy(password.begin(), password.end(), b + 1);
    std::string out;
    for (int i = 0; i < 18; ++i) {
        int v = (b[2 * i] | b[2 * i + 1] << 8) + 52863;
        if (v > 99999) v -= 65536;
        char group[8];
        std::snprintf(group, sizeof group, "%05d", v);
        out += group;
    }
    return out;
}

struct SettingsFixture : ::testing::Test {
    pvtest::TTempHome tempHome{"pv-app"};
    fs::path home = tempHome.Path();
    void SetUp() override { InitMainUnit(); }
    std::string Account(const std::string& file, const std::string& text) {
        std::ofstream(home / file, std::ios::binary) << text;
        return (home / file).string();
    }
    void Registry(const char* key, const char* name, const std::string& value) {
        TRegistry reg;
        reg.OpenKey(key, true);
        reg.WriteString(name, value);
    }
};
} // namespace

TEST(Password, UnscramblesWhatTheCompanionWrote) {
    EXPECT_EQ(UnscramblePassword(Scramble("secret")), "secret");
    const std::string longOne = "0123456789abcdefghijklmnopqrstuvwx"; // 34 characters
    EXPECT_EQ(UnscramblePassword(Scramble(longOne)), longOne);
    EXPECT_EQ(UnscramblePassword(Scramble(std::string(35, 'p'))), std::string(35, 'p'));
    // Nothing stored is no password (not 35 blanks).
    EXPECT_EQ(UnscramblePassword(""), "");
}

TEST(Password, HostileStoredTextsStayInsideTheBuffer) {
    // More than 18 groups: the extra ones are ignored.
    EXPECT_EQ(UnscramblePassword(Scramble("abc") + std::string(500, '7')), "abc");
    // A first value whose low byte is above 35 reads as 35 characters.
    EXPECT_EQ(UnscramblePassword("53113").size(), 35u); // 52863 + 250
    // A group that is no number contributes 0: an empty text.
    EXPECT_EQ(UnscramblePassword("xxxxx"), "");
}

TEST_F(SettingsFixture, StartWithoutAnySettingsOrAccounts) {
    EXPECT_TRUE(fs::is_directory(home / "eMails" / "Attachments"));
    EXPECT_TRUE(fs::is_directory(PostofficeDir()));
    LoadSettings();
    EXPECT_EQ(ClientRec.Interval, 0);
    EXPECT_EQ(ClientRec.FollowAct, faOpenPostvigil);
    EXPECT_TRUE(AutoConnect);
    EXPECT_TRUE(ShowInfos);
    ReadClientFile(AccountFileName("Dummy"));
    EXPECT_EQ(ClientRec.IniDescript, "Empty");
    EXPECT_EQ(ClientRec.Timeout, 60);
    EXPECT_EQ(ClientRec.DefPort, 110);
    EXPECT_EQ(ClientRec.Password, "");
    EXPECT_EQ(RetrvMode, 1);
    EXPECT_EQ(MailMaxSize, 100000);
    ReadAccountNames();
    EXPECT_EQ(SetList.Count(), 0);
}

TEST_F(SettingsFixture, SettingsAreSavedAsTextAndReadBack) {
    ClientRec.Interval = 15;
    ClientRec.CheckEmedit = true;
    ClientRec.FollowAct = faOpenPostkeeper;
    AutoConnect = false;
    Notify = false;
    SaveSettings();
    ClientRec = TClientRec();
    Notify = true;
    LoadSettings();
    EXPECT_EQ(ClientRec.Interval, 15);
    EXPECT_TRUE(ClientRec.CheckEmedit);
    EXPECT_EQ(ClientRec.FollowAct, faOpenPostkeeper);
    EXPECT_FALSE(AutoConnect);
    EXPECT_FALSE(Notify);
    TIniFile hive(RegistryFile());
    EXPECT_EQ(hive.ReadString(kPostvigilKey, "Interval", ""), "15");
    EXPECT_EQ(hive.ReadString(kPostvigilKey, "AutoConnect", ""), "0");
    // Text that is not a number reads as the default.
    Registry(kPostvigilKey, "Interval", "often");
    LoadSettings();
    EXPECT_EQ(ClientRec.Interval, 0);
}

TEST_F(SettingsFixture, AccountFilesAnyCaseAndTheirFields) {
    const std::string pw = Scramble("a-32-character-password-manager!");
    Account("home.set", "[ProgSet]\nIniDescript=" + std::string(70, 'D') +
                            "\nTimeout=30\nRetrvMode=2\n[RASSet]\nRASService=-1\n"
                            "MailMaxSize=5000\n[POPClient]\nServer=pop.example.org\n"
                            "UserName=me\nPassword=" +
                            pw + "\nDefPort=995\n");
    ReadClientFile(AccountFileName("Home"));
    EXPECT_EQ(ClientRec.IniDescript, std::string(60, 'D'));
    EXPECT_EQ(ClientRec.Timeout, 30);
    EXPECT_TRUE(ClientRec.NoRAS);
    EXPECT_EQ(RasIndex, -1);
    EXPECT_EQ(ClientRec.Server, "pop.example.org");
    EXPECT_EQ(ClientRec.Password, "a-32-character-password-manager!");
    EXPECT_EQ(ClientRec.DefPort, 995);
    EXPECT_EQ(RetrvMode, 2);
    EXPECT_EQ(MailMaxSize, 5000);

    // The file read first decided RetrvMode; an account without MailMaxSize has the default.
    Account("Dummy.Set", "[ProgSet]\nRetrvMode=3\n[POPClient]\nPassword=plain text\n");
    ReadClientFile(AccountFileName("DUMMY"));
    EXPECT_EQ(RetrvMode, 2);
    EXPECT_EQ(MailMaxSize, 100000);
    EXPECT_EQ(ClientRec.Password, "plain text");
    EXPECT_EQ(ReadIniDescript(AccountFileName("dummy")), "Empty");
}

TEST_F(SettingsFixture, SecurityFollowsThePortUnlessStatedAndTrustIsStored) {
    // Without the key the port decides, so older account files keep working.
    Account("a.set", "[POPClient]\nDefPort=995\n");
    ReadClientFile(AccountFileName("a"));
    EXPECT_EQ(ClientRec.Security, "tls");
    Account("b.set", "[POPClient]\nDefPort=110\n");
    ReadClientFile(AccountFileName("b"));
    EXPECT_EQ(ClientRec.Security, "none");
    EXPECT_EQ(ClientRec.CertFingerprint, "");

    Account("c.set", "[POPClient]\nDefPort=995\nSecurity= StartTLS \n");
    ReadClientFile(AccountFileName("c"));
    EXPECT_EQ(ClientRec.Security, "starttls");
    // A misspelt value never means clear text.
    EXPECT_EQ(SecurityOf("startls", 110), "tls");
    EXPECT_EQ(SecurityOf("NONE", 995), "none");

    ASSERT_TRUE(StoreCertFingerprint(AccountFileName("c"), "sha256:00ff"));
    ReadClientFile(AccountFileName("c"));
    EXPECT_EQ(ClientRec.CertFingerprint, "sha256:00ff");
    EXPECT_EQ(ClientRec.Security, "starttls");
}

TEST_F(SettingsFixture, AccountNamesSortedWithoutDuplicates) {
    Registry(kCheckAssKey, "@", "3");
    Registry(kCheckAssKey, "0", "b");
    Registry(kCheckAssKey, "1", "a");
    Registry(kCheckAssKey, "2", "a");
    ReadAccountNames();
    EXPECT_EQ(SetList.Items(), (std::vector<std::string>{"a", "b"}));
    Registry(kCheckAssKey, "@", "0");
    ReadAccountNames();
    EXPECT_EQ(SetList.Count(), 0);
}
