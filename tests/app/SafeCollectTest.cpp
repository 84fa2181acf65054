// Collecting never deletes what is not safely in a file: a saved-before record is checked
// against its file, short answers stay on the server, and what is written is private and
// never written through a planted link.
#include "TransferFixture.h"
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pvtest;

namespace {
unsigned ModeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

// The record file of the fixture's account.
std::string RecordFile(const TFakePop3Server& server) {
    return TSavedIds::FileFor(PostofficeDir(), server.HostAndPort(), "bob");
}

// Sets a file's times back by seconds.
void Age(const fs::path& path, int seconds) {
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

struct SafeCollect : Transfer {
    // The check of box, then a session that retrieves every message of it (and deletes them
    // all after that for Get) and quits.
    void Whole(const std::vector<TMail>& box, int mode) {
        Check(box);
        Session(box);
        for (std::size_t i = 0; i < box.size(); ++i) Retr(int(i + 1), box[i]);
        for (std::size_t i = 0; mode == tmGet && i < box.size(); ++i) Dele(int(i + 1));
        server.Expect("QUIT").Say("+OK");
    }
    // Collects the whole mailbox in one mode; returns the window's transfer notes.
    std::vector<std::string> Collect(int mode, std::size_t rows) {
        TFormMain w;
        w.BtnListMailClick();
        EXPECT_EQ(w.MailRows->Count(), int(rows));
        for (int i = 0; i < w.MailRows->Count(); ++i) w.MailRows->SetMode(i, mode);
        w.BtnGetMailListClick();
        return w.Session->TransferNotes;
    }
};
} // namespace

TEST_F(SafeCollect, ARecordWhoseFileWentOrChangedIsRetrievedAgainBeforeAnyDelete) {
    const TMail a = Mail("ua", "a"), b = Mail("ub", "b"), c = Mail("uc", "c");
    Whole({a, b, c}, tmCopy);
    server.NextConnection();
    Collect(tmCopy, 3);
    std::vector<std::string> copies = Listed();
    ASSERT_EQ(copies.size(), 3u);
    // The user threw a's file away, and b's was cut short by another program; c's is as it
    // was written.
    fs::remove(copies[0]);
    std::ofstream(copies[1], std::ios::trunc) << "Subject: b\r\n";
    Check({a, b, c});
    Session({a, b, c});
    Retr(1, a);
    Retr(2, b);
    Dele(1);
    Dele(2);
    Dele(3); // saved before, its file whole: not retrieved again
    server.Expect("QUIT").Say("+OK");
    EXPECT_TRUE(Collect(tmGet, 3).empty());
    EXPECT_EQ(server.Failure(), "");
    const std::vector<std::string> listed = Listed();
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(Slurp(listed[3]), a.Text);
    EXPECT_EQ(Slurp(listed[4]), b.Text);
    EXPECT_EQ(Slurp(copies[2]), c.Text);
}

TEST_F(SafeCollect, AnEmptyOrShortAnswerIsSavedButNeverDeleted) {
    const TMail a = Mail("ua", "a"), b = Mail("ub", "b", std::string(100, 'x') + "\r\n");
    const TMail c = Mail("uc", "c");
    ASSERT_GE(b.Text.size(), 140u);
    Check({a, b, c});
    Session({a, b, c});
    server.Expect("RETR 1").Say("+OK").Say(".");
    server.Expect("RETR 2").Say("+OK").SayRaw(b.Text.substr(0, 30) + "\r\n.\r\n");
    Retr(3, c);
    Dele(3);
    server.Expect("QUIT").Say("+OK").NextConnection();
    const std::vector<std::string> notes = Collect(tmGet, 3);
    // Kept whole where they came, and said so.
    const std::vector<std::string> listed = Listed();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(Slurp(listed[0]), "");
    EXPECT_EQ(Slurp(listed[1]), b.Text.substr(0, 30) + "\r\n");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "eMail 1: the server sent 0 of the " + std::to_string(a.Text.size()) +
                            " bytes it listed; saved as " +
                            fs::path(listed[0]).filename().string() + " and left on the server");
    EXPECT_NE(notes[1].find("the server sent 32 of the " + std::to_string(b.Text.size())),
              std::string::npos);
    EXPECT_NE(Slurp(home / "PostvigilLog.TXT").find(notes[1]), std::string::npos);
    // No record spares the next collect the retrieval: it gets the whole messages this time.
    Whole({a, b}, tmGet);
    EXPECT_TRUE(Collect(tmGet, 2).empty());
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(Slurp(Listed().back()), b.Text);
}

