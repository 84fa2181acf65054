#include "MainWindowFixture.h"
#include "app/FormLogo.h"
#include "app/HelpViewer.h"
#include "app/HintTiming.h"
#include "app/MainUnit.h"
#include "app/PaWoUnit.h"
#include "base/Clock.h"
#include "dialup/DialUp.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

#include "app/MailRows.h"
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST_F(MainWindowFixture, AnAccountWithoutAStoredPasswordAsksForIt) {
    typedPassword = "  a-30-character-long-password  ";
    Account("Dummy", "[POPClient]\nServer=pop.example.org\n");
    TFormMain w;
    EXPECT_EQ(w.windowTitle(), "Postvigil for: Empty");
    EXPECT_EQ(CurSetName, "Dummy");
    EXPECT_EQ(w.POPClient->Port(), 110);
    EXPECT_EQ(w.POPClient->TimeOut(), 60);
    EXPECT_TRUE(dialogs.empty());
    w.show();
    QCoreApplication::sendPostedEvents(&w);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], "Insert password");
    // Trimmed for the client, never cut.
    EXPECT_EQ(w.POPClient->Password(), "a-30-character-long-password");
    EXPECT_EQ(ClientRec.Password, "  a-30-character-long-password  ");
}

TEST_F(MainWindowFixture, AppliesTheAccountToTheComponents) {
    Registry(kPostkeeperSetKey, "DFUIniName", "Home");
    Account("HOME", "[ProgSet]\nIniDescript=" + std::string(90, 'x') +
                        "\nTimeout=25\n[RASSet]\nRASService=-1\n[POPClient]\n"
                        "Server=pop.example.org\nDefPort=1995\nUserName=me\n"
                        "MailAddress=me@example.org\nMailName=Me\n");
    TFormMain w;
    // The description holds 60 characters, so the caption stays within its 79.
    EXPECT_EQ(w.windowTitle(), "Postvigil for: " + QString(60, 'x'));
    EXPECT_EQ(w.POPClient->Host(), "pop.example.org");
    EXPECT_EQ(w.POPClient->Port(), 1995); // after the host, which resets the port
    EXPECT_EQ(w.POPClient->UserName(), "me");
    EXPECT_EQ(w.POPClient->TimeOut(), 25);
    EXPECT_EQ(w.MailMessage.Sender().Address(), "me@example.org");
    EXPECT_EQ(w.MailMessage.Sender().Name(), "Me");
    // No dial-up for this account: automatic dialling off for the run, button disabled.
    EXPECT_FALSE(AutoConnect);
    EXPECT_EQ(RasIndex, -1);
    EXPECT_EQ(w.DialUp->Entry(), "");
    EXPECT_FALSE(w.BtnDialHang->isEnabled());
}

TEST_F(MainWindowFixture, PhoneBookIndexOutOfRangeSelectsTheFirstEntry) {
    Account("Dummy", "[RASSet]\nRASService=7\n");
    TFormMain w;
    EXPECT_EQ(RasIndex, 0);
    ASSERT_EQ(w.DialUp->Entries().Count(), 4);
    EXPECT_EQ(w.DialUp->Entry(), "Office VPN");
    EXPECT_TRUE(w.BtnDialHang->isEnabled());
}

TEST_F(MainWindowFixture, AccountMenuAndSwitching) {
    Registry(kCheckAssKey, "@", "3");
    Registry(kCheckAssKey, "0", "b");
    Registry(kCheckAssKey, "1", "a");
    Registry(kCheckAssKey, "2", "a");
    Account("a", "[ProgSet]\nIniDescript=Account A\n[POPClient]\nServer=a.example.org\n");
    Account("B", "[ProgSet]\nIniDescript=Account B\n[POPClient]\nServer=b.example.org\n");
    TFormMain w;
    w.FormActivate();
    EXPECT_EQ(w.BtnListMail->menu(), w.PMRASCon);
    EXPECT_EQ(w.AccountItems[0]->text(), "Account A");
    EXPECT_EQ(w.AccountItems[1]->text(), "Account B");
    EXPECT_EQ(w.AccountItems[1]->statusTip(), "Change mail server to: Account B");
    for (int i = 2; i < 10; ++i) EXPECT_FALSE(w.AccountItems[i]->isVisible());

    w.MailRows->Append(TMailRow());
    w.AccountItems[1]->trigger();
    EXPECT_EQ(CurSetName, "b");
    EXPECT_EQ(w.POPClient->Host(), "b.example.org");
    EXPECT_EQ(w.windowTitle(), "Postvigil for: Account B");
    EXPECT_EQ(w.MailRows->Count(), 0);
    // Choosing the loaded account again changes nothing.
    w.MailRows->Append(TMailRow());
    w.ChangeClient(1);
    EXPECT_EQ(w.MailRows->Count(), 1);
}

