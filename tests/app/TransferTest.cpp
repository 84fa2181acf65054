// Collecting: conversations of the transfer with a scripted server, and what it leaves on disk.
#include "CrLf.h"
#include "FakePop3Server.h"
#include "MainWindowFixture.h"
#include "TempHome.h"
#include "app/CheckMode.h"
#include "app/DemoMode.h"
#include "app/DemoServer.h"
#include "app/MailRows.h"
#include "base/Clock.h"
#include "mailbox/MailFiles.h"
#include "net/Mspop.h"
#include "net/Mssocket.h"
#include "output/QtPrintCanvas.h"
#include "platform/Ansi.h"
#include "platform/DurableFile.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Shell.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QLockFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <sys/mount.h>
#include <unistd.h>

#include "TransferFixture.h"

using namespace pvtest;

TEST_F(Transfer, GetCopyDeleteSavesTheServersTextAndListsTheFiles) {
    // A signed message and a line starting with a dot: the file holds the text as stored.
    const TMail signedMail = {"u1",
                              "Subject: signed\r\nContent-Type: multipart/signed; boundary=\"b\"; "
                              "protocol=\"application/pgp-signature\"\r\n\r\npreamble\r\n--b\r\n"
                              "Content-Type: text/plain\r\n\r\n.leading dot\r\n--b\r\n"
                              "Content-Type: application/pgp-signature\r\n\r\nSIG\r\n--b--\r\n"};
    const std::vector<TMail> box = {signedMail, Mail("u2", "two"), Mail("u3", "three")};
    Check(box);
    Session(box);
    Retr(1, box[0]);
    Retr(2, box[1]);
    // The deletions go once every file is on the disk.
    Dele(1);
    Dele(3);
    server.Expect("QUIT").Say("+OK");
    TFormMain w;
    w.BtnListMailClick();
    ASSERT_EQ(w.MailRows->Count(), 3);
    Mark(w, {tmGet, tmCopy, tmDelete});
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");

    const std::vector<std::string> listed = Listed();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(Slurp(listed[0]), box[0].Text);
    EXPECT_EQ(Slurp(listed[1]), box[1].Text);
    EXPECT_NE(listed[0], listed[1]);
    EXPECT_EQ(Slurp(Postoffice() / "TransList.DAT"), listed[0] + "\r\n" + listed[1] + "\r\n");
    EXPECT_EQ(w.StatusText(), "3 eMail(s) handled");
    EXPECT_EQ(w.LabelStatus->text(), "2 new eMail at Postoffice");
    EXPECT_EQ(w.MailRows->Count(), 0);
    EXPECT_EQ(w.Session->NewMailCount, 2);
    EXPECT_FALSE(w.Session->AllRetrieved); // the last message was not retrieved
    const std::string log = Slurp(home / "PostvigilLog.TXT");
    EXPECT_NE(log.find("------- POP3-Transfer protocol, begin -------\r\n"), std::string::npos);
    EXPECT_NE(log.find("POP3 connection terminated\r\n"), std::string::npos);
    // Only the mail files and the lists are left in the post office: no temporary files.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(Postoffice())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.ends_with(".EML") || name.ends_with(".DAT")) << name;
        ++files;
    }
    EXPECT_EQ(files, 4);
}

