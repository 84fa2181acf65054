// New mail announced on the desktop: the main window against a notification service stand-in
// on a private bus.
#include "CheckCycleFixture.h"
#include "PrivateBus.h"
#include "WatchedAccountsFixture.h"
#include "app/MailRows.h"
#include "platform/DesktopNotify.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace {
const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";
const QString kMock = "org.freedesktop.DBus.Mock";

struct TNotifyCall {
    QString Summary, Body;
    QStringList Actions;
};

// Runs the event loop until done() holds; the bound only ends a test whose peer never answers.
bool PumpUntil(const std::function<bool()>& done, int safetyMs = 20000) {
    const QDeadlineTimer deadline(safetyMs);
    QTimer wake; // wakes the wait below should nothing else
    wake.start(safetyMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
} // namespace

struct Notifications : CheckCycle {
    TPrivateBus bus;

    void SetUp() override {
        CheckCycle::SetUp();
        ASSERT_EQ(bus.Problem(), "");
        ASSERT_TRUE(bus.StartTemplate("notification_daemon", kService))
            << bus.Problem().toStdString();
        TFormMain::NotifyBus = [this] { return bus.Connection(); };
        Registry(kPostvigilKey, "FollowAct", "0");
    }
    QDBusMessage Call(const QString& iface, const QString& method, const QVariantList& args) {
        QDBusMessage msg = QDBusMessage::createMethodCall(kService, kPath, iface, method);
        msg.setArguments(args);
        return bus.Connection().call(msg);
    }
    // The Notify calls the stand-in received, oldest first.
    std::vector<TNotifyCall> Calls() {
        const QDBusMessage reply = Call(kMock, "GetMethodCalls", {"Notify"});
        std::vector<TNotifyCall> calls;
        if (reply.arguments().isEmpty()) return calls;
        const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            qulonglong stamp;
            QVariantList args;
            list.beginStructure();
            list >> stamp;
            list.beginArray();
            while (!list.atEnd()) {
                QDBusVariant v;
                list >> v;
                args << v.variant();
            }
            list.endArray();
            list.endStructure();
            if (args.size() == 8)
                calls.push_back(
                    {args[3].toString(), args[4].toString(), qdbus_cast<QStringList>(args[5])});
        }
        list.endArray();
        return calls;
    }
    // The check the interval timer starts, against a server with these messages.
    void TimedCheck(TFormMain& w, const std::vector<std::string>& subjects) {
        std::string uidl = "+OK\r\n";
        for (std::size_t i = 0; i < subjects.size(); ++i)
            uidl += std::to_string(i + 1) + " id-" + subjects[i] + "\r\n";
        if (server.Connections() > 0) server.NextConnection();
        LogIn(int(subjects.size()), uidl + ".\r\n");
        for (std::size_t i = 0; i < subjects.size(); ++i)
            Header(int(i + 1), "From: Ann <ann@example.com>\r\nSubject: " + subjects[i],
                   "+OK " + std::to_string(i + 1) + " 100");
        server.Expect("QUIT").Say("+OK bye");
        w.PostTimedCheck();
        QCoreApplication::sendPostedEvents(&w);
        ASSERT_EQ(server.Failure(), "");
        ASSERT_EQ(w.MailRows->Count(), int(subjects.size()));
        auto* notifier = w.findChild<TDesktopNotifier*>();
        if (notifier) {
            ASSERT_TRUE(PumpUntil([&] { return notifier->Pending() == 0; }));
        }
    }
};

