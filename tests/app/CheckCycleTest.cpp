#include "CheckCycleFixture.h"
#include "PeakMemory.h"
#include "app/CheckMode.h"
#include "app/DemoMode.h"
#include "app/DemoServer.h"
#include "app/HelpUnit.h"
#include "base/Clock.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "mailbox/AccountFiles.h"
#include "net/Mspop.h"
#include "net/Mssocket.h"
#include "platform/IniFile.h"
#include "platform/Keyring.h"
#include "platform/Prompts.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include "app/MailRows.h"
#include <QAbstractItemModel>
#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

TEST_F(CheckCycle, ListsOneRowPerMessageWithItsColumnsAndHeaders) {
    PopAccount();
    // Ids for numbers the session does not have, or that are not printable, are not taken.
    LogIn(3, "+OK\r\n1 id-one\r\n3 id\x01three\r\n7 stray\r\n.\r\n");
    Header(1,
           "From: Ann Example <ann@example.com>\r\nSubject: Low one\r\nX-Priority: 5\r\n"
           "Date: Tue, 07 Nov 2023 10:20:30 +0100",
           "+OK 1 1500");
    Header(2, "From: carl@example.com\r\nSubject: No date", "+OK 2");
    Header(3, "From: Dora <dora@example.com>\r\nSubject: Urgent\r\nX-Priority: 1\r\nDate: junk",
           "+OK 3 1234567");
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    w.BtnListMailClick();
    EXPECT_EQ(server.Failure(), "");

    ASSERT_EQ(w.MailRows->Count(), 3);
    auto cell = [&](int row, int col) { return w.MailRows->Text(row, col); };
    EXPECT_EQ(cell(0, 0), "Low one");
    EXPECT_EQ(cell(0, 1), "Ann Example");
    EXPECT_EQ(cell(1, 1), "carl@example.com");
    EXPECT_EQ(cell(0, 2), "!");
    EXPECT_EQ(cell(1, 2), "!!");
    EXPECT_EQ(cell(2, 2), "!!!");
    QLocale grouped;
    grouped.setNumberOptions({});
    EXPECT_EQ(cell(0, 3), grouped.toString(1500).rightJustified(8));
    EXPECT_EQ(cell(0, 3).size(), 8);
    EXPECT_EQ(cell(1, 3), "      -1");
    EXPECT_EQ(cell(0, 4), Local(QDateTime(QDate(2023, 11, 7), QTime(10, 20, 30))));
    // No date, or one that cannot be read: the time of the check.
    const QString checkTime = Local(QDateTime::fromMSecsSinceEpoch(clock.Wall));
    EXPECT_EQ(cell(1, 4), checkTime);
    EXPECT_EQ(cell(2, 4), checkTime);
    EXPECT_EQ(w.MailRows->Row(0).Mode, RetrvMode);
    // Each row knows its message: number, size and unique id.
    EXPECT_EQ(w.MailRows->Row(0).Uidl, "id-one");
    EXPECT_EQ(w.MailRows->Row(2).Uidl, "");
    EXPECT_EQ(w.MailRows->Row(2).Number, 3);
    EXPECT_EQ(w.MailRows->Row(2).Size, 1234567);

    EXPECT_EQ(w.LabelStatus->text(), "3 eMail ready for collecting");
    EXPECT_FALSE(tones.Steps.empty());                               // the tune for found mail
    EXPECT_EQ(sounds.Beeps, std::vector<unsigned>{MB_ICONASTERISK}); // end of the cycle
    EXPECT_EQ(clock.Pauses, std::vector<int>{2000});
    EXPECT_TRUE(w.FListDone);
    EXPECT_FALSE(w.FCheckFailed);
    EXPECT_TRUE(w.MsgMemo->toPlainText().startsWith("Connect to: 127.0.0.1\nConnected to POP3 "
                                                    "server"));
    EXPECT_TRUE(w.MsgMemo->toPlainText().endsWith("Disconnected from POP3 server"));
    EXPECT_TRUE(ProgramLog.IndexOf("Connected to POP3 server") >= 0);

    // A double click shows the headers of the row clicked, not of the message read last.
    w.MailRows->Flush();
    w.ListViewRemoPOP->setCurrentIndex(w.MailRows->index(0, 0));
    w.ListViewRemoPOPDblClick();
    ASSERT_GE(shownHeaders.Count(), 3);
    EXPECT_EQ(shownHeaders[1], "Subject: Low one");

    // The mode buttons mark the selected rows.
    w.ListViewRemoPOP->selectionModel()->select(
        w.MailRows->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    w.BtnDelMail->setEnabled(true);
    w.BtnDelMail->click();
    EXPECT_EQ(w.MailRows->Row(0).Mode, tmDelete);
    EXPECT_EQ(w.MailRows->Row(1).Mode, RetrvMode);
    EXPECT_EQ(w.MailRows->Row(2).Mode, tmDelete);
}

TEST_F(CheckCycle, EmptyPostofficeClosesEvenWhenAskedToStayConnected) {
    PopAccount();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    w.RunCheck(true, true, true);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_FALSE(w.POPClient->IsConnected());
    EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - No new eMail -"));
    EXPECT_EQ(sounds.Beeps, std::vector<unsigned>{MB_ICONASTERISK});
    EXPECT_TRUE(tones.Steps.empty());
    const int sessionLines = w.POPClient->ProtocolLog().Count();
    EXPECT_GT(sessionLines, 0);
    // A dial-up error since the last result turns the next empty result into an error, once.
    w.FDialError = true;
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    w.RunCheck(true, true, false);
    EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - Error when inquiring -"));
    EXPECT_FALSE(w.FDialError);
    // The client's protocol holds the last connection only, as the program's does.
    EXPECT_EQ(w.POPClient->ProtocolLog().Count(), sessionLines);
}

TEST_F(CheckCycle, AutomaticSecurityNeverFallsBackToClearText) {
    PopAccount("-1", "secret", "auto");
    server.OfferNoSecurity();
    TFormMain w;
    w.RunCheck(true, true, false);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(w.FCheckFailed);
    EXPECT_EQ(w.FCheckError.rfind("No secure connection: TLS on port ", 0), 0u) << w.FCheckError;
    EXPECT_NE(w.FCheckError.find("STLS on port"), std::string::npos);
    EXPECT_EQ(server.Received().find("USER"), std::string::npos);
    EXPECT_EQ(TIniFile(AccountFileName("Dummy")).ReadString("POPClient", "Security", ""), "auto");
}

TEST_F(CheckCycle, AccountFromBeforeLooksForSecurityOnceThenGoesOnAsItsPortSays) {
    PopAccount("-1", "secret", "");
    server.OfferNoSecurity();
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    w.RunCheck(true, true, false);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_FALSE(w.FCheckFailed) << w.FCheckError;
    EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - No new eMail -"));
    // Nothing is stored: a server that offers TLS later is found then.
    EXPECT_EQ(TIniFile(AccountFileName("Dummy")).ReadString("POPClient", "Security", "-"), "-");
    // Not looked for again in this run.
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    w.RunCheck(true, true, false);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Connections(), 4);
}

