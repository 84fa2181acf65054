// TFormMain: the program's main window.
#pragma once

#include "message/msmsg.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QDialog;
class QTimer;
class TBTBeeper;
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
class QTreeWidget;
class TTrayMenu;

// The status text of a machine that is online and ready for a check.
extern const char* const kReadyForChecking;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // Private window messages, posted as events of these types.
    static constexpr int WM_TIMEDCHECK = 0x1400;
    static constexpr int WM_ASKPASSWORD = 0x1401;

    // Builds the controls and runs the start-up sequence (FormCreate).
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Components owned for the whole run.
    std::unique_ptr<TmsPOPClient> POPClient;
    TmsMessage MailMessage;
    std::unique_ptr<TDialUp> DialUp;
    std::unique_ptr<TOnLineDetect> OnLineDetect;
    std::unique_ptr<TBTBeeper> BTBeeper;
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
    void ChangeClient(int Index);
    void AskPassword();
    void ShowInfoDialog();
    void WriteLog(const std::string& Text);
    void AppEventsIdle();
    void OnLineDetectChange();
    void SetFollowAct(int tag);
    // Restores the window from the tray or the task bar and brings it to the front.
    void RestoreAndRaise();
    // Posts WM_TIMEDCHECK to the window.
    void PostTimedCheck();

    // The check cycle.
    void BtnListMailClick();
    void RunCheck(bool IsStart, bool ListOnly, bool KeepConnected);
    bool DialConnection();
    void CloseConnection();
    void ListMails(bool KeepConnected);
    // Logs in; a server certificate that fails its check is offered to the user to trust
    // (stored for the account), and the log-in then tries once more.
    void LoginTrusting();
    // Asks whether to trust the refused certificate; true when it was stored.
    bool OfferCertificateTrust(const class EmsCertificateError& e);
    // The protocol line on the connection's security, and the one warning per run about a
    // password sent in clear text to another machine.
    void ReportConnectionSecurity();
    void TimedCheck();
    void TimerIntervalTimer();
    void BtnStoppClick();
    void BtnTransMode(int tag);
    void ListViewRemoPOPDblClick();
    // The ONLINE/OFFLINE button: dials or hangs up by hand (only with AutoConnect).
    void BtnDialHangClick();
    // Busy: Cancel instead of Query, the buttons that share the socket or the working
    // message disabled. Idle: the reverse.
    void EnterBusyState();
    void EnterIdleState();
    // A check or transfer is running; triggers that would start another are ignored.
    bool Working() const { return FWorking; }
    // Set when the last check could not list the post office (log-in failed, cancelled or an
    // error ended it); the text says why.
    bool FCheckFailed = false;
    std::string FCheckError;
    // Header lines of a listed row, kept with the row when it was built.
    static std::string RowHeaders(const class QTreeWidgetItem* row);

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
    QTreeWidget* ListViewRemoPOP;
    QPlainTextEdit* MsgMemo;

    // The account menu on the Query button's arrow: ten items, tags 0..9.
    QMenu* PMRASCon;
    std::array<QAction*, 10> AccountItems{};
    // The help menu and the tray with its menu.
    QMenu* HelpMenu;
    QMenu* HelpCheckModeMenu;
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

private:
    void ConnectComponents();
    void ShowAbout();
    void UpdateCheckModeMarks(QMenu* menu);
    void BuildControls();
    void BuildMenus();
    void BuildTray();

    void ConnectCheckComponents();
    // Pumps events until done() holds or TimerWait has run out (Timeout seconds).
    template <class F> void WaitUntil(F done);
    void AddRow(int64_t size);
    bool RefuseWhileWorking();

    bool FWorking = false;
    bool FCancelled = false;
    int FTrayFrame = 0;
    bool FNoteTooManyAccounts = true;
    bool FWarnedClearText = false;
};
