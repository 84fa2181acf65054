// The POP3 client against a real server.
#include "DovecotServer.h"
#include "NetFixture.h"
#include "RoundTripRelay.h"
#include "base/Streams.h"
#include "message/msmsg.h"
#include "net/Mspop.h"

#include <vector>

using pvtest::TDovecotServer;

namespace {
std::string Mail(const std::string& subject, const std::string& body) {
    return "From: Ann Example <ann@example.com>\r\nTo: alice@example.com\r\nSubject: " + subject +
           "\r\n\r\n" + body;
}

class DovecotTest : public TNetTest {
protected:
    void SetUp() override {
        dovecot.AddUser("alice", "secret");
        client.SetTimeOut(30); // a guard; no test here should come near it
        client.SetUserName("alice");
        client.SetPassword("secret");
        client.SetMailMessage(&message);
    }

    void StartServer() {
        std::string error;
        ASSERT_TRUE(dovecot.Start(error)) << error;
        client.SetHost(dovecot.HostAndPort());
    }

    // The raw answer to RETR n of the current log-in, unstuffed.
    std::string RetrieveRaw(int n) {
        client.SendLine("RETR " + std::to_string(n));
        EXPECT_EQ(client.ReadResponse(client.LastResponse), 1) << client.LastResponse;
        TMemoryStream stream;
        client.ReadBlock(stream, -1);
        RemoveDotStuffing(stream);
        return std::string(stream.View());
    }

    TDovecotServer dovecot;
    TmsPOPClient client;
    TmsMessage message;
};
} // namespace

