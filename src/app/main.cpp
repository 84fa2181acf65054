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
#include "dialup/RasConfig.h"
#include "mailbox/Settings.h"
#include "message/mspars.h"
#include "net/HiddenWindow.h"
#include "net/Mswsock.h"
#include "platform/AlsaTonePlayer.h"
#include "platform/Ansi.h"
#include "platform/SecretService.h"
#include "platform/Shell.h"
#include "platform/SoundLibrary.h"
#include "platform/SystemSounds.h"

#include <QMimeDatabase>

#include <cstdlib>
#include <iostream>
#include <memory>

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
    const bool headless = mode == mdCheck || mode == mdCollect || mode == mdTrustCertificate ||
                          mode == mdAddAccount || mode == mdSignIn;
    // The modes without a window run on the core application alone: no screen is needed or
    // touched.
    std::unique_ptr<QCoreApplication> core;
    std::unique_ptr<TApplication> gui;
    if (headless)
        core = std::make_unique<QCoreApplication>(argc, argv);
    else
        gui = std::make_unique<TApplication>(argc, argv);
    QCoreApplication::setApplicationName("Postvigil");
    QCoreApplication::setOrganizationName("Tessmar");
    if (gui) QApplication::setApplicationDisplayName(kTitle);

    CreateGlobalWinsock();
    // The sound card, the desktop's sound theme and the system's dial-up service; left out,
    // the program is silent and knows no dial-up connections.
    TAlsaTonePlayer tones;
    SetTonePlayer(&tones);
    TDesktopSounds sounds;
    SetSystemSounds(&sounds);
    SetRasLoader(ConfiguredRasLoader());
    // Socket notifications are dispatched outside Qt's handlers; their errors go the same way.
    SetApplicationExceptionHandler([&gui](const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        const std::string message = own ? own->Message : e.what();
        if (gui)
            gui->HandleException(message);
        else if (!message.empty())
            std::cerr << "Error: " << message << "\n";
    });
    InstallMessagePump([] { QCoreApplication::processEvents(); });
    SetContentTypeLookup(ContentTypeFromDesktop);
    int rc = 0;
    if (headless) InitMainUnit();
    if (mode == mdCheck) {
        rc = RunHeadlessCheck(std::cout, std::cerr);
    } else if (mode == mdCollect) {
        rc = RunHeadlessCollect(std::cout, std::cerr, command.TransferMode, command.MaxSize);
    } else if (mode == mdAddAccount) {
        rc = RunAddAccount({argv + 2, argv + argc}, std::cin, std::cout, std::cerr);
    } else if (mode == mdSignIn) {
        rc = RunSignIn(
            [](const std::string& address) { return Shell().Open(address, SW_SHOWNORMAL) > 32; },
            std::cout, std::cerr);
    } else if (mode == mdTrustCertificate) {
        rc = RunTrustCertificate(command.Fingerprint, std::cout, std::cerr);
    } else if (mode == mdDemo) {
        try {
            // The server lives until the program ends.
            const auto server = PrepareDemo();
            std::cout << "Demo post office on 127.0.0.1:" << server->serverPort()
                      << ", settings in " << DemoFolder() << std::endl;
            rc = RunWindow(*gui, "postvigil-demo");
        } catch (const Exception& e) {
            std::cerr << e.Message << "\n";
            rc = 1;
        }
    } else {
        rc = RunWindow(*gui, "postvigil");
    }
    RemoveMessagePump();
    SetRasLoader(nullptr);
    SetSystemSounds(nullptr);
    SetTonePlayer(nullptr);
    FreeGlobalWinsock();
    SetPasswordStore(nullptr);
    return rc;
}
