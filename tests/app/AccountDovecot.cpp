// An account made on the command line, then checked against a real Dovecot.
#include "DovecotServer.h"
#include "PostvigilRun.h"
#include "TestCertificates.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using pvtest::TDovecotServer;
using pvtest::TTestCertificates;

TEST(AccountDovecot, AddAccountThenCheckListsTheMailbox) {
    TDovecotServer dovecot;
    dovecot.AddUser("carol", "pass word 2");
    dovecot.AddMessage("carol", "From: ann@example.com\r\nSubject: Welcome\r\n"
                                "Date: Tue, 07 Nov 2023 10:20:30 +0100\r\n\r\nHi\r\n");
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    // No session bus: the user's own keyring stays out of it, the file holds the password.
    const std::vector<std::pair<QString, QString>> noBus = {
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};

    // A server without encryption is used only when the user says so.
    const QStringList arguments = {"--add-account",
                                   "--server",
                                   "127.0.0.1",
                                   "--port",
                                   QString::number(dovecot.Port()),
                                   "--user",
                                   "carol",
                                   "--description",
                                   "Carol at Dovecot"};
    const pvtest::TRun refused =
        pvtest::RunPostvigil(home.path(), arguments, noBus, "pass word 2\n");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("No secure connection: TLS on port"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("failed (Server offers no STLS; the password was not sent)"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(QFile::exists(home.path() + "/Carol at Dovecot.Set"));

    const pvtest::TRun added = pvtest::RunPostvigil(home.path(),
                                                    QStringList(arguments) << "--security"
                                                                           << "none",
                                                    noBus, "pass word 2\n");
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const std::string file = home.path().toStdString() + "/Carol at Dovecot.Set";
    EXPECT_EQ(added.out, "Account written: " + file + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const pvtest::TRun listed = pvtest::RunPostvigil(home.path(), {"--list-accounts"}, noBus);
    EXPECT_EQ(listed.out, "Carol at Dovecot\t" + file + "\tstart-up\n");

    // The new account is the start-up account --check uses.
    const pvtest::TRun checked = pvtest::RunPostvigil(home.path(), {"--check"}, noBus);
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
    EXPECT_NE(checked.out.find("Welcome\tann@example.com"), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("1 eMail ready for collecting"), std::string::npos);
}

TEST(AccountDovecot, AddAccountStoresTheTlsOrStlsItFinds) {
    TTestCertificates certificates;
    ASSERT_EQ(certificates.Error(), "");
    TDovecotServer dovecot;
    dovecot.AddUser("carol", "pw");
    dovecot.AddMessage("carol", "From: ann@example.com\r\nSubject: Sealed\r\n\r\nHi\r\n");
    dovecot.EnableTls(certificates.Certificate(), certificates.Key());
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const std::vector<std::pair<QString, QString>> env = {
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"},
        {"SSL_CERT_FILE", QString::fromStdString(certificates.Authority())}};
    const auto add = [&](uint16_t port, const QString& name) {
        return pvtest::RunPostvigil(home.path(),
                                    {"--add-account", "--server", "localhost", "--port",
                                     QString::number(port), "--user", "carol", "--description",
                                     name},
                                    env, "pw\n");
    };
    const auto stored = [&](const QString& name) {
        QFile file(home.path() + "/" + name + ".Set");
        return file.open(QIODevice::ReadOnly) ? file.readAll().replace("\r", "").toStdString()
                                              : std::string();
    };

    const pvtest::TRun tls = add(dovecot.TlsPort(), "Sealed");
    ASSERT_EQ(tls.exitCode, 0) << tls.err;
    EXPECT_EQ(tls.out.rfind("Security: tls, port " + std::to_string(dovecot.TlsPort()) + "\n", 0),
              0u)
        << tls.out;
    EXPECT_NE(stored("Sealed").find("Security=tls\n"), std::string::npos) << stored("Sealed");

    const pvtest::TRun stls = add(dovecot.Port(), "Upgraded");
    ASSERT_EQ(stls.exitCode, 0) << stls.err;
    const std::string file = stored("Upgraded");
    EXPECT_NE(file.find("Security=starttls\n"), std::string::npos) << file;
    EXPECT_NE(file.find("DefPort=" + std::to_string(dovecot.Port()) + "\n"), std::string::npos);

    // The first account is the start-up account, and it works as found.
    const pvtest::TRun checked = pvtest::RunPostvigil(home.path(), {"--check"}, env);
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
    EXPECT_NE(checked.out.find("Sealed\tann@example.com"), std::string::npos) << checked.out;
}
