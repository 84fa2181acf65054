// TFormMain: announcing new mail on the desktop after a check the user did not start, one
// notification per account.
#include "app/MailRows.h"
#include "app/MainUnit.h"
#include "base/StrUtils.h"
#include "mailbox/AccountWatch.h"
#include "mailbox/Settings.h"
#include "platform/Ansi.h"
#include "platform/DesktopNotify.h"

#include <QDBusConnection>
#include <QSystemTrayIcon>

#include <algorithm>

namespace {
const char* const kWaiting = "%1 eMail waiting at %2";
const char* const kNoSubject = "(no subject)";
const char* const kMore = "and %1 more";
constexpr int kShownRows = 3;
// A subject or sender longer than this is cut: the announcement is a glance, not the list.
constexpr int kFieldMax = 80;
constexpr int kBalloonMs = 10000;

// One line of the server's text: line breaks and other control characters become blanks.
QString OneLine(const QString& text) {
    QString line = text.left(kFieldMax).simplified();
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) c = ' ';
    return text.size() > kFieldMax ? line + QChar(0x2026) : line;
}
} // namespace

void TFormMain::NoteCheckResult() {
    const bool news = Watch->NoteListing(FLoadedAccount, Session->Rows());
    UpdateAccountCounts();
    if (FTimedRun && Notify && news)
        Announce(FLoadedAccount, ClientRec.IniDescript, Session->Rows());
}

TDesktopNotifier& TFormMain::NotifierFor(const std::string& name) {
    for (auto& [account, notifier] : FNotifiers)
        if (SameText(account, name)) return *notifier;
    auto* notifier =
        new TDesktopNotifier(NotifyBus ? NotifyBus() : QDBusConnection::sessionBus(), this);
    notifier->OnActivated = [this, name] {
        RestoreAndRaise();
        // The announced account comes on show, with the listing that was announced.
        const int index = SetList.IndexOf(name);
        if (!Working() && index >= 0) ChangeClient(index);
    };
    notifier->OnFailed = [this](const QString& s, const QString& b) {
        TrayIcon->showMessage(s, b, QSystemTrayIcon::Information, kBalloonMs);
    };
    if (FNotifiers.empty())
        connect(TrayIcon, &QSystemTrayIcon::messageClicked, this, &TFormMain::RestoreAndRaise);
    FNotifiers.emplace_back(name, notifier);
    return *notifier;
}

void TFormMain::Announce(const std::string& name, const std::string& descript,
                         const std::vector<TMailRow>& rows) {
    const int count = int(rows.size());
    const QString summary = QString::fromLatin1(kWaiting).arg(count).arg(AnsiToQ(descript));
    QStringList lines;
    for (int i = 0; i < std::min(count, kShownRows); ++i) {
        const TMailRow& row = rows[std::size_t(i)];
        const QString subject = OneLine(QString::fromStdString(row.Subject));
        lines << OneLine(QString::fromStdString(row.Sender)) + ": " +
                     (subject.isEmpty() ? kNoSubject : subject);
    }
    if (count > kShownRows) lines << QString::fromLatin1(kMore).arg(count - kShownRows);
    const QString body = lines.join('\n');
    TDesktopNotifier& notifier = NotifierFor(name);
    if (!notifier.Show(summary, body)) notifier.OnFailed(summary, body);
}
