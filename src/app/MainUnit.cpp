// TFormMain's behaviour: start-up, accounts, idle handling, tray and online display.
#include "app/MainUnit.h"

#include "app/FormLogo.h"
#include "app/HelpViewer.h"
#include "app/Icons.h"
#include "app/MailRows.h"
#include "app/PaWoUnit.h"
#include "app/TrayMenu.h"
#include "base/StrUtils.h"
#include "dialup/DialUp.h"
#include "dialup/OnLine.h"
#include "dialup/RasBinding.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "output/BTOdeum.h"
#include "output/ShellOpen.h"
#include "platform/Ansi.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Registry.h"
#include "platform/SoundLibrary.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <utility>

namespace {
const char* const kCaptionPrefix = "Postvigil for: ";
constexpr int kCaptionMax = 79;
const char* const kAppTitle = "Tessmar Postvigil";
const char* const kChangeHint = "Change mail server to: ";
const char* const kTooManyAccounts = "More than ten accounts are listed; only the first ten "
                                     "(in sorted order) are offered in the account menu";
const char* const kLogFile = "POP-Log.TXT";
const char* const kSoundTrouble = "Sound output: ";
const char* const kOnline = "ONLINE";
const char* const kOffline = "OFFLINE";
const char* const kAbout = "Tessmar Postvigil 2.0\n\nWatches your POP3 accounts for waiting eMail.";
const char* const kAskHomepage = "Open homepage for Tessmar Postvigil";
// The product page; one place to change when the address moves.
const char* const kHomepage = "https://postvigil.example.org/";
constexpr int kMinuteMs = 60000;
constexpr int kEmeditMs = 30000;
constexpr int kTrayFrameMs = 500;
constexpr int kAccountItems = 10;
} // namespace

const char* const kReadyForChecking = "Ready for checking!";

int TFormMain::RunModal(QDialog& dialog) {
    return ExecModal ? ExecModal(dialog) : dialog.exec();
}

// --- start-up ---------------------------------------------------------------------

void TFormMain::FormCreate() {
    DialUp = std::make_unique<TDialUp>();
    OnLineDetect = std::make_unique<TOnLineDetect>();
    TimerInterval = new QTimer(this);
    TimerEmedit = new QTimer(this);
    TimerWait = new QTimer(this);
    TrayTimer = new QTimer(this);
    TimerInterval->setInterval(kMinuteMs);
    TrayTimer->setInterval(kTrayFrameMs);
    ConnectComponents();
    ConnectCheckComponents();
    ConnectTransferComponents();

    // The information window comes before anything else.
    {
        TRegistry reg;
        reg.OpenKey(kPostvigilKey, false);
        ShowInfos = reg.ReadBool("ShowInfos", true);
        if (ShowInfos) ShowInfoDialog();
    }
    // Nothing of an earlier account is left over.
    ClientRec = TClientRec();
    QApplication::setApplicationDisplayName(kAppTitle);
    // A connection that is up before we start is someone else's. A dial-up service that
    // fails here must not stop the start: report it and take the machine as offline.
    try {
        ExternOnline = DialUp->GetActiveConnection();
    } catch (const Exception& e) {
        ExternOnline = false;
        SetStatusText(AnsiToQ("Error: " + e.Message));
    }
    BtnDialHang->setEnabled(!ExternOnline);
    // Without a dial-up service the phone book stays empty.
    try {
        DialUp->GetEntries();
    } catch (const Exception& e) {
        SetStatusText(AnsiToQ("Error: " + e.Message));
    }
    // The client keeps its protocol in memory; no file of that name is written.
    POPClient->SetLogFileName(ProgDir() + kLogFile);
    // The account to start with and the mode new rows get.
    {
        TRegistry reg;
        reg.OpenKey(kPostkeeperSetKey, false);
        CurSetName = reg.ReadString("DFUIniName", "Dummy");
        StartSetName = CurSetName;
        RetrvMode = reg.ReadInteger("RtrvMode", 5);
    }
    // The program settings, and the window as they say it starts.
    LoadSettings();
    setWindowState(PVMinimized ? Qt::WindowMinimized : Qt::WindowNoState);
    // The start-up account, applied to the session and the dial-up.
    ReadAccount(CurSetName);
    ApplyClientRec();
    FDialConnected = FDialing = FDialError = false;
    // Checking at start: a first check half a minute after the start.
    if (ClientRec.CheckEmedit) {
        TimerEmedit->setInterval(kEmeditMs);
        TimerEmedit->setSingleShot(true);
        TimerEmedit->start();
        FMinutes = 0;
        ProgressBar->setValue(0);
    }
    // The minute timer runs from the start; its tick does nothing while Interval is 0,
    // so an interval set later in the settings takes effect.
    TimerInterval->start();
}

