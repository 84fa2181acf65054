// The mail library under hostile and unusual mail: time and memory that grow in proportion
// to the message, and the odd forms of data that used to lose bytes.
#include "MessageCorpus.h"

#include "message/msmime.h"
#include "message/mspars.h"
#include "message/msuucode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <malloc.h>

using namespace msgtest;

namespace {

using Strings = std::vector<std::string>;

const std::string kHead = "From: ann@example.org\r\nSubject: s\r\nMIME-Version: 1.0\r\n";

// The shortest of three runs, in seconds.
double Seconds(const std::function<void()>& run) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

// The same shape at 64 KB and 512 KB: linear work takes 8 times as long, quadratic 64 times.
void ExpectLinearTime(const std::function<std::string(std::size_t)>& shape,
                      const std::function<void(const std::string&)>& work) {
    const std::string small = shape(64 * 1024), large = shape(512 * 1024);
    const double a = Seconds([&] { work(small); }), b = Seconds([&] { work(large); });
    // Below a millisecond the clock says little; the large run must stay well under a second.
    EXPECT_LT(b, 0.5);
    if (a > 0.001) {
        EXPECT_LT(b / a, 16.0) << a << " s for 64 KB, " << b << " s for 512 KB";
    }
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

std::string Repeat(const std::string& head, const std::string& unit, std::size_t size) {
    std::string text = head;
    while (text.size() < size) text += unit;
    return text;
}

// Lines of 64 bytes, so that 512 KB of them stay under the header line limit.
std::string ManyFields(std::size_t size) {
    return Repeat(kHead, "Content-Type: text/plain; x-pad=01234567890123456789012345678\r\n",
                  size) +
           "\r\nbody\r\n";
}

// Header blocks of about a million lines in 4 MB: empty fields, and one field folded over
// every line.
std::string TinyFields(std::size_t size) {
    return Repeat(kHead, "X:\r\n", size) + "\r\nbody\r\n";
}

std::string FoldedField(std::size_t size) {
    return Repeat(kHead + "X-Folded:\r\n", " x\r\n", size) + "\r\nbody\r\n";
}

std::string ManyEmptyParts(std::size_t size) {
    return Repeat(kHead + "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n", "--b\r\n\r\n",
                  size) +
           "--b--\r\n";
}

std::string BareLineEnds(std::size_t size) {
    return Repeat(kHead + "\r\n", "\n", size);
}

std::string Base64Wrapped(std::string_view data, std::size_t width) {
    const std::string encoded = Base64EncodeChunk(data);
    std::string text;
    for (std::size_t i = 0; i < encoded.size(); i += width)
        text += encoded.substr(i, width) + "\r\n";
    return text;
}

std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char(i * 37 + 11);
    return s;
}

// The body of a message as the POP3 client hands it over.
TStringList RetrievedBody(std::string_view text) {
    TmsMessage message;
    TMemoryStream stream;
    stream.WriteString(text);
    stream.SetPosition(0);
    message.LoadFromRetrievedStream(stream);
    return message.Body();
}

} // namespace

TEST(HostileMail, ComposedFieldsLeaveInOnePass) {
    ExpectLinearTime(ManyFields, [](const std::string& text) {
        const auto m = Decode(text);
        ASSERT_EQ(m->Attachments().Count(), 0);
        const std::string saved = Encode(*m);
        const std::string head = saved.substr(0, saved.find("\r\n\r\n"));
        ASSERT_EQ(head.find("x-pad"), head.rfind("x-pad"));
    });
    // Every field of the names goes, with its continuation lines; the rest stays in order.
    TStringList headers{"Subject: a", "X-A: 1",     "content-type: x;",
                        " b=1",       "Subject: b", "\tfolded",
                        "X-B: 2",     "",           "Subject: in the body"};
    DeleteFields(headers, {"Subject", "Content-Type"});
    EXPECT_EQ(headers, (TStringList{"X-A: 1", "X-B: 2", "", "Subject: in the body"}));
}

