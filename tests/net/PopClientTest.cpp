#include "NetFixture.h"
#include "net/SecurityProbe.h"

#include <vector>

using PopClientTest = TPopClientTest;

TEST_F(PopClientTest, HostTextCarriesAnOptionalPort) {
    TmsPOPClient pop;
    EXPECT_EQ(pop.Port(), 110);
    pop.SetHost("pop.example.com:995");
    EXPECT_EQ(pop.Host(), "pop.example.com");
    EXPECT_EQ(pop.Port(), 995);
    pop.SetHost("pop.example.com:pop");
    EXPECT_EQ(pop.Port(), 110);
    pop.SetHost("pop.example.com:70000");
    EXPECT_EQ(pop.Port(), 110);
    pop.SetPort(2110);
    pop.SetHost("pop.example.com");
    EXPECT_EQ(pop.Port(), 110);
    pop.SetHost(std::string(300, 'h'));
    EXPECT_EQ(pop.Host().size(), 255u);
}

TEST_F(PopClientTest, LoginWithoutCapaIsUserPassCapaStat) {
    client.SetLogFileName("protocol");
    int connecting = 0;
    int connected = 0;
    client.OnConnecting = [&](TmsSocketBase*) { ++connecting; };
    client.OnConnected = [&](TmsSocketBase*) { ++connected; };
    LogIn("+OK 2 320");
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(server.Received(), "CAPA\r\nUSER bob\r\nPASS secret\r\nCAPA\r\nSTAT\r\n");
    EXPECT_EQ(client.MessageCount(), 2);
    EXPECT_EQ(client.MailboxSize(), 320);
    EXPECT_EQ(client.CurrentMessage(), 0);
    EXPECT_EQ(connecting, 1);
    EXPECT_EQ(connected, 2);
    EXPECT_EQ(client.ProtocolLog().Text(),
              "+OK POP3 ready\r\nCAPA\r\n-ERR unknown command\r\nUSER bob\r\n+OK\r\n"
              "PASS *Hidden*\r\n+OK Logged in.\r\nCAPA\r\n-ERR unknown command\r\n"
              "STAT\r\n+OK 2 320\r\n");

    server.Expect("QUIT").Say("+OK Logging out.");
    int disconnected = 0;
    client.OnDisconnected = [&](TmsSocketBase*) { ++disconnected; };
    client.Logout();
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PopClientTest, Utf8IsSwitchedOnWhenOfferedAndARefusalChangesNothing) {
    client.SetLogFileName("protocol");
    // Offered with an argument; taken. Then refused on the next log-in: the session goes on
    // as without, and nothing from the session before counts.
    for (const char* answer : {"+OK UTF8 enabled", "-ERR UTF8 not available"}) {
        SCOPED_TRACE(answer);
        const std::string capa = "+OK\r\nTOP\r\nUTF8 USER\r\n.\r\n";
        server.NextConnection().Say("+OK POP3 ready").Expect("CAPA").SayRaw(capa);
        server.Expect("UTF8").Say(answer).Expect("USER bob").Say("+OK");
        server.Expect("PASS secret").Say("+OK").Expect("CAPA").SayRaw(capa);
        server.Expect("STAT").Say("+OK 1 40");
        server.Expect("TOP 1 1").Say("+OK").SayRaw("Subject: Grüße\r\n\r\n.\r\n");
        server.Expect("QUIT").Say("+OK");
        client.ProtocolLog().Clear();
        client.Login();
        EXPECT_EQ(client.Utf8(), answer[0] == '+');
        EXPECT_EQ(client.MessageCount(), 1);
        client.RetrieveHeaders();
        EXPECT_EQ(message.Subject(), "Grüße");
        client.Logout();
        EXPECT_EQ(server.Failure(), "");
        EXPECT_NE(client.ProtocolLog().Text().find("UTF8\r\n" + std::string(answer) + "\r\nUSER"),
                  std::string::npos);
    }
}

TEST_F(PopClientTest, EmptyMailboxSelectsNoMessage) {
    LogIn("+OK 0 0");
    EXPECT_EQ(client.MessageCount(), 0);
    EXPECT_EQ(client.CurrentMessage(), -1);
    client.SetCurrentMessage(1);
    EXPECT_EQ(client.CurrentMessage(), -1);
}

TEST_F(PopClientTest, RefusedLoginKeepsTheConnectionForQuit) {
    server.Say("+OK POP3 ready").Expect("CAPA").Say("-ERR unknown command");
    server.Expect("USER bob").Say("+OK").Expect("PASS secret");
    server.Say("-ERR [AUTH] Authentication failed.");
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }),
              "-ERR [AUTH] Authentication failed.");
    EXPECT_TRUE(client.IsConnected());
    server.Expect("QUIT").Say("+OK Logging out.");
    client.Logout();
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PopClientTest, ServerThatHangsUpIsNotAnEmptyServerError) {
    server.Close();
    EXPECT_EQ(MessageOf<EmsConnectionClosedError>([&] { client.Login(); }),
              "Connection closed by the server");
}

