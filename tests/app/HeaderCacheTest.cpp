// Checks with the header cache and pipelined commands list the same rows as the plain check,
// asking the server only for the headers of messages it has not seen.
#include "mailbox/HeaderCache.h"
#include "CheckCycleFixture.h"
#include "app/MailRows.h"
#include "platform/DurableFile.h"
#include "platform/Registry.h"

#include <QLabel>

#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>

namespace {
struct TBoxMessage {
    std::string Uidl;
    std::string Header;
    int64_t Size;
};

struct CachedCheck : CheckCycle {
    std::vector<TBoxMessage> box;
    bool firstCheck = true;

    void SetUp() override {
        CheckCycle::SetUp();
        PopAccount();
        box = {{"id-1",
                "From: Ann <ann@example.com>\r\nSubject: First\r\nX-Priority: 1\r\n"
                "Date: Mon, 06 Nov 2023 08:00:00 +0100",
                1500},
               {"id-2", "From: bob@example.com\r\nSubject: Second\r\nDate: 6 Nov 2023 09:00 +0100",
                2200},
               {"id-3", "Subject: Third\r\nDate: Tue, 07 Nov 2023 10:20:30 +0100", 3300}};
    }
    std::string UidlAnswer() const {
        std::string answer = "+OK\r\n";
        for (std::size_t i = 0; i < box.size(); ++i)
            answer += std::to_string(i + 1) + " " + box[i].Uidl + "\r\n";
        return answer + ".\r\n";
    }
    // Scripts one check. capabilities "" is a server without CAPA; tops are the numbers whose
    // header the client is to ask for (without CAPA it asks for all, with LIST n each).
    void Serve(const std::string& capabilities, std::set<int> tops, std::string uidl = "") {
        if (!firstCheck) server.NextConnection();
        firstCheck = false;
        server.Say("+OK ready")
            .ServeLogin("bob", "secret", capabilities,
                        "+OK " + std::to_string(box.size()) + " 9000");
        server.Expect("UIDL").SayRaw(uidl.empty() ? UidlAnswer() : uidl);
        if (!capabilities.empty()) {
            std::string list = "+OK\r\n";
            for (std::size_t i = 0; i < box.size(); ++i)
                list += std::to_string(i + 1) + " " + std::to_string(box[i].Size) + "\r\n";
            server.Expect("LIST").SayRaw(list + ".\r\n");
        }
        for (int n = 1; n <= int(box.size()); ++n) {
            const TBoxMessage& m = box[std::size_t(n - 1)];
            if (capabilities.empty() || tops.count(n)) {
                server.Expect("TOP " + std::to_string(n) + " 1").Say("+OK");
                server.SayRaw(m.Header + "\r\n\r\nbody\r\n.\r\n");
            }
            if (capabilities.empty())
                server.Expect("LIST " + std::to_string(n))
                    .Say("+OK " + std::to_string(n) + " " + std::to_string(m.Size));
        }
        server.Expect("QUIT").Say("+OK bye");
    }
    // Everything a check shows and keeps of its rows, and its status line.
    std::vector<std::string> Check() {
        TFormMain w;
        w.BtnListMailClick();
        EXPECT_EQ(server.Failure(), "");
        std::vector<std::string> shown;
        for (int i = 0; i < w.MailRows->Count(); ++i) {
            const TMailRow& row = w.MailRows->Row(i);
            std::string line = std::to_string(row.Number) + "|" + row.Uidl + "|" + row.Headers;
            for (int c = 0; c < TMailRowModel::colCount; ++c)
                line += "|" + w.MailRows->Text(i, c).toStdString();
            shown.push_back(line);
        }
        EXPECT_EQ(w.MailRows->rowCount(), w.MailRows->Count());
        shown.push_back(w.LabelStatus->text().toStdString());
        return shown;
    }
    std::string CacheFile() const {
        return THeaderCache::FileFor("127.0.0.1:" + std::to_string(server.Port()), "bob");
    }
    std::string TopsSent() const {
        std::string tops;
        const std::string received = server.Received();
        for (std::size_t at = 0; (at = received.find("TOP ", at)) != std::string::npos; at += 4)
            tops += received.substr(at + 4, received.find(' ', at + 4) - at - 4) + ",";
        return tops;
    }
};
const std::string kCapa = "TOP\r\nUIDL\r\n";
const std::string kPipelining = "TOP\r\nUIDL\r\nPIPELINING\r\n";
} // namespace

