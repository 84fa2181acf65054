// The printed page layout, drawn on the recording canvas (heights: 5 px per point; widths:
// 2 px per point and character, one more when bold).
#include "base/Clock.h"
#include "base/MessagePump.h"
#include "message/msmsg.h"
#include "output/BodyWrap.h"
#include "output/CanvasFont.h"
#include "output/RecordingCanvas.h"
#include "output/msMessagePrinter.h"
#include "output/msMsgPrinterStatus.h"
#include "platform/Prompts.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {
void AddAddress(TmsAddressList& list, const std::string& address, const std::string& name) {
    TmsMailAddress* a = list.Add();
    a->SetAddress(address);
    a->SetName(name);
}

class MessagePrinter : public ::testing::Test {
protected:
    void SetUp() override {
        SetClock(&Clock);
        SetPrompts(&Prompts);
        Message.Sender().SetAddress("anna@example.org");
        Message.Sender().SetName("Anna Muster");
        AddAddress(Message.Recipients(), "bert@example.org", "Bert");
        AddAddress(Message.Recipients(), "carl@example.org", "");
        Message.SetSubject("Treffen");
        Message.Headers().Add("Date: Tue, 14 Nov 2023 10:20:30 +0000");
        Printer.SetCanvas(&Canvas);
        Printer.SetMailMessage(&Message);
        Printer.Username().SetName("eMail: Treffen");
        Printer.SetBodyFont({"Times New Roman", 10, false});
        Printer.OnStart = [this](TmsMessagePrinter*) { Events.push_back("start"); };
        Printer.OnEnd = [this](TmsMessagePrinter*) { Events.push_back("end"); };
        Printer.OnCancel = [this](TmsMessagePrinter*) { Events.push_back("cancel"); };
        Printer.OnProgress = [this](TmsMessagePrinter*, int page, int pages) {
            Events.push_back("progress " + std::to_string(page) + "/" + std::to_string(pages));
        };
    }
    void TearDown() override {
        SetClock(nullptr);
        SetPrompts(nullptr);
        RemoveMessagePump();
    }
    void SetBody(int lines) {
        for (int i = 1; i <= lines; ++i) Message.Body().Add("Zeile " + std::to_string(i));
    }
    // (x, y) of a text, or (-1, -1).
    std::pair<int, int> At(const std::string& text) const {
        const TCanvasOp* op = Canvas.FindText(text);
        return op ? std::pair{op->X, op->Y} : std::pair{-1, -1};
    }
    std::vector<std::string> PageTexts(int page) const {
        std::vector<std::string> texts;
        for (const TCanvasOp& op : Canvas.Texts(page)) texts.push_back(op.Text);
        return texts;
    }

    TManualClock Clock;
    TScriptedPrompts Prompts;
    TmsMessage Message;
    TRecordingCanvas Canvas;
    TmsMessagePrinter Printer;
    std::vector<std::string> Events;
};

using P = std::pair<int, int>;

