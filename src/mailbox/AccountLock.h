// The lock that keeps two Postvigils (the window and --collect, or two machines sharing one
// home folder) from checking or collecting the same account at once: ".<account>.lock" beside
// the account files.
//
// The holder keeps the file open with an exclusive flock() and has written "pid\nPostvigil\n
// host\n" into it. A lock nobody holds is taken over when its holder is provably gone: it was
// written on this machine and no process holds its flock (or, where the file system has no
// locks, no process of its number runs), or its content cannot be read and it is older than
// kUnreadableLockAge (a run that is still writing it is younger). A lock written on another
// machine is never taken over: that machine may be collecting right now, and the refusal names
// it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TClock;

// An unreadable lock younger than this may be one being written; older, it is taken over.
inline constexpr int64_t kUnreadableLockAge = 5 * 60 * 1000;

class TAccountLock {
public:
    // clock gives the time a lock's age is measured against (the program's clock when null).
    explicit TAccountLock(TClock* clock = nullptr);
    ~TAccountLock();
    TAccountLock(const TAccountLock&) = delete;
    TAccountLock& operator=(const TAccountLock&) = delete;

    // The lock file of an account in the program folder.
    static std::string FileFor(std::string_view account);

    // Takes the lock in fileName; "" when it is held now, else the text that tells the user why
    // not. While held, further calls only count (whatever file they name), and each needs
    // its Unlock.
    std::string Lock(const std::string& fileName);
    void Unlock();
    bool Locked() const { return FDepth > 0; }

private:
    enum class TVerdict { Taken, Busy, Retry };
    TVerdict TakeOver(const std::string& fileName, std::string& holderHost);
    bool Create(const std::string& fileName);
    void Release();

    TClock* FClock;
    std::string FFileName;
    int FFd = -1;
    int FDepth = 0;
};
