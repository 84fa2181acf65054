// `postvigil --collect` against a real Dovecot: the files hold the messages as stored, and a
// collect killed at any step loses nothing and saves nothing twice.
#include "DovecotServer.h"
#include "PostvigilRun.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

using pvtest::RunPostvigil;
using pvtest::TDovecotServer;
using pvtest::TRun;

namespace {
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Listed(const QString& home) {
    return Lines(Slurp(home.toStdString() + "/eMails/Postoffice/TransList.DAT"));
}

// Three messages: a line that starts with a dot, a signed multipart with a preamble, and
// a larger one.
std::vector<std::string> Mailbox(const std::string& tag) {
    return {"From: Ann <ann@example.com>\r\nSubject: " + tag + " one\r\n\r\n.dot line\r\n..two\r\n",
            "From: Bob <bob@example.com>\r\nSubject: " + tag +
                " signed\r\nMIME-Version: 1.0\r\nContent-Type: multipart/signed; "
                "boundary=\"b\"; protocol=\"application/pgp-signature\"\r\n\r\nPreamble\r\n"
                "--b\r\nContent-Type: text/plain\r\n\r\nSigned text\r\n--b\r\nContent-Type: "
                "application/pgp-signature\r\n\r\nSIGNATURE\r\n--b--\r\n",
            "From: Carl <carl@example.com>\r\nSubject: " + tag + " big\r\n\r\n" +
                std::string(50000, 'x') + "\r\n"};
}
} // namespace

