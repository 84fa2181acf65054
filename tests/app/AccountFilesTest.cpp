#include "mailbox/AccountFiles.h"
#include "ScopedSeam.h"
#include "TempHome.h"
#include "app/AccountCli.h"
#include "mailbox/Settings.h"
#include "platform/IniFile.h"
#include "platform/Keyring.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/SecretService.h"

#include <gtest/gtest.h>

#include <tuple>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
struct Accounts : ::testing::Test {
    pvtest::TTempHome tempHome{"pv-acc"};
    fs::path home = tempHome.Path();
    TMemoryPasswordStore keyring;
    pvtest::TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};

    void SetUp() override {
        InitMainUnit();
        keyring.Present = false;
    }
    static TAccountSettings Sample() {
        TAccountSettings s;
        s.IniDescript = "Work mail";
        s.Server = "pop.example.org";
        s.DefPort = 1110;
        s.UserName = "joe";
        s.Password = "p a=s;s[1]";
        s.MailAddress = "joe@example.org";
        s.MailName = "Joe Example";
        s.Timeout = 45;
        s.MailMaxSize = 250000;
        s.RASService = 1;
        return s;
    }
    static unsigned Mode(const std::string& file) {
        struct stat st {};
        ::stat(file.c_str(), &st);
        return st.st_mode & 0777;
    }
    std::string Create(const TAccountSettings& s) {
        std::string error;
        const std::string name = CreateAccount(s, error);
        EXPECT_EQ(error, "");
        return name;
    }
};
} // namespace

TEST(PasswordScrambling, EveryPrintableLengthReadsBackAndMatchesTheStoredForm) {
    for (std::size_t length = 0; length <= 35; ++length) {
        std::string password;
        for (std::size_t i = 0; i < length; ++i) password += char(32 + (i * 7 + length) % 95);
        const std::string stored = ScramblePassword(password);
        EXPECT_EQ(stored.size(), 90u);
        EXPECT_EQ(stored.find_first_not_of("0123456789"), std::string::npos) << stored;
        EXPECT_EQ(UnscramblePassword(stored), password) << "length " << length;
    }
    // Bytes above 127 (Windows-1252 letters) survive as well.
    EXPECT_EQ(UnscramblePassword(ScramblePassword("\xe4\xf6\xfc\xdf\xff")), "\xe4\xf6\xfc\xdf\xff");
}

TEST_F(Accounts, EveryFieldRoundTripsThroughTheFileAndTheProgramsReader) {
    const std::string name = Create(Sample());
    EXPECT_EQ(name, "Work mail");
    const std::string file = AccountFileName(name);
    EXPECT_EQ(Mode(file), 0600u);

    ReadClientFile(file);
    EXPECT_EQ(ClientRec.IniDescript, "Work mail");
    EXPECT_EQ(ClientRec.Server, "pop.example.org");
    EXPECT_EQ(ClientRec.DefPort, 1110);
    EXPECT_EQ(ClientRec.UserName, "joe");
    EXPECT_EQ(ClientRec.Password, "p a=s;s[1]");
    EXPECT_EQ(ClientRec.MailAddress, "joe@example.org");
    EXPECT_EQ(ClientRec.MailName, "Joe Example");
    EXPECT_EQ(ClientRec.Timeout, 45);
    EXPECT_EQ(ClientRec.RASService, 1);
    EXPECT_EQ(MailMaxSize, 250000);

    const TAccountSettings back = ReadAccountSettings(file);
    EXPECT_EQ(back.Password, Sample().Password);
    EXPECT_EQ(back.RASService, 1);
    EXPECT_EQ(back.MailMaxSize, 250000);

    // No dial-up reads as such; a new account starts without one.
    TAccountSettings none = Sample();
    none.RASService = -1;
    none.Password = "";
    std::string error;
    ASSERT_TRUE(WriteAccountFile(file, none, error));
    ReadClientFile(file);
    EXPECT_TRUE(ClientRec.NoRAS);
    EXPECT_EQ(ReadAccountSettings(file).Password, "");
    EXPECT_EQ(NewAccountSettings().RASService, -1);

    // Where collected mail goes: the post office unless a target is named.
    EXPECT_EQ(ClientRec.Deliver, "");
    none.Deliver = "maildir:~/Mail";
    ASSERT_TRUE(WriteAccountFile(file, none, error));
    ReadClientFile(file);
    EXPECT_EQ(ClientRec.Deliver, "maildir:~/Mail");
}

