// The background checks of the accounts the window is not on: one after another, each with
// its own record, never asking, never the window's account, never one locked elsewhere, never
// offline.
#include "FakePop3Server.h"
#include "MailboxScript.h"
#include "ScopedSeam.h"
#include "TempHome.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/AccountLock.h"
#include "mailbox/BackgroundChecks.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/Settings.h"
#include "platform/Keyring.h"

#include <gtest/gtest.h>

using pvtest::TFakePop3Server;

namespace {
struct BackgroundCheck : ::testing::Test {
    pvtest::TTempHome home{"pv-watch"};
    TFakePop3Server windowServer, workServer, homeServer;
    TAccountWatch watch;
    TBackgroundChecks checks{watch};
    std::vector<TAccountEntry> accounts;
    std::vector<std::string> checked;
    bool online = true;

    void SetUp() override {
        InitMainUnit();
        checks.Online = [this] { return online; };
        checks.WindowAccount = [] { return std::string("Box"); };
        checks.OnChecked = [this](const TWatchedAccount& a, const std::vector<TMailRow>&,
                                  bool news) { checked.push_back(a.Name + (news ? " new" : "")); };
        Add("Box", "Window box", windowServer, "secret");
        Add("Work", "Work", workServer, "secret");
        Add("Home", "Home", homeServer, "secret");
    }
    void Add(const std::string& name, const std::string& descript, TFakePop3Server& server,
             const std::string& password, bool oauth = false) {
        TAccountSettings s;
        if (oauth) {
            s.OAuth.Method = kAuthOAuth2;
            s.OAuth.AuthorizationUrl = "https://oauth.example/authorize";
            s.OAuth.TokenUrl = "https://oauth.example/token";
            s.OAuth.ClientId = "postvigil-test";
        }
        s.IniDescript = descript;
        s.Server = "127.0.0.1";
        s.DefPort = server.Port();
        s.Security = kSecurityNone;
        s.UserName = "bob";
        s.Password = password;
        s.Timeout = 5;
        const std::string file = home.Path().string() + "/" + name + ".Set";
        std::string error;
        ASSERT_TRUE(WriteAccountFile(file, s, error)) << error;
        accounts.push_back({name, file});
    }
};
} // namespace

TEST_F(BackgroundCheck, ChecksEachOtherAccountInTurnAndAnnouncesOnlyWhatIsNew) {
    ServeListing(workServer, "bob", "secret", {"Plan", "Budget"});
    ServeListing(homeServer, "bob", "secret", {});
    // Home's server is not reached before Work's check has ended.
    checks.OnChecked = [&](const TWatchedAccount& a, const std::vector<TMailRow>& rows, bool news) {
        checked.push_back(a.Name + (news ? " new" : ""));
        if (a.Name == "Work" && workServer.Connections() == 1) {
            EXPECT_EQ(a.State, "");
            EXPECT_EQ(homeServer.Connections(), 0);
            EXPECT_EQ(rows.size(), 2u);
        }
    };
    ASSERT_TRUE(checks.Run(accounts));
    EXPECT_EQ(workServer.Failure(), "");
    EXPECT_EQ(homeServer.Failure(), "");
    EXPECT_EQ(windowServer.Connections(), 0);
    EXPECT_EQ(checked, (std::vector<std::string>{"Work new", "Home"}));
    ASSERT_TRUE(watch.Find("work"));
    EXPECT_EQ(watch.Find("Work")->Waiting, 2);
    EXPECT_EQ(watch.Find("Home")->Waiting, 0);
    EXPECT_FALSE(watch.Find("Box"));
    // Nothing went to the window's protocol.
    EXPECT_EQ(ProgramLog.Count(), 0);

    // The same messages again are no news; one more is.
    workServer.NextConnection();
    homeServer.NextConnection();
    ServeListing(workServer, "bob", "secret", {"Plan", "Budget"}, 2);
    ServeListing(homeServer, "bob", "secret", {"Hello"});
    checked.clear();
    ASSERT_TRUE(checks.Run(accounts));
    EXPECT_EQ(checked, (std::vector<std::string>{"Work", "Home new"}));

    // The listing of the last check comes back from the header cache, without a connection.
    TClientRec rec;
    FillClientRec(rec, ReadAccountSettings(accounts[1].FileName));
    TMailboxEvents quiet;
    TMailboxSession session(quiet, rec);
    session.Apply();
    ASSERT_TRUE(session.ListFromCache());
    ASSERT_EQ(session.Rows().size(), 2u);
    EXPECT_EQ(session.Rows()[1].Subject, "Budget");
    EXPECT_EQ(session.Rows()[1].Size, 101);
    EXPECT_EQ(workServer.Connections(), 2);
}

TEST_F(BackgroundCheck, LockedOfflineOrWithoutPasswordNothingConnectsAndNothingAsks) {
    // Offline: no round at all.
    online = false;
    EXPECT_FALSE(checks.Run(accounts));
    online = true;

    // Work is locked (the window checks it); Home has no password stored; Cloud signs in with
    // OAuth 2.0 but has never been signed in: the browser is the window's, not a background's.
    Add("Home", "Home", homeServer, "");
    accounts.erase(accounts.begin() + 2);
    TFakePop3Server cloudServer;
    Add("Cloud", "Cloud", cloudServer, "", true);
    TMemoryPasswordStore keyring;
    pvtest::TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};
    TAccountLock windowLock;
    ASSERT_EQ(windowLock.Lock(TAccountLock::FileFor("Work")), "");
    // A round does not start while one runs.
    checks.OnChecked = [&](const TWatchedAccount& a, const std::vector<TMailRow>&, bool) {
        checked.push_back(a.Name);
        EXPECT_TRUE(checks.Running());
        EXPECT_FALSE(checks.Run(accounts));
    };
    ASSERT_TRUE(checks.Run(accounts));
    EXPECT_FALSE(checks.Running());
    EXPECT_EQ(checked, (std::vector<std::string>{"Home", "Cloud"}));
    EXPECT_EQ(workServer.Connections() + homeServer.Connections(), 0);
    EXPECT_EQ(watch.Find("Home")->State, "no password stored");
    EXPECT_NE(watch.Find("Cloud")->State.find("sign"), std::string::npos)
        << watch.Find("Cloud")->State;
    EXPECT_FALSE(watch.Find("Work"));
    windowLock.Unlock();
}
