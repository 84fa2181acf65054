// TFormMain: announcing new mail on the desktop after a check the user did not start.
#include "app/MailRows.h"
#include "app/MainUnit.h"
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

// What identifies a row's message across checks: the server's unique id, else its header
// block and size.
std::string Identity(const TMailRow& row) {
    return row.Uidl.empty() ? "h" + std::to_string(row.Size) + "\n" + row.Headers : "u" + row.Uidl;
}
} // namespace

void TFormMain::NoteCheckResult() {
    std::vector<std::string> found;
    found.reserve(std::size_t(MailRows->Count()));
    for (int i = 0; i < MailRows->Count(); ++i) found.push_back(Identity(MailRows->Row(i)));
    const bool same = found == FLastFound;
    FLastFound = std::move(found);
    if (!FTimedRun || !Notify || same || MailRows->Count() == 0) return;

    const int count = MailRows->Count();
    const QString summary =
        QString::fromLatin1(kWaiting).arg(count).arg(AnsiToQ(ClientRec.IniDescript));
    QStringList lines;
    for (int i = 0; i < std::min(count, kShownRows); ++i) {
        const TMailRow& row = MailRows->Row(i);
        const QString subject = OneLine(QString::fromStdString(row.Subject));
        lines << OneLine(QString::fromStdString(row.Sender)) + ": " +
                     (subject.isEmpty() ? kNoSubject : subject);
    }
    if (count > kShownRows) lines << QString::fromLatin1(kMore).arg(count - kShownRows);
    const QString body = lines.join('\n');

    auto balloon = [this](const QString& s, const QString& b) {
        TrayIcon->showMessage(s, b, QSystemTrayIcon::Information, kBalloonMs);
    };
    if (!FNotifier) {
        FNotifier =
            new TDesktopNotifier(NotifyBus ? NotifyBus() : QDBusConnection::sessionBus(), this);
        FNotifier->OnActivated = [this] { RestoreAndRaise(); };
        FNotifier->OnFailed = balloon;
        connect(TrayIcon, &QSystemTrayIcon::messageClicked, this, &TFormMain::RestoreAndRaise);
    }
    if (!FNotifier->Show(summary, body)) balloon(summary, body);
}