TEST_F(MessagePrinter, HeaderBlockBodyAndFooterOnOnePage) {
    SetBody(3);
    Printer.Print();

    EXPECT_EQ(Canvas.DialogsShown, 1);
    ASSERT_EQ(Canvas.Ops.front().Kind, TCanvasOp::coBegin);
    EXPECT_EQ(Canvas.Ops.front().Text, "eMail - Treffen");
    EXPECT_EQ(Canvas.Ops.back().Kind, TCanvasOp::coEnd);

    // 12 pt bold: h = 60. The heading at 3h, its rule at 4h + 10 across the page.
    const TCanvasOp* heading = Canvas.FindText("eMail von: anna@example.org [Anna Muster]");
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(P(heading->X, heading->Y), P(150, 180));
    EXPECT_EQ(heading->Font, (TCanvasFont{"Arial", 12, true}));
    // 10 pt bold: h = 50, line n at 3h + n*h, starting with n = 3.
    EXPECT_EQ(At("Von:"), P(150, 300));
    EXPECT_EQ(At("anna@example.org [Anna Muster]"), P(400, 300));
    EXPECT_EQ(At("An:"), P(150, 350));
    EXPECT_EQ(At("bert@example.org, [Bert]"), P(400, 350));
    EXPECT_EQ(At("carl@example.org"), P(400, 400)); // no empty brackets without a name
    EXPECT_EQ(At("Datum:"), P(150, 450));
    EXPECT_EQ(At("Dienstag 14 November 2023 10:20"), P(400, 450));
    EXPECT_EQ(At("Betreff:"), P(150, 500));
    EXPECT_EQ(At("Treffen"), P(400, 500));
    EXPECT_EQ(At("Cc:"), P(150, 550));
    EXPECT_EQ(At("Kein"), P(400, 550));
    EXPECT_EQ(Canvas.FindText("Bcc:"), nullptr);
    EXPECT_EQ(Canvas.FindText("Von:")->Font, (TCanvasFont{"Arial", 10, true}));

    std::vector<P> rules;
    for (const TCanvasOp& op : Canvas.Ops)
        if (op.Kind == TCanvasOp::coLine) {
            EXPECT_EQ(P(op.X, op.X2), P(150, 2300));
            EXPECT_EQ(op.Y, op.Y2);
            rules.push_back({op.Y, op.Page});
        }
    EXPECT_EQ(rules, (std::vector<P>{{250, 1}, {660, 1}})); // 3h + 10h + 10

    // The body follows the closing rule, one body-font line apart.
    EXPECT_EQ(At("Zeile 1"), P(150, 710));
    EXPECT_EQ(At("Zeile 3"), P(150, 810));
    EXPECT_EQ(Canvas.FindText("Zeile 1")->Font, (TCanvasFont{"Times New Roman", 10, false}));
    // Footer, centred, 300 px above the page end: 26 characters of 20 px.
    EXPECT_EQ(At("eMail: Treffen  -  Seite 1"), P(1200 - 260, 3100));

    EXPECT_EQ(Events, (std::vector<std::string>{"start", "progress 1/0", "end"}));
    EXPECT_EQ(Printer.StatusForm(), nullptr);
}

TEST_F(MessagePrinter, MissingValuesBlindCopiesAndTheTimeOfPrinting) {
    Message.Sender().Clear();
    Message.Recipients().Clear();
    Message.Headers().Clear();
    Message.Headers().Add("Date: sometime soon");
    AddAddress(Message.CC(), "eve@example.org", "");
    AddAddress(Message.BCC(), "dora@example.org", "Dora");
    Printer.PrintBcc = true;
    Printer.SetPrintDialog(false);
    Printer.Print();

    EXPECT_EQ(Canvas.DialogsShown, 0);
    EXPECT_EQ(At("eMail von: "), P(150, 180));
    EXPECT_EQ(At("Von:"), P(150, 300));
    EXPECT_EQ(At(""), P(400, 300)); // the sender's empty value
    // No recipient: "Kein", and the next entries stay one line apart.
    EXPECT_EQ(At("An:"), P(150, 350));
    EXPECT_EQ(At("Kein"), P(400, 350));
    EXPECT_EQ(At("Datum:"), P(150, 400));
    // No date that parses: the clock's time (2023-11-14 22:13:20 UTC).
    EXPECT_EQ(At("Geöffnet: Dienstag 14 November 2023 22:13"), P(400, 400));
    EXPECT_EQ(At("eve@example.org"), P(400, 500));
    EXPECT_EQ(At("Bcc:"), P(150, 550));
    EXPECT_EQ(At("dora@example.org, [Dora]"), P(400, 550));
    // No body: the footer follows the header on the same page and the job ends.
    const std::vector<std::string> texts = PageTexts(1);
    EXPECT_EQ(texts.back(), "eMail: Treffen  -  Seite 1");
    EXPECT_EQ(Canvas.Ops.back().Kind, TCanvasOp::coEnd);
    for (const TCanvasOp& op : Canvas.Ops) EXPECT_NE(op.Kind, TCanvasOp::coNewPage);
}

