// TFormMain: the program's main window.
#pragma once

#include "message/msmsg.h"

#include "app/MailRows.h"
#include "base/StringList.h"
#include "mailbox/MailboxSession.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QDialog;
class QTimer;
class QDBusConnection;
class TAccountWatch;
struct TWatchedAccount;
struct TAccountEntry;
class TBackgroundChecks;
class TBTBeeper;
class TDesktopNotifier;
class TDialUp;
class TOnLineDetect;
class TmsPOPClient;
class QHeaderView;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class QToolButton;
class QTreeView;
class TTrayMenu;

// The status text of a machine that is online and ready for a check.
extern const char* const kReadyForChecking;

// The window is one client of its mailbox session: it shows what the session tells and asks
// the user what the session asks.
class TFormMain : public QMainWindow, public TMailboxEvents {
    Q_OBJECT
public:
    // Private window messages, posted as events of these types.
    static constexpr int WM_TIMEDCHECK = 0x1400;
    static constexpr int WM_ASKPASSWORD = 0x1401;
    // Opens the account editor for a first account once the window is up.
    static constexpr int WM_NEWACCOUNT = 0x1402;

    // Builds the controls and runs the start-up sequence (FormCreate).
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Components owned for the whole run: the session of the loaded account and its client.
    std::unique_ptr<TMailboxSession> Session;
    TmsPOPClient* POPClient = nullptr;
    // The message Print works on.
    TmsMessage MailMessage;
    std::unique_ptr<TDialUp> DialUp;
    std::unique_ptr<TOnLineDetect> OnLineDetect;
    std::unique_ptr<TBTBeeper> BTBeeper;
    // What is known of every listed account, and the checks of those the window is not on.
    std::unique_ptr<TAccountWatch> Watch;
    std::unique_ptr<TBackgroundChecks> Background;
    QTimer* TimerInterval;
    QTimer* TimerEmedit;
    QTimer* TimerWait;
    QTimer* TrayTimer;

    bool FListDone = false;
    bool FDialConnected = false;
    bool FDialing = false;
    bool FDialError = false;
    bool FOnline = false;
    int FMinutes = 0;

    // Shows a dialog modally and returns its result. Empty means QDialog::exec(); tests
    // install a function that fills in and closes the dialog instead.
    static inline std::function<int(QDialog& dialog)> ExecModal;
    static int RunModal(QDialog& dialog);

    void FormCreate();
    // Rebuilds the account menu (runs on every activation of the window).
    void FormActivate();
    void ApplyClientRec();
    void ApplyDialEntry();
    void PhoneBookRead();
    void ChangeClient(int Index);
    // Loads the named account into ClientRec (warning once per file when others can read its
    // password); ApplyClientRec then hands it on.
    void ReadAccount(const std::string& name);
    // The account menu's entries below the accounts.
    void NewAccount();
    void EditAccount();
    void RemoveAccount();
    void MakeStartAccount();
    void AskPassword() override;
    void ShowInfoDialog();
    // The settings dialog; the account editor can be opened from it.
    void BtnSettingClick();
    void WriteLog(const std::string& Text);
    // A line with Unicode text (a date in the user's locale): shown as it is; the protocol
    // keeps its 8-bit form.
    void WriteLogUnicode(const QString& Text);
    void AppEventsIdle();
    void OnLineDetectChange();
    void SetFollowAct(int tag);
    // Restores the window from the tray or the task bar and brings it to the front
    // (AppEventsRestore).
    void RestoreAndRaise();
    // A minimized window leaves the task bar while the tray icon can bring it back.
    void AppEventsMinimize();
    // Whether the desktop shows tray icons; tests install their own answer.
    static inline std::function<bool()> TrayAvailable;
    // The session bus the desktop notifications go to; tests install a private one.
    static inline std::function<QDBusConnection()> NotifyBus;
    // After a check that listed the post office: a check started by the timer or the tray
    // announces messages it has not announced before (unless Notify is off).
    void NoteCheckResult();
    // Announces rows found on the described account (its own notification, replacing the
    // account's last one); a click brings the window back on that account.
    void Announce(const std::string& name, const std::string& descript,
                  const std::vector<TMailRow>& rows);
    // After a timed or start-up check: every other listed account is checked in the
    // background (CheckAllAccounts), and each announces its news.
    void RunBackgroundChecks();
    // The tray's hint: the window's list, then one line per account when more than one is
    // listed.
    QString TrayHint() const;
    // The account menu's items show each account's count beside its name.
    void UpdateAccountCounts();
    // The listed accounts, handed to the watch as well.
    std::vector<TAccountEntry> WatchListedAccounts();
    // A switch to an account that was checked in this run shows that check's listing from the
    // header cache, "checked at" its time, until the account is queried again.
    void ShowLastListing();
    // "Program &update": offers the product's web page.
    void MIUpdateClick();
    // Posts WM_TIMEDCHECK to the window.
    void PostTimedCheck();

