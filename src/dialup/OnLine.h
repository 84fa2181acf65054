// TOnLineDetect: tells whether a connection that gives the machine a network is open
// (dial-up, VPN, Wi-Fi, Ethernet), whoever made it, and signals each change of their number. It
// polls a private TDialUp on a timer; it never dials and never hangs up.
#pragma once

#include "base/StringList.h"

#include <functional>
#include <memory>
#include <string>

class QTimer;
class TDialUp;

class TOnLineDetect {
public:
    using TOnChange = std::function<void(TOnLineDetect* Sender)>;

    TOnLineDetect();
    ~TOnLineDetect();
    TOnLineDetect(const TOnLineDetect&) = delete;
    TOnLineDetect& operator=(const TOnLineDetect&) = delete;

    // Poll period in milliseconds (default 250); a new value applies to the next tick.
    int Interval() const;
    void SetInterval(int ms);
    bool IsOnline() const { return !FConnections.Empty(); }
    // Entry names of the open connections found by the last poll, in RAS order.
    const TStringList& Connections() const { return FConnections; }

    TOnChange OnChange;

    // One poll; the poll timer runs it. Raises the first RAS error of a run of failed
    // polls (a failed poll reads as offline) and keeps polling.
    void Poll();

private:
    std::unique_ptr<TDialUp> FDetector;
    std::unique_ptr<QTimer> FPollTimer;
    TStringList FConnections;
    int FPrevCount = 0;
    std::string FLastError; // message of the failure of the previous poll, empty after a good one
};
