#include "app/CheckMode.h"

#include "base/StrUtils.h"
#include "mailbox/Settings.h"

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
    "            file (its full path) or delivered message (the Maildir file's path,\n"
    "            mbox FILE, program COMMAND), then the status bar and status line; exit\n"
    "            status 0 when every marked message was handled, 1 otherwise. Messages\n"
    "            larger than the account's size to confirm (100000 bytes unless set)\n"
    "            are skipped; --max-size sets the limit for this run, 0 for none\n"
    "  --demo    open the window on a demo account with a sample mailbox served on\n"
    "            this machine (your own settings and accounts stay untouched)\n"
    "  --add-account --server HOST --user NAME [--port N] [--description TEXT]\n"
    "            [--security tls|starttls|none]\n"
    "            [--deliver files|maildir:FOLDER|mbox:FILE|mda:COMMAND]\n"
    "            add an account; its password is the first line of standard input\n"
    "            (asked for when that is a terminal; it cannot be empty). The first\n"
    "            account becomes the start-up account. With a desktop keyring running,\n"
    "            the password is kept there, otherwise scrambled in the account file\n"
    "            (readable by you only). Collected mail goes to the post office's\n"
    "            mail files unless --deliver names a Maildir, an mbox or a delivery\n"
    "            program (the message on its standard input; %F: the sender)\n"
    "  --list-accounts\n"
    "            one line per account: description, file, \"start-up\" (TAB separated)\n"
    "  --trust-certificate sha256:FINGERPRINT\n"
    "            trust the certificate the start-up account's server shows, when it has\n"
    "            this fingerprint (as a refused check prints it): shows whose it is and\n"
    "            stores it in the account file; only that certificate is accepted then\n"
    "  --help    show this text\n";
const char* const kUnknownOption = "Unknown option: ";
const char* const kUnknownOptionFor = "Unknown option for ";
const char* const kModeNeeded = "--mode needs get, copy, delete or neutral";
const char* const kMaxSizeNeeded = "--max-size needs a number of bytes (0 for no limit)";
const char* const kFingerprintNeeded = "--trust-certificate needs the fingerprint a refused check "
                                       "printed (sha256:...)";

} // namespace

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
    if (first == "--sign-in") return alone(mdSignIn);
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
