// main() of the keyring tests: a private session bus with an unlocked GNOME Keyring on it,
// started for this process and ended with it. Nothing here talks to the machine's own bus.
// GLib first: Qt's keyword macros clash with its headers.
#include <gio/gio.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>

namespace {
const char kBusConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
const char kKeyringPassword[] = "keyring-test";
const char kSecrets[] = "org.freedesktop.secrets";
constexpr int kSafetyMs = 20000;

void EndWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

class TKeyringSession : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(FDir.isValid());
        QFile config(FDir.filePath("bus.conf"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QString::fromLatin1(kBusConfig).arg(FDir.path()).toUtf8());
        config.close();
        EndWithParent(FBus);
        FBus.start("/usr/bin/dbus-daemon",
                   {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        ASSERT_TRUE(FBus.waitForStarted(kSafetyMs)) << "dbus-daemon missing (package dbus)";
        while (!FBus.canReadLine() && FBus.waitForReadyRead(kSafetyMs)) {
        }
        const QString address = QString::fromLatin1(FBus.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());

        // The keyring keeps its files and its control socket in the test's folder.
        const QString data = FDir.filePath("data"), run = FDir.filePath("run");
        ASSERT_TRUE(QDir().mkpath(data) && QDir().mkpath(run));
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8().constData(), 1);
        setenv("XDG_DATA_HOME", data.toUtf8().constData(), 1);
        setenv("XDG_RUNTIME_DIR", run.toUtf8().constData(), 1);
        unsetenv("DISPLAY");

        // The keyring's name on the bus is watched on a connection of our own.
        GError* error = nullptr;
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address.toUtf8().constData(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        ASSERT_TRUE(bus) << (error ? error->message : "") << " " << address.toStdString();
        bool up = false;
        const guint watch = g_bus_watch_name_on_connection(
            bus, kSecrets, G_BUS_NAME_WATCHER_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, gpointer flag) {
                *static_cast<bool*>(flag) = true;
            },
            nullptr, &up, nullptr);
        EndWithParent(FKeyring);
        FKeyring.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FKeyring.start("/usr/bin/gnome-keyring-daemon",
                       {"--foreground", "--unlock", "--components=secrets"});
        ASSERT_TRUE(FKeyring.waitForStarted(kSafetyMs))
            << "gnome-keyring-daemon missing (package gnome-keyring)";
        // The login keyring is made with this password and stays unlocked.
        FKeyring.write(kKeyringPassword);
        FKeyring.closeWriteChannel();
        // Woken by the bus when the keyring takes its name; the timer only bounds a failure.
        bool late = false;
        const guint guard = g_timeout_add(
            kSafetyMs, [](gpointer flag) { return *static_cast<bool*>(flag) = true, FALSE; },
            &late);
        while (!up && !late) g_main_context_iteration(nullptr, TRUE);
        if (!late) g_source_remove(guard);
        g_bus_unwatch_name(watch);
        g_object_unref(bus);
        ASSERT_TRUE(up) << "the keyring did not come up on the private bus";
    }
    void TearDown() override {
        for (QProcess* p : {&FKeyring, &FBus}) {
            p->terminate();
            if (!p->waitForFinished(kSafetyMs)) p->kill();
        }
    }

private:
    QTemporaryDir FDir;
    QProcess FBus;
    QProcess FKeyring;
};
} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TKeyringSession);
    return RUN_ALL_TESTS();
}
