// One mailbox session: the POP3 connection of one account, the rows its check lists and the
// transfer of the rows marked for collecting. The window and the command line are its two
// clients; what a person sees or answers goes through TMailboxEvents.
#pragma once

#include "mailbox/AccountLock.h"
#include "mailbox/MailFiles.h"
#include "mailbox/MailRecords.h"
#include "mailbox/OAuthFlow.h"
#include "message/msmsg.h"

#include <QDateTime>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class EmsCertificateError;
class TDeliveryTarget;
class TmsPOPClient;
struct TmsMessageId;
struct TClientRec;

// What a session tells and asks while it works. Every call has a default that shows nothing
// and answers no: a client overrides what it has a place for.
class TMailboxEvents {
public:
    virtual ~TMailboxEvents() = default;
    // Status and StatusBar carry UTF-8; Protocol and Memo the protocol's raw 8-bit lines.
    // The line under the list ("3 eMail ready for collecting").
    virtual void Status(const std::string& /*text*/) {}
    // The status bar ("eMail 2 saved as file ...").
    virtual void StatusBar(const std::string& /*text*/) {}
    // A protocol line a person should see; the session has already kept it in ProgramLog.
    virtual void Protocol(const std::string& /*line*/) {}
    // A line only the protocol view shows (not the line under it).
    virtual void Memo(const std::string& /*line*/) {}
    // A connection is about to be made: what the last one showed is over.
    virtual void Connecting() {}
    // Rows were cleared, or appended from first to the end.
    virtual void RowsCleared() {}
    virtual void RowsAdded(int /*first*/) {}
    // A row's mode changed (the transfer marks handled rows with -1).
    virtual void RowChanged(int /*index*/) {}
    // A message of the transfer is being retrieved (1-based number of count), and how far.
    virtual void Retrieving(int /*number*/, int /*count*/) {}
    virtual void Progress(int /*number*/, int /*percent*/) {}
    // Rows from the header cache come without socket waits: a chance to keep a screen alive.
    virtual void Breathe() {}
    // The questions. AskPassword sets the account's and the client's password itself.
    virtual void AskPassword() {}
    virtual bool ConfirmSize(const TMailRow& /*row*/) { return false; }
    virtual bool TrustCertificate(const EmsCertificateError& /*error*/) { return false; }
    // An OAuth 2.0 account has no valid sign-in (reason says why): true to sign in now in
    // the browser. A client without a person to ask leaves it false: the check fails then.
    virtual bool SignIn(const std::string& /*reason*/) { return false; }
};

// The row a header block gives: what a person reads of it, in the default mode.
TMailRow MailRowOf(const TmsMessage& message, int number, int64_t size, const std::string& uidl);

struct TCheckResult {
    // Logged in and counted; Count is what the server has (also when the listing broke off).
    bool LoggedIn = false;
    int Count = 0;
    // Why the log-in failed ("" when it did not).
    std::string Error;
};

class TMailboxSession {
public:
    // account is the record the session works for (the window's loaded account); the session
    // keeps what it finds out (security, a trusted certificate) there and in its file.
    TMailboxSession(TMailboxEvents& events, TClientRec& account);
    ~TMailboxSession();

    TmsPOPClient& Client() { return *FClient; }
    const TmsPOPClient& Client() const { return *FClient; }
    std::vector<TMailRow>& Rows() { return FRows; }
    const std::vector<TMailRow>& Rows() const { return FRows; }
    void SetMode(int index, int mode);
    // The account's name (its file's); the lock and the stored findings go by it.
    void SetAccountName(const std::string& name) { FAccountName = name; }
    const std::string& AccountName() const { return FAccountName; }
    // Sets the client up from the account record.
    void Apply();
    // Where the session's protocol lines go (ProgramLog unless set): a session in the
    // background keeps its own, so the window's protocol stays the window's.
    void SetLog(TStringList& log) { FLog = &log; }
    // Opens the browser for an OAuth 2.0 sign-in (by default the desktop's, through the shell).
    void SetBrowser(TBrowserOpener browser) { FBrowser = std::move(browser); }

    // Takes the account's lock; "" when taken, else why not.
    std::string Lock();
    void Unlock();

