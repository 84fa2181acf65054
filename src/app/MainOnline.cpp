// TFormMain: going online and offline by hand, and the close query.
#include "app/MainUnit.h"
#include "base/Clock.h"
#include "dialup/OnLine.h"
#include "mailbox/AccountWatch.h"
#include "mailbox/BackgroundChecks.h"
#include "mailbox/Settings.h"
#include "platform/Prompts.h"
#include "platform/SystemSounds.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {
const char* const kOnlyAutoconnect = "Only active when set to \"Autoconnect\"";
const char* const kWaitPinging = "WAIT  until pinging!";
const char* const kTerminated = "Connetion terminated";
const char* const kTerminateAsk = "Terminate active connection?";
const char* const kExternStays = "Extern connection stays online!";
const char* const kTerminateError = "Error when terminating connection\n\rClose connection at "
                                    "status bar";
constexpr int kBeepGapMs = 600;
constexpr int kClosePauseMs = 1000;

void DoubleBeep() {
    MessageBeep(MB_ICONASTERISK);
    platform::Pause(kBeepGapMs);
    MessageBeep(MB_ICONASTERISK);
}
} // namespace

void TFormMain::BtnDialHangClick() {
    if (!AutoDial()) {
        Prompts().Tell(kOnlyAutoconnect);
        return;
    }
    if (RefuseWhileWorking()) return;
    LabelStatus->setText(kWaitPinging);
    if (UserOnline) {
        if (!FDialConnected) return;
        UserOnline = false;
        CloseConnection();
        DoubleBeep();
        LabelStatus->setText(kTerminated);
        return;
    }
    bool dialled;
    {
        // The dial shares the dial-up component with checks: none may start meanwhile.
        FWorking = true;
        struct TDone {
            TFormMain* w;
            ~TDone() {
                w->FWorking = false;
                w->EnterIdleState();
                w->CloseIfRequested();
            }
        } done{this};
        FCancelled = false;
        FManualDial = true;
        dialled = DialConnection();
    }
    if (!dialled || FCancelled) {
        FManualDial = false;
        return;
    }
    // A dial that is slower than the wait goes on; it reports itself when it connects.
    if (FDialConnected) ManualDialUp();
}

void TFormMain::ManualDialUp() {
    FManualDial = false;
    DoubleBeep();
    UserOnline = true;
    LabelStatus->setText(kReadyForChecking);
}

void TFormMain::closeEvent(QCloseEvent* e) {
    // A running check or transfer is cancelled first; its wait is further up the stack. The
    // window goes once it has run its closing steps (the hand-over list written, nothing
    // committed on the server that was not saved).
    if (FWorking) {
        BtnStoppClick();
        FCloseRequested = true;
        e->ignore();
        return;
    }
    // A background check's wait is further up the stack: the window goes once it has ended.
    if (Background->Running()) {
        Background->Cancel();
        FCloseRequested = true;
        e->ignore();
        return;
    }
    bool CanClose = !OnLineDetect->IsOnline();
    if (!CanClose) CanClose = ExternOnline;
    if (!CanClose) {
        if (Prompts().Ask(kTerminateAsk) == mrYes) {
            UserOnline = false;
            ExternOnline = false;
            CloseConnection();
            platform::Pause(kClosePauseMs);
            // A line that will not go down does not keep the program.
            CanClose = true;
        } else {
            CanClose = true;
        }
    }
    if (ExternOnline) Prompts().Tell(kExternStays);
    if (OnLineDetect->IsOnline() && !ExternOnline) Prompts().Tell(kTerminateError);
    if (CanClose)
        e->accept();
    else
        e->ignore();
}

void TFormMain::keyPressEvent(QKeyEvent* e) {
    // Esc closes the window like the End button, close query included.
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(e);
}