TEST_F(CheckCycle, FailedLogInKeepsItsTextsAndRaisesNoSecondError) {
    PopAccount();
    server.Say("+OK ready").RefuseLogin("bob", "secret");
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    EXPECT_NO_THROW(w.BtnListMailClick());
    EXPECT_EQ(w.LabelStatus->text(), "Error when calling list, see protocol");
    EXPECT_TRUE(w.MsgMemo->toPlainText().contains("See ptotocol"));
    // The server's reason is on show without opening the protocol.
    EXPECT_EQ(w.MsgLabel->text(), "-ERR [AUTH] Authentication failed.");
    EXPECT_TRUE(w.MsgMemo->toPlainText().contains("-ERR [AUTH] Authentication failed.\n"));
    EXPECT_TRUE(w.MsgMemo->toPlainText().endsWith("Cancelled"));
    EXPECT_TRUE(w.FCheckFailed);
    EXPECT_NE(w.FCheckError.find("Authentication failed"), std::string::npos);
    EXPECT_TRUE(w.FListDone);
    EXPECT_TRUE(w.BtnStopp->isHidden());
    EXPECT_EQ(w.MailRows->Count(), 0);
}

TEST_F(CheckCycle, CancelDuringTheHeaderLoopKeepsTheRowsAndRefusesSecondChecks) {
    PopAccount();
    LogIn(2);
    Header(1, "Subject: first", "+OK 1 10");
    server.Expect("TOP 2 1").Pause();
    TFormMain w;
    w.show(); // visibility is what the user sees
    bool checkedBusy = false;
    QObject::connect(w.ListViewRemoPOP->model(), &QAbstractItemModel::rowsInserted, &w, [&] {
        QTimer::singleShot(0, &w, [&] {
            // Busy for the whole check: nothing that shares the socket can start.
            EXPECT_TRUE(w.BtnStopp->isVisible());
            EXPECT_TRUE(w.BtnListMail->isHidden());
            EXPECT_FALSE(w.BtnSetting->isEnabled());
            EXPECT_FALSE(w.BtnPrintMail->isEnabled());
            w.AppEventsIdle();
            EXPECT_FALSE(w.BtnGetMailList->isEnabled());
            EXPECT_TRUE(w.BtnGetDel->isEnabled()); // marking rows is harmless
            w.TimedCheck();
            w.BtnListMailClick();
            EXPECT_EQ(server.Connections(), 1);
            EXPECT_EQ(w.StatusText(), "A check is running; wait for it or press Cancel");
            // The tray's items are refused the same way: no dialog, no change of mode.
            w.SetStatusText("");
            const int followAct = ClientRec.FollowAct;
            const std::size_t shown = dialogs.size();
            for (int tag : {2, 6, 7}) w.TrayItems[tag]->trigger();
            EXPECT_EQ(dialogs.size(), shown);
            EXPECT_EQ(ClientRec.FollowAct, followAct);
            EXPECT_EQ(w.StatusText(), "A check is running; wait for it or press Cancel");
            checkedBusy = true;
            w.BtnStoppClick();
        });
    });
    EXPECT_THROW(w.BtnListMailClick(), EmsCanceledError);
    server.Resume();
    EXPECT_TRUE(checkedBusy);
    EXPECT_EQ(w.MailRows->Count(), 1);
    EXPECT_EQ(w.LabelStatus->text(), "Cancelled");
    EXPECT_TRUE(w.MsgMemo->toPlainText().contains("Cancelled"));
    EXPECT_TRUE(w.FListDone);
    EXPECT_FALSE(w.Working());
    EXPECT_TRUE(w.BtnStopp->isHidden());
    EXPECT_TRUE(w.BtnSetting->isEnabled());
}

