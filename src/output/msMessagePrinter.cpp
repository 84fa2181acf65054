#include "output/msMessagePrinter.h"

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "message/msmsg.h"
#include "message/msmsgtext.h"
#include "message/mspars.h"
#include "output/QtPrintCanvas.h"
#include "output/msMsgPrinterStatus.h"
#include "platform/Prompts.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>

namespace {
const char* const kNoMailMessage = "Kein eMail zum drucken Benannt";
const char* const kAlreadyPrinting = "Es wird bereits gedruckt";
const char* const kPrinting = "Drucke...";
const char* const kPrintDone = "Druck beendet";
const char* const kJobTitle = "eMail - ";
const char* const kSenderHeading = "eMail von: ";
const char* const kFromLabel = "Von:";
const char* const kToLabel = "An:";
const char* const kDateLabel = "Datum:";
const char* const kSubjectLabel = "Betreff:";
const char* const kCcLabel = "Cc:";
const char* const kBccLabel = "Bcc:";
const char* const kNone = "Kein";
const char* const kOpened = "Ge\xF6"
                            "ffnet: ";
const char* const kPageNumber = "  -  Seite ";
const char* const kJobFailedCaption = "Drucken";
const char* const kJobFailed = "Der Druckauftrag konnte nicht gestartet werden.";
const char* const kHeaderFontName = "Arial";
const char* const kLineHeightSample = "MMM";
// Weekday, day, month name, year, hours and minutes in the user's language.
const char* const kDateFormat = "dddd d MMMM yyyy hh:mm";

// Layout in device pixels (at 300 dpi).
constexpr int kLeft = 150;
constexpr int kValueLeft = 400;
constexpr int kRightMargin = 100;
constexpr int kRuleGap = 10;
constexpr int kFooterRoom = 400;    // no line below page height minus this
constexpr int kFooterFromEnd = 300; // the footer's distance from the page end
constexpr int kContinuationTop = 50;
constexpr int kEstimateLineHeight = 48;
constexpr int kHeadingSize = 12;
constexpr int kHeaderSize = 10;

// Everything printed is Unicode (UTF-8): the message's texts come from its Unicode views,
// the program's own 8-bit texts are converted.

// "address [name]"; an address without a display name stands alone.
std::string SenderLine(const TmsAddressText& sender) {
    if (sender.Address.empty()) return "";
    if (sender.Name.empty()) return sender.Address;
    return sender.Address + " [" + sender.Name + "]";
}

// "address, [name]"; an address without a display name stands alone.
std::string RecipientLine(const TmsAddressText& recipient) {
    if (recipient.Name.empty()) return recipient.Address;
    return recipient.Address + ", [" + recipient.Name + "]";
}

// The Date header as the user reads dates, or "Geöffnet: " and the time of printing when
// the message has no date that parses.
std::string DateText(const TmsMessage& message) {
    TDateTime value = 0;
    std::string zone;
    try {
        ParseMailDate(GetHeaderValue(message.Headers(), "Date"), value, zone);
    } catch (const Exception&) {
        value = 0;
    }
    std::string prefix;
    QDateTime when;
    if (value == 0) {
        prefix = Cp1252ToUtf8(kOpened);
        when = QDateTime::fromMSecsSinceEpoch(Clock().WallMs());
    } else {
        int y, mo, d, h, mi, s;
        DecodeDateTime(value, y, mo, d, h, mi, s);
        when = QDateTime(QDate(y, mo, d), QTime(h, mi, s));
    }
    return prefix + QLocale().toString(when, QString::fromLatin1(kDateFormat)).toStdString();
}
} // namespace

TmsMessagePrinter::TmsMessagePrinter() = default;

TmsMessagePrinter::~TmsMessagePrinter() = default;

TPrintCanvas& TmsMessagePrinter::Canvas() {
    if (FCanvas) return *FCanvas;
    if (!FOwnCanvas) FOwnCanvas = std::make_unique<TQtPrintCanvas>();
    return *FOwnCanvas;
}

