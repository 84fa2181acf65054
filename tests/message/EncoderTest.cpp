// The message encoder: the text it writes for messages built in memory, and what it keeps of
// a decoded message.
#include "MessageCorpus.h"

#include "message/msmimeencoder.h"

#include <gtest/gtest.h>

#include <regex>

using namespace msgtest;

namespace {

using Strings = std::vector<std::string>;

Strings LinesOf(const std::string& text) {
    TStringList list;
    list.SetText(text);
    return list.Items();
}

// The header block of an encoded message, up to its empty line.
Strings HeaderLines(const std::string& text) {
    Strings lines = LinesOf(text);
    lines.resize(std::size_t(std::find(lines.begin(), lines.end(), "") - lines.begin()));
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void AddAddress(TmsAddressList& list, const std::string& name, const std::string& address) {
    TmsMailAddress* a = list.Add();
    a->SetName(name);
    a->SetAddress(address);
}

TmsAttItem* AddAttachment(TmsCustomMessage& m, const std::string& name, const std::string& data) {
    TmsAttItem* item = m.Attachments().Add();
    item->SetFileName(name);
    item->Data.WriteString(data);
    return item;
}

class EncoderTest : public ::testing::Test {
protected:
    EncoderTest() {
        Message.Sender().SetName("Ann");
        Message.Sender().SetAddress("ann@example.org");
        AddAddress(Message.Recipients(), "Bob", "bob@example.net");
        Message.SetSubject("Hello");
    }
    TmsMessage Message;
};

TEST_F(EncoderTest, ShortAsciiMessage) {
    Message.Body().Add("Hi Bob");
    Message.Body().Add(".");
    EXPECT_EQ(Encode(Message), "From:     Ann <ann@example.org>\r\n"
                               "To:       Bob <bob@example.net>\r\n"
                               "Subject: Hello\r\n"
                               "Mime-Version: 1.0\r\n"
                               "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
                               "Content-Transfer-Encoding: 7bit\r\n"
                               "\r\n"
                               "Hi Bob\r\n"
                               ".\r\n");
    // Saving leaves the message as it was.
    EXPECT_EQ(Message.Body()[1], ".");
}

TEST_F(EncoderTest, AddressFieldsAndDisplayNames) {
    Message.Sender().SetName("J.Smith");
    AddAddress(Message.Recipients(), "Smith, John", "js@example.org");
    AddAddress(Message.Recipients(), "\"Already quoted\"", "q@example.org");
    AddAddress(Message.CC(), "", "cc@example.org");
    AddAddress(Message.BCC(), "Hidden", "hidden@example.org");
    Message.SetPriority(ptHigh);
    Message.SetReturnReceipt(true);
    const Strings head = HeaderLines(Encode(Message));
    EXPECT_EQ(
        head,
        (Strings{"From:     \"J.Smith\" <ann@example.org>", "To:       Bob <bob@example.net>,",
                 "          \"Smith, John\" <js@example.org>,",
                 "          \"Already quoted\" <q@example.org>", "CC:        <cc@example.org>",
                 "Return-Receipt-To: <ann@example.org>", "X-Priority: 1", "Subject: Hello",
                 "Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                 "Content-Transfer-Encoding: 7bit"}));

    // Read back, the comma stays inside the name and the BCC list is not in the text.
    const auto back = Decode(Encode(Message));
    ASSERT_EQ(back->Recipients().Count(), 3);
    EXPECT_EQ(back->Recipients().Items(1).Name(), "Smith, John");
    EXPECT_EQ(back->Recipients().Items(1).Address(), "js@example.org");
    EXPECT_EQ(back->BCC().Count(), 0);
    EXPECT_EQ(back->Priority(), ptHigh);
    EXPECT_TRUE(back->ReturnReceipt());
    EXPECT_EQ(back->Sender().Name(), "J.Smith");
}

TEST_F(EncoderTest, LongLinesAndLatinTextAreQuotedPrintable) {
    std::string words;
    while (words.size() < 300) words += "word ";
    Message.Body().Add(words);
    const std::string text = Encode(Message);
    EXPECT_TRUE(Contains(text, "Content-Transfer-Encoding: quoted-printable\r\n"));
    for (const std::string& line : LinesOf(text.substr(text.find("\r\n\r\n") + 4)))
        EXPECT_LE(line.size(), 76u) << line;
    EXPECT_EQ(Decode(text)->Body()[0], words);

    // The charset a body arrived with is written back with it.
    TmsMessage latin;
    latin.Body().Add("caf\xe9");
    latin.SetCharSet(csISO8859);
    EXPECT_TRUE(Contains(Encode(latin), "charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: "
                                        "quoted-printable\r\n\r\ncaf=E9\r\n"));
    latin.SetCharSetName("utf-8");
    latin.Body().Put(0, "caf\xc3\xa9");
    EXPECT_TRUE(Contains(Encode(latin), "charset=\"utf-8\""));
    latin.SetCharSet(csUSASCII);
    EXPECT_TRUE(Contains(Encode(latin), "charset=\"utf-8\"\r\nContent-Transfer-Encoding: 8bit"));
}

TEST_F(EncoderTest, LinesAreWrittenAsTheyAre) {
    Message.Body().Add(".");
    Message.Body().Add(std::string("nul\0byte", 8));
    Message.Body().Add("end");
    const std::string text = Encode(Message);
    EXPECT_TRUE(Contains(text, "\r\n\r\n.\r\n" + std::string("nul\0byte", 8) + "\r\nend\r\n"));
}

TEST_F(EncoderTest, BodyAndAttachmentMakeAMixedMessage) {
    Message.Body().Add("See the file.");
    AddAttachment(Message, "C:\\docs\\report.pdf", std::string(57, 'x'));
    const std::string text = Encode(Message);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        text, match, std::regex("Content-Type: multipart/mixed; boundary=\"([0-8]{8})\"")));
    const std::string b = match[1];
    EXPECT_TRUE(Contains(text, "\r\n\r\nThis is a multipart message in MIME format\r\n\r\n--" + b +
                                   "\r\nContent-Type: text/plain; charset=\"us-ascii\"\r\n"
                                   "Content-Transfer-Encoding: 7bit\r\n\r\nSee the file.\r\n--" +
                                   b + "\r\n"));
    EXPECT_TRUE(Contains(text, "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
                               "Content-Transfer-Encoding: Base64\r\n"
                               "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n"));
    // 57 bytes give one line of 76 characters, then the (empty) last chunk.
    const std::string encoded = "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4"
                                "eHh4eHh4eHh4eHh4";
    EXPECT_TRUE(Contains(text, "\r\n\r\n" + encoded + "\r\n\r\n--" + b + "--\r\n"));
}

TEST_F(EncoderTest, AlternativeBlockNestsBeforeTheAttachments) {
    Message.Body().Add("plain");
    TmsAttItem* html = AddAttachment(Message, "_alt.0", "<p>html</p>");
    html->SetContentType("text/html");
    html->SetEncoding(aeQuotedPrintable);
    AddAttachment(Message, "report.pdf", "PDF");
    const std::string text = Encode(Message);
    std::smatch outer, inner;
    ASSERT_TRUE(std::regex_search(text, outer, std::regex("multipart/mixed; boundary=\"(\\d+)\"")));
    ASSERT_TRUE(std::regex_search(
        text, inner, std::regex("Content-Type:  multipart/alternative; boundary=\"(\\d+)\"")));
    EXPECT_NE(outer[1], inner[1]);
    // The HTML alternative has no name; the nested block closes before report.pdf.
    EXPECT_TRUE(Contains(text, "--" + inner[1].str() +
                                   "\r\nContent-Type: text/html\r\n"
                                   "Content-Transfer-Encoding: "
                                   "Quoted-Printable\r\n\r\n<p>html</p>=\r\n--" +
                                   inner[1].str() + "--\r\n--" + outer[1].str() + "\r\n"));
    const auto back = Decode(text);
    EXPECT_EQ(back->Body().Items(), (Strings{"plain"}));
    ASSERT_EQ(back->Attachments().Count(), 2);
    EXPECT_EQ(back->Attachments().Items(0).FileName(), "_alt.0");
    EXPECT_EQ(Attachment(*back, 0), "<p>html</p>");
    EXPECT_EQ(back->Attachments().Items(1).FileName(), "report.pdf");
}

TEST_F(EncoderTest, SinglePartContentOfItsOwnType) {
    // The only part of a multipart was text/calendar: no attachment to write, a text part of
    // that type.
    Message.Body().Add("BEGIN:VCALENDAR");
    Message.SetContentType("text/calendar");
    EXPECT_TRUE(Contains(Encode(Message),
                         "Content-Type: text/calendar; charset=\"us-ascii\"\r\n"
                         "Content-Transfer-Encoding: 7bit\r\n\r\nBEGIN:VCALENDAR"));

    // One HTML file and no body: the file is the content, its data is written.
    TmsMessage page;
    TmsAttItem* item = AddAttachment(page, "page.htm", "<p>page</p>");
    item->SetContentType("text/html");
    item->SetEncoding(aeQuotedPrintable);
    const auto back = Decode(Encode(page));
    ASSERT_EQ(back->Attachments().Count(), 1);
    EXPECT_EQ(back->Attachments().Items(0).FileName(), "page.htm");
    EXPECT_EQ(Attachment(*back, 0), "<p>page</p>");

    TmsMessage body;
    AddAttachment(body, "_htmbody.htm", "<p>body</p>\r\n");
    EXPECT_EQ(Decode(Encode(body))->Body().Items(), (Strings{"<p>body</p>"}));
}

TEST_F(EncoderTest, AttachmentDataComesBackByteForByte) {
    std::string binary;
    for (int i = 0; i < 256; ++i) binary += char(i);
    binary += "\r\n\n\r \r\n\x1a\r\nend \r\n";
    const std::string longText = std::string(100000, 'a') + "\r\n" + std::string(70000, 'b');
    Message.Body().Add("files");
    for (const TmsAttEncoding encoding : {aeBase64, aeQuotedPrintable}) {
        AddAttachment(Message, "b.bin", binary)->SetEncoding(encoding);
        AddAttachment(Message, "e.bin", "")->SetEncoding(encoding);
    }
    AddAttachment(Message, "long.txt", longText)->SetEncoding(aeSevenBit);
    AddAttachment(Message, "crlf.txt", "line\r\n")->SetEncoding(aeSevenBit);
    const auto back = Decode(Encode(Message));
    ASSERT_EQ(back->Attachments().Count(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Attachment(*back, i), Attachment(Message, i)) << i;
    // A single attachment that is the whole message, 7-bit without a final line break.
    TmsMessage single;
    AddAttachment(single, "s.txt", "no final break")->SetEncoding(aeSevenBit);
    EXPECT_EQ(Attachment(*Decode(Encode(single)), 0), "no final break");
}

// Messages whose parts could be read back as something else; each comes back as it was.
TEST_F(EncoderTest, PartsReadBackAsWhatTheyWere) {
    auto roundTrip = [](TmsMessage& m) { return Decode(Encode(m)); };

    // File names a quoted string cannot hold.
    for (const std::string name : {"say \"hi\".txt", "bell\x07ring", "ends with;", "tab\there"}) {
        TmsMessage m;
        m.Body().Add("text");
        AddAttachment(m, name, "data")->SetEncoding(aeBase64);
        const auto back = roundTrip(m);
        ASSERT_EQ(back->Attachments().Count(), 1) << name;
        EXPECT_EQ(back->Attachments().Items(0).FileName(), name);
    }

    // An unnamed text alternative in the body's place stays an attachment.
    TmsMessage alternative;
    TmsAttItem* plain = AddAttachment(alternative, "_alt.0", "plain text");
    plain->SetContentType("text/plain");
    plain->SetEncoding(aeSevenBit);
    const auto alt = roundTrip(alternative);
    EXPECT_TRUE(alt->Body().Empty());
    ASSERT_EQ(alt->Attachments().Count(), 1);
    EXPECT_EQ(alt->Attachments().Items(0).FileName(), "_alt.0");

    // Text whose line looks like the start of a uuencoded block stays text.
    TmsMessage looksUU;
    looksUU.Body().Add("begin 644 notes.txt");
    looksUU.Body().Add("is just text here");
    const auto uu = roundTrip(looksUU);
    EXPECT_EQ(uu->Encoding(), meMIME);
    EXPECT_EQ(uu->Body().Items(), looksUU.Body().Items());
    EXPECT_EQ(uu->Attachments().Count(), 0);

    // A nested multipart keeps its name and its boundary.
    TmsMessage nested;
    nested.Body().Add("text");
    TmsAttItem* inner = AddAttachment(nested, "inner.eml", "--in\r\n\r\nx\r\n--in--");
    inner->SetContentType("multipart/mixed; boundary=\"in\"");
    inner->SetEncoding(aeSevenBit);
    const auto back = roundTrip(nested);
    ASSERT_EQ(back->Attachments().Count(), 1);
    EXPECT_EQ(back->Attachments().Items(0).FileName(), "inner.eml");
    EXPECT_EQ(back->Attachments().Items(0).ContentType(), "multipart/mixed; boundary=\"in\"");
    EXPECT_EQ(Attachment(*back, 0), Attachment(nested, 0));

    // The disposition of the original content goes with it: the text stays the body.
    const auto text = Decode("Subject: x\r\nMIME-Version: 1.0\r\n"
                             "Content-Disposition: attachment\r\n\r\nbody\r\n");
    const auto again = roundTrip(*text);
    EXPECT_EQ(again->Body().Items(), text->Body().Items());
    EXPECT_EQ(again->Attachments().Count(), text->Attachments().Count());
}

TEST_F(EncoderTest, UuencodedMessage) {
    Message.SetEncoding(meUU);
    Message.Body().Add("text");
    AddAttachment(Message, "dir/a.bin", std::string(90, 'z'));
    const std::string text = Encode(Message);
    EXPECT_FALSE(Contains(text, "Mime-Version"));
    EXPECT_TRUE(Contains(text, "\r\n\r\ntext\r\nbegin 600 a.bin\r\nM"));
    EXPECT_TRUE(Contains(text, "\r\n`\r\nend\r\n"));
    const auto back = Decode(text);
    EXPECT_EQ(back->Encoding(), meUU);
    EXPECT_EQ(back->Body().Items(), (Strings{"text"}));
    EXPECT_EQ(Attachment(*back, 0), std::string(90, 'z'));
    // A name that ends in a separator leaves nothing bare: the block still reads back as one.
    Message.Attachments().Items(0).SetFileName("notes.tx/");
    EXPECT_EQ(Decode(Encode(Message))->Attachments().Count(), 1);
}

TEST(EncoderHeaders, UnchangedFieldsKeepTheirOriginalLines) {
    const std::string original = "From: =?utf-8?Q?Andr=C3=A9?= <andre@example.fr>\r\n"
                                 "To: a@example.org,\r\n \"Smith, John\" <js@example.org>\r\n"
                                 "Subject: =?iso-8859-1?Q?Caf=E9?= report_v2\r\n"
                                 "Bcc: hidden@example.net\r\n"
                                 "X-Priority: 1 (Highest)\r\n"
                                 "Return-Receipt-To: <receipts@example.org>\r\n"
                                 "MIME-Version: 1.0\r\n"
                                 "Content-Type: text/plain; charset=us-ascii\r\n"
                                 "Content-Transfer-Encoding: 7bit\r\n"
                                 "\r\n"
                                 "text\r\n";
    const auto m = Decode(original);
    const std::string text = Encode(*m);
    EXPECT_EQ(HeaderLines(text),
              (Strings{"From: =?utf-8?Q?Andr=C3=A9?= <andre@example.fr>", "To: a@example.org,",
                       " \"Smith, John\" <js@example.org>",
                       "Subject: =?iso-8859-1?Q?Caf=E9?= report_v2", "Bcc: hidden@example.net",
                       "X-Priority: 1 (Highest)", "Return-Receipt-To: <receipts@example.org>",
                       "Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                       "Content-Transfer-Encoding: 7bit"}));

    // A changed field is written anew; a second save of the same message gives the same text.
    m->SetSubject("New");
    m->SetPriority(ptLow);
    const std::string changed = Encode(*m);
    EXPECT_TRUE(Contains(changed, "X-Priority: 5\r\n"));
    EXPECT_TRUE(Contains(changed, "Subject: New\r\n"));
    EXPECT_FALSE(Contains(changed, "Caf=E9"));
    EXPECT_FALSE(Contains(changed, "Highest"));
    EXPECT_EQ(Encode(*m).size(), changed.size());
}

TEST(EncoderHeaders, ArticleHeaders) {
    TmsArticle article;
    article.Sender().SetName("Ann");
    article.Sender().SetAddress("ann@example.org");
    article.SetNewsGroups("comp.mail.misc");
    article.SetSubject("Post");
    article.Body().Add("text");
    EXPECT_EQ(
        HeaderLines(Encode(article)),
        (Strings{"From:     Ann <ann@example.org>", "Newsgroups: comp.mail.misc", "Subject:  Post",
                 "Mime-Version: 1.0", "Content-Type: text/plain; charset=\"us-ascii\"",
                 "Content-Transfer-Encoding: 7bit"}));
    TmsArticle back;
    DecodeInto(Encode(article), back);
    EXPECT_EQ(back.NewsGroups(), "comp.mail.misc");
    // Read back and written again, the fields keep their lines: no second Newsgroups line.
    const std::string again = Encode(back);
    EXPECT_EQ(again.find("Newsgroups:"), again.rfind("Newsgroups:"));
}

TEST(EncoderBoundary, EightDigitsZeroToEight) {
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(std::regex_match(NewBoundary(), std::regex("[0-8]{8}")));
}

} // namespace