// A server that puts a CR before every LF of a message stored with CR LF sends CR CR LF:
// the row reads the whole header block and the file holds the message as stored. The
// answers come in pieces of several sizes, so a CR CR LF is split between reads too.
TEST_F(Transfer, CrCrLfFromTheServerIsOneLineEndInTheRowAndTheFile) {
    const std::string head = "From: Ann Example <ann@example.com>\r\nSubject: Doubled ends\r\n"
                             "Date: Tue, 07 Nov 2023 10:20:30 +0100\r\n\r\n";
    const std::string stored = head + "first\r\n.dot\r\nlast\r\n";
    auto doubled = [](const std::string& text) {
        std::string out;
        for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return out;
    };
    const TMail served = {"u1", doubled(stored)};
    // A lone CR in the body stays a line end of its own; the file gets CR LF there.
    const TMail lone = {"u2", doubled(head) + "a\rb\r\r\n"};
    auto sayInPieces = [&](const std::string& bytes, std::size_t piece) {
        for (std::size_t i = 0; i < bytes.size(); i += piece) server.SayRaw(bytes.substr(i, piece));
    };
    for (const std::size_t piece : {1u, 16u, 1024u, 4096u}) {
        SCOPED_TRACE(piece);
        if (piece > 1) server.NextConnection();
        LogIn(2);
        Ids({served, lone}, true);
        for (const int n : {1, 2}) {
            server.Expect("TOP " + std::to_string(n) + " 1").Say("+OK");
            sayInPieces(doubled(head) + ".\r\n", piece);
            server.Expect("LIST " + std::to_string(n)).Say("+OK " + std::to_string(n) + " 200");
        }
        server.Expect("QUIT").Say("+OK").NextConnection();
        Session({served, lone});
        server.Expect("RETR 1").Say("+OK");
        sayInPieces(Stuffed(served.Text) + ".\r\n", piece);
        server.Expect("RETR 2").Say("+OK");
        sayInPieces(lone.Text + ".\r\n", piece);
        server.Expect("QUIT").Say("+OK");

        TFormMain w;
        w.BtnListMailClick();
        ASSERT_EQ(w.MailRows->Count(), 2);
        EXPECT_EQ(w.MailRows->Text(0, 0), "Doubled ends");
        EXPECT_EQ(w.MailRows->Text(0, 1), "Ann Example");
        EXPECT_EQ(w.MailRows->Text(0, 4),
                  QLocale().toString(QDateTime(QDate(2023, 11, 7), QTime(10, 20, 30)),
                                     QLocale::ShortFormat));
        Mark(w, {tmCopy, tmCopy});
        w.BtnGetMailListClick();
        EXPECT_EQ(server.Failure(), "");
        const std::vector<std::string> listed = Listed();
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(Slurp(listed[0]), stored);
        EXPECT_EQ(Slurp(listed[1]), head + "a\r\nb\r\n");
        for (const auto& file : listed) fs::remove(file);
        fs::remove_all(Postoffice());
        fs::create_directories(Postoffice());
    }
}

// A server that writes each answer on its own and holds one written right after another until
// the client acknowledges the first (Nagle's algorithm against a delayed ACK). A DELE sent with
// the next RETR would wait out that hold once per message; the deletions going out together
// after the last save wait once.
TEST_F(Transfer, GetFromAServerThatHoldsAnswersWaitsOnceNotPerMessage) {
    server.HoldAnswersUntilAcknowledged(20);
    std::vector<TMail> box;
    for (int n = 1; n <= 8; ++n) box.push_back(Mail("u" + std::to_string(n), std::to_string(n)));
    Check(box);
    Session(box, true, "UIDL\r\nPIPELINING\r\n");
    for (std::size_t i = 0; i < box.size(); ++i) Retr(int(i + 1), box[i]);
    for (std::size_t i = 0; i < box.size(); ++i) Dele(int(i + 1));
    server.Expect("QUIT").Say("+OK");
    TFormMain w;
    w.BtnListMailClick();
    for (int i = 0; i < w.MailRows->Count(); ++i) w.MailRows->SetMode(i, tmGet);
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(Listed().size(), box.size());
    // At most once per batch of commands sent together (the log-in, the retrievals, the
    // deletions), never once per message.
    EXPECT_LE(server.Stalls(), 3);
}

