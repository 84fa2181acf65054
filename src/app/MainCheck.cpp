// TFormMain's check cycle: triggers, dialling and hanging up, what the session tells on screen and
// the timers.
#include "app/HelpUnit.h"
#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "base/Clock.h"
#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "mailbox/AccountWatch.h"
#include "mailbox/BackgroundChecks.h"
#include "mailbox/MailFiles.h"
#include "mailbox/Settings.h"
#include "message/msmsgtext.h"
#include "net/EventWait.h"
#include "net/Mspop.h"
#include "output/BTOdeum.h"
#include "platform/Ansi.h"
#include "platform/Paths.h"
#include "platform/SystemSounds.h"

#include <QApplication>
#include <QDateTime>
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
const char* const kConnectionInProgress = "Connection in progress";
const char* const kConnectionTerminated = "Connection terminated";
const char* const kAsyncVia = "Asynchrone connection via: ";
const char* const kErrorInquiringList = "Error when inquiring list\rsee protocol";
const char* const kTimeoutRuntime = "Timeout-runtime of: ";
const char* const kSecondsExceeded = " seconds exceeded!";
const char* const kIncreaseTimeout =
    "Increase the value of \"Timeout\" at Postkeeper (setting or F12) (or \"Dummy.SET\")";
const char* const kCancelled = "Cancelled";
const char* const kErrorInquiring = ":    - Error when inquiring -";
const char* const kStillOnline = "Connection ONLINE\rClose at status bar!";
const char* const kBusyIgnored = "A check is running; wait for it or press Cancel";
const char* const kCheckedInBackground =
    "This account is being checked in the background; try again when it has finished";
constexpr int kConnectedState = 8192;
constexpr int kDisconnectedState = 8193;
constexpr int kPauseMs = 2000;

// The time of day in the user's locale, as Unicode (any script, not only Windows-1252's).
QString NowText() {
    return QLocale().toString(ClockNow(), QLocale::ShortFormat);
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
    // The background never dials: it checks while the machine is online, whoever made it so.
    Background->Online = [this] {
        try {
            OnLineDetect->Poll();
        } catch (const Exception&) {
            // A failed poll reads as offline.
        }
        return OnLineDetect->IsOnline();
    };
    Background->WindowAccount = [this] { return FLoadedAccount; };
    Background->OnChecked = [this](const TWatchedAccount& account,
                                   const std::vector<TMailRow>& rows,
                                   bool news) { BackgroundChecked(account, rows, news); };
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
        // That session's wait is further up the stack: this check cannot wait for it.
        if (SameText(Background->Current(), FLoadedAccount)) {
            FCheckFailed = true;
            FCheckError = kCheckedInBackground;
            SetStatusText(AnsiToQ(FCheckError));
            return;
        }
        if (std::string busy = Session->Lock(); !busy.empty()) {
            FCheckFailed = true;
            FCheckError = std::move(busy);
            SetStatusText(AnsiToQ(FCheckError));
            return;
        }
        struct TUnlock {
            TMailboxSession& session;
            ~TUnlock() { session.Unlock(); }
        } unlock{*Session};
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
    WaitEvents(Clock().NowMs() + TimerWait->interval(), &FCancelled,
               [&] { return done() || !TimerWait->isActive(); });
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
    if (ok) WaitUntil([this] { return FDialConnected; });
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
    Session->Cancel();
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

void TFormMain::ListMails(bool KeepConnected) {
    FListDone = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TCheckResult result;
    try {
        result = Session->Check(KeepConnected);
    } catch (...) {
        // The rows listed before the break go on show.
        MailRows->Flush();
        BTBeeper->PlayDefault();
        throw;
    }
    // The rows go on show together, not a frame later.
    MailRows->Flush();
    if (!result.Error.empty()) {
        Watch->NoteFailure(FLoadedAccount, result.Error);
        FCheckFailed = true;
        FCheckError = result.Error;
        BtnStoppClick();
        MsgLabel->setText(AnsiToQ(FCheckError));
        MessageBeep(MB_ICONASTERISK);
    } else if (result.Count > 0) {
        BTBeeper->PlayDefault();
    } else {
        // A dial that reported an error says so rather than look like an empty mailbox.
        if (std::exchange(FDialError, false)) LabelStatus->setText(NowText() + kErrorInquiring);
        MessageBeep(MB_ICONASTERISK);
    }
    QApplication::restoreOverrideCursor();
    FListDone = true;
    if (result.LoggedIn) NoteCheckResult();
}

void TFormMain::Status(const std::string& text) {
    LabelStatus->setText(QString::fromStdString(text));
}

void TFormMain::StatusBar(const std::string& text) {
    SetStatusText(QString::fromStdString(text));
}

void TFormMain::Protocol(const std::string& line) {
    const QString text = AnsiToQ(line);
    MsgLabel->setText(text);
    MsgMemo->appendPlainText(text);
}

void TFormMain::Memo(const std::string& line) {
    MsgMemo->appendPlainText(AnsiToQ(line));
}

void TFormMain::Connecting() {
    MsgMemo->clear();
}

void TFormMain::RowsCleared() {
    MailRows->Reset();
}

void TFormMain::RowsAdded(int) {
    MailRows->RowsAppended();
}

void TFormMain::RowChanged(int index) {
    MailRows->RowChanged(index);
}

void TFormMain::Breathe() {
    // Rows from the cache come without socket waits; the window stays alive all the same.
    ProcessMessages();
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
    RunBackgroundChecks();
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