TEST_F(Accounts, TheEditorAndTheCheckReadAFileAlike) {
    std::ofstream(home / "small.Set") << "[RASSet]\nMailMaxSize=5000\n";
    ReadClientFile((home / "small.Set").string());
    // Texts longer than the editor takes, no maximum size, a plain password longer than a
    // scrambled one could be.
    const std::string file = (home / "Dummy.Set").string();
    std::ofstream(file) << "[ProgSet]\nIniDescript=" << std::string(70, 'd')
                        << "\n[POPClient]\nServer=" << std::string(45, 's')
                        << "\nMailName=" << std::string(41, 'n')
                        << "\nPassword=" << std::string(40, 'p') << "\n";
    const TAccountSettings s = ReadAccountSettings(file);
    ReadClientFile(file);
    for (const auto& [read, used] : {std::pair{s.IniDescript, ClientRec.IniDescript},
                                     {s.Server, ClientRec.Server},
                                     {s.MailName, ClientRec.MailName},
                                     {s.Password, ClientRec.Password}})
        EXPECT_EQ(read, used);
    EXPECT_EQ(s.IniDescript, std::string(60, 'd'));
    EXPECT_EQ(s.Server, std::string(40, 's'));
    EXPECT_EQ(s.Password, std::string(40, 'p'));
    EXPECT_EQ(MailMaxSize, 100000);
    EXPECT_EQ(s.MailMaxSize, MailMaxSize);
    // What was read can be written back as it is.
    EXPECT_EQ(CheckAccountSettings(s, true), "");

    // A missing file reads as one without keys.
    const TAccountSettings none = ReadAccountSettings((home / "none.Set").string());
    EXPECT_EQ(none.IniDescript, "Empty");
    EXPECT_EQ(ReadIniDescript((home / "none.Set").string()), "Empty");
    EXPECT_EQ(none.DefPort, 110);
    EXPECT_EQ(none.RASService, 0);
    EXPECT_EQ(none.Security, "");
}

TEST_F(Accounts, EditingKeepsForeignKeysAndTightensAFileThatOthersCouldRead) {
    const std::string file = (home / "Old.Set").string();
    std::ofstream(file) << "[ProgSet]\nIniDescript=Old\nRetrvMode=3\n[POPClient]\nServer=a\n"
                           "Password="
                        << ScramblePassword("old") << "\n[Extra]\nKeep=1\n";
    ::chmod(file.c_str(), 0644);
    EXPECT_TRUE(PasswordReadableByOthers(file));

    std::string error;
    ASSERT_TRUE(WriteAccountFile(file, Sample(), error)) << error;
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_FALSE(PasswordReadableByOthers(file));
    const TIniFile ini(file);
    EXPECT_EQ(ini.ReadInteger("ProgSet", "RetrvMode", 0), 3);
    EXPECT_EQ(ini.ReadString("Extra", "Keep", ""), "1");
    EXPECT_EQ(ini.ReadString("POPClient", "Server", ""), "pop.example.org");

    // The plain-text account keeps its password readable, as it is read.
    const std::string dummy = (home / "DUMMY.SET").string();
    ASSERT_TRUE(WriteAccountFile(dummy, Sample(), error));
    EXPECT_EQ(TIniFile(dummy).ReadString("POPClient", "Password", ""), Sample().Password);
    ReadClientFile(dummy);
    EXPECT_EQ(ClientRec.Password, Sample().Password);
}

