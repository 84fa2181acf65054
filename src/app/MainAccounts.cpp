// TFormMain's account entries: making, editing and removing accounts, and the start-up one.
#include "app/AccountUnit.h"
#include "app/MainUnit.h"
#include "base/StrUtils.h"
#include "dialup/DialUp.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/Settings.h"
#include "platform/Ansi.h"
#include "platform/Prompts.h"

#include <QAction>
#include <QLabel>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {
const char* const kReadableByOthers = "Warning: others can read the password in ";
const char* const kMakePrivate = " (chmod 600 makes it yours alone)";
const char* const kRemoveQuestion = "Remove the account \"%s\"?\n\nIts account file is deleted; "
                                    "mail already saved stays where it is.";
const char* const kNewCaption = "New account";
const char* const kEditCaption = "Edit account";
} // namespace

void TFormMain::ReadAccount(const std::string& name) {
    const std::string file = AccountFileName(name);
    ReadClientFile(file);
    FLoadedAccount = name;
    if (PasswordReadableByOthers(file) &&
        std::find(FWarnedFiles.begin(), FWarnedFiles.end(), file) == FWarnedFiles.end()) {
        FWarnedFiles.push_back(file);
        WriteLog(kReadableByOthers + file + kMakePrivate);
    }
}

void TFormMain::UpdateAccountEntries() {
    const bool exists = std::filesystem::exists(AccountFileName(CurSetName));
    MIEditAccount->setEnabled(exists);
    MIRemoveAccount->setEnabled(exists);
    MIStartAccount->setEnabled(exists && !SameText(CurSetName, StartAccountName()));
}

bool TFormMain::RunAccountEditor(const std::string& fileName, std::string* createdName) {
    const TAccountSettings before =
        fileName.empty() ? NewAccountSettings() : ReadAccountSettings(fileName);
    TFormAccount dlg(before, DialUp->Entries(), isVisible() ? this : nullptr);
    dlg.setWindowTitle(fileName.empty() ? kNewCaption : kEditCaption);
    bool saved = false;
    dlg.OnSave = [&](const TAccountSettings& s, std::string& error) {
        if (fileName.empty()) {
            *createdName = CreateAccount(s, error);
            saved = !createdName->empty();
        } else {
            saved = WriteAccountFile(fileName, s, error);
        }
        return saved;
    };
    RunModal(dlg);
    return saved;
}

void TFormMain::SwitchToAccount(const std::string& name) {
    CurSetName = name;
    ReadAccount(CurSetName);
    ApplyClientRec();
    MailRows->Clear();
    LabelStatus->clear();
    FormActivate();
    ShowLastListing();
}

void TFormMain::NewAccount() {
    if (Working()) return;
    std::string name;
    if (!RunAccountEditor("", &name)) return;
    // The first account became the start-up account: the timed check uses it from now on.
    if (SameText(StartAccountName(), name)) StartSetName = name;
    SwitchToAccount(name);
}

void TFormMain::EditAccount() {
    const std::string file = AccountFileName(CurSetName);
    if (Working() || !std::filesystem::exists(file)) return;
    const TAccountSettings before = ReadAccountSettings(file);
    if (!RunAccountEditor(file, nullptr)) return;
    const TAccountSettings after = ReadAccountSettings(file);
    ReadAccount(CurSetName);
    ApplyClientRec();
    // Rows of another mailbox would be collected from the wrong one.
    if (after.Server != before.Server || after.UserName != before.UserName ||
        after.DefPort != before.DefPort) {
        MailRows->Clear();
        LabelStatus->clear();
    }
    FormActivate();
}

void TFormMain::RemoveAccount() {
    const std::string file = AccountFileName(CurSetName);
    if (Working() || !std::filesystem::exists(file)) return;
    char question[512];
    std::snprintf(question, sizeof question, kRemoveQuestion, ClientRec.IniDescript.c_str());
    if (Prompts().Ask(question, mtWarning) != mrYes) return;
    std::string error;
    if (!::RemoveAccount(CurSetName, error)) {
        SetStatusText(AnsiToQ("Error: " + error));
        return;
    }
    StartSetName = StartAccountName();
    SwitchToAccount(StartSetName);
}

void TFormMain::MakeStartAccount() {
    if (!std::filesystem::exists(AccountFileName(CurSetName))) return;
    SetStartAccount(CurSetName);
    StartSetName = CurSetName;
    UpdateAccountEntries();
}
