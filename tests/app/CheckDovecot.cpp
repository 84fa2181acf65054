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

TEST(CheckDovecot, ASecondCheckAsksOnlyForTheNewHeaders) {
    TDovecotServer dovecot;
    dovecot.AddUser("alice", "secret");
    auto add = [&](int n) {
        dovecot.AddMessage("alice", "From: sender" + std::to_string(n) +
                                        "@example.com\r\nSubject: Message " + std::to_string(n) +
                                        "\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\n\r\nHi\r\n");
    };
    for (int n = 1; n <= 1000; ++n) add(n);
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    // Dovecot counts the TOP commands of each session in its log-out line.
    auto tops = [&] {
        const std::string log = dovecot.Log();
        const std::size_t at = log.rfind("top=");
        return at == std::string::npos ? "none" : log.substr(at + 4, log.find('/', at) - at - 4);
    };
    const pvtest::TRun first = RunCheck(home.path(), "secret", dovecot.Port());
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(tops(), "1000");
    for (int n = 1001; n <= 1003; ++n) add(n);
    const pvtest::TRun second = RunCheck(home.path(), "secret", dovecot.Port());
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(tops(), "3");
    EXPECT_EQ(second.out.substr(0, first.out.rfind('\n', first.out.size() - 2) + 1),
              first.out.substr(0, first.out.rfind('\n', first.out.size() - 2) + 1));
    EXPECT_NE(second.out.find("Message 1003\tsender1003@example.com"), std::string::npos);
    EXPECT_NE(second.out.find("1003 eMail ready for collecting"), std::string::npos);
}