TEST(HostileMail, PartsAreCappedAndTheRestIsKeptWhole) {
    const std::string text = ManyEmptyParts(90 * 1024);
    const auto m = Decode(text);
    ASSERT_EQ(m->Attachments().Count(), 10000);
    EXPECT_EQ(m->Attachments().Items(9999).FileName(), "original.eml");
    EXPECT_EQ(Attachment(*m, 9999), text);
    EXPECT_EQ(m->Body()[m->Body().Count() - 2], "Too many parts (more than 10000)");
    // The saved message reads back as it was saved.
    const auto back = Decode(Encode(*m));
    ASSERT_EQ(back->Attachments().Count(), 10000);
    EXPECT_EQ(WithCRLF(Attachment(*back, 9999)), WithCRLF(text));
    EXPECT_EQ(back->Body(), m->Body());
    ExpectLinearTime(ManyEmptyParts, [](const std::string& text) {
        const auto m = Decode(text);
        Encode(*m);
    });
}

TEST(HostileMail, HeaderBlocksAreCappedAndTheRestIsKeptWhole) {
    const std::string text = TinyFields(64 * 1024);
    const auto m = Decode(text);
    // What fits is filled in; the whole text goes along.
    EXPECT_EQ(m->Sender().Address(), "ann@example.org");
    EXPECT_EQ(m->Subject(), "s");
    EXPECT_LT(m->Headers().Count(), kMaxHeaderLines);
    ASSERT_EQ(m->Attachments().Count(), 1);
    EXPECT_EQ(Attachment(*m, 0), text);
    EXPECT_EQ(m->Body()[1], "Too many header lines (more than 10000)");
    // The saved message, with the fields the encoder adds, reads back as it was saved.
    const auto back = Decode(Encode(*m));
    ASSERT_EQ(back->Attachments().Count(), 1);
    EXPECT_EQ(WithCRLF(Attachment(*back, 0)), WithCRLF(text));
    EXPECT_EQ(back->Body(), m->Body());
    // A part's header block over the limit: the same fallback.
    const std::string parts =
        Repeat(kHead + "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n", "X:\r\n",
               64 * 1024) +
        "\r\ntext\r\n--b--\r\n";
    const auto part = Decode(parts);
    ASSERT_EQ(part->Attachments().Count(), 1);
    EXPECT_EQ(Attachment(*part, 0), parts);
}

TEST(HostileMail, MemoryStaysInProportionToTheMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#endif
    for (const auto& shape : {ManyEmptyParts, BareLineEnds, TinyFields, FoldedField}) {
        const std::string text = shape(4 * 1024 * 1024);
        const std::size_t before = HeapInUse();
        const auto m = Decode(text);
        const std::size_t decoded = HeapInUse() - before;
        const std::string saved = Encode(*m);
        EXPECT_LT(decoded, 4 * text.size()) << decoded << " bytes held for " << text.size();
        // Nothing was dropped: the text the model could not hold is kept whole.
        EXPECT_EQ(Attachment(*m, m->Attachments().Count() - 1), text);
        EXPECT_LT(saved.size(), 3 * text.size());
    }
    ExpectLinearTime(BareLineEnds, [](const std::string& text) { Encode(*Decode(text)); });
}

TEST(HostileMail, Base64GroupsRunOverLineEnds) {
    const std::string data = Bytes(200);
    for (const std::size_t width : {1, 3, 5, 75, 77}) {
        const auto single = Decode(kHead +
                                   "Content-Type: application/octet-stream; name=a.bin\r\n"
                                   "Content-Transfer-Encoding: base64\r\n\r\n" +
                                   Base64Wrapped(data, width));
        ASSERT_EQ(single->Attachments().Count(), 1) << width;
        EXPECT_EQ(Attachment(*single, 0), data) << width;
        const auto part =
            Decode(kHead +
                   "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext\r\n"
                   "--b\r\nContent-Type: image/png; name=p.png\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n" +
                   Base64Wrapped(data, width) + "--b--\r\n");
        ASSERT_EQ(part->Attachments().Count(), 1) << width;
        EXPECT_EQ(Attachment(*part, 0), data) << width;
        const auto body = Decode(kHead + "Content-Transfer-Encoding: base64\r\n\r\n" +
                                 Base64Wrapped("Hello,\r\nworld of wrapped lines\r\n", width));
        EXPECT_EQ(body->Body(), (TStringList{"Hello,", "world of wrapped lines"})) << width;
    }
    // Only the end of the data may hold an incomplete group: two or three characters are one
    // or two bytes, one character none.
    const std::vector<std::pair<Strings, std::string>> table = {
        {{"QU", "JD"}, "ABC"},
        {{"Q", "UJ", "D"}, "ABC"},
        {{"QUI"}, "AB"},
        {{"QQ"}, "A"},
        {{"QUJDQ"}, "ABC"},
        {{"QQ=", "="}, "A"},
        {{"QUJD", "", "QQ=="}, "ABCA"},
    };
    for (const auto& [lines, expected] : table) {
        TBase64Decoder decoder;
        std::string out;
        for (const auto& line : lines) decoder.Append(line, out);
        decoder.Finish(out);
        EXPECT_EQ(out, expected) << lines[0];
    }
}