TEST(CollectDovecot, FilesHoldTheStoredTextCopyKeepsAndGetDeletesWithoutDuplicates) {
    TDovecotServer dovecot;
    dovecot.AddUser("alice", "secret");
    const std::vector<std::string> box = Mailbox("plain");
    for (const std::string& m : box) dovecot.AddMessage("alice", m);
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    QTemporaryDir home;
    pvtest::WriteDummyAccount(home.path(), "alice", "secret", dovecot.Port());

    const TRun copy = RunPostvigil(home.path(), {"--collect", "--mode", "copy"});
    ASSERT_EQ(copy.exitCode, 0) << copy.err;
    const std::vector<std::string> out = Lines(copy.out);
    ASSERT_EQ(out.size(), 5u) << copy.out;
    EXPECT_EQ(out[3], "3 eMail(s) handled");
    EXPECT_EQ(out[4], "3 new eMail at Postoffice");
    const std::vector<std::string> listed = Listed(home.path());
    ASSERT_EQ(listed, std::vector<std::string>(out.begin(), out.begin() + 3));
    for (std::size_t i = 0; i < box.size(); ++i) EXPECT_EQ(Slurp(listed[i]), box[i]) << i;

    // What was kept is still there for a check, and a second copy saves nothing again.
    const TRun check = RunPostvigil(home.path(), {"--check"});
    EXPECT_EQ(Lines(check.out).back(), "3 eMail ready for collecting");
    const TRun again = RunPostvigil(home.path(), {"--collect", "--mode", "copy"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Lines(again.out),
              (std::vector<std::string>{"3 eMail(s) handled", "0 new eMail at Postoffice"}));
    // Get deletes them on the server; they are in their files already.
    const TRun get = RunPostvigil(home.path(), {"--collect", "--mode", "get"});
    EXPECT_EQ(get.exitCode, 0) << get.err;
    EXPECT_TRUE(dovecot.Messages("alice").empty());
    EXPECT_EQ(Listed(home.path()), listed);
}

// Killed after the file was written, after it took its name, after a DELE and just before
// QUIT (and, for Copy, whose files reach the disk together at the end, after a name was
// taken): the next collect finishes the job. Every message is then in exactly one listed
// file, byte for byte as stored; Get leaves none on the server, Copy leaves all.
TEST(CollectDovecot, AKillAtAnyStepLosesNothingAndListsNothingTwice) {
    const std::pair<const char*, const char*> runs[] = {{"written", "get"},
                                                        {"renamed", "get"},
                                                        {"deleted", "get"},
                                                        {"quit", "get"},
                                                        {"renamed", "copy"}};
    TDovecotServer dovecot;
    std::map<std::string, std::vector<std::string>> boxes;
    auto userOf = [](const std::pair<const char*, const char*>& run) {
        return std::string(run.first) + "-" + run.second;
    };
    for (const auto& run : runs) {
        const std::string user = userOf(run);
        dovecot.AddUser(user, "secret");
        boxes[user] = Mailbox(user);
        for (const std::string& m : boxes[user]) dovecot.AddMessage(user, m);
    }
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    for (const auto& run : runs) {
        const std::string user = userOf(run);
        SCOPED_TRACE(user);
        QTemporaryDir home;
        pvtest::WriteDummyAccount(home.path(), user, "secret", dovecot.Port());
        const TRun killed = RunPostvigil(home.path(), {"--collect", "--mode", run.second},
                                         {{"POSTVIGIL_CRASH_AT", run.first}});
        EXPECT_TRUE(killed.crashed) << killed.out << killed.err;
        // Nothing is gone from the server that is not in a listed file.
        const std::vector<std::string> onServer = dovecot.Messages(user);
        for (const std::string& m : boxes[user]) {
            const bool kept = std::count(onServer.begin(), onServer.end(), m) == 1;
            bool saved = false;
            for (const std::string& path : Listed(home.path())) saved = saved || Slurp(path) == m;
            EXPECT_TRUE(kept || saved);
        }

        const TRun after = RunPostvigil(home.path(), {"--collect", "--mode", run.second});
        EXPECT_EQ(after.exitCode, 0) << after.err;
        EXPECT_EQ(dovecot.Messages(user).size(),
                  std::string(run.second) == "get" ? 0u : boxes[user].size());
        std::vector<std::string> listed = Listed(home.path());
        std::vector<std::string> contents;
        for (const std::string& path : listed) contents.push_back(Slurp(path));
        std::sort(contents.begin(), contents.end());
        std::vector<std::string> expected = boxes[user];
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(contents, expected);
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(std::unique(listed.begin(), listed.end()), listed.end());
        // No mail file that is not listed.
        int mailFiles = 0;
        for (const auto& e :
             std::filesystem::directory_iterator(home.path().toStdString() + "/eMails/Postoffice"))
            mailFiles += e.path().extension() == ".EML";
        EXPECT_EQ(mailFiles, int(expected.size()));
    }
}

// The messages of an mbox in the mboxrd form, each without its separator line and the blank
// line after it (none of the test messages has a line to quote).
namespace {
std::vector<std::string> MboxMessages(const std::string& text) {
    std::vector<std::string> messages;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t body = text.find('\n', at) + 1;
        const std::size_t next = text.find("\n\nFrom ", body);
        const std::size_t end = next == std::string::npos ? text.size() : next + 2;
        messages.push_back(text.substr(body, end - body - 1));
        at = end;
    }
    return messages;
}
} // namespace

