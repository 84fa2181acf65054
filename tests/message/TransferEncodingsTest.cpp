#include "base/Clock.h"
#include "base/Exceptions.h"
#include "base/MessagePump.h"
#include "message/msmime.h"
#include "message/msuucode.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng() & 0xFF);
    return s;
}

// A stream that hands out at most Chunk bytes per read, to put block ends anywhere.
class TChunkedStream : public TMemoryStream {
public:
    explicit TChunkedStream(int64_t chunk) : Chunk(chunk) {}
    int64_t Read(void* buffer, int64_t count) override {
        return TMemoryStream::Read(buffer, count < Chunk ? count : Chunk);
    }
    int64_t Chunk;
};

TStringList QPEncodeLines(std::string_view bytes, int64_t chunk = 1 << 20) {
    TChunkedStream stream(chunk);
    stream.WriteString(bytes);
    TStringList lines;
    TQuotedPrintable(stream, lines).QPEncode();
    return lines;
}

std::string QPDecodeLines(const TStringList& lines) {
    TMemoryStream stream;
    TStringList copy = lines;
    TQuotedPrintable(stream, copy).QPDecode();
    return std::string(stream.View());
}

std::string UURoundTrip(const std::string& data) {
    std::string back;
    for (std::size_t i = 0; i < data.size(); i += 45)
        back += UUDecodeLine(UUEncodeLine(std::string_view(data).substr(i, 45)));
    return back;
}

void ExpectInvalidCharacter(const std::function<void()>& call) {
    try {
        call();
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message, "Invalid Character");
    }
}

} // namespace

TEST(Base64, DecodesGroupsAndPadding) {
    EXPECT_EQ(Base64DecodeLine("QUJD"), "ABC");
    EXPECT_EQ(Base64DecodeLine("QUI="), "AB");
    EXPECT_EQ(Base64DecodeLine("QQ=="), "A");
    EXPECT_EQ(Base64DecodeLine(""), "");
    // A trailing incomplete group is ignored and never read past.
    EXPECT_EQ(Base64DecodeLine("QUJDQQ"), "ABC");
    EXPECT_EQ(Base64DecodeLine("QUJDQQ="), "ABC");
    EXPECT_EQ(Base64DecodeLine("QU"), "");
    ExpectInvalidCharacter([] { Base64DecodeLine("QU JD"); });
    ExpectInvalidCharacter([] { Base64DecodeLine("QUJ\r"); });
    ExpectInvalidCharacter([] { Base64DecodeLine("QUJ\xC4"); });
}

TEST(Base64, LongLinesDecodeWholeAndAppendKeepsWhatWasThere) {
    const std::string data = RandomBytes(300, 1);
    const std::string line = Base64EncodeChunk(data);
    ASSERT_EQ(line.size(), 400u);
    EXPECT_EQ(Base64DecodeLine(line), data);

    std::string out = "head";
    Base64DecodeAppend("QUJD", out);
    EXPECT_EQ(out, "headABC");
    EXPECT_THROW(Base64DecodeAppend("QUJD!!!!", out), EInOutError);
    EXPECT_EQ(out, "headABC");
    // Padding never removes bytes that were in the buffer before.
    Base64DecodeAppend("====", out);
    EXPECT_EQ(out, "headABC");
}

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(Base64EncodeChunk("ABC"), "QUJD");
    EXPECT_EQ(Base64EncodeChunk("AB"), "QUI=");
    EXPECT_EQ(Base64EncodeChunk("A"), "QQ==");
    EXPECT_EQ(Base64EncodeChunk(""), "");
    EXPECT_EQ(Base64EncodeChunk(std::string(57, 'x')).size(), 76u);
    std::string out = "x";
    Base64EncodeAppend("\xFF\xFE", out);
    EXPECT_EQ(out, "x//4=");
}