TEST_F(DovecotTest, ListsEveryMessageFromItsHeaders) {
    const std::vector<std::string> mails = {
        Mail("first", "Hello\r\n"),
        Mail("second", ".leading dot\r\nmore\r\n"),
        Mail("third", "a\r\nb\r\nc\r\n"),
    };
    int64_t total = 0;
    for (const std::string& mail : mails) {
        dovecot.AddMessage("alice", mail);
        total += int64_t(mail.size());
    }
    StartServer();
    client.Login();
    ASSERT_EQ(client.MessageCount(), 3);
    EXPECT_EQ(client.MailboxSize(), total);
    EXPECT_EQ(client.CurrentMessage(), 0);
    const char* firstBodyLines[] = {"Hello", ".leading dot", "a"};
    for (int i = 0; i < 3; ++i) {
        client.SetCurrentMessage(i);
        client.RetrieveHeaders();
        EXPECT_EQ(message.Subject(), std::vector<std::string>({"first", "second", "third"})[i]);
        EXPECT_EQ(message.Sender().Address(), "ann@example.com");
        EXPECT_EQ(message.Headers()[message.Headers().Count() - 1], firstBodyLines[i]);
        EXPECT_EQ(client.GetMessageSize(), int64_t(mails[i].size()));
    }
    client.Logout();
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(DovecotTest, MessagesWithDotLinesArriveByteExact) {
    const std::vector<std::string> mails = {
        Mail("dots", ".signature\r\n..two\r\n.\r\nRegards\r\n"),
        Mail("dot last", "text\r\n."),
        Mail("empty body", ""),
    };
    for (const std::string& mail : mails) dovecot.AddMessage("alice", mail);
    StartServer();
    TRecordingMessage recording;
    client.SetMailMessage(&recording);
    client.Login();
    ASSERT_EQ(client.MessageCount(), 3);
    for (int i = 0; i < 3; ++i) {
        client.SetCurrentMessage(i);
        client.RetrieveMessage();
    }
    client.Logout();
    // The server ends a last line that has no line end.
    EXPECT_EQ(recording.Loads, (std::vector<std::string>{mails[0], mails[1] + "\r\n", mails[2]}));
}

TEST_F(DovecotTest, LargeMessageReportsProgress) {
    std::string body;
    const std::string line(76, 'x');
    while (body.size() < 20 * 1024 * 1024) body += line + "\r\n";
    const std::string mail = Mail("big", body);
    dovecot.AddMessage("alice", mail);
    StartServer();
    TRecordingMessage recording;
    client.SetMailMessage(&recording);
    client.Login();
    int events = 0;
    int lastPerc = -2;
    int64_t lastBytes = 0;
    bool ordered = true;
    client.OnTransferProgress = [&](TmsSocketBase*, int perc, int64_t bytes, int) {
        ++events;
        ordered = ordered && perc >= lastPerc && bytes > lastBytes;
        lastPerc = perc;
        lastBytes = bytes;
    };
    client.RetrieveMessage();
    client.Logout();
    EXPECT_GT(events, 10);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(lastPerc, 100);
    EXPECT_EQ(lastBytes, int64_t(mail.size()) + 3);
    ASSERT_EQ(recording.Loads.size(), 1u);
    EXPECT_TRUE(recording.Loads[0] == mail);
}

TEST_F(DovecotTest, RetrievedMessagesAreParsed) {
    dovecot.AddMessage("alice", Mail("plain", ".signature\r\n..two\r\nRegards\r\n"));
    // A base64 body: a "." line left in the text would not decode.
    dovecot.AddMessage("alice",
                       "From: ann@example.com\r\nSubject: encoded\r\n"
                       "MIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\nSGVsbG8NCi5Xb3JsZA0K\r\n");
    StartServer();
    client.Login();
    client.RetrieveMessage();
    EXPECT_EQ(message.Subject(), "plain");
    EXPECT_EQ(message.Body().Text(), ".signature\r\n..two\r\nRegards\r\n");
    client.SetCurrentMessage(1);
    client.RetrieveMessage();
    EXPECT_EQ(message.Subject(), "encoded");
    EXPECT_EQ(message.Body().Text(), "Hello\r\n.World\r\n");
    client.Logout();
}

TEST_F(DovecotTest, QuitRemovesExactlyTheDeletedMessages) {
    for (int i = 1; i <= 4; ++i)
        dovecot.AddMessage("alice", Mail("m" + std::to_string(i), "x\r\n"));
    StartServer();
    client.Login();
    for (int index : {1, 3}) {
        client.SetCurrentMessage(index);
        client.DeleteMessage();
    }
    EXPECT_EQ(dovecot.Messages("alice").size(), 4u); // nothing happens before QUIT
    client.Logout();
    EXPECT_EQ(dovecot.Messages("alice"),
              (std::vector<std::string>{Mail("m1", "x\r\n"), Mail("m3", "x\r\n")}));
}

TEST_F(DovecotTest, DroppedConnectionDeletesNothing) {
    for (int i = 1; i <= 2; ++i)
        dovecot.AddMessage("alice", Mail("m" + std::to_string(i), "x\r\n"));
    StartServer();
    client.Login();
    client.DeleteMessage();
    client.Disconnect(); // no QUIT
    client.Login();
    EXPECT_EQ(client.MessageCount(), 2);
    client.Logout();
    EXPECT_EQ(dovecot.Messages("alice").size(), 2u);
}

TEST_F(DovecotTest, WrongPasswordIsTheServersAnswer) {
    StartServer();
    client.SetPassword("wrong");
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }),
              "-ERR [AUTH] Authentication failed.");
    EXPECT_TRUE(client.IsConnected());
    client.Logout();
}

TEST_F(DovecotTest, BlockingModeWorksWithoutTheEventLoop) {
    dovecot.AddMessage("alice", Mail("blocking", "..dot\r\n"));
    StartServer();
    client.SetBlocking(true);
    client.Login();
    EXPECT_EQ(client.MessageCount(), 1);
    EXPECT_EQ(RetrieveRaw(1), Mail("blocking", "..dot\r\n"));
    client.Logout();
}

TEST_F(DovecotTest, CheckWithNothingNewTakesAtMostFiveRoundTrips) {
    for (int i = 1; i <= 3; ++i)
        dovecot.AddMessage("alice", Mail("m" + std::to_string(i), "x\r\n"));
    StartServer();
    pvtest::TRoundTripRelay relay("127.0.0.1", dovecot.Port());
    client.SetHost(relay.HostAndPort());
    client.SetListAtLogin(true);
    client.Login();
    ASSERT_TRUE(client.HasCapability("PIPELINING"));
    EXPECT_TRUE(client.EnsureUidls());
    EXPECT_TRUE(client.EnsureSizes());
    EXPECT_EQ(client.MessageIds()[2].Size, int64_t(Mail("m3", "x\r\n").size()));
    client.Logout();
    // The connection and greeting, CAPA, USER with PASS, CAPA with STAT, UIDL and LIST, QUIT.
    EXPECT_LE(relay.RoundTrips(), 5);
}
