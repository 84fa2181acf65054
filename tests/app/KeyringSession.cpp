// main() of the keyring tests: a private session bus with an unlocked GNOME Keyring on it,
// started for this process and ended with it. Nothing here talks to the machine's own bus.
#include "support/PrivateBus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {
const char kKeyringPassword[] = "keyring-test";
const char kSecrets[] = "org.freedesktop.secrets";
constexpr int kSafetyMs = 20000;

class TKeyringSession : public ::testing::Environment {
public:
    void SetUp() override {
        FBus = std::make_unique<TPrivateBus>();
        ASSERT_TRUE(FBus->Problem().isEmpty()) << FBus->Problem().toStdString();
        FBus->UseAsSessionBus();

        // The keyring keeps its files and its control socket in the bus's folder.
        const QString data = FBus->FilePath("data"), run = FBus->FilePath("run");
        ASSERT_TRUE(QDir().mkpath(data) && QDir().mkpath(run));
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("XDG_DATA_HOME", data.toUtf8().constData(), 1);
        setenv("XDG_RUNTIME_DIR", run.toUtf8().constData(), 1);
        unsetenv("DISPLAY");

        TPrivateBus::EndWithParent(FKeyring);
        FKeyring.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FKeyring.start("/usr/bin/gnome-keyring-daemon",
                       {"--foreground", "--unlock", "--components=secrets"});
        ASSERT_TRUE(FKeyring.waitForStarted(kSafetyMs))
            << "gnome-keyring-daemon missing (package gnome-keyring)";
        // The login keyring is made with this password and stays unlocked.
        FKeyring.write(kKeyringPassword);
        FKeyring.closeWriteChannel();
        ASSERT_TRUE(FBus->WaitForName(kSecrets, FKeyring, kSafetyMs))
            << "the keyring did not come up on the private bus";
    }
    void TearDown() override {
        FKeyring.terminate();
        if (!FKeyring.waitForFinished(kSafetyMs)) FKeyring.kill();
        FBus.reset();
    }

private:
    std::unique_ptr<TPrivateBus> FBus;
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
