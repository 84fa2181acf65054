#include "FakePop3Server.h"
#include "NetFixture.h"
#include "message/msmsg.h"
#include "net/Mspop.h"

#include <string>
#include <vector>

using pvtest::TFakePop3Server;

namespace {
class PipelineTest : public TNetTest {
protected:
    void SetUp() override {
        client.SetTimeOut(10);
        client.SetHost(server.HostAndPort());
        client.SetUserName("bob");
        client.SetPassword("secret");
        client.SetMailMessage(&message);
        client.SetLogFileName("protocol");
    }
    // A log-in on a server whose CAPA answer lists capabilities, with count messages.
    void LogIn(const std::string& capabilities, int count) {
        server.Say("+OK POP3 ready");
        server.ServeLogin("bob", "secret", capabilities, "+OK " + std::to_string(count) + " 9000");
        client.Login();
        login = server.Received().size();
    }
    static std::string Answer(int n) {
        return "+OK\r\nSubject: number " + std::to_string(n) + "\r\n\r\n.\r\n";
    }
    std::string Subjects(const std::vector<int>& indexes) {
        std::string subjects;
        for (int i : indexes) {
            client.SetCurrentMessage(i);
            client.RetrieveHeaders();
            subjects += message.Subject() + ";";
        }
        return subjects;
    }

    TFakePop3Server server;
    TmsPOPClient client;
    TmsMessage message;
    std::size_t login = 0;
};
} // namespace

TEST_F(PipelineTest, CommandsGoOutTogetherAndAnswersAreReadInOrder) {
    LogIn("TOP\r\nUIDL\r\nPIPELINING\r\n", 4);
    EXPECT_EQ(client.Capabilities(), (std::vector<std::string>{"TOP", "UIDL", "PIPELINING"}));
    EXPECT_NE(client.ProtocolLog().Text().find("Capabilities: TOP UIDL PIPELINING"),
              std::string::npos);
    // All answers in one piece: each block ends at its own "." line.
    server.Expect("TOP 1 1").Expect("TOP 2 1").Expect("TOP 4 1");
    server.SayRaw(Answer(1) + Answer(2) + Answer(4));
    int blocks = 0;
    client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t, int) { ++blocks; };
    client.PlanHeaders({0, 1, 3});
    EXPECT_EQ(Subjects({0, 1, 3}), "number 1;number 2;number 4;");
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Received().substr(login), "TOP 1 1\r\nTOP 2 1\r\nTOP 4 1\r\n");
    EXPECT_EQ(blocks, 3);
    // The connection is in step afterwards.
    server.Expect("QUIT").Say("+OK bye");
    client.Logout();
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PipelineTest, CommandsInFlightStayWithinTheWindow) {
    const int count = 600;
    LogIn("PIPELINING\r\n", count);
    std::vector<int> all;
    std::string expected;
    for (int n = 1; n <= count; ++n) {
        server.Expect("TOP " + std::to_string(n) + " 1").SayRaw(Answer(n));
        all.push_back(n - 1);
        expected += "number " + std::to_string(n) + ";";
    }
    std::size_t most = 0;
    int read = 0;
    client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t, int) {
        // Bytes of commands sent whose answers have not been read (this one's included).
        std::size_t answered = 0;
        for (int n = 1; n <= read; ++n) answered += ("TOP " + std::to_string(n) + " 1\r\n").size();
        most = std::max(most, server.Received().size() - login - answered);
        ++read;
    };
    client.PlanHeaders(all);
    EXPECT_EQ(Subjects(all), expected);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_LE(most, std::size_t(kPipelineWindow));
    EXPECT_GT(most, std::size_t(kPipelineWindow) / 2);
}