TEST_F(Transfer, AllNeutralTouchesNothingAndKeepsAnEarlierList) {
    const std::vector<TMail> box = {Mail("u1", "one")};
    // A list left by an earlier run that Postkeeper has not taken over.
    WriteTransList(PostofficeDir() + "/TransList.DAT", TStringList({"/old/E1.EML"}));
    Check(box);
    Session(box);
    server.Expect("QUIT").Say("+OK");
    TFormMain w;
    w.BtnListMailClick();
    Mark(w, {tmNeutral});
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(Listed(), std::vector<std::string>{"/old/E1.EML"});
    EXPECT_EQ(w.LabelStatus->text(), "0 new eMail at Postoffice");
    EXPECT_EQ(w.StatusText(), "1 eMail(s) handled");
}

TEST_F(Transfer, MailboxChangedSinceTheCheckDeletesNothingWrong) {
    const TMail a = Mail("ua", "a"), b = Mail("ub", "b"), c = Mail("uc", "c");
    const TMail d = Mail("ud", "arrived later");
    Check({a, b, c});
    // Another client deleted a; d arrived. b is now 1, c is 2.
    Session({b, c, d});
    Retr(2, c);
    Dele(1);
    server.Expect("QUIT").Say("+OK");
    TFormMain w;
    w.BtnListMailClick();
    Mark(w, {tmGet, tmDelete, tmCopy});
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");
    ASSERT_EQ(Listed().size(), 1u);
    EXPECT_EQ(Slurp(Listed()[0]), c.Text);
    ASSERT_EQ(w.Session->TransferNotes.size(), 1u);
    EXPECT_EQ(w.Session->TransferNotes[0],
              "eMail 1 is no longer on the server as listed; left alone");
    EXPECT_NE(Slurp(home / "PostvigilLog.TXT").find(w.Session->TransferNotes[0]),
              std::string::npos);
}

TEST_F(Transfer, WithoutUidlRowsAreMatchedByNumberAndSize) {
    const TMail a = Mail("", "a"), b = Mail("", "bb"), c = Mail("", "ccc");
    Check({a, b, c}, false);
    // a was deleted elsewhere: every number now holds a message of another size.
    Session({b, c}, false);
    server.Expect("QUIT").Say("+OK");
    TFormMain w;
    w.BtnListMailClick();
    Mark(w, {tmGet, tmGet, tmDelete});
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(w.Session->TransferNotes.size(), 3u); // each row says why it was left alone
}

TEST_F(Transfer, ALostConnectionCommitsNothingAndTheNextCollectSavesNothingTwice) {
    const TMail a = Mail("ua", "a"), b = Mail("ub", "b");
    GetFirstOfTwo(a, b);
    server.Expect("RETR 2").Say("+OK").SayRaw("Subject: b\r\n").Close();
    // The next run: a is still there (no QUIT committed its DELE).
    Check({a, b});
    Session({a, b});
    Retr(2, b);
    Dele(1); // saved before: deleted, not retrieved again
    Dele(2);
    server.Expect("QUIT").Say("+OK");

    TFormMain w;
    w.BtnListMailClick();
    Mark(w, {tmGet, tmGet});
    EXPECT_THROW(w.BtnGetMailListClick(), EmsConnectionClosedError);
    const std::string got = server.Received();
    EXPECT_EQ(got.find("QUIT", got.find("RETR 2")), std::string::npos);
    ASSERT_EQ(Listed().size(), 1u);
    // The DELE sent went with the session: the user is told, as --collect tells on standard
    // error.
    EXPECT_EQ(w.StatusText(), "1 eMail(s) handled, nothing deleted on the server");
    ASSERT_EQ(w.Session->TransferNotes.size(), 1u);
    EXPECT_EQ(w.Session->TransferNotes[0],
              "Nothing was deleted on the server: the transfer did not "
              "finish, and the 1 eMail(s) marked for deletion stay there "
              "until the next collect");
    EXPECT_EQ(w.MsgLabel->text().toStdString(), w.Session->TransferNotes[0]);
    EXPECT_FALSE(w.Working());

    w.BtnListMailClick();
    Mark(w, {tmGet, tmGet});
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");
    const std::vector<std::string> listed = Listed();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(Slurp(listed[0]), a.Text);
    EXPECT_EQ(Slurp(listed[1]), b.Text);
    // Committed: nothing is remembered any more.
    TSavedIds record(TSavedIds::FileFor(PostofficeDir(), server.HostAndPort(), "bob"),
                     server.HostAndPort(), "bob");
    record.Load();
    EXPECT_TRUE(record.Entries().empty());
}

