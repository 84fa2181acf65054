// A stand-in for the desktop's browser in sign-in tests: it asks for the address it is opened
// at and follows the redirects (through Tamper, which may change each one), as a browser whose
// user has already signed in does. It works on the caller's event loop.
#pragma once

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QUrl>

#include <functional>
#include <string>

namespace pvtest {

class TStandInBrowser {
public:
    // What the program gives its browser seam: opens address, true when a browser is there.
    std::function<bool(const std::string&)> Opener();

    // Changes every redirect before it is followed (none by default).
    std::function<QUrl(const QUrl&)> Tamper;
    // Opener answers false (no browser).
    bool Missing = false;
    int Opened = 0;
    std::string LastAddress;
    // The status of the last answer it got (the loopback page's, after a sign-in).
    int LastStatus = 0;
    // Runs the events until the last address opened and its redirects have all answered (the
    // program may go on before its own page has reached the browser); false when that takes
    // longer than safetyMs.
    bool WaitDone(int safetyMs = 10000);

private:
    void Get(const QUrl& address, int redirectsLeft);

    QNetworkAccessManager FManager;
    int FPending = 0;
    QEventLoop* FWaiting = nullptr;
};

} // namespace pvtest
