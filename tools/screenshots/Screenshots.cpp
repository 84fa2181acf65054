// Renders the main window, the information window, the account editor (of a new account and of
// one delivering to a Maildir), the settings dialog and the tray menu to PNG files for the
// documentation, and, given a folder of messages, the main window listing that mailbox after a
// timed check, at its smallest size and at twice that, and the desktop notification that check
// sent (when a notification service draws on the same screen), and the tray's hint and the
// account menu after a check of two accounts. Run by scripts/screenshots.sh on
// a virtual screen, with its own program and settings folders.
#include "app/AccountUnit.h"
#include "app/Application.h"
#include "app/DemoMode.h"
#include "app/DemoServer.h"
#include "app/FormLogo.h"
#include "app/Icons.h"
#include "app/MainUnit.h"
#include "app/StartUnit.h"
#include "app/TrayMenu.h"
#include "base/MessagePump.h"
#include "mailbox/BackgroundChecks.h"
#include "mailbox/Settings.h"
#include "net/Mswsock.h"
#include "platform/DesktopNotify.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {
// The messages of a folder (*.eml), in name order.
std::vector<std::string> Mailbox(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".eml") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> messages;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        messages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return messages;
}

// Lets the screen settle for ms: other programs draw in their own time.
void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// What other programs drew on the screen: the part that differs from the background.
QImage DrawnByOthers() {
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRgb background = screen.pixel(0, screen.height() - 1);
    QRect box;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (screen.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
    return box.isEmpty() ? QImage() : screen.copy(box);
}

// The main window after a timed check of the mailbox in folder, saved as file and, at twice
// its smallest size, as large, and the notification that check sent, saved as notification.
bool ShootMailbox(const std::filesystem::path& folder, const QString& file, const QString& large,
                  const QString& notification) {
    const auto server = PrepareDemo(Mailbox(folder));
    InitMainUnit();
    TFormMain window;
    window.show();
    window.PostTimedCheck();
    QCoreApplication::sendPostedEvents(&window);
    QApplication::processEvents();
    if (!window.grab().save(file)) return false;
    window.resize(window.minimumSize() * 2);
    const QDeadlineTimer resized(5000);
    while (window.size() != window.minimumSize() * 2 && !resized.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QApplication::processEvents();
    if (!window.grab().save(large)) return false;
    auto* notifier = window.findChild<TDesktopNotifier*>();
    const QDeadlineTimer answered(5000);
    while (notifier && notifier->Pending() > 0 && !answered.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    window.hide();
    Settle(1000);
    const QImage drawn = DrawnByOthers();
    if (drawn.isNull()) {
        std::fprintf(stderr, "no notification on the screen (is a notification service "
                             "running on this display?)\n");
        return true;
    }
    return drawn.save(notification);
}
// Two accounts after a timed check, the second one checked in the background: the tray's
// hint as the desktop shows it, beside the account menu with the counts, saved as file.
bool ShootAccounts(const std::filesystem::path& folder, const QString& file) {
    const auto demo = PrepareDemo();
    std::vector<std::string> messages = Mailbox(folder);
    messages.resize(std::min<std::size_t>(messages.size(), 3));
    TDemoPop3Server work(messages, "demo");
    if (!work.Start()) {
        std::fprintf(stderr, "no port for the second account's server\n");
        return false;
    }
    const std::string home = std::getenv("POSTVIGIL_HOME");
    std::filesystem::copy_file(home + "Demo.Set", home + "Work.Set");
    {
        TIniFile account(home + "Work.Set");
        account.WriteString("ProgSet", "IniDescript", "Work");
        account.WriteInteger("POPClient", "DefPort", work.serverPort());
        TRegistry reg;
        reg.OpenKey(kCheckAssKey, true);
        reg.WriteString("@", "2");
        reg.WriteString("1", "Work");
    }
    InitMainUnit();
    TFormMain window;
    window.Background->Online = [] { return true; };
    window.PostTimedCheck();
    QCoreApplication::sendPostedEvents(&window);
    window.FormActivate();
    window.AppEventsIdle();
    // Drawn as the desktop draws a tool tip: its palette, font and frame.
    QLabel tip(window.TrayIcon->toolTip());
    tip.setWindowFlags(Qt::ToolTip);
    tip.setPalette(QToolTip::palette());
    tip.setFont(QToolTip::font());
    tip.setForegroundRole(QPalette::ToolTipText);
    tip.setBackgroundRole(QPalette::ToolTipBase);
    tip.setAutoFillBackground(true);
    tip.setFrameStyle(QFrame::Box | QFrame::Plain);
    tip.setMargin(4);
    tip.adjustSize();
    window.PMRASCon->popup(QPoint(20, 200));
    Settle(500);
    const QPixmap hint = tip.grab();
    const QPixmap menu = window.PMRASCon->grab();
    constexpr int kGap = 12;
    QPixmap both(hint.width() + kGap + menu.width(), std::max(hint.height(), menu.height()));
    both.fill(Qt::white);
    QPainter p(&both);
    p.drawPixmap(0, 0, hint);
    p.drawPixmap(hint.width() + kGap, 0, menu);
    p.end();
    window.PMRASCon->hide();
    return both.save(file);
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [MAILBOX_DIR]\n", argv[0]);
        return 2;
    }
    TApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    InitMainUnit();
    {
        TRegistry reg;
        reg.OpenKey(kPostvigilKey, true);
        reg.WriteBool("ShowInfos", false);
    }
    // Skip the password prompt: these pictures show the windows, not a session.
    TFormMain::ExecModal = [](QDialog&) { return 0; };
    bool ok = true;
    {
        TFormMain window;
        window.show();
        TLogoForm info(true);
        info.setWindowTitle("Tessmar Postvigil");
        info.show();
        TAccountSettings sample;
        sample.IniDescript = "Work mail";
        sample.Server = "pop.example.org";
        sample.UserName = "joe";
        sample.Password = "secret";
        TStringList noPhoneBook;
        TFormAccount editor(sample, noPhoneBook);
        editor.setWindowTitle("New account");
        editor.show();
        // The same account delivering to a Maildir, as an edit of it shows it.
        sample.Deliver = "maildir:~/Maildir";
        TFormAccount delivering(sample, noPhoneBook);
        delivering.setWindowTitle("Edit account");
        delivering.show();
        // A Microsoft account signing in with OAuth 2.0, from the editor's preset.
        TAccountSettings cloud = NewAccountSettings();
        cloud.IniDescript = "Outlook";
        cloud.UserName = "joe@outlook.com";
        TFormAccount oauth(cloud, noPhoneBook);
        oauth.setWindowTitle("New account");
        oauth.CBAuth->setCurrentIndex(1);
        emit oauth.CBAuth->activated(1);
        oauth.EditClientId->setText("00000000-0000-0000-0000-000000000000");
        for (QLineEdit* edit : {oauth.EditAuthUrl, oauth.EditTokenUrl, oauth.EditScopes})
            edit->setCursorPosition(0);
        oauth.show();
        ClientRec.IniDescript = sample.IniDescript;
        ClientRec.Server = sample.Server;
        ClientRec.UserName = sample.UserName;
        ClientRec.Password = sample.Password;
        ClientRec.DefPort = 995;
        ClientRec.Security = kSecurityTls;
        ClientRec.Timeout = 60;
        ClientRec.Interval = 15;
        ClientRec.CheckEmedit = true;
        ClientRec.FollowAct = faOpenPostvigil;
        RasIndex = 0;
        RetrvMode = tmCopy;
        TFormStart settings(TStringList{"Office VPN"});
        settings.OnEditAccount = [] {};
        // The sample account has no file here; show the button as a real account has it.
        settings.BtnEditAccount->setEnabled(true);
        // The throw-away program folder would show a new random name on every run.
        settings.DirMailPathEdit->setText("~/.local/share/Tessmar/eMails/Postoffice");
        settings.DirMailPathEdit->setCursorPosition(0);
        settings.show();
        // The tray menu as a right click on the icon opens it.
        window.TrayMenu->popup(QPoint(40, 40));
        QTimer::singleShot(500, [&] {
            ok = window.grab().save(dir + "/main-window.png") &&
                 info.grab().save(dir + "/info-window.png") &&
                 editor.grab().save(dir + "/account-editor.png") &&
                 delivering.grab().save(dir + "/account-editor-delivery.png") &&
                 oauth.grab().save(dir + "/account-editor-oauth.png") &&
                 settings.grab().save(dir + "/settings-dialog.png") &&
                 window.TrayMenu->grab().save(dir + "/tray-menu.png");
            app.quit();
        });
        app.exec();
    }
    if (ok && argc > 2) {
        CreateGlobalWinsock();
        InstallMessagePump([] { QCoreApplication::processEvents(); });
        ok = ShootMailbox(argv[2], dir + "/international-mailbox.png",
                          dir + "/main-window-large.png", dir + "/notification.png") &&
             ShootAccounts(argv[2], dir + "/tray-accounts.png");
        RemoveMessagePump();
        FreeGlobalWinsock();
    }
    return ok ? 0 : 1;
}
