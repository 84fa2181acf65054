#include "mailbox/BackgroundChecks.h"

#include "base/StrUtils.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/Settings.h"

#include <utility>

namespace {
const char* const kNoPassword = "no password stored";
const char* const kNoServer = "no POP3 server named";
const char* const kCertificateNotTrusted = "certificate not trusted";

// Nobody is there to answer: every question is declined (the defaults), nothing is shown.
class TQuietEvents : public TMailboxEvents {};
} // namespace

bool TBackgroundChecks::Run(const std::vector<TAccountEntry>& accounts) {
    if (FRunning || !Online || !Online()) return false;
    FRunning = true;
    FCancelled = false;
    struct TDone {
        TBackgroundChecks& checks;
        ~TDone() { checks.FRunning = false; }
    } done{*this};
    for (const TAccountEntry& account : accounts) {
        if (FCancelled || !Online()) break;
        if (WindowAccount && SameText(account.Name, WindowAccount())) continue;
        Check(account);
    }
    return true;
}

void TBackgroundChecks::Cancel() {
    FCancelled = true;
    if (FSession) FSession->Cancel();
}

void TBackgroundChecks::Check(const TAccountEntry& account) {
    TClientRec rec;
    FillClientRec(rec, ReadAccountSettings(account.FileName));
    // The account's record says how its check ended, with the description its file has now.
    auto report = [&](const std::string& state, const std::vector<TMailRow>& rows) {
        const bool news = state.empty() && FWatch.NoteListing(account.Name, rows);
        if (!state.empty()) FWatch.NoteFailure(account.Name, state);
        TWatchedAccount& record = FWatch.Record(account.Name);
        record.Descript = rec.IniDescript;
        if (OnChecked) OnChecked(record, rows, news);
    };
    if (rec.Server.empty()) return report(kNoServer, {});
    // An OAuth 2.0 account signs in with the keyring's token; one that needs the browser
    // says so as its state.
    if (rec.Password.empty() && !rec.OAuth.Enabled()) return report(kNoPassword, {});

    TQuietEvents events;
    TMailboxSession session(events, rec);
    session.SetLog(FLog);
    session.SetAccountName(account.Name);
    session.Apply();
    // The window or another program checks it now: its result is as fresh as ours would be.
    if (!session.Lock().empty()) return;
    FSession = &session;
    FCurrent = account.Name;
    std::string error;
    try {
        error = session.Check(false).Error;
    } catch (const std::exception& e) {
        error = e.what();
    }
    FSession = nullptr;
    FCurrent.clear();
    session.Unlock();
    if (session.Cancelled()) return;
    if (!error.empty() && !session.RefusedFingerprint.empty()) error = kCertificateNotTrusted;
    report(error, error.empty() ? session.Rows() : std::vector<TMailRow>());
}