TEST_F(PopClientTest, FailedConnectLeavesNoDeadConnection) {
    client.SetHost("pop.example.invalid");
    EXPECT_EQ(MessageOf<EWinsockError>([&] { client.Login(); }), "[11001] Host not found");
    EXPECT_FALSE(client.IsConnected());
    // The next check can log in again.
    client.SetHost(server.HostAndPort());
    LogIn("+OK 1 10");
    EXPECT_EQ(client.MessageCount(), 1);
}

TEST_F(PopClientTest, StatAnswerGivesCountAndSize) {
    LogIn("+OK 2 320 octets");
    EXPECT_EQ(client.MessageCount(), 2);
    EXPECT_EQ(client.MailboxSize(), 320);
    EXPECT_EQ(client.LastResponse, "320 octets");

    struct TCase {
        std::string Answer;
        int Count;
        int64_t Size;
    };
    for (const TCase& c : {TCase{"+OK 5", 5, 0}, TCase{"+OK 3 5000000000", 3, 5000000000}}) {
        server.Expect("STAT").Say(c.Answer);
        client.GetStatus();
        EXPECT_EQ(client.MessageCount(), c.Count) << c.Answer;
        EXPECT_EQ(client.MailboxSize(), c.Size) << c.Answer;
        EXPECT_EQ(client.CurrentMessage(), -1);
    }
    // A count no mailbox has keeps its number but not a table of that size.
    server.Expect("STAT").Say("+OK 2147483647 1");
    client.GetStatus();
    EXPECT_EQ(client.MessageCount(), 2147483647);
    EXPECT_EQ(client.MessageIds().size(), std::size_t(kMaxTrackedMessages));
    for (const char* answer : {"+OK x 1", "+OK", "+OK 2 lots"}) {
        server.Expect("STAT").Say(answer);
        EXPECT_THROW(client.GetStatus(), EConvertError) << answer;
    }
    server.Expect("STAT").Say("-ERR mailbox locked");
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.GetStatus(); }), "-ERR mailbox locked");
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PopClientTest, CommandsActOnTheClampedCurrentMessage) {
    LogIn("+OK 3 300");
    client.SetCurrentMessage(5);
    EXPECT_EQ(client.CurrentMessage(), 2);
    client.SetCurrentMessage(-4);
    EXPECT_EQ(client.CurrentMessage(), 0);
    client.SetCurrentMessage(1);
    server.Expect("LIST 2").Say("+OK 2 1234");
    EXPECT_EQ(client.GetMessageSize(), 1234);
    server.Expect("LIST 2").Say("+OK 2    77");
    EXPECT_EQ(client.GetMessageSize(), 77);
    server.Expect("LIST 2").Say("+OK");
    EXPECT_EQ(client.GetMessageSize(), -1);
    server.Expect("DELE 2").Say("+OK Marked to be deleted.");
    client.DeleteMessage();
    server.Expect("DELE 2").Say("-ERR Message is deleted.");
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.DeleteMessage(); }),
              "-ERR Message is deleted.");
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PopClientTest, HeadersArriveUnstuffedWithoutTheFinalDot) {
    LogIn("+OK 1 120");
    server.Expect("TOP 1 1").Say("+OK");
    server.SayRaw("From: Ann Example <ann@example.com>\r\nSubject: Hello\r\nX-Priority: 1\r\n"
                  "\r\n..signature follows\r\n.\r\n");
    std::vector<int> percents;
    client.OnTransferProgress = [&](TmsSocketBase*, int perc, int64_t, int) {
        percents.push_back(perc);
    };
    client.RetrieveHeaders();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(message.Subject(), "Hello");
    EXPECT_EQ(message.Sender().Address(), "ann@example.com");
    EXPECT_EQ(message.Priority(), ptHigh);
    ASSERT_EQ(message.Headers().Count(), 5);
    EXPECT_EQ(message.Headers()[3], "");
    EXPECT_EQ(message.Headers()[4], ".signature follows");
    for (int perc : percents) EXPECT_EQ(perc, -1);
}

TEST_F(PopClientTest, MessageArrivesUnstuffedWithEventsAroundIt) {
    TRecordingMessage recording;
    client.SetMailMessage(&recording);
    LogIn("+OK 1 60");
    const std::size_t login = server.Received().size();
    std::vector<std::string> events;
    client.OnRetrievingMessage = [&](TmsSocketBase*) {
        events.push_back("retrieving, sent so far: " + server.Received().substr(login));
    };
    client.OnMessageRetrieved = [&](TmsSocketBase*) {
        events.push_back("retrieved " + std::to_string(recording.Loads.size()));
    };
    std::vector<int> percents;
    client.OnTransferProgress = [&](TmsSocketBase*, int perc, int64_t, int) {
        percents.push_back(perc);
        server.Resume();
    };
    // The terminator comes in a piece of its own.
    const std::string text = "Subject: dots\r\n\r\n..signature\r\nRegards\r\n...\r\n";
    server.Expect("RETR 1").Say("+OK " + std::to_string(text.size() + 3) + " octets");
    server.SayRaw(text).Pause().SayRaw(".\r\n");
    client.RetrieveMessage();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(events, (std::vector<std::string>{"retrieving, sent so far: ", "retrieved 1"}));
    EXPECT_EQ(recording.Loads,
              std::vector<std::string>{"Subject: dots\r\n\r\n.signature\r\nRegards\r\n..\r\n"});
    EXPECT_EQ(percents, (std::vector<int>{94, 100}));
}