TEST_F(CheckCycle, UnreadableOrHeavyHeaderBlockStillGetsARowAndTheOthersFollow) {
    PopAccount();
    LogIn(3);
    // A sender address whose angle bracket is never closed.
    Header(1, "Subject: broken\r\nFrom: Ann <ann@example.com", "+OK 1 55");
    // Its first body line alone is over the header limit: listed with what fits.
    Header(2,
           "From: Ann <ann@example.com>\r\nSubject: heavy\r\n\r\n" +
               std::string(std::size_t(kMaxHeaderAnswer) + 1000, 'b'),
           "+OK 2 5000000");
    Header(3, "Subject: fine", "+OK 3 66");
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    w.BtnListMailClick();
    EXPECT_EQ(server.Failure(), "");
    ASSERT_EQ(w.MailRows->Count(), 3);
    EXPECT_EQ(w.MailRows->Text(0, 3).trimmed(), "55");
    EXPECT_EQ(w.MailRows->Text(1, 0), "heavy");
    EXPECT_EQ(w.MailRows->Text(1, 1), "Ann");
    EXPECT_EQ(w.MailRows->Row(1).Size, 5000000);
    EXPECT_GE(ProgramLog.IndexOf("Headers of message 2 too long: listed with what fits"), 0);
    EXPECT_EQ(w.MailRows->Text(2, 0), "fine");
    EXPECT_EQ(w.LabelStatus->text(), "3 eMail ready for collecting");
    EXPECT_FALSE(w.FCheckFailed);
}

TEST_F(CheckCycle, IntervalTicksThenTimedCheckOfTheStartAccount) {
    PopAccount();
    Registry(kPostvigilKey, "Interval", "3");
    Registry(kPostvigilKey, "FollowAct", "1");
    TFormMain w;
    w.showMinimized();
    QCoreApplication::sendPostedEvents(&w);
    int posted = 0;
    for (int expected : {33, 67}) {
        w.TimerIntervalTimer();
        EXPECT_EQ(w.ProgressBar->value(), expected);
    }
    // The user switched accounts; the timed check goes back to the start-up one.
    CurSetName = "Other";
    w.POPClient->SetHost("elsewhere.example.org");
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    w.TimerIntervalTimer();
    EXPECT_EQ(w.ProgressBar->value(), 100);
    QCoreApplication::sendPostedEvents(&w, TFormMain::WM_TIMEDCHECK);
    posted = server.Connections();
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(w.POPClient->Host(), "127.0.0.1");
    EXPECT_EQ(CurSetName, "Other");
    // Locked, and stored to, as the account it checked.
    EXPECT_EQ(w.Session->AccountName(), StartSetName);
    // An empty post office leaves the window minimized.
    EXPECT_TRUE(w.isMinimized());
    EXPECT_EQ(w.FMinutes, 0);
    EXPECT_EQ(w.ProgressBar->value(), 0);
    EXPECT_TRUE(w.TimerInterval->isActive());

    // With no interval the tick does nothing; a tray check still re-arms the minute timer.
    ClientRec.Interval = 0;
    w.TimerIntervalTimer();
    EXPECT_EQ(w.FMinutes, 0);
    w.TimerInterval->stop();
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    w.TimedCheck();
    EXPECT_TRUE(w.TimerInterval->isActive());
}