TEST_F(MessagePrinter, LongBodyBreaksIntoPagesWithFooters) {
    Canvas.Height = 2000; // lines down to y = 1600; the estimate is 60 / (2000 / 48) = 1
    SetBody(60);
    Printer.Print();

    // Page 1 from y = 710: lines 1..18; the 19th would fall at 1610.
    EXPECT_EQ(At("Zeile 18"), P(150, 1560));
    EXPECT_EQ(At("eMail: Treffen  -  Seite 1"), P(940, 1700));
    // Continuation pages start at y = 50 without a header; 32 lines fit (50..1600).
    const TCanvasOp* l19 = Canvas.FindText("Zeile 19");
    ASSERT_NE(l19, nullptr);
    EXPECT_EQ(P(l19->Page, l19->Y), P(2, 50));
    EXPECT_EQ(At("Zeile 50"), P(150, 1600));
    EXPECT_EQ(Canvas.FindText("Zeile 51")->Page, 3);
    EXPECT_EQ(At("Zeile 51"), P(150, 50));

    for (int page = 1; page <= 3; ++page) {
        const std::vector<std::string> texts = PageTexts(page);
        EXPECT_EQ(texts.back(), "eMail: Treffen  -  Seite " + std::to_string(page));
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "Von:"), page == 1 ? 1 : 0);
    }
    EXPECT_EQ(Canvas.Texts(3).back().Y, 1700);
    EXPECT_EQ(Events, (std::vector<std::string>{"start", "progress 1/1", "end"}));
}

TEST_F(MessagePrinter, StatusWindowShowsProgressAndItsButtonCancelsAfterTheLine) {
    SetBody(10);
    std::vector<std::string> statusTexts;
    Canvas.OnOp = [&](const TCanvasOp& op) {
        TmsMessagePrinterStatus* status = Printer.StatusForm();
        ASSERT_NE(status, nullptr);
        if (op.Kind == TCanvasOp::coBegin || op.Kind == TCanvasOp::coEnd)
            statusTexts.push_back(status->StatusText());
        if (op.Text == "Zeile 3") {
            EXPECT_EQ(status->Lines().size(), 10u);
            // A click that waits in the event queue, as a real one would.
            QMetaObject::invokeMethod(status->CancelButton(), "click", Qt::QueuedConnection);
        }
    };
    InstallMessagePump([] { QCoreApplication::processEvents(); });
    Printer.Print();

    EXPECT_NE(Canvas.FindText("Zeile 3"), nullptr);
    EXPECT_EQ(Canvas.FindText("Zeile 4"), nullptr);
    EXPECT_EQ(PageTexts(1).back(), "eMail: Treffen  -  Seite 1");
    EXPECT_EQ(Canvas.Ops.back().Kind, TCanvasOp::coEnd); // the pages so far are output
    EXPECT_EQ(Events, (std::vector<std::string>{"start", "progress 1/0", "cancel", "end"}));
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Drucke...", "Druck beendet"}));

    // Without StatusWindow the label keeps "Drucke...".
    statusTexts.clear();
    Canvas.Ops.clear();
    Printer.SetStatusWindow(false);
    Printer.Print();
    EXPECT_EQ(statusTexts.back(), "Drucke...");
}

