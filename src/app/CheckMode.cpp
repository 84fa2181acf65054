#include "app/CheckMode.h"

#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "base/Charset.h"
#include "base/StrUtils.h"
#include "dialup/RasBinding.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/SystemSounds.h"
#include "platform/TonePlayer.h"

#include <QDialog>
#include <QLabel>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <strings.h>

namespace {
const char* const kUsage =
    "Usage: postvigil [option]\n"
    "Watches a POP3 mailbox and lists the waiting eMail.\n"
    "\n"
    "  (none)    open the window\n"
    "  --check   check the start-up account without a window: one line per message\n"
    "            (subject, sender, priority, size, date separated by TAB), then the\n"
    "            status line; exit status 0 when the check ran, 1 when it failed\n"
    "  --collect [--mode get|copy|delete|neutral] [--max-size BYTES]\n"
    "            check the start-up account without a window and collect every listed\n"
    "            message in its default mode (or the one given): one line per saved mail\n"
    "            file (its full path), then the status bar and status line; exit status 0\n"
    "            when every marked message was handled, 1 otherwise. Messages larger than\n"
    "            the account's size to confirm (100000 bytes unless set) are skipped;\n"
    "            --max-size sets the limit for this run, 0 for none\n"
    "  --demo    open the window on a demo account with a sample mailbox served on\n"
    "            this machine (your own settings and accounts stay untouched)\n"
    "  --add-account --server HOST --user NAME [--port N] [--description TEXT]\n"
    "            [--security tls|starttls|none]\n"
    "            add an account; its password is the first line of standard input\n"
    "            (asked for when that is a terminal; it cannot be empty). The first\n"
    "            account becomes the start-up account. With a desktop keyring running,\n"
    "            the password is kept there, otherwise scrambled in the account file\n"
    "            (readable by you only)\n"
    "  --list-accounts\n"
    "            one line per account: description, file, \"start-up\" (TAB separated)\n"
    "  --trust-certificate sha256:FINGERPRINT\n"
    "            trust the certificate the start-up account's server shows, when it has\n"
    "            this fingerprint (as a refused check prints it): shows whose it is and\n"
    "            stores it in the account file; only that certificate is accepted then\n"
    "  --help    show this text\n";
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
const char* const kUnknownOption = "Unknown option: ";
const char* const kUnknownOptionFor = "Unknown option for ";
const char* const kModeNeeded = "--mode needs get, copy, delete or neutral";
const char* const kMaxSizeNeeded = "--max-size needs a number of bytes (0 for no limit)";
const char* const kFingerprintNeeded = "--trust-certificate needs the fingerprint a refused check "
                                       "printed (sha256:...)";
const char* const kSeeProtocol = "The protocol: ";
const char* const kTrustHint = "To trust this certificate for the account (only when you know it "
                               "is the server's own): postvigil --trust-certificate ";
const char* const kSizeHint = "Messages larger than %d bytes are skipped; postvigil --collect "
                              "--max-size BYTES collects them (0 for no limit)";

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
} // namespace

std::string TerminalText(std::string_view utf8) {
    return Utf8ToCharset(utf8, LocaleCharset());
}