TEST_F(CheckCycle, DialsTheEntryChecksAndHangsUp) {
    PopAccount("0");
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    w.show(); // visibility is what the user sees
    ASSERT_TRUE(AutoConnect);
    w.BtnListMailClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(w.HeaderControl->model()->headerData(0, Qt::Horizontal).toString(), "Office VPN");
    EXPECT_EQ(w.HeaderControl->model()->headerData(2, Qt::Horizontal).toString(), "tun0");
    EXPECT_TRUE(w.MsgMemo->toPlainText().endsWith("Connection terminated"));
    EXPECT_FALSE(w.FDialConnected);
    EXPECT_FALSE(w.FDialing);
    EXPECT_TRUE(w.BtnListMail->isVisible());
    EXPECT_FALSE(w.BtnStopp->isVisible());

    // A machine that is online through someone else: no dial and no hang-up.
    ExternOnline = true;
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    const auto pauses = clock.Pauses.size();
    w.BtnListMailClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_FALSE(w.FDialConnected);
    EXPECT_EQ(clock.Pauses.size(), pauses); // no hang-up pause
}

TEST_F(CheckCycle, HeadlessCheckPrintsRowsAndStatusOrFails) {
    PopAccount();
    LogIn(1);
    Header(1, "From: Ann <ann@example.com>\r\nSubject: Hi\r\nDate: Tue, 07 Nov 2023 10:20:30 +0100",
           "+OK 1 1500");
    server.Expect("QUIT").Say("+OK bye");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCheck(out, err), 0);
    // Mail found, and still no tune and no beep: nobody is listening.
    EXPECT_TRUE(tones.Steps.empty());
    EXPECT_TRUE(sounds.Beeps.empty());
    EXPECT_EQ(&TonePlayer(), &tones);
    EXPECT_EQ(&SystemSounds(), &sounds);
    const QString date = Local(QDateTime(QDate(2023, 11, 7), QTime(10, 20, 30)));
    QLocale grouped;
    grouped.setNumberOptions({});
    EXPECT_EQ(out.str(), "Hi\tAnn\t!!\t" + grouped.toString(1500).rightJustified(8).toStdString() +
                             "\t" + date.toStdString() + "\n1 eMail ready for collecting\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(dialogs.empty());

    // A wrong password: the status line says so and the exit status is 1.
    server.NextConnection();
    server.Say("+OK ready").RefuseLogin("bob", "secret").Expect("QUIT").Say("+OK");
    out.str("");
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_EQ(out.str(), "Error when calling list, see protocol\n");
    EXPECT_NE(err.str().find("Authentication failed"), std::string::npos);

    // No stored password: no prompt, an error.
    PopAccount("-1", "");
    err.str("");
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_NE(err.str().find("no stored password"), std::string::npos);
    EXPECT_EQ(server.Connections(), 2);
}

// The header view of a row, as the window shows it.
static QString HeaderView(TFormMain& w, int row) {
    QString shown;
    const auto answer = TFormMain::ExecModal;
    TFormMain::ExecModal = [&](QDialog& d) {
        if (auto* h = qobject_cast<TFormHelp*>(&d)) shown = h->Memo->toPlainText();
        return 0;
    };
    w.MailRows->Flush();
    w.ListViewRemoPOP->setCurrentIndex(w.MailRows->index(row, 0));
    w.ListViewRemoPOPDblClick();
    TFormMain::ExecModal = answer;
    return shown;
}