TEST(Base64, ChunkAndLineSizesGiveTheSameBytes) {
    const std::string data = RandomBytes(3 * 4096 + 2, 2);
    const std::string whole = Base64EncodeChunk(data);
    for (std::size_t size : {1, 16, 1024, 4096}) {
        SCOPED_TRACE(size);
        // Encoding in whole groups of three matches encoding at once.
        std::string encoded;
        for (std::size_t i = 0; i < data.size(); i += size * 3)
            Base64EncodeAppend(std::string_view(data).substr(i, size * 3), encoded);
        EXPECT_EQ(encoded, whole);
        // Decoding lines of 4 x size characters gives the data back.
        std::string decoded;
        for (std::size_t i = 0; i < whole.size(); i += size * 4)
            Base64DecodeAppend(std::string_view(whole).substr(i, size * 4), decoded);
        EXPECT_EQ(decoded, data);
    }
}

TEST(UUEncode, LinesAndCounts) {
    const std::string full = RandomBytes(45, 3);
    const std::string line = UUEncodeLine(full);
    ASSERT_EQ(line.size(), 61u);
    EXPECT_EQ(line[0], 'M');
    EXPECT_EQ(UUDecodeLine(line), full);

    const std::string ten = UUEncodeLine("0123456789");
    EXPECT_EQ(ten.size(), 15u);
    EXPECT_EQ(ten[0], char(32 + 10));
    EXPECT_EQ(UUDecodeLine(ten), "0123456789");
    // Zero is written as the backquote; a space reads as zero too.
    EXPECT_EQ(UUEncodeLine(std::string(3, '\0')), "#`````");
    EXPECT_EQ(UUDecodeLine("#    "), std::string(3, '\0'));
    EXPECT_EQ(UUDecodeLine(""), "");
    EXPECT_EQ(UUEncodeLine(std::string(50, 'a')), UUEncodeLine(std::string(45, 'a')));
}

TEST(UUDecode, StaysInsideTheLineWhateverTheCountSays) {
    // Count 45 but only four characters: the rest count as zero.
    EXPECT_EQ(UUDecodeLine("M86)C"), "abc" + std::string(42, '\0'));
    // A count above 45 decodes at most 45 bytes.
    EXPECT_EQ(UUDecodeLine("_" + std::string(60, '!')).size(), 45u);
    // Characters past the 60 a line can hold are not read.
    const std::string line = UUEncodeLine(std::string(45, 'z'));
    EXPECT_EQ(UUDecodeLine(line + "garbage~~~"), std::string(45, 'z'));
    ExpectInvalidCharacter([] { UUDecodeLine("#abc"); });
    ExpectInvalidCharacter([] { UUDecodeLine("~86)C"); });
}

TEST(UUBegin, RecognisesBeginLinesAndNames) {
    EXPECT_TRUE(IsUUBegin("begin 644 report.doc"));
    EXPECT_EQ(UUFileName("begin 644 report.doc"), "report.doc");
    EXPECT_TRUE(IsUUBegin("BEGIN 600 \"my file.txt\""));
    EXPECT_EQ(UUFileName("begin 600 \"my file.txt\""), "my file.txt");
    EXPECT_EQ(UUFileName("begin 600 \"unclosed.txt"), "");
    // A four-digit mode or extra blanks do not leak into the name.
    EXPECT_TRUE(IsUUBegin("begin 0644 a.bin"));
    EXPECT_EQ(UUFileName("begin 0644 a.bin"), "a.bin");
    EXPECT_EQ(UUFileName("begin  644  a.bin "), "a.bin");
    EXPECT_FALSE(IsUUBegin("beginning"));
    EXPECT_FALSE(IsUUBegin("begin 64"));
    EXPECT_FALSE(IsUUBegin("begin abc file"));
    EXPECT_FALSE(IsUUBegin("xbegin 644 file"));
}

