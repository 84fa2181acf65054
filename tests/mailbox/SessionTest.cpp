// The mailbox session on its own: what it lists, saves, deletes, tells and asks, with no
// window and no screen library in the process.
#include "FakePop3Server.h"
#include "PeakMemory.h"
#include "ScopedSeam.h"
#include "TempHome.h"
#include "base/Clock.h"
#include "mailbox/MailFiles.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "platform/DurableFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using pvtest::TFakePop3Server;

namespace {
struct TRecordedEvents : TMailboxEvents {
    std::vector<std::string> statuses, protocol, asked;
    int rowsAdded = 0;
    bool confirm = false;
    std::function<void()> onAsk;
    void Status(const std::string& text) override { statuses.push_back(text); }
    void Protocol(const std::string& line) override { protocol.push_back(line); }
    void RowsAdded(int) override { ++rowsAdded; }
    bool ConfirmSize(const TMailRow& row) override {
        if (onAsk) onAsk();
        asked.push_back(row.Subject);
        return confirm;
    }
};

struct Session : ::testing::Test {
    pvtest::TTempHome home{"pv-session"};
    TFakePop3Server server;
    TManualClock clock;
    pvtest::TScopedSeam<TClock*> clockSeam{SetClock, &clock};
    TClientRec account;
    TRecordedEvents events;

    void SetUp() override {
        InitMainUnit();
        account.Server = "127.0.0.1";
        account.DefPort = server.Port();
        account.UserName = "bob";
        account.Password = "secret";
        account.Security = kSecurityNone;
        account.Timeout = 5;
    }
    // Two messages listed over the exchange of a server without CAPA or UIDL.
    void ListTwo(const std::string& secondSize) {
        server.Say("+OK ready").ServeLogin("bob", "secret", "", "+OK 2 9000");
        server.Expect("UIDL").Say("-ERR unknown command");
        server.Expect("TOP 1 1").Say("+OK").SayRaw("From: Ann <ann@example.org>\r\n"
                                                   "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\n.\r\n");
        server.Expect("LIST 1").Say("+OK 1 40");
        server.Expect("TOP 2 1").Say("+OK").SayRaw(
            "From: bob@example.org\r\nSubject: Big\r\n.\r\n");
        server.Expect("LIST 2").Say("+OK 2 " + secondSize);
    }
};
} // namespace

TEST_F(Session, ChecksAndCollectsWithoutAScreenAndAsksThroughItsEvents) {
    TMailboxSession session(events, account);
    session.SetAccountName("Box");
    session.Apply();
    ListTwo("500000");
    const TCheckResult check = session.Check(true);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(check.LoggedIn);
    EXPECT_EQ(check.Count, 2);
    ASSERT_EQ(session.Rows().size(), 2u);
    EXPECT_EQ(events.rowsAdded, 2);
    EXPECT_EQ(session.Rows()[0].Subject, "Grüße");
    EXPECT_EQ(session.Rows()[0].Sender, "Ann");
    EXPECT_EQ(RowText(session.Rows()[1], colSize), " 500,000");
    EXPECT_EQ(events.statuses.back(), "2 eMail ready for collecting");
    EXPECT_EQ(events.protocol.front(), "Connect to: 127.0.0.1");

    // Get both: the one above the size to confirm is asked about, declined and left alone;
    // the other is saved, then deleted.
    for (TMailRow& row : session.Rows()) row.Mode = tmGet;
    server.Expect("LIST").Say("+OK").SayRaw("1 40\r\n2 500000\r\n.\r\n");
    server.Expect("RETR 1").Say("+OK").SayRaw("From: Ann <ann@example.org>\r\n\r\nHi\r\n.\r\n");
    server.Expect("DELE 1").Say("+OK").Expect("QUIT").Say("+OK bye");
    session.Collect(false);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(events.asked, std::vector<std::string>{"Big"});
    EXPECT_EQ(
        session.TransferNotes,
        std::vector<std::string>{"eMail 2 was not collected: larger than the size to confirm"});
    EXPECT_EQ(session.SkippedForSize, 1);
    ASSERT_EQ(session.SavedFiles.size(), 1u);
    EXPECT_EQ(fs::file_size(session.SavedFiles[0]), 35u);
    EXPECT_EQ(session.NewMailCount, 1);
    EXPECT_TRUE(session.Rows().empty());
    EXPECT_EQ(events.statuses.back(), "1 new eMail at Postoffice");
}

TEST_F(Session, AFailedLogInComesBackAsItsReasonAndListsNothing) {
    TMailboxSession session(events, account);
    session.Apply();
    server.Say("+OK ready").RefuseLogin("bob", "secret");
    server.Expect("QUIT").Say("+OK bye");
    const TCheckResult check = session.Check(false);
    EXPECT_FALSE(check.LoggedIn);
    EXPECT_EQ(check.Error, "-ERR [AUTH] Authentication failed.");
    EXPECT_TRUE(session.Rows().empty());
    EXPECT_EQ(events.statuses.back(), "Error when calling list, see protocol");
    EXPECT_NE(std::find(events.protocol.begin(), events.protocol.end(), check.Error),
              events.protocol.end());
}

