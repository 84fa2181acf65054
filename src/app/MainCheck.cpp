// TFormMain's check cycle: triggers, dialling and hanging up, the header list and the timers.
#include "app/HelpUnit.h"
#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "mailbox/HeaderCache.h"
#include "mailbox/Settings.h"
#include "message/msmsgtext.h"
#include "message/mspars.h"
#include "net/Mspop.h"
#include "net/Mswsock.h"
#include "output/BTOdeum.h"
#include "platform/Ansi.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/SystemSounds.h"

#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {
const char* const kChecking = "Checking \"";
constexpr std::size_t kCheckingCut = 70;
const char* const kConnectTo = "Connect to: ";
const char* const kConnectedPop = "Connected to POP3 server";
const char* const kDateTime = "Date/time: ";
const char* const kDisconnectedPop = "Disconnected from POP3 server";
const char* const kConnectionInProgress = "Connection in progress";
const char* const kConnectionTerminated = "Connection terminated";
const char* const kAsyncVia = "Asynchrone connection via: ";
const char* const kErrorInquiringList = "Error when inquiring list\rsee protocol";
const char* const kTimeoutRuntime = "Timeout-runtime of: ";
const char* const kSecondsExceeded = " seconds exceeded!";
const char* const kIncreaseTimeout =
    "Increase the value of \"Timeout\" at Postkeeper (setting or F12) (or \"Dummy.SET\")";
const char* const kCancelled = "Cancelled";
const char* const kAtPostoffice = "  eMail at Postoffice";
const char* const kErrorCallingMemo = "Error when calling list\rSee ptotocol";
const char* const kErrorCallingStatus = "Error when calling list, see protocol";
const char* const kPostofficeEmpty = "Postoffice is empty";
const char* const kReadyForCollecting = " eMail ready for collecting";
const char* const kErrorInquiring = ":    - Error when inquiring -";
const char* const kNoNewMail = ":    - No new eMail -";
const char* const kStillOnline = "Connection ONLINE\rClose at status bar!";
const char* const kBusyIgnored = "A check is running; wait for it or press Cancel";
const char* const kHeadersCutBefore = "Headers of message ";
const char* const kHeadersCutAfter = " too long: listed with what fits";
constexpr int kConnectedState = 8192;
constexpr int kDisconnectedState = 8193;
constexpr int kPauseMs = 2000;

QDateTime Now() {
    return QDateTime::fromMSecsSinceEpoch(Clock().WallMs());
}

// The time of day in the user's locale, as Unicode (any script, not only Windows-1252's).
QString NowText() {
    return QLocale().toString(Now(), QLocale::ShortFormat);
}

QDateTime MailDate(const TmsMessage& message) {
    TDateTime value = 0;
    std::string zone;
    ParseMailDate(GetHeaderValue(message.Headers(), "Date"), value, zone);
    if (value == 0) return Now();
    int y, mo, d, h, mi, s;
    DecodeDateTime(value, y, mo, d, h, mi, s);
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

// Windows MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const int64_t p = int64_t(a) * b;
    const int64_t q = (p >= 0) == (c > 0) ? (std::abs(p) + std::abs(c) / 2) / std::abs(c)
                                          : -((std::abs(p) + std::abs(c) / 2) / std::abs(c));
    return int(q);
}

// Sets a flag for the lifetime of a scope.
struct TFlagGuard {
    bool& flag;
    explicit TFlagGuard(bool& f) : flag(f) { flag = true; }
    ~TFlagGuard() { flag = false; }
};
} // namespace

