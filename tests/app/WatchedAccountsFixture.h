// Accounts watched in the background: the start-up account on the check cycle's server, Work
// on a second one, Club on none. Base is the check cycle's fixture or one made from it.
#pragma once

#include "CheckCycleFixture.h"
#include "MailboxScript.h"
#include "app/MailRows.h"
#include "mailbox/BackgroundChecks.h"

#include <QCoreApplication>

using pvtest::ServeListing;

template <class Base> struct TWatching : Base {
    TFakePop3Server workServer;

    void SetUp() override {
        Base::SetUp();
        this->Registry(kPostvigilKey, "FollowAct", "0");
        this->Registry(kCheckAssKey, "@", "3");
        this->Registry(kCheckAssKey, "0", "Dummy");
        this->Registry(kCheckAssKey, "1", "Work");
        this->Registry(kCheckAssKey, "2", "Club");
        this->clock.Wall = QDateTime(QDate(2026, 12, 9), QTime(14, 5)).toMSecsSinceEpoch();
    }
    void OtherAccount(const std::string& name, int port, const std::string& password) {
        this->Account(name, "[ProgSet]\nIniDescript=" + name +
                                "\nTimeout=5\n[RASSet]\nRASService=-1\n[POPClient]\nSecurity="
                                "none\nServer=127.0.0.1\nDefPort=" +
                                std::to_string(port) +
                                "\nUserName=bob\nPassword=" + ScramblePassword(password) + "\n");
    }
    void WorkAccount() { OtherAccount("Work", workServer.Port(), "secret"); }
    void ClubAccount(const std::string& password) { OtherAccount("Club", 1, password); }
    // The check the interval timer starts, on a machine that is online.
    static void TimedCheck(TFormMain& w) {
        w.PostTimedCheck();
        QCoreApplication::sendPostedEvents(&w);
    }
    // The time of the checks, as the tray and the status show it.
    static QString At() { return "14:05"; }
};

using WatchedAccounts = TWatching<CheckCycle>;
