// The program's command-line modes besides the window.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

// What the command line asks for.
enum TCommandMode {
    mdWindow,
    mdCheck,
    mdCollect,
    mdDemo,
    mdAddAccount,
    mdListAccounts,
    mdTrustCertificate,
    mdHelp,
    mdUnknown
};
struct TCommandLine {
    TCommandMode Mode = mdWindow;
    // --collect's --mode (tmGet..tmNeutral), -1 when none is given.
    int TransferMode = -1;
    // For mdUnknown: what was not understood ("" when nothing was given to understand).
    std::string Refusal;
    // --collect's --max-size in bytes (0: no limit), -1 when none is given.
    int64_t MaxSize = -1;
    // --trust-certificate's fingerprint.
    std::string Fingerprint;
};
// Reads the arguments after the program's name. Every mode refuses arguments it does not
// take; --add-account reads its own.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Checks the start-up account without showing a window and answers no questions: prints one
// line per listed row (the five columns separated by TAB), then the final status text. Returns
// 0 when the check ran, 1 when it failed (the reason goes to err). Text is UTF-8 unless the
// locale (LC_ALL, LC_CTYPE, LANG) names another charset.
int RunHeadlessCheck(std::ostream& out, std::ostream& err);
// Checks the start-up account without a window, gives every row mode (tmGet..tmNeutral;
// -1 for the stored default, Copy when that is none) and collects. Prints the full path of
// every mail file saved, then the status bar and the status line. Oversized messages are
// skipped, not asked about. Returns 0 when every marked message was handled, else 1 with
// the reasons on err.
// maxSize: the size above which a message is skipped (0: none), -1 for the account's own.
int RunHeadlessCollect(std::ostream& out, std::ostream& err, int mode, int64_t maxSize = -1);
// The options the program understands.
void PrintUsage(std::ostream& out);
// UTF-8 text in the charset the locale names, "?" for what that cannot hold.
std::string TerminalText(std::string_view utf8);
