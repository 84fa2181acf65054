// The account lock: a living holder keeps it, a lock whose holder is gone is taken over, and a
// lock of another machine is refused with that machine's name. Ages come from file times set
// by the test against the manual clock; nothing waits.
#include "mailbox/AccountLock.h"
#include "CheckCycleFixture.h"
#include "app/CheckMode.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const std::string kBusy =
    "Another Postvigil is checking or collecting this account; try again when it has finished";

struct AccountLock : CheckCycle {
    std::string file;

    void SetUp() override {
        CheckCycle::SetUp();
        file = TAccountLock::FileFor("Dummy");
    }
    // A lock file left behind, last written ageMs before the clock's now.
    void Plant(const std::string& text, int64_t ageMs) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        const int64_t at = clock.WallMs() - ageMs;
        const timespec times[2] = {{at / 1000, (at % 1000) * 1000000},
                                   {at / 1000, (at % 1000) * 1000000}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    std::string Text() const {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string Host() {
        char name[256] = {};
        gethostname(name, sizeof name - 1);
        return name;
    }
    static std::string Mine() { return std::to_string(getpid()) + "\nPostvigil\n" + Host() + "\n"; }
};
constexpr int64_t kMinute = 60 * 1000;
} // namespace

TEST_F(AccountLock, AnEmptyOrGarbageLockIsTakenOverOnlyOnceItIsOld) {
    EXPECT_EQ(file, ProgDir() + ".dummy.lock");
    for (const std::string& garbage : {std::string(), std::string("\x7f\x01garbage"),
                                       std::string("Postvigil\n\n\n"), std::string("-5\nx\ny\n")}) {
        SCOPED_TRACE(garbage);
        TAccountLock lock(&clock);
        // Young: a run may be writing it this moment.
        Plant(garbage, kMinute);
        EXPECT_EQ(lock.Lock(file), kBusy);
        EXPECT_EQ(Text(), garbage);
        // Old (or from a clock that has since been set back): nobody's.
        for (int64_t age : {10 * kMinute, -10 * kMinute}) {
            Plant(garbage, age);
            EXPECT_EQ(lock.Lock(file), "");
            EXPECT_EQ(Text(), Mine());
            lock.Unlock();
            EXPECT_FALSE(fs::exists(file));
        }
        // However old, a lock somebody holds stays theirs.
        Plant(garbage, 10 * kMinute);
        const int holder = open(file.c_str(), O_RDWR);
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
        EXPECT_EQ(lock.Lock(file), kBusy);
        close(holder);
        fs::remove(file);
    }
}

TEST_F(AccountLock, ALockOfThisMachineIsKeptWhileItsHolderLivesAndTakenOverOnceItIsGone) {
    TAccountLock first(&clock), second(&clock);
    ASSERT_EQ(first.Lock(file), "");
    EXPECT_EQ(Text(), Mine());
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // Nested holds count.
    ASSERT_EQ(first.Lock(file), "");
    EXPECT_EQ(second.Lock(file), kBusy);
    first.Unlock();
    EXPECT_EQ(second.Lock(file), kBusy);
    first.Unlock();
    EXPECT_FALSE(fs::exists(file));
    ASSERT_EQ(second.Lock(file), "");
    second.Unlock();

    // Power lost during a collect: the lock names a process of this machine that is no more.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    Plant(std::to_string(child) + "\nPostvigil\n" + Host() + "\n", 0);
    EXPECT_EQ(first.Lock(file), "");
    EXPECT_EQ(Text(), Mine());
}

TEST_F(AccountLock, ALockOfAnotherMachineIsRefusedWithItsNameAndAStaleOneDoesNotStopTheCheck) {
    const std::string foreign = "4242\nPostvigil\nother-box.example\n";
    Plant(foreign, 24 * 60 * kMinute);
    TAccountLock lock(&clock);
    EXPECT_EQ(lock.Lock(file), kBusy +
                                   " (it runs on other-box.example; if it no longer does, "
                                   "delete " +
                                   file + ")");
    EXPECT_EQ(Text(), foreign);

    // The headless check says so and leaves the server alone.
    PopAccount();
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadlessCheck(out, err), 1);
    EXPECT_NE(err.str().find(kBusy + " (it runs on other-box.example"), std::string::npos)
        << err.str();
    EXPECT_EQ(server.Connections(), 0);

    // An empty lock from a run that died while writing it holds the check up no longer.
    Plant("", 10 * kMinute);
    LogIn(0);
    server.Expect("QUIT").Say("+OK bye");
    err.str("");
    EXPECT_EQ(RunHeadlessCheck(out, err), 0) << err.str();
    EXPECT_EQ(server.Failure(), "");
    EXPECT_FALSE(fs::exists(file));
}