// Delivering into a Maildir or an mbox, killed after a delivery, after a DELE and just before
// QUIT: the next collect finishes the job and every message is delivered, with LF line ends.
// Only a kill between a delivery and its record may deliver that one message twice.
TEST(CollectDovecot, AKilledDeliveryIntoAMaildirOrAnMboxLosesNothing) {
    const std::pair<const char*, const char*> runs[] = {
        {"delivered", "get"}, {"deleted", "get"}, {"quit", "get"}, {"delivered", "copy"}};
    const char* const kinds[] = {"maildir", "mbox"};
    TDovecotServer dovecot;
    std::map<std::string, std::vector<std::string>> boxes;
    const auto userOf = [](const char* kind, const char* step, const char* mode) {
        return std::string(kind) + "-" + step + "-" + mode;
    };
    for (const char* kind : kinds)
        for (const auto& [step, mode] : runs) {
            const std::string user = userOf(kind, step, mode);
            dovecot.AddUser(user, "secret");
            boxes[user] = Mailbox(user);
            for (const std::string& m : boxes[user]) dovecot.AddMessage(user, m);
        }
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    for (const char* kind : kinds)
        for (const auto& [step, mode] : runs) {
            const std::string user = userOf(kind, step, mode);
            SCOPED_TRACE(user);
            QTemporaryDir home;
            const std::string target = home.path().toStdString() + "/" + kind;
            pvtest::WriteDummyAccount(home.path(), user, "secret", dovecot.Port());
            std::ofstream(home.path().toStdString() + "/Dummy.Set", std::ios::app)
                << "[Deliver]\nTarget=" << kind << ":" << target << "\n";
            const TRun killed = RunPostvigil(home.path(), {"--collect", "--mode", mode},
                                             {{"POSTVIGIL_CRASH_AT", step}});
            EXPECT_TRUE(killed.crashed) << killed.out << killed.err;
            const TRun after = RunPostvigil(home.path(), {"--collect", "--mode", mode});
            EXPECT_EQ(after.exitCode, 0) << after.err;
            EXPECT_EQ(dovecot.Messages(user).size(),
                      std::string(mode) == "get" ? 0u : boxes[user].size());
            std::vector<std::string> delivered;
            if (std::string(kind) == "mbox") {
                delivered = MboxMessages(Slurp(target));
                EXPECT_FALSE(std::filesystem::exists(target + ".lock"));
            } else {
                for (const auto& e : std::filesystem::directory_iterator(target + "/new"))
                    delivered.push_back(Slurp(e.path().string()));
                EXPECT_TRUE(std::filesystem::is_empty(target + "/tmp"));
            }
            const bool twiceAllowed = std::string(step) == "delivered";
            for (std::string m : boxes[user]) {
                for (std::size_t at; (at = m.find("\r\n")) != std::string::npos;) m.erase(at, 1);
                const auto copies = std::count(delivered.begin(), delivered.end(), m);
                EXPECT_GE(copies, 1);
                EXPECT_LE(copies, twiceAllowed ? 2 : 1);
            }
            EXPECT_LE(delivered.size(), boxes[user].size() + twiceAllowed);
        }
}

// Two accounts on servers that number alike share the post office: the first message of
// each has the same unique id. Neither account's record spares the other a retrieval, and
// collecting one leaves the other's record as it was.
TEST(CollectDovecot, AccountsWhoseIdsMatchNeverShareTheSavedBeforeRecord) {
    TDovecotServer dovecot;
    dovecot.NumberIdsAlike();
    const std::vector<std::string> alice = Mailbox("alice"), bob = Mailbox("bob");
    dovecot.AddUser("alice", "secret");
    dovecot.AddUser("bob", "secret");
    for (const std::string& m : alice) dovecot.AddMessage("alice", m);
    for (const std::string& m : bob) dovecot.AddMessage("bob", m);
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    QTemporaryDir home;

    pvtest::WriteDummyAccount(home.path(), "alice", "secret", dovecot.Port());
    const TRun copy = RunPostvigil(home.path(), {"--collect", "--mode", "copy"});
    ASSERT_EQ(copy.exitCode, 0) << copy.err;
    ASSERT_EQ(Listed(home.path()).size(), 3u);

    // Bob's Get retrieves and saves each of his messages before deleting it.
    pvtest::WriteDummyAccount(home.path(), "bob", "secret", dovecot.Port());
    const TRun get = RunPostvigil(home.path(), {"--collect", "--mode", "get"});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_TRUE(dovecot.Messages("bob").empty());
    std::vector<std::string> saved;
    for (const std::string& path : Lines(get.out))
        if (path.ends_with(".EML")) saved.push_back(Slurp(path));
    EXPECT_EQ(saved, bob);

    // Alice's record is untouched: her next copy saves nothing again.
    pvtest::WriteDummyAccount(home.path(), "alice", "secret", dovecot.Port());
    const TRun again = RunPostvigil(home.path(), {"--collect", "--mode", "copy"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Lines(again.out),
              (std::vector<std::string>{"3 eMail(s) handled", "0 new eMail at Postoffice"}));
    EXPECT_EQ(dovecot.Messages("alice"), alice);
}
