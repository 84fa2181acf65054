// Servers that do not play fair: answers without end, answers that trickle, STLS tricks and
// TLS handshakes that never finish. Each must end with its error within the time-out and
// leave the process's memory flat.
#include "NetFixture.h"
#include "PeakMemory.h"
#include "net/MsTls.h"
#include "net/msutils.h"

namespace {
using pvtest::PeakMegabytes;

// What an endless answer may add to the process's peak: the limits are 64 KB (a line) and
// 4 MB (a header block); the stream doubling its capacity and the allocator's slack come on
// top.
constexpr long kGrowthCeilingMb = 48 + pvtest::kAllocatorSlackMb;

class HostileServerTest : public TPopClientTest {
protected:
    void SetUp() override {
        TPopClientTest::SetUp();
        peakBefore = PeakMegabytes();
    }

    // Time-outs in milliseconds instead of seconds.
    void FastClock(int timeout) {
        client.SetTimeOut(timeout);
        client.TimeCounter()->Timer().SetInterval(1);
    }

    long peakBefore = 0;
};
} // namespace

TEST_F(HostileServerTest, EndlessStatusLineIsRefusedAndTheConnectionClosed) {
    server.SayRaw("+OK ").SayForever(std::string(4096, 'x'));
    int disconnected = 0;
    client.OnDisconnected = [&](TmsSocketBase*) { ++disconnected; };
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }), "Answer line too long");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(server.Received(), ""); // nothing parsed, so no USER
    EXPECT_LT(PeakMegabytes() - peakBefore, kGrowthCeilingMb);
}

TEST_F(HostileServerTest, EndlessHeaderBlockEndsAtItsLimit) {
    LogIn("+OK 1 100");
    server.Expect("LIST 1").Say("+OK 1 100");
    server.Expect("TOP 1 1").Say("+OK").SayForever("X-Filler: " + std::string(200, 'f') + "\r\n");
    client.SetCurrentMessage(0);
    client.GetMessageSize();
    std::size_t read = 0;
    client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t bytes, int) {
        read = std::size_t(bytes);
    };
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.RetrieveHeaders(); }), "Answer too long");
    EXPECT_FALSE(client.IsConnected());
    // What goes past the header limit is read within the message's own bound, never kept.
    EXPECT_LE(read, std::size_t(std::max(client.MessageLimit(), kMaxHeaderAnswer)) + 32768);
    EXPECT_LT(PeakMegabytes() - peakBefore, kGrowthCeilingMb);
}

TEST_F(HostileServerTest, EndlessMultiLineGreetingEndsAtTheLineLimit) {
    client.SetLogFileName("protocol"); // every line read is kept there
    // A greeting of a few lines is one answer.
    server.Say("+OK-welcome").Say("+OK-to the test").Say("+OK ready");
    server.Expect("CAPA").Say("-ERR unknown command").Expect("USER bob").Say("-ERR no");
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }), "-ERR no");
    client.Disconnect();
    client.ProtocolLog().Clear();

    server.NextConnection().Say("+OK-welcome").SayForever("+OK-and more\r\n");
    // Ends a client that reads on for ever, rather than hang the test.
    TmsTimer guard;
    guard.SetInterval(10000);
    guard.SetOnTimer([&](TmsTimer*) { client.Cancel(); });
    EXPECT_EQ(MessageOf<EmsAnswerTooLongError>([&] { client.Login(); }), "Answer too long");
    guard.SetEnabled(false);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_LT(client.ProtocolLog().Count(), int(kMaxAnswerLine / 10));
    EXPECT_EQ(server.Received(), "CAPA\r\nUSER bob\r\n"); // the first connection's only
    EXPECT_LT(PeakMegabytes() - peakBefore, kGrowthCeilingMb);
}

TEST_F(HostileServerTest, HeaderBlockOverItsLimitIsListedWithWhatFitsAndTheSessionGoesOn) {
    LogIn("+OK 2 7000000");
    // One message is a single huge line after its headers; TOP's one body line is all of it.
    const std::string heavy = "From: Ann <ann@example.org>\r\nSubject: heavy\r\n\r\n" +
                              std::string(std::size_t(kMaxHeaderAnswer) + 100000, 'b') + "\r\n";
    server.Expect("LIST").SayRaw("+OK\r\n1 " + std::to_string(heavy.size()) + "\r\n2 60\r\n.\r\n");
    server.Expect("TOP 1 1").Say("+OK").SayRaw(heavy + ".\r\n");
    server.Expect("TOP 2 1").Say("+OK").SayRaw("Subject: light\r\n\r\n.\r\n");
    ASSERT_TRUE(client.RetrieveSizes());
    std::string raw;
    client.SetCurrentMessage(0);
    EXPECT_FALSE(client.RetrieveHeaders(raw));
    EXPECT_EQ(raw.size(), std::size_t(kMaxHeaderAnswer));
    EXPECT_EQ(message.Subject(), "heavy");
    EXPECT_EQ(message.Sender().Address(), "ann@example.org");
    ASSERT_TRUE(client.IsConnected());
    client.SetCurrentMessage(1);
    EXPECT_TRUE(client.RetrieveHeaders(raw));
    EXPECT_EQ(message.Subject(), "light");
    EXPECT_EQ(server.Failure(), "");
    EXPECT_LT(PeakMegabytes() - peakBefore, kGrowthCeilingMb);
}

