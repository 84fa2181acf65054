// An account made on the command line, then checked against a real Dovecot.
#include "DovecotServer.h"
#include "PostvigilRun.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using pvtest::TDovecotServer;

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

    const pvtest::TRun added = pvtest::RunPostvigil(
        home.path(),
        {"--add-account", "--server", "127.0.0.1", "--port", QString::number(dovecot.Port()),
         "--user", "carol", "--description", "Carol at Dovecot"},
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