TEST_F(Transfer, LargeMessagesAreConfirmedWithTheSubjectAsItIs) {
    const TMail big = Mail("u1", "100% sure");
    EXPECT_EQ(DeclineLarge(big).size(), 1u);
    EXPECT_EQ(server.Failure(), "");
    ASSERT_EQ(prompts.Shown.size(), 1u);
    const std::string size = QToAnsi(QLocale().toString(double(big.Text.size()), 'f', 2));
    EXPECT_EQ(prompts.Shown[0].Text, "Download eMail \"100% sure\"\rSender : Ann\rSubject: 100% "
                                     "sure\rhaving size of " +
                                         size + " bytes?");
    EXPECT_TRUE(Listed().empty());
}

TEST_F(Transfer, SizeConfirmationShowsInternationalTextInUnicode) {
    DeclineLarge(Mail("u1", "=?koi8-r?B?8NLJ18XU?="));
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_TRUE(prompts.Shown[0].Utf8);
    EXPECT_EQ(prompts.Shown[0].Text.rfind(
                  "Download eMail \"Привет\"\rSender : Ann\rSubject: Привет\r", 0),
              0u)
        << prompts.Shown[0].Text;
}

TEST_F(Transfer, SavesInOneSecondGetTheirOwnNamesAndNoFileIsReplaced) {
    const TMail a = Mail("ua", "a"), b = Mail("ub", "b");
    Check({a, b});
    Session({a, b});
    Retr(1, a);
    Retr(2, b);
    server.Expect("QUIT").Say("+OK");
    TFormMain w;
    w.BtnListMailClick();
    Mark(w, {tmCopy, tmCopy});
    // A file of someone else's under the first name of this second; the clock stands still.
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(clock.WallMs());
    std::ofstream(Postoffice() / MailFileName(now)) << "keep me";
    w.BtnGetMailListClick();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(Slurp(Postoffice() / MailFileName(now)), "keep me");
    ASSERT_EQ(Listed().size(), 2u);
    EXPECT_EQ(fs::path(Listed()[0]).filename(), MailFileName(now.addSecs(2)));
    EXPECT_EQ(fs::path(Listed()[1]).filename(), MailFileName(now.addSecs(4)));
    // No waiting for the clock to move on: only the pauses after each session.
    EXPECT_EQ(clock.Pauses, (std::vector<int>{2000, 2000}));
}

TEST_F(Transfer, ClosingTheWindowMidTransferCancelsThenCloses) {
    const TMail a = Mail("ua", "a"), b = Mail("ub", "b");
    GetFirstOfTwo(a, b);
    server.Expect("RETR 2").Pause();
    TFormMain w;
    w.show();
    w.BtnListMailClick();
    Mark(w, {tmGet, tmGet});
    bool closedDuring = true;
    QObject::connect(w.MsgMemo, &QPlainTextEdit::textChanged, &w, [&] {
        if (!w.MsgMemo->toPlainText().contains("eMail 1 saved")) return;
        QTimer::singleShot(0, &w, [&] {
            w.close();
            closedDuring = !w.isVisible();
        });
    });
    EXPECT_THROW(w.BtnGetMailListClick(), EmsCanceledError);
    server.Resume();
    EXPECT_FALSE(closedDuring); // the window stayed until the closing steps had run
    EXPECT_EQ(Listed().size(), 1u);
    EXPECT_EQ(server.Received().find("QUIT", server.Received().find("RETR 1")), std::string::npos);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.isVisible());
}