void TFormMain::ConnectComponents() {
    connect(TrayTimer, &QTimer::timeout, this, [this] {
        static const QList<QIcon> frames = TrayFrames();
        FTrayFrame = FTrayFrame % (frames.size() - 1) + 1;
        TrayIcon->setIcon(frames[FTrayFrame]);
    });
    connect(TimerWait, &QTimer::timeout, TimerWait, &QTimer::stop);
    OnLineDetect->OnChange = [this](TOnLineDetect*) { OnLineDetectChange(); };
    SetRasPhoneBookListener([this] { PhoneBookRead(); });

    for (QAction* item : AccountItems)
        connect(item, &QAction::triggered, this,
                [this, item] { ChangeClient(item->data().toInt()); });
    connect(MINewAccount, &QAction::triggered, this, &TFormMain::NewAccount);
    connect(MIEditAccount, &QAction::triggered, this, &TFormMain::EditAccount);
    connect(MIRemoveAccount, &QAction::triggered, this, &TFormMain::RemoveAccount);
    connect(MIStartAccount, &QAction::triggered, this, &TFormMain::MakeStartAccount);
    for (QMenu* menu : {HelpCheckModeMenu, TrayItems[3]->menu()}) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateCheckModeMarks(menu); });
        for (QAction* a : menu->actions())
            connect(a, &QAction::triggered, this, [this, a] {
                if (!RefuseWhileWorking()) SetFollowAct(a->data().toInt());
            });
    }
    // Only the restore and End items work while a check runs (End cancels it first); the
    // others are refused like every other trigger.
    auto tray = [this](int tag, auto handler) {
        connect(TrayItems[std::size_t(tag)], &QAction::triggered, this, [this, handler] {
            if (!RefuseWhileWorking()) (this->*handler)();
        });
    };
    connect(TrayItems[1], &QAction::triggered, this, &TFormMain::RestoreAndRaise);
    tray(2, &TFormMain::PostTimedCheck);
    tray(7, &TFormMain::ShowInfoDialog);
    tray(8, &TFormMain::ShowAbout);
    connect(TrayItems[9], &QAction::triggered, this, &QWidget::close);
    connect(HelpMenu->actions().at(1), &QAction::triggered, this, &TFormMain::ShowAbout);
    connect(MIUpdate, &QAction::triggered, this, &TFormMain::MIUpdateClick);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) RestoreAndRaise();
            });
    connect(BtnMinimize, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(BtnExit, &QPushButton::clicked, this, &QWidget::close);
    connect(BtnSetting, &QPushButton::clicked, this, &TFormMain::BtnSettingClick);
    if (QSystemTrayIcon::isSystemTrayAvailable()) TrayIcon->show();
    // The idle handler runs whenever the event loop has nothing left to do.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &TFormMain::AppEventsIdle);
}

bool TFormMain::event(QEvent* e) {
    if (e->type() == QEvent::Type(WM_ASKPASSWORD)) {
        AskPassword();
        return true;
    }
    if (e->type() == QEvent::Type(WM_NEWACCOUNT)) {
        NewAccount();
        return true;
    }
    if (e->type() == QEvent::Type(WM_TIMEDCHECK)) {
        TimedCheck();
        return true;
    }
    return QMainWindow::event(e);
}

void TFormMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    const bool accountExists = std::filesystem::exists(AccountFileName(CurSetName));
    // A first start without any account opens the editor; cancelling it leaves the program
    // at "Empty" with nothing to ask.
    if (std::exchange(FFirstShow, false) && !accountExists && ListedAccounts().empty())
        QCoreApplication::postEvent(this, new QEvent(QEvent::Type(WM_NEWACCOUNT)));
    // Once per account: restoring the window does not ask again. An account without a file
    // has nobody to log in as.
    else if (FPasswordPromptDue && ClientRec.Password.empty() && accountExists)
        QCoreApplication::postEvent(this, new QEvent(QEvent::Type(WM_ASKPASSWORD)));
    FPasswordPromptDue = false;
}

