#include "app/AddressDlg.h"
#include "app/Application.h"
#include "app/MainUnit.h"
#include "app/QtPrompts.h"
#include "app/Settings.h"
#include "app/SingleInstance.h"
#include "base/Exceptions.h"
#include "base/MessagePump.h"
#include "message/mspars.h"
#include "net/HiddenWindow.h"
#include "net/Mswsock.h"
#include "platform/Ansi.h"

#include <QMimeDatabase>
#include <QStatusBar>

namespace {
const char* const kTitle = "Tessmar Postvigil";

std::string ContentTypeFromDesktop(std::string_view extension) {
    static const QMimeDatabase db;
    const QMimeType type =
        db.mimeTypeForFile("x" + AnsiToQ(extension), QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) return "";
    return type.name().toStdString();
}
} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    QApplication::setApplicationName("Postvigil");
    QApplication::setApplicationDisplayName(kTitle);
    QApplication::setOrganizationName("Tessmar");

    TSingleInstance instance("postvigil");
    if (instance.NotifyRunning()) return 0;
    instance.Listen();

    CreateGlobalWinsock();
    // Socket notifications are dispatched outside Qt's handlers; their errors go the same way.
    SetApplicationExceptionHandler([&app](const std::exception& e) {
        const auto* own = dynamic_cast<const Exception*>(&e);
        app.HandleException(own ? own->Message : e.what());
    });
    InstallMessagePump([] { QCoreApplication::processEvents(); });
    SetContentTypeLookup(ContentTypeFromDesktop);
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
    RemoveMessagePump();
    FreeGlobalWinsock();
    return rc;
}
