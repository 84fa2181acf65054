#include "base/Exceptions.h"
#include "message/msmsgcls.h"
#include "message/mspars.h"

#include <gtest/gtest.h>

namespace {

TmsMailAddress Parse(std::string_view item) {
    TmsMailAddress address;
    ParseMailAddress(item, address);
    return address;
}

TStringList Addresses(const TStringList& headers, std::string_view name) {
    TStringList items;
    GetHeaderAddresses(headers, name, items);
    return items;
}

std::string FormatDate(TDateTime value) {
    int y, mo, d, h, mi, s;
    DecodeDateTime(value, y, mo, d, h, mi, s);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}

std::string Date(std::string_view text, std::string* zone = nullptr) {
    TDateTime value;
    std::string z;
    const bool ok = ParseMailDate(text, value, z);
    if (zone) *zone = z;
    EXPECT_EQ(ok, value != 0);
    return ok ? FormatDate(value) : "none";
}

} // namespace

TEST(GetHeaderValue, FindsFieldsWithoutRegardToCase) {
    EXPECT_EQ(GetHeaderValue({"Subject: Hello"}, "Subject"), "Hello");
    EXPECT_EQ(GetHeaderValue({"Subject:Hello"}, "Subject:"), "Hello");
    EXPECT_EQ(GetHeaderValue({"To: a", "subject: x"}, "SUBJECT"), "x");
    // The colon follows the name directly; a longer name is another field.
    EXPECT_EQ(GetHeaderValue({"Subject : x", "Subjects: y"}, "Subject"), "");
    EXPECT_EQ(GetHeaderValue({}, "Subject"), "");
    // The first of two fields wins.
    EXPECT_EQ(GetHeaderValue({"X-A: 1", "x-a: 2"}, "X-A"), "1");
}

TEST(GetHeaderValue, JoinsContinuationLinesAndStopsAtTheBody) {
    EXPECT_EQ(GetHeaderValue({"Subject: one", "\ttwo  ", "   three", "To: x"}, "Subject"),
              "one two three");
    // An empty first line gives no leading blank.
    EXPECT_EQ(GetHeaderValue({"To:", " a@b,", " c@d"}, "To"), "a@b, c@d");
    // The header list after TOP goes on with the blank line and a body line.
    const TStringList top{"From: a@b", "", "Subject: not a header", "."};
    EXPECT_EQ(GetHeaderValue(top, "Subject"), "");
    EXPECT_EQ(GetHeaderValue({"", "Subject: after a leading blank line"}, "Subject"),
              "after a leading blank line");
}

TEST(GetHeaderValue, DecodesAndCutsAllButContentTypeAndUidl) {
    EXPECT_EQ(GetHeaderValue({"Subject: =?iso-8859-1?Q?Caf=E9?="}, "Subject"), "Caf\xE9");
    const std::string longValue(300, 'v');
    EXPECT_EQ(GetHeaderValue({"Subject: " + longValue}, "Subject").size(), 255u);
    EXPECT_EQ(GetHeaderValue({"Content-Type: " + longValue}, "Content-type"), longValue);
    EXPECT_EQ(GetHeaderValue({"X-UIDL: =?x?Q?y?="}, "X-UIDL"), "=?x?Q?y?=");
    // Encoded words past the 255th raw character still decode.
    std::string words, expected;
    for (int i = 0; i < 12; ++i) {
        words += "=?utf-8?B?QUJDREVGR0hJSg==?= ";
        expected += "ABCDEFGHIJ";
    }
    EXPECT_EQ(GetHeaderValue({"Subject: " + words}, "Subject"), expected);
}

TEST(DeleteHeader, RemovesTheFirstFieldWithItsContinuationLines) {
    TStringList headers{"To: a", "Subject: one", " two", "\tthree", "From: b", "Subject: again"};
    DeleteHeader(headers, "subject");
    EXPECT_EQ(headers, (TStringList{"To: a", "From: b", "Subject: again"}));
    DeleteHeader(headers, "X-None");
    EXPECT_EQ(headers.Count(), 3);
    TStringList top{"From: a", "", "Subject: body text"};
    DeleteHeader(top, "Subject");
    EXPECT_EQ(top.Count(), 3);
}

