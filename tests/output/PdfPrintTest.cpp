// A real print through QPrinter into a PDF file, read back with pdftotext.
#include "base/Clock.h"
#include "base/Streams.h"
#include "message/msmsg.h"
#include "output/QtPrintCanvas.h"
#include "output/msMessagePrinter.h"
#include "platform/Prompts.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>

namespace {
// The text of one page (UTF-8, typographic ligatures spelt out), or "" when pdftotext fails.
std::string PageText(const QString& pdf, int page) {
    QProcess p;
    p.start("pdftotext",
            {"-f", QString::number(page), "-l", QString::number(page), "-layout", pdf, "-"});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return "";
    QString text = QString::fromUtf8(p.readAllStandardOutput());
    text.replace(QChar(0xFB00), "ff").replace(QChar(0xFB01), "fi").replace(QChar(0xFB02), "fl");
    return text.toStdString();
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PdfPrint, HeaderBodyAndPageNumbersLandOnTheirPages) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = dir.filePath("message.pdf");
    TManualClock clock;
    SetClock(&clock);

    TmsMessage message;
    message.Sender().SetAddress("anna@example.org");
    message.Sender().SetName("Anna M\xFCller");
    TmsMailAddress* to = message.Recipients().Add();
    to->SetAddress("bert@example.org");
    to->SetName("Bert");
    message.SetSubject("Quartalsbericht");
    message.Body().Add("Hallo Bert,");
    message.Body().Add("");
    message.Body().Add("anbei die Zahlen des dritten Quartals. Die Ums\xE4tze liegen \xFC"
                       "ber dem Plan, die Kosten knapp darunter; die Einzelheiten stehen in "
                       "der Liste unten, Zeile f\xFCr Zeile, damit wir sie am Montag in Ruhe "
                       "durchgehen k\xF6nnen.");
    message.Body().Add("");
    for (int i = 1; i <= 110; ++i)
        message.Body().Add("Zeile " + std::to_string(i) +
                           " des Berichts \xFC"
                           "ber das dritte Quartal.");

    TQtPrintCanvas canvas;
    canvas.SetPdfFile(pdf.toStdString());
    TmsMessagePrinter printer;
    printer.SetCanvas(&canvas);
    printer.SetMailMessage(&message);
    printer.SetPrintDialog(false);
    printer.Username().SetName("eMail: Quartalsbericht");
    printer.SetBodyFont({"Times New Roman", 10, false});
    printer.Print();
    SetClock(nullptr);
    if (const char* keep = std::getenv("PV_SAMPLE_PDF")) QFile::copy(pdf, keep);

    EXPECT_EQ(canvas.Printer().resolution(), 300);
    const std::string one = PageText(pdf, 1);
    const std::string two = PageText(pdf, 2);
    ASSERT_FALSE(one.empty()) << "pdftotext could not read " << pdf.toStdString();
    for (const char* label : {"eMail von:", "Von:", "An:", "Datum:", "Betreff:", "Cc:"})
        EXPECT_TRUE(Has(one, label)) << label;
    EXPECT_TRUE(Has(one, "anna@example.org [Anna M\xC3\xBCller]"));
    EXPECT_TRUE(Has(one, "bert@example.org, [Bert]"));
    EXPECT_TRUE(Has(one, "Ge\xC3\xB6"
                         "ffnet: Dienstag 14 November 2023 22:13"));
    EXPECT_TRUE(Has(one, "Zeile 1 des Berichts \xC3\xBC"
                         "ber das dritte Quartal."));
    // The long paragraph is wrapped into several lines, none of its words lost.
    const std::size_t start = one.find("anbei die Zahlen");
    const std::size_t end = one.find("k\xC3\xB6nnen.");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LT(one.find('\n', start), end);
    EXPECT_TRUE(Has(one, "eMail: Quartalsbericht - Seite 1") ||
                Has(one, "eMail: Quartalsbericht  -  Seite 1"));
    EXPECT_FALSE(Has(one, "Seite 2"));

