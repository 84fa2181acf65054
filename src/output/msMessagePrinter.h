// Prints one mail message: a header block with sender, recipients, date and subject on the
// first page, then the body wrapped as the status window's text box shows it, broken into
// pages, with a footer and page number on every page. Labels are German.
#pragma once

#include "base/Exceptions.h"
#include "message/msmsgcls.h"
#include "output/PrintCanvas.h"

#include <functional>
#include <memory>
#include <string>

class TmsMessage;
class TmsMessagePrinterStatus;

// Raised by Print when no message is set.
PV_DECLARE_EXCEPTION(ENoMailMessage, Exception);

class TmsMessagePrinter {
public:
    using TNotifyEvent = std::function<void(TmsMessagePrinter* Sender)>;
    using TmsPrinterProgressEvent =
        std::function<void(TmsMessagePrinter* Sender, int PageNumber, int NumberOfPages)>;

    TmsMessagePrinter();
    ~TmsMessagePrinter();
    TmsMessagePrinter(const TmsMessagePrinter&) = delete;
    TmsMessagePrinter& operator=(const TmsMessagePrinter&) = delete;

    // The message to print; not owned.
    TmsMessage* MailMessage() const { return FMailMessage; }
    void SetMailMessage(TmsMessage* value) { FMailMessage = value; }
    // Show the printer choice first (true after construction).
    bool PrintDialog() const { return FPrintDialog; }
    void SetPrintDialog(bool value) { FPrintDialog = value; }
    // Write "Druck beendet" into the status window at the end (true after construction).
    bool StatusWindow() const { return FStatusWindow; }
    void SetStatusWindow(bool value) { FStatusWindow = value; }
    // Its display name leads every footer: UTF-8, or Windows-1252 where it is not valid UTF-8.
    TmsMailAddress& Username() { return FUsername; }
    void SetUsername(const TmsMailAddress& value) { FUsername.Assign(value); }
    // The body's font name and size (the style is not used).
    TCanvasFont& BodyFont() { return FBodyFont; }
    void SetBodyFont(const TCanvasFont& value) { FBodyFont = value; }
    // List the blind-copy recipients too (false after construction).
    bool PrintBcc = false;

    TNotifyEvent OnStart;
    TNotifyEvent OnEnd;
    TNotifyEvent OnCancel;
    TmsPrinterProgressEvent OnProgress;

    // The page estimate of the current print, and the page being printed.
    int NumberOfPages() const { return FNumberOfPages; }
    int CurrentPage() const { return FCurrentPage; }
    // The status window while a print runs, else nullptr.
    TmsMessagePrinterStatus* StatusForm() const { return FStatus.get(); }

    // Where the pages go (not owned); without one the system's printer is used.
    void SetCanvas(TPrintCanvas* canvas) { FCanvas = canvas; }

    // Prints MailMessage. Raises ENoMailMessage when there is none; a cancelled printer
    // choice prints nothing. A job that cannot start is reported to the user.
    void Print();

private:
    TPrintCanvas& Canvas();
    void SetCanvasFont(const std::string& name, int size, bool bold);
    int LineHeight();
    // Moves y to the top of a new page when it would reach into the footer's room.
    void KeepOnPage(int& y);
    void PrintHeader(const std::string& senderText, const std::string& dateText);
    int PrintAddresses(const char* label, const TmsAddressList& list, int n);
    void PrintBody();
    void PrintFooter();
    void NextPage();
    void FreeStatus();

    TmsMessage* FMailMessage = nullptr;
    bool FPrintDialog = true;
    bool FStatusWindow = true;
    TmsMailAddress FUsername;
    TCanvasFont FBodyFont;
    int FNumberOfPages = 1;
    int FCurrentPage = 1;
    TPrintCanvas* FCanvas = nullptr;
    std::unique_ptr<TPrintCanvas> FOwnCanvas;
    std::unique_ptr<TmsMessagePrinterStatus> FStatus;
    TCanvasFont FFont; // the canvas font in effect
    int FPenY = 0;     // y of the last output
    int FPageHeight = 0;
    int FPageWidth = 0;
};