TEST(GetHeaderAddresses, SplitsAtCommasOutsideQuotesAndComments) {
    const TStringList headers{"To: box1, \"Smith, John\" <box2>"};
    const TStringList items = Addresses(headers, "TO");
    ASSERT_EQ(items, (TStringList{"box1", "\"Smith, John\" <box2>"}));
    const TmsMailAddress second = Parse(items[1]);
    EXPECT_EQ(second.Name(), "Smith, John");
    EXPECT_EQ(second.Address(), "box2");

    EXPECT_EQ(Addresses({"Cc: box1 (Smith, Fred), , box2,"}, "Cc"),
              (TStringList{"box1 (Smith, Fred)", "box2"}));
    // A byte 255 in a name is a letter, not a hidden comma.
    EXPECT_EQ(Addresses({"To: \"Ren\xFF, X\" <a@b>, c@d"}, "To"),
              (TStringList{"\"Ren\xFF, X\" <a@b>", "c@d"}));
    EXPECT_EQ(Addresses({"To: =?iso-8859-1?Q?J=F6rg?= <j@x>"}, "To"),
              (TStringList{"J\xF6rg <j@x>"}));
    // Groups give their members; an empty group gives nothing.
    EXPECT_EQ(Addresses({"To: undisclosed-recipients:;"}, "To").Count(), 0);
    EXPECT_EQ(Addresses({"To: team: a@x, B <b@x>; c@x, <@r1,@r2:d@x>"}, "To"),
              (TStringList{"a@x", "B <b@x>", "c@x", "<@r1,@r2:d@x>"}));
}

TEST(GetHeaderAddresses, TakesExactFieldsAndFoldedLines) {
    const TStringList headers{"To: a@x,",     "  \"Sales: EU\" <b@example.org>,",
                              "\tc@x",        "Today: not@to",
                              "Cc: z@x",      "TO: d@x",
                              "e@x",          "",
                              "To: body@text"};
    EXPECT_EQ(Addresses(headers, "To"),
              (TStringList{"a@x", "\"Sales: EU\" <b@example.org>", "c@x", "d@x"}));
    EXPECT_EQ(Addresses({}, "To").Count(), 0);
    // The item list is cleared first.
    TStringList items{"old"};
    GetHeaderAddresses({"Cc: n@x"}, "Cc", items);
    EXPECT_EQ(items, (TStringList{"n@x"}));
}

TEST(ParseMailAddress, FormsOfAnAddress) {
    EXPECT_THROW(
        {
            try {
                Parse("Fred <box1");
            } catch (const Exception& e) {
                EXPECT_EQ(e.Message, "Unable to parse email address");
                throw;
            }
        },
        Exception);
    EXPECT_THROW(Parse("a> <b"), Exception);
    auto check = [](std::string_view item, const char* name, const char* address) {
        const TmsMailAddress a = Parse(item);
        EXPECT_EQ(a.Name(), name) << item;
        EXPECT_EQ(a.Address(), address) << item;
    };
    check("box1 (Fred)", "Fred", "box1");
    check("box1 (Fred", "Fred", "box1");
    check("box1", "", "box1");
    check("\"Fred Bloggs\" <'box1'> ", "Fred Bloggs", "box1");
    check("<box1> Fred", "Fred", "box1");
    check("\"a > b\" <box1>", "a > b", "box1");
    check("box1, Fred", "Fred", "box1");
    check("box1;Fred", "Fred", "box1");
    const TmsMailAddress longName = Parse(std::string(300, 'n') + " <box>");
    EXPECT_EQ(longName.Name().size(), 255u);
    EXPECT_EQ(longName.Address(), "box");
}

