// `postvigil --check` as a user runs it, against a real Dovecot.
#include "DovecotServer.h"
#include "PostvigilRun.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

using pvtest::TDovecotServer;

namespace {
pvtest::TRun RunCheck(const QString& home, const std::string& password, uint16_t port) {
    pvtest::WriteDummyAccount(home, "alice", password, port);
    return pvtest::RunPostvigil(home, {"--check"});
}
} // namespace

TEST(CheckDovecot, ListsTheMailboxAndReportsAWrongPassword) {
    TDovecotServer dovecot;
    dovecot.AddUser("alice", "secret");
    dovecot.AddMessage("alice", "From: Ann Example <ann@example.com>\r\nSubject: First\r\n"
                                "X-Priority: 1\r\nDate: Tue, 07 Nov 2023 10:20:30 +0100\r\n\r\n"
                                "Hello\r\n");
    dovecot.AddMessage("alice", "From: bob@example.com\r\nSubject: Second\r\n"
                                "Date: Wed, 08 Nov 2023 11:00:00 +0000\r\n\r\n" +
                                    std::string(2000, 'x') + "\r\n");
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());

    const pvtest::TRun ok = RunCheck(home.path(), "secret", dovecot.Port());
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    std::istringstream lines(ok.out);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.emplace_back();
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) rows.back().push_back(cell);
    }
    ASSERT_EQ(rows.size(), 3u) << ok.out;
    ASSERT_EQ(rows[0].size(), 5u);
    ASSERT_EQ(rows[1].size(), 5u);
    EXPECT_EQ(rows[0][0], "First");
    EXPECT_EQ(rows[0][1], "Ann Example");
    EXPECT_EQ(rows[0][2], "!!!");
    EXPECT_EQ(rows[1][1], "bob@example.com");
    EXPECT_EQ(rows[1][2], "!!");
    EXPECT_EQ(rows[0][3].size(), 8u);            // right-aligned in 8 positions
    EXPECT_EQ(rows[1][3].substr(0, 5), "   2,"); // the C locale's thousands separator
    EXPECT_EQ(rows[2], std::vector<std::string>{"2 eMail ready for collecting"});
    // Listing deletes nothing.
    EXPECT_EQ(dovecot.Messages("alice").size(), 2u);

    const pvtest::TRun wrong = RunCheck(home.path(), "wrong", dovecot.Port());
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.out, "Error when calling list, see protocol\n");
    EXPECT_FALSE(wrong.err.empty());
}