void PrintUsage(std::ostream& out) {
    out << kUsage;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    const auto command = [](TCommandMode mode) {
        TCommandLine line;
        line.Mode = mode;
        return line;
    };
    const auto refused = [&](std::string why) {
        TCommandLine line = command(mdUnknown);
        line.Refusal = std::move(why);
        return line;
    };
    if (args.empty()) return command(mdWindow);
    const std::string& first = args[0];
    const auto refuse = [&](std::size_t i) {
        return refused(kUnknownOptionFor + first + ": " + args[i]);
    };
    // A mode that takes nothing after it.
    const auto alone = [&](TCommandMode mode) {
        return args.size() == 1 ? command(mode) : refuse(1);
    };
    if (first == "--check") return alone(mdCheck);
    if (first == "--demo") return alone(mdDemo);
    if (first == "--list-accounts") return alone(mdListAccounts);
    if (first == "--help" || first == "-h") return alone(mdHelp);
    if (first == "--add-account") return command(mdAddAccount);
    if (first == "--trust-certificate") {
        if (args.size() < 2 || args[1].empty()) return refused(kFingerprintNeeded);
        if (args.size() > 2) return refuse(2);
        TCommandLine trust = command(mdTrustCertificate);
        trust.Fingerprint = args[1];
        return trust;
    }
    if (first != "--collect") return refused(kUnknownOption + first);
    TCommandLine collect = command(mdCollect);
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string value = i + 1 < args.size() ? args[i + 1] : "";
        if (args[i] == "--mode" && collect.TransferMode < 0) {
            const char* const names[] = {"get", "copy", "delete", "neutral"};
            for (int m = 0; m < 4; ++m)
                if (!strcasecmp(value.c_str(), names[m])) collect.TransferMode = tmGet + m;
            if (collect.TransferMode < 0) return refused(kModeNeeded);
        } else if (args[i] == "--max-size" && collect.MaxSize < 0) {
            int64_t bytes = -1;
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
                !TryStrToInt64(value, bytes))
                return refused(kMaxSizeNeeded);
            collect.MaxSize = bytes;
        } else {
            return refuse(i);
        }
    }
    return collect;
}

namespace {
// No tune and no beep: a headless run prints its output and nothing else.
class TNoTones : public TTonePlayer {
public:
    void PlayTone(unsigned, int) override {}
    void Rest(int) override {}
};
class TNoBeeps : public TSystemSounds {
public:
    void MessageBeep(unsigned) override {}
};

// Nobody is there to answer: every dialog and box is declined unseen while this lives, and
// nobody is there to listen.
struct THeadless {
    TScriptedPrompts prompts;
    TNoTones tones;
    TNoBeeps beeps;
    decltype(TFormMain::ExecModal) previousModal = TFormMain::ExecModal;
    TTonePlayer& previousTones = TonePlayer();
    TSystemSounds& previousBeeps = SystemSounds();
    THeadless() {
        SetPrompts(&prompts);
        SetTonePlayer(&tones);
        SetSystemSounds(&beeps);
        TFormMain::ExecModal = [](QDialog&) { return int(QDialog::Rejected); };
    }
    ~THeadless() {
        TFormMain::ExecModal = previousModal;
        SetSystemSounds(&previousBeeps);
        SetTonePlayer(&previousTones);
        SetPrompts(nullptr);
    }
};
// The connection manager answers its phone book after the window has read it; without a
// window there is nothing to keep responsive, so the check waits for it (bounded).
void AwaitPhoneBook() {
    constexpr int kPhoneBookWaitMs = 15000;
    WaitForRasPhoneBook(kPhoneBookWaitMs);
}

// Why the start-up account cannot be checked without asking; "" when it can.
std::string HeadlessAccountProblem(const char* mode) {
    if (!StartAccountExists()) {
        if (ListedAccounts().empty()) return kNoAccount;
        const std::string name = StartAccountName();
        return kStartAccount + name + kHasNoFile + ProgDir() + name + ".Set" + kChooseStartAccount;
    }
    const std::string file = AccountFileName(StartAccountName());
    const auto unreadable = [&](const std::string& why) {
        return kAccountFile + file + kCannotBeRead + why + kCorrectIt;
    };
    if (std::ifstream readable(file); !readable) return unreadable(std::strerror(errno));
    // A file that is no account file at all reads as one with every value missing.
    if (ClientRec.Server.empty()) return unreadable(kNamesNoServer);
    if (ClientRec.Password.empty()) return kNoPassword + std::string(mode) + kAsksForNone;
    return "";
}

// Prints the reason a run failed, with what the user can do about it: the certificate to
// trust, the protocol to read.
void PrintFailure(std::ostream& err, const TFormMain& window, const std::string& error,
                  const std::string& status) {
    err << TerminalText(RawToUtf8(error.empty() ? kCheckFailed : error)) << "\n";
    if (!window.FRefusedFingerprint.empty())
        err << kTrustHint << window.FRefusedFingerprint << "\n";
    if (status == kListFailed) err << kSeeProtocol << TerminalText(ProtocolFile()) << "\n";
}

// The status line a headless run prints. A listing that failed part way leaves the count the
// server gave on the window's status ("N eMail ready for collecting"), which is no result.
std::string HeadlessStatus(const TFormMain& window, bool listFailed) {
    return TerminalText(listFailed ? kListFailed : window.LabelStatus->text().toStdString());
}
} // namespace