TEST(HeaderParams, ParamsMediaTypesAndQuotes) {
    EXPECT_EQ(StripQuotes("  \"'x'\"  "), "x");
    EXPECT_EQ(StripQuotes("'\"x\"'"), "\"x\"");
    EXPECT_EQ(GetHeaderParam("charset", "text/plain; charset=\"iso-8859-1\""), "iso-8859-1");
    EXPECT_EQ(GetHeaderParam("CharSet", "text/plain; charset=us-ascii; format=flowed"), "us-ascii");
    EXPECT_EQ(GetHeaderParam("charset", "text/plain;charset=us-ascii;format=flowed"), "us-ascii");
    EXPECT_EQ(GetHeaderParam("name", "application/x; name = x.bin"), "x.bin");
    EXPECT_EQ(GetHeaderParam("name", "attachment; filename=\"a b.pdf"), "a b.pdf");
    EXPECT_EQ(GetHeaderParam("boundary", "text/plain"), "");
    EXPECT_EQ(GetHeaderParam("filename", "attachment; filename*=iso-8859-1'de'K%E4se%20a.txt"),
              "K\xE4se a.txt");
    EXPECT_EQ(GetMediaType("text/plain; charset=x"), "text/plain");
    EXPECT_EQ(GetMediaType("multipart/mixed;boundary=x"), "multipart/mixed");
    EXPECT_EQ(GetMediaType("image/gif"), "image/gif");
}

TEST(ContentTypeOfFile, TableHookAndFallback) {
    EXPECT_EQ(ContentTypeOfFile("notes.txt"), "text/plain");
    EXPECT_EQ(ContentTypeOfFile("C:\\pics\\Photo.GIF"), "image/gif");
    EXPECT_EQ(ContentTypeOfFile("archive.unknownext"), "application/octet-stream");
    EXPECT_EQ(ContentTypeOfFile("C:\\dir.txt\\README"), "application/octet-stream");
    EXPECT_EQ(ContentTypeOfFile("/home/u/dir.txt/README"), "application/octet-stream");
    std::string asked;
    SetContentTypeLookup([&](std::string_view ext) {
        asked = ext;
        return ext == ".zz" ? std::string("application/x-zz") : std::string();
    });
    EXPECT_EQ(ContentTypeOfFile("a.zz"), "application/x-zz");
    EXPECT_EQ(asked, ".zz");
    EXPECT_EQ(ContentTypeOfFile("a.txt"), "application/octet-stream");
    SetContentTypeLookup(nullptr);
    EXPECT_EQ(ContentTypeOfFile("a.txt"), "text/plain");
}

TEST(ParseMailDate, DatesAsWritten) {
    std::string zone;
    EXPECT_EQ(Date("Mon, 05 Mar 01 10:20:30 +0100", &zone), "2001-03-05 10:20:30");
    EXPECT_EQ(zone, "+0100");
    EXPECT_EQ(Date("5 Mar 1999 10:20", &zone), "1999-03-05 10:20:00");
    EXPECT_EQ(zone, "");
    EXPECT_EQ(Date("\"Sun, 23 Sep 2001 20:14:35 -0700 (PDT)\"", &zone), "2001-09-23 20:14:35");
    EXPECT_EQ(zone, "-0700 (PDT)");
    EXPECT_EQ(Date("1 jan 50 00:00:01"), "2050-01-01 00:00:01");
    EXPECT_EQ(Date("1 Jan 51 23:59:59"), "1951-01-01 23:59:59");
    EXPECT_EQ(Date("29 Feb 2000 25:99 GMT", &zone), "2000-02-29 00:00:00");
    EXPECT_EQ(zone, "GMT");
    EXPECT_EQ(Date("1 Dec 2001"), "2001-12-01 00:00:00");
    EXPECT_EQ(Date("garbage", &zone), "none");
    EXPECT_EQ(zone, "");
    EXPECT_EQ(Date("31 Feb 2001 10:00"), "none");
    EXPECT_EQ(Date("5 Foo 2001 10:00"), "none");
    EXPECT_EQ(Date("Mon, 5"), "none");
    EXPECT_EQ(Date(""), "none");
}