// Ordinary international mail: rows, header view and headless output read as sent.
TEST_F(CheckCycle, InternationalMailReadsRightInRowsHeaderViewAndCheckOutput) {
    const char* const subjects[] = {"Привет, мир — отчёт", "会議のお知らせ 🎉", "Zażółć gęślą jaźń",
                                    "Отчёт raw koi8-r"};
    const char* const senders[] = {"Jürgen Müller", "山田太郎", "Zoë", "Привет"};
    auto serve = [&] {
        LogIn(4);
        for (int n = 1; n <= 4; ++n) {
            std::ifstream in(std::string(PV_TEST_DATA_DIR) + "/app/international/0" +
                                 std::to_string(n) + ".eml",
                             std::ios::binary);
            const std::string mail{std::istreambuf_iterator<char>(in), {}};
            Header(n, mail.substr(0, mail.find("\r\n\r\n")), "+OK " + std::to_string(n) + " 100");
        }
        server.Expect("QUIT").Say("+OK bye");
    };
    PopAccount();
    serve();
    {
        TFormMain w;
        w.BtnListMailClick();
        ASSERT_EQ(w.MailRows->Count(), 4);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(w.MailRows->Text(i, 0).toStdString(), subjects[i]);
            EXPECT_EQ(w.MailRows->Text(i, 1).toStdString(), senders[i]);
        }
        const QString shown = HeaderView(w, 1);
        EXPECT_TRUE(shown.contains(QString::fromUtf8("From: 山田太郎 <yamada@example.jp>")))
            << shown.toStdString();
        EXPECT_TRUE(shown.contains(QString::fromUtf8("Subject: 会議のお知らせ 🎉")));
    }

    // --check writes UTF-8, or the charset the locale names with "?" for what it lacks.
    auto check = [&](const char* lang) {
        server.NextConnection();
        serve();
        setenv("LANG", lang, 1);
        std::ostringstream out, err;
        EXPECT_EQ(RunHeadlessCheck(out, err), 0) << err.str();
        unsetenv("LANG");
        std::string firstColumns;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);) {
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            firstColumns += line.substr(0, line.find('\t', tab + 1)) + "\n";
        }
        return firstColumns;
    };
    const char* const saved = std::getenv("LC_ALL");
    const std::string lcAll = saved ? saved : "";
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    EXPECT_EQ(check("C"), "Привет, мир — отчёт\tJürgen Müller\n"
                          "会議のお知らせ 🎉\t山田太郎\n"
                          "Zażółć gęślą jaźń\tZoë\n"
                          "Отчёт raw koi8-r\tПривет\n");
    EXPECT_EQ(check("ru_RU.KOI8-R"), "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2 ? "
                                     "\xCF\xD4\xDE\xA3\xD4\tJ?rgen M?ller\n"
                                     "??????? ?\t????\n"
                                     "Za???? g??l? ja??\tZo?\n"
                                     "\xEF\xD4\xDE\xA3\xD4 raw koi8-r\t\xF0\xD2\xC9\xD7\xC5\xD4\n");
    if (saved) setenv("LC_ALL", lcAll.c_str(), 1);

    // A subject that decodes to a tab and a line break still makes one line of five columns.
    server.NextConnection();
    LogIn(1);
    Header(1, "From: Ann <ann@example.com>\r\nSubject: =?utf-8?B?YQliCmM=?=", "+OK 1 100");
    server.Expect("QUIT").Say("+OK bye");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCheck(out, err), 0);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("a b c\tAnn\t", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
}

// Raw Big5 header bytes in a message whose text is Big5: the row, the header view and the
// headless output read them in Big5.
TEST_F(CheckCycle, RawHeadersInTheCharsetOfTheBodyReadRightInRowHeaderViewAndCheckOutput) {
    const std::string head = "From: \xA4\xFD\xA4p\xA9\xFA <wang@example.tw>\r\n"
                             "Subject: \xB4\xFA\xB8\xD5\xB6l\xA5\xF3\r\n"
                             "Content-Type: text/plain; charset=\"big5\"";
    PopAccount();
    LogIn(1);
    Header(1, head, "+OK 1 100");
    server.Expect("QUIT").Say("+OK bye");
    TFormMain w;
    w.BtnListMailClick();
    ASSERT_EQ(w.MailRows->Count(), 1);
    EXPECT_EQ(w.MailRows->Text(0, 0).toStdString(), "測試郵件");
    EXPECT_EQ(w.MailRows->Text(0, 1).toStdString(), "王小明");
    const QString shown = HeaderView(w, 0);
    EXPECT_TRUE(shown.startsWith(QString::fromUtf8("From: 王小明 <wang@example.tw>\n"
                                                   "Subject: 測試郵件\n")))
        << shown.toStdString();

    server.NextConnection();
    LogIn(1);
    Header(1, head, "+OK 1 100");
    server.Expect("QUIT").Say("+OK bye");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCheck(out, err), 0) << err.str();
    EXPECT_EQ(out.str().rfind("測試郵件\t王小明\t", 0), 0u) << out.str();
}

