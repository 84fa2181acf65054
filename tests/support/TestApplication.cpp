#include "TestApplication.h"

#include <QCoreApplication>

namespace pvtest {
QCoreApplication& EnsureApplication() {
    if (QCoreApplication* existing = QCoreApplication::instance()) return *existing;
    static int argc = 1;
    static char name[] = "pv-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}
} // namespace pvtest
