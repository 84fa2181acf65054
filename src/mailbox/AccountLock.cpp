#include "mailbox/AccountLock.h"

#include "base/Clock.h"
#include "base/StrUtils.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kAccountBusy =
    "Another Postvigil is checking or collecting this account; try again when it has finished";
const char* const kRunsOn = " (it runs on ";
const char* const kDeleteWhenGone = "; if it no longer does, delete ";
const char* const kCannotLock = "The account cannot be locked: ";
const char* const kLockSuffix = ".lock";
const char* const kAppLine = "Postvigil";
// More than a lock ever holds; a bigger file is not one of ours.
constexpr std::size_t kMaxLockText = 4096;
// Two runs taking over the same stale lock: the loser finds the winner's and stops there.
constexpr int kAttempts = 3;

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

// The holder a lock file names: its process number (0 when the file cannot be read as a lock)
// and its machine.
struct THolder {
    int64_t Pid = 0;
    std::string Host;
};

THolder ReadHolder(int fd) {
    std::string text(kMaxLockText, '\0');
    const ssize_t got = pread(fd, text.data(), text.size(), 0);
    if (got <= 0 || std::size_t(got) == text.size()) return {};
    text.resize(std::size_t(got));
    // "pid\napp\nhost\n", possibly followed by lines we do not need.
    std::string lines[3];
    std::size_t start = 0;
    for (std::string& line : lines) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) return {};
        line = text.substr(start, end - start);
        start = end + 1;
    }
    int64_t pid = 0;
    if (lines[0].empty() || lines[0].find_first_not_of("0123456789") != std::string::npos ||
        !TryStrToInt64(lines[0], pid) || pid <= 0 || lines[2].empty())
        return {};
    return {pid, lines[2]};
}

bool SameFile(int fd, const std::string& fileName) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && lstat(fileName.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

int64_t ModifiedMs(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return 0;
    return int64_t(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

// Closes a descriptor when the scope ends.
struct TFd {
    int Fd;
    ~TFd() {
        if (Fd >= 0) close(Fd);
    }
};
} // namespace

TAccountLock::TAccountLock(TClock* clock) : FClock(clock) {}

TAccountLock::~TAccountLock() {
    Release();
}

std::string TAccountLock::FileFor(std::string_view account) {
    return ProgDir() + "." + LowerCase(account) + kLockSuffix;
}

std::string TAccountLock::Lock(const std::string& fileName) {
    if (FDepth > 0) {
        ++FDepth;
        return "";
    }
    std::string host;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (Create(fileName)) {
            FDepth = 1;
            return "";
        }
        if (errno != EEXIST) return kCannotLock + fileName + ": " + std::strerror(errno);
        if (TakeOver(fileName, host) == TVerdict::Busy) break;
    }
    if (host.empty()) return kAccountBusy;
    return kAccountBusy + (kRunsOn + host + kDeleteWhenGone + fileName + ")");
}

void TAccountLock::Unlock() {
    if (FDepth > 0 && --FDepth == 0) Release();
}

bool TAccountLock::Create(const std::string& fileName) {
    const int fd = open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    // A run looking at the new file holds its flock for a moment only. A file system without
    // locks leaves the process number to speak for the holder.
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    const std::string text = std::to_string(getpid()) + "\n" + kAppLine + "\n" + HostName() + "\n";
    // A lock that could not be written whole reads as unreadable; its flock holds all the same.
    [[maybe_unused]] const ssize_t written = write(fd, text.data(), text.size());
    FFd = fd;
    FFileName = fileName;
    return true;
}

TAccountLock::TVerdict TAccountLock::TakeOver(const std::string& fileName, std::string& host) {
    // Read and write: a flock over NFS needs a descriptor open for writing.
    TFd lock{open(fileName.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC)};
    if (lock.Fd < 0) return errno == ENOENT ? TVerdict::Retry : TVerdict::Busy;
    const bool flocked = flock(lock.Fd, LOCK_EX | LOCK_NB) == 0;
    if (!flocked && errno == EWOULDBLOCK) {
        const THolder holder = ReadHolder(lock.Fd);
        if (holder.Pid > 0 && holder.Host != HostName()) host = holder.Host;
        return TVerdict::Busy;
    }
    const THolder holder = ReadHolder(lock.Fd);
    bool gone;
    if (holder.Pid == 0) {
        // Either way round: a clock set back must not keep the account locked for ever.
        const int64_t now = (FClock ? *FClock : Clock()).WallMs();
        gone = std::llabs(now - ModifiedMs(lock.Fd)) > kUnreadableLockAge;
    } else if (holder.Host != HostName()) {
        // Its flock may not reach us (a home folder shared without locks), and the process
        // number means nothing here.
        host = holder.Host;
        gone = false;
    } else {
        gone = flocked || (kill(pid_t(holder.Pid), 0) != 0 && errno == ESRCH);
    }
    if (!gone) return TVerdict::Busy;
    // Another run may have taken it over meanwhile: only the file looked at is removed.
    if (!SameFile(lock.Fd, fileName)) return TVerdict::Retry;
    if (unlink(fileName.c_str()) != 0 && errno != ENOENT) return TVerdict::Busy;
    return TVerdict::Retry;
}

void TAccountLock::Release() {
    if (FFd < 0) return;
    // Removed while the flock still holds, so nobody takes over a lock that is being let go.
    if (SameFile(FFd, FFileName)) unlink(FFileName.c_str());
    close(FFd);
    FFd = -1;
    FDepth = 0;
}
