#include "FakePop3Server.h"
#include "NetFixture.h"
#include "base/Streams.h"
#include "net/Mssocket.h"
#include "net/msutils.h"

#include <vector>

using pvtest::TFakePop3Server;

namespace {
class SocketTest : public TNetTest {
protected:
    void Open(TmsClientSocket& socket, TFakePop3Server& server) {
        socket.SetTimeOut(10); // a guard; no test here should come near it
        socket.SetHost(server.HostAndPort());
        socket.Connect();
    }

    // Serves block in the given pieces, each one only after the client has reported the
    // previous one, and reads it with ReadBlock.
    std::string ReadInPieces(const std::vector<std::string>& pieces, int64_t expected = -1,
                             std::vector<int>* percents = nullptr) {
        TFakePop3Server server;
        for (const std::string& piece : pieces) server.SayRaw(piece).Pause();
        TmsClientSocket socket;
        Open(socket, server);
        socket.OnTransferProgress = [&](TmsSocketBase*, int perc, int64_t, int) {
            if (percents) percents->push_back(perc);
            server.Resume();
        };
        TMemoryStream stream;
        socket.ReadBlock(stream, expected);
        progressEvents = int(socket.ProtocolLog().Count()); // nothing is logged for blocks
        return std::string(stream.View());
    }

    int progressEvents = 0;
};

std::vector<std::string> Split(const std::string& text, std::size_t size) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < text.size(); at += size) pieces.push_back(text.substr(at, size));
    return pieces;
}
} // namespace

TEST_F(SocketTest, LinesComeBackWithoutLineEndAndFirstCarriageReturn) {
    TFakePop3Server server;
    server.SayRaw("+OK crlf\r\n+OK bare lf\nx\ry\rz\r\n" + std::string(3000, 'a') +
                  "\r\n+OK after long\r\n+OK cut");
    server.Close();
    TmsClientSocket socket;
    socket.SetLogFileName("log");
    Open(socket, server);
    std::string line;
    socket.ReadLine(line);
    EXPECT_EQ(line, "+OK crlf");
    socket.ReadLine(line);
    EXPECT_EQ(line, "+OK bare lf");
    socket.ReadLine(line);
    EXPECT_EQ(line, "xy\rz\r");
    // A line longer than the buffer comes back cut; the rest of it is not taken for the
    // next line.
    socket.ReadLine(line);
    EXPECT_EQ(line, std::string(2047, 'a'));
    socket.ReadLine(line);
    EXPECT_EQ(line, "+OK after long");
    // The peer closes before the line end: what came is the line.
    socket.ReadLine(line);
    EXPECT_EQ(line, "+OK cut");
    EXPECT_TRUE(socket.CloseSignalled());
    EXPECT_EQ(socket.ProtocolLog()[0], "+OK crlf");
    EXPECT_EQ(socket.ProtocolLog().Count(), 6);
}

TEST_F(SocketTest, SentLinesAreLoggedWithPasswordsHidden) {
    TFakePop3Server server;
    server.Expect("USER bob").Expect("PASS secret").Expect("XPASS other").Expect("NOOP");
    TmsClientSocket socket;
    Open(socket, server);
    socket.SendLine("USER bob");
    socket.SetLogFileName("postvigil.log");
    socket.SendLine("PASS secret");
    socket.SendLine("XPASS other");
    socket.SendLine("NOOP");
    std::string line;
    server.Say("+OK");
    socket.ReadLine(line);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(socket.ProtocolLog().Text(), "PASS *Hidden*\r\nPASS *Hidden*\r\nNOOP\r\n+OK\r\n");
}

