#include "app/AccountCli.h"

#include "app/AccountFiles.h"
#include "app/Settings.h"
#include "base/StrUtils.h"
#include "platform/Keyring.h"

#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace {
const char* const kMissingValue = "Missing value for ";
const char* const kUnknownOption = "Unknown option for --add-account: ";
const char* const kNeedServerAndUser = "--add-account needs --server and --user";
const char* const kNeedPassword =
    "--add-account needs a password: give it as the first line of standard input";
const char* const kPasswordOnCommandLine =
    "The password is read from standard input, never from the command line";
const char* const kBadPortText = "--port needs a number from 1 to 65535";
const char* const kBadSecurity = "--security needs tls, starttls or none";
const char* const kPasswordPrompt = "Password: ";
const char* const kWritten = "Account written: ";
const char* const kStartUp = "start-up";

// Terminal echo off for as long as it lives.
class TNoEcho {
public:
    TNoEcho() {
        FActive = tcgetattr(STDIN_FILENO, &FSaved) == 0;
        if (!FActive) return;
        termios quiet = FSaved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~TNoEcho() {
        if (FActive) tcsetattr(STDIN_FILENO, TCSAFLUSH, &FSaved);
    }
    TNoEcho(const TNoEcho&) = delete;
    TNoEcho& operator=(const TNoEcho&) = delete;

private:
    termios FSaved{};
    bool FActive = false;
};

std::string ReadPassword(std::istream& in, std::ostream& err) {
    std::string line;
    if (&in == &std::cin && isatty(STDIN_FILENO)) {
        err << kPasswordPrompt << std::flush;
        TNoEcho quiet;
        std::getline(in, line);
        err << "\n";
    } else {
        std::getline(in, line);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
} // namespace

int RunAddAccount(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
    TAccountSettings s;
    std::string port;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        std::string* target = option == "--server"        ? &s.Server
                              : option == "--port"        ? &port
                              : option == "--user"        ? &s.UserName
                              : option == "--description" ? &s.IniDescript
                              : option == "--security"    ? &s.Security
                                                          : nullptr;
        if (option == "--password") {
            err << kPasswordOnCommandLine << "\n";
            return 2;
        }
        if (!target) {
            err << kUnknownOption << option << "\n";
            return 2;
        }
        if (i + 1 >= args.size()) {
            err << kMissingValue << option << "\n";
            return 2;
        }
        *target = args[++i];
    }
    if (s.Server.empty() || s.UserName.empty()) {
        err << kNeedServerAndUser << "\n";
        return 2;
    }
    if (!port.empty()) {
        s.DefPort = StrToIntDef(port, 0);
        if (s.DefPort < 1 || s.DefPort > 65535) {
            err << kBadPortText << "\n";
            return 2;
        }
    }
    if (!s.Security.empty() && s.Security != "tls" && s.Security != "starttls" &&
        s.Security != "none") {
        err << kBadSecurity << "\n";
        return 2;
    }
    if (s.IniDescript.empty()) s.IniDescript = s.UserName + "@" + s.Server;
    s.Password = ReadPassword(in, err);
    if (s.Password.empty()) {
        err << kNeedPassword << "\n";
        return 2;
    }

    std::string error = CheckAccountSettings(s, PasswordStore().Available());
    if (!error.empty()) {
        err << error << "\n";
        return 1;
    }
    const std::string name = CreateAccount(s, error);
    if (name.empty()) {
        err << error << "\n";
        return 1;
    }
    out << kWritten << AccountFileName(name) << "\n";
    return 0;
}

int RunListAccounts(std::ostream& out) {
    const std::string start = StartAccountName();
    for (const TAccountEntry& a : ListedAccounts()) {
        out << ReadIniDescript(a.FileName) << "\t" << a.FileName;
        if (SameText(a.Name, start)) out << "\t" << kStartUp;
        out << "\n";
    }
    return 0;
}