TEST_F(PipelineTest, WithoutPipeliningOneCommandAtATime) {
    LogIn("TOP\r\nUIDL\r\n", 2);
    server.Expect("TOP 1 1").SayRaw(Answer(1)).Expect("TOP 2 1").SayRaw(Answer(2));
    std::size_t sentBeforeFirstAnswer = 0;
    client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t, int) {
        if (!sentBeforeFirstAnswer) sentBeforeFirstAnswer = server.Received().size() - login;
    };
    client.PlanHeaders({0, 1});
    EXPECT_EQ(Subjects({0, 1}), "number 1;number 2;");
    EXPECT_EQ(sentBeforeFirstAnswer, std::string("TOP 1 1\r\n").size());
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PipelineTest, AFailureWithAnswersStillDueClosesTheConnection) {
    LogIn("PIPELINING\r\n", 3);
    server.Expect("TOP 1 1").SayRaw(Answer(1)).Expect("TOP 2 1").Say("-ERR no such message");
    server.Expect("TOP 3 1").SayRaw(Answer(3));
    client.PlanHeaders({0, 1, 2});
    EXPECT_EQ(Subjects({0}), "number 1;");
    client.SetCurrentMessage(1);
    EXPECT_THROW(client.RetrieveHeaders(), EmsServerError);
    // TOP 3's answer must never be read as the answer of a later command.
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(PipelineTest, IdsAndSizesAskedTogetherAndDuplicateIdsDropped) {
    LogIn("UIDL\r\nPIPELINING\r\n", 5);
    // The server answers only once both commands are there.
    server.Expect("UIDL").Expect("LIST");
    server.SayRaw("+OK\r\n1 a\r\n2 b\r\n3 a\r\n4 c\r\n5 a\r\n.\r\n");
    server.SayRaw("+OK\r\n1 10\r\n2 20\r\n3 30\r\n4 40\r\n5 50\r\n.\r\n");
    bool uidls = false;
    bool sizes = false;
    client.RetrieveUidlsAndSizes(uidls, sizes);
    EXPECT_TRUE(uidls && sizes);
    // Asked once per session: a transfer on the same connection takes these.
    EXPECT_TRUE(client.EnsureUidls());
    EXPECT_TRUE(client.EnsureSizes());
    std::vector<std::string> ids;
    std::vector<int64_t> sizeList;
    for (const TmsMessageId& id : client.MessageIds()) {
        ids.push_back(id.Uidl);
        sizeList.push_back(id.Size);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"", "b", "", "c", ""}));
    EXPECT_EQ(sizeList, (std::vector<int64_t>{10, 20, 30, 40, 50}));
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Received().substr(login), "UIDL\r\nLIST\r\n");
}