TEST_F(SafeCollect, MailRecordsAndFoldersAreTheOwnersAloneWhateverTheUmask) {
    const mode_t previous = ::umask(022);
    struct TRestore {
        mode_t mask;
        ~TRestore() { ::umask(mask); }
    } restore{previous};
    fs::remove_all(home / "eMails");
    InitMainUnit(); // makes the working folders anew
    Whole({Mail("ua", "a"), Mail("ub", "b")}, tmGet);
    Collect(tmGet, 2);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(ModeOf(home / "eMails"), 0700u);
    EXPECT_EQ(ModeOf(Postoffice()), 0700u);
    for (const std::string& path : Listed()) EXPECT_EQ(ModeOf(path), 0600u) << path;
    EXPECT_EQ(ModeOf(Postoffice() / "TransList.DAT"), 0600u);
    EXPECT_EQ(ModeOf(RecordFile(server)), 0600u);
    EXPECT_EQ(ModeOf(home / "PostvigilLog.TXT"), 0600u);
    // A folder the user made keeps the permissions the user gave it.
    fs::create_directories(home / "own");
    fs::permissions(home / "own", fs::perms(0750));
    EXPECT_TRUE(ForceDirectories((home / "own" / "sub").string()));
    EXPECT_EQ(ModeOf(home / "own"), 0750u);
    EXPECT_EQ(ModeOf(home / "own" / "sub"), 0700u);
}

TEST_F(SafeCollect, PlantedLinksAreReplacedOrRefusedNeverWrittenThrough) {
    // Someone put links where the program writes; their targets must not change.
    const fs::path outside = home / "outside";
    const std::string kept = "Postvigil saved messages 2\t" + server.HostAndPort() + "\tbob\r\n";
    std::ofstream(outside) << kept;
    fs::create_symlink(outside, RecordFile(server));
    fs::create_symlink(outside, Postoffice() / "TransList.DAT");
    const TMail a = Mail("ua", "a");
    Whole({a}, tmCopy);
    Collect(tmCopy, 1);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(Slurp(outside), kept);
    EXPECT_FALSE(fs::is_symlink(RecordFile(server)));
    EXPECT_FALSE(fs::is_symlink(Postoffice() / "TransList.DAT"));
    ASSERT_EQ(Listed().size(), 1u);
    EXPECT_EQ(Slurp(Listed()[0]), a.Text);
    // Appending never follows a link.
    const fs::path link = home / "appended";
    fs::create_symlink(outside, link);
    EXPECT_THROW(AppendToFile(link.string(), "line\r\n"), EInOutError);
    EXPECT_EQ(Slurp(outside), kept);
}

TEST_F(SafeCollect, TemporaryFilesAKilledRunLeftGoButNotOnesAWriterHolds) {
    const fs::path office = Postoffice();
    const fs::path left = office / "new.tmp-Ab12Cd", list = office / "TransList.DAT.tmp-x1y2z3";
    const fs::path held = office / "new.tmp-HELD00", fresh = office / "new.tmp-FRESH0";
    const fs::path log = home / "PostvigilLog.TXT.tmp-q9w8e7", other = office / "notes.txt";
    for (const fs::path& p : {left, list, held, fresh, log, other}) std::ofstream(p) << "partial";
    for (const fs::path& p : {left, list, held, log, other}) Age(p, 3600);
    // Another collect of this post office is still writing held.
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    Whole({Mail("ua", "a")}, tmCopy);
    Collect(tmCopy, 1);
    ::close(fd);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_FALSE(fs::exists(left));
    EXPECT_FALSE(fs::exists(list));
    EXPECT_FALSE(fs::exists(log));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(other));
}
