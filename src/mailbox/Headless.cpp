#include "mailbox/Headless.h"

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/Exceptions.h"
#include "dialup/DialUp.h"
#include "dialup/RasBinding.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/Settings.h"
#include "net/EventWait.h"
#include "net/Mspop.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>

namespace {
const char* const kNoAccount = "No account yet: start postvigil to make one in the account "
                               "editor, or add one with postvigil --add-account";
const char* const kStartAccount = "The start-up account \"";
const char* const kHasNoFile = "\" has no account file (";
const char* const kChooseStartAccount = "); open postvigil, choose one of your accounts and make "
                                        "it the start-up account, or add one with postvigil "
                                        "--add-account";
const char* const kAccountFile = "The account file ";
const char* const kCannotBeRead = " cannot be read (";
const char* const kCorrectIt = "); correct it in the account editor or add the account again "
                               "with postvigil --add-account";
const char* const kNamesNoServer = "it names no POP3 server";
const char* const kNoPassword = "The account has no stored password; ";
const char* const kAsksForNone = " asks for none";
const char* const kCheckFailed = "The check failed";
// The window's own words for a listing that failed.
const char* const kListFailed = "Error when calling list, see protocol";
const char* const kSeeProtocol = "The protocol: ";
const char* const kTrustHint = "To trust this certificate for the account (only when you know it "
                               "is the server's own): postvigil --trust-certificate ";
const char* const kSizeHint = "Messages larger than %d bytes are skipped; postvigil --collect "
                              "--max-size BYTES collects them (0 for no limit)";
const char* const kConnectTo = "Connect to: ";
const char* const kConnectionTerminated = "Connection terminated";
constexpr int kConnectedState = 8192;
// The connection manager may answer its phone book late; a run without a window waits for
// it this long.
constexpr int kPhoneBookWaitMs = 15000;
// A line that was hung up is given this long before anything else uses the modem.
constexpr int kHangUpPauseMs = 2000;

// The charset the locale names for text ("ru_RU.KOI8-R" gives "KOI8-R"), the first of
// LC_ALL, LC_CTYPE and LANG that is set; "" when none names one.
std::string LocaleCharset() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string_view locale(value);
        const std::size_t dot = locale.find('.');
        if (dot == std::string_view::npos) return "";
        locale.remove_prefix(dot + 1);
        return std::string(locale.substr(0, locale.find('@')));
    }
    return "";
}

// Nobody is there to see or answer: the texts are kept for the output, every question is
// declined (the defaults).
class THeadlessEvents : public TMailboxEvents {
public:
    std::string LastStatus;
    std::string LastStatusBar;
    void Status(const std::string& text) override { LastStatus = text; }
    void StatusBar(const std::string& text) override { LastStatusBar = text; }
};

// The start-up account loaded as the window loads it, with the line to dial when the account
// dials its own.
class THeadlessRun {
public:
    THeadlessEvents Events;
    TMailboxSession Session{Events, ClientRec};

    THeadlessRun() {
        ClientRec = TClientRec();
        // A connection that is up before we start is someone else's.
        try {
            ExternOnline = FDialUp.GetActiveConnection();
        } catch (const Exception&) {
            ExternOnline = false;
        }
        ReadPhoneBook();
        {
            TRegistry reg;
            reg.OpenKey(kPostkeeperSetKey, false);
            CurSetName = reg.ReadString("DFUIniName", "Dummy");
            StartSetName = CurSetName;
            RetrvMode = reg.ReadInteger("RtrvMode", 5);
        }
        LoadSettings();
        ReadClientFile(AccountFileName(CurSetName));
        // Without a window there is nothing to keep responsive: a phone book answered late is
        // waited for (bounded) and the account takes its entry from it.
        if (RasPhoneBookPending() && WaitForRasPhoneBook(kPhoneBookWaitMs)) {
            ReadPhoneBook();
            RasIndex = ClientRec.RASService;
        }
        FNoDialEntry = ApplyDialEntry(FDialUp);
        Session.SetAccountName(CurSetName);
        Session.Apply();
    }
    ~THeadlessRun() {
        try {
            HangUp();
        } catch (const std::exception&) {
        }
    }