// --- mail files --------------------------------------------------------------------------

TEST(MailFiles, NamesFromTheDosDateTime) {
    EXPECT_EQ(MailFileName(QDateTime(QDate(2001, 3, 15), QTime(14, 30, 20))), "E711947210.EML");
    EXPECT_EQ(MailFileName(QDateTime(QDate(1979, 12, 31), QTime(23, 59, 59))), "E00000000.EML");
    // From 2044 the number no longer fits a signed 32-bit value and turns negative.
    EXPECT_EQ(MailFileName(QDateTime(QDate(2044, 1, 1), QTime(0, 0, 0))), "E-2145320960.EML");
}

TEST(MailFiles, LineEndsBecomeCrLfAndNothingElseChanges) {
    std::string text = "a\r\nb\nc\rd\r\r\ne\r\r\r\nf\r\rg\r\r";
    pvtest::MakeCrLf(text);
    EXPECT_EQ(text, "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\n\r\ng\r\n\r\n");
    std::string clean = "x\r\n\r\ny";
    pvtest::MakeCrLf(clean);
    EXPECT_EQ(clean, "x\r\n\r\ny");
}

TEST(MailFiles, SavedIdsSurviveAReadPerAccountAndBySize) {
    char tmpl[] = "/tmp/pv-ids-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    const std::string file = TSavedIds::FileFor(dir.string(), "pop.example.org:110", "ann");
    TSavedIds ids(file, "pop.example.org:110", "ann");
    ids.Set("u1", {TSavedIds::skGet, 120, 124, "/p/E1.EML"});
    ids.Set("u2", {TSavedIds::skCopy, 300, 310, "/p/E2.EML"});
    ids.Confirm("u2");
    ids.Save();
    TSavedIds back(file, "pop.example.org:110", "ann");
    back.Load();
    ASSERT_NE(back.Find("u1", 120), nullptr);
    EXPECT_FALSE(back.Find("u1", 120)->Confirmed);
    EXPECT_EQ(back.Find("u1", 120)->Kind, TSavedIds::skGet);
    EXPECT_EQ(back.Find("u1", 120)->FileSize, 124);
    EXPECT_TRUE(back.Find("u2", 300)->Confirmed);
    EXPECT_EQ(back.Find("u2", 300)->Path, "/p/E2.EML");
    // The same id with another size is another message.
    EXPECT_EQ(back.Find("u2", 301), nullptr);
    // Another user, or the same user on another port, has a record of its own; a file of
    // another account under this one's name counts as none.
    for (const auto& [server, user] :
         {std::pair{"pop.example.org:110", "bob"}, std::pair{"pop.example.org:995", "ann"}}) {
        EXPECT_NE(TSavedIds::FileFor(dir.string(), server, user), file);
        TSavedIds other(file, server, user);
        other.Load();
        EXPECT_TRUE(other.Entries().empty());
    }
    fs::remove_all(dir);
}