TEST_F(Notifications, ATimedCheckAnnouncesNewMailOnceAndTheClickRestoresTheWindow) {
    PopAccount();
    TFormMain w;
    TimedCheck(w, {"Lunch <today> & more", "Minutes", "Invoice", "Photos"});
    std::vector<TNotifyCall> calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Summary, "4 eMail waiting at Test box");
    // The service reads markup: the subject's own brackets are escaped, not taken as tags.
    EXPECT_EQ(calls[0].Body, "Ann: Lunch &lt;today&gt; &amp; more\nAnn: Minutes\nAnn: Invoice\n"
                             "and 1 more");
    EXPECT_TRUE(calls[0].Actions.contains("default"));

    // The same messages again: nothing new to say.
    TimedCheck(w, {"Lunch <today> & more", "Minutes", "Invoice", "Photos"});
    EXPECT_EQ(Calls().size(), 1u);

    // The user's own click shows the list itself, and tells nobody.
    server.NextConnection();
    LogIn(1, "+OK\r\n1 id-other\r\n.\r\n");
    Header(1, "From: Bo <bo@example.com>\r\nSubject: Other", "+OK 1 100");
    server.Expect("QUIT").Say("+OK bye");
    w.BtnListMailClick();
    EXPECT_EQ(Calls().size(), 1u);

    // A click on the announcement brings the window back from the tray.
    TimedCheck(w, {"Minutes"});
    ASSERT_EQ(Calls().size(), 2u);
    EXPECT_EQ(Calls()[1].Body, "Ann: Minutes");
    w.show();
    w.showMinimized();
    QCoreApplication::sendPostedEvents(&w);
    ASSERT_TRUE(w.isHidden());
    const QDBusMessage emitted =
        Call(kMock, "EmitSignal",
             {kService, "ActionInvoked", "us", QVariantList{1u, QString("default")}});
    ASSERT_NE(emitted.type(), QDBusMessage::ErrorMessage) << emitted.errorMessage().toStdString();
    EXPECT_TRUE(PumpUntil([&] { return w.isVisible(); }));
    EXPECT_FALSE(w.isMinimized());
}

TEST_F(Notifications, SwitchedOffNothingIsAnnounced) {
    Registry(kPostvigilKey, "Notify", "0");
    PopAccount();
    TFormMain w;
    TimedCheck(w, {"Minutes"});
    EXPECT_TRUE(Calls().empty());
}

struct WatchedNotifications : TWatching<Notifications> {
    // Runs a timed check and waits until every announcement has been answered.
    void TimedCheckAnnounced(TFormMain& w) {
        TimedCheck(w);
        ASSERT_EQ(server.Failure(), "");
        ASSERT_EQ(workServer.Failure(), "");
        ASSERT_TRUE(PumpUntil([&] {
            for (auto* notifier : w.findChildren<TDesktopNotifier*>())
                if (notifier->Pending() > 0) return false;
            return true;
        }));
    }
};

TEST_F(WatchedNotifications, EveryAccountAnnouncesItsOwnNewMailOnce) {
    PopAccount();
    WorkAccount();
    TFormMain w;
    w.Background->Online = [] { return true; };
    const std::vector<std::string> work[] = {
        {"Plan", "Budget"}, {"Plan", "Budget"}, {"Plan", "Budget", "Memo"}};
    for (int round = 0; round < 3; ++round) {
        if (round > 0) server.NextConnection();
        if (round > 0) workServer.NextConnection();
        // From the second round on, what was listed before comes from the header cache.
        ServeListing(server, "bob", "secret", {"Lunch"}, round > 0 ? 1 : 0);
        ServeListing(workServer, "bob", "secret", work[round], round > 0 ? 2 : 0);
        TimedCheckAnnounced(w);
    }
    // The first round told of both accounts, the second of none, the third of Work's news.
    const std::vector<TNotifyCall> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].Summary, "1 eMail waiting at Test box");
    EXPECT_EQ(calls[0].Body, "Ann: Lunch");
    EXPECT_EQ(calls[1].Summary, "2 eMail waiting at Work");
    EXPECT_EQ(calls[1].Body, "Ann: Plan\nAnn: Budget");
    EXPECT_EQ(calls[2].Summary, "3 eMail waiting at Work");
    EXPECT_EQ(w.findChildren<TDesktopNotifier*>().size(), 2);
}
