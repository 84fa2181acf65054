// TFormMain: every listed account watched. The window's own account is checked as before;
// after a timed or start-up check the others are checked in the background, and the tray's
// hint, the account menu and a switch to an account show what is known of each.
#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "dialup/OnLine.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/AccountWatch.h"
#include "mailbox/BackgroundChecks.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "platform/Ansi.h"

#include <QAction>
#include <QLabel>

#include <algorithm>

std::vector<TAccountEntry> TFormMain::WatchListedAccounts() {
    std::vector<TAccountEntry> accounts = ListedAccounts();
    std::vector<TAccountWatch::TListed> listed;
    for (const TAccountEntry& a : accounts) listed.push_back({a.Name, ReadIniDescript(a.FileName)});
    Watch->SetAccounts(listed);
    return accounts;
}

void TFormMain::RunBackgroundChecks() {
    if (!CheckAllAccounts) return;
    Background->Run(WatchListedAccounts());
    // A close asked for while the round ran comes now.
    CloseIfRequested();
}

void TFormMain::BackgroundChecked(const TWatchedAccount& account, const std::vector<TMailRow>& rows,
                                  bool news) {
    if (news && Notify) Announce(account.Name, account.Descript, rows);
    UpdateAccountCounts();
}

QString TFormMain::TrayHint() const {
    const int rows = MailRows->Count();
    QString hint =
        rows > 0 ? QString("Postvigil [%1] eMail at Postoffice").arg(rows)
                 : QString("Postvigil [%1] eMail at the server").arg(POPClient->MessageCount());
    if (CheckAllAccounts && Watch->ListedCount() > 1) hint += "\n" + Watch->ToolTipLines();
    return hint;
}

void TFormMain::UpdateAccountCounts() {
    for (QAction* item : AccountItems) {
        if (!item->isVisible()) continue;
        const int index = item->data().toInt();
        const TWatchedAccount* record =
            index < SetList.Count() ? Watch->Find(SetList[index]) : nullptr;
        const QString count = CheckAllAccounts && record ? TAccountWatch::MenuCount(*record) : "";
        const QString name = item->property("caption").toString();
        item->setText(count.isEmpty() ? name : name + '\t' + count);
    }
}

void TFormMain::ShowLastListing() {
    const TWatchedAccount* record = Watch->Find(FLoadedAccount);
    if (!CheckAllAccounts || Working() || !record || record->LastCheck.isNull()) return;
    Session->ListFromCache();
    MailRows->Flush();
    LabelStatus->setText(TAccountWatch::CheckedAt(*record));
}