void TmsMessagePrinter::Print() {
    if (!FMailMessage) throw ENoMailMessage(kNoMailMessage);
    // The print loop lets events run, so a handler could try to print meanwhile.
    if (FStatus) throw Exception(kAlreadyPrinting);
    TPrintCanvas& canvas = Canvas();
    if (FPrintDialog && !canvas.ChoosePrinter()) return;

    FStatus = std::make_unique<TmsMessagePrinterStatus>();
    FStatus->SetMailMessage(FMailMessage);
    FStatus->show();
    bool begun = false;
    try {
        if (OnStart) OnStart(this);
        const std::string senderText = SenderLine(SenderText(*FMailMessage));
        const std::string dateText = DateText(*FMailMessage);
        const std::string title = kJobTitle + SubjectText(*FMailMessage);
        FPageWidth = canvas.PageWidth();
        FPageHeight = canvas.PageHeight();
        FNumberOfPages =
            FMailMessage->Body().Count() / std::max(1, FPageHeight / kEstimateLineHeight);
        FStatus->SetStatusText(kPrinting);

        std::string error;
        if (!canvas.BeginDoc(title, error)) {
            FreeStatus();
            Prompts().Show(
                {kJobFailedCaption, std::string(kJobFailed) + "\n" + error, mtError, mbOK});
            if (OnEnd) OnEnd(this);
            return;
        }
        begun = true;
        SetCanvasFont(kHeaderFontName, FFont.Size, FFont.Bold);
        FCurrentPage = 1;
        if (OnProgress) OnProgress(this, 1, FNumberOfPages);
        PrintHeader(senderText, dateText);
        PrintBody();
        PrintFooter();
        if (FStatusWindow) FStatus->SetStatusText(kPrintDone);
        begun = false;
        canvas.EndDoc();
    } catch (...) {
        if (begun) canvas.Abort();
        FreeStatus();
        throw;
    }
    FreeStatus();
    if (OnEnd) OnEnd(this);
}

void TmsMessagePrinter::FreeStatus() {
    if (!FStatus) return;
    FStatus->hide();
    FStatus.reset();
}

void TmsMessagePrinter::SetCanvasFont(const std::string& name, int size, bool bold) {
    FFont = TCanvasFont{name, size, bold};
    Canvas().SetFont(FFont);
}

int TmsMessagePrinter::LineHeight() {
    return Canvas().TextHeight(kLineHeightSample);
}

void TmsMessagePrinter::NextPage() {
    Canvas().NewPage();
    ++FCurrentPage;
}

void TmsMessagePrinter::KeepOnPage(int& y) {
    if (y <= FPageHeight - kFooterRoom) return;
    PrintFooter();
    NextPage();
    y = kContinuationTop;
}

void TmsMessagePrinter::PrintHeader(const std::string& senderText, const std::string& dateText) {
    TPrintCanvas& canvas = Canvas();
    const TmsMessage& message = *FMailMessage;
    SetCanvasFont(kHeaderFontName, kHeadingSize, true);
    int h = LineHeight();
    int n = 1;
    canvas.TextOut(kLeft, 2 * h + n * h, kSenderHeading + senderText);
    int y = 3 * h + n * h + kRuleGap;
    canvas.Line(kLeft, y, FPageWidth - kRightMargin, y);
    n += 2;

    // Every label and value in bold. A block too long for the page (a huge list of
    // recipients) goes on at the top of the next page rather than off its end.
    SetCanvasFont(kHeaderFontName, kHeaderSize, true);
    h = LineHeight();
    int shift = 0;
    auto lineY = [&](int extra) {
        int at = 3 * h + n * h + extra + shift;
        const int wanted = at;
        KeepOnPage(at);
        shift += at - wanted;
        return at;
    };
    auto entry = [&](const char* label, const std::string& value) {
        const int at = lineY(0);
        canvas.TextOut(kLeft, at, label);
        canvas.TextOut(kValueLeft, at, value);
        ++n;
    };
    auto addresses = [&](const char* label, const char* field) {
        const std::vector<TmsAddressText> list = RecipientsText(message, field);
        if (list.empty()) return entry(label, kNone);
        canvas.TextOut(kLeft, lineY(0), label);
        for (const auto& address : list) {
            canvas.TextOut(kValueLeft, lineY(0), RecipientLine(address));
            ++n;
        }
    };
    entry(kFromLabel, senderText);
    addresses(kToLabel, "To");
    entry(kDateLabel, dateText);
    entry(kSubjectLabel, SubjectText(message));
    addresses(kCcLabel, "CC");
    if (PrintBcc) addresses(kBccLabel, "BCC");
    ++n;
    y = lineY(kRuleGap);
    canvas.Line(kLeft, y, FPageWidth - kRightMargin, y);
    FPenY = y;
}

void TmsMessagePrinter::PrintBody() {
    SetCanvasFont(FBodyFont.Name, FBodyFont.Size, false);
    const int h = LineHeight();
    // The lines stay with the status window, which lives until the print is over.
    for (const std::string& line : FStatus->Lines()) {
        int y = FPenY + h;
        KeepOnPage(y);
        Canvas().TextOut(kLeft, y, line);
        FPenY = y;
        // Lets the status window's button be pressed between lines.
        ProcessMessagesNow();
        if (FStatus->Cancel()) {
            if (OnCancel) OnCancel(this);
            break;
        }
    }
}

void TmsMessagePrinter::PrintFooter() {
    TPrintCanvas& canvas = Canvas();
    const std::string text =
        RawToUtf8(FUsername.Name()) + kPageNumber + std::to_string(FCurrentPage);
    canvas.TextOut(FPageWidth / 2 - canvas.TextWidth(text) / 2, FPageHeight - kFooterFromEnd, text);
}