TEST(QuotedPrintable, EncodesLinesOfText) {
    std::string words;
    while (words.size() < 100) words += "word ";
    words.resize(99);
    words += 'x';
    const TStringList lines = QPEncodeLines(words + "\r\n");
    ASSERT_EQ(lines.Count(), 2);
    EXPECT_LE(lines[0].size(), 66u);
    EXPECT_EQ(lines[0].back(), '=');
    EXPECT_EQ(lines[1][0], ' ');
    EXPECT_EQ(lines[0].substr(0, lines[0].size() - 1) + lines[1], words);

    EXPECT_EQ(QPEncodeLines("a=b\xE9\tc\r\n")[0], "a=3Db=E9=09c");
    // Blanks stay, except at the very end of a line.
    EXPECT_EQ(QPEncodeLines("a b \r\n")[0], "a b=20");
    EXPECT_EQ(QPEncodeLines("a\r\n\r\nb\r\n"), (TStringList{"a", "", "b"}));
    EXPECT_EQ(QPEncodeLines("").Count(), 0);
    // A word longer than a line is cut at 65 characters.
    const TStringList cut = QPEncodeLines(std::string(130, 'x') + "\r\n");
    EXPECT_EQ(cut, (TStringList{std::string(65, 'x') + "=", std::string(65, 'x')}));
}

TEST(QuotedPrintable, EncodingKeepsEveryByte) {
    // Lone CR and LF are data: LF-only text keeps its empty lines.
    const TStringList lf = QPEncodeLines("a\n\nb\n");
    EXPECT_EQ(lf, (TStringList{"a=0A=0Ab=0A="}));
    EXPECT_EQ(QPDecodeLines(lf), "a\n\nb\n");
    // Text without a final line break gets none on decoding.
    EXPECT_EQ(QPEncodeLines("abc"), (TStringList{"abc="}));
    EXPECT_EQ(QPDecodeLines(QPEncodeLines("abc")), "abc");
    // Ctrl-Z before a line break does not swallow the break.
    EXPECT_EQ(QPDecodeLines(QPEncodeLines("x\x1a\r\ny\x1a")), "x\x1a\r\ny\x1a");
    // A paragraph of any size converts, in both directions.
    std::string big;
    while (big.size() < 100000) big += "lorem ipsum dolor ";
    const TStringList bigLines = QPEncodeLines(big + "\r\n");
    for (const auto& line : bigLines) EXPECT_LE(line.size(), 66u);
    EXPECT_EQ(QPDecodeLines(bigLines), big + "\r\n");
}

TEST(QuotedPrintable, DecodesEscapesAndSoftBreaks) {
    EXPECT_EQ(QPDecodeLines({"abc=3D"}), "abc=\r\n");
    EXPECT_EQ(QPDecodeLines({"abc=", "def"}), "abcdef\r\n");
    EXPECT_EQ(QPDecodeLines({""}), "\r\n");
    EXPECT_EQ(QPDecodeLines({"=e9=ZZ=4"}), "\xE9=ZZ=4\r\n");
    EXPECT_EQ(QPDecodeLines({"="}), "");
    EXPECT_EQ(QPDecodeLines({"eof=1A"}), "eof\x1a");
    // A produced "=" is not decoded again.
    EXPECT_EQ(QPDecodeLines({"=3D41"}), "=41\r\n");
    // Lines are never cut.
    const std::string longLine(300, 'q');
    EXPECT_EQ(QPDecodeLines({longLine}), longLine + "\r\n");

    // The bytes go to the stream's position.
    TMemoryStream stream;
    stream.WriteString("head:");
    TStringList lines{"x=41"};
    TQuotedPrintable(stream, lines).QPDecode();
    EXPECT_EQ(stream.View(), "head:xA\r\n");

    std::string out = "<";
    EXPECT_TRUE(QPDecodeLineAppend("ab=", out));
    EXPECT_FALSE(QPDecodeLineAppend("c", out));
    EXPECT_EQ(out, "<abc\r\n");
}