    // Logs in (unless connected) and lists every message: rows from the header cache where a
    // message was seen before, from its TOP answer otherwise. A failed log-in comes back in
    // the result; a listing that breaks off raises its error, the rows listed so far kept.
    TCheckResult Check(bool keepConnected);
    // Lists the rows of the last check that kept its headers in the header cache, without a
    // connection; false when there are none.
    bool ListFromCache();
    // Collects the rows by their modes: files saved, then deletions. Raises the first failure
    // once the closing steps have run (nothing is deleted then).
    void Collect(bool keepConnected);
    // Stops what runs: the connection is closed.
    void Cancel();
    bool Cancelled() const { return FCancelled; }

    // The results of the last transfer.
    int NewMailCount = 0;
    bool AllRetrieved = false;
    // Rows the last transfer left alone although they were marked (declined, gone from the
    // server, too large), one text each.
    std::vector<std::string> TransferNotes;
    // The mail files the last transfer wrote, full paths.
    std::vector<std::string> SavedFiles;
    int SkippedForSize = 0;
    // The last transfer ended without committing its deletions.
    bool DeletionsVoid = false;
    // The fingerprint of the last certificate that was refused and not trusted ("" when none).
    std::string RefusedFingerprint;
    // The hand-over list in memory (one full path per saved mail file).
    TStringList HandOver;

    // Writes the protocol file from ProgramLog.
    static void WriteProtocolFile();

private:
    void Log(const std::string& line);
    void ConnectClient();
    // Logs in with the password (asked for when there is none) or the OAuth 2.0 token.
    void LogIn();
    void LoginTrusting();
    // An access token for the account, through the browser's sign-in when the user wants it.
    // The header cache of this server and user, read from its file.
    std::unique_ptr<class THeaderCache> LoadHeaderCache() const;
    std::string TokenForLogIn(class TOAuthAccount& oauth);
    bool SearchSecurity();
    void StoreFoundSecurity();
    bool OfferCertificateTrust(const EmsCertificateError& e);
    void ReportConnectionSecurity();
    void ListHeaders(int count);
    void AddRow(int number, int64_t size, const std::string& uidl);

    using TUidlIndex = std::unordered_map<std::string, int>;
    // What the transfer does with a row, set before the first retrieval.
    struct TRowStep {
        // The message's number on the server now; 0 when it is gone.
        int Number = 0;
        // Above the size to confirm, and not confirmed.
        bool Declined = false;
        // Its file from an earlier transfer is there: it is not retrieved again.
        bool SavedBefore = false;
        bool Retrieve = false;
    };
    TRowStep PlanRow(int index, const std::vector<TmsMessageId>& ids, const TUidlIndex* byUidl);
    void CarryRow(int index, const TRowStep& step);
    // Retrieves the message into a new mail file; true when the answer was too short to be the
    // message (the file is kept, the message stays on the server).
    bool RetrieveMailFile(int index, const TmsMessageId& id);
    // Retrieves the message into the account's delivery target; true when it stays on the
    // server (refused or deferred by the target, or too short to be the message).
    bool DeliverMessage(int index, const TmsMessageId& id);
    void ForgetSavedIdsNotOn(const std::unordered_map<std::string, int>& byUidl);
    // The closing steps; the first failure of the transfer or of these steps ends in failure.
    void FinishTransfer(bool keepConnected, std::exception_ptr& failure);
    void FlushSavedFiles();

    TMailboxEvents& FEvents;
    TClientRec& FAccount;
    TBrowserOpener FBrowser;
    std::string FAccountName;
    TStringList* FLog;
    std::unique_ptr<TmsPOPClient> FClient;
    // Header blocks are parsed here for the rows.
    TmsMessage FMessage;
    std::vector<TMailRow> FRows;
    TAccountLock FLock;
    bool FCancelled = false;
    bool FCollecting = false;
    bool FWarnedClearText = false;
    // The hand-over list has been written whole in this transfer; saves append to it.
    bool FHandOverWritten = false;
    int64_t FMsgSize = 0;
    std::unique_ptr<TSavedIds> FSavedIds;
    // Where the transfer delivers; none for the post office's mail files.
    std::unique_ptr<TDeliveryTarget> FTarget;
    QDateTime FNextNameTime;
    std::vector<int> FDeletions;
    std::vector<std::string> FUnflushedUidls;
};