TEST(MailFiles, ANewFileNeverReplacesOneAndFailuresSayWhy) {
    char tmpl[] = "/tmp/pv-durable-XXXXXX";
    const fs::path dir = mkdtemp(tmpl);
    std::ofstream(dir / "a") << "old";
    std::vector<std::string> recorded;
    const std::string path = CreateFileDurably(
        dir.string(), [](int step) { return std::string(1, char('a' + step)); }, "new", 5,
        [&](const std::string& p) { recorded.push_back(p); });
    EXPECT_EQ(path, (dir / "b").string());
    EXPECT_EQ(recorded, std::vector<std::string>{path});
    EXPECT_EQ(ReadWholeFile((dir / "a").string()), "old");
    EXPECT_EQ(ReadWholeFile(path), "new");
    EXPECT_THROW(CreateFileDurably(
                     dir.string(), [](int) { return std::string("a"); }, "x", 3),
                 EInOutError);
    try {
        WriteFileDurably((dir / "missing" / "f").string(), "x");
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    fs::remove_all(dir);
}

// --- failures, other programs, Open and Print ---------------------------------------------

TEST_F(Transfer, AFullDiskStopsTheTransferAndDeletesNothingUnsaved) {
    if (geteuid() != 0) GTEST_SKIP() << "a small file system for the post office needs root";
    const std::string office = PostofficeDir();
    if (mount("tmpfs", office.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small file system: " << std::strerror(errno);
    struct TUnmount {
        std::string path;
        ~TUnmount() { umount(path.c_str()); }
    } unmount{office};
    const TMail small = Mail("u1", "small"), big = Mail("u2", "big", std::string(40000, 'x'));
    GetFirstOfTwo(small, big);
    Retr(2, big);
    // No DELE and no QUIT: the server keeps both messages.
    TFormMain w;
    w.BtnListMailClick();
    Mark(w, {tmGet, tmGet});
    try {
        w.BtnGetMailListClick();
        ADD_FAILURE() << "a full disk went unnoticed";
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOSPC)), std::string::npos) << e.what();
    }
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Received().find("DELE"), std::string::npos);
    EXPECT_EQ(server.Received().find("QUIT", server.Received().find("RETR 1")), std::string::npos);
    ASSERT_EQ(Listed().size(), 1u);
    EXPECT_EQ(Slurp(Listed()[0]), small.Text);
    EXPECT_FALSE(w.Working());
}

TEST_F(Transfer, ACollectWhileAnotherRunHoldsTheAccountRefusesClearly) {
    QLockFile other(QString::fromStdString(ProgDir() + ".dummy.lock"));
    ASSERT_TRUE(other.tryLock(0));
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCollect(out, err, tmCopy), 1);
    EXPECT_EQ(err.str(), "Another Postvigil is checking or collecting this account; try again "
                         "when it has finished\n");
    EXPECT_EQ(server.Connections(), 0);
    other.unlock();
    // Free again: the next run goes ahead.
    Check({});
    std::ostringstream out2, err2;
    EXPECT_EQ(RunHeadlessCollect(out2, err2, tmCopy), 0) << err2.str();
}

TEST_F(Transfer, PostkeeperIsStartedWithTheListOrReportedMissing) {
    TRecordingShell shell;
    const pvtest::TScopedSeam shellSeam(SetShell, &shell);
    // A desktop without a mail program of its own.
    const pvtest::TScopedEnv data("XDG_DATA_HOME", (home / "data").string());
    const pvtest::TScopedEnv dataDirs("XDG_DATA_DIRS", (home / "share").string());
    const pvtest::TScopedEnv configDirs("XDG_CONFIG_DIRS", (home / "etc").string());
    TFormMain w;
    // A list Postkeeper has not taken over: no check, straight to Postkeeper.
    WriteTransList(PostofficeDir() + "/TransList.DAT", TStringList({"/x/E1.EML"}));
    w.BtnPostkeeperClick();
    EXPECT_EQ(server.Connections(), 0);
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_EQ(prompts.Shown[0].Text, "Tessmar Postkeeper not available or could not be opened!");
    std::ofstream(home / "postkeeper") << "#!/bin/sh\n";
    w.BtnPostkeeperClick();
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].Target, (home / "postkeeper").string());
    EXPECT_EQ(shell.Calls[0].Arguments, (std::vector<std::string>{"NEW", "TRANSLIST"}));
    EXPECT_EQ(shell.Calls[0].WorkingDir, PostofficeDir());

    // Mail delivered elsewhere is read in the desktop's mail program (the handler of mailto
    // links), started without a target; a configured command line wins over it.
    fs::create_directories(home / "data/applications");
    std::ofstream(home / "data/applications/reader.desktop")
        << "[Desktop Entry]\nType=Application\nName=Reader\nExec=/bin/true %u\n"
           "MimeType=x-scheme-handler/mailto;\n";
    std::ofstream(home / "config/mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/mailto=reader.desktop\n";
    ClientRec.Deliver = "maildir:~/Mail";
    w.BtnPostkeeperClick();
    ASSERT_EQ(shell.Calls.size(), 2u);
    EXPECT_EQ(shell.Calls[1].Target, "/bin/true");
    EXPECT_TRUE(shell.Calls[1].Arguments.empty());
    MailProgram = "mutt -f \"~/Mail box\"";
    w.BtnPostkeeperClick();
    ASSERT_EQ(shell.Calls.size(), 3u);
    EXPECT_EQ(shell.Calls[2].Target, "mutt");
    EXPECT_EQ(shell.Calls[2].Arguments, (std::vector<std::string>{"-f", "~/Mail box"}));
    EXPECT_EQ(prompts.Shown.size(), 1u);
}