TEST(QuotedPrintable, QPDecodeTextGivesTheFirstLineAndKeepsUnderscores) {
    EXPECT_EQ(QPDecodeText("Caf=E9_au_lait"), "Caf\xE9_au_lait");
    EXPECT_EQ(QPDecodeText("a=0Db"), "a");
    EXPECT_EQ(QPDecodeText("soft="), "soft");
    EXPECT_EQ(QPDecodeText(""), "");
}

TEST(QuotedPrintable, StreamBlockSizesDoNotChangeTheLines) {
    // Line breaks and blanks around the 65th character and across read blocks.
    std::string text;
    std::mt19937 rng(4);
    while (text.size() < 150000) {
        const std::size_t len = rng() % 140;
        for (std::size_t i = 0; i < len; ++i)
            text += (rng() % 7 == 0) ? ' ' : char('a' + rng() % 26);
        text += (rng() % 5 == 0) ? "\n" : "\r\n";
    }
    std::string expected;
    QPEncodeAppend(text, expected);
    for (int64_t chunk : {1, 16, 1024, 4096}) {
        const TStringList lines = QPEncodeLines(text, chunk);
        std::string joined;
        for (const auto& line : lines) joined += line + "\r\n";
        EXPECT_EQ(joined, expected) << chunk;
    }
    // A paragraph of soft-broken lines of these sizes, longer than a write block.
    const std::string data = RandomBytes(100000, 5);
    std::string escaped;
    for (unsigned char c : data) {
        escaped += '=';
        escaped += "0123456789ABCDEF"[c >> 4];
        escaped += "0123456789abcdef"[c & 15];
    }
    for (std::size_t size : {1, 16, 1024, 4096}) {
        TStringList lines;
        for (std::size_t i = 0; i < escaped.size(); i += size * 3)
            lines.Add(escaped.substr(i, size * 3) + "=");
        EXPECT_EQ(QPDecodeLines(lines), data) << size;
    }
}

TEST(RoundTrip, RandomBytesOfEveryLengthComeBackIdentical) {
    for (std::size_t n = 0; n <= 200; ++n) {
        SCOPED_TRACE(n);
        const std::string data = RandomBytes(n, unsigned(n + 100));
        EXPECT_EQ(Base64DecodeLine(Base64EncodeChunk(data)), data);
        EXPECT_EQ(UURoundTrip(data), data);
        EXPECT_EQ(QPDecodeLines(QPEncodeLines(data)), data);
        // Text made of the bytes that matter to quoted-printable.
        std::string text = data;
        for (char& c : text) c = "\r\n =\x1a\tab"[static_cast<unsigned char>(c) % 8];
        EXPECT_EQ(QPDecodeLines(QPEncodeLines(text)), text);
    }
}

TEST(Codecs, StopAndPumpBetweenParagraphs) {
    TStringList lines;
    for (int i = 0; i < 5000; ++i) lines.Add("line " + std::to_string(i));
    TMemoryStream stream;
    TQuotedPrintable codec(stream, lines);
    int pumped = 0;
    TManualClock clock;
    SetClock(&clock);
    InstallMessagePump(
        [&] {
            ++pumped;
            codec.Stop = true;
        },
        0);
    codec.QPDecode();
    RemoveMessagePump();
    SetClock(nullptr);
    EXPECT_EQ(pumped, 1);
    // Stopped after a whole paragraph, long before the end.
    const std::string_view out = stream.View();
    EXPECT_GT(out.size(), 0u);
    EXPECT_LT(out.size(), 5000u * 6);
    EXPECT_EQ(out.substr(out.size() - 2), "\r\n");

    TStringList encoded;
    TMemoryStream text;
    text.WriteString("abc\r\n");
    TQuotedPrintable stopped(text, encoded);
    stopped.Stop = true;
    stopped.QPEncode();
    EXPECT_EQ(encoded.Count(), 0);
}