TEST(ParseMailDate, DateTimeHelpersAgree) {
    TDateTime t;
    ASSERT_TRUE(TryEncodeDateTime(1899, 12, 30, 0, 0, 0, t));
    EXPECT_EQ(t, 0.0);
    ASSERT_TRUE(TryEncodeDateTime(2000, 1, 1, 12, 0, 0, t));
    EXPECT_DOUBLE_EQ(t, 36526.5);
    EXPECT_FALSE(TryEncodeDateTime(2001, 2, 29, 0, 0, 0, t));
    EXPECT_FALSE(TryEncodeDateTime(2000, 13, 1, 0, 0, 0, t));
    for (int year : {1, 1600, 1899, 1900, 2000, 2024, 9999}) {
        for (int month = 1; month <= 12; ++month) {
            ASSERT_TRUE(TryEncodeDateTime(year, month, 28, 23, 59, 58, t));
            int y, mo, d, h, mi, s;
            DecodeDateTime(t, y, mo, d, h, mi, s);
            EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, s}),
                      std::vector<int>({year, month, 28, 23, 59, 58}));
        }
    }
}

TEST(DecodeHeaderText, EncodedWordsAndTheTextAroundThem) {
    EXPECT_EQ(DecodeHeaderText("=?iso-8859-1?Q?Caf=E9_au_lait?="), "Caf\xE9 au lait");
    EXPECT_EQ(DecodeHeaderText("=?iso-8859-1?B?QUJD?= x"), "ABC x");
    EXPECT_EQ(DecodeHeaderText("Re: =?iso-8859-1?b?QUJD?=!"), "Re: ABC!");
    // Blanks between two encoded words are dropped, others stay.
    EXPECT_EQ(DecodeHeaderText("=?a?Q?one?=  \t =?a?B?dHdv?= three"), "onetwo three");
    EXPECT_EQ(DecodeHeaderText("report_v2 =?a?Q?x_y=5F?="), "report_v2 x y_");
    // A Q payload may begin with "=", in either case of the letter.
    EXPECT_EQ(DecodeHeaderText("=?utf-8?q?=C3=A9?="), "\xC3\xA9");
    EXPECT_EQ(DecodeHeaderText("=?utf-8?Q?"
                               "?="),
              "");
    // What cannot be decoded stays as written.
    EXPECT_EQ(DecodeHeaderText("=?broken"), "=?broken");
    EXPECT_EQ(DecodeHeaderText("a =? b =?x?Q?c?="), "a =? b c");
    EXPECT_EQ(DecodeHeaderText("=?x?B?QU!D?= =?x?Q?ok?="), "=?x?B?QU!D?= ok");
    EXPECT_EQ(DecodeHeaderText("=?x?X?abc?="), "=?x?X?abc?=");
    EXPECT_EQ(DecodeHeaderText(std::string(300, 'a')).size(), 255u);
    std::string whole;
    DecodeHeaderTextAppend(std::string(300, 'a'), whole);
    EXPECT_EQ(whole.size(), 300u);
}

TEST(EncodeHeaderText, WrapsIso2022JpText) {
    EXPECT_EQ(EncodeHeaderText("\x1b$B"), "=?ISO-2022-JP?B?GyRC?=");
    EXPECT_EQ(EncodeHeaderText("plain"), "plain");
    EXPECT_EQ(EncodeHeaderText(""), "");
    EXPECT_EQ(EncodeHeaderText("\x1b" + std::string(300, 'x')).size(), 255u);
}

TEST(GetWord, WordsOfReplyLines) {
    EXPECT_EQ(GetWordAsInt("+OK 3 1200", 1), 3);
    EXPECT_EQ(GetWordAsInt("+OK 3   1200 octets", 2), 1200);
    EXPECT_EQ(GetWordAsInt("+OK", 1), -1);
    EXPECT_EQ(GetWordAsInt("+OK many", 1), -1);
    EXPECT_EQ(GetWord("+OK 1 2 3", 1, false), "1 2 3");
    EXPECT_EQ(GetWord("+OK 1 2 3", 0, true), "+OK");
    EXPECT_EQ(GetWordAsInt64("+OK 2 8589934592", 2), 8589934592LL);
}
