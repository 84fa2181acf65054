// Checking and collecting the start-up account without a window: the command line's
// --check and --collect, on a mailbox session.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

// Checks the start-up account and answers no questions: prints one line per listed row (the
// five columns separated by TAB), then the final status text. Returns 0 when the check ran,
// 1 when it failed (the reason goes to err). Text is UTF-8 unless the locale (LC_ALL,
// LC_CTYPE, LANG) names another charset.
int RunHeadlessCheck(std::ostream& out, std::ostream& err);
// Checks the start-up account, gives every row mode (tmGet..tmNeutral; -1 for the stored
// default, Copy when that is none) and collects. Prints the full path of every mail file
// saved, then the status bar and the status line. Oversized messages are skipped, not asked
// about. Returns 0 when every marked message was handled, else 1 with the reasons on err.
// maxSize: the size above which a message is skipped (0: none), -1 for the account's own.
int RunHeadlessCollect(std::ostream& out, std::ostream& err, int mode, int64_t maxSize = -1);
// UTF-8 text in the charset the locale names, "?" for what that cannot hold.
std::string TerminalText(std::string_view utf8);