TEST_F(Accounts, FileNamesComeFromTheDescriptionAndNeverClash) {
    EXPECT_EQ(NewAccountName("Joe/Work: ../mail*"), "Joe_Work_ .._mail_");
    EXPECT_EQ(NewAccountName("..hidden"), "hidden");
    EXPECT_EQ(NewAccountName("  "), "Account");
    EXPECT_EQ(NewAccountName("B\xfcro"), "B_ro");
    EXPECT_EQ(NewAccountName(std::string(80, 'x')), std::string(60, 'x'));
    // The plain-password name is never given to a new account.
    EXPECT_EQ(NewAccountName("dummy"), "dummy 2");

    // Taken by a file in another letter case, or by a listed name without a file.
    std::ofstream(home / "WORK.set") << "[ProgSet]\n";
    EXPECT_EQ(NewAccountName("work"), "work 2");
    TRegistry reg;
    reg.OpenKey(kCheckAssKey, true);
    reg.WriteString("@", "1");
    reg.WriteString("0", "work 2");
    EXPECT_EQ(NewAccountName("work"), "work 3");
    EXPECT_EQ(NewAccountName(std::string(60, 'w')), std::string(60, 'w'));
    std::ofstream(home / (std::string(60, 'w') + ".Set")) << "";
    EXPECT_EQ(NewAccountName(std::string(60, 'w')), std::string(58, 'w') + " 2");
}

TEST_F(Accounts, FirstAccountStartsTheProgramAndRemovingLeavesTheMail) {
    EXPECT_EQ(StartAccountName(), "Dummy");
    const std::string first = Create(Sample());
    TAccountSettings other = Sample();
    other.IniDescript = "Home";
    const std::string second = Create(other);
    EXPECT_EQ(StartAccountName(), first);
    ReadAccountNames();
    ASSERT_EQ(SetList.Count(), 2);

    const fs::path mail = fs::path(PostofficeDir()) / "E0001.EML";
    std::ofstream(mail) << "Subject: kept\r\n";
    std::string error;
    ASSERT_TRUE(RemoveAccount(first, error));
    EXPECT_FALSE(fs::exists(home / (first + ".Set")));
    EXPECT_TRUE(fs::exists(mail));
    EXPECT_EQ(StartAccountName(), second); // the start-up place passes on
    ReadAccountNames();
    ASSERT_EQ(SetList.Count(), 1);
    EXPECT_EQ(SetList[0], second);

    // With the last one gone, the next account created starts the program again.
    ASSERT_TRUE(RemoveAccount(second, error));
    EXPECT_FALSE(StartAccountExists());
    const std::string third = Create(other);
    EXPECT_EQ(StartAccountName(), third);
}

TEST_F(Accounts, WithAKeyringThePasswordLeavesTheFile) {
    keyring.Present = true;
    TAccountSettings s = Sample();
    s.Password = std::string(50, 'k'); // longer than a file can hold
    const std::string name = Create(s);
    const std::string file = AccountFileName(name);
    const TIniFile ini(file);
    EXPECT_FALSE(ini.ValueExists("POPClient", "Password"));
    EXPECT_EQ(ini.ReadString("POPClient", "PasswordStore", ""), "keyring");
    ReadClientFile(file);
    EXPECT_EQ(ClientRec.Password, s.Password);
    EXPECT_EQ(keyring.Labels[KeyringKey(file)],
              "Postvigil account Work mail (joe@pop.example.org)");

    // A keyring that lost the entry leaves the password empty, so the user is asked.
    keyring.Items.clear();
    ReadClientFile(file);
    EXPECT_EQ(ClientRec.Password, "");

    // Without a keyring the same password is refused rather than cut.
    keyring.Present = false;
    EXPECT_NE(CheckAccountSettings(s, false), "");
    std::string error;
    EXPECT_FALSE(WriteAccountFile(file, s, error));
    EXPECT_NE(error, "");

    keyring.Present = true;
    std::string removeError;
    ASSERT_TRUE(RemoveAccount(name, removeError));
    EXPECT_TRUE(keyring.Items.empty());

    // An OAuth 2.0 account: every sign-in setting comes back, and no password is in the file.
    TAccountSettings o = Sample();
    o.Password.clear();
    o.Security = kSecurityTls;
    o.OAuth = {kAuthOAuth2,
               "google",
               "https://id.example/auth",
               "https://id.example/token",
               "https://mail.example/",
               "id-1",
               "secret-1"};
    const std::string oauthFile = AccountFileName(Create(o));
    const TOAuthConfig back = ReadAccountSettings(oauthFile).OAuth;
    EXPECT_EQ(std::tie(back.Method, back.Provider, back.AuthorizationUrl, back.TokenUrl,
                       back.Scopes, back.ClientId, back.ClientSecret),
              std::tie(o.OAuth.Method, o.OAuth.Provider, o.OAuth.AuthorizationUrl, o.OAuth.TokenUrl,
                       o.OAuth.Scopes, o.OAuth.ClientId, o.OAuth.ClientSecret));
    EXPECT_FALSE(TIniFile(oauthFile).ValueExists("POPClient", "Password"));
}

