// TFormMain's side of the transfer of marked messages (the session retrieves, saves and
// deletes): its progress on screen, the size question, Postkeeper, opening and printing saved
// mail, and the protocol.
#include "app/HelpUnit.h"
#include "app/HelpViewer.h"
#include "app/MainUnit.h"
#include "base/Charset.h"
#include "base/StrUtils.h"
#include "mailbox/Settings.h"
#include "message/msmsg.h"
#include "message/msmsgtext.h"
#include "net/Mspop.h"
#include "output/ShellOpen.h"
#include "output/msMessagePrinter.h"
#include "platform/Ansi.h"
#include "platform/DesktopApps.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Shell.h"
#include "platform/SystemSounds.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>

#include <filesystem>

namespace {
const char* const kCollecting = "Collecting \"";
constexpr std::size_t kCollectingCut = 72;
const char* const kTransferOf = "Transfer of eMail";
const char* const kFrom = " from ";
const char* const kDataTransfer = "Data transfer eMail ";
const char* const kSoFar = ", so far: ";
const char* const kAskDownload = "Download eMail \"";
const char* const kAskSender = "\"\rSender : ";
const char* const kAskSubject = "\rSubject: ";
const char* const kAskSize = "having size of ";
const char* const kAskBytes = " bytes?";
const char* const kAuto = "AUTO: Checking, Collecting, Opening Postkeeper";
const char* const kNoPostkeeper = "Tessmar Postkeeper not available or could not be opened!";
const char* const kOpenTitle = "eMail files";
const char* const kOpenFilter = "eMail file (*.EML *.eml);;All files (*)";
const char* const kNoContent = "Print eMail having no content?";
const char* const kNoProtocol = "No protocol written yet";
const char* const kPrintPrefix = "eMail: ";
const char* const kTransListFile = "TransList.DAT";
const char* const kPostkeeper = "postkeeper";
// The desktop's mail program is the handler of mailto links.
const char* const kMailtoType = "x-scheme-handler/mailto";
constexpr int kOpenTag = 11;
constexpr int kPrintTag = 22;

std::string TransListPath() {
    return PostofficeDir() + "/" + kTransListFile;
}
} // namespace

