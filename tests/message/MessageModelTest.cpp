#include "base/Exceptions.h"
#include "message/msmsg.h"
#include "message/mspars.h"

#include <gtest/gtest.h>

namespace {
TmsAttItem* AddAttachment(TmsCustomMessage& m, const std::string& name, const std::string& type) {
    TmsAttItem* a = m.Attachments().Add();
    a->SetFileName(name);
    if (!type.empty()) a->SetContentType(type);
    return a;
}

TStringList Lines(std::initializer_list<std::string> l) {
    return TStringList(l);
}
} // namespace

TEST(MessageModel, DefaultsAndClear) {
    TmsMessage m;
    EXPECT_EQ(m.ContentType(), "text/plain");
    EXPECT_EQ(m.Priority(), ptNormal);
    EXPECT_STREQ(TmsMessage::Version(), "2.02");
    m.SetSubject(std::string(300, 's'));
    EXPECT_EQ(m.Subject().size(), 255u);
    m.Body().Add("x");
    m.SetContentType("Text/HTML");
    m.SetPriority(ptHigh);
    m.SetReturnReceipt(true);
    m.Recipients().Add()->SetAddress("a@b");
    m.Clear();
    EXPECT_EQ(m.ContentType(), "text/plain");
    EXPECT_EQ(m.Recipients().Count(), 0);
    EXPECT_EQ(m.Body().Count(), 0);
    // Clear keeps these two; ProcessHeaders sets them anew.
    EXPECT_EQ(m.Priority(), ptHigh);
    EXPECT_TRUE(m.ReturnReceipt());
}

TEST(MessageModel, ContentTypeIsDerivedFromBodyAndAttachments) {
    TmsMessage m;
    m.Body().Add("one");
    m.SetContentType("Text/HTML");
    EXPECT_EQ(m.ContentType(), "text/html"); // kept: body lines, no attachment

    AddAttachment(m, "pic.gif", "image/gif");
    EXPECT_EQ(m.ContentType(), "multipart/mixed");
    m.Body().Clear();
    EXPECT_EQ(m.ContentType(), "image/gif"); // single attachment, no body
    AddAttachment(m, "more.bin", "");
    EXPECT_EQ(m.ContentType(), "multipart/mixed");

    TmsMessage html;
    AddAttachment(html, "C:\\tmp\\_HTMBODY.htm", "");
    EXPECT_EQ(html.ContentType(), "text/html");
    TmsMessage rtf;
    AddAttachment(rtf, "_rtfbody.rtf", "");
    EXPECT_EQ(rtf.ContentType(), "text/rtf");

    TmsMessage alt;
    AddAttachment(alt, "_alt.0", "text/plain");
    AddAttachment(alt, "_ALT.1", "text/html");
    EXPECT_EQ(alt.ContentType(), "multipart/alternative");
    alt.Body().Add("body");
    EXPECT_EQ(alt.ContentType(), "multipart/alternative");

    alt.SetEncoding(meUU);
    EXPECT_EQ(alt.ContentType(), "");
}

TEST(MessageModel, SetFileNameChoosesTypeAndEncoding) {
    SetContentTypeLookup([](std::string_view ext) -> std::string {
        if (ext == ".txt") return "text/plain";
        if (ext == ".eml") return "message/rfc822";
        return "";
    });
    TmsAttItem a;
    a.SetFileName("notes.txt");
    EXPECT_EQ(a.ContentType(), "text/plain");
    EXPECT_EQ(a.Encoding(), aeQuotedPrintable);
    a.SetFileName("fwd.eml");
    EXPECT_EQ(a.Encoding(), aeSevenBit);
    a.SetFileName("data.zzqq");
    EXPECT_EQ(a.ContentType(), "application/octet-stream");
    EXPECT_EQ(a.Encoding(), aeBase64);
    a.SetFileName(""); // leaves type and encoding alone
    EXPECT_EQ(a.ContentType(), "application/octet-stream");
    EXPECT_EQ(a.FileName(), "");
    SetContentTypeLookup(nullptr);
}

TEST(MessageModel, AssignCopiesDeeply) {
    TmsMessage src;
    src.Sender().SetAddress("from@example.org");
    src.Recipients().Add()->SetAddress("to@example.org");
    src.SetPriority(ptLow);
    src.SetReturnReceipt(true);
    src.Body().Add("line");
    src.Tag = 7;
    TmsAttItem* a = AddAttachment(src, "x.bin", "application/x-test");
    a->Data.WriteString(std::string("\0\1\2", 3));

    TmsMessage dst;
    dst.Assign(src);
    a->Data.WriteString("changed");
    src.Recipients().Clear();
    EXPECT_EQ(dst.Sender().Address(), "from@example.org");
    ASSERT_EQ(dst.Recipients().Count(), 1);
    EXPECT_EQ(dst.Priority(), ptLow);
    EXPECT_TRUE(dst.ReturnReceipt());
    EXPECT_EQ(dst.Tag, 7);
    ASSERT_EQ(dst.Attachments().Count(), 1);
    EXPECT_EQ(dst.Attachments().Items(0).Data.View(), std::string_view("\0\1\2", 3));
    EXPECT_EQ(dst.Attachments().Items(0).ContentType(), "application/x-test");
    EXPECT_EQ(dst.ContentType(), "multipart/mixed");

    TmsArticle art;
    art.SetNewsGroups("comp.mail");
    art.SetSubject("s");
    dst.Assign(art); // only the common part
    EXPECT_EQ(dst.Subject(), "s");
    EXPECT_EQ(dst.Recipients().Count(), 1);

    TmsAttList list;
    list.Add()->SetFileName("a.bin");
    dst.SetAttachments(list);
    EXPECT_EQ(dst.StoredContentType(), "multipart/mixed");
    EXPECT_THROW(list.Items(3), EListError);
}