TEST_F(Accounts, SettingsThatWouldNotReadBackAreRefused) {
    TAccountSettings s = Sample();
    EXPECT_EQ(CheckAccountSettings(s, false), "");
    const auto refused = [&](auto change) {
        TAccountSettings t = Sample();
        change(t);
        return !CheckAccountSettings(t, true).empty();
    };
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.IniDescript = " "; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.Server = ""; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.Server = std::string(41, 's'); }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.UserName = "a\nb"; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.IniDescript = std::string(61, 'd'); }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.DefPort = 0; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.DefPort = 65536; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.Timeout = 0; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.Deliver = "maildir:"; }));
    EXPECT_TRUE(refused([](TAccountSettings& t) { t.Deliver = "imap:box"; }));
}

TEST_F(Accounts, CommandLineAddsAndListsAccounts) {
    std::istringstream in("secret word\r\nnot read\n");
    std::ostringstream out, err;
    EXPECT_EQ(RunAddAccount({"--server", "pop.example.org", "--port", "110", "--user", "joe",
                             "--security", "starttls"},
                            in, out, err),
              0)
        << err.str();
    const std::string file = (home / "joe_pop.example.org.Set").string();
    EXPECT_EQ(out.str(), "Account written: " + file + "\n");
    ReadClientFile(file);
    EXPECT_EQ(ClientRec.Password, "secret word");
    EXPECT_EQ(ClientRec.DefPort, 110);
    EXPECT_EQ(ClientRec.Security, "starttls");
    EXPECT_EQ(ClientRec.IniDescript, "joe@pop.example.org");

    std::istringstream none;
    EXPECT_EQ(RunAddAccount({"--server", "h", "--user", "u", "--password", "x"}, none, out, err),
              2);
    EXPECT_EQ(RunAddAccount({"--server", "h"}, none, out, err), 2);
    EXPECT_EQ(RunAddAccount({"--server", "h", "--user", "u", "--port", "x"}, none, out, err), 2);
    EXPECT_EQ(RunAddAccount({"--server", "h", "--user"}, none, out, err), 2);
    EXPECT_EQ(RunAddAccount({"--server", "h", "--user", "u", "--security", "ssl"}, none, out, err),
              2);

    std::istringstream second("pw\n");
    ASSERT_EQ(RunAddAccount(
                  {"--server", "h", "--user", "u", "--description", "Home", "--security", "tls"},
                  second, out, err),
              0);
    std::ostringstream list;
    RunListAccounts(list);
    EXPECT_EQ(list.str(), "Home\t" + (home / "Home.Set").string() + "\n" + "joe@pop.example.org\t" +
                              file + "\tstart-up\n");
}

TEST_F(Accounts, WithoutASessionBusThePasswordIsScrambledIntoTheFile) {
    // No bus address, no bus in the runtime folder, no display to start one for.
    const fs::path runtime = home / "run";
    fs::create_directories(runtime);
    const pvtest::TScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.string());
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("DISPLAY");
    TSecretServiceStore secretService;
    const pvtest::TScopedSeam<TPasswordStore*> store(SetPasswordStore, &secretService, &keyring);
    EXPECT_FALSE(secretService.Available());
    const std::string file = AccountFileName(Create(Sample()));
    const TIniFile ini(file);
    EXPECT_FALSE(ini.ValueExists("POPClient", "PasswordStore"));
    EXPECT_EQ(UnscramblePassword(ini.ReadString("POPClient", "Password", "")), Sample().Password);
    EXPECT_EQ(Mode(file), 0600u);
}
