#include "app/CheckMode.h"

#include "app/MainUnit.h"
#include "app/Settings.h"
#include "base/Charset.h"
#include "platform/Prompts.h"

#include <QDialog>
#include <QLabel>
#include <QTreeWidget>

#include <cstdlib>
#include <ostream>

namespace {
const char* const kUsage =
    "Usage: postvigil [option]\n"
    "Watches a POP3 mailbox and lists the waiting eMail.\n"
    "\n"
    "  (none)    open the window\n"
    "  --check   check the start-up account without a window: one line per message\n"
    "            (subject, sender, priority, size, date separated by TAB), then the\n"
    "            status line; exit status 0 when the check ran, 1 when it failed\n"
    "  --demo    open the window on a demo account with a sample mailbox served on\n"
    "            this machine (your own settings and accounts stay untouched)\n"
    "  --add-account --server HOST --user NAME [--port N] [--description TEXT]\n"
    "            add an account; its password is the first line of standard input\n"
    "            (asked for when that is a terminal). The first account becomes the\n"
    "            start-up account. With a desktop keyring running, the password is kept\n"
    "            there, otherwise scrambled in the account file (readable by you only)\n"
    "  --list-accounts\n"
    "            one line per account: description, file, \"start-up\" (TAB separated)\n"
    "  --help    show this text\n";
const char* const kNoPassword = "The account has no stored password; --check asks for none";
const char* const kCheckFailed = "The check failed";

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

int RunHeadlessCheck(std::ostream& out, std::ostream& err) {
    // Nobody is there to answer: every dialog and box is declined unseen.
    TScriptedPrompts prompts;
    SetPrompts(&prompts);
    auto previousModal = TFormMain::ExecModal;
    TFormMain::ExecModal = [](QDialog&) { return int(QDialog::Rejected); };
    struct TRestore {
        decltype(previousModal)& modal;
        ~TRestore() {
            TFormMain::ExecModal = modal;
            SetPrompts(nullptr);
        }
    } restore{previousModal};

    TFormMain window;
    if (ClientRec.Password.empty()) {
        err << kNoPassword << "\n";
        return 1;
    }
    std::string error;
    try {
        window.BtnListMailClick();
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (error.empty() && window.FCheckFailed) error = window.FCheckError;
    QTreeWidget* list = window.ListViewRemoPOP;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        for (int c = 0; c < list->columnCount(); ++c)
            out << (c ? "\t" : "") << TerminalText(row->text(c).toStdString());
        out << "\n";
    }
    out << TerminalText(window.LabelStatus->text().toStdString()) << "\n";
    if (!error.empty() || window.FCheckFailed) {
        err << TerminalText(RawToUtf8(error.empty() ? kCheckFailed : error)) << "\n";
        return 1;
    }
    return 0;
}
