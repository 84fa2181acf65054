// The application object: catches what event handlers let escape and reports it.
#pragma once

#include <QApplication>

#include <functional>
#include <string>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an escaped exception's message; the main window installs the status bar text.
    std::function<void(const std::string& message)> OnException;

    // The exception handler's rule: a non-empty message is shown as "Error: " + message.
    void HandleException(const std::string& message);
};