void TFormMain::ConnectCheckComponents() {
    BTBeeper = std::make_unique<TBTBeeper>();
    BTBeeper->SetDefaultSound(psWhisle);
    POPClient->OnConnecting = [this](TmsSocketBase*) {
        MsgMemo->clear();
        ProgramLog.Clear();
        // The client's own protocol is kept per connection too (a transfer has copied it).
        POPClient->ProtocolLog().Clear();
        WriteLog(kConnectTo + POPClient->Host());
    };
    POPClient->OnConnected = [this](TmsSocketBase*) {
        WriteLog(kConnectedPop);
        // The protocol's lines are raw 8-bit text: the program's own in Windows-1252, and
        // this date, in the user's locale, as UTF-8 (RawToUtf8 reads both).
        ProgramLog.Add(kDateTime + QLocale().toString(Now(), QLocale::LongFormat).toStdString());
    };
    POPClient->OnDisconnected = [this](TmsSocketBase*) { WriteLog(kDisconnectedPop); };

    DialUp->OnDialing = [this](TDialUp*) {
        MsgMemo->clear();
        EnterBusyState();
        WriteLog(kConnectTo + DialUp->Entry());
    };
    DialUp->OnConnect = [this](TDialUp*) { WriteLog(kConnectionInProgress); };
    DialUp->OnAsyncEvent = [this](TDialUp*, int32_t State, int32_t Error,
                                  const std::string& MessageText) {
        WriteLog(MessageText);
        if (Error != 0) {
            FDialError = true;
            WriteLogUnicode(NowText() + ": " + AnsiToQ(MessageText));
            WriteLog(kErrorInquiringList);
            LabelStatus->setText(AnsiToQ(MessageText));
            if (!FDialConnected) {
                ProgramLog.Add(kTimeoutRuntime +
                               std::to_string(unsigned(TimerWait->interval()) / 1000) +
                               kSecondsExceeded);
                ProgramLog.Add(kIncreaseTimeout);
            }
        }
        if (State == kConnectedState) {
            // A dial that connects after its wait was given up is not ours to keep.
            if (!FDialing) {
                DialUp->HangUp();
                return;
            }
            if (!FWorking) EnterIdleState();
            FDialConnected = true;
            FDialError = false;
            if (FManualDial && !FWorking) ManualDialUp();
        } else if (Error != 0 && FManualDial && !FWorking) {
            // The user's late dial failed after all: nothing is dialling any more.
            FManualDial = false;
            FDialing = false;
        }
        if (State == kDisconnectedState) {
            for (QPushButton* b : {BtnPostkeeper, BtnOpenMail, BtnPrintMail}) b->setEnabled(true);
            FDialing = false;
        }
    };
    DialUp->OnError = [this](TDialUp*, int32_t, const std::string& ErrorMessage) {
        WriteLog(ErrorMessage);
        FDialError = true;
    };
    DialUp->OnNotConnected = [this](TDialUp*, int32_t, const std::string&) {
        if (!FWorking) EnterIdleState();
        WriteLog(kConnectionTerminated);
    };
    DialUp->OnActiveConnection = [this](TDialUp*, int32_t, const TRasConnStatusA&,
                                        const std::string& StatusString,
                                        const std::string& EntryName, const std::string& DeviceType,
                                        const std::string& DeviceName) {
        auto* sections = HeaderControl->model();
        sections->setHeaderData(0, Qt::Horizontal, AnsiToQ(EntryName));
        sections->setHeaderData(1, Qt::Horizontal, AnsiToQ(DeviceType));
        sections->setHeaderData(2, Qt::Horizontal, AnsiToQ(DeviceName));
        WriteLog(std::string(kAsyncVia) + " " + DeviceName + ", " + DeviceType);
        WriteLog(StatusString);
        if (ExternOnline) LabelStatus->setText(kReadyForChecking);
    };

    connect(BtnListMail, &QToolButton::clicked, this, &TFormMain::BtnListMailClick);
    connect(BtnStopp, &QPushButton::clicked, this, &TFormMain::BtnStoppClick);
    connect(BtnDialHang, &QPushButton::clicked, this, &TFormMain::BtnDialHangClick);
    connect(TimerInterval, &QTimer::timeout, this, &TFormMain::TimerIntervalTimer);
    connect(TimerEmedit, &QTimer::timeout, this, &TFormMain::PostTimedCheck);
    const std::pair<QPushButton*, int> modes[] = {
        {BtnGetDel, tmGet}, {BtnCopyMail, tmCopy}, {BtnDelMail, tmDelete}, {BtnReset, tmNeutral}};
    for (auto [button, tag] : modes) {
        button->setProperty("tag", tag);
        connect(button, &QPushButton::clicked, this, [this, tag] { BtnTransMode(tag); });
    }
    connect(ListViewRemoPOP, &QTreeView::doubleClicked, this, &TFormMain::ListViewRemoPOPDblClick);
    // A batch of rows goes into the list with its painting held back: one repaint at its end.
    connect(MailRows, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this] { ListViewRemoPOP->setUpdatesEnabled(false); });
    connect(MailRows, &QAbstractItemModel::rowsInserted, this,
            [this] { ListViewRemoPOP->setUpdatesEnabled(true); });
}

