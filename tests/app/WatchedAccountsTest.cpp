// Every listed account watched: after the window's timed check the other accounts are checked
// in the background, and the tray, the account menu and a switch show what each one holds.
#include "WatchedAccountsFixture.h"

#include <QAction>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>

TEST_F(WatchedAccounts, ATimedCheckChecksEveryAccountAndShowsEachOne) {
    PopAccount();
    WorkAccount();
    ClubAccount("");
    ServeListing(server, "bob", "secret", {"Lunch", "Minutes"});
    ServeListing(workServer, "bob", "secret", {"Plan"});
    TFormMain w;
    w.Background->Online = [] { return true; };
    TimedCheck(w);
    ASSERT_EQ(server.Failure(), "");
    ASSERT_EQ(workServer.Failure(), "");
    // The window's account once, by the window; its list and status as ever.
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(workServer.Connections(), 1);
    EXPECT_EQ(w.MailRows->Count(), 2);
    EXPECT_EQ(w.LabelStatus->text(), "2 eMail ready for collecting");
    // Club has no password: its state says so, nobody was asked.
    EXPECT_TRUE(dialogs.empty());

    w.FormActivate();
    w.AppEventsIdle();
    const QString t = At();
    // The accounts in the list's (sorted) order.
    EXPECT_EQ(w.TrayIcon->toolTip().toStdString(),
              ("Postvigil [2] eMail at Postoffice\nClub: no password stored, " + t +
               "\nTest box: 2 eMail, " + t + "\nWork: 1 eMail, " + t)
                  .toStdString());
    EXPECT_EQ(w.AccountItems[0]->text().toStdString(), "Club");
    EXPECT_EQ(w.AccountItems[1]->text().toStdString(), "Test box\t2 eMail");
    EXPECT_EQ(w.AccountItems[2]->text().toStdString(), "Work\t1 eMail");

    // Work's last listing at once, from the header cache, until it is queried again.
    w.AccountItems[2]->trigger();
    ASSERT_EQ(w.MailRows->Count(), 1);
    EXPECT_EQ(w.MailRows->Row(0).Subject, "Plan");
    EXPECT_EQ(w.LabelStatus->text(), "checked at " + t);
    EXPECT_EQ(workServer.Connections(), 1);

    // Offline, the next timed check is the window's alone (back on the start-up account).
    w.Background->Online = [] { return false; };
    server.NextConnection();
    ServeListing(server, "bob", "secret", {"Lunch"}, 1);
    TimedCheck(w);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(w.windowTitle(), "Postvigil for: Test box");
    EXPECT_EQ(workServer.Connections(), 1);
}

TEST_F(WatchedAccounts, TheWindowNeitherChecksNorClosesUnderABackgroundCheck) {
    PopAccount();
    WorkAccount();
    ServeListing(server, "bob", "secret", {});
    workServer.Pause();
    ServeListing(workServer, "bob", "secret", {"Plan"});
    TFormMain w;
    w.Background->Online = [] { return true; };
    // While Work is checked in the background the user goes to Work and queries it.
    bool tried = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (tried || w.Background->Current() != "Work") return;
        tried = true;
        w.AccountItems[SetList.IndexOf("Work")]->trigger();
        w.BtnListMailClick();
        // Closing cancels the background check and waits for its end: its session is further
        // up the stack.
        w.close();
        EXPECT_TRUE(w.isVisible());
        workServer.Resume();
    });
    w.show();
    w.FormActivate();
    user.start(0);
    TimedCheck(w);
    ASSERT_TRUE(tried);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.isVisible());
    // The close cancelled the background check: nothing is known of Work yet.
    EXPECT_EQ(workServer.Connections(), 1);
    EXPECT_TRUE(w.Watch->Find("Work")->LastCheck.isNull());
    EXPECT_TRUE(w.FCheckFailed);
    EXPECT_EQ(w.StatusText(),
              "This account is being checked in the background; try again when it has finished");
}
