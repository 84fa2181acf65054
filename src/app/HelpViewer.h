// The program's help: HTML pages built into the program, shown in a window of its own.
#pragma once

#include <QDialog>

class QTextBrowser;

class THelpViewer : public QDialog {
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* parent = nullptr);
    // Shows page (a file of the help, optionally with "#anchor"), reusing one window.
    static THelpViewer* ShowHelp(QWidget* parent, const QString& page = "index.html");
    // Closes the window if it is open (when the main window goes).
    static void CloseHelp();

    QTextBrowser* Browser;
};