// --- triggers -----------------------------------------------------------------------

void TFormMain::CloseIfRequested() {
    if (!std::exchange(FCloseRequested, false)) return;
    QTimer::singleShot(0, this, &QWidget::close);
}

bool TFormMain::RefuseWhileWorking() {
    if (!FWorking) return false;
    SetStatusText(kBusyIgnored);
    return true;
}

void TFormMain::BtnListMailClick() {
    if (RefuseWhileWorking()) return;
    std::string text = (kChecking + ClientRec.IniDescript).substr(0, kCheckingCut) + "\"";
    LabelStatus->setText(AnsiToQ(text.substr(0, kCheckingCut + 1)));
    RunCheck(true, true, false);
    RunCheck(false, false, false);
}

void TFormMain::RunCheck(bool IsStart, bool ListOnly, bool KeepConnected) {
    if (IsStart) {
        // A close asked for while this runs comes after the closing steps.
        struct TCloseAfter {
            TFormMain* w;
            ~TCloseAfter() { w->CloseIfRequested(); }
        } closeAfter{this};
        TFlagGuard working(FWorking);
        FCheckFailed = false;
        FCheckError.clear();
        if (std::string busy = FAccountLock.Lock(TAccountLock::FileFor(CurSetName));
            !busy.empty()) {
            FCheckFailed = true;
            FCheckError = std::move(busy);
            SetStatusText(AnsiToQ(FCheckError));
            return;
        }
        struct TUnlock {
            TAccountLock& lock;
            ~TUnlock() { lock.Unlock(); }
        } unlock{FAccountLock};
        FCancelled = false;
        EnterBusyState();
        try {
            bool go = true;
            // A transfer right after a check that kept the connection needs no dial.
            if (AutoDial() && !POPClient->IsConnected()) {
                DialConnection();
                // Cancel during the dial skips the check.
                go = !FCancelled;
            }
            if (go && ListOnly) ListMails(KeepConnected);
            if (go && !ListOnly) TransferMails(KeepConnected);
        } catch (const std::exception& e) {
            // Whatever broke the check, the line Postvigil dialled is not left up, and the
            // window is usable again.
            FCheckFailed = true;
            FCheckError = e.what();
            try {
                CloseConnection();
            } catch (const std::exception&) {
            }
            QApplication::restoreOverrideCursor();
            FListDone = true;
            EnterIdleState();
            throw;
        }
        EnterIdleState();
        return;
    }
    if (POPClient->IsConnected()) POPClient->Logout();
    if (AutoDial() || UserOnline) {
        CloseConnection();
        return;
    }
    platform::Pause(kPauseMs);
    // Only a line someone opened for the check is worth the reminder; the machine's own
    // network (someone else's connection) is not ours to close.
    if (OnLineDetect->IsOnline() && !ExternOnline) MsgLabel->setText(AnsiToQ(kStillOnline));
    MessageBeep(MB_ICONASTERISK);
}

