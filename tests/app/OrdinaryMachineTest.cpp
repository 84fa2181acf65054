// Checks on an ordinary desktop: no dial-up entries, or no RAS at all, and accounts whose
// files never mention dial-up.
#include "CheckCycleFixture.h"
#include "app/CheckMode.h"
#include "dialup/DialUp.h"
#include "dialup/RasBinding.h"
#include "dialup/RasEmpty.h"
#include "net/Mspop.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <sstream>

namespace {
// The machine's RAS for one test: an empty phone book, or none at all.
struct NothingToDial : CheckCycle, ::testing::WithParamInterface<bool> {
    void SetUp() override {
        CheckCycle::SetUp();
        const bool withProvider = GetParam();
        SetRasLoader([withProvider](const std::string&) -> std::shared_ptr<TRasLibrary> {
            if (!withProvider) return nullptr;
            return std::make_shared<TRasEmpty>();
        });
    }
    void TearDown() override {
        SetRasLoader(nullptr);
        CheckCycle::TearDown();
    }
    // As a new user's account file reads: no [RASSet] section.
    void AccountWithoutRasSection() {
        Account("Dummy", "[ProgSet]\nIniDescript=Test box\nTimeout=5\n[POPClient]\n"
                         "Server=127.0.0.1\nDefPort=" +
                             std::to_string(server.Port()) + "\nUserName=bob\nPassword=secret\n");
    }
};
} // namespace

TEST_P(NothingToDial, ChecksGoStraightToThePostOffice) {
    AccountWithoutRasSection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    {
        TFormMain w;
        w.show();
        // Nothing to dial: the account goes without dial-up, the setting stays as it was.
        EXPECT_EQ(RasIndex, -1);
        EXPECT_EQ(w.DialUp->Entry(), "");
        EXPECT_TRUE(AutoConnect);
        EXPECT_FALSE(w.AutoDial());
        EXPECT_FALSE(w.BtnDialHang->isEnabled());

        // The socket reports its connection more than once; busy every time.
        std::vector<bool> busyAtLogIn;
        auto connected = w.POPClient->OnConnected;
        w.POPClient->OnConnected = [&](TmsSocketBase* s) {
            connected(s);
            busyAtLogIn.push_back(w.BtnStopp->isVisible() && !w.BtnListMail->isVisible() &&
                                  !w.BtnSetting->isEnabled());
        };
        w.BtnListMailClick();
        EXPECT_EQ(server.Failure(), "");
        EXPECT_FALSE(busyAtLogIn.empty());
        EXPECT_EQ(std::count(busyAtLogIn.begin(), busyAtLogIn.end(), false), 0);
        EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - No new eMail -"))
            << w.LabelStatus->text().toStdString();
        const QString memo = w.MsgMemo->toPlainText();
        EXPECT_FALSE(memo.contains("Cancelled")) << memo.toStdString();
        EXPECT_FALSE(memo.contains("GetEntryDialParams")) << memo.toStdString();
        EXPECT_FALSE(w.FCheckFailed);
        EXPECT_TRUE(w.BtnListMail->isVisible());
        EXPECT_FALSE(w.BtnStopp->isVisible());
        EXPECT_FALSE(w.BtnDialHang->isEnabled());
    }
    // The headless check goes the same way.
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCheck(out, err), 0) << err.str();
    EXPECT_NE(out.str().find(":    - No new eMail -\n"), std::string::npos) << out.str();
    EXPECT_EQ(server.Failure(), "");
}

INSTANTIATE_TEST_SUITE_P(EmptyPhoneBookOrNoRas, NothingToDial, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "EmptyPhoneBook" : "NoRas");
                         });
