#include "output/ShellOpen.h"

#include "platform/Prompts.h"
#include "platform/Shell.h"
#include "platform/SystemSounds.h"

#include <map>

namespace {
const char* const kWarningCaption = "Warning";
const char* const kWarnungCaption = "Warnung";
const char* const kExecutingError = "Excecuting error: ";
const char* const kAusfuehrungsfehler = "Ausf\xFC"
                                        "hrungsfehler: ";
const char* const kUnknownError = "ShellExecute failed with error #";
const char* const kLineBreak = "\n\r";

const std::map<int, const char*> kShellErrorTexts = {
    {0, "The operating system is out of memory or resources."},
    {2, "The specified file was not found."},
    {3, "The specified path was not found."},
    {5, "The operating system denied access to the specified file."},
    {8, "There was not enough memory to complete the operation."},
    {11, "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image)."},
    {26, "A sharing violation occurred."},
    {27, "The filename association is incomplete or invalid."},
    {28, "The DDE transaction could not be completed because the request timed out."},
    {29, "The DDE transaction failed."},
    {30, "The DDE transaction could not be completed because other DDE transactions were being "
         "processed."},
    {31, "There is no application asso tothe given filename extension."},
    {32, "The specified dynamic-link library was not found."},
};

int Open(const std::string& target, int showCommand) {
    const int result = Shell().Open(target, showCommand);
    if (result <= 32) ReportShellError(result);
    return result;
}
} // namespace

int OpenDocumentMaximized(const std::string& Target) {
    return Open(Target, SW_SHOWMAXIMIZED);
}

int OpenDocument(const std::string& Target) {
    return Open(Target, SW_SHOW);
}

void ReportShellError(int Code) {
    const auto known = kShellErrorTexts.find(Code);
    const std::string text =
        known != kShellErrorTexts.end() ? known->second : kUnknownError + std::to_string(Code);
    const std::string first = kExecutingError + std::to_string(Code) + kLineBreak + text;
    MessageBeep(MB_OK);
    Prompts().Show({kWarningCaption, first, mtWarning, mbOK});
    MessageBeep(MB_OK);
    Prompts().Show({kWarnungCaption,
                    kAusfuehrungsfehler + std::to_string(Code) + kLineBreak + first, mtWarning,
                    mbOK});
}
