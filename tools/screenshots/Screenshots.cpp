// Renders the main window, the information window, the account editor and the settings dialog
// to PNG files for the documentation, and, given a folder of messages, the main window listing
// that mailbox. Run by scripts/screenshots.sh on a virtual screen, with its own program and
// settings folders.
#include "app/AccountUnit.h"
#include "app/Application.h"
#include "app/DemoMode.h"
#include "app/DemoServer.h"
#include "app/FormLogo.h"
#include "app/Icons.h"
#include "app/MainUnit.h"
#include "app/Settings.h"
#include "app/StartUnit.h"
#include "base/MessagePump.h"
#include "net/Mswsock.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
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

// The main window after a check of the mailbox in folder, saved as file.
bool ShootMailbox(const std::filesystem::path& folder, const QString& file) {
    const auto server = PrepareDemo(Mailbox(folder));
    InitMainUnit();
    TFormMain window;
    window.show();
    window.BtnListMailClick();
    QApplication::processEvents();
    return window.grab().save(file);
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
        QTimer::singleShot(500, [&] {
            ok = window.grab().save(dir + "/main-window.png") &&
                 info.grab().save(dir + "/info-window.png") &&
                 editor.grab().save(dir + "/account-editor.png") &&
                 settings.grab().save(dir + "/settings-dialog.png");
            app.quit();
        });
        app.exec();
    }
    if (ok && argc > 2) {
        CreateGlobalWinsock();
        InstallMessagePump([] { QCoreApplication::processEvents(); });
        ok = ShootMailbox(argv[2], dir + "/international-mailbox.png");
        RemoveMessagePump();
        FreeGlobalWinsock();
    }
    return ok ? 0 : 1;
}
