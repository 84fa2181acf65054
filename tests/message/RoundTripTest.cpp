// Decode, encode, decode: for every message of the corpora the second decode gives the same
// model as the first. The mail file is all that is left of a message once the server deletes
// it, so nothing may get lost or changed on the way.
#include "MessageCorpus.h"

#include <gtest/gtest.h>

using namespace msgtest;

namespace {

void ExpectSameAddresses(const TmsAddressList& a, const TmsAddressList& b, const char* what,
                         const std::string& name) {
    ASSERT_EQ(a.Count(), b.Count()) << name << ": " << what;
    for (int i = 0; i < a.Count(); ++i) {
        EXPECT_EQ(a.Items(i).Name(), b.Items(i).Name()) << name << ": " << what << " " << i;
        EXPECT_EQ(a.Items(i).Address(), b.Items(i).Address()) << name << ": " << what << " " << i;
    }
}

// Everything the user received. The labels of the text body are compared from the second
// save on (strict): the first save writes the default charset "us-ascii" and the type
// "text/plain" where the original left them out. The character set enumeration is left out: it
// follows the transfer encoding (quoted-printable gives csISO8859), and text with long lines
// is written quoted-printable.
void ExpectSameModel(const TmsMessage& a, const TmsMessage& b, const std::string& name,
                     bool strict) {
    EXPECT_EQ(a.Subject(), b.Subject()) << name;
    EXPECT_EQ(a.Sender().Name(), b.Sender().Name()) << name;
    EXPECT_EQ(a.Sender().Address(), b.Sender().Address()) << name;
    ExpectSameAddresses(a.Recipients(), b.Recipients(), "To", name);
    ExpectSameAddresses(a.CC(), b.CC(), "CC", name);
    ExpectSameAddresses(a.BCC(), b.BCC(), "BCC", name);
    EXPECT_EQ(a.Priority(), b.Priority()) << name;
    EXPECT_EQ(a.ReturnReceipt(), b.ReturnReceipt()) << name;
    EXPECT_EQ(a.Encoding(), b.Encoding()) << name;
    EXPECT_EQ(a.ContentType(), b.ContentType()) << name;
    if (strict) {
        EXPECT_EQ(a.CharSetName(), b.CharSetName()) << name;
        EXPECT_EQ(a.BodyContentType(), b.BodyContentType()) << name;
    }
    EXPECT_TRUE(a.Body() == b.Body()) << name << ": body differs";
    ASSERT_EQ(a.Attachments().Count(), b.Attachments().Count()) << name;
    for (int i = 0; i < a.Attachments().Count(); ++i) {
        const TmsAttItem& x = a.Attachments().Items(i);
        const TmsAttItem& y = b.Attachments().Items(i);
        EXPECT_EQ(x.FileName(), y.FileName()) << name << " attachment " << i;
        EXPECT_EQ(x.ContentType(), y.ContentType()) << name << " attachment " << i;
        EXPECT_EQ(x.Encoding(), y.Encoding()) << name << " attachment " << i;
        EXPECT_TRUE(x.Data.View() == y.Data.View()) << name << " attachment " << i << " data";
    }
}

void RoundTrip(const std::vector<fs::path>& files) {
    ASSERT_FALSE(files.empty());
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        const std::string text = WithCRLF(ReadBytes(file));
        TmsMessage first, second, third;
        DecodeInto(text, first);
        const std::string saved = Encode(first);
        DecodeInto(saved, second);
        ExpectSameModel(first, second, name, false);
        // Saved again, the file reads back the same once more.
        DecodeInto(Encode(second), third);
        ExpectSameModel(second, third, name + " (second save)", true);
    }
}

TEST(RoundTrip, PythonEmailTestMessages) {
    RoundTrip(PythonEmailMessages());
}

TEST(RoundTrip, GeneratedCorpus) {
    RoundTrip(GeneratedMessages());
}

} // namespace
