// The message decoder on hand-made messages: the structures it recognises, the fallback that
// keeps the original, and the places where data used to be lost.
#include "MessageCorpus.h"

#include "message/msmimedecoder.h"

#include <gtest/gtest.h>

using namespace msgtest;

namespace {

// Lines joined with CR LF, each ending with one.
std::string Text(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

const std::string kHead = Text(
    {"From: Ann <ann@example.org>", "To: bob@example.net", "Subject: test", "MIME-Version: 1.0"});

std::vector<std::string> Lines(const TStringList& list) {
    return list.Items();
}

using Strings = std::vector<std::string>;

TEST(Decoder, PlainMessageKeepsEveryLineAfterTheHeaderBlock) {
    const auto m = Decode(Text({"From: ann@example.org", "Subject: hi", "", "line 1", "", "-- ",
                                "begins with begin", "last"}));
    EXPECT_EQ(Lines(m->Body()), (Strings{"line 1", "", "-- ", "begins with begin", "last"}));
    EXPECT_EQ(m->Attachments().Count(), 0);
    EXPECT_EQ(m->Encoding(), meMIME);
    EXPECT_EQ(m->Subject(), "hi");
    EXPECT_EQ(m->Sender().Address(), "ann@example.org");
}

TEST(Decoder, UuencodedBlocksBecomeAttachmentsAndTheTextAroundThemStays) {
    // "abc" uuencoded is "#86)C".
    const auto m =
        Decode(Text({"From: ann@example.org", "", "text", "begin 644 a.txt", "#86)C", "`", "end",
                     "", "between", "begin 644 b.txt", "#86)C", "end", "more text"}));
    EXPECT_EQ(m->Encoding(), meUU);
    ASSERT_EQ(m->Attachments().Count(), 2);
    EXPECT_EQ(m->Attachments().Items(0).FileName(), "a.txt");
    EXPECT_EQ(Attachment(*m, 0), "abc");
    EXPECT_EQ(Attachment(*m, 1), "abc");
    // The "end" after the backquote line closes the block; the rest is what the sender wrote.
    EXPECT_EQ(Lines(m->Body()), (Strings{"text", "", "between", "more text"}));
    EXPECT_EQ(m->ContentType(), "");
}

TEST(Decoder, MixedMessageGivesTextBodyAndNamedAttachments) {
    const auto m = Decode(kHead + Text({"Content-Type: multipart/mixed; boundary=\"XX\"",
                                        "",
                                        "preamble",
                                        "--XX",
                                        "Content-Type: text/plain",
                                        "",
                                        "Hello",
                                        "",
                                        "--XX",
                                        "Content-Type: application/pdf; name=\"x.pdf\"",
                                        "Content-Transfer-Encoding: base64",
                                        "",
                                        "QUJD",
                                        "REVG",
                                        "--XX",
                                        "Content-Type: text/plain",
                                        "",
                                        "unnamed",
                                        "--XX--",
                                        "epilogue"}));
    EXPECT_EQ(Lines(m->Body()), (Strings{"Hello", ""}));
    ASSERT_EQ(m->Attachments().Count(), 2);
    const TmsAttItem& pdf = m->Attachments().Items(0);
    EXPECT_EQ(pdf.FileName(), "x.pdf");
    EXPECT_EQ(pdf.ContentType(), "application/pdf");
    EXPECT_EQ(pdf.Encoding(), aeBase64);
    EXPECT_EQ(Attachment(*m, 0), "ABCDEF");
    EXPECT_EQ(m->Attachments().Items(1).FileName(), "att1.txt");
    EXPECT_EQ(m->Attachments().Items(1).Encoding(), aeSevenBit);
    EXPECT_EQ(Attachment(*m, 1), "unnamed");
    EXPECT_EQ(m->ContentType(), "multipart/mixed");
}

TEST(Decoder, AlternativesBecomeAltAttachments) {
    const std::string alternative =
        Text({"--A", "Content-Type: text/plain", "", "plain", "--A",
              "Content-Type: text/html; charset=utf-8",
              "Content-Transfer-Encoding: quoted-printable", "", "<p>caf=C3=A9</p>", "--A--"});
    const auto whole =
        Decode(kHead + Text({"Content-Type: multipart/alternative; boundary=A", ""}) + alternative);
    EXPECT_EQ(Lines(whole->Body()), (Strings{"plain"}));
    ASSERT_EQ(whole->Attachments().Count(), 1);
    EXPECT_EQ(whole->Attachments().Items(0).FileName(), "_alt.0");
    EXPECT_EQ(whole->Attachments().Items(0).ContentType(), "text/html; charset=utf-8");
    EXPECT_EQ(Attachment(*whole, 0), "<p>caf\xc3\xa9</p>");
    EXPECT_EQ(whole->ContentType(), "multipart/alternative");

    // As the first part of a mixed message, followed by an attachment under its own name; the
    // epilogue of the nested block makes no part.
    const auto nested =
        Decode(kHead +
               Text({"Content-Type: multipart/mixed; boundary=M", "", "--M",
                     "Content-Type: multipart/alternative; boundary=A", ""}) +
               alternative +
               Text({"nested epilogue", "--M", "Content-Type: image/gif; name=p.gif",
                     "Content-Transfer-Encoding: base64", "", "R0lG", "--M--", "outer epilogue"}));
    EXPECT_EQ(Lines(nested->Body()), (Strings{"plain"}));
    ASSERT_EQ(nested->Attachments().Count(), 2);
    EXPECT_EQ(nested->Attachments().Items(0).FileName(), "_alt.0");
    EXPECT_EQ(nested->Attachments().Items(1).FileName(), "p.gif");
    EXPECT_EQ(Attachment(*nested, 1), "GIF");

    // The enclosing block closed right after the nested one: no phantom "att1.txt".
    const auto closed = Decode(kHead +
                               Text({"Content-Type: multipart/mixed; boundary=M", "", "--M",
                                     "Content-Type: multipart/alternative; boundary=A", ""}) +
                               alternative + Text({"--M--", "", "epilogue text"}));
    EXPECT_EQ(closed->Attachments().Count(), 1);

    // A nested block with a single alternative still lets the enclosing parts through.
    const auto single =
        Decode(kHead + Text({"Content-Type: multipart/mixed; boundary=M", "", "--M",
                             "Content-Type: multipart/alternative; boundary=A", "", "--A",
                             "Content-Type: text/plain", "", "only", "--A--", "--M",
                             "Content-Type: application/octet-stream; name=f.bin",
                             "Content-Transfer-Encoding: base64", "", "QUJD", "--M--"}));
    EXPECT_EQ(Lines(single->Body()), (Strings{"only"}));
    ASSERT_EQ(single->Attachments().Count(), 1);
    EXPECT_EQ(single->Attachments().Items(0).FileName(), "f.bin");
}

TEST(Decoder, NestedMultipartAttachmentKeepsItsWholeContentType) {
    const auto m = Decode(
        kHead + Text({"Content-Type: multipart/mixed; boundary=M", "", "--M",
                      "Content-Type: text/plain", "", "text", "--M",
                      "Content-Type: multipart/related; boundary=\"M-inner\"; type=text/html", "",
                      "--M-inner", "Content-Type: text/html", "", "<img src=cid:1>", "--M-inner",
                      "Content-ID: <1>", "", "x", "--M-inner--", "--M--"}));
    ASSERT_EQ(m->Attachments().Count(), 1);
    const TmsAttItem& related = m->Attachments().Items(0);
    EXPECT_EQ(related.ContentType(), "multipart/related; boundary=\"M-inner\"; type=text/html");
    // "--M-inner" is no delimiter of the boundary "M": the nested block arrives whole.
    EXPECT_EQ(Attachment(*m, 0), "--M-inner\r\nContent-Type: text/html\r\n\r\n<img src=cid:1>\r\n"
                                 "--M-inner\r\nContent-ID: <1>\r\n\r\nx\r\n--M-inner--");
}

TEST(Decoder, FirstPartThatIsNoTextBodyBecomesAnAttachment) {
    const auto named = Decode(
        kHead + Text({"Content-Type: multipart/mixed; boundary=M", "", "--M",
                      "Content-Type: text/plain; name=notes.txt",
                      "Content-Disposition: attachment; filename=notes.txt", "", "note", "--M",
                      "Content-Type: application/octet-stream; name=b.bin", "", "b", "--M--"}));
    EXPECT_TRUE(named->Body().Empty());
    ASSERT_EQ(named->Attachments().Count(), 2);
    EXPECT_EQ(named->Attachments().Items(0).FileName(), "notes.txt");
    EXPECT_EQ(Attachment(*named, 0), "note");

    // HTML as the first part stays the body and remembers its type and charset.
    const auto html =
        Decode(kHead + Text({"Content-Type: multipart/mixed; boundary=M", "", "--M",
                             "Content-Type: text/html; charset=\"UTF-8\"", "", "<p>hi</p>", "--M",
                             "Content-Type: image/png; name=a.png", "", "p", "--M--"}));
    EXPECT_EQ(Lines(html->Body()), (Strings{"<p>hi</p>"}));
    EXPECT_EQ(html->BodyContentType(), "text/html");
    EXPECT_EQ(html->CharSetName(), "UTF-8");
}

TEST(Decoder, ABrokenStructureKeepsTheWholeOriginal) {
    const std::string text = kHead + Text({"Content-Type: multipart/mixed; boundary=NEVER", "",
                                           "--OTHER", "Content-Type: text/plain", "", "text"});
    const auto m = Decode(text);
    EXPECT_EQ(
        Lines(m->Body()),
        (Strings{"The following error has been occured while processing the message:",
                 "Cannot find boundary", "The original message will be stored as an attachment"}));
    ASSERT_EQ(m->Attachments().Count(), 1);
    const TmsAttItem& original = m->Attachments().Items(0);
    EXPECT_EQ(original.FileName(), "original.eml");
    EXPECT_EQ(original.ContentType(), "message/rfc822");
    EXPECT_EQ(original.Encoding(), aeSevenBit);
    EXPECT_EQ(Attachment(*m, 0), text);

    // A missing boundary parameter and a text part that never ends take the same way.
    for (const std::string& broken :
         {Text({"Content-Type: multipart/mixed", "", "--", "", "x", "----"}),
          Text({"Content-Type: multipart/mixed; boundary=B", "", "--B", "Content-Type: text/plain",
                "", "never closed"})}) {
        const auto b = Decode(kHead + broken);
        ASSERT_EQ(b->Attachments().Count(), 1) << broken;
        EXPECT_EQ(Attachment(*b, 0), kHead + broken);
    }
}

TEST(Decoder, EveryErrorInTheBodyEndsInTheFallback) {
    // Not a parser error: the base64 codec's "Invalid Character" in a text body.
    const std::string text =
        kHead + Text({"Content-Type: text/plain", "Content-Transfer-Encoding: base64", "", "QUJD",
                      "not base64!"});
    const auto m = Decode(text);
    EXPECT_EQ(
        Lines(m->Body()),
        (Strings{"The following error has been occured while processing the message:",
                 "Invalid Character", "The original message will be stored as an attachment"}));
    EXPECT_EQ(Attachment(*m, 0), text);

    // In an attachment it is "Error decoding the attachment", and the broken item is not kept.
    const auto att =
        Decode(kHead + Text({"Content-Type: multipart/mixed; boundary=M", "", "--M", "", "text",
                             "--M", "Content-Type: application/x; name=a.bin",
                             "Content-Transfer-Encoding: base64", "", "QU*D", "--M--"}));
    EXPECT_EQ(att->Body()[2], "Error decoding the attachment");
    ASSERT_EQ(att->Attachments().Count(), 1);
    EXPECT_EQ(att->Attachments().Items(0).FileName(), "original.eml");
}

TEST(Decoder, TerminatorLinesAndSingleParts) {
    // A final "." of the body is the old transfer terminator.
    EXPECT_EQ(Lines(Decode(Text({"Subject: x", "", "a", "."}))->Body()), (Strings{"a"}));

    // Base64 data ends at a line "."; 7-bit and quoted-printable data keep it.
    const auto base64 =
        Decode(kHead + Text({"Content-Type: application/octet-stream; name=a.bin",
                             "Content-Transfer-Encoding: base64", "", "QUJD", "."}));
    ASSERT_EQ(base64->Attachments().Count(), 1);
    EXPECT_EQ(base64->Attachments().Items(0).FileName(), "a.bin");
    EXPECT_EQ(Attachment(*base64, 0), "ABC");
    EXPECT_EQ(
        Attachment(
            *Decode(kHead + Text({"Content-Type: application/x; name=a.bin", "", "text", "."})), 0),
        "text\r\n.\r\n");
    EXPECT_EQ(Attachment(*Decode(kHead + Text({"Content-Type: application/x; name=a.bin",
                                               "Content-Transfer-Encoding: quoted-printable", "",
                                               "a=3Db", "."})),
                         0),
              "a=b\r\n.\r\n");

    // A single-part base64 text body (HTML mail) stops at the "." as well.
    const auto html =
        Decode(kHead + Text({"Content-Type: text/html; charset=utf-8",
                             "Content-Transfer-Encoding: base64", "", "PHA+aGk8L3A+", "."}));
    EXPECT_EQ(Lines(html->Body()), (Strings{"<p>hi</p>"}));
    EXPECT_EQ(html->ContentType(), "text/html");
    EXPECT_EQ(html->Attachments().Count(), 0);
}

TEST(Decoder, LongLinesAndTheirLineBreaksAreKept) {
    const std::string longLine(300000, 'x');
    std::string base64Line;
    for (int i = 0; i < 100; ++i) base64Line += "QUJD";
    const auto m = Decode(kHead + Text({"Content-Type: multipart/mixed; boundary=M",
                                        "",
                                        "--M",
                                        "",
                                        "body",
                                        "--M",
                                        "Content-Type: text/csv; name=a.csv",
                                        "",
                                        longLine,
                                        "",
                                        longLine,
                                        "--M",
                                        "Content-Type: application/x; name=b.bin",
                                        "Content-Transfer-Encoding: base64",
                                        "",
                                        base64Line,
                                        "--M",
                                        "Content-Type: text/plain; name=q.txt",
                                        "Content-Transfer-Encoding: quoted-printable",
                                        "",
                                        std::string(400, 'q') + "=",
                                        "=41",
                                        "",
                                        "--M--"}));
    ASSERT_EQ(m->Attachments().Count(), 3);
    EXPECT_EQ(Attachment(*m, 0), longLine + "\r\n\r\n" + longLine);
    EXPECT_EQ(Attachment(*m, 1).size(), 300u);
    // The line break before a delimiter belongs to the delimiter, not to the data.
    EXPECT_EQ(Attachment(*m, 2), std::string(400, 'q') + "A\r\n");
}

TEST(Decoder, DelimitersAreWholeLinesWithOptionalPadding) {
    const auto m = Decode(
        kHead + Text({"Content-Type: multipart/mixed; boundary=\"B\"", "", "--B  ", "", "text",
                      "--Bx not a delimiter", "--B\t", "Content-Type: application/x; name=p.bin",
                      "", "data", "--B-- ", "epilogue"}));
    EXPECT_EQ(Lines(m->Body()), (Strings{"text", "--Bx not a delimiter"}));
    ASSERT_EQ(m->Attachments().Count(), 1);
    EXPECT_EQ(Attachment(*m, 0), "data");
}

TEST(Decoder, TextBodyRemembersItsCharsetAndType) {
    const auto qp = Decode(kHead + Text({"Content-Type: text/plain; charset=utf-8; format=flowed",
                                         "Content-Transfer-Encoding: quoted-printable", "",
                                         "Gr=C3=BC=", "=C3=9Fe", "second"}));
    EXPECT_EQ(Lines(qp->Body()), (Strings{"Gr\xc3\xbc\xc3\x9f"
                                          "e",
                                          "second"}));
    EXPECT_EQ(qp->CharSet(), csISO8859);
    EXPECT_EQ(qp->CharSetName(), "utf-8");
    EXPECT_EQ(qp->BodyContentType(), "text/plain; format=flowed");

    const auto jis = Decode(
        kHead + Text({"Content-Type: text/plain; charset=ISO-2022-JP", "", "\x1b$B$3\x1b(B"}));
    EXPECT_EQ(jis->CharSet(), csISO2022jp);

    const auto calendar = Decode(
        kHead + Text({"Content-Type: text/calendar; method=REQUEST", "", "BEGIN:VCALENDAR"}));
    EXPECT_EQ(calendar->ContentType(), "text/calendar");

    // Converted to quoted-printable by a relay that did not say so in the field.
    const auto converted =
        Decode(kHead + Text({"Content-Type: text/plain",
                             "X-MIME-Autoconverted: from 8bit to quoted-printable by relay", "",
                             "caf=E9"}));
    EXPECT_EQ(Lines(converted->Body()), (Strings{"caf\xe9"}));
    // Converted the other way: the text is already decoded and stays as it is.
    const auto decoded = Decode(kHead + Text({"Content-Type: text/plain",
                                              "X-MIME-Autoconverted: from quoted-printable to "
                                              "8bit by relay",
                                              "", "a=3D1 ="}));
    EXPECT_EQ(Lines(decoded->Body()), (Strings{"a=3D1 ="}));
}

TEST(Decoder, UuencodedMimeTextStartsOverAsAPlainMessage) {
    const auto m = Decode(Text({"From: ann@example.org", "To: a@x, b@x", "MIME-Version: 1.0",
                                "Content-Type: text/plain", "", "before", "begin 600 x.bin",
                                "#86)C", "`", "end", "after"}));
    EXPECT_EQ(m->Encoding(), meUU);
    EXPECT_EQ(m->Recipients().Count(), 2); // filled once, not twice
    EXPECT_EQ(Lines(m->Body()), (Strings{"before", "after"}));
    EXPECT_EQ(Attachment(*m, 0), "abc");

    const auto part =
        Decode(kHead + Text({"Content-Type: multipart/mixed; boundary=M", "", "--M", "", "t", "--M",
                             "Content-Type: application/x; name=u.bin",
                             "Content-Transfer-Encoding: x-uuencode", "", "begin 644 u.bin",
                             "#86)C", "`", "end", "--M--"}));
    EXPECT_EQ(Attachment(*part, 0), "abc");
}

TEST(Decoder, ArticleFieldsComeFromTheHeaderBlock) {
    TmsArticle article;
    DecodeInto(Text({"From: Ann <ann@example.org>", "Newsgroups: comp.mail.misc", "Path: news!ann",
                     "Message-ID: <1@x>", "Subject: post", "", "text"}),
               article);
    EXPECT_EQ(article.NewsGroups(), "comp.mail.misc");
    EXPECT_EQ(article.Path, "news!ann");
    EXPECT_EQ(article.MessageID, "<1@x>");
    EXPECT_EQ(Lines(article.Body()), (Strings{"text"}));
}

// A server that puts a CR before every LF of a message stored with CR LF sends CR CR LF; such a
// run of CRs is one line end, so the message reads as stored. Other CRs stay line ends of
// their own.
TEST(Decoder, CrCrLfIsOneLineEndAndOtherCrsStayLineEnds) {
    const std::string stored = Text({"From: Ann Example <ann@example.org>",
                                     "Subject: a long",
                                     " folded subject",
                                     "Date: Tue, 07 Nov 2023 10:20:30 +0100",
                                     "MIME-Version: 1.0",
                                     "Content-Type: multipart/mixed; boundary=\"XX\"",
                                     "",
                                     "--XX",
                                     "Content-Type: text/plain; charset=iso-8859-1",
                                     "Content-Transfer-Encoding: quoted-printable",
                                     "",
                                     "Caf=E9 soft=",
                                     "break",
                                     "",
                                     "--XX",
                                     "Content-Type: application/octet-stream; name=\"d.txt\"",
                                     "",
                                     "one",
                                     "two",
                                     "--XX--"});
    std::string served;
    for (const char c : stored) served += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_NE(served.find("\r\r\n"), std::string::npos);
    const auto m = Decode(served);
    const auto expected = Decode(stored);
    EXPECT_EQ(m->Subject(), "a long folded subject");
    EXPECT_EQ(m->Sender().Name(), "Ann Example");
    EXPECT_EQ(Lines(m->Headers()), Lines(expected->Headers()));
    EXPECT_EQ(Lines(m->Body()), (Strings{"Caf\xE9 softbreak", ""}));
    ASSERT_EQ(m->Attachments().Count(), 1);
    EXPECT_EQ(Attachment(*m, 0), "one\r\ntwo");
    EXPECT_EQ(m->Attachments().Items(0).FileName(), "d.txt");

    // Three CRs before the LF are one line end too; a CR before anything else is one, so two
    // of them make an empty line.
    const auto other = Decode("Subject: x\r\r\r\n\r\nlone\rCR\r\ra\r\r\r\nend\r\r\n");
    EXPECT_EQ(other->Subject(), "x");
    EXPECT_EQ(Lines(other->Body()), (Strings{"lone", "CR", "", "a", "end"}));
}

TEST(Decoder, EmptyAndHeaderOnlyTexts) {
    EXPECT_TRUE(Decode("")->Body().Empty());
    const auto m = Decode("Subject: only headers\r\nMIME-Version: 1.0\r\n");
    EXPECT_EQ(m->Subject(), "only headers");
    EXPECT_TRUE(m->Body().Empty());
    EXPECT_EQ(m->Attachments().Count(), 0);
}

} // namespace
