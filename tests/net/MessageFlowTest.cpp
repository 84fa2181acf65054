// Messages retrieved piece by piece to a sink: the same bytes a mail file of the whole
// retrieval gets, in memory that does not grow with the message.
#include "CrLf.h"
#include "NetFixture.h"
#include "PeakMemory.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
// The answer written to a flow in pieces cut where cuts (ascending) say.
std::string Flowed(const std::string& answer, const std::vector<std::size_t>& cuts,
                   int64_t& rawSize) {
    std::string out;
    const TmsMessageSink sink = [&](std::string_view piece) { out += piece; };
    TmsMessageFlow flow(sink);
    std::size_t start = 0;
    for (std::size_t end : cuts) {
        flow.WriteBuffer(answer.data() + start, int64_t(end - start));
        start = end;
    }
    flow.WriteBuffer(answer.data() + start, int64_t(answer.size() - start));
    flow.Finish();
    rawSize = flow.RawSize();
    return out;
}
} // namespace

TEST(MessageFlow, GivesTheSavedTextWhereverTheAnswerIsCut) {
    for (const std::string answer : {
             ".\r\n",
             "..\r\n.\r\n",
             "lone\nlf\n..dot\r\n...\r\n.\r\n",
             "runs\r\r\ncr\ralone\r\r\r\n\r\r\n.\r\n",
             "a\n.\r\nnot the end after a lone LF\r\n.\r\n",
             "a\n.\rb\n.\r\r\n.\r\n",
         }) {
        SCOPED_TRACE(answer);
        // What RetrieveMessage gives, as the mail file keeps it.
        TMemoryStream stream;
        stream.WriteString(answer);
        RemoveDotStuffing(stream);
        std::string expected(stream.View());
        const int64_t rawSize = int64_t(expected.size());
        pvtest::MakeCrLf(expected);
        // Cut once at every place, and into single bytes.
        std::vector<std::vector<std::size_t>> cutsList(1);
        for (std::size_t i = 1; i < answer.size(); ++i) {
            cutsList.push_back({i});
            cutsList.front().push_back(i);
        }
        for (const std::vector<std::size_t>& cuts : cutsList) {
            int64_t size = -1;
            EXPECT_EQ(Flowed(answer, cuts, size), expected) << cuts.size() << " cuts";
            EXPECT_EQ(size, rawSize);
        }
    }
}

using MessageStreamTest = TPopClientTest;

TEST_F(MessageStreamTest, StreamedMessageIsWhatTheWholeRetrievalSaves) {
    LogIn("+OK 1 60");
    const std::string answer = "Subject: x\n\r\n..dot\r\r\nend\r\n.\r\n";
    std::vector<std::string> events;
    client.OnRetrievingMessage = [&](TmsSocketBase*) { events.push_back("retrieving"); };
    client.OnMessageRetrieved = [&](TmsSocketBase*) { events.push_back("retrieved"); };
    client.OnTransferProgress = [&](TmsSocketBase*, int perc, int64_t, int) {
        events.push_back(std::to_string(perc));
    };
    server.Expect("RETR 1").Say("+OK 30 octets").SayRaw(answer);
    server.Expect("RETR 1").Say("+OK 30 octets").SayRaw(answer);
    std::string raw;
    client.RetrieveMessage(raw);
    const std::vector<std::string> whole = std::exchange(events, {});
    std::string streamed;
    EXPECT_EQ(client.RetrieveMessageTo([&](std::string_view piece) { streamed += piece; }),
              int64_t(raw.size()));
    EXPECT_EQ(events, whole);
    pvtest::MakeCrLf(raw);
    EXPECT_EQ(streamed, raw);
    EXPECT_EQ(server.Failure(), "");
}

TEST_F(MessageStreamTest, LargeMessageIsStreamedInBoundedMemory) {
    const long before = pvtest::PeakMegabytes();
    const std::string line = std::string(78, 'x') + "\r\n";
    const int64_t lines = 50 * 1024 * 1024 / int64_t(line.size());
    const int64_t size = lines * int64_t(line.size());
    LogIn("+OK 1 " + std::to_string(size));
    server.Expect("LIST 1").Say("+OK 1 " + std::to_string(size));
    client.GetMessageSize();
    server.Expect("RETR 1").Say("+OK").SayRepeated(line, lines).SayRaw(".\r\n");
    int64_t received = 0;
    std::size_t largest = 0;
    EXPECT_EQ(client.RetrieveMessageTo([&](std::string_view piece) {
        received += int64_t(piece.size());
        largest = std::max(largest, piece.size());
    }),
              size);
    EXPECT_EQ(received, size);
    EXPECT_LE(largest, kMessageChunk);
    EXPECT_LT(pvtest::PeakMegabytes() - before, 8 + pvtest::kAllocatorSlackMb);
    EXPECT_EQ(server.Failure(), "");
}
