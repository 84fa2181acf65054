// The one Qt application object the tests of a process share.
#pragma once

class QCoreApplication;

namespace pvtest {
// Creates it on first use; it lives until the process ends.
QCoreApplication& EnsureApplication();
} // namespace pvtest
