// The session's connection and check: log-in with the security found or trusted, and the
// listing of the messages on the server.
#include "mailbox/MailboxSession.h"
#include "mailbox/MailFiles.h"

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/StrUtils.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/Delivery.h"
#include "mailbox/HeaderCache.h"
#include "mailbox/OAuthAccount.h"
#include "mailbox/Settings.h"
#include "message/msmsgtext.h"
#include "message/mspars.h"
#include "net/MsTls.h"
#include "net/Mspop.h"
#include "net/SecurityProbe.h"
#include "platform/DurableFile.h"
#include "platform/Paths.h"
#include "platform/Shell.h"

#include <QLocale>

#include <algorithm>

namespace {
const char* const kConnectTo = "Connect to: ";
const char* const kConnectedPop = "Connected to POP3 server";
const char* const kDateTime = "Date/time: ";
const char* const kDisconnectedPop = "Disconnected from POP3 server";
const char* const kCancelled = "Cancelled";
const char* const kAtPostoffice = "  eMail at Postoffice";
const char* const kErrorCallingMemo = "Error when calling list\rSee ptotocol";
const char* const kErrorCallingStatus = "Error when calling list, see protocol";
const char* const kPostofficeEmpty = "Postoffice is empty";
const char* const kReadyForCollecting = " eMail ready for collecting";
const char* const kNoNewMail = ":    - No new eMail -";
const char* const kHeadersCutBefore = "Headers of message ";
const char* const kHeadersCutAfter = " too long: listed with what fits";
const char* const kTrustStored = "Certificate trusted for this account: ";
const char* const kTrustNotStored =
    "The trusted certificate could not be stored in the account file";
const char* const kClearTextWarning = "Warning: the password was sent without encryption to ";
const char* const kSecurityPrefix = "Security: ";
const char* const kSecurityStored = "Security found and stored for this account: ";
const char* const kSecurityNotStored = "The security found could not be stored in the account file";
const char* const kOnPort = " on port ";
const char* const kRenewingToken = "The server refused the access token: renewing it once";
const char* const kSigningIn = "Sign-in in the browser...";

QDateTime MailDate(const TmsMessage& message) {
    TDateTime value = 0;
    std::string zone;
    ParseMailDate(GetHeaderValue(message.Headers(), "Date"), value, zone);
    if (value == 0) return ClockNow();
    int y, mo, d, h, mi, s;
    DecodeDateTime(value, y, mo, d, h, mi, s);
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

// Names and addresses that never leave the machine.
bool IsLoopbackHost(const std::string& host) {
    const std::string name = LowerCase(host);
    return name == "localhost" || name.ends_with(".localhost") || name.starts_with("127.") ||
           name == "::1";
}
} // namespace

TMailboxSession::TMailboxSession(TMailboxEvents& events, TClientRec& account)
    : FEvents(events), FAccount(account), FLog(&ProgramLog),
      FClient(std::make_unique<TmsPOPClient>()) {
    FClient->SetMailMessage(&FMessage);
    // Every check lists ids and sizes: they ride with the log-in's STAT.
    FClient->SetListAtLogin(true);
    FBrowser = [](const std::string& address) { return Shell().Open(address, SW_SHOWNORMAL) > 32; };
    ConnectClient();
}

TMailboxSession::~TMailboxSession() {
    FClient->SetMailMessage(nullptr);
}

void TMailboxSession::ConnectClient() {
    FClient->OnConnecting = [this](TmsSocketBase*) {
        FEvents.Connecting();
        FLog->Clear();
        // The client's own protocol is kept per connection too (a transfer has copied it).
        FClient->ProtocolLog().Clear();
        Log(kConnectTo + FClient->Host());
    };
    FClient->OnConnected = [this](TmsSocketBase*) {
        Log(kConnectedPop);
        // The protocol's lines are raw 8-bit text: the program's own in Windows-1252, and
        // this date, in the user's locale, as UTF-8 (RawToUtf8 reads both).
        FLog->Add(kDateTime + QLocale().toString(ClockNow(), QLocale::LongFormat).toStdString());
    };
    FClient->OnDisconnected = [this](TmsSocketBase*) { Log(kDisconnectedPop); };
    FClient->OnRetrievingMessage = [this](TmsSocketBase*) {
        FEvents.Retrieving(FClient->CurrentMessage() + 1, FClient->MessageCount());
    };
    FClient->OnTransferProgress = [this](TmsSocketBase*, int, int64_t byteCount, int) {
        if (!FCollecting) return;
        const int64_t p =
            FMsgSize > 0 ? std::min<int64_t>(100, (byteCount * 100 + FMsgSize / 2) / FMsgSize) : -1;
        FEvents.Progress(FClient->CurrentMessage() + 1, int(p));
    };
    FClient->OnMessageRetrieved = [this](TmsSocketBase*) {
        if (FClient->CurrentMessage() + 1 == FClient->MessageCount()) AllRetrieved = true;
    };
}

void TMailboxSession::Apply() {
    // The port is set after the host, because setting the host resets the port.
    FClient->SetPassword(FAccount.Password);
    FClient->SetHost(FAccount.Server);
    FClient->SetPort(uint16_t(FAccount.DefPort));
    FClient->SetUserName(FAccount.UserName);
    FClient->SetSecurity(SecurityValue(FAccount.Security));
    FClient->SetAuthentication(FAccount.OAuth.Enabled() ? auToken : auPassword);
    FClient->SetCertFingerprint(FAccount.CertFingerprint);
    FClient->SetTimeOut(FAccount.Timeout);
}

std::string TMailboxSession::Lock() {
    return FLock.Lock(TAccountLock::FileFor(FAccountName));
}

void TMailboxSession::Unlock() {
    FLock.Unlock();
}

void TMailboxSession::Cancel() {
    FCancelled = true;
    FClient->Cancel();
}

void TMailboxSession::SetMode(int index, int mode) {
    FRows.at(std::size_t(index)).Mode = mode;
    FEvents.RowChanged(index);
}

void TMailboxSession::Log(const std::string& line) {
    FLog->Add(line);
    FEvents.Protocol(line);
}

// --- log-in ----------------------------------------------------------------------------

void TMailboxSession::LogIn() {
    if (!FAccount.OAuth.Enabled()) {
        if (FAccount.Password.empty()) FEvents.AskPassword();
        LoginTrusting();
        return;
    }
    TOAuthAccount oauth(FAccount.OAuth, KeyringKey(AccountFileName(FAccountName)),
                        FAccount.UserName);
    FClient->SetAccessToken(TokenForLogIn(oauth));
    try {
        LoginTrusting();
        return;
    } catch (const EmsTokenRefusedError& e) {
        Log(e.Message);
    }
    // Refused before its time (revoked, or the clocks disagree): once more with a new one.
    Log(kRenewingToken);
    oauth.Forget();
    try {
        if (FClient->IsConnected()) FClient->Logout();
    } catch (const std::exception&) {
        // The next log-in connects anew.
        if (FClient->IsConnected()) FClient->Disconnect();
    }
    FClient->SetAccessToken(TokenForLogIn(oauth));
    LoginTrusting();
}

std::string TMailboxSession::TokenForLogIn(TOAuthAccount& oauth) {
    try {
        return oauth.AccessToken();
    } catch (const EOAuthSignInNeeded& e) {
        if (!FEvents.SignIn(e.Message)) throw;
    }
    FEvents.Status(kSigningIn);
    oauth.SignIn(FBrowser, &FCancelled);
    FEvents.Status("");
    return oauth.AccessToken();
}

void TMailboxSession::LoginTrusting() {
    const bool search = FAccount.SecuritySearch != ssStated;
    // A certificate found during the search belongs to what the server offers: once trusted,
    // that security is the one stored.
    bool found = search;
    try {
        if (search) found = SearchSecurity();
        FClient->Login();
    } catch (const EmsCertificateError& e) {
        if (!OfferCertificateTrust(e)) {
            RefusedFingerprint = e.Fingerprint;
            throw;
        }
        if (FClient->IsConnected()) FClient->Disconnect();
        FClient->Login();
    }
    if (found) StoreFoundSecurity();
    ReportConnectionSecurity();
}

bool TMailboxSession::SearchSecurity() {
    try {
        FindSecurity(*FClient, ProbePorts(FAccount.DefPort));
        return true;
    } catch (const ENoSecureConnection& e) {
        if (FAccount.SecuritySearch == ssFind) throw;
        // Clear text stays what the account had; the search is not repeated in this run.
        Log(e.Message);
        FAccount.SecuritySearch = ssStated;
        FClient->SetSecurity(SecurityValue(FAccount.Security));
        FClient->SetPort(uint16_t(FAccount.DefPort));
        return false;
    }
}

void TMailboxSession::StoreFoundSecurity() {
    FAccount.Security = SecurityName(FClient->Security());
    FAccount.DefPort = FClient->Port();
    FAccount.SecuritySearch = ssStated;
    if (!StoreSecurity(AccountFileName(FAccountName), FClient->Security(), FClient->Port())) {
        Log(kSecurityNotStored);
        return;
    }
    Log(kSecurityStored + FAccount.Security + kOnPort + std::to_string(FAccount.DefPort));
}

bool TMailboxSession::OfferCertificateTrust(const EmsCertificateError& e) {
    if (e.Fingerprint.empty() || !FEvents.TrustCertificate(e)) return false;
    if (!StoreCertFingerprint(AccountFileName(FAccountName), e.Fingerprint)) {
        Log(kTrustNotStored);
        return false;
    }
    FAccount.CertFingerprint = e.Fingerprint;
    FClient->SetCertFingerprint(e.Fingerprint);
    Log(kTrustStored + e.Fingerprint);
    return true;
}

void TMailboxSession::ReportConnectionSecurity() {
    Log(kSecurityPrefix + FClient->SecurityDescription());
    if (FClient->Encrypted() || FWarnedClearText || IsLoopbackHost(FClient->Host())) return;
    FWarnedClearText = true;
    FEvents.StatusBar(RawToUtf8(kClearTextWarning + FClient->Host()));
}

// --- the check -------------------------------------------------------------------------

TCheckResult TMailboxSession::Check(bool keepConnected) {
    FCollecting = false;
    FCancelled = false;
    FRows.clear();
    FEvents.RowsCleared();
    FEvents.Status("");
    TCheckResult result;
    try {
        if (!FClient->IsConnected()) LogIn();
        // The count is the server's word; the rows are never more than the client tracks.
        result.Count = std::min(FClient->MessageCount(), int(FClient->MessageIds().size()));
        FEvents.Status(std::to_string(result.Count) + kAtPostoffice);
        result.LoggedIn = true;
    } catch (const std::exception& e) {
        FEvents.Memo(kErrorCallingMemo);
        FEvents.Status(kErrorCallingStatus);
        result.Error = e.what();
        // Why, in the server's own words, for a user who cannot open the protocol yet.
        Log(result.Error);
        try {
            if (FClient->IsConnected()) FClient->Logout();
        } catch (const std::exception&) {
        }
        return result;
    }
    if (result.Count == 0) {
        FEvents.Status(kPostofficeEmpty);
        FEvents.Status(QLocale().toString(ClockNow(), QLocale::ShortFormat).toStdString() +
                       kNoNewMail);
        if (FClient->IsConnected()) FClient->Logout();
        return result;
    }
    try {
        ListHeaders(result.Count);
    } catch (...) {
        // A list that broke off claims nothing ready for collecting.
        FEvents.Status(FCancelled ? kCancelled : kErrorCallingStatus);
        throw;
    }
    FEvents.Status(std::to_string(result.Count) + kReadyForCollecting);
    // Cancel has closed the socket already; there is nobody left to say goodbye to.
    if (!keepConnected && FClient->IsConnected()) FClient->Logout();
    return result;
}

void TMailboxSession::ListHeaders(int count) {
    // The unique ids let a later transfer find each row's message again, whatever other
    // clients did to the mailbox in between; a server without UIDL leaves them empty.
    // A server that knows CAPA (RFC 2449) is a modern one: all sizes in one answer. An older
    // one gets the exchange it was built for, one LIST per message.
    bool allSizes = false;
    if (FClient->CapaAnswered()) {
        // Both were asked with the log-in's STAT.
        FClient->EnsureUidls();
        allSizes = FClient->EnsureSizes();
    } else {
        FClient->RetrieveUidls();
    }
    const std::vector<TmsMessageId>& ids = FClient->MessageIds();
    // The cache needs every message told apart by its id and its size; else it stays out.
    std::unique_ptr<THeaderCache> cache;
    if (HeaderCache && allSizes && std::size_t(count) == ids.size() &&
        std::all_of(ids.begin(), ids.end(),
                    [](const TmsMessageId& id) { return !id.Uidl.empty() && id.Size >= 0; })) {
        cache = LoadHeaderCache();
    }
    auto cached = [&](int i) {
        return cache ? cache->Find(ids[std::size_t(i)].Uidl, ids[std::size_t(i)].Size) : nullptr;
    };
    std::vector<int> wanted;
    for (int i = 0; i < count; ++i)
        if (!cached(i)) wanted.push_back(i);
    FClient->PlanHeaders(std::move(wanted));
    FRows.reserve(std::size_t(count));
    std::string block;
    for (int i = 0; i < count; ++i) {
        FClient->SetCurrentMessage(i);
        const std::string* known = cached(i);
        try {
            if (known) {
                block = *known;
                FillFromHeaderBlock(FMessage, block);
            } else if (!FClient->RetrieveHeaders(block)) {
                // The transfer can still collect it, within the limit of a whole message.
                FLog->Add(kHeadersCutBefore + std::to_string(i + 1) + kHeadersCutAfter);
            }
        } catch (const std::exception& e) {
            // A header block that cannot be read whole still gets a row.
            if (IsConnectionError(e)) throw;
            FLog->Add(e.what());
        }
        const int64_t size = allSizes ? ids[std::size_t(i)].Size : FClient->GetMessageSize();
        AddRow(i + 1, size, std::size_t(i) < ids.size() ? ids[std::size_t(i)].Uidl : "");
        if (cache) cache->Keep(ids[std::size_t(i)].Uidl, size, block);
        if (known) FEvents.Breathe();
    }
    if (!cache) return;
    try {
        cache->Save();
    } catch (const std::exception& e) {
        // A cache that cannot be written only costs the next check its speed.
        FLog->Add(e.what());
    }
}

std::unique_ptr<THeaderCache> TMailboxSession::LoadHeaderCache() const {
    const std::string server = FClient->Host() + ":" + std::to_string(FClient->Port());
    auto cache = std::make_unique<THeaderCache>(THeaderCache::FileFor(server, FClient->UserName()),
                                                server, FClient->UserName());
    cache->Load();
    return cache;
}

bool TMailboxSession::ListFromCache() {
    FRows.clear();
    FEvents.RowsCleared();
    if (!HeaderCache) return false;
    // The listing points into the cache: it is kept while the rows are made.
    const std::unique_ptr<THeaderCache> cache = LoadHeaderCache();
    const std::vector<THeaderCache::TListed> listed = cache->Listing();
    for (std::size_t i = 0; i < listed.size(); ++i) {
        FillFromHeaderBlock(FMessage, *listed[i].Block);
        FRows.push_back(MailRowOf(FMessage, int(i + 1), listed[i].Size, listed[i].Uidl));
    }
    if (!FRows.empty()) FEvents.RowsAdded(0);
    return !FRows.empty();
}

void TMailboxSession::AddRow(int number, int64_t size, const std::string& uidl) {
    FRows.push_back(MailRowOf(FMessage, number, size, uidl));
    FEvents.RowsAdded(int(FRows.size()) - 1);
}

TMailRow MailRowOf(const TmsMessage& message, int number, int64_t size, const std::string& uidl) {
    TMailRow row;
    row.Number = number;
    row.Size = size;
    row.Uidl = uidl;
    row.Mode = RetrvMode;
    // What a person reads: the Unicode views of the mail library. The transfer's size
    // confirmation shows these same texts.
    row.Subject = SubjectText(message);
    row.Sender = SenderDisplayText(message);
    row.Priority = int(message.Priority());
    row.Date = QLocale().toString(MailDate(message), QLocale::ShortFormat).toStdString();
    for (int i = 0; i < message.Headers().Count(); ++i)
        row.Headers.append(message.Headers()[i]).append("\n");
    return row;
}

void TMailboxSession::WriteProtocolFile() {
    std::string text;
    // Written as UTF-8, so that a date in any locale reads as it was shown.
    for (const std::string& line : ProgramLog) {
        RawToUtf8Append(line, text);
        text.append("\r\n");
    }
    WriteFileDurably(ProtocolFile(), text);
}
