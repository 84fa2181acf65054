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

// A quoted local part belongs to the mailbox and keeps its quotes, whichever form the address
// takes; a display name loses its quotes. The 8-bit model and the Unicode views agree.
TEST(MessageText, QuotedLocalPartsKeepTheirQuotes) {
    auto message =
        Decode(WithCRLF("From: <\"System Administrator\"@example.com>\n"
                        "To: \"Ann Lee\" <\"a b\"@example.com>, \"c\\\"d\"@example.org (Cee),\n"
                        " \"Fred\" <'box1'>, \"e f\"@example.net\n"
                        "Subject: quotes\n\nbody\n"));
    EXPECT_EQ(message->Sender().Address(), "\"System Administrator\"@example.com");
    EXPECT_EQ(SenderText(*message).Address, "\"System Administrator\"@example.com");
    EXPECT_EQ(SenderDisplayText(*message), "\"System Administrator\"@example.com");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Ann Lee", "\"a b\"@example.com"},
        {"Cee", "\"c\\\"d\"@example.org"},
        {"Fred", "box1"},
        {"", "\"e f\"@example.net"}};
    const auto to = RecipientsText(*message, "To");
    ASSERT_EQ(to.size(), expected.size());
    ASSERT_EQ(message->Recipients().Count(), int(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(to[i].Name, expected[i].first) << i;
        EXPECT_EQ(to[i].Address, expected[i].second) << i;
        EXPECT_EQ(message->Recipients().Items(int(i)).Name(), expected[i].first) << i;
        EXPECT_EQ(message->Recipients().Items(int(i)).Address(), expected[i].second) << i;
    }
}

// Raw 8-bit header text that is not UTF-8 is read in the charset the message names for its
// text: the top-level Content-Type's, else the first text part's. Where that charset does
// not fit the bytes, or none is named, the bytes read as Windows-1252.
TEST(MessageText, RawHeadersInTheCharsetOfTheBody) {
    const auto big5 = Decode("From: \xA4\xFD\xA4p\xA9\xFA <wang@example.tw>\r\n"
                             "To: \xA4\xFD\xA4p\xA9\xFA <wang@example.tw>\r\n"
                             "Subject: \xB4\xFA\xB8\xD5\xB6l\xA5\xF3 =?utf-8?Q?Zo=C3=AB?=\r\n"
                             "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=big5\r\n"
                             "\r\n\xB4\xFA\xB8\xD5\r\n");
    EXPECT_EQ(SubjectText(*big5), "測試郵件 Zoë");
    EXPECT_EQ(SenderDisplayText(*big5), "王小明");
    EXPECT_EQ(RecipientsText(*big5, "To").at(0).Name, "王小明");
    EXPECT_EQ(HeaderLineText(big5->Headers()[2], HeaderCharset(big5->Headers())),
              "Subject: 測試郵件 Zoë");
    EXPECT_EQ(BodyText(*big5), "測試");

    // A multipart names the charset in its first text part; a list row has the header block
    // only, the open message has the part too.
    const std::string koi8Head = "From: \xE9\xD7\xC1\xCE <ivan@example.ru>\r\n"
                                 "Subject: \xF0\xD2\xC9\xD7\xC5\xD4\r\nMIME-Version: 1.0\r\n"
                                 "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    const auto koi8 =
        Decode(koi8Head + "--b\r\nContent-Type: text/plain; charset=koi8-r\r\n\r\nx\r\n"
                          "--b--\r\n");
    EXPECT_EQ(SubjectText(*koi8), "Привет");
    EXPECT_EQ(SenderDisplayText(*koi8), "Иван");
    const auto row = Decode(koi8Head);
    EXPECT_EQ(SubjectText(*row), "\xC3\xB0\xC3\x92\xC3\x89\xC3\x97\xC3\x85\xC3\x94");

    const auto sjis =
        Decode("Subject: \x89\xEF\x8B\x63\r\nFrom: \x8E\x52\x93\x63 <y@example.jp>\r\n"
               "Content-Type: text/plain; charset=\"Shift_JIS\"\r\n\r\nx\r\n");
    EXPECT_EQ(SubjectText(*sjis), "会議");
    EXPECT_EQ(SenderDisplayText(*sjis), "山田");

    // Valid UTF-8 stays UTF-8 whatever the label; bytes the label does not fit read as
    // Windows-1252, as do bytes of a message that names no charset or an unknown one.
    for (const char* type :
         {"text/plain; charset=big5", "text/plain; charset=us-ascii", "text/plain; charset=utf-8",
          "text/plain; charset=x-martian", "text/plain"}) {
        const auto m = Decode(std::string("Subject: Caf\xE9 Zo\xC3\xAB\r\nContent-Type: ") + type +
                              "\r\n\r\nx\r\n");
        EXPECT_EQ(SubjectText(*m), "Café Zoë") << type;
    }
    const auto utf8 = Decode("Subject: Zo\xC3\xAB\r\nContent-Type: text/plain; charset=koi8-r\r\n"
                             "\r\nx\r\n");
    EXPECT_EQ(SubjectText(*utf8), "Zoë");
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