// On a pipelining server the size question comes before the first retrieval, the
// retrievals go out together, and a large message goes to its file without being held.
TEST_F(Session, QuestionsFirstThenRetrievalsAheadAndALargeMessageNeverHeldWhole) {
    const std::string head = "From: a@example.org\r\nSubject: s\r\n\r\n";
    const std::string line = std::string(78, 'x') + "\r\n";
    const int64_t lines = 40 * 1024 * 1024 / int64_t(line.size());
    const int64_t big = int64_t(head.size()) + lines * int64_t(line.size());
    TMailboxSession session(events, account);
    session.Apply();
    server.Say("+OK ready").ServeLogin("bob", "secret", "UIDL\r\nPIPELINING\r\n", "+OK 3 9000");
    server.Expect("UIDL").SayRaw("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
    server.Expect("LIST").SayRaw("+OK\r\n1 40\r\n2 " + std::to_string(big) + "\r\n3 40\r\n.\r\n");
    for (int n = 1; n <= 3; ++n)
        server.Expect("TOP " + std::to_string(n) + " 1").Say("+OK").SayRaw(head + ".\r\n");
    session.Check(true);
    ASSERT_EQ(session.Rows().size(), 3u);
    for (TMailRow& row : session.Rows()) row.Mode = tmCopy;
    MailMaxSize = 1000;
    events.confirm = true;
    std::string receivedWhenAsked;
    events.onAsk = [&] { receivedWhenAsked = server.Received(); };
    // The answers come only once all three requests are there.
    server.Expect("RETR 1").Expect("RETR 2").Expect("RETR 3");
    for (int n = 1; n <= 3; ++n) {
        server.Say("+OK").SayRaw(head);
        if (n == 2) server.SayRepeated(line, lines);
        server.SayRaw(n == 2 ? ".\r\n" : "x\r\n.\r\n");
    }
    server.Expect("QUIT").Say("+OK bye");
    const long before = pvtest::PeakMegabytes();
    session.Collect(false);
    const long grown = pvtest::PeakMegabytes() - before;
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(events.asked, std::vector<std::string>{"s"});
    EXPECT_EQ(receivedWhenAsked.find("RETR"), std::string::npos);
    ASSERT_EQ(session.SavedFiles.size(), 3u);
    EXPECT_EQ(int64_t(fs::file_size(session.SavedFiles[1])), big);
    EXPECT_LT(grown, 16 + pvtest::kAllocatorSlackMb);
}

// Delivered into a Maildir: a Copy delivers each message once however often it runs, a Get
// deletes only what was delivered; a program that defers leaves the message on the server.
TEST_F(Session, DeliveredOnceIntoAMaildirAndADeferredMessageStaysOnTheServer) {
    const std::string maildir = (home.Path() / "Mail").string();
    account.Deliver = "maildir:" + maildir;
    const std::string mail = "From: Ann <ann@example.org>\r\nSubject: Hi\r\n\r\nHello\r\n";
    // The first check reads the header block; later ones find it in the header cache.
    const auto session = [&](const std::string& mode, bool first) {
        server.Say("+OK ready").ServeLogin("bob", "secret", "UIDL\r\n", "+OK 1 40");
        server.Expect("UIDL").SayRaw("+OK\r\n1 u1\r\n.\r\n");
        server.Expect("LIST").SayRaw("+OK\r\n1 " + std::to_string(mail.size()) + "\r\n.\r\n");
        if (first) {
            server.Expect("TOP 1 1").Say("+OK").SayRaw(mail.substr(0, mail.find("\r\n\r\n") + 4) +
                                                       ".\r\n");
            server.Expect("RETR 1").Say("+OK").SayRaw(mail + ".\r\n");
        }
        if (mode == "get") server.Expect("DELE 1").Say("+OK");
        server.Expect("QUIT").Say("+OK bye").NextConnection();
    };
    const auto collect = [&](int mode) {
        TMailboxSession s(events, account);
        s.Apply();
        s.Check(true);
        for (TMailRow& row : s.Rows()) row.Mode = mode;
        s.Collect(false);
        return s.TransferNotes;
    };
    session("copy", true);
    EXPECT_TRUE(collect(tmCopy).empty());
    session("copy", false);
    EXPECT_TRUE(collect(tmCopy).empty());
    session("get", false);
    EXPECT_TRUE(collect(tmGet).empty());
    std::vector<fs::path> delivered;
    for (const auto& entry : fs::directory_iterator(maildir + "/new")) delivered.push_back(entry);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(fs::file_size(delivered[0]), mail.size() - 4); // line ends LF

    // Deferred by the program (exit 75): noted, not deleted, nothing recorded.
    account.Deliver = "mda:sh -c \"cat >/dev/null; exit 75\"";
    server.Say("+OK ready").ServeLogin("bob", "secret", "UIDL\r\n", "+OK 1 40");
    server.Expect("UIDL").SayRaw("+OK\r\n1 u2\r\n.\r\n");
    server.Expect("LIST").SayRaw("+OK\r\n1 " + std::to_string(mail.size()) + "\r\n.\r\n");
    server.Expect("TOP 1 1").Say("+OK").SayRaw(mail.substr(0, mail.find("\r\n\r\n") + 4) + ".\r\n");
    server.Expect("RETR 1").Say("+OK").SayRaw(mail + ".\r\n");
    server.Expect("QUIT").Say("+OK bye");
    const std::vector<std::string> notes = collect(tmGet);
    EXPECT_EQ(server.Failure(), "");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].rfind("eMail 1 was not delivered and stays on the server: ", 0), 0u)
        << notes[0];
}

// The hand-over list grows a line per saved file; a line a crash cut short is not read back
// as a file to hand over.
TEST(HandOverList, ALineACrashCutShortIsNotReadBack) {
    const pvtest::TTempHome home("pv-translist");
    const std::string path = (home.Path() / "TransList.DAT").string();
    WriteTransList(path, TStringList({"/m/E1.EML"}), false);
    AppendToFile(path, "/m/E2.EML\r\n", false);
    AppendToFile(path, "/m/E3.E", false);
    TStringList list;
    ReadTransList(path, list);
    EXPECT_EQ(list, TStringList({"/m/E1.EML", "/m/E2.EML"}));
}