TEST_F(HostileServerTest, HeaderBlockOverTheLineLimitIsListedWithWhatFits) {
    LogIn("+OK 1 100");
    std::string block = "From: Ann <ann@example.org>\r\nSubject: first\r\n";
    for (int i = 0; i < kMaxHeaderLines; ++i) block += "X:\r\n";
    server.Expect("TOP 1 1").Say("+OK").SayRaw(block + "Subject: late\r\n\r\nbody\r\n.\r\n");
    client.SetCurrentMessage(0);
    client.RetrieveHeaders();
    EXPECT_EQ(message.Sender().Address(), "ann@example.org");
    EXPECT_EQ(message.Subject(), "first");
    EXPECT_EQ(message.Headers().Count(), kMaxHeaderLines);
    EXPECT_TRUE(client.IsConnected()); // the rest of the answer was read past
}

TEST_F(HostileServerTest, MessageLargerThanListSaidEndsAtTwiceThatPlusSlack) {
    LogIn("+OK 2 200");
    server.Expect("LIST 1").Say("+OK 1 100");
    server.Expect("RETR 1").Say("+OK 100 octets").SayForever(std::string(1000, 'm') + "\r\n");
    client.SetCurrentMessage(0);
    EXPECT_EQ(client.GetMessageSize(), 100);
    EXPECT_EQ(client.MessageLimit(), 200 + kMessageSlack);
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.RetrieveMessage(); }), "Answer too long");
    EXPECT_FALSE(client.IsConnected());

    // Without a LIST answer the fixed ceiling bounds it; a new STAT forgets old sizes.
    TmsPOPClient other;
    EXPECT_EQ(other.MessageLimit(), kMaxMessageAnswer);
}

TEST_F(HostileServerTest, TricklingAnswerTimesOutThoughBytesKeepComing) {
    LogIn("+OK 1 100");
    server.Expect("TOP 1 1").Say("+OK");
    // A byte every few "seconds" would reset a plain silence timer for ever.
    for (int i = 0; i < 2000; ++i) server.SayRaw("x").Delay(2);
    server.Close(); // reached only by a client that let the trickle run on
    FastClock(40);
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { client.RetrieveHeaders(); }),
              "Operation timed out");
}

// Seconds are ticked by hand as the bytes arrive: 1,100 bytes every 1.5 seconds is more than
// the 1 KB per TimeOut that keeps the countdown going.
TEST_F(HostileServerTest, TricklingAnswerAboveTheProgressRateEndsAtItsDeadline) {
    constexpr int kChunk = 1100;
    const std::string line = std::string(kChunk - 2, 'm') + "\r\n";
    constexpr int kChunks = 91;
    const int64_t size = int64_t(kChunk) * kChunks;
    auto serve = [&] {
        server.Expect("RETR 1").Say("+OK " + std::to_string(size) + " octets");
        for (int i = 0; i < kChunks; ++i) server.SayRaw(line).Pause();
        server.Say(".");
    };
    // Half-seconds per chunk: 3 is the trickle, 2 a line at 1,100 bytes a second.
    int64_t chunks = 0;
    auto retrieve = [&](int halfSeconds) {
        chunks = 0;
        int64_t halves = 0;
        client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t bytes, int) {
            while (chunks < bytes / kChunk) {
                ++chunks;
                for (halves += halfSeconds; halves >= 2; halves -= 2) client.TimeCounter()->Tick();
                server.Resume();
            }
        };
        client.SetCurrentMessage(0);
        client.RetrieveMessage();
    };
    LogIn("+OK 1 100");
    client.SetTimeOut(3);
    client.TimeCounter()->Timer().SetInterval(60000); // no second passes but the ticked ones
    // A little faster than 1 KB a second: the answer arrives whole.
    serve();
    retrieve(2);
    EXPECT_EQ(chunks, kChunks);
    EXPECT_EQ(server.Failure(), "");

    // The trickle ends at 3 + 98 seconds, the 68th chunk, whatever still comes.
    serve();
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { retrieve(3); }), "Operation timed out");
    EXPECT_EQ(AnswerDeadline(3, size), 101);
    EXPECT_EQ(chunks, 68);

    // However large the time-out or the size, in 64 bits and capped.
    EXPECT_EQ(AnswerDeadline(INT32_MAX, INT64_MAX), int64_t(INT32_MAX) + kMaxAnswerExtraSeconds);
    EXPECT_EQ(AnswerDeadline(60, -1), 60);
    EXPECT_EQ(AnswerDeadline(60, 1025), 62);
}