    // Dials when the account dials its own line and nobody else's line is up. A dial that
    // fails is written to the protocol; the log-in then says what went wrong.
    void Dial() {
        if (!AutoDial() || ExternOnline || UserOnline || Session.Client().IsConnected()) return;
        bool failed = false;
        FDialUp.OnAsyncEvent = [&](TDialUp*, int32_t state, int32_t error,
                                   const std::string& text) {
            ProgramLog.Add(text);
            if (error != 0) failed = true;
            if (state == kConnectedState) FConnected = true;
        };
        FDialUp.OnError = [&](TDialUp*, int32_t, const std::string& text) {
            ProgramLog.Add(text);
            failed = true;
        };
        ProgramLog.Add(kConnectTo + FDialUp.Entry());
        FDialing = true;
        if (FDialUp.Dial() == 0)
            WaitEvents(Clock().NowMs() + TimeoutMs(ClientRec.Timeout), nullptr,
                       [&] { return FConnected || failed; });
        FDialUp.OnAsyncEvent = nullptr;
        FDialUp.OnError = nullptr;
        if (FConnected) FDialUp.GetConnections();
    }

    // Says goodbye to the server and hangs up a line this run dialled.
    void Finish() {
        std::exception_ptr failure;
        try {
            if (Session.Client().IsConnected()) Session.Client().Logout();
        } catch (...) {
            failure = std::current_exception();
        }
        HangUp();
        if (failure) std::rethrow_exception(failure);
    }

    // Why the start-up account cannot be checked without asking; "" when it can.
    static std::string AccountProblem(const char* mode) {
        if (!StartAccountExists()) {
            if (ListedAccounts().empty()) return kNoAccount;
            const std::string name = StartAccountName();
            return kStartAccount + name + kHasNoFile + ProgDir() + name + ".Set" +
                   kChooseStartAccount;
        }
        const std::string file = AccountFileName(StartAccountName());
        const auto unreadable = [&](const std::string& why) {
            return kAccountFile + file + kCannotBeRead + why + kCorrectIt;
        };
        if (std::ifstream readable(file); !readable) return unreadable(std::strerror(errno));
        // A file that is no account file at all reads as one with every value missing.
        if (ClientRec.Server.empty()) return unreadable(kNamesNoServer);
        // An OAuth 2.0 account has no password: its sign-in is in the keyring.
        if (ClientRec.Password.empty() && !ClientRec.OAuth.Enabled())
            return kNoPassword + std::string(mode) + kAsksForNone;
        return "";
    }

private:
    bool AutoDial() const { return AutoConnect && !FNoDialEntry; }

    void ReadPhoneBook() {
        try {
            FDialUp.GetEntries();
        } catch (const Exception&) {
            // Without a dial-up service the phone book stays empty.
        }
    }

    void HangUp() {
        if (!FDialing && !FConnected) return;
        FDialing = FConnected = false;
        FDialUp.HangUp();
        platform::Pause(kHangUpPauseMs);
        ProgramLog.Add(kConnectionTerminated);
    }

    TDialUp FDialUp;
    bool FNoDialEntry = false;
    bool FDialing = false;
    bool FConnected = false;
};

// Prints the reason a run failed, with what the user can do about it: the certificate to
// trust, the protocol to read.
void PrintFailure(std::ostream& err, const TMailboxSession& session, const std::string& error,
                  const std::string& status) {
    err << TerminalText(RawToUtf8(error.empty() ? kCheckFailed : error)) << "\n";
    if (!session.RefusedFingerprint.empty())
        err << kTrustHint << session.RefusedFingerprint << "\n";
    if (status == kListFailed) err << kSeeProtocol << TerminalText(ProtocolFile()) << "\n";
}

