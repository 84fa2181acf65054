// Renders the main window and the information window to PNG files for the documentation.
// Run by scripts/screenshots.sh on a virtual screen, with its own program and settings folders.
#include "app/Application.h"
#include "app/FormLogo.h"
#include "app/Icons.h"
#include "app/MainUnit.h"
#include "app/Settings.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
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
    TFormMain window;
    window.show();
    TLogoForm info(true);
    info.setWindowTitle("Tessmar Postvigil");
    info.show();
    bool ok = true;
    QTimer::singleShot(500, [&] {
        ok = window.grab().save(dir + "/main-window.png") &&
             info.grab().save(dir + "/info-window.png");
        app.quit();
    });
    app.exec();
    return ok ? 0 : 1;
}