TEST_F(CheckCycle, DemoListsItsSampleMailbox) {
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    const auto demo = PrepareDemo();
    EXPECT_EQ(DemoFolder(), (home / "cache" / "postvigil-demo").string());
    unsetenv("XDG_CACHE_HOME");
    InitMainUnit();
    TFormMain w;
    EXPECT_EQ(CurSetName, "Demo");
    EXPECT_EQ(ClientRec.Password, "demo"); // stored scrambled, read back
    w.BtnListMailClick();
    ASSERT_EQ(w.MailRows->Count(), 12);
    std::set<QString> priorities, subjects;
    bool large = false;
    for (int i = 0; i < 12; ++i) {
        priorities.insert(w.MailRows->Text(i, 2));
        subjects.insert(w.MailRows->Text(i, 0));
        large = large || w.MailRows->Row(i).Size > 100000;
    }
    EXPECT_EQ(priorities, (std::set<QString>{"!", "!!", "!!!"}));
    EXPECT_TRUE(subjects.count(QString::fromUtf8("Grüße aus München")));
    EXPECT_TRUE(subjects.count(QString::fromUtf8("Olá, tudo bem?")));
    EXPECT_TRUE(large);
    EXPECT_EQ(w.LabelStatus->text(), "12 eMail ready for collecting");
    // The picture in docs/ comes from here: PV_DEMO_SCREENSHOT=docs/demo-check.png.
    if (const char* shot = std::getenv("PV_DEMO_SCREENSHOT")) {
        w.show();
        w.AppEventsIdle();
        EXPECT_TRUE(w.grab().save(shot));
    }
}

TEST(Scramble, PasswordsSurviveTheStoredForm) {
    for (std::string p : {std::string(), std::string("demo"), std::string("p\xe4ss w\xf6rd!"),
                          std::string(35, '\xff')})
        EXPECT_EQ(UnscramblePassword(ScramblePassword(p)), p);
    EXPECT_EQ(UnscramblePassword(ScramblePassword(std::string(40, 'x'))), std::string(35, 'x'));
}

TEST_F(CheckCycle, FailedDialWaitsForTheTimeoutThenReportsTheErrorOnce) {
    PopAccount("2");
    TFormMain w;
    ASSERT_EQ(w.DialUp->Entry(), "Broken line");
    // The wait's time-out, without waiting it out: it runs once the error is in.
    auto reported = w.DialUp->OnAsyncEvent;
    bool overrun = false;
    w.DialUp->OnAsyncEvent = [&](TDialUp* s, int32_t state, int32_t error, const std::string& t) {
        reported(s, state, error, t);
        overrun = overrun || ProgramLog.IndexOf("Timeout-runtime of: 5 seconds exceeded!") >= 0;
        if (error) QTimer::singleShot(0, w.TimerWait, [&] { w.TimerWait->stop(); });
    };
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    w.RunCheck(true, true, false);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - Error when inquiring -"));
    EXPECT_TRUE(overrun);
    server.NextConnection();
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    AutoConnect = false; // once: the next empty result is an empty post office again
    w.RunCheck(true, true, false);
    EXPECT_TRUE(w.LabelStatus->text().endsWith(":    - No new eMail -"));
}

TEST_F(CheckCycle, CancelDuringADialHangsUpAndSkipsTheCheck) {
    PopAccount("3");
    TFormMain w;
    ASSERT_EQ(w.DialUp->Entry(), "Slow line");
    auto dialing = w.DialUp->OnDialing;
    w.DialUp->OnDialing = [&](TDialUp* s) {
        dialing(s);
        QTimer::singleShot(0, &w, [&] { w.BtnStoppClick(); });
    };
    w.BtnListMailClick();
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_FALSE(w.FDialing);
    EXPECT_FALSE(w.FDialConnected);
    EXPECT_FALSE(w.TimerWait->isActive());
    EXPECT_TRUE(w.MsgMemo->toPlainText().contains("Connection terminated\nCancelled"));
    EXPECT_FALSE(w.Working());
}

TEST_F(CheckCycle, OnlineByHandThenTheCloseQueryHangsUp) {
    TScriptedPrompts prompts;
    const pvtest::TScopedSeam promptsSeam(SetPrompts, &prompts);
    PopAccount("0");
    TFormMain w;
    w.show(); // visibility is what the user sees
    w.BtnDialHangClick();
    EXPECT_TRUE(UserOnline);
    EXPECT_TRUE(w.FDialConnected);
    EXPECT_EQ(w.LabelStatus->text(), "Ready for checking!");
    EXPECT_EQ(sounds.Beeps.size(), 2u);
    EXPECT_EQ(clock.Pauses, std::vector<int>{600});
    EXPECT_TRUE(w.BtnListMail->isVisible());
    EXPECT_FALSE(w.BtnStopp->isVisible());
    // While the user keeps the line, a check does not hang up after itself.
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    w.BtnListMailClick();
    EXPECT_TRUE(w.FDialConnected);

    // Closing asks; Yes hangs up.
    w.OnLineDetect->Poll();
    prompts.QueueAnswer(mrYes);
    EXPECT_TRUE(w.close());
    ASSERT_GE(prompts.Shown.size(), 1u);
    EXPECT_EQ(prompts.Shown[0].Text, "Terminate active connection?");
    EXPECT_FALSE(w.FDialConnected);
    EXPECT_FALSE(UserOnline);

    // Without automatic dialling the button only says so.
    AutoConnect = false;
    TScriptedPrompts told;
    const pvtest::TScopedSeam toldSeam(SetPrompts, &told, &prompts);
    w.BtnDialHangClick();
    ASSERT_EQ(told.Shown.size(), 1u);
    EXPECT_EQ(told.Shown[0].Text, "Only active when set to \"Autoconnect\"");
}

