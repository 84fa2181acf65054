// TFormMain's check cycle: triggers, dialling and hanging up, the header list and the timers.
#include "app/HelpUnit.h"
#include "app/Icons.h"
#include "app/MainUnit.h"
#include "app/Settings.h"
#include "base/StrUtils.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "message/mspars.h"
#include "net/Mspop.h"
#include "net/Mswsock.h"
#include "output/BTOdeum.h"
#include "platform/Ansi.h"
#include "platform/Clock.h"
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
#include <QTreeWidget>

#include <algorithm>
#include <cstdlib>

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
constexpr int kConnectedState = 8192;
constexpr int kDisconnectedState = 8193;
constexpr int kPauseMs = 2000;
constexpr int kHeaderRole = Qt::UserRole + 1;

QDateTime Now() {
    return QDateTime::fromMSecsSinceEpoch(Clock().WallMs());
}

std::string NowText() {
    return QToAnsi(QLocale().toString(Now(), QLocale::ShortFormat));
}

// "%8.0n": no decimals, the locale's thousands separators, right-aligned in 8 positions.
QString SizeText(int64_t size) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(qlonglong(size)).rightJustified(8, ' ');
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

// Errors of the connection itself; anything else raised while a header block is read comes
// from reading the block's contents, and the connection is still in step.
bool IsConnectionError(const std::exception& e) {
    return dynamic_cast<const EmsServerError*>(&e) ||
           dynamic_cast<const EmsConnectionClosedError*>(&e) ||
           dynamic_cast<const EmsTimedOutError*>(&e) || dynamic_cast<const EmsCanceledError*>(&e) ||
           dynamic_cast<const EWinsockError*>(&e);
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
        WriteLog(kConnectTo + POPClient->Host());
    };
    POPClient->OnConnected = [this](TmsSocketBase*) {
        WriteLog(kConnectedPop);
        ProgramLog.Add(kDateTime + QToAnsi(QLocale().toString(Now(), QLocale::LongFormat)));
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
            WriteLog(NowText() + ": " + MessageText);
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
    connect(ListViewRemoPOP, &QTreeWidget::itemDoubleClicked, this,
            &TFormMain::ListViewRemoPOPDblClick);
}

// --- triggers -----------------------------------------------------------------------

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
        TFlagGuard working(FWorking);
        FCheckFailed = false;
        FCheckError.clear();
        FCancelled = false;
        EnterBusyState();
        try {
            bool go = true;
            if (AutoConnect) {
                DialConnection();
                // Cancel during the dial skips the check.
                go = !FCancelled;
            }
            if (go && ListOnly) ListMails(KeepConnected);
            // The transfer of marked messages is not part of this program yet; a request for
            // it lists the post office.
            if (go && !ListOnly) ListMails(KeepConnected);
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
    if (AutoConnect || UserOnline) {
        CloseConnection();
        return;
    }
    platform::Pause(kPauseMs);
    if (OnLineDetect->IsOnline()) MsgLabel->setText(AnsiToQ(kStillOnline));
    MessageBeep(MB_ICONASTERISK);
}

template <class F> void TFormMain::WaitUntil(F done) {
    TimerWait->setInterval(ClientRec.Timeout * 1000);
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
        if (!FDialConnected) FDialing = false; // a late connect is hung up on arrival
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
    POPClient->Cancel();
    try {
        CloseConnection();
    } catch (const std::exception&) {
        // The socket is closed by the cancel; a failed goodbye changes nothing.
    }
    BtnStopp->hide();
    BtnListMail->show();
    BtnDialHang->setEnabled(BtnListMail->isVisible() && AutoConnect && !ExternOnline);
    WriteLog(kCancelled);
}

// --- the list -------------------------------------------------------------------------

