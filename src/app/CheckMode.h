// The program's command-line modes besides the window.
#pragma once

#include "mailbox/Headless.h"

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
    mdSignIn,
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

// The options the program understands.
void PrintUsage(std::ostream& out);
