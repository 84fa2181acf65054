// TFormMain's transfer of marked messages: retrieving, saving and deleting, the mail files and
// the hand-over list, Postkeeper, opening and printing saved mail, and the protocol.
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
#include "platform/Clock.h"
#include "platform/DurableFile.h"
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

#include <algorithm>
#include <filesystem>
#include <unordered_map>

namespace {
const char* const kCollecting = "Collecting \"";
constexpr std::size_t kCollectingCut = 72;
const char* const kTransferOf = "Transfer of eMail";
const char* const kFrom = " from ";
const char* const kDataTransfer = "Data transfer eMail ";
const char* const kSoFar = ", so far: ";
const char* const kHandled = "%d eMail(s) handled";
const char* const kNewAtPostoffice = "%d new eMail at Postoffice";
const char* const kSavedAs = "eMail %d saved as file %s";
const char* const kProtocolBegin = "------- POP3-Transfer protocol, begin -------";
const char* const kProtocolEnd = "------- POP3-Transfer protocol, end -------";
const char* const kTerminated = "POP3 connection terminated";
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
const char* const kGone = "eMail %d is no longer on the server as listed; left alone";
const char* const kTooLarge = "eMail %d was not collected: larger than the size to confirm";
const char* const kSavedBefore = "eMail %d was saved before as %s";
const char* const kShortAnswer = "eMail %1: the server sent %2 of the %3 bytes it listed; saved as "
                                 "%4 and left on the server";
const char* const kNoneDeleted = ", nothing deleted on the server";
const char* const kNothingDeleted =
    "Nothing was deleted on the server: the transfer did not finish, and the %d eMail(s) marked "
    "for deletion stay there until the next collect";
// An answer shorter than the size the server listed divided by this is not the message:
// it is saved (nothing is lost) but never deleted. Servers that count their sizes loosely
// stay far above it; a message of empty lines sent with CR LF for a stored LF is twice its
// listed size, not half.
constexpr int64_t kShortAnswerShare = 2;
constexpr int kOpenTag = 11;
constexpr int kPrintTag = 22;
// A burst of saves takes two-second steps ahead of the clock; this many names are tried.
constexpr int kNameTries = 100000;

QDateTime Now() {
    return QDateTime::fromMSecsSinceEpoch(Clock().WallMs());
}

std::string ReplaceFirst(std::string text, std::string_view what, std::string_view with) {
    const std::size_t at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

std::string Printf(const char* format, int n) {
    return ReplaceFirst(format, "%d", std::to_string(n));
}

std::string FileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string TransListPath() {
    return PostofficeDir() + "/" + kTransListFile;
}

// An empty answer, or one far shorter than listed, is kept on the server whatever it was
// marked: the server may have lost or cut the message.
bool IsShortAnswer(std::size_t received, int64_t listed) {
    return received == 0 || (listed > 0 && int64_t(received) * kShortAnswerShare < listed);
}

std::string ServerOf(const TmsPOPClient& client) {
    return client.Host() + ":" + std::to_string(client.Port());
}

bool IsTransferMode(int mode) {
    return mode == tmGet || mode == tmCopy;
}

using TUidlIndex = std::unordered_map<std::string, int>;

// The server's number of the message a row was listed for: found by its unique id when both
// the row and the server have ids, else by number and size; 0 when it is gone or changed.
int FindRowMessage(const TMailRow& row, const std::vector<TmsMessageId>& ids,
                   const TUidlIndex* byUidl) {
    if (byUidl && !row.Uidl.empty()) {
        const auto it = byUidl->find(row.Uidl);
        return it == byUidl->end() ? 0 : it->second;
    }
    if (row.Number < 1 || row.Number > int(ids.size())) return 0;
    return ids[std::size_t(row.Number - 1)].Size == row.Size ? row.Number : 0;
}
} // namespace

void TFormMain::ConnectTransferComponents() {
    POPClient->OnRetrievingMessage = [this](TmsSocketBase*) {
        SetStatusText(AnsiToQ(kTransferOf + std::to_string(POPClient->CurrentMessage() + 1) +
                              kFrom + std::to_string(POPClient->MessageCount())));
    };
    POPClient->OnTransferProgress = [this](TmsSocketBase*, int, int64_t ByteCount, int) {
        if (!FListDone) return;
        const int64_t p =
            FMsgSize > 0 ? std::min<int64_t>(100, (ByteCount * 100 + FMsgSize / 2) / FMsgSize) : -1;
        LabelStatus->setText(AnsiToQ(kDataTransfer +
                                     std::to_string(POPClient->CurrentMessage() + 1) + kSoFar +
                                     std::to_string(p) + "%"));
    };
    POPClient->OnMessageRetrieved = [this](TmsSocketBase*) {
        if (POPClient->CurrentMessage() + 1 == POPClient->MessageCount()) FAllRetrieved = true;
    };
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
    FAllRetrieved = false;
    NewMailCount = 0;
    FTransferNotes.clear();
    FSavedFiles.clear();
    FUnflushedUidls.clear();
    FDeletions.clear();
    FSkippedForSize = 0;
    if (MailRows->Count() == 0) return;
    // What a killed run left half-written; files other runs are still writing are locked.
    RemoveStaleTempFiles(PostofficeDir());
    RemoveStaleTempFiles(ProgDir());
    // The list of an earlier run that Postkeeper has not taken over yet is kept whole.
    ReadTransList(TransListPath(), StringHolder);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    LabelStatus->clear();
    int handled = 0;
    std::exception_ptr failure;
    try {
        if (!POPClient->IsConnected()) {
            if (ClientRec.Password.empty()) AskPassword();
            LoginTrusting();
        }
        // This account's record: another account's messages may carry the same ids.
        FSavedIds = std::make_unique<TSavedIds>(
            TSavedIds::FileFor(PostofficeDir(), ServerOf(*POPClient), POPClient->UserName()),
            ServerOf(*POPClient), POPClient->UserName());
        FSavedIds->Load();
        if (POPClient->MessageCount() > 0) {
            // What is on the server now; rows are matched to it by identity, not position. A
            // check that kept this connection open has asked for both already.
            if (!POPClient->EnsureSizes()) throw EmsServerError(POPClient->LastResponse);
            const bool hasUidl = POPClient->EnsureUidls();
            const std::vector<TmsMessageId>& ids = POPClient->MessageIds();
            TUidlIndex byUidl;
            if (hasUidl) {
                for (const TmsMessageId& id : ids)
                    if (!id.Uidl.empty()) byUidl.emplace(id.Uidl, id.Number);
                ForgetSavedIdsNotOn(byUidl);
            }
            for (int i = 0; i < MailRows->Count(); ++i) {
                const int number =
                    FindRowMessage(MailRows->Row(i), ids, hasUidl ? &byUidl : nullptr);
                if (number == 0) {
                    if (MailRows->Row(i).Mode >= tmGet && MailRows->Row(i).Mode <= tmDelete) {
                        FTransferNotes.push_back(Printf(kGone, i + 1));
                        WriteLog(FTransferNotes.back());
                    }
                } else {
                    HandleRow(i, number);
                }
                MailRows->SetMode(i, -1);
                ++handled;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    FinishTransfer(KeepConnected, handled, failure);
}

void TFormMain::ForgetSavedIdsNotOn(const std::unordered_map<std::string, int>& byUidl) {
    // A message no longer on the server has been deleted (by our QUIT or by someone else):
    // there is nothing left to save twice.
    std::vector<std::string> gone;
    for (const auto& [uidl, entry] : FSavedIds->Entries())
        if (!byUidl.count(uidl)) gone.push_back(uidl);
    for (const std::string& uidl : gone) FSavedIds->Remove(uidl);
    if (!gone.empty()) FSavedIds->Save();
}

void TFormMain::HandleRow(int index, int number) {
    const TMailRow& row = MailRows->Row(index);
    int mode = row.Mode;
    FMsgSize = row.Size;
    if (FMsgSize > MailMaxSize && IsTransferMode(mode) && !ConfirmSize(row)) {
        MailRows->SetMode(index, tmNeutral);
        ++FSkippedForSize;
        FTransferNotes.push_back(Printf(kTooLarge, index + 1));
        WriteLog(FTransferNotes.back());
        return;
    }
    POPClient->SetCurrentMessage(number - 1);
    const TmsMessageId id = POPClient->MessageIds()[std::size_t(number - 1)];
    // True when the message stays on the server whatever it was marked.
    bool keep = false;
    if (IsTransferMode(mode)) {
        const TSavedIds::TEntry* saved =
            id.Uidl.empty() ? nullptr : FSavedIds->Find(id.Uidl, id.Size);
        // Saved by an earlier transfer: listed once, never saved twice, but only while its
        // file is there as it was written (an unconfirmed one is brought to the disk first).
        // A file that went is saved again: a duplicate is cheaper than a loss.
        if (saved && IsFileThere(saved->Path, saved->FileSize, !saved->Confirmed)) {
            const std::string path = saved->Path;
            if (StringHolder.IndexOf(path) < 0) {
                StringHolder.Add(path);
                WriteTransList(TransListPath(), StringHolder);
            }
            if (mode == tmGet) FSavedIds->SetKind(id.Uidl, TSavedIds::skGet);
            FSavedIds->Confirm(id.Uidl);
            FSavedIds->Save();
            WriteLog(ReplaceFirst(Printf(kSavedBefore, index + 1), "%s", FileNameOf(path)));
        } else {
            try {
                POPClient->RetrieveMessage(FMessageText);
            } catch (const std::exception& e) {
                // A message the decoder cannot read is still saved whole.
                if (IsConnectionError(e) || FMessageText.empty()) throw;
                ProgramLog.Add(e.what());
            }
            const std::size_t received = FMessageText.size();
            keep = IsShortAnswer(received, id.Size);
            SaveMailFile(index, !keep);
            ++NewMailCount;
            if (keep) {
                FTransferNotes.push_back(FillPlaces(
                    kShortAnswer, {std::to_string(index + 1), std::to_string(received),
                                   std::to_string(std::max<int64_t>(id.Size, 0)), FLastMailFile}));
                WriteLog(FTransferNotes.back());
            }
        }
    }
    if ((mode == tmGet && !keep) || mode == tmDelete) {
        // Deleted together at the end, once its file is on the disk: a DELE sent between two
        // retrievals would cost a round trip each, and more on servers that hold an answer
        // written right after another until the client acknowledges the first.
        FDeletions.push_back(number - 1);
    }
}

bool TFormMain::ConfirmSize(const TMailRow& row) {
    // Subject and sender go in as they are; only the size is formatted.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    const QString text = kAskDownload + row.Subject + kAskSender + row.Sender + kAskSubject +
                         row.Subject + "\r" + kAskSize + locale.toString(double(FMsgSize), 'f', 2) +
                         kAskBytes;
    return Prompts().Show({"", text.toStdString(), mtConfirmation, mbYes | mbNo, true}) == mrYes;
}

void TFormMain::FinishTransfer(bool KeepConnected, int handled, std::exception_ptr failure) {
    // Deletions are committed only by a session that went through without a failure: after
    // a failed save, a lost connection or Cancel the server keeps every message, and the
    // record of saved messages lets the next transfer delete those already saved.
    try {
        FlushSavedFiles();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    try {
        if (failure) {
            if (POPClient->IsConnected()) POPClient->Disconnect();
        } else if (POPClient->IsConnected() && !FDeletions.empty()) {
            // Every file is on the disk now: the messages saved may go.
            POPClient->DeleteMessages(FDeletions);
            CrashPoint("deleted");
        }
        if (!failure && POPClient->IsConnected() && !KeepConnected) {
            CrashPoint("quit");
            POPClient->Logout();
            // Committed: what was deleted is nothing to remember any more.
            if (FSavedIds && !FDeletions.empty()) {
                for (const int n : FDeletions)
                    FSavedIds->Remove(POPClient->MessageIds()[std::size_t(n)].Uidl);
                FSavedIds->Save();
            }
        }
    } catch (...) {
        if (!failure) failure = std::current_exception();
        // A refused DELE: no later QUIT may commit the others.
        if (POPClient->IsConnected()) POPClient->Disconnect();
    }
    MailRows->Clear();
    // A failed session ends without QUIT, so its DELE commands are void: say so.
    const bool deletionsVoid = failure && !FDeletions.empty();
    if (deletionsVoid) {
        FTransferNotes.push_back(Printf(kNothingDeleted, int(FDeletions.size())));
        WriteLog(FTransferNotes.back());
        MsgLabel->setText(AnsiToQ(FTransferNotes.back()));
    }
    SetStatusText(AnsiToQ(Printf(kHandled, handled) + (deletionsVoid ? kNoneDeleted : "")));
    LabelStatus->setText(AnsiToQ(Printf(kNewAtPostoffice, NewMailCount)));
    try {
        WriteTransList(TransListPath(), StringHolder);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    MessageBeep(MB_ICONASTERISK);
    ProgramLog.Add(kProtocolBegin);
    TStringList& protocol = POPClient->ProtocolLog();
    for (int i = 0; i < protocol.Count(); ++i) ProgramLog.Add(protocol[i]);
    ProgramLog.Add(kProtocolEnd);
    ProgramLog.Add(kTerminated);
    protocol.Clear();
    try {
        WriteProgramLog();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    QApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
}

void TFormMain::FlushSavedFiles() {
    if (FSavedFiles.empty() || !FSavedIds) return;
    FlushFileSystem(PostofficeDir());
    for (const std::string& uidl : FUnflushedUidls) FSavedIds->Confirm(uidl);
    FUnflushedUidls.clear();
    FSavedIds->Save();
}

void TFormMain::SaveMailFile(int Index, bool Record) {
    const TmsMessageId& id = POPClient->MessageIds()[std::size_t(POPClient->CurrentMessage())];
    const std::string uidl = Record ? id.Uidl : std::string();
    const int64_t size = id.Size;
    const auto kind = MailRows->Row(Index).Mode == tmGet ? TSavedIds::skGet : TSavedIds::skCopy;
    // Names rise with every save, so two saves in one second never meet.
    const QDateTime now = Now();
    const QDateTime first = FNextNameTime.isValid() && FNextNameTime > now ? FNextNameTime : now;
    MakeCrLf(FMessageText);
    int step = 0;
    const std::string path = CreateFileDurably(
        PostofficeDir(),
        [&](int tried) {
            step = tried;
            return MailFileName(first.addSecs(2 * qint64(tried)));
        },
        FMessageText, kNameTries,
        [&](const std::string& target) {
            if (uidl.empty()) return;
            FSavedIds->Set(uidl, {kind, size, int64_t(FMessageText.size()), target, false});
            FSavedIds->Append(uidl, false);
        },
        false);
    FNextNameTime = first.addSecs(2 * qint64(step + 1));
    // The file, its record and the list reach the disk with the session's one flush, before
    // any DELE (FinishTransfer).
    if (!uidl.empty()) FUnflushedUidls.push_back(uidl);
    FLastMailFile = FileNameOf(path);
    StringHolder.Add(path);
    FSavedFiles.push_back(path);
    WriteTransList(TransListPath(), StringHolder, false);
    const std::string text = ReplaceFirst(Printf(kSavedAs, Index + 1), "%s", FLastMailFile);
    SetStatusText(AnsiToQ(text));
    MsgMemo->appendPlainText(AnsiToQ(text));
}

std::string TFormMain::NewMailFileName() const {
    return MailFileName(Now()).substr(1);
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
    const std::string program = ProgDir() + kPostkeeper;
    const bool started = std::filesystem::exists(program) &&
                         Shell().StartProgram(program, {"NEW", "TRANSLIST"}, PostofficeDir()) > 32;
    if (!started) Prompts().Tell(kNoPostkeeper);
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

void TFormMain::WriteProgramLog() {
    std::string text;
    // Written as UTF-8, so that a date in any locale reads as it was shown.
    for (const std::string& line : ProgramLog) {
        RawToUtf8Append(line, text);
        text.append("\r\n");
    }
    WriteFileDurably(ProtocolFile(), text);
}

void TFormMain::FormDestroy() {
    THelpViewer::CloseHelp();
    try {
        WriteProgramLog();
    } catch (const std::exception&) {
        // The window goes anyway; a protocol that cannot be written is no reason to stay.
    }
}