TEST_F(MainWindowFixture, InfoDialogAtStartStoresTheShowAgainChoice) {
    Registry(kPostvigilKey, "ShowInfos", "1");
    keepShowInfo = false;
    TFormMain w;
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(dialogs[0], "Tessmar Postvigil");
    EXPECT_FALSE(ShowInfos);
    EXPECT_EQ(TIniFile(RegistryFile()).ReadString(kPostvigilKey, "ShowInfos", ""), "0");
}

TEST_F(MainWindowFixture, HelpOpenedFromTheStartInfoGoesWithTheWindow) {
    Registry(kPostvigilKey, "ShowInfos", "1");
    TFormMain::ExecModal = [](QDialog& d) {
        if (auto* l = qobject_cast<TLogoForm*>(&d)) l->OnOpenTarget("index.html");
        return int(QDialog::Accepted);
    };
    QPointer<THelpViewer> viewer;
    {
        TFormMain w;
        viewer = w.findChild<THelpViewer*>();
        ASSERT_TRUE(viewer);
        // Closing it cannot end a program whose window sits in the tray.
        EXPECT_FALSE(viewer->testAttribute(Qt::WA_QuitOnClose));
    }
    EXPECT_TRUE(viewer.isNull());
}

TEST_F(MainWindowFixture, IdleHandlerFollowsTheList) {
    TFormMain w;
    w.AppEventsIdle();
    EXPECT_FALSE(w.BtnGetDel->isEnabled());
    for (int i = 0; i < 4; ++i) w.MailRows->Append(TMailRow());
    w.AppEventsIdle();
    EXPECT_TRUE(w.BtnGetDel->isEnabled());
    EXPECT_TRUE(w.BtnGetMailList->isEnabled());
    EXPECT_TRUE(w.TrayTimer->isActive());
    EXPECT_EQ(w.TrayTimer->interval(), 500);
    EXPECT_EQ(w.TrayIcon->toolTip(), "Postvigil [4] eMail at Postoffice");
    // Each tick shows the next frame.
    const qint64 still = w.TrayIcon->icon().cacheKey();
    QMetaObject::invokeMethod(w.TrayTimer, "timeout");
    const qint64 first = w.TrayIcon->icon().cacheKey();
    QMetaObject::invokeMethod(w.TrayTimer, "timeout");
    EXPECT_NE(first, still);
    EXPECT_NE(w.TrayIcon->icon().cacheKey(), first);
    w.MailRows->Clear();
    w.AppEventsIdle();
    EXPECT_FALSE(w.TrayTimer->isActive());
    EXPECT_EQ(w.TrayIcon->toolTip(), "Postvigil [0] eMail at the server");
    EXPECT_FALSE(w.BtnCopyMail->isEnabled());
}

TEST_F(MainWindowFixture, LooksAsDescribed) {
    TFormMain w;
    EXPECT_EQ(w.size(), QSize(619, 379));
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.BtnListMail->text(), "&Query eMail account");
    EXPECT_EQ(w.BtnListMail->statusTip(), "Inquire for waiting eMail at the eMail server");
    EXPECT_TRUE(w.BtnStopp->isHidden());
    EXPECT_FALSE(w.BtnGetMailList->isEnabled());
    EXPECT_EQ(w.BtnReset->toolTip(), "Tag for neutral, \"do nothing\" ");
    EXPECT_EQ(w.BtnOpenMail->property("tag").toInt(), 11);
    EXPECT_EQ(w.BtnDialHang->text(), "OFFLINE");
    EXPECT_EQ(w.LabelStatus->text(), "Status");
    EXPECT_EQ(w.MsgMemo->toPlainText(), "No protocol written yet");

    ASSERT_EQ(w.ListViewRemoPOP->model()->columnCount(), 5);
    const char* names[] = {"Subject", "Sender", "Priority", "Size", "Date"};
    // Priority is widened for its caption at the Subject's cost; the others keep their width.
    const int widths[] = {0, 155, 0, 65, 120};
    int total = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w.ListViewRemoPOP->model()->headerData(i, Qt::Horizontal).toString(), names[i]);
        if (widths[i]) {
            EXPECT_EQ(w.ListViewRemoPOP->columnWidth(i), widths[i]);
        }
        total += w.ListViewRemoPOP->columnWidth(i);
    }
    EXPECT_GT(w.ListViewRemoPOP->columnWidth(2), 25);
    EXPECT_EQ(total, 550);
    EXPECT_EQ(w.HeaderControl->sectionSize(0), 185);
    EXPECT_EQ(w.HeaderControl->sectionSize(2), 335);

    // Ten hidden account items with tags 0..9; the tray menu's items by tag.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(w.AccountItems[i]->data().toInt(), i);
        EXPECT_FALSE(w.AccountItems[i]->isVisible());
    }
    EXPECT_EQ(w.TrayItems[9]->text(), "&End");
    EXPECT_EQ(w.TrayItems[6]->text(), "&Open Postkeeper");
    EXPECT_EQ(w.TrayIcon->toolTip(), "Postvigil");
}