TEST(HostileMail, LastDotLineIsDroppedOnlyWhereTheTextMayCarryATerminator) {
    const std::string text = "Subject: dots\r\n\r\nRegards\r\n.\r\n";
    EXPECT_EQ(Decode(text)->Body(), (TStringList{"Regards"}));
    EXPECT_EQ(RetrievedBody(text), (TStringList{"Regards", "."}));
    EXPECT_EQ(RetrievedBody("Subject: x\r\nMIME-Version: 1.0\r\n\r\n.\r\n"), (TStringList{"."}));
    // A mail file holds the text as retrieved, not dot-stuffed: every line is the sender's.
    TTempDir dir;
    const std::string file = (dir.Path / "E1.EML").string();
    WriteBytes(file, text);
    TmsMessage loaded;
    loaded.LoadFromFile(file);
    EXPECT_EQ(loaded.Body(), (TStringList{"Regards", "."}));
    loaded.SaveToFile(file);
    EXPECT_NE(ReadBytes(file).find("\r\n\r\nRegards\r\n.\r\n"), std::string::npos);
    loaded.LoadFromFile(file);
    EXPECT_EQ(loaded.Body(), (TStringList{"Regards", "."}));
}

TEST(HostileMail, ProseThatLooksLikeAUuencodeStartStaysText) {
    const std::vector<std::pair<std::string, bool>> begins = {
        {"begin 644 report.doc", true},
        {"begin 0755 a.sh", true},
        {"begin 100 widgets were shipped", true},
        {"begin 644", false},
        {"begin 644 ", false},
        {"begin 64 a", false},
        {"begin 12345 a", false},
        {"begin 648 a", false},
        {"begin 644a", false},
        {"begin644 a", false},
    };
    for (const auto& [line, expected] : begins) EXPECT_EQ(IsUUBegin(line), expected) << line;
    EXPECT_TRUE(IsUUDataLine("#86)C"));
    EXPECT_TRUE(IsUUDataLine("`"));
    EXPECT_FALSE(IsUUDataLine("were shipped today"));
    EXPECT_FALSE(IsUUDataLine("OK")); // a count of 47 bytes
    EXPECT_FALSE(IsUUDataLine(""));

    const Strings prose = {"Hello,", "begin 100 widgets were shipped", "today.", "Regards"};
    std::string lines;
    for (const auto& line : prose) lines += line + "\r\n";
    for (const std::string& head : {std::string("From: a@b\r\n"), kHead}) {
        const auto m = Decode(head + "\r\n" + lines);
        EXPECT_EQ(m->Body().Items(), prose);
        EXPECT_EQ(m->Attachments().Count(), 0);
        EXPECT_EQ(m->Encoding(), meMIME);
    }
    // A block that starts well but does not decode leaves the text as it is.
    const Strings broken = {"see:", "begin 644 a.txt", "#86)C", "and now prose", "`", "end"};
    lines.clear();
    for (const auto& line : broken) lines += line + "\r\n";
    const auto m = Decode("From: a@b\r\n\r\n" + lines);
    EXPECT_EQ(m->Body().Items(), broken);
    EXPECT_EQ(m->Attachments().Count(), 0);
    // Written again, such text stays text, also where the transfer encoding would turn the
    // line after the begin line into valid block data ("\x81" becomes "=81").
    const Strings raw = {"see:", "begin 644 a.txt", std::string("9\x81\x00<W0@", 8), "`", "end"};
    lines.clear();
    for (const auto& line : raw) lines += line + "\r\n";
    const auto qp = Decode("From: a@b\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                           lines);
    ASSERT_EQ(qp->Attachments().Count(), 0);
    TMemoryStream saved;
    qp->SaveToStream(saved);
    saved.SetPosition(0);
    TmsMessage again;
    again.LoadFromStream(saved);
    EXPECT_EQ(again.Attachments().Count(), 0);
    EXPECT_EQ(again.Body().Items(), raw);
    // A good block still becomes an attachment.
    const auto good = Decode("From: a@b\r\n\r\nsee:\r\nbegin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n");
    ASSERT_EQ(good->Attachments().Count(), 1);
    EXPECT_EQ(Attachment(*good, 0), "abc");
}

TEST(HostileMail, SoftBreaksFollowedByBlanks) {
    const std::vector<std::pair<Strings, std::string>> table = {
        {{"abc=  ", "def"}, "abcdef\r\n"},
        {{"abc=\t \t", "def"}, "abcdef\r\n"},
        {{"abc= "}, "abc"},
        {{"abc=3D  "}, "abc=  \r\n"},
        {{"abc  "}, "abc  \r\n"},
    };
    for (const auto& [lines, expected] : table) {
        std::string out;
        for (const auto& line : lines) QPDecodeLineAppend(line, out);
        EXPECT_EQ(out, expected) << lines[0];
    }
    const auto m = Decode(kHead + "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                                  "one long=  \r\nline\r\n");
    EXPECT_EQ(m->Body(), (TStringList{"one longline"}));
}

TEST(HostileMail, LongNestedMultipartTypeKeepsItsBoundary) {
    const std::string type = "multipart/related; type=\"text/html\"; x-note=\"" +
                             std::string(300, 'n') + "\"; boundary=\"inner\"";
    const std::string nested =
        "--inner\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n--inner--\r\n";
    const auto m = Decode(kHead +
                          "Content-Type: multipart/mixed; boundary=outer\r\n\r\n"
                          "--outer\r\n\r\ntext\r\n--outer\r\nContent-Type: " +
                          type + "\r\n\r\n" + nested + "--outer--\r\n");
    ASSERT_EQ(m->Attachments().Count(), 1);
    const TmsAttItem& item = m->Attachments().Items(0);
    EXPECT_EQ(GetHeaderParam("boundary", item.ContentType()), "inner");
    EXPECT_LE(item.ContentType().size(), 255u);
    EXPECT_EQ(item.ContentType().rfind("multipart/related; boundary=\"inner\"; type=", 0), 0u);
    const auto back = Decode(Encode(*m));
    ASSERT_EQ(back->Attachments().Count(), 1);
    EXPECT_EQ(GetHeaderParam("boundary", back->Attachments().Items(0).ContentType()), "inner");
    EXPECT_EQ(WithCRLF(Attachment(*back, 0)), WithCRLF(Attachment(*m, 0)));
}

TEST(HostileMail, DisplayNamesWithQuotesAndBackslashes) {
    TmsMessage m;
    m.Sender().SetName("Ann \"AJ\" Lee");
    m.Sender().SetAddress("ann@example.org");
    TmsMailAddress* to = m.Recipients().Add();
    to->SetName("Sales\\East");
    to->SetAddress("sales@example.net");
    m.Body().Add("hi");
    const std::string saved = Encode(m);
    EXPECT_NE(saved.find("From:     \"Ann \\\"AJ\\\" Lee\" <ann@example.org>\r\n"),
              std::string::npos);
    EXPECT_NE(saved.find("To:       \"Sales\\\\East\" <sales@example.net>\r\n"), std::string::npos);
    const auto back = Decode(saved);
    EXPECT_EQ(back->Sender().Name(), "Ann \"AJ\" Lee");
    EXPECT_EQ(back->Recipients().Items(0).Name(), "Sales\\East");
}
