#include "mailbox/AccountWatch.h"

#include "base/StrUtils.h"
#include "mailbox/MailFiles.h"
#include "platform/Ansi.h"

#include <QStringList>

#include <algorithm>

namespace {
const char* const kMailCount = "%1 eMail";
const char* const kNotChecked = "not checked yet";
const char* const kCheckedAt = "checked at %1";

// Hours and minutes: a glance at how fresh a count is.
QString TimeOfDay(const QDateTime& t) {
    return t.time().toString(QStringLiteral("HH:mm"));
}
} // namespace

std::string RowIdentity(const TMailRow& row) {
    return row.Uidl.empty() ? "h" + std::to_string(row.Size) + "\n" + row.Headers : "u" + row.Uidl;
}

void TAccountWatch::SetAccounts(const std::vector<TListed>& accounts) {
    std::vector<TWatchedAccount> records;
    records.reserve(accounts.size() + FAccounts.size());
    for (const TListed& listed : accounts) {
        TWatchedAccount record;
        record.Name = listed.Name;
        const auto it = std::find_if(FAccounts.begin(), FAccounts.end(), [&](const auto& a) {
            return !a.Name.empty() && SameText(a.Name, listed.Name);
        });
        if (it != FAccounts.end()) {
            record = std::move(*it);
            it->Name.clear();
        }
        record.Descript = listed.Descript;
        record.Listed = true;
        records.push_back(std::move(record));
    }
    // An account the window works on without it being listed keeps what is known of it.
    for (TWatchedAccount& record : FAccounts)
        if (!record.Name.empty()) {
            record.Listed = false;
            records.push_back(std::move(record));
        }
    FAccounts = std::move(records);
}

int TAccountWatch::ListedCount() const {
    return int(std::count_if(FAccounts.begin(), FAccounts.end(),
                             [](const TWatchedAccount& a) { return a.Listed; }));
}

const TWatchedAccount* TAccountWatch::Find(const std::string& name) const {
    const auto it = std::find_if(FAccounts.begin(), FAccounts.end(),
                                 [&](const TWatchedAccount& a) { return SameText(a.Name, name); });
    return it == FAccounts.end() ? nullptr : &*it;
}

TWatchedAccount& TAccountWatch::Record(const std::string& name) {
    if (const TWatchedAccount* found = Find(name)) return const_cast<TWatchedAccount&>(*found);
    FAccounts.push_back(TWatchedAccount());
    FAccounts.back().Name = name;
    return FAccounts.back();
}

bool TAccountWatch::NoteListing(const std::string& name, const std::vector<TMailRow>& rows) {
    TWatchedAccount& record = Record(name);
    std::vector<std::string> found;
    found.reserve(rows.size());
    for (const TMailRow& row : rows) found.push_back(RowIdentity(row));
    const bool news = !found.empty() && found != record.Found;
    record.Found = std::move(found);
    record.Waiting = int(rows.size());
    record.State.clear();
    record.LastCheck = ClockNow();
    return news;
}

void TAccountWatch::NoteFailure(const std::string& name, const std::string& state) {
    TWatchedAccount& record = Record(name);
    record.State = state;
    record.LastCheck = ClockNow();
}

QString TAccountWatch::MenuCount(const TWatchedAccount& account) {
    if (account.LastCheck.isNull() || !account.State.empty()) return {};
    return QString::fromLatin1(kMailCount).arg(account.Waiting);
}

QString TAccountWatch::CheckedAt(const TWatchedAccount& account) {
    return QString::fromLatin1(kCheckedAt).arg(TimeOfDay(account.LastCheck));
}

QString TAccountWatch::ToolTipLines() const {
    QStringList lines;
    for (const TWatchedAccount& a : FAccounts) {
        if (!a.Listed) continue;
        const QString name = AnsiToQ(a.Descript.empty() ? a.Name : a.Descript) + ": ";
        if (a.LastCheck.isNull())
            lines << name + kNotChecked;
        else
            lines << name + (a.State.empty() ? MenuCount(a) : AnsiToQ(a.State)) + ", " +
                         TimeOfDay(a.LastCheck);
    }
    return lines.join('\n');
}