    // The check cycle.
    void BtnListMailClick();
    void RunCheck(bool IsStart, bool ListOnly, bool KeepConnected);
    bool DialConnection();
    void CloseConnection();
    void ListMails(bool KeepConnected);
    void TimedCheck();
    void TimerIntervalTimer();
    void BtnStoppClick();
    void BtnTransMode(int tag);
    void ListViewRemoPOPDblClick();
    // Collecting: the transfer of marked messages, mail files and the protocol.
    void BtnGetMailListClick();
    void TransferMails(bool KeepConnected);
    void BtnPostkeeperClick();
    // Starts the user's mail program on its own (MailProgram, else the desktop's handler of
    // mailto links); false when there is none to start.
    bool StartMailProgram();
    // Open (tag 11) and Print (tag 22) share this handler.
    void BtnOpenMailClick(int tag);
    void PrintMailFile(const std::string& FileName);
    void BtnPotocolClick();
    // Writes the protocol file; runs when the window goes.
    void FormDestroy();
    // Where Print draws its pages; nullptr for the printer. Tests set a PDF canvas.
    static inline class TPrintCanvas* PrintCanvas = nullptr;
    // Shows the file-open dialog of Open and Print; empty means the user cancelled. Tests
    // install their own choice.
    static inline std::function<std::string(QWidget* parent, const std::string& folder)>
        ChooseMailFile;

    // The ONLINE/OFFLINE button: dials or hangs up by hand (only with AutoConnect).
    void BtnDialHangClick();
    // Busy: Cancel instead of Query, the buttons that share the socket or the working
    // message disabled. Idle: the reverse.
    void EnterBusyState();
    void EnterIdleState();
    // A check or transfer is running; triggers that would start another are ignored.
    bool Working() const { return FWorking; }
    // Checks dial and hang up by themselves: AutoConnect, and the applied account has a
    // phone-book entry to dial.
    bool AutoDial() const;
    // Set when the last check could not list the post office (log-in failed, cancelled or an
    // error ended it); the text says why.
    bool FCheckFailed = false;
    std::string FCheckError;

    // Controls, top to bottom and left to right.
    QHeaderView* HeaderControl;
    QToolButton* BtnListMail;
    QPushButton* BtnStopp;
    QPushButton* BtnGetMailList;
    QPushButton* BtnPostkeeper;
    QLabel* MsgLabel;
    QPushButton* BtnOpenMail;
    QPushButton* BtnPrintMail;
    QPushButton* BtnHelp;
    QPushButton* BtnMinimize;
    QPushButton* BtnExit;
    QPushButton* BtnDialHang;
    QLabel* LabelStatus;
    QProgressBar* ProgressBar;
    QPushButton* BtnGetDel;
    QPushButton* BtnCopyMail;
    QPushButton* BtnDelMail;
    QPushButton* BtnReset;
    QPushButton* BtnPotocol;
    QPushButton* BtnSetting;
    // The message list: the view and the rows it shows.
    QTreeView* ListViewRemoPOP;
    TMailRowModel* MailRows;
    QPlainTextEdit* MsgMemo;