void TFormMain::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
    // Hidden once the minimize is through; hiding inside the state change would undo it.
    if (e->type() == QEvent::WindowStateChange && isMinimized())
        QMetaObject::invokeMethod(this, &TFormMain::AppEventsMinimize, Qt::QueuedConnection);
}

void TFormMain::AppEventsMinimize() {
    const bool tray = TrayAvailable ? TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (isMinimized() && isVisible() && tray) hide();
}

// --- accounts ---------------------------------------------------------------------

void TFormMain::FormActivate() {
    ReadAccountNames();
    // The menu also makes and edits accounts, so it is there without any.
    BtnListMail->setMenu(PMRASCon);
    if (SetList.Count() > kAccountItems && FNoteTooManyAccounts) {
        FNoteTooManyAccounts = false;
        WriteLog(kTooManyAccounts);
    }
    for (int i = 0; i < kAccountItems; ++i) {
        QAction* item = AccountItems[std::size_t(i)];
        const std::string file =
            i < SetList.Count() ? FindFileNoCase(ProgDir(), SetList[i] + ".set") : "";
        // A removed account's item goes: it would switch to whatever took its place.
        if (file.empty() || !std::filesystem::exists(file)) {
            item->setVisible(false);
            continue;
        }
        const QString caption = AnsiToQ(ReadIniDescript(file));
        item->setText(caption);
        item->setProperty("caption", caption);
        item->setVisible(true);
        item->setData(i);
        item->setStatusTip(kChangeHint + caption);
        item->setToolTip(kChangeHint + caption);
        item->setIcon(AccountImage(i));
    }
    WatchListedAccounts();
    UpdateAccountCounts();
    UpdateAccountEntries();
}

void TFormMain::ApplyClientRec() {
    // An OAuth 2.0 account has no password to ask for: its check asks to sign in.
    FPasswordPromptDue = ClientRec.Password.empty() && !ClientRec.OAuth.Enabled();
    // The account read, which a timed check makes the start-up one whatever the menu shows:
    // its lock, its keyring entry and its file for what the check finds out.
    Session->SetAccountName(FLoadedAccount);
    Session->Apply();
    MailMessage.Sender().SetAddress(ClientRec.MailAddress);
    MailMessage.Sender().SetName(ClientRec.MailName);
    TimerWait->setInterval(TimeoutMs(ClientRec.Timeout));
    TimerWait->stop();
    ApplyDialEntry();
    setWindowTitle(AnsiToQ((kCaptionPrefix + ClientRec.IniDescript).substr(0, kCaptionMax)));
    UpdateAccountEntries();
}

// The account's phone-book entry, from the phone book as it is now.
void TFormMain::ApplyDialEntry() {
    FNoDialEntry = ::ApplyDialEntry(*DialUp);
    if (!ExternOnline && !UserOnline) BtnDialHang->setEnabled(AutoDial());
}

// The connection manager lists its phone book once it has answered, which may be after the
// start-up read: the applied account then takes its entry from the phone book as it is.
void TFormMain::PhoneBookRead() {
    const TStringList before = DialUp->Entries();
    try {
        DialUp->GetEntries();
    } catch (const Exception&) {
        return;
    }
    if (DialUp->Entries() == before) return;
    RasIndex = ClientRec.RASService;
    ApplyDialEntry();
    UpdateAccountEntries();
}

bool TFormMain::AutoDial() const {
    return AutoConnect && !FNoDialEntry;
}

void TFormMain::ChangeClient(int Index) {
    if (Index < 0 || Index >= SetList.Count() || SetList[Index] == CurSetName) return;
    CurSetName = SetList[Index];
    ReadAccount(CurSetName);
    ApplyClientRec();
    MailRows->Clear();
    LabelStatus->clear();
    ShowLastListing();
}

void TFormMain::AskPassword() {
    TFormPassword dlg(this);
    RunModal(dlg);
    // The typed password is taken whole: long passphrases must log in.
    const std::string typed = QToAnsi(dlg.EditPassword->text());
    ClientRec.Password = typed;
    POPClient->SetPassword(Trim(typed));
}

