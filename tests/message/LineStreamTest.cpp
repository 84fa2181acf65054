#include "message/msmsgcls.h"

#include <gtest/gtest.h>

#include <random>

namespace {
std::vector<std::string> ReadAll(TLineStream& s) {
    std::vector<std::string> lines;
    std::string line;
    s.Reset();
    while (s.ReadLine(line)) lines.push_back(line);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(line, TLineStream::kEndMarker);
    return lines;
}

// Fills a stream by writes of the given size, as a reader of a socket or file would.
void Fill(TLineStream& s, std::string_view text, std::size_t chunk) {
    for (std::size_t i = 0; i < text.size(); i += chunk) s.WriteString(text.substr(i, chunk));
}
} // namespace

TEST(LineStream, BasicLinesAndEndMarker) {
    TLineStream empty;
    std::string line;
    EXPECT_FALSE(empty.ReadLine(line));
    EXPECT_EQ(line, "\xff\xff\xff\xff");
    EXPECT_TRUE(empty.Eof());

    TLineStream s;
    s.WriteString("A\r\nB");
    EXPECT_EQ(ReadAll(s), (std::vector<std::string>{"A", "B"}));
    // Reset starts over.
    EXPECT_EQ(ReadAll(s), (std::vector<std::string>{"A", "B"}));
}

TEST(LineStream, EveryLineEndNulAndLongLines) {
    TLineStream s;
    const std::string longLine(20000, 'x');
    s.WriteString("a\rb\nc\r\n\r\nd\n\re" + std::string("\0f", 2) + "\r\n" + longLine + "\nlast");
    EXPECT_EQ(ReadAll(s), (std::vector<std::string>{"a", "b", "c", "", "d", "",
                                                    std::string("e\0f", 3), longLine, "last"}));
}

TEST(LineStream, MatchesReferenceSplitAtAnyFillChunkSize) {
    // Random text of short and long lines with every kind of line end, one CR CR LF placed so
    // that it straddles the old 16384-byte chunk edge. A lone CR is followed by a line that is
    // not empty: before an empty line it would join that line's end.
    std::mt19937 rng(42);
    std::string text;
    std::vector<std::string> expected;
    const char* ends[] = {"\r\n", "\n", "\r", "\r\n", "\r\r\n", "\r\r\r\n"};
    bool lastWasCr = false;
    while (text.size() < 70000) {
        std::size_t len = rng() % 8 == 0 ? rng() % 30000 : rng() % 100;
        std::string_view end = ends[rng() % 6];
        if (text.size() < 16382 && text.size() + len >= 16382) {
            len = 16382 - text.size();
            end = "\r\r\n";
        }
        std::string line;
        for (std::size_t i = 0; i < len; ++i) line += char('a' + rng() % 26);
        if (lastWasCr && line.empty()) line = "x";
        text += line;
        text += end;
        expected.push_back(line);
        lastWasCr = end == "\r";
    }
    ASSERT_EQ(text.substr(16382, 3), "\r\r\n");
    for (std::size_t chunk : {1u, 16u, 1024u, 16384u}) {
        TLineStream s;
        Fill(s, text, chunk);
        EXPECT_EQ(ReadAll(s), expected) << "chunk " << chunk;
    }
}

TEST(LineStream, WritingMoreAfterReadingIsSeen) {
    TLineStream s;
    s.WriteString("one\n");
    std::string line;
    s.Reset();
    ASSERT_TRUE(s.ReadLine(line));
    const int64_t pos = s.Position();
    s.Seek(0, soEnd);
    s.WriteString("two");
    s.SetPosition(pos);
    ASSERT_TRUE(s.ReadLine(line));
    EXPECT_EQ(line, "two");
}
