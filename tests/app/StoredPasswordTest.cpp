// An account whose file stores no password: the window asks once, the headless check
// refuses without logging in.
#include "CheckCycleFixture.h"
#include "app/CheckMode.h"
#include "net/Mspop.h"

#include <QCoreApplication>

#include <algorithm>
#include <sstream>

namespace {
struct StoredPassword : CheckCycle {
    // A scrambled (non-DUMMY) account file with the given stored value.
    void ScrambledAccount(const std::string& name, const std::string& stored) {
        Registry(kPostkeeperSetKey, "DFUIniName", "Home");
        Account(name, "[ProgSet]\nIniDescript=" + name +
                          "\n[RASSet]\nRASService=-1\n"
                          "[POPClient]\nSecurity=none\nServer=127.0.0.1\nDefPort=" +
                          std::to_string(server.Port()) + "\nUserName=bob\nPassword=" + stored +
                          "\n");
    }
};
} // namespace

TEST_F(StoredPassword, EmptyStoredValueIsNoPasswordAndTheHeadlessCheckRefuses) {
    // No account file at all: the user learns how to make one.
    Registry(kPostkeeperSetKey, "DFUIniName", "Home");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_NE(err.str().find("No account yet"), std::string::npos) << err.str();

    ScrambledAccount("Home", "");
    err.str("");
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_NE(err.str().find("no stored password"), std::string::npos) << err.str();
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(server.Received().find("PASS"), std::string::npos);

    // A stored password still reads back.
    ScrambledAccount("Home", ScramblePassword("secret"));
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    EXPECT_EQ(RunHeadlessCheck(out, err), 0) << err.str();
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(StoredPassword, TheWindowAsksOncePerAccountNotAtEveryRestore) {
    ScrambledAccount("Home", "");
    ScrambledAccount("Other", "");
    Registry(kCheckAssKey, "@", "2");
    Registry(kCheckAssKey, "0", "Home");
    Registry(kCheckAssKey, "1", "Other");
    TFormMain w;
    EXPECT_EQ(ClientRec.Password, "");
    auto prompts = [&] {
        QCoreApplication::sendPostedEvents(&w);
        return std::count(dialogs.begin(), dialogs.end(), QString("Insert password"));
    };
    w.show();
    EXPECT_EQ(prompts(), 1);
    // Left empty; the window goes to the tray and comes back twice.
    for (int i = 0; i < 2; ++i) {
        w.hide();
        w.show();
    }
    EXPECT_EQ(prompts(), 1);
    // Another account without a password is a new question.
    ReadAccountNames();
    w.ChangeClient(1);
    w.hide();
    w.show();
    EXPECT_EQ(prompts(), 2);
}