void TFormMain::AddRow(int64_t size) {
    auto* row = new QTreeWidgetItem(ListViewRemoPOP);
    row->setIcon(0, ModeIcon(RetrvMode));
    row->setData(0, Qt::UserRole, RetrvMode);
    row->setText(0, AnsiToQ(MailMessage.Subject()));
    const std::string& name = MailMessage.Sender().Name();
    row->setText(1, AnsiToQ(name.empty() ? MailMessage.Sender().Address() : name));
    row->setText(2, QString(int(MailMessage.Priority()) + 1, '!'));
    row->setText(3, SizeText(size));
    row->setText(4, QLocale().toString(MailDate(MailMessage), QLocale::ShortFormat));
    row->setTextAlignment(2, Qt::AlignCenter);
    row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    std::string headers;
    for (int i = 0; i < MailMessage.Headers().Count(); ++i)
        headers.append(MailMessage.Headers()[i]).append("\n");
    row->setData(0, kHeaderRole, QByteArray::fromStdString(headers));
}

std::string TFormMain::RowHeaders(const QTreeWidgetItem* row) {
    return row->data(0, kHeaderRole).toByteArray().toStdString();
}

void TFormMain::ListMails(bool KeepConnected) {
    FListDone = false;
    ListViewRemoPOP->clear();
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
        count = POPClient->MessageCount();
        LabelStatus->setText(QString::number(count) + kAtPostoffice);
        loggedIn = true;
    } catch (const std::exception& e) {
        MsgMemo->appendPlainText(AnsiToQ(kErrorCallingMemo));
        LabelStatus->setText(kErrorCallingStatus);
        FCheckFailed = true;
        FCheckError = e.what();
        try {
            if (POPClient->IsConnected()) POPClient->Logout();
        } catch (const std::exception&) {
        }
        BtnStoppClick();
        count = 0;
    }
    if (loggedIn && count == 0) {
        LabelStatus->setText(kPostofficeEmpty);
        KeepConnected = false;
    }
    try {
        for (int i = 0; loggedIn && i < count; ++i) {
            POPClient->SetCurrentMessage(i);
            try {
                POPClient->RetrieveHeaders();
            } catch (const std::exception& e) {
                // A header block that cannot be read whole still gets a row.
                if (IsConnectionError(e)) throw;
                ProgramLog.Add(e.what());
            }
            AddRow(POPClient->GetMessageSize());
        }
    } catch (...) {
        failure = std::current_exception();
    }

    if (count > 0) {
        if (!failure)
            WaitUntil([this, count] { return ListViewRemoPOP->topLevelItemCount() >= count; });
        BTBeeper->PlayDefault();
        LabelStatus->setText(QString::number(count) + kReadyForCollecting);
    } else if (loggedIn) {
        // A failed log-in keeps its own texts: it must not look like an empty mailbox.
        if (FDialError) {
            LabelStatus->setText(AnsiToQ(NowText() + kErrorInquiring));
            FDialError = false;
        } else {
            LabelStatus->setText(AnsiToQ(NowText() + kNoNewMail));
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
    TimerInterval->stop();
    TimerEmedit->stop();
    if (CurSetName != StartSetName) {
        ReadClientFile(AccountFileName(StartSetName));
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
        if (ListViewRemoPOP->topLevelItemCount() > 0) RestoreAndRaise();
        break;
    case faOpenPostkeeper:
        if (PVMinimized) RestoreAndRaise();
        // Collecting and starting Postkeeper are not part of this program yet: list instead.
        BtnListMailClick();
        break;
    default:
        break;
    }
}

// --- the rows -------------------------------------------------------------------------

void TFormMain::BtnTransMode(int tag) {
    for (QTreeWidgetItem* row : ListViewRemoPOP->selectedItems()) {
        row->setIcon(0, ModeIcon(tag));
        row->setData(0, Qt::UserRole, tag);
    }
}

void TFormMain::ListViewRemoPOPDblClick() {
    QTreeWidgetItem* row = ListViewRemoPOP->currentItem();
    if (!row || !row->isSelected()) return;
    TFormHelp dlg(this);
    TStringList lines;
    const std::string text = RowHeaders(row);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.Add(text.substr(start, end - start));
    dlg.SetLines(lines);
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
    BtnDialHang->setEnabled(AutoConnect && !ExternOnline);
    for (QPushButton* b : {BtnPostkeeper, BtnOpenMail, BtnPrintMail, BtnSetting})
        b->setEnabled(true);
}