int RunHeadlessCheck(std::ostream& out, std::ostream& err) {
    THeadless headless;
    TFormMain window;
    AwaitPhoneBook();
    if (const std::string problem = HeadlessAccountProblem("--check"); !problem.empty()) {
        err << problem << "\n";
        return 1;
    }
    std::string error;
    bool listFailed = false;
    try {
        window.BtnListMailClick();
    } catch (const std::exception& e) {
        error = e.what();
        listFailed = true;
    }
    if (error.empty() && window.FCheckFailed) error = window.FCheckError;
    const TMailRowModel& rows = *window.MailRows;
    for (int i = 0; i < rows.Count(); ++i) {
        for (int c = 0; c < TMailRowModel::colCount; ++c) {
            // A tab or line break a sender put into a subject would break the line's columns.
            QString cell = rows.Text(i, c);
            for (QChar& ch : cell)
                if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
            out << (c ? "\t" : "") << TerminalText(cell.toStdString());
        }
        out << "\n";
    }
    const std::string status = HeadlessStatus(window, listFailed);
    out << status << "\n";
    if (!error.empty() || window.FCheckFailed) {
        PrintFailure(err, window, error, status);
        return 1;
    }
    return 0;
}

int RunHeadlessCollect(std::ostream& out, std::ostream& err, int mode, int64_t maxSize) {
    THeadless headless;
    TFormMain window;
    AwaitPhoneBook();
    if (maxSize >= 0) MailMaxSize = maxSize == 0 || maxSize > INT_MAX ? INT_MAX : int(maxSize);
    // The window reports a missing dial-up service on its status bar at start; a collect
    // prints what its own run did there (a dial it needs fails with its own reason).
    window.SetStatusText({});
    if (const std::string problem = HeadlessAccountProblem("--collect"); !problem.empty()) {
        err << problem << "\n";
        return 1;
    }
    std::string error;
    bool listed = false;
    try {
        // The check keeps the connection for the transfer that follows.
        window.RunCheck(true, true, true);
        listed = true;
        if (!window.FCheckFailed && window.MailRows->Count() > 0) {
            // A stored default that is no mode collects as Copy.
            const int rowMode = mode >= tmGet                                  ? mode
                                : RetrvMode >= tmGet && RetrvMode <= tmNeutral ? RetrvMode
                                                                               : tmCopy;
            for (int i = 0; i < window.MailRows->Count(); ++i) window.MailRows->SetMode(i, rowMode);
            window.RunCheck(true, false, false);
        }
        // Hanging up is the only finishing step that matters without a window; the pause and
        // the reminder that follow a check on a line nobody dialled are for a person.
        if (window.AutoDial() || UserOnline)
            window.RunCheck(false, false, false);
        else if (window.POPClient->IsConnected())
            window.POPClient->Logout();
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (error.empty() && window.FCheckFailed) error = window.FCheckError;
    for (const std::string& path : window.FSavedFiles) out << path << "\n";
    out << TerminalText(window.StatusText().toStdString()) << "\n";
    const std::string status = HeadlessStatus(window, !listed);
    out << status << "\n";
    for (const std::string& note : window.FTransferNotes)
        err << TerminalText(RawToUtf8(note)) << "\n";
    if (window.FSkippedForSize > 0) {
        std::string hint = kSizeHint;
        hint.replace(hint.find("%d"), 2, std::to_string(MailMaxSize));
        err << hint << "\n";
    }
    if (!error.empty()) PrintFailure(err, window, error, status);
    return error.empty() && window.FTransferNotes.empty() ? 0 : 1;
}