void TFormMain::ConnectTransferComponents() {
    connect(BtnGetMailList, &QPushButton::clicked, this, &TFormMain::BtnGetMailListClick);
    connect(BtnPostkeeper, &QPushButton::clicked, this, &TFormMain::BtnPostkeeperClick);
    connect(BtnOpenMail, &QPushButton::clicked, this, [this] { BtnOpenMailClick(kOpenTag); });
    connect(BtnPrintMail, &QPushButton::clicked, this, [this] { BtnOpenMailClick(kPrintTag); });
    connect(BtnPotocol, &QPushButton::clicked, this, &TFormMain::BtnPotocolClick);
    MsgLabel->installEventFilter(this);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* e) {
    if (watched == MsgLabel && e->type() == QEvent::MouseButtonDblClick) {
        BtnPotocolClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

// --- the transfer ----------------------------------------------------------------------

void TFormMain::BtnGetMailListClick() {
    if (RefuseWhileWorking()) return;
    std::string text = (kCollecting + ClientRec.IniDescript).substr(0, kCollectingCut) + "\"";
    LabelStatus->setText(AnsiToQ(text.substr(0, kCollectingCut + 1)));
    RunCheck(true, false, false);
    RunCheck(false, false, false);
}

void TFormMain::TransferMails(bool KeepConnected) {
    const bool any = MailRows->Count() > 0;
    if (any) QApplication::setOverrideCursor(Qt::WaitCursor);
    std::exception_ptr failure;
    try {
        Session->Collect(KeepConnected);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!any) return;
    MessageBeep(MB_ICONASTERISK);
    QApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
}

void TFormMain::Retrieving(int number, int count) {
    SetStatusText(AnsiToQ(kTransferOf + std::to_string(number) + kFrom + std::to_string(count)));
}

void TFormMain::Progress(int number, int percent) {
    if (!FListDone) return;
    LabelStatus->setText(
        AnsiToQ(kDataTransfer + std::to_string(number) + kSoFar + std::to_string(percent) + "%"));
}

bool TFormMain::ConfirmSize(const TMailRow& row) {
    // Subject and sender go in as they are; only the size is formatted.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    const QString subject = QString::fromStdString(row.Subject);
    const QString text = kAskDownload + subject + kAskSender + QString::fromStdString(row.Sender) +
                         kAskSubject + subject + "\r" + kAskSize +
                         locale.toString(double(row.Size), 'f', 2) + kAskBytes;
    return Prompts().Show({"", text.toStdString(), mtConfirmation, mbYes | mbNo, true}) == mrYes;
}

// --- Postkeeper, Open, Print, Protocol -------------------------------------------------

void TFormMain::BtnPostkeeperClick() {
    if (RefuseWhileWorking()) return;
    LabelStatus->setText(kAuto);
    if (!std::filesystem::exists(TransListPath())) {
        RunCheck(true, true, true);
        // Cancelled (or the window is closing): nothing is collected and Postkeeper waits.
        if (FCancelled || (MailRows->Count() == 0 && POPClient->MessageCount() == 0)) {
            RunCheck(false, false, false);
            return;
        }
        RunCheck(true, false, false);
        RunCheck(false, false, false);
    }
    if (PVMinimized) showMinimized();
    // Postkeeper takes over the post office's files; mail delivered elsewhere is read in the
    // user's own mail program, which also stands in when Postkeeper is missing.
    const std::string program = ProgDir() + kPostkeeper;
    const bool postkeeper = std::filesystem::exists(program);
    const bool postoffice = ClientRec.Deliver.empty() || ClientRec.Deliver == "files";
    const auto startPostkeeper = [&] {
        return Shell().StartProgram(program, {"NEW", "TRANSLIST"}, PostofficeDir()) > 32;
    };
    bool started = postkeeper && postoffice && startPostkeeper();
    if (!started) started = StartMailProgram();
    if (!started && postkeeper && !postoffice) started = startPostkeeper();
    if (!started) Prompts().Tell(kNoPostkeeper);
}

bool TFormMain::StartMailProgram() {
    std::vector<std::string> command;
    if (!MailProgram.empty()) {
        if (!SplitCommandLine(MailProgram, command)) return false;
    } else {
        TDesktopEntry entry;
        QStringList words;
        if (!FindDefaultApplication(TXdgDirs::FromEnvironment(), kMailtoType, entry) ||
            !ExpandExec(entry, {}, false, words))
            return false;
        for (const QString& word : words) command.push_back(word.toStdString());
    }
    if (command.empty()) return false;
    const std::string program = command.front();
    command.erase(command.begin());
    return Shell().StartProgram(program, command, "") > 32;
}

void TFormMain::BtnOpenMailClick(int tag) {
    const std::string file = ChooseMailFile ? ChooseMailFile(this, PostofficeDir()) : [this] {
        QFileDialog dialog(this, kOpenTitle, AnsiToQ(PostofficeDir()), kOpenFilter);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setDefaultSuffix("EML");
        dialog.setOption(QFileDialog::ReadOnly, false);
        dialog.setSizeGripEnabled(true);
        if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::string();
        return QToAnsi(dialog.selectedFiles().first());
    }();
    if (file.empty()) return;
    if (tag == kOpenTag) {
        const std::string program = ProgDir() + kPostkeeper;
        if (std::filesystem::exists(program))
            Shell().StartProgram(program, {file}, "");
        else
            OpenDocument(file);
    } else if (tag == kPrintTag) {
        PrintMailFile(file);
    }
}

void TFormMain::PrintMailFile(const std::string& FileName) {
    MailMessage.LoadFromFile(FileName);
    if (MailMessage.Body().Count() == 0 &&
        Prompts().Show({"", kNoContent, mtWarning, mbYes | mbNo}) != mrYes)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TAfter {
        TmsMessage& message;
        ~TAfter() {
            message.Clear();
            QApplication::restoreOverrideCursor();
        }
    } after{MailMessage};
    TmsMessagePrinter printer;
    // The footer reads as the subject does on screen.
    printer.Username().SetName(Utf8Prefix(kPrintPrefix + SubjectText(MailMessage), kShortTextMax));
    printer.SetMailMessage(&MailMessage);
    printer.SetBodyFont({"Times New Roman", 10, false});
    printer.SetPrintDialog(true);
    printer.SetStatusWindow(true);
    if (PrintCanvas) printer.SetCanvas(PrintCanvas);
    printer.Print();
}

void TFormMain::BtnPotocolClick() {
    TFormHelp dlg(this);
    TStringList lines;
    if (ProgramLog.Empty()) lines.Add(kNoProtocol);
    for (const std::string& line : ProgramLog) lines.Add(RawToUtf8(line));
    dlg.SetUnicodeLines(lines);
    RunModal(dlg);
}

void TFormMain::FormDestroy() {
    THelpViewer::CloseHelp();
    try {
        TMailboxSession::WriteProtocolFile();
    } catch (const std::exception&) {
        // The window goes anyway; a protocol that cannot be written is no reason to stay.
    }
}