TEST_F(SocketTest, BlockEndsOnlyAtATerminatorLine) {
    const std::string block = "Subject: test\r\n\r\n..dotted\r\nRegards.\r\n.\r\n";
    // The terminator alone in a later piece, split in two, or after a partial line.
    EXPECT_EQ(ReadInPieces({"Subject: test\r\n\r\n..dotted\r\nRegards.\r\n", ".\r\n"}), block);
    EXPECT_EQ(ReadInPieces({"Subject: test\r\n\r\n..dotted\r\nRegards.\r\n.", "\r\n"}), block);
    EXPECT_EQ(ReadInPieces({"Subject: test\r\n\r\n..dotted\r\nRegards", ".\r\n", "\r\n.\r\n"}),
              "Subject: test\r\n\r\n..dotted\r\nRegards.\r\n\r\n.\r\n");
    // An empty answer.
    EXPECT_EQ(ReadInPieces({".\r\n"}), ".\r\n");
    EXPECT_EQ(ReadInPieces({".", "\r\n"}), ".\r\n");
}

TEST_F(SocketTest, BlockSurvivesEveryReceiveSize) {
    std::string block;
    for (int i = 0; i < 60; ++i) block += i % 7 ? "line " + std::to_string(i) + "\r\n" : "..\r\n";
    block += ".\r\n";
    for (std::size_t size : {1, 16, 1024, 4096}) {
        EXPECT_EQ(ReadInPieces(Split(block, size)), block) << "pieces of " << size;
    }
}

TEST_F(SocketTest, ProgressReportsRoundedPercentOfTheExpectedSize) {
    const std::string block = std::string(195, 'x') + "\r\n.\r\n"; // 200 bytes
    std::vector<int> percents;
    ReadInPieces({block.substr(0, 25), block.substr(25, 50), block.substr(75)}, 200, &percents);
    EXPECT_EQ(percents, (std::vector<int>{12, 38, 100})); // 12.5 and 37.5 go to the even side
    percents.clear();
    ReadInPieces({std::string(1019, 'x') + "\r\n.\r\n"}, 1000, &percents);
    EXPECT_EQ(percents, (std::vector<int>{0})); // above 100 reads 0
    percents.clear();
    ReadInPieces({block.substr(0, 100), block.substr(100)}, -1, &percents);
    EXPECT_EQ(percents, (std::vector<int>{-1, -1}));
}

TEST_F(SocketTest, ConnectionEndingInsideABlockIsAnError) {
    TFakePop3Server server;
    server.SayRaw("Subject: cut\r\n\r\nfirst half").Close();
    TmsClientSocket socket;
    Open(socket, server);
    TMemoryStream stream;
    EXPECT_EQ(MessageOf<EmsConnectionClosedError>([&] { socket.ReadBlock(stream, -1); }),
              "Connection closed by the server before the end of the answer");
    EXPECT_EQ(stream.View(), "Subject: cut\r\n\r\nfirst half");

    TFakePop3Server resetting;
    resetting.SayRaw("Subject: cut\r\n").Pause().Abort();
    TmsClientSocket other;
    Open(other, resetting);
    other.OnTransferProgress = [&](TmsSocketBase*, int, int64_t, int) { resetting.Resume(); };
    EXPECT_EQ(MessageOf<EWinsockError>([&] { other.ReadBlock(stream, -1); }),
              "[10054] Connection reset by peer");
}

TEST_F(SocketTest, SendingToAConnectionThePeerClosedIsAnErrorNotASignal) {
    TFakePop3Server server;
    server.Close();
    TmsClientSocket socket;
    Open(socket, server);
    std::string line;
    socket.ReadLine(line);
    ASSERT_TRUE(socket.CloseSignalled());
    // The first send may still go out; the peer answers it with a reset.
    std::string error;
    for (int i = 0; i < 1000 && error.empty(); ++i) {
        error = MessageOf<EWinsockError>([&] { socket.SendLine("QUIT"); });
    }
    EXPECT_EQ(error, "[10054] Connection reset by peer");
}