namespace {
// A PDF printer whose print dialog is answered with OK.
struct TPdfCanvas : TQtPrintCanvas {
    bool ChoosePrinter() override { return true; }
};
} // namespace

TEST_F(Transfer, OpenAndPrintASavedMailFile) {
    const std::string file = PostofficeDir() + "/E1.EML";
    std::ofstream(file, std::ios::binary) << Mail("", "printed").Text;
    TRecordingShell shell;
    const pvtest::TScopedSeam shellSeam(SetShell, &shell);
    TPdfCanvas canvas;
    const std::string pdf = (home / "out.pdf").string();
    canvas.SetPdfFile(pdf);
    const pvtest::TScopedValue printCanvas(TFormMain::PrintCanvas, &canvas);
    std::string startFolder;
    const pvtest::TScopedValue chooseMailFile(TFormMain::ChooseMailFile,
                                              [&](QWidget*, const std::string& folder) {
                                                  startFolder = folder;
                                                  return file;
                                              });
    TFormMain w;
    w.BtnOpenMail->click(); // no Postkeeper: the desktop opens the file
    EXPECT_EQ(startFolder, PostofficeDir());
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].Target, file);
    std::ofstream(home / "postkeeper") << "#!/bin/sh\n";
    w.BtnOpenMail->click();
    ASSERT_EQ(shell.Calls.size(), 2u);
    EXPECT_EQ(shell.Calls[1].Arguments, std::vector<std::string>{file});

    w.BtnPrintMail->click();
    EXPECT_GT(fs::file_size(pdf), 1000u);
    EXPECT_TRUE(prompts.Shown.empty());
    EXPECT_EQ(w.MailMessage.Subject(), ""); // cleared after printing

    // A message without a body asks first; No prints nothing.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "Subject: empty\r\n\r\n";
    fs::remove(pdf);
    w.BtnPrintMail->click();
    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_EQ(prompts.Shown[0].Text, "Print eMail having no content?");
    EXPECT_FALSE(fs::exists(pdf));
}

TEST_F(Transfer, DemoMailboxIsCollectedInTheWindow) {
    setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
    const auto demo = PrepareDemo();
    unsetenv("XDG_CACHE_HOME");
    InitMainUnit();
    TFormMain w;
    w.BtnListMailClick();
    ASSERT_EQ(w.MailRows->Count(), 12);
    for (int i = 0; i < 12; ++i) w.MailRows->SetMode(i, tmCopy);
    w.BtnGetMailListClick(); // the large one is declined
    EXPECT_EQ(w.StatusText(), "12 eMail(s) handled");
    EXPECT_EQ(w.LabelStatus->text(), "11 new eMail at Postoffice");
    EXPECT_EQ(Listed().size(), 11u);
    // The picture in docs/ comes from here: PV_DEMO_COLLECT_SCREENSHOT=docs/demo-collect.png.
    if (const char* shot = std::getenv("PV_DEMO_COLLECT_SCREENSHOT")) {
        w.show();
        w.AppEventsIdle();
        EXPECT_TRUE(w.grab().save(shot));
    }
}