TEST_F(HostileServerTest, StartTlsWithoutStlsOnOfferSendsNoPassword) {
    client.SetSecurity(secStartTls);
    server.Say("+OK POP3 ready").Expect("CAPA").Say("+OK").Say("USER").Say("TOP").Say(".");
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }),
              "Server offers no STLS; the password was not sent");
    // A server without CAPA offers nothing either.
    server.NextConnection().Say("+OK POP3 ready").Expect("CAPA").Say("-ERR what?");
    client.Disconnect();
    EXPECT_EQ(MessageOf<EmsServerError>([&] { client.Login(); }),
              "Server offers no STLS; the password was not sent");
    EXPECT_EQ(server.Received().find("USER"), std::string::npos);
    EXPECT_EQ(server.Received().find("PASS"), std::string::npos);
}

TEST_F(HostileServerTest, BytesInjectedAfterStlsAnswerAreNeverRead) {
    client.SetSecurity(secStartTls);
    FastClock(50);
    // The "+OK" lines after the STLS answer arrive in the same packet, before any handshake:
    // taken for answers they would let the log-in go on in clear text.
    server.Say("+OK POP3 ready").Expect("CAPA").Say("+OK").Say("STLS").Say(".");
    server.Expect("STLS").SayRaw("+OK Begin TLS\r\n+OK\r\n+OK\r\n+OK 0 0\r\n");
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { client.Login(); }), "Operation timed out");
    const std::string sent = server.Received();
    const std::size_t hello = sent.find("STLS\r\n") + 6;
    // Only the client's TLS hello follows (a handshake record), never a command.
    ASSERT_LT(hello, sent.size());
    EXPECT_EQ(sent[hello], '\x16');
    EXPECT_EQ(sent.find("USER"), std::string::npos);
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(HostileServerTest, HandshakeSilenceTimesOutAndCancelEndsIt) {
    client.SetSecurity(secTls);
    FastClock(30);
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { client.Connect(); }), "Operation timed out");
    EXPECT_FALSE(client.IsConnected());

    // Cancel from the events that run while the handshake waits.
    client.SetTimeOut(10);
    client.TimeCounter()->Timer().SetInterval(60000);
    server.NextConnection().Pause();
    client.OnConnected = [&](TmsSocketBase*) {};
    TmsTimer canceller;
    canceller.SetInterval(20);
    canceller.SetOnTimer([&](TmsTimer*) {
        canceller.SetEnabled(false);
        client.Cancel();
    });
    EXPECT_EQ(MessageOf<EmsCanceledError>([&] { client.Connect(); }),
              "Operation has been canceled");
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(HostileServerTest, NotTlsAtAllIsAHandshakeErrorThatNamesAPlainTextGreeting) {
    client.SetSecurity(secTls);
    server.Say("+OK POP3 ready, in clear text").Pause();
    EXPECT_EQ(MessageOf<EmsTlsError>([&] { client.Connect(); }),
              "the server answered in plain text; is this the TLS port?");
    EXPECT_FALSE(client.IsConnected());
    server.Resume();
    // Something else that is not TLS either is a handshake error of its own.
    server.NextConnection().Say("HTTP/1.1 400 Bad Request").Pause();
    const std::string other = MessageOf<EmsTlsError>([&] { client.Connect(); });
    EXPECT_NE(other, "");
    EXPECT_EQ(other.find("plain text"), std::string::npos) << other;
    server.Resume();
}

TEST(TlsFingerprint, StoredFormsCompareAlike) {
    EXPECT_EQ(NormalizeFingerprint(" SHA256:AB:cd:01 "), "sha256:abcd01");
    EXPECT_EQ(NormalizeFingerprint("abcd01"), "sha256:abcd01");
    EXPECT_EQ(NormalizeFingerprint(""), "");
}

TEST_F(HostileServerTest, AnswerWithoutItsSizeGetsTheDeadlineOfTheSizeListed) {
    constexpr int kChunk = 1100;
    constexpr int64_t kListed = 10 * kChunk;
    LogIn("+OK 1 100");
    server.Expect("LIST").SayRaw("+OK\r\n1 " + std::to_string(kListed) + "\r\n.\r\n");
    ASSERT_TRUE(client.RetrieveSizes());
    // "+OK" alone, then lines at 550 bytes a second, far more than were listed.
    server.Expect("RETR 1").Say("+OK");
    for (int i = 0; i < 100; ++i) server.SayRaw(std::string(kChunk - 2, 'm') + "\r\n").Pause();
    client.SetTimeOut(3);
    client.TimeCounter()->Timer().SetInterval(60000); // no second passes but the ticked ones
    int64_t chunks = 0;
    client.OnTransferProgress = [&](TmsSocketBase*, int, int64_t bytes, int) {
        for (; chunks < bytes / kChunk; ++chunks) {
            client.TimeCounter()->Tick();
            client.TimeCounter()->Tick();
            server.Resume();
        }
    };
    client.SetCurrentMessage(0);
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { client.RetrieveMessage(); }),
              "Operation timed out");
    // 3 + 11 seconds: the seventh line; the answer's bound (twice the size plus 1 MB) would
    // have allowed more than a thousand seconds.
    EXPECT_EQ(AnswerDeadline(3, kListed), 14);
    EXPECT_EQ(chunks, 7);
}