TEST_F(SocketTest, CancelFromAHandlerEndsTheWaitAndClosesTheSocket) {
    TFakePop3Server server;
    server.SayRaw("Subject: slow\r\n"); // and then nothing
    TmsClientSocket socket;
    Open(socket, server);
    int disconnected = 0;
    socket.OnDisconnected = [&](TmsSocketBase*) { ++disconnected; };
    socket.OnTransferProgress = [&](TmsSocketBase*, int, int64_t, int) { socket.Cancel(); };
    TMemoryStream stream;
    EXPECT_EQ(MessageOf<EmsCanceledError>([&] { socket.ReadBlock(stream, -1); }),
              "Operation has been canceled");
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(disconnected, 1);
    // The cancel sticks until the next connect.
    EXPECT_EQ(MessageOf<EmsCanceledError>([&] { socket.SendLine("QUIT"); }),
              "Operation has been canceled");
}

TEST_F(SocketTest, SilentServerTimesOut) {
    TFakePop3Server server; // accepts and says nothing
    TmsClientSocket socket;
    Open(socket, server);
    socket.SetTimeOut(2);
    socket.TimeCounter()->Timer().SetInterval(1); // seconds pass as milliseconds
    std::string line;
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { socket.ReadLine(line); }), "Operation timed out");
    EXPECT_TRUE(socket.TimedOut());
    EXPECT_TRUE(socket.IsConnected());
    // The time-out stays until something arrives: the next wait ends at once.
    socket.TimeCounter()->Timer().SetInterval(60000);
    EXPECT_EQ(MessageOf<EmsTimedOutError>([&] { socket.ReadLine(line); }), "Operation timed out");
}

TEST_F(SocketTest, ConnectedIsReportedTwiceWhenNonBlockingOnceWhenBlocking) {
    TFakePop3Server server;
    TmsClientSocket socket;
    int connected = 0;
    socket.OnConnected = [&](TmsSocketBase*) { ++connected; };
    Open(socket, server);
    EXPECT_EQ(connected, 2);
    EXPECT_TRUE(socket.ConnectSignalled());

    TFakePop3Server threaded(TFakePop3Server::RunInThread);
    threaded.Say("+OK ready").Expect("NOOP").SayRaw("a\r\n..b\r\n.\r\n");
    TmsClientSocket blocking;
    blocking.SetBlocking(true);
    connected = 0;
    blocking.OnConnected = [&](TmsSocketBase*) { ++connected; };
    Open(blocking, threaded);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(blocking.TimeCounter(), nullptr);
    std::string line;
    blocking.ReadLine(line);
    EXPECT_EQ(line, "+OK ready");
    blocking.SendLine("NOOP");
    TMemoryStream stream;
    blocking.ReadBlock(stream, -1);
    EXPECT_EQ(stream.View(), "a\r\n..b\r\n.\r\n");
    blocking.Disconnect();
    EXPECT_EQ(threaded.Failure(), "");
}

// The scripted server in its own thread is stopped while the news that its client has gone
// may still be on the way; whatever order the two arrive in, the stop is clean.
TEST_F(SocketTest, ThreadedServerStopsCleanlyJustAfterItsClientLeft) {
    for (int round = 0; round < 200; ++round) {
        TFakePop3Server threaded(TFakePop3Server::RunInThread);
        threaded.Say("+OK ready");
        TmsClientSocket blocking;
        blocking.SetBlocking(true);
        Open(blocking, threaded);
        std::string line;
        blocking.ReadLine(line);
        ASSERT_EQ(line, "+OK ready");
        blocking.Disconnect();
    }
}

TEST_F(SocketTest, MultiLineReplyReadsToTheLineWithABlankAfterTheCode) {
    TFakePop3Server server;
    server.Say("220-first").Say("220-second").Say("220 last").Say("220-again").Close();
    TmsClientSocket socket;
    Open(socket, server);
    EXPECT_EQ(socket.ReadMultiLineResponse(), 1);
    EXPECT_EQ(socket.LastResponse, "220 last");
    // A connection that ends in the middle ends the reply.
    EXPECT_EQ(socket.ReadMultiLineResponse(), 1);
    EXPECT_TRUE(socket.CloseSignalled());
}