    EXPECT_TRUE(Has(two, "Seite 2"));
    EXPECT_FALSE(Has(two, "Betreff:"));
    EXPECT_TRUE(Has(two, "Zeile 80 des Berichts"));
    EXPECT_FALSE(Has(one, "Zeile 80 des Berichts"));
}

// Received mail in its own charsets: the header block and the body come back as sent, in
// whatever font on the machine has the glyphs.
TEST(PdfPrint, CyrillicAndCjkMailComesBackAsSent) {
    struct TSample {
        const char* Mail;
        const char* Sender;
        const char* Subject;
        const char* Body;
    };
    const TSample samples[] = {
        {"From: =?koi8-r?B?8NLJ18XU?= <p@example.ru>\r\n"
         "Subject: =?utf-8?B?0J/RgNC40LLQtdGCLCDQvNC40YAg4oCUINC+0YLRh9GR0YI=?=\r\n"
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=koi8-r\r\n\r\n"
         "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2\r\n",
         "p@example.ru [Привет]", "Привет, мир — отчёт", "Привет, мир"},
        {"From: =?iso-2022-jp?B?GyRCOzNFREJATzobKEI=?= <y@example.jp>\r\n"
         "Subject: =?utf-8?B?5Lya6K2w44Gu44GK55+l44KJ44Gb?=\r\n"
         "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=shift_jis\r\n\r\n"
         "\x89\xEF\x8B\x63\r\n",
         "y@example.jp [山田太郎]", "会議のお知らせ", "会議"},
    };
    for (const auto& sample : samples) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString pdf = dir.filePath("message.pdf");
        TMemoryStream stream;
        stream.WriteString(sample.Mail);
        stream.SetPosition(0);
        TmsMessage message;
        message.LoadFromStream(stream);
        TQtPrintCanvas canvas;
        canvas.SetPdfFile(pdf.toStdString());
        TmsMessagePrinter printer;
        printer.SetCanvas(&canvas);
        printer.SetMailMessage(&message);
        printer.SetPrintDialog(false);
        printer.Username().SetName(std::string("eMail: ") + sample.Subject); // the footer
        printer.Print();

        const std::string text = PageText(pdf, 1);
        ASSERT_FALSE(text.empty()) << "pdftotext could not read " << pdf.toStdString();
        for (const char* part : {sample.Sender, sample.Subject, sample.Body})
            EXPECT_TRUE(Has(text, part)) << part << " not in\n" << text;
        EXPECT_TRUE(Has(text, std::string("eMail: ") + sample.Subject + "  -  Seite 1") ||
                    Has(text, std::string("eMail: ") + sample.Subject + " - Seite 1"))
            << text;
    }
}

TEST(PdfPrint, UnwritableFileIsReportedAndNothingPrints) {
    TScriptedPrompts prompts;
    SetPrompts(&prompts);
    TmsMessage message;
    message.Body().Add("Text");
    TQtPrintCanvas canvas;
    canvas.SetPdfFile("/nonexistent-folder/out.pdf");
    TmsMessagePrinter printer;
    printer.SetCanvas(&canvas);
    printer.SetMailMessage(&message);
    printer.SetPrintDialog(false);
    bool ended = false;
    printer.OnEnd = [&](TmsMessagePrinter*) { ended = true; };
    printer.Print();
    SetPrompts(nullptr);

    ASSERT_EQ(prompts.Shown.size(), 1u);
    EXPECT_EQ(prompts.Shown[0].Text, "Der Druckauftrag konnte nicht gestartet werden.\n"
                                     "Die PDF-Datei \"/nonexistent-folder/out.pdf\" kann nicht "
                                     "geschrieben werden.");
    EXPECT_TRUE(ended);
    EXPECT_FALSE(QFile::exists("/nonexistent-folder/out.pdf"));
}
} // namespace
