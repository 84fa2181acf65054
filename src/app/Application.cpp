#include "app/Application.h"

#include "base/Exceptions.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const Exception& e) {
        HandleException(e.Message);
    } catch (const std::exception& e) {
        HandleException(e.what());
    }
    return false;
}

void TApplication::HandleException(const std::string& message) {
    if (message.empty() || !OnException) return;
    OnException("Error: " + message);
}