TEST_F(MessagePrinter, RefusalsAndFailuresLeaveNothingHalfDone) {
    SetBody(2);
    TmsMessagePrinter empty;
    empty.SetCanvas(&Canvas);
    try {
        empty.Print();
        FAIL() << "no exception";
    } catch (const ENoMailMessage& e) {
        EXPECT_EQ(e.Message, "Kein eMail zum drucken Benannt");
    }
    EXPECT_EQ(Canvas.DialogsShown, 0);

    // The printer choice cancelled: nothing printed, no event.
    Canvas.DialogAnswer = false;
    Printer.Print();
    EXPECT_TRUE(Canvas.Ops.empty());
    EXPECT_TRUE(Events.empty());

    // A job that cannot start is told to the user; the message stays as it was.
    Canvas.DialogAnswer = true;
    Canvas.BeginError = "Die PDF-Datei \"/x/y.pdf\" kann nicht geschrieben werden.";
    Printer.Print();
    EXPECT_TRUE(Canvas.Ops.empty());
    ASSERT_EQ(Prompts.Shown.size(), 1u);
    EXPECT_EQ(Prompts.Shown[0].Text,
              "Der Druckauftrag konnte nicht gestartet werden.\n" + Canvas.BeginError);
    EXPECT_EQ(Prompts.Shown[0].Type, mtError);
    EXPECT_EQ(Events, (std::vector<std::string>{"start", "end"}));
    EXPECT_EQ(Message.Body().Count(), 2);
    EXPECT_EQ(Printer.StatusForm(), nullptr);

    // An error while drawing drops the job and the status window, and reaches the caller.
    Canvas.BeginError.clear();
    Printer.OnProgress = [](TmsMessagePrinter*, int, int) { throw Exception("paper jam"); };
    EXPECT_THROW(Printer.Print(), Exception);
    EXPECT_EQ(Canvas.Ops.back().Kind, TCanvasOp::coAbort);
    EXPECT_EQ(Printer.StatusForm(), nullptr);
}

TEST_F(MessagePrinter, HeaderTooLongForThePageGoesOnOnTheNext) {
    for (int i = 0; i < 80; ++i) AddAddress(Message.CC(), "cc" + std::to_string(i) + "@x.org", "");
    SetBody(1);
    Printer.Print();

    // Lines stop at 3400 - 400; only the footer lies below.
    for (const TCanvasOp& op : Canvas.Texts())
        if (op.Text.find("Seite") == std::string::npos) {
            EXPECT_LE(op.Y, 3000) << op.Text;
        }
    const TCanvasOp* last = Canvas.FindText("cc79@x.org");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Page, 2);
    int firstOnTwo = -1;
    for (int i = 0; i < 80 && firstOnTwo < 0; ++i)
        if (Canvas.FindText("cc" + std::to_string(i) + "@x.org")->Page == 2) firstOnTwo = i;
    EXPECT_EQ(Canvas.FindText("cc" + std::to_string(firstOnTwo) + "@x.org")->Y, 50);
    EXPECT_EQ(Canvas.FindText("cc" + std::to_string(firstOnTwo - 1) + "@x.org")->Y, 3000);
    EXPECT_EQ(PageTexts(1).back(), "eMail: Treffen  -  Seite 1");
    EXPECT_EQ(PageTexts(2).back(), "eMail: Treffen  -  Seite 2");
    EXPECT_EQ(Canvas.FindText("Zeile 1")->Page, 2);
}

TEST(BodyWrap, BreaksAtWordsWithinTheBoxWidthAndKeepsEveryCharacter) {
    const QFont font = MakeQtFont({"MS Sans Serif", 8, false});
    std::string words;
    for (int i = 0; i < 60; ++i) words += "Grüße" + std::to_string(i) + " ";
    const std::string longWord(400, 'x');
    const TStringList body{words, "", "kurz", longWord};
    const std::vector<std::string> lines = WrapTextLines(body, font, 570);

    const QFontMetrics metrics(font);
    std::string joined;
    std::size_t i = 0;
    for (; i < lines.size() && joined.size() < words.size(); ++i) {
        joined += lines[i];
        EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(lines[i]).trimmed()), 570);
        // Broken between words, not inside one.
        if (joined.size() < words.size()) {
            EXPECT_EQ(lines[i].back(), ' ');
        }
    }
    EXPECT_GT(i, 2u);
    EXPECT_EQ(joined, words);
    ASSERT_EQ(lines.size() - i >= 3, true);
    EXPECT_EQ(lines[i], "");
    EXPECT_EQ(lines[i + 1], "kurz");
    // A word wider than the box is broken where it must be.
    std::string rest;
    for (std::size_t j = i + 2; j < lines.size(); ++j) rest += lines[j];
    EXPECT_EQ(rest, longWord);
    EXPECT_GT(lines.size() - (i + 2), 1u);
}
} // namespace
