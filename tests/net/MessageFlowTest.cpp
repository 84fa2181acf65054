// Messages retrieved piece by piece to a sink: the same bytes a mail file of the whole
// retrieval gets, in memory that does not grow with the message.
#include "NetFixture.h"
#include "PeakMemory.h"
#include "mailbox/MailFiles.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {
// The text RetrieveMessage gives for a raw answer, as a mail file keeps it.
std::string SavedText(const std::string& answer, std::size_t& rawSize) {
    TMemoryStream stream;
    stream.WriteString(answer);
    RemoveDotStuffing(stream);
    std::string text(stream.View());
    rawSize = text.size();
    MakeCrLf(text);
    return text;
}

// The answer written to a flow in the pieces that split ends (ascending) mark.
std::string Flowed(const std::string& answer, const std::vector<std::size_t>& split,
                   int64_t& rawSize) {
    std::string out;
    const TmsMessageSink sink = [&](std::string_view piece) { out += piece; };
    TmsMessageFlow flow(sink);
    std::size_t start = 0;
    for (std::size_t end : split) {
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
             "a\r\n.\r\n",
             "..\r\n.\r\n",
             "lone\nlf\n..dot\r\n...\r\n.\r\n",
             "runs\r\r\ncr\ralone\r\r\r\n\r\r\n.\r\n",
             "a\n.\r\nnot the end after a lone LF\r\n.\r\n",
             "a\n.\rb\n.\r\r\n.\r\n",
             "tail without end\r\n..\r\n.\r\n",
         }) {
        SCOPED_TRACE(answer);
        std::size_t rawSize = 0;
        const std::string expected = SavedText(answer, rawSize);
        // Cut once at every place, and into single bytes.
        std::vector<std::vector<std::size_t>> splits;
        std::vector<std::size_t> bytes;
        for (std::size_t i = 1; i < answer.size(); ++i) {
            splits.push_back({i});
            bytes.push_back(i);
        }
        splits.push_back(bytes);
        for (const std::vector<std::size_t>& split : splits) {
            int64_t size = -1;
            EXPECT_EQ(Flowed(answer, split, size), expected) << split.size() << " cuts";
            EXPECT_EQ(size, int64_t(rawSize));
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
    MakeCrLf(raw);
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