TEST_F(MainWindowFixture, MinimizesToTheTrayAndHelpMenuOffersTheHomepage) {
    TScriptedPrompts prompts;
    const pvtest::TScopedSeam promptsSeam(SetPrompts, &prompts);
    TRecordingShell shell;
    const pvtest::TScopedSeam shellSeam(SetShell, &shell);
    TFormMain w;
    // Hints: up after a second, gone after three and a half; the check-mode menus say what
    // they change.
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 1000);
    EXPECT_EQ(w.BtnGetDel->toolTipDuration(), 3500);
    EXPECT_EQ(w.HelpCheckModeMenu->menuAction()->statusTip(), "Change mode temporary");
    EXPECT_EQ(w.TrayItems[3]->statusTip(), "Change mode temporary");

    // "Program &update" asks first; only Yes opens the page, maximized.
    w.MIUpdate->trigger();
    EXPECT_TRUE(shell.Calls.empty());
    prompts.QueueAnswer(mrYes);
    w.MIUpdate->trigger();
    ASSERT_EQ(prompts.Shown.size(), 2u);
    EXPECT_EQ(prompts.Shown[1].Text, "Open homepage for Tessmar Postvigil");
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].ShowCommand, 3);

    // Minimized, only the tray icon is left; the tray's first item brings the window back.
    w.show();
    w.BtnMinimize->click();
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_TRUE(w.isHidden());
    w.TrayItems[1]->trigger();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    // A program set to start minimized starts in the tray.
    {
        Registry(kPostvigilKey, "PVMinimized", "1");
        TFormMain minimized;
        minimized.show();
        QCoreApplication::sendPostedEvents(&minimized);
        EXPECT_TRUE(minimized.isHidden());
    }
    // Without a tray the task bar is the way back: the window stays there.
    TFormMain::TrayAvailable = [] { return false; };
    w.showMinimized();
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_TRUE(w.isVisible());
}

TEST(HintTiming, TheNextHintWaitsATenthOfASecondAfterTheMouseStops) {
    TManualClock clock;
    const pvtest::TScopedSeam clockSeam(SetClock, &clock);
    struct TCounting : QWidget {
        int hints = 0;
        bool event(QEvent* e) override {
            if (e->type() == QEvent::ToolTip) ++hints;
            return QWidget::event(e);
        }
    } w;
    // The program's own, watching every event of the application.
    InstallHintTiming();
    auto* pacer = qApp->findChild<THintPacer*>();
    ASSERT_TRUE(pacer);
    auto move = [&] {
        QMouseEvent e(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, {}, {});
        QCoreApplication::sendEvent(&w, &e);
    };
    auto hint = [&] {
        QHelpEvent e(QEvent::ToolTip, QPoint(5, 5), QPoint(5, 5));
        QCoreApplication::sendEvent(&w, &e);
    };
    // The toolkit's quick follow-up hint 20 ms after the mouse stopped is held for 80 more.
    move();
    clock.Now = 20;
    hint();
    EXPECT_EQ(w.hints, 0);
    ASSERT_TRUE(pacer->Delay()->isActive());
    EXPECT_EQ(pacer->Delay()->interval(), 80);
    QMetaObject::invokeMethod(pacer->Delay(), "timeout");
    EXPECT_EQ(w.hints, 1);
    // Moving on drops the held hint; after a rest a hint shows at once.
    clock.Now = 1000;
    move();
    clock.Now = 1020;
    hint();
    move();
    EXPECT_FALSE(pacer->Delay()->isActive());
    clock.Now = 2100;
    hint();
    EXPECT_EQ(w.hints, 2);
}