TEST(MessageModel, CheckRequiredTexts) {
    TmsMessage m;
    try {
        m.CheckRequired();
        FAIL();
    } catch (const EMessageError& e) {
        EXPECT_EQ(e.Message, "The address of sender is required");
    }
    m.Sender().SetAddress("a@b");
    m.BCC().Add(); // an entry without an address does not count
    try {
        m.CheckRequired();
        FAIL();
    } catch (const EMessageError& e) {
        EXPECT_EQ(e.Message, "At least one Recipient, CC or BCC must be entered");
    }
    m.BCC().Add()->SetAddress("c@d");
    EXPECT_NO_THROW(m.CheckRequired());

    TmsArticle a;
    a.Sender().SetAddress("a@b");
    try {
        a.CheckRequired();
        FAIL();
    } catch (const EMessageError& e) {
        EXPECT_EQ(e.Message, "Newsgroup header is required");
    }
    a.SetNewsGroups("x");
    try {
        a.CheckRequired();
        FAIL();
    } catch (const EMessageError& e) {
        EXPECT_EQ(e.Message, "Subject header is required");
    }
}

TEST(MessageModel, ProcessHeadersFillsTheMessage) {
    TmsMessage m;
    const TStringList headers = Lines({
        "From: \"Fred Bloggs\" <fred@example.org>",
        "To: a@example.org, \"Smith, John\" <js@example.org>",
        "cc: c@example.org",
        "Subject: =?iso-8859-1?Q?Caf=E9?=",
        "X-Priority: 1",
        "Return-Receipt-To: fred@example.org",
    });
    m.ProcessHeaders(headers);
    EXPECT_EQ(m.Sender().Name(), "Fred Bloggs");
    EXPECT_EQ(m.Sender().Address(), "fred@example.org");
    ASSERT_EQ(m.Recipients().Count(), 2);
    EXPECT_EQ(m.Recipients().Items(1).Name(), "Smith, John");
    EXPECT_EQ(m.CC().Count(), 1);
    EXPECT_EQ(m.Subject(), "Caf\xe9");
    EXPECT_EQ(m.Priority(), ptHigh);
    EXPECT_TRUE(m.ReturnReceipt());
    EXPECT_EQ(m.Headers(), headers);

    // The next message of the run does not inherit the receipt request or the priority.
    m.Clear();
    m.ProcessHeaders(Lines({"From: b@example.org", "X-Priority: 1 (Highest)"}));
    EXPECT_FALSE(m.ReturnReceipt());
    EXPECT_EQ(m.Priority(), ptNormal);
    m.ProcessHeaders(Lines({"X-Priority: 5"}));
    EXPECT_EQ(m.Priority(), ptLow);
    m.ProcessHeaders(Lines({"X-Priority: 3"}));
    EXPECT_EQ(m.Priority(), ptNormal);
}

TEST(MessageModel, ProcessHeadersKeepsAnUnparsableAddressRaw) {
    TmsMessage m;
    m.ProcessHeaders(Lines({"From: Fred <broken", "To: ok@example.org, Bad <x@y", "Subject: s"}));
    EXPECT_EQ(m.Sender().Address(), "Fred <broken");
    EXPECT_EQ(m.Sender().Name(), "");
    ASSERT_EQ(m.Recipients().Count(), 2);
    EXPECT_EQ(m.Recipients().Items(0).Address(), "ok@example.org");
    EXPECT_EQ(m.Recipients().Items(1).Address(), "Bad <x@y");
    EXPECT_EQ(m.Subject(), "s");
}

TEST(MessageModel, ArticleProcessHeadersAndClear) {
    TmsArticle a;
    a.ProcessHeaders(Lines({"From: n@example.org", "Path: a!b", "Newsgroups: comp.x",
                            "Message-ID: <1@x>", "Subject: hi"}));
    EXPECT_EQ(a.Path, "a!b");
    EXPECT_EQ(a.NewsGroups(), "comp.x");
    EXPECT_EQ(a.MessageID, "<1@x>");
    a.Clear();
    EXPECT_EQ(a.NewsGroups(), "");
    EXPECT_EQ(a.MessageID, "<1@x>");
}

TEST(MessageModel, LoadFromFileThatCannotBeOpenedLeavesMessageCleared) {
    TmsMessage m;
    m.SetSubject("old");
    EXPECT_THROW(m.LoadFromFile("/nonexistent/file.eml"), EFOpenError);
    EXPECT_EQ(m.Subject(), "");
}

TEST(MessageModel, AddressEditorHook) {
    TmsMailAddress a;
    EXPECT_FALSE(a.Edit());
    SetAddressEditor([](std::string& name, std::string& address) {
        name = std::string(300, 'n');
        address = "new@example.org";
        return true;
    });
    EXPECT_TRUE(a.Edit());
    EXPECT_EQ(a.Name().size(), 255u);
    EXPECT_EQ(a.Address(), "new@example.org");
    SetAddressEditor(nullptr);
}
