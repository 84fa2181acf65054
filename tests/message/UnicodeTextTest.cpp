// Text for display: encoded words and raw header bytes in their own charsets, the message's
// Unicode views, and the 8-bit decoder's linear time on hostile fields.
#include "MessageCorpus.h"
#include "base/Charset.h"
#include "message/msmsgtext.h"
#include "message/mspars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

using namespace msgtest;

namespace {

struct TCase {
    const char* Input;
    const char* Expected;
};

TStringList Lines(std::initializer_list<const char*> lines) {
    TStringList list;
    for (const char* line : lines) list.Add(line);
    return list;
}

} // namespace

TEST(DecodeHeaderUnicode, EncodedWordsInTheirCharsets) {
    const TCase cases[] = {
        {"=?utf-8?B?0J/RgNC40LLQtdGCLCDQvNC40YAg4oCUINC+0YLRh9GR0YI=?=", "Привет, мир — отчёт"},
        {"=?UTF-8?B?5Lya6K2w44Gu44GK55+l44KJ44GbIPCfjok=?=", "会議のお知らせ 🎉"},
        {"=?utf8?Q?J=C3=BCrgen_M=C3=BCller?=", "Jürgen Müller"},
        {"=?iso-8859-2?B?WmG/87PmIGfqtmyxIGphvPE=?=", "Zażółć gęślą jaźń"},
        {"=?koi8-r?B?8NLJ18XU?=", "Привет"},
        {"=?koi8-u?B?vcHOz8s=?=", "Ґанок"},
        {"=?iso-2022-jp?B?GyRCOzNFREJATzobKEI=?=", "山田太郎"},
        {"=?shift_jis?B?ie+LYw==?=", "会議"},
        {"=?euc-jp?B?xey1/g==?=", "東京"},
        {"=?euc-kr?B?x9Gxub7u?=", "한국어"},
        {"=?ks_c_5601-1987?B?x9Gxub7u?=", "한국어"},
        {"=?gb2312?B?1tDOxA==?=", "中文"},
        {"=?gbk?B?1tDOxA==?=", "中文"},
        {"=?gb18030?B?1tDOxJUygjY=?=", "中文𠀀"},
        {"=?big5?B?wWPF6Q==?=", "繁體"},
        {"=?windows-1251?B?z/Do4uXy?=", "Привет"},
        {"=?windows-1250?B?o/Nknw==?=", "Łódź"},
        {"=?iso-8859-7?B?xevr3OTh?=", "Ελλάδα"},
        {"=?iso-8859-15?B?pHVybw==?=", "€uro"},
        {"=?iso-8859-1?Q?Caf=E9_au_lait?=", "Café au lait"},
        {"=?windows-1252?B?k3F1b3RlZJQ=?=", "“quoted”"},
        {"=?utf-8*en?Q?Zo=C3=AB?=", "Zoë"},
        // A character split between two words, as senders do although RFC 2047 forbids it.
        {"=?utf-8?B?0J/R?= =?utf-8?B?gNC40LLQtdGC?=", "Привет"},
        {"=?utf-8?B?8J8=?=\t=?UTF-8?B?jok=?=", "🎉"},
        // Unknown charsets read as Windows-1252; unlabelled bytes as UTF-8 when valid.
        {"=?x-martian?Q?Caf=E9?=", "Café"},
        {"=?unknown-8bit?B?Wm/Dqw==?=", "Zoë"},
        // Malformed words stay as written; an unpadded last group decodes.
        {"=?utf-8?B?!!!?= x", "=?utf-8?B?!!!?= x"},
        {"=?utf-8?B?QUJDR?=", "=?utf-8?B?QUJDR?="},
        {"=?utf-8?B?QUI?=", "AB"},
        {"=?utf-8?B?QQ?=", "A"},
        {"=?utf-8?Q?a=ZZb=?=", "a=ZZb="},
        {"=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
        {"=?broken", "=?broken"},
        // Bytes that are not the named charset become U+FFFD, nothing is dropped silently.
        {"=?utf-8?Q?a=FFb?=", "a\xEF\xBF\xBD"
                              "b"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeHeaderUnicode(c.Input), c.Expected) << c.Input;
}

TEST(DecodeHeaderUnicode, RawBytesAndTheTextAroundWords) {
    const TCase cases[] = {
        {"Zo\xC3\xAB", "Zoë"},                               // raw UTF-8
        {"Caf\xE9 raw latin1", "Café raw latin1"},           // raw ISO-8859-1
        {"Caf\xE9 Zo\xC3\xAB", "Café Zoë"},                  // both in one field
        {"\x93quoted\x94 \x80 \x81", "“quoted” € \xC2\x81"}, // the undefined byte survives
        {"Re: =?koi8-r?B?8NLJ18XU?= all", "Re: Привет all"},
        {"=?koi8-r?B?8NLJ18XU?= =?utf-8?Q?_Zo=C3=AB?=", "Привет Zoë"},
        {"Zo\xC3\xAB =?iso-8859-1?Q?Caf=E9?=", "Zoë Café"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeHeaderUnicode(c.Input), c.Expected) << c.Input;
    // The 8-bit form keeps the decoded bytes as they are.
    EXPECT_EQ(DecodeHeaderText("=?koi8-r?B?8NLJ18XU?= x"), "\xF0\xD2\xC9\xD7\xC5\xD4 x");
    EXPECT_EQ(DecodeHeaderText("=?utf-8?B?QUI?="), "AB");
}

TEST(Charset, ConversionsBothWays) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
    EXPECT_EQ(Cp1252ToUtf8("Caf\xE9 \x80"), "Café €");
    EXPECT_EQ(Utf8ToCp1252("Ω and €"), "? and \x80");
    EXPECT_EQ(Utf8ToCharset("Zoë Ω", "ISO-8859-1"), "Zo\xEB ?");
    EXPECT_EQ(Utf8ToCharset("Привет 🎉", "KOI8-R"), "\xF0\xD2\xC9\xD7\xC5\xD4 ?");
    EXPECT_EQ(Utf8ToCharset("Zoë", "UTF-8"), "Zoë");
    EXPECT_EQ(Utf8Prefix("Zoë", 3), "Zo");
    EXPECT_EQ(Utf8Prefix("Zoë", 4), "Zoë");
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_TRUE(IsValidUtf8("🎉"));
}

TEST(MessageText, ViewsOfAReceivedMessage) {
    auto message = Decode(WithCRLF(
        "From: =?utf-8?Q?M=C3=BCller=2C_J=C3=BCrgen?= <j@example.de>\n"
        "To: \"=?iso-8859-2?Q?Za=BF=F3=B3=E6?=\" <z@example.pl>, Zo\xC3\xAB <zoe@example.org>,\n"
        " =?koi8-r?B?8NLJ18XU?= <p@example.ru>\n"
        "Subject: =?koi8-r?B?8NLJ18XU?=\n"
        "MIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=koi8-r\n"
        "Content-Transfer-Encoding: 8bit\n"
        "\n"
        "\xF0\xD2\xC9\xD7\xC5\xD4\n"
        "second line\n"));
    EXPECT_EQ(SubjectText(*message), "Привет");
    EXPECT_EQ(SenderDisplayText(*message), "Müller, Jürgen");
    EXPECT_EQ(SenderText(*message).Address, "j@example.de");
    const auto to = RecipientsText(*message, "To");
    ASSERT_EQ(to.size(), 3u);
    EXPECT_EQ(to[0].Name, "Zażółć");
    EXPECT_EQ(to[1].Name, "Zoë");
    EXPECT_EQ(to[2].Name, "Привет");
    EXPECT_EQ(to[2].Address, "p@example.ru");
    EXPECT_EQ(BodyText(*message), "Привет\nsecond line");
    EXPECT_EQ(HeaderLineText("Subject: =?koi8-r?B?8NLJ18XU?="), "Subject: Привет");

    // A message built in the program has no received fields: its properties are shown.
    TmsMessage built;
    built.SetSubject("Caf\xE9");
    built.Sender().SetName("Zo\xC3\xAB");
    built.Recipients().Add()->SetAddress("a@b");
    EXPECT_EQ(SubjectText(built), "Café");
    EXPECT_EQ(SenderDisplayText(built), "Zoë");
    EXPECT_EQ(RecipientsText(built, "To").at(0).Address, "a@b");

    auto japanese = Decode(WithCRLF("Subject: x\nMIME-Version: 1.0\n"
                                    "Content-Type: text/plain; charset=ISO-2022-JP\n\n"
                                    "\x1b$B;3ED\x1b(B\n"));
    EXPECT_EQ(BodyText(*japanese), "山田");
}

// The same hostile field at two sizes: linear time grows 8 times, quadratic 64 times.
// Measured in this thread's processor time, the best of a few runs, so that other work on
// the machine does not count.
TEST(DecodeHeaderText, HostileFieldsTakeLinearTime) {
    auto now = [] {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    };
    for (const char* unit : {"=?a?B?x ", "=?c?B?x", "=?a?Q?=?"}) {
        auto seconds = [&](std::size_t size) {
            std::string field = "Subject: ";
            while (field.size() < size) field += unit;
            const TStringList headers = Lines({field.c_str()});
            double best = 1e9;
            for (int run = 0; run < 5; ++run) {
                TStringList items;
                std::string out;
                const double start = now();
                DecodeHeaderTextAppend(field, out);
                DecodeHeaderUnicode(field);
                GetHeaderAddresses(headers, "Subject", items);
                best = std::min(best, now() - start);
            }
            return best;
        };
        const double small = seconds(32 * 1024), large = seconds(256 * 1024);
        EXPECT_LT(large, 16 * small) << unit;
        EXPECT_LT(large, 0.5) << unit;
    }
}

// Fields the encoder composes carry text that is not ASCII as UTF-8 encoded words, and read
// back as they were meant.
TEST(EncodeHeaderUnicode, ComposedFieldsAreEncodedWordsInUtf8) {
    EXPECT_EQ(EncodeHeaderUnicode("Plain text"), "Plain text");
    EXPECT_EQ(EncodeHeaderUnicode("Caf\xE9"), "=?UTF-8?B?Q2Fmw6k=?=");
    const std::string longText = "Привет, мир — отчёт за третий квартал и планы на следующий год";
    const std::string words = EncodeHeaderUnicode(longText);
    for (std::size_t start = 0, end; start < words.size(); start = end + 1) {
        end = std::min(words.find(' ', start), words.size());
        EXPECT_LE(end - start, 75u);
    }
    EXPECT_EQ(DecodeHeaderUnicode(words), longText);

    TmsMessage message;
    message.Sender().SetAddress("zoe@example.org");
    message.Sender().SetName("Zo\xC3\xAB, Editor");
    TmsMailAddress* to = message.Recipients().Add();
    to->SetAddress("j@example.de");
    to->SetName("J\xFCrgen M\xFCller"); // Windows-1252, as the program's own texts
    message.SetSubject(longText);
    message.Body().Add("Text");
    const std::string file = Encode(message);
    const std::string head = file.substr(0, file.find("\r\n\r\n"));
    for (const char c : head) ASSERT_LT(static_cast<unsigned char>(c), 0x80) << head;
    auto back = Decode(file);
    EXPECT_EQ(SubjectText(*back), longText);
    EXPECT_EQ(SenderDisplayText(*back), "Zoë, Editor");
    EXPECT_EQ(RecipientsText(*back, "To").at(0).Name, "Jürgen Müller");
}