void TFormMain::ShowInfoDialog() {
    // Before the window is first shown the dialog stands alone; later it belongs to the
    // window, also while that sits in the tray, so that closing it cannot end the program.
    TLogoForm dlg(ShowInfos, FFirstShow ? nullptr : this);
    dlg.setWindowTitle(kAppTitle);
    // A help page opened from here belongs to the main window and goes with it.
    dlg.OnOpenTarget = [this](const std::string& target) {
        THelpViewer::ShowHelp(this, QString::fromStdString(target));
    };
    RunModal(dlg);
    if (dlg.CBShowInfo->isChecked() == ShowInfos) return;
    ShowInfos = dlg.CBShowInfo->isChecked();
    TRegistry reg;
    if (reg.OpenKey(kPostvigilKey, true)) reg.WriteBool("ShowInfos", ShowInfos);
}

// --- protocol, idle, tray ------------------------------------------------------------

void TFormMain::WriteLog(const std::string& Text) {
    ProgramLog.Add(Text);
    Protocol(Text);
}

void TFormMain::WriteLogUnicode(const QString& Text) {
    MsgLabel->setText(Text);
    MsgMemo->appendPlainText(Text);
    ProgramLog.Add(QToAnsi(Text));
}

void TFormMain::AppEventsIdle() {
    const int rows = MailRows->Count();
    const bool animate = rows > 0;
    if (animate != TrayTimer->isActive()) {
        if (animate) {
            TrayTimer->start();
        } else {
            TrayTimer->stop();
            TrayIcon->setIcon(AppIcon());
        }
    }
    const QString hint = TrayHint();
    if (TrayIcon->toolTip() != hint) TrayIcon->setToolTip(hint);
    for (QPushButton* b : {BtnGetDel, BtnDelMail, BtnReset, BtnCopyMail})
        if (b->isEnabled() != (rows > 0)) b->setEnabled(rows > 0);
    // Collecting uses the socket of a running check: not before that check is over.
    const bool collect = rows > 0 && !FWorking;
    if (BtnGetMailList->isEnabled() != collect) BtnGetMailList->setEnabled(collect);
    // Trouble with the sound output goes to the protocol, once a run, not to the terminal.
    const std::string soundTrouble = TakeSoundLibraryError();
    if (!soundTrouble.empty()) {
        const std::string line = kSoundTrouble + soundTrouble;
        MsgMemo->appendPlainText(AnsiToQ(line));
        ProgramLog.Add(line);
    }
}

void TFormMain::OnLineDetectChange() {
    FOnline = OnLineDetect->IsOnline();
    ExternOnline = ExternOnline && FOnline;
    if (!ExternOnline) ExternOnline = FOnline && !FDialing;
    UserOnline = UserOnline && FOnline;
    if (FOnline) {
        BtnDialHang->setText(kOnline);
        BtnDialHang->setStyleSheet("QPushButton { color: #ff0000; font-weight: bold; }");
    } else {
        BtnDialHang->setText(kOffline);
        BtnDialHang->setStyleSheet("QPushButton { color: #008080; font-weight: bold; }");
        ExternOnline = false;
        UserOnline = false;
    }
    BtnDialHang->setEnabled(!ExternOnline);
    // A running check owns the status line: its result must not be overwritten.
    if (ExternOnline && !FWorking) LabelStatus->setText(kReadyForChecking);
}

void TFormMain::PostTimedCheck() {
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(WM_TIMEDCHECK)));
}

void TFormMain::SetFollowAct(int tag) {
    ClientRec.FollowAct = tag - 4;
}

void TFormMain::UpdateCheckModeMarks(QMenu* menu) {
    for (QAction* a : menu->actions()) a->setChecked(a->data().toInt() - 4 == ClientRec.FollowAct);
}

void TFormMain::RestoreAndRaise() {
    if (isMinimized() || isHidden()) showNormal();
    raise();
    activateWindow();
}

void TFormMain::ShowAbout() {
    // Owned by the window even while it sits in the tray: a box of its own would end the
    // program when closed.
    QMessageBox::about(this, QString(), kAbout);
}

void TFormMain::MIUpdateClick() {
    if (Prompts().Ask(kAskHomepage) == mrYes) OpenDocumentMaximized(kHomepage);
}
