// Checks of the accounts the window is not working on, one after another, each on a mailbox
// session of its own with its own account record and protocol. A background check never asks:
// a missing password or a certificate nobody trusted becomes the account's state. It never
// dials either: it runs only while the machine is online, and skips an account whose lock
// another check holds (the window's, or another program's).
//
// A session's waits run the event loop, so the client's own triggers can arrive while a check
// runs here: Run refuses to start a second round, and the account the window works on is asked
// for before each account.
#pragma once

#include "base/StringList.h"
#include "mailbox/AccountWatch.h"

#include <functional>
#include <string>
#include <vector>

class TMailboxSession;
struct TAccountEntry;

class TBackgroundChecks {
public:
    explicit TBackgroundChecks(TAccountWatch& watch) : FWatch(watch) {}

    // Whether the machine is online now; unset, it is taken as offline and nothing is checked.
    std::function<bool()> Online;
    // The account the window works on now: never checked here.
    std::function<std::string()> WindowAccount;
    // A check has ended and the account's record says how: rows are what it listed (none when
    // it failed), news whether they hold messages its last listing did not.
    std::function<void(const TWatchedAccount& account, const std::vector<TMailRow>& rows,
                       bool news)>
        OnChecked;

    // Checks each of accounts but the window's, in order. False when nothing was started: a
    // round runs already, or the machine is offline.
    bool Run(const std::vector<TAccountEntry>& accounts);
    bool Running() const { return FRunning; }
    // The account being checked now; "" when none is.
    const std::string& Current() const { return FCurrent; }
    // Ends the running check; the accounts after it wait for the next round.
    void Cancel();
    // The protocol of the last background check.
    const TStringList& Log() const { return FLog; }

private:
    void Check(const TAccountEntry& account);

    TAccountWatch& FWatch;
    TStringList FLog;
    TMailboxSession* FSession = nullptr;
    std::string FCurrent;
    bool FRunning = false;
    bool FCancelled = false;
};