TEST_F(CachedCheck, KnownMessagesComeFromTheCacheNewOnesFromTheServer) {
    Serve(kCapa, {1, 2, 3});
    const auto first = Check();
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(TopsSent(), "1,2,3,");
    // Nothing changed: no header is asked for, and the rows are the same.
    Serve(kCapa, {});
    EXPECT_EQ(Check(), first);
    EXPECT_EQ(TopsSent(), "1,2,3,");
    // One new message: exactly one TOP.
    box.push_back({"id-4", "Subject: Fourth\r\nDate: 8 Nov 2023 11:00 +0100", 400});
    Serve(kCapa, {4});
    const auto withNew = Check();
    EXPECT_EQ(TopsSent(), "1,2,3,4,");
    EXPECT_NE(withNew[3].find("|Fourth|"), std::string::npos);
    // The first is gone and another message took number 2 with the same size: its id
    // differs, so its header is asked for; the rows follow the server's order.
    box.erase(box.begin());
    box[0] = {"id-5", "Subject: Replacement\r\nDate: 8 Nov 2023 12:00 +0100", 2200};
    Serve(kCapa, {1});
    const auto replaced = Check();
    EXPECT_EQ(TopsSent(), "1,2,3,4,1,");
    ASSERT_EQ(replaced.size(), 4u);
    EXPECT_NE(replaced[0].find("|Replacement|"), std::string::npos);
    EXPECT_EQ(replaced[1].substr(replaced[1].find('|')), first[2].substr(first[2].find('|')));
    // What left the server left the cache.
    const std::string file = ReadWholeFile(CacheFile());
    EXPECT_EQ(file.find("id-1"), std::string::npos);
    EXPECT_EQ(file.find("id-2"), std::string::npos);
    EXPECT_NE(file.find("id-5"), std::string::npos);
    // Subjects and senders are private to the user.
    struct stat info {};
    ASSERT_EQ(::stat(CacheFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(CachedCheck, DoubtfulIdsOrADamagedCacheMeanEveryHeaderIsAskedFor) {
    Serve(kCapa, {1, 2, 3});
    const auto first = Check();
    // Two messages share an id, or an id is missing: nothing is taken from the cache.
    Serve(kCapa, {1, 2, 3}, "+OK\r\n1 id-1\r\n2 id-1\r\n3 id-3\r\n.\r\n");
    // An id two messages share finds neither: those rows carry none.
    auto rows = Check();
    for (int i : {0, 1}) EXPECT_EQ(rows[i], std::string(first[i]).erase(2, 4));
    EXPECT_EQ(rows[2], first[2]);
    Serve(kCapa, {1, 2, 3}, "+OK\r\n1 id-1\r\n2\r\n3 id-3\r\n.\r\n");
    EXPECT_EQ(Check()[2], first[2]);
    EXPECT_EQ(TopsSent(), "1,2,3,1,2,3,1,2,3,");
    // A cache altered behind the program's back (a block cut short), or another account's
    // file under this name, is not used at all.
    const std::string good = ReadWholeFile(CacheFile());
    std::string cut = good;
    cut.replace(cut.find("Subject: Second"), 15, "Subject: Forged");
    cut.erase(cut.size() - 2);
    for (const std::string& damaged :
         {cut, std::string(good).replace(good.find("user bob"), 8, "user eve")}) {
        std::ofstream(CacheFile(), std::ios::binary | std::ios::trunc) << damaged;
        Serve(kCapa, {1, 2, 3});
        EXPECT_EQ(Check(), first);
    }
    EXPECT_EQ(TopsSent(), "1,2,3,1,2,3,1,2,3,1,2,3,1,2,3,");
}

TEST_F(CachedCheck, RowsAreTheSameWithAndWithoutCacheAndPipelining) {
    // Today's exchange, command for command: the reference.
    Serve("", {});
    const auto reference = Check();
    ASSERT_EQ(reference.size(), 4u);
    EXPECT_EQ(reference.back(), "3 eMail ready for collecting");
    const std::size_t tune = tones.Steps.size();
    for (const bool cache : {false, true}) {
        for (const std::string& capabilities : {kCapa, kPipelining}) {
            SCOPED_TRACE(std::string(cache ? "cache, " : "no cache, ") + capabilities);
            Registry(kPostvigilKey, "HeaderCache", cache ? "1" : "0");
            std::filesystem::remove(CacheFile());
            // The first check fills the cache, the second lists from it.
            Serve(capabilities, {1, 2, 3});
            EXPECT_EQ(Check(), reference);
            Serve(capabilities, cache ? std::set<int>{} : std::set<int>{1, 2, 3});
            EXPECT_EQ(Check(), reference);
            EXPECT_EQ(std::filesystem::exists(CacheFile()), cache);
        }
    }
    // Each check played its tune.
    EXPECT_EQ(tones.Steps.size(), tune * 9);
}
