// Delivery into an mbox file (mboxrd): appended under the file's locks; a message that does not
// finish is cut off again, so a reader never meets half of one.
#include "base/Clock.h"
#include "mailbox/Delivery.h"
#include "mailbox/DeliveryText.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
using namespace delivery;

const char* const kLocked = ": locked by another program for %d seconds; try again later";
// A lock file older than this was left by a program that died holding it.
constexpr int64_t kStaleLockSeconds = 300;

// "From SENDER Wed Dec  9 16:59:57 2026": the date in the C library's asctime form, in
// English whatever the locale.
std::string SeparatorLine(const std::string& sender) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t seconds = std::time_t(Clock().WallMs() / 1000);
    std::tm t{};
    ::localtime_r(&seconds, &t);
    char date[64];
    std::snprintf(date, sizeof date, "%s %s %2d %02d:%02d:%02d %d", kDays[t.tm_wday],
                  kMonths[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return "From " + sender + " " + date + "\n";
}

class TMboxSink : public TUndoingSink {
public:
    explicit TMboxSink(const std::string& path)
        : FPath(path), FLockPath(path + ".lock"),
          FText([this](const std::string& sender) { Start(sender); },
                [this](std::string_view text) { WriteAll(FFd, text, FPath); }, true) {}
    ~TMboxSink() override { Undo(); }

private:
    void Put(std::string_view piece) override { FText.Put(piece); }

    std::string Complete() override {
        FText.Close(true);
        WriteAll(FFd, "\n", FPath);
        if (::fsync(FFd) != 0) RaiseFileError(FPath, errno);
        FStartSize = -1;
        Unlock();
        return "mbox " + FPath;
    }

    // The header block is complete: the file is opened, locked and given the separator.
    void Start(const std::string& sender) {
        FFd = ::open(FPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (FFd < 0) RaiseFileError(FPath, errno);
        Lock();
        struct stat st {};
        if (::fstat(FFd, &st) != 0) RaiseFileError(FPath, errno);
        std::string separator = SeparatorLine(sender);
        // A last message that lacks its line end would swallow the separator.
        char last = '\n';
        if (st.st_size > 0 && ::pread(FFd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            separator.insert(0, 1, '\n');
        FStartSize = st.st_size;
        WriteAll(FFd, separator, FPath);
    }

    void Lock() {
        const int64_t deadline = Clock().NowMs() + kMboxLockWaitMs;
        struct flock region {};
        region.l_type = F_WRLCK;
        region.l_whence = SEEK_SET;
        WaitForLock(deadline, [&] {
            if (::fcntl(FFd, F_SETLK, &region) == 0) return true;
            if (errno != EACCES && errno != EAGAIN) RaiseFileError(FPath, errno);
            return false;
        });
        WaitForLock(deadline, [&] { return TakeLockFile(); });
    }

    // Tries take until it succeeds, pausing between the tries, until deadline.
    template <class TTake> void WaitForLock(int64_t deadline, TTake take) {
        while (!take()) {
            if (Clock().NowMs() >= deadline) {
                std::string reason = FPath + kLocked;
                const std::size_t at = reason.find("%d");
                throw EDeliveryFailed(
                    reason.replace(at, 2, std::to_string(kMboxLockWaitMs / 1000)));
            }
            Clock().Pause(kMboxLockRetryMs);
        }
    }

    bool TakeLockFile() {
        const int fd =
            ::open(FLockPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            FLockFile = true;
            return true;
        }
        // A mail folder the user may not write (the system's, without its helper) has the
        // fcntl lock alone.
        if (errno == EACCES || errno == EPERM || errno == EROFS) return true;
        if (errno != EEXIST) RaiseFileError(FLockPath, errno);
        struct stat st {};
        if (::lstat(FLockPath.c_str(), &st) == 0 &&
            Clock().WallMs() / 1000 - st.st_mtime > kStaleLockSeconds)
            ::unlink(FLockPath.c_str());
        return false;
    }

    void Unlock() {
        if (FLockFile) ::unlink(FLockPath.c_str());
        FLockFile = false;
        // Closing the file gives up the fcntl lock.
        if (FFd >= 0) ::close(std::exchange(FFd, -1));
    }

    // Cuts the file back to where this message began, while still holding the locks.
    void Undo() override {
        if (FStartSize >= 0 && FFd >= 0 && ::ftruncate(FFd, FStartSize) == 0) ::fsync(FFd);
        FStartSize = -1;
        Unlock();
    }

    std::string FPath;
    std::string FLockPath;
    int FFd = -1;
    off_t FStartSize = -1;
    bool FLockFile = false;
    TSenderFirstText FText;
};

class TMboxTarget : public TDeliveryTarget {
public:
    explicit TMboxTarget(std::string path) : FPath(std::move(path)) {}
    std::unique_ptr<TDeliverySink> Begin() override { return std::make_unique<TMboxSink>(FPath); }

private:
    std::string FPath;
};
} // namespace

std::unique_ptr<TDeliveryTarget> MboxTarget(std::string path) {
    return std::make_unique<TMboxTarget>(std::move(path));
}