TEST_F(PopClientTest, ARealLastDotLineOfTheBodyIsKept) {
    LogIn("+OK 1 60");
    server.Expect("RETR 1").Say("+OK").SayRaw("Subject: dots\r\n\r\nRegards\r\n..\r\n.\r\n");
    client.RetrieveMessage();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(message.Body().Text(), "Regards\r\n.\r\n");
}

TEST_F(PopClientTest, CutOffMessageIsNeitherParsedNorReported) {
    LogIn("+OK 1 60");
    int retrieved = 0;
    client.OnMessageRetrieved = [&](TmsSocketBase*) { ++retrieved; };
    std::vector<int> percents;
    client.OnTransferProgress = [&](TmsSocketBase*, int perc, int64_t, int) {
        percents.push_back(perc);
    };
    server.Expect("RETR 1").Say("+OK").SayRaw("Subject: cut\r\n\r\nfirst half\r\n").Close();
    EXPECT_EQ(MessageOf<EmsConnectionClosedError>([&] { client.RetrieveMessage(); }),
              "Connection closed by the server before the end of the answer");
    EXPECT_EQ(retrieved, 0);
    EXPECT_EQ(message.Subject(), "");
    EXPECT_EQ(percents, std::vector<int>{-1});
}

TEST_F(PopClientTest, LogoutAfterCancelFailsUntilTheNextLogin) {
    LogIn("+OK 1 60");
    server.Expect("RETR 1").Say("+OK 60 octets").SayRaw("Subject: slow\r\n");
    client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t, int) { client.Cancel(); };
    EXPECT_THROW(client.RetrieveMessage(), EmsCanceledError);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(MessageOf<EmsCanceledError>([&] { client.Logout(); }), "Operation has been canceled");
    EXPECT_EQ(server.Received(), "CAPA\r\nUSER bob\r\nPASS secret\r\nCAPA\r\nSTAT\r\nRETR 1\r\n");

    client.OnTransferProgress = nullptr;
    server.NextConnection();
    LogIn("+OK 0 0");
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PopClientTest, ServerThatRefusesListWithoutNumberIsAskedPerMessage) {
    LogIn("+OK 3 600");
    server.Expect("LIST").Say("-ERR unknown command");
    server.Expect("LIST 1").Say("+OK 1 100");
    server.Expect("LIST 2").Say("-ERR no such message");
    server.Expect("LIST 3").Say("+OK 3 300");
    ASSERT_TRUE(client.EnsureSizes());
    const std::vector<TmsMessageId>& ids = client.MessageIds();
    EXPECT_EQ(ids[0].Size, 100);
    EXPECT_EQ(ids[1].Size, -1);
    EXPECT_EQ(ids[2].Size, 300);
    EXPECT_TRUE(client.EnsureSizes()); // asked once per session
    EXPECT_EQ(server.Failure(), "");

    // Refused for every message too: no sizes, and the refusal to tell why.
    server.NextConnection();
    ServeLogin("+OK 1 100");
    server.Expect("LIST").Say("-ERR unknown command").Expect("LIST 1").Say("-ERR not now");
    client.Disconnect();
    client.Login();
    EXPECT_FALSE(client.RetrieveSizes());
    EXPECT_EQ(client.LastResponse, "-ERR not now");
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(PopClientTest, SecuritySearchNamesBothAttemptsAndNeverTriesClearText) {
    const std::string port = std::to_string(server.Port());
    server.OfferNoSecurity();
    const std::string error =
        MessageOf<ENoSecureConnection>([&] { FindSecurity(client, ProbePorts(server.Port())); });
    EXPECT_EQ(error.rfind("No secure connection: TLS on port " + port + " failed (", 0), 0u)
        << error;
    EXPECT_NE(error.find("); STLS on port " + port +
                         " failed (Server offers no STLS; the password was not sent)"),
              std::string::npos)
        << error;
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(server.Received().find("USER"), std::string::npos);
    EXPECT_EQ(server.Failure(), "");
}

TEST(DotStuffing, RemovesTheTerminatorAndOneLeadingDotPerLine) {
    struct TCase {
        std::string Raw;
        std::string Data;
    };
    for (const TCase& c : {
             TCase{".\r\n", ""},
             TCase{"a\r\n.\r\n", "a\r\n"},
             TCase{"..\r\n.\r\n", ".\r\n"},
             TCase{"...x\r\n.y\r\nz.\r\n.\r\n", "..x\r\ny\r\nz.\r\n"},
             TCase{"\r\n\r\n..\r\n\r\n.\r\n", "\r\n\r\n.\r\n\r\n"},
         }) {
        TMemoryStream stream;
        stream.WriteString(c.Raw);
        RemoveDotStuffing(stream);
        EXPECT_EQ(stream.View(), c.Data) << c.Raw;
        EXPECT_EQ(stream.Position(), 0);
    }
}