    // The account menu on the Query button's arrow: ten items, tags 0..9.
    QMenu* PMRASCon;
    std::array<QAction*, 10> AccountItems{};
    QAction* MINewAccount;
    QAction* MIEditAccount;
    QAction* MIRemoveAccount;
    QAction* MIStartAccount;
    // The help menu and the tray with its menu.
    QMenu* HelpMenu;
    QMenu* HelpCheckModeMenu;
    QAction* MIUpdate;
    QSystemTrayIcon* TrayIcon;
    TTrayMenu* TrayMenu;
    // Tray menu items by tag (1..9); index 0 is unused.
    std::array<QAction*, 10> TrayItems{};

    // The status bar's single text field.
    void SetStatusText(const QString& text);
    QString StatusText() const;

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    // The close query: offers to hang up a connection that Postvigil or the user made.
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    // The list and the protocol memo take what the window has beyond its smallest size.
    void resizeEvent(QResizeEvent* e) override;
    // A double click on the message label shows the protocol.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ConnectComponents();
    void ShowAbout();
    void UpdateCheckModeMarks(QMenu* menu);
    void BuildControls();
    void BuildMenus();
    void BuildTray();
    // Widens the sections whose caption does not fit, taking the room from the donor section.
    static void FitHeaderTexts(QHeaderView* header, int donor);
    // Places the controls that grow with the window for a window of the given size.
    void ArrangeControls(QSize size);
    // The window's place and the list's column widths as they were left; true when the
    // window was maximized.
    bool RestorePlace();
    void SavePlace();

    void ConnectCheckComponents();
    void ConnectTransferComponents();
    // What the session tells and asks, shown in the window.
    void Status(const std::string& text) override;
    void StatusBar(const std::string& text) override;
    void Protocol(const std::string& line) override;
    void Memo(const std::string& line) override;
    void Connecting() override;
    void RowsCleared() override;
    void RowsAdded(int first) override;
    void RowChanged(int index) override;
    void Retrieving(int number, int count) override;
    void Progress(int number, int percent) override;
    void Breathe() override;
    // The confirmation for a message above MailMaxSize; true to collect it.
    bool ConfirmSize(const TMailRow& row) override;
    // Whether to trust the refused certificate for the account.
    bool TrustCertificate(const EmsCertificateError& e) override;
    bool SignIn(const std::string& reason) override;
    // Runs events until done() holds, the check is cancelled or TimerWait has run out (Timeout
    // seconds, counted on the program's clock; stopping TimerWait ends the wait too).
    template <class F> void WaitUntil(F done);
    bool RefuseWhileWorking();
    // Closes the window when a close was asked for while work ran.
    void CloseIfRequested();

    bool FWorking = false;
    bool FCloseRequested = false;
    // The running check was started by the timer or the tray, not by the user's click.
    bool FTimedRun = false;
    // The account ReadAccount loaded into ClientRec: the one the window's checks work on (a
    // timed check loads the start-up account whatever the menu was left on).
    std::string FLoadedAccount;
    // One notifier per account, made on its first announcement; children of the window.
    std::vector<std::pair<std::string, TDesktopNotifier*>> FNotifiers;
    TDesktopNotifier& NotifierFor(const std::string& name);
    void BackgroundChecked(const TWatchedAccount& account, const std::vector<TMailRow>& rows,
                           bool news);
    bool FCancelled = false;
    // The applied account names a phone-book entry, but the phone book has none.
    bool FNoDialEntry = false;
    // A dial started with the ONLINE/OFFLINE button has not connected yet; it is kept when it
    // connects late.
    bool FManualDial = false;
    // The user's own dial is up: the button's beeps, UserOnline and the status line.
    void ManualDialUp();
    // The applied account has no password and the prompt for it has not been posted yet.
    bool FPasswordPromptDue = false;
    int FTrayFrame = 0;
    bool FNoteTooManyAccounts = true;
    bool FFirstShow = true;
    std::vector<std::string> FWarnedFiles;
    // Shows the account editor; true when it saved. fileName is "" for a new account, whose
    // name then goes to createdName.
    bool RunAccountEditor(const std::string& fileName, std::string* createdName);
    // Makes the named account the loaded one: list and status cleared, menu rebuilt.
    void SwitchToAccount(const std::string& name);
    void UpdateAccountEntries();
};
