#include "app/AccountCli.h"
#include "app/AddressDlg.h"
#include "app/Application.h"
#include "app/CheckMode.h"
#include "app/DemoMode.h"
#include "app/DemoServer.h"
#include "app/MainUnit.h"
#include "app/QtPrompts.h"
#include "app/SingleInstance.h"
#include "base/Exceptions.h"
#include "base/MessagePump.h"
#include "mailbox/Settings.h"
#include "message/mspars.h"
#include "net/HiddenWindow.h"
#include "net/Mswsock.h"
#include "platform/Ansi.h"
#include "platform/SecretService.h"
#include "platform/SoundLibrary.h"

#include <QMimeDatabase>
#include <QStatusBar>

#include <cstdlib>
#include <iostream>

namespace {
const char* const kTitle = "Tessmar Postvigil";

std::string ContentTypeFromDesktop(std::string_view extension) {
    static const QMimeDatabase db;
    const QMimeType type =
        db.mimeTypeForFile("x" + AnsiToQ(extension), QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) return "";
    return type.name().toStdString();
}

int RunWindow(TApplication& app, const char* instanceName) {
    TSingleInstance instance(instanceName);
    if (instance.NotifyRunning()) return 0;
    instance.Listen();
    InstallAddressEditor();
    TQtPrompts prompts;
    SetPrompts(&prompts);
    InitMainUnit();
    int rc;
    {
        // The window and its components go before the socket binding they use.
        TFormMain window;
        prompts.SetParent(&window);
        app.OnException = [&window](const std::string& text) {
            window.SetStatusText(AnsiToQ(text));
        };
        QObject::connect(&instance, &TSingleInstance::Activate, &window,
                         [&window] { window.RestoreAndRaise(); });
        window.show();
        rc = app.exec();
        app.OnException = nullptr;
    }
    SetPrompts(nullptr);
    return rc;
}
} // namespace

int main(int argc, char** argv) {
    // The sound library speaks through the protocol, never on the terminal.
    SilenceSoundLibrary();
    const TCommandLine command = ParseCommandLine({argv + 1, argv + argc});
    const TCommandMode mode = command.Mode;
    if (mode == mdHelp || mode == mdUnknown) {
        if (!command.Refusal.empty()) std::cerr << command.Refusal << "\n";
        PrintUsage(mode == mdHelp ? std::cout : std::cerr);
        return mode == mdHelp ? 0 : 2;
    }
    // Passwords go to the desktop's keyring when one runs (the demo keeps its own files).
    TSecretServiceStore keyring;
    if (mode != mdDemo) SetPasswordStore(&keyring);
    // Listing the accounts needs neither a screen nor the event loop.
    if (mode == mdListAccounts) {
        InitMainUnit();
        const int rc = RunListAccounts(std::cout);
        SetPasswordStore(nullptr);
        return rc;
    }
    // The headless modes need no screen; adding an account may connect to find its security.
    if ((mode == mdCheck || mode == mdCollect || mode == mdTrustCertificate ||
         mode == mdAddAccount) &&
        !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    QApplication::setApplicationName("Postvigil");
    QApplication::setApplicationDisplayName(kTitle);
    QApplication::setOrganizationName("Tessmar");

    CreateGlobalWinsock();
    // Socket notifications are dispatched outside Qt's handlers; their errors go the same way.
    SetApplicationExceptionHandler([&app](const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        app.HandleException(own ? own->Message : e.what());
    });
    InstallMessagePump([] { QCoreApplication::processEvents(); });
    SetContentTypeLookup(ContentTypeFromDesktop);
    int rc = 0;
    if (mode == mdCheck) {
        InitMainUnit();
        rc = RunHeadlessCheck(std::cout, std::cerr);
    } else if (mode == mdCollect) {
        InitMainUnit();
        rc = RunHeadlessCollect(std::cout, std::cerr, command.TransferMode, command.MaxSize);
    } else if (mode == mdAddAccount) {
        InitMainUnit();
        rc = RunAddAccount({argv + 2, argv + argc}, std::cin, std::cout, std::cerr);
    } else if (mode == mdTrustCertificate) {
        InitMainUnit();
        rc = RunTrustCertificate(command.Fingerprint, std::cout, std::cerr);
    } else if (mode == mdDemo) {
        try {
            // The server lives until the program ends.
            const auto server = PrepareDemo();
            std::cout << "Demo post office on 127.0.0.1:" << server->serverPort()
                      << ", settings in " << DemoFolder() << "\n";
            rc = RunWindow(app, "postvigil-demo");
        } catch (const Exception& e) {
            std::cerr << e.Message << "\n";
            rc = 1;
        }
    } else {
        rc = RunWindow(app, "postvigil");
    }
    RemoveMessagePump();
    FreeGlobalWinsock();
    SetPasswordStore(nullptr);
    return rc;
}
