#include "app/HelpViewer.h"

#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <utility>

// The pages are compiled into this static library; their registration must be pulled in.
static void InitHelpResources() {
    Q_INIT_RESOURCE(help);
}

namespace {
const char* const kHelpRoot = "qrc:/help/";
QPointer<THelpViewer> gViewer;
} // namespace

THelpViewer::THelpViewer(QWidget* parent) : QDialog(parent) {
    InitHelpResources();
    setWindowTitle("Tessmar Postvigil - Help");
    resize(560, 480);
    Browser = new QTextBrowser(this);
    Browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Browser);
}

THelpViewer* THelpViewer::ShowHelp(QWidget* parent, const QString& page) {
    if (!gViewer) {
        gViewer = new THelpViewer(parent);
        gViewer->setAttribute(Qt::WA_DeleteOnClose);
        // The help never keeps the program running, nor ends it when closed.
        gViewer->setAttribute(Qt::WA_QuitOnClose, false);
    }
    gViewer->Browser->setSource(QUrl(kHelpRoot + page));
    gViewer->show();
    gViewer->raise();
    gViewer->activateWindow();
    return gViewer;
}

void THelpViewer::CloseHelp() {
    // Closing deletes the window only once the event loop runs again; help asked for before
    // that gets a window of its own, not the one on its way out.
    if (gViewer) std::exchange(gViewer, nullptr)->close();
}