TEST_F(CheckCycle, AnErrorInTheHeaderLoopStillHangsUpWhatWasDialled) {
    PopAccount("0");
    LogIn(2);
    Header(1, "Subject: first", "+OK 1 10");
    server.Expect("TOP 2 1").Say("-ERR no such message").Expect("QUIT").Say("+OK");
    TFormMain w;
    EXPECT_THROW(w.BtnListMailClick(), EmsServerError);
    EXPECT_EQ(w.MailRows->Count(), 1);
    // The list broke off: nothing is claimed ready for collecting.
    EXPECT_EQ(w.LabelStatus->text(), "Error when calling list, see protocol");
    EXPECT_FALSE(w.FDialConnected);
    EXPECT_TRUE(w.MsgMemo->toPlainText().endsWith("Connection terminated"));
    EXPECT_TRUE(w.FListDone);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(w.Working());
}

TEST_F(CheckCycle, ManualDialThatConnectsAfterTheWaitIsKept) {
    TScriptedPrompts prompts;
    const pvtest::TScopedSeam promptsSeam(SetPrompts, &prompts);
    PopAccount("0");
    TFormMain w;
    w.show();
    // The wait runs out before the provider's first report is handed over.
    auto dialing = w.DialUp->OnDialing;
    w.DialUp->OnDialing = [&](TDialUp* s) {
        dialing(s);
        QTimer::singleShot(0, w.TimerWait, [&] { w.TimerWait->stop(); });
    };
    w.BtnDialHangClick();
    ASSERT_FALSE(w.FDialConnected) << "the wait must end before the connection";
    EXPECT_FALSE(UserOnline);
    EXPECT_NE(w.LabelStatus->text(), "Ready for checking!");
    // The connection comes up later: the user's line is kept and the window says so.
    // (The online poller's timer wakes the loop at the latest every 250 ms.)
    for (int i = 0; i < 400 && !w.FDialConnected; ++i)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ASSERT_TRUE(w.FDialConnected);
    EXPECT_TRUE(UserOnline);
    EXPECT_NE(w.DialUp->DialHandle(), 0u);
    EXPECT_EQ(w.LabelStatus->text(), "Ready for checking!");
    EXPECT_EQ(sounds.Beeps.size(), 2u);
    w.OnLineDetect->Poll();
    EXPECT_EQ(w.BtnDialHang->text(), "ONLINE");
    EXPECT_TRUE(w.BtnListMail->isVisible());
    EXPECT_FALSE(w.MsgMemo->toPlainText().contains("Connection terminated"));
    prompts.QueueAnswer(mrYes);
    w.close();
}

TEST_F(CheckCycle, HostileStatCountAllocatesNothingAndClaimsNothingReady) {
    PopAccount();
    const long peakBefore = pvtest::PeakMegabytes();
    server.Say("+OK ready").ServeLogin("bob", "secret", "", "+OK 2147483647 0");
    server.Expect("UIDL").Say("-ERR unknown command");
    server.Expect("TOP 1 1").Say("-ERR no such message").Expect("QUIT").Say("+OK");
    TFormMain w;
    EXPECT_THROW(w.BtnListMailClick(), EmsServerError);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(w.MailRows->Count(), 0);
    EXPECT_EQ(w.LabelStatus->text(), "Error when calling list, see protocol");
    EXPECT_TRUE(w.FCheckFailed);
    // The client tracks at most a million messages; the check adds no more than that.
    EXPECT_LT(pvtest::PeakMegabytes() - peakBefore, 100 + pvtest::kAllocatorSlackMb);
}