// The status line a run prints. A listing that failed part way leaves the count the server
// gave ("N eMail ready for collecting"), which is no result.
std::string StatusLine(const THeadlessEvents& events, bool listFailed) {
    return TerminalText(listFailed ? kListFailed : events.LastStatus);
}

// The protocol of the run is kept as the window keeps it when it closes.
void KeepProtocol() {
    try {
        TMailboxSession::WriteProtocolFile();
    } catch (const std::exception&) {
        // The run's output says what happened; a protocol that cannot be written changes none.
    }
}
} // namespace

std::string TerminalText(std::string_view utf8) {
    return Utf8ToCharset(utf8, LocaleCharset());
}

int RunHeadlessCheck(std::ostream& out, std::ostream& err) {
    THeadlessRun run;
    if (const std::string problem = run.AccountProblem("--check"); !problem.empty()) {
        err << problem << "\n";
        return 1;
    }
    TMailboxSession& session = run.Session;
    std::string error;
    bool listFailed = false;
    if (std::string busy = session.Lock(); !busy.empty()) {
        error = std::move(busy);
    } else {
        try {
            run.Dial();
            error = session.Check(false).Error;
            run.Finish();
        } catch (const std::exception& e) {
            error = e.what();
            listFailed = true;
            try {
                run.Finish();
            } catch (const std::exception&) {
            }
        }
        session.Unlock();
    }
    for (const TMailRow& row : session.Rows()) {
        for (int c = 0; c < colCount; ++c) {
            // A tab or line break a sender put into a subject would break the line's columns.
            std::string cell = RowText(row, c);
            for (char& ch : cell)
                if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
            out << (c ? "\t" : "") << TerminalText(cell);
        }
        out << "\n";
    }
    const std::string status = StatusLine(run.Events, listFailed);
    out << status << "\n";
    KeepProtocol();
    if (error.empty()) return 0;
    PrintFailure(err, session, error, status);
    return 1;
}

int RunHeadlessCollect(std::ostream& out, std::ostream& err, int mode, int64_t maxSize) {
    THeadlessRun run;
    if (maxSize >= 0) MailMaxSize = maxSize == 0 || maxSize > INT_MAX ? INT_MAX : int(maxSize);
    if (const std::string problem = run.AccountProblem("--collect"); !problem.empty()) {
        err << problem << "\n";
        return 1;
    }
    TMailboxSession& session = run.Session;
    std::string error;
    bool listed = false;
    if (std::string busy = session.Lock(); !busy.empty()) {
        // Refused before any listing: the status line stays as it was.
        error = busy;
        listed = true;
        run.Events.LastStatusBar = std::move(busy);
    } else {
        try {
            run.Dial();
            // The check keeps the connection for the transfer that follows.
            error = session.Check(true).Error;
            listed = true;
            if (error.empty() && !session.Rows().empty()) {
                // A stored default that is no mode collects as Copy.
                const int rowMode = mode >= tmGet                                  ? mode
                                    : RetrvMode >= tmGet && RetrvMode <= tmNeutral ? RetrvMode
                                                                                   : tmCopy;
                for (TMailRow& row : session.Rows()) row.Mode = rowMode;
                session.Collect(false);
            }
            run.Finish();
        } catch (const std::exception& e) {
            error = e.what();
            try {
                run.Finish();
            } catch (const std::exception&) {
            }
        }
        session.Unlock();
    }
    for (const std::string& path : session.SavedFiles) out << path << "\n";
    out << TerminalText(run.Events.LastStatusBar) << "\n";
    const std::string status = StatusLine(run.Events, !listed);
    out << status << "\n";
    for (const std::string& note : session.TransferNotes)
        err << TerminalText(RawToUtf8(note)) << "\n";
    if (session.SkippedForSize > 0) {
        std::string hint = kSizeHint;
        hint.replace(hint.find("%d"), 2, std::to_string(MailMaxSize));
        err << hint << "\n";
    }
    KeepProtocol();
    if (!error.empty()) PrintFailure(err, session, error, status);
    return error.empty() && session.TransferNotes.empty() ? 0 : 1;
}
