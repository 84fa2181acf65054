// Opening documents and web addresses with the desktop's applications, and starting
// programs. Results follow the shell's convention: above 32 is success, 32 or less is one
// of the shell's error codes.
#pragma once

#include "platform/DesktopApps.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

inline constexpr int kShellSuccess = 42;
// The shell's error codes that this implementation returns.
enum TShellError : int {
    SE_ERR_FNF = 2,              // file not found
    SE_ERR_PNF = 3,              // path not found
    SE_ERR_ACCESSDENIED = 5,     // the file cannot be read or run
    ERROR_BAD_FORMAT = 11,       // the program exists but does not start
    SE_ERR_ASSOCINCOMPLETE = 27, // the associated program cannot be started
    SE_ERR_NOASSOC = 31,         // no application for the file type or address scheme
};

// How the opened window should appear; a request the desktop may ignore.
enum TShowCommand : int { SW_SHOWNORMAL = 1, SW_SHOWMAXIMIZED = 3, SW_SHOW = 5 };

class TShell {
public:
    virtual ~TShell() = default;
    // Opens a file (path or file: URL) or a web address (http:, mailto:, ... or "www.")
    // with the application the desktop associates with it.
    virtual int Open(const std::string& target, int showCommand) = 0;
    // Starts program (a path, or a name looked up on PATH) with arguments passed as they
    // are, never through a shell; an empty workingDir keeps the current folder.
    virtual int StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& workingDir) = 0;
};

// Starts a detached process; false when it could not be started.
using TProcessStarter = std::function<bool(const QString& program, const QStringList& arguments,
                                           const QString& workingDir)>;

// The desktop's associations (freedesktop desktop entries and mimeapps.list) and detached
// processes. File paths are in the local 8-bit encoding.
class TDesktopShell : public TShell {
public:
    TDesktopShell();
    TDesktopShell(TXdgDirs dirs, TProcessStarter starter);

    int Open(const std::string& target, int showCommand) override;
    int StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workingDir) override;

private:
    int OpenWith(const QString& mimeType, const QString& target, bool isLocalFile);

    TXdgDirs FDirs;
    bool FDirsFromEnvironment = true;
    TProcessStarter FStarter;
};

// Records the calls and answers with Result.
class TRecordingShell : public TShell {
public:
    struct TCall {
        std::string Target; // document, address or program
        std::vector<std::string> Arguments;
        std::string WorkingDir;
        int ShowCommand = 0;
    };
    int Open(const std::string& target, int showCommand) override {
        Calls.push_back({target, {}, {}, showCommand});
        return Result;
    }
    int StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workingDir) override {
        Calls.push_back({program, arguments, workingDir, 0});
        return Result;
    }
    std::vector<TCall> Calls;
    int Result = kShellSuccess;
};

// The installed shell, else a TDesktopShell.
TShell& Shell();
// Installs a shell (not owned; nullptr restores the default).
void SetShell(TShell* shell);