TEST_F(CheckCycle, CollectFromAServerThatRefusesListWithoutNumber) {
    PopAccount();
    const std::string one = "Subject: one\r\n\r\nfirst\r\n", two = "Subject: two\r\n\r\nsecond\r\n";
    auto size = [](const std::string& mail) { return std::to_string(mail.size()); };
    LogIn(2, "+OK\r\n1 u1\r\n2 u2\r\n.\r\n");
    Header(1, "Subject: one", "+OK 1 " + size(one));
    Header(2, "Subject: two", "+OK 2 " + size(two));
    server.Expect("LIST").Say("-ERR unknown command");
    server.Expect("LIST 1").Say("+OK 1 " + size(one)).Expect("LIST 2").Say("+OK 2 " + size(two));
    server.Expect("RETR 1").Say("+OK").SayRaw(one + ".\r\n");
    server.Expect("RETR 2").Say("+OK").SayRaw(two + ".\r\n");
    server.Expect("QUIT").Say("+OK bye");
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCollect(out, err, tmCopy), 0) << err.str();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(err.str(), "");
    std::istringstream lines(out.str());
    int saved = 0;
    for (std::string line; std::getline(lines, line);) saved += line.ends_with(".EML");
    EXPECT_EQ(saved, 2) << out.str();

    // Refused with a number too: the collect fails and says why.
    server.NextConnection();
    LogIn(1, "+OK\r\n1 u3\r\n.\r\n");
    Header(1, "Subject: three", "+OK 1 40");
    server.Expect("LIST").Say("-ERR unknown command").Expect("LIST 1").Say("-ERR not for you");
    std::ostringstream out2, err2;
    EXPECT_EQ(RunHeadlessCollect(out2, err2, tmCopy), 1);
    EXPECT_NE(err2.str().find("-ERR not for you"), std::string::npos) << err2.str();
}

TEST_F(CheckCycle, NumbersOutOfRangeInAccountFileAndRegistryReadAsTheirDefaults) {
    Account("Dummy", "[ProgSet]\nIniDescript=Test box\nTimeout=999999999\nRetrvMode=9\n"
                     "[RASSet]\nRASService=-7\nMailMaxSize=-1\n[POPClient]\nServer=127.0.0.1\n"
                     "Security=none\nDefPort=99999\nUserName=bob\nPassword=secret\n");
    Registry(kPostvigilKey, "Interval", "-5");
    Registry(kPostvigilKey, "FollowAct", "42");
    TFormMain w;
    EXPECT_EQ(ClientRec.Timeout, 60);
    EXPECT_EQ(w.POPClient->TimeOut(), 60);
    EXPECT_EQ(w.TimerWait->interval(), 60000);
    EXPECT_EQ(ClientRec.DefPort, 110);
    EXPECT_EQ(ClientRec.RASService, 0);
    EXPECT_EQ(MailMaxSize, 100000);
    EXPECT_EQ(RetrvMode, tmCopy);
    EXPECT_EQ(ClientRec.Interval, 0);
    EXPECT_EQ(ClientRec.FollowAct, faOpenPostvigil);
    // The account editor reads the file by the same rules.
    const TAccountSettings s = ReadAccountSettings(AccountFileName("Dummy"));
    EXPECT_EQ(s.Timeout, 60);
    EXPECT_EQ(s.DefPort, 110);
    EXPECT_EQ(s.RASService, 0);
    EXPECT_EQ(s.MailMaxSize, 100000);
    // Times in milliseconds are computed in 64 bits and held to what a timer takes.
    EXPECT_EQ(TimeoutMs(999999999), INT_MAX);
    EXPECT_EQ(TimeoutMs(3600), 3600000);
}

TEST_F(CheckCycle, AnOAuthAccountAsksNoPasswordAndItsCheckAsksToSignIn) {
    TMemoryPasswordStore keyring;
    pvtest::TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};
    TScriptedPrompts prompts;
    pvtest::TScopedSeam<TPrompts*> promptsSeam{SetPrompts, &prompts};
    Account("Dummy", "[ProgSet]\nIniDescript=Cloud box\nTimeout=5\n[RASSet]\nRASService=-1\n"
                     "[POPClient]\nSecurity=tls\nServer=127.0.0.1\nDefPort=" +
                         std::to_string(server.Port()) +
                         "\nUserName=bob\n[Authentication]\nMethod=oauth2\n"
                         "AuthorizationUrl=https://id.example.org/authorize\n"
                         "TokenUrl=https://id.example.org/token\nClientId=c\n");
    TFormMain w;
    w.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialogs.empty()); // no password to ask for
    // Not signed in: the check asks first; declined, it connects nowhere and says why.
    w.RunCheck(true, true, false);
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_EQ(prompts.Shown[0].Caption, "Sign in");
    EXPECT_NE(prompts.Shown[0].Text.find("not signed in"), std::string::npos);
    EXPECT_NE(prompts.Shown[0].Text.find("\"Cloud box\""), std::string::npos);
    EXPECT_EQ(server.Received(), "");
    EXPECT_NE(ProgramLog.Text().find("postvigil --sign-in"), std::string::npos);
}