template <class F> void TFormMain::WaitUntil(F done) {
    TimerWait->setInterval(TimeoutMs(ClientRec.Timeout));
    TimerWait->start();
    while (!done() && TimerWait->isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    TimerWait->stop();
}

bool TFormMain::DialConnection() {
    if (ExternOnline || UserOnline) return false;
    FDialConnected = false;
    FDialing = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int result = DialUp->Dial();
    QApplication::restoreOverrideCursor();
    const bool ok = result == 0;
    if (ok) WaitUntil([this] { return FDialConnected || FCancelled; });
    if (ok && !FCancelled) {
        // A check gives up on a dial that missed its wait: a late connect is hung up on
        // arrival. The user's own dial is kept.
        if (!FDialConnected && !FManualDial) FDialing = false;
        DialUp->GetConnections();
    } else if (!FCancelled) {
        BtnStoppClick();
        // Only the user's Cancel skips the check; after a dial that could not start it runs
        // (another route may be up) and reports at log-in what went wrong.
        FCancelled = false;
    }
    return ok;
}

void TFormMain::CloseConnection() {
    // A goodbye that fails must not keep the line up: hang up first, then report it.
    std::exception_ptr failure;
    try {
        if (POPClient->IsConnected()) POPClient->Logout();
    } catch (...) {
        failure = std::current_exception();
    }
    // A dial still in progress is ours too: hang it up rather than let it come up later.
    if (!ExternOnline && !UserOnline && (FDialConnected || FDialing)) {
        DialUp->HangUp();
        platform::Pause(kPauseMs);
        FDialConnected = false;
        FDialing = false;
        WriteLog(kConnectionTerminated);
    }
    if (failure) std::rethrow_exception(failure);
}

void TFormMain::BtnStoppClick() {
    FCancelled = true;
    FManualDial = false;
    POPClient->Cancel();
    try {
        CloseConnection();
    } catch (const std::exception&) {
        // The socket is closed by the cancel; a failed goodbye changes nothing.
    }
    BtnStopp->hide();
    BtnListMail->show();
    BtnDialHang->setEnabled(BtnListMail->isVisible() && AutoDial() && !ExternOnline);
    WriteLog(kCancelled);
}

// --- the list -------------------------------------------------------------------------

void TFormMain::AddRow(int number, int64_t size, const std::string& uidl) {
    TMailRow row;
    row.Number = number;
    row.Size = size;
    row.Uidl = uidl;
    row.Mode = RetrvMode;
    // What a person reads: the Unicode views of the mail library. The transfer's size
    // confirmation shows these same texts.
    row.Subject = QString::fromStdString(SubjectText(MailMessage));
    row.Sender = QString::fromStdString(SenderDisplayText(MailMessage));
    row.Priority = int(MailMessage.Priority());
    row.Date = QLocale().toString(MailDate(MailMessage), QLocale::ShortFormat);
    for (int i = 0; i < MailMessage.Headers().Count(); ++i)
        row.Headers.append(MailMessage.Headers()[i]).append("\n");
    MailRows->Append(std::move(row));
}

void TFormMain::ListMails(bool KeepConnected) {
    FListDone = false;
    MailRows->Clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    LabelStatus->clear();
    int count = 0;
    bool loggedIn = false;
    std::exception_ptr failure;
    try {
        if (!POPClient->IsConnected()) {
            if (ClientRec.Password.empty()) AskPassword();
            LoginTrusting();
        }
        // The count is the server's word; the rows are never more than the client tracks.
        count = std::min(POPClient->MessageCount(), int(POPClient->MessageIds().size()));
        LabelStatus->setText(QString::number(count) + kAtPostoffice);
        loggedIn = true;
    } catch (const std::exception& e) {
        MsgMemo->appendPlainText(AnsiToQ(kErrorCallingMemo));
        LabelStatus->setText(kErrorCallingStatus);
        FCheckFailed = true;
        FCheckError = e.what();
        // Why, in the server's own words, for a user who cannot open the protocol yet.
        WriteLog(FCheckError);
        try {
            if (POPClient->IsConnected()) POPClient->Logout();
        } catch (const std::exception&) {
        }
        BtnStoppClick();
        MsgLabel->setText(AnsiToQ(FCheckError));
        count = 0;
    }
    if (loggedIn && count == 0) {
        LabelStatus->setText(kPostofficeEmpty);
        KeepConnected = false;
    }
    try {
        if (loggedIn && count > 0) ListHeaders(count);
    } catch (...) {
        failure = std::current_exception();
    }
    // The rows go on show together, not a frame later.
    MailRows->Flush();

    if (count > 0) {
        if (!failure) WaitUntil([this, count] { return MailRows->Count() >= count; });
        BTBeeper->PlayDefault();
        // A list that broke off claims nothing ready for collecting.
        if (failure)
            LabelStatus->setText(FCancelled ? kCancelled : kErrorCallingStatus);
        else
            LabelStatus->setText(QString::number(count) + kReadyForCollecting);
    } else if (loggedIn) {
        // A failed log-in keeps its own texts: it must not look like an empty mailbox.
        if (FDialError) {
            LabelStatus->setText(NowText() + kErrorInquiring);
            FDialError = false;
        } else {
            LabelStatus->setText(NowText() + kNoNewMail);
        }
        MessageBeep(MB_ICONASTERISK);
    } else {
        MessageBeep(MB_ICONASTERISK);
    }
    if (failure) std::rethrow_exception(failure);
    // Cancel has closed the socket already; there is nobody left to say goodbye to.
    if (!KeepConnected && POPClient->IsConnected()) POPClient->Logout();
    QApplication::restoreOverrideCursor();
    FListDone = true;
    if (loggedIn) NoteCheckResult();
}

void TFormMain::ListHeaders(int count) {
    // The unique ids let a later transfer find each row's message again, whatever other
    // clients did to the mailbox in between; a server without UIDL leaves them empty.
    // A server that knows CAPA (RFC 2449) is a modern one: all sizes in one answer. An older
    // one gets the exchange it was built for, one LIST per message.
    bool allSizes = false;
    if (POPClient->CapaAnswered()) {
        bool uidls = false;
        POPClient->RetrieveUidlsAndSizes(uidls, allSizes);
    } else {
        POPClient->RetrieveUidls();
    }
    const std::vector<TmsMessageId>& ids = POPClient->MessageIds();
    // The cache needs every message told apart by its id and its size; else it stays out.
    std::unique_ptr<THeaderCache> cache;
    if (HeaderCache && allSizes && std::size_t(count) == ids.size() &&
        std::all_of(ids.begin(), ids.end(),
                    [](const TmsMessageId& id) { return !id.Uidl.empty() && id.Size >= 0; })) {
        const std::string server = POPClient->Host() + ":" + std::to_string(POPClient->Port());
        cache = std::make_unique<THeaderCache>(THeaderCache::FileFor(server, POPClient->UserName()),
                                               server, POPClient->UserName());
        cache->Load();
    }
    auto cached = [&](int i) {
        return cache ? cache->Find(ids[std::size_t(i)].Uidl, ids[std::size_t(i)].Size) : nullptr;
    };
    std::vector<int> wanted;
    for (int i = 0; i < count; ++i)
        if (!cached(i)) wanted.push_back(i);
    POPClient->PlanHeaders(std::move(wanted));
    std::string block;
    for (int i = 0; i < count; ++i) {
        POPClient->SetCurrentMessage(i);
        const std::string* known = cached(i);
        try {
            if (known) {
                block = *known;
                FillFromHeaderBlock(MailMessage, block);
            } else if (!POPClient->RetrieveHeaders(block)) {
                // The transfer can still collect it, within the limit of a whole message.
                ProgramLog.Add(kHeadersCutBefore + std::to_string(i + 1) + kHeadersCutAfter);
            }
        } catch (const std::exception& e) {
            // A header block that cannot be read whole still gets a row.
            if (IsConnectionError(e)) throw;
            ProgramLog.Add(e.what());
        }
        const int64_t size = allSizes ? ids[std::size_t(i)].Size : POPClient->GetMessageSize();
        AddRow(i + 1, size, std::size_t(i) < ids.size() ? ids[std::size_t(i)].Uidl : "");
        if (cache) cache->Keep(ids[std::size_t(i)].Uidl, size, block);
        // Rows from the cache come without socket waits; the window stays alive all the same.
        if (known) ProcessMessages();
    }
    if (!cache) return;
    try {
        cache->Save();
    } catch (const std::exception& e) {
        // A cache that cannot be written only costs the next check its speed.
        ProgramLog.Add(e.what());
    }
}

// --- timers ---------------------------------------------------------------------------

void TFormMain::TimerIntervalTimer() {
    if (ClientRec.Interval == 0) {
        ProgressBar->setValue(0);
        return;
    }
    ++FMinutes;
    ProgressBar->setValue(std::clamp(MulDiv(FMinutes, 100, ClientRec.Interval), 0, 100));
    if (ProgressBar->value() >= 100) PostTimedCheck();
}

void TFormMain::TimedCheck() {
    if (RefuseWhileWorking()) return;
    TFlagGuard timed(FTimedRun);
    TimerInterval->stop();
    TimerEmedit->stop();
    if (CurSetName != StartSetName) {
        ReadAccount(StartSetName);
        ApplyClientRec();
    }
    // Re-armed whatever happens in the check, so an interval set later takes effect.
    struct TRearm {
        TFormMain* w;
        ~TRearm() {
            w->TimerInterval->start();
            w->FMinutes = 0;
            w->ProgressBar->setValue(0);
        }
    } rearm{this};
    switch (ClientRec.FollowAct) {
    case faIndividual:
        BtnListMailClick();
        break;
    case faOpenPostvigil:
        BtnListMailClick();
        if (MailRows->Count() > 0) RestoreAndRaise();
        break;
    case faOpenPostkeeper:
        if (PVMinimized) RestoreAndRaise();
        BtnPostkeeperClick();
        break;
    default:
        break;
    }
}

// --- the rows -------------------------------------------------------------------------

void TFormMain::BtnTransMode(int tag) {
    for (const QModelIndex& index : ListViewRemoPOP->selectionModel()->selectedRows())
        MailRows->SetMode(index.row(), tag);
}

void TFormMain::ListViewRemoPOPDblClick() {
    const QModelIndex current = ListViewRemoPOP->currentIndex();
    if (!current.isValid() || !ListViewRemoPOP->selectionModel()->isRowSelected(current.row()))
        return;
    TFormHelp dlg(this);
    TStringList raw, lines;
    raw.SetText(MailRows->Row(current.row()).Headers);
    const std::string charset = HeaderCharset(raw);
    for (const std::string& line : raw) lines.Add(HeaderLineText(line, charset));
    dlg.SetUnicodeLines(lines);
    RunModal(dlg);
}

// --- busy and idle ----------------------------------------------------------------------

void TFormMain::EnterBusyState() {
    BtnListMail->hide();
    BtnStopp->show();
    for (QWidget* w : std::initializer_list<QWidget*>{BtnDialHang, BtnPostkeeper, BtnOpenMail,
                                                      BtnPrintMail, BtnSetting})
        w->setEnabled(false);
}

void TFormMain::EnterIdleState() {
    BtnStopp->hide();
    BtnListMail->show();
    BtnDialHang->setEnabled(AutoDial() && !ExternOnline);
    for (QPushButton* b : {BtnPostkeeper, BtnOpenMail, BtnPrintMail, BtnSetting})
        b->setEnabled(true);
}