TEST_F(PipelineTest, DeletionsGoOutInWindowsAndARefusalStopsThemInStep) {
    const int count = 600;
    LogIn("PIPELINING\r\n", count);
    // The windows the commands fill: first and last message number of each.
    std::vector<std::pair<int, int>> windows;
    std::vector<int> all;
    std::size_t bytes = 0;
    for (int n = 1; n <= count; ++n) {
        const std::size_t size = ("DELE " + std::to_string(n) + "\r\n").size();
        if (windows.empty() || bytes + size > std::size_t(kPipelineWindow)) {
            windows.emplace_back(n, n);
            bytes = 0;
        }
        windows.back().second = n;
        bytes += size;
        all.push_back(n - 1);
    }
    ASSERT_EQ(windows.size(), 3u);
    // The server answers a window only once all of its commands are there; the second window
    // has a refusal in the middle, and no third one follows it.
    const int refused = windows[1].first + 4;
    std::string expected;
    for (int w = 0; w < 2; ++w) {
        for (int n = windows[w].first; n <= windows[w].second; ++n) {
            server.Expect("DELE " + std::to_string(n));
            expected += "DELE " + std::to_string(n) + "\r\n";
        }
        for (int n = windows[w].first; n <= windows[w].second; ++n)
            server.Say(n == refused ? "-ERR message locked" : "+OK");
    }
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.DeleteMessages(all); }),
              "-ERR message locked");
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Received().substr(login), expected);
    // Every answer of the window was read: the next command gets its own.
    server.Expect("QUIT").Say("+OK bye");
    client.Logout();
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PipelineTest, LogInTakesThreeWritesAndAsksNothingMoreForIdsAndSizes) {
    client.SetListAtLogin(true);
    const std::string capa = "+OK\r\nPIPELINING\r\nUTF8 USER\r\nUIDL\r\n.\r\n";
    // Each group is answered only once all its commands are there.
    server.Say("+OK POP3 ready").Expect("CAPA").SayRaw(capa);
    server.Expect("UTF8").Expect("USER bob").Expect("PASS secret");
    server.Say("+OK UTF8 enabled").Say("+OK").Say("+OK Logged in.");
    server.Expect("CAPA").Expect("STAT").Expect("UIDL").Expect("LIST");
    server.SayRaw(capa).Say("+OK 2 300").SayRaw("+OK\r\n1 a\r\n2 b\r\n.\r\n");
    server.SayRaw("+OK\r\n1 100\r\n2 200\r\n.\r\n");
    client.Login();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_TRUE(client.Utf8());
    EXPECT_EQ(client.MessageCount(), 2);
    EXPECT_TRUE(client.EnsureUidls());
    EXPECT_TRUE(client.EnsureSizes());
    ASSERT_EQ(client.MessageIds().size(), 2u);
    EXPECT_EQ(client.MessageIds()[1].Uidl, "b");
    EXPECT_EQ(client.MessageIds()[1].Size, 200);
    const std::string log = client.ProtocolLog().Text();
    EXPECT_NE(log.find("UTF8\r\nUSER bob\r\nPASS *Hidden*\r\n+OK UTF8 enabled\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("secret"), std::string::npos);
    server.Expect("QUIT").Say("+OK bye");
    client.Logout();
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PipelineTest, RefusedUserOrPasswordEndsTheLogInInStep) {
    for (const char* refused : {"USER", "PASS"}) {
        SCOPED_TRACE(refused);
        const bool user = refused[0] == 'U';
        server.NextConnection().Say("+OK POP3 ready").Expect("CAPA");
        server.SayRaw("+OK\r\nPIPELINING\r\n.\r\n").Expect("USER bob").Expect("PASS secret");
        server.Say(user ? "-ERR no such user" : "+OK").Say("-ERR [AUTH] Authentication failed.");
        EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }),
                  user ? "-ERR no such user" : "-ERR [AUTH] Authentication failed.");
        server.Expect("QUIT").Say("+OK bye");
        client.Logout();
        EXPECT_EQ(server.Failure(), "");
    }
}

TEST_F(PipelineTest, PlannedMessagesGoOutTogetherAndAnotherRetrievalEndsThePlan) {
    LogIn("PIPELINING\r\n", 3);
    server.Expect("RETR 1").Expect("RETR 2").Expect("RETR 3");
    server.SayRaw("+OK\r\none\r\n.\r\n+OK\r\n..two\r\n.\r\n+OK\r\nthree\r\n.\r\n");
    client.PlanMessages({0, 1, 2});
    std::string streamed;
    client.SetCurrentMessage(0);
    EXPECT_EQ(client.RetrieveMessageTo([&](std::string_view piece) { streamed += piece; }), 5);
    std::string raw;
    client.SetCurrentMessage(1);
    client.RetrieveMessage(raw);
    EXPECT_EQ(streamed + raw, "one\r\n.two\r\n");
    EXPECT_EQ(server.Received().substr(login), "RETR 1\r\nRETR 2\r\nRETR 3\r\n");
    EXPECT_EQ(server.Failure(), "");
    // RETR 3's answer is due: headers asked instead would read it as theirs.
    client.SetCurrentMessage(2);
    EXPECT_THROW(client.RetrieveHeaders(), EmsServerError);
    EXPECT_FALSE(client.IsConnected());
}
