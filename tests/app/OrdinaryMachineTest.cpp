// Checks on an ordinary desktop: no dial-up entries, or no RAS at all, and accounts whose
// files never mention dial-up.
#include "CheckCycleFixture.h"
#include "app/CheckMode.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "dialup/RasConfig.h"
#include "dialup/RasEmpty.h"
#include "dialup/RasSimulator.h"
#include "net/Mspop.h"
#include "platform/Paths.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {
// The machine's RAS for one test: an empty phone book with the kernel's routing tables as the
// test writes them, or no RAS at all.
struct OrdinaryMachine : CheckCycle {
    void UseRas(bool withProvider) {
        routes = (home / "route").string();
        Routes("");
        SetRasLoader([withProvider, this](const std::string&) -> std::shared_ptr<TRasLibrary> {
            if (!withProvider) return nullptr;
            return std::make_shared<TRasEmpty>(routes, routes + "6");
        });
    }
    void Routes(const std::string& lines) {
        std::ofstream(routes) << "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n"
                              << lines;
    }
    // As a new user's account file reads: no [RASSet] section.
    void AccountWithoutRasSection() {
        Account("Dummy", "[ProgSet]\nIniDescript=Test box\nTimeout=5\n[POPClient]\n"
                         "Security=none\nServer=127.0.0.1\nDefPort=" +
                             std::to_string(server.Port()) + "\nUserName=bob\nPassword=secret\n");
    }
    std::string routes;
    pvtest::TScopedSeam<TRasLoader> rasLoader{SetRasLoader, nullptr, ConfiguredRasLoader()};
};

// A connection manager that lists its phone book only after the window has read it.
struct TLatePhoneBook : TRasSimulator {
    using TRasSimulator::TRasSimulator;
    bool PhoneBookPending() const override { return Pending; }
    std::vector<std::string> PhoneBook() override {
        return Pending ? std::vector<std::string>() : TRasSimulator::PhoneBook();
    }
    void Answer() {
        Pending = false;
        RasPhoneBookRead();
    }
    bool Pending = true;
};

// With an empty phone book (true) or without RAS (false).
struct NothingToDial : OrdinaryMachine, ::testing::WithParamInterface<bool> {
    void SetUp() override {
        OrdinaryMachine::SetUp();
        UseRas(GetParam());
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

// A desktop on Wi-Fi without a connection manager: the network is someone else's
// connection, so the window says ONLINE, checks do not dial, and nothing asks to close the
// line afterwards.
TEST_F(OrdinaryMachine, DefaultRouteMeansOnline) {
    UseRas(true);
    Routes("wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\n");
    AccountWithoutRasSection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    // The first poll comes while the check says goodbye, after its result is shown (as in
    // --check): it must leave the result alone.
    auto disconnected = w.POPClient->OnDisconnected;
    w.POPClient->OnDisconnected = [&](TmsSocketBase* s) {
        disconnected(s);
        w.OnLineDetect->Poll();
    };
    w.BtnListMailClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - No new eMail -"))
        << w.LabelStatus->text().toStdString();
    EXPECT_NE(w.MsgLabel->text(), "Connection ONLINE\rClose at status bar!");
    EXPECT_FALSE(w.MsgMemo->toPlainText().contains("Connection terminated"));
    EXPECT_TRUE(w.OnLineDetect->IsOnline());
    EXPECT_TRUE(ExternOnline);
    EXPECT_EQ(w.BtnDialHang->text(), "ONLINE");
    EXPECT_FALSE(w.BtnDialHang->isEnabled());
    // Off the network and back, between checks: the status line says so.
    Routes("");
    w.OnLineDetect->Poll();
    EXPECT_EQ(w.BtnDialHang->text(), "OFFLINE");
    Routes("wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\n");
    w.OnLineDetect->Poll();
    EXPECT_EQ(w.LabelStatus->text(), "Ready for checking!");
}

// The time in the result line reads in the user's language and script.
TEST_F(OrdinaryMachine, ResultTimeInAnyLocale) {
    UseRas(true);
    AccountWithoutRasSection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    const QLocale before;
    const QLocale greek(QLocale::Greek, QLocale::Greece);
    QLocale::setDefault(greek);
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(clock.WallMs());
    const QString time = greek.toString(now, QLocale::ShortFormat);
    ASSERT_TRUE(std::any_of(time.begin(), time.end(), [](QChar c) { return c.unicode() > 0xff; }))
        << "the sample must need more than Windows-1252";
    {
        TFormMain w;
        w.BtnListMailClick();
        EXPECT_EQ(w.LabelStatus->text(), time + ":    - No new eMail -");
    }
    QLocale::setDefault(before);
    // The protocol file, written as the window goes, holds the date whole, in UTF-8.
    QFile log(QString::fromStdString(ProgDir() + "PostvigilLog.TXT"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains("Date/time: " + greek.toString(now, QLocale::LongFormat) + "\r\n"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Connected to POP3 server\r\n")) << text.toStdString();
}

// The phone book comes after the start-up read: the account gets the entry it names then, and
// dials again as it would have.
TEST_F(OrdinaryMachine, PhoneBookAnsweredLateGivesTheAccountItsEntry) {
    auto ras = std::make_shared<TLatePhoneBook>(ParseRasSimScript("[Office]\n[Home]\n"));
    SetRasLoader([ras](const std::string&) -> std::shared_ptr<TRasLibrary> { return ras; });
    PopAccount("1");
    TFormMain w;
    EXPECT_EQ(w.DialUp->Entry(), "");
    EXPECT_FALSE(w.AutoDial());
    EXPECT_TRUE(RasPhoneBookPending());
    ras->Answer();
    EXPECT_EQ(w.DialUp->Entries(), (TStringList{"Office", "Home"}));
    EXPECT_EQ(RasIndex, 1);
    EXPECT_EQ(w.DialUp->Entry(), "Home");
    EXPECT_TRUE(w.AutoDial());
}
