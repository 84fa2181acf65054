// Delivery into a Maildir: written under a name of its own in tmp/, flushed, then linked
// into new/, where a mail reader finds it whole or not at all. The flushes are the target's,
// once for all the messages finished since the last one: a flush per message would cost a
// disk commit each, where the order (data on the disk, then the name in new/, then new/ on
// the disk) is all a reader relies on.
#include "base/Clock.h"
#include "mailbox/Delivery.h"
#include "mailbox/DeliveryText.h"
#include "platform/DurableFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
using namespace delivery;

// Names taken in tmp/ before giving up; another writer would have to pick the same
// time, process, counter and random part to take one.
constexpr int kNameTries = 10;

std::atomic<uint64_t> gDeliveries{0};

// The host name as a Maildir name part: "/" and ":" written as octal escapes.
std::string HostPart() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) return "localhost";
    std::string part;
    for (const char* p = host; *p; ++p) {
        if (*p == '/')
            part += "\\057";
        else if (*p == ':')
            part += "\\072";
        else
            part += *p;
    }
    return part;
}

// "SECONDS.M<microseconds>P<process>Q<deliveries>R<random>.HOST"
std::string UniqueName() {
    static const std::string host = HostPart();
    static const uint64_t random =
        std::random_device{}() ^ (uint64_t(std::random_device{}()) << 32);
    const int64_t ms = Clock().WallMs();
    const uint64_t count = ++gDeliveries;
    char name[128];
    std::snprintf(name, sizeof name, "%lld.M%lldP%dQ%lluR%llx.", (long long)(ms / 1000),
                  (long long)(ms % 1000 * 1000), int(::getpid()), (unsigned long long)count,
                  (unsigned long long)(random + count));
    return name + host;
}

// The process that took a tmp/ name of ours on this host, or 0 for a name not ours.
pid_t WriterOf(const std::string& name) {
    static const std::string host = "." + HostPart();
    long long seconds = 0, micro = 0, count = 0;
    unsigned long long random = 0;
    int pid = 0, used = 0;
    if (name.size() <= host.size() || name.compare(name.size() - host.size(), host.size(), host))
        return 0;
    const std::string head = name.substr(0, name.size() - host.size());
    if (std::sscanf(head.c_str(), "%lld.M%lldP%dQ%lldR%llx%n", &seconds, &micro, &pid, &count,
                    &random, &used) != 5 ||
        std::size_t(used) != head.size())
        return 0;
    return pid_t(pid);
}

// A delivery killed before its flush leaves its messages in tmp/ (the server kept them, the
// next collect delivers them again): removed once their writer is gone. Anyone else's files
// are left alone.
void RemoveLeftovers(const std::string& tmp) {
    DIR* folder = ::opendir(tmp.c_str());
    if (!folder) return;
    while (const dirent* entry = ::readdir(folder)) {
        const pid_t writer = WriterOf(entry->d_name);
        if (writer > 0 && ::kill(writer, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
    ::closedir(folder);
}

void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) RaiseFileError(path, errno);
}

// A message written whole into tmp/, waiting for the target's flush to reach new/.
struct TFinished {
    std::string Temp;
    std::string New;
};

class TMaildirSink : public TUndoingSink {
public:
    TMaildirSink(const std::string& maildir, std::vector<TFinished>& finished)
        : FMaildir(maildir), FFinished(finished),
          FText([this](std::string_view text) { WriteAll(FFd, text, FTemp); }, false) {
        for (int tries = 0; FFd < 0; ++tries) {
            FName = UniqueName();
            FTemp = FMaildir + "/tmp/" + FName;
            FFd = ::open(FTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (FFd < 0 && (errno != EEXIST || tries + 1 == kNameTries))
                RaiseFileError(FTemp, errno);
        }
    }
    ~TMaildirSink() override { Undo(); }

private:
    void Put(std::string_view piece) override { FText.Put(piece); }

    std::string Complete() override {
        FText.Close(false);
        if (::close(std::exchange(FFd, -1)) != 0) RaiseFileError(FTemp, errno);
        TFinished& finished = FFinished.emplace_back();
        finished.New = FMaildir + "/new/" + FName;
        finished.Temp = std::exchange(FTemp, std::string());
        return finished.New;
    }

    void Undo() override {
        if (FFd >= 0) ::close(std::exchange(FFd, -1));
        if (!FTemp.empty()) ::unlink(std::exchange(FTemp, std::string()).c_str());
    }

    std::string FMaildir;
    std::vector<TFinished>& FFinished;
    std::string FName;
    std::string FTemp;
    int FFd = -1;
    TLfText FText;
};

class TMaildirTarget : public TDeliveryTarget {
public:
    explicit TMaildirTarget(std::string path) : FPath(std::move(path)) {}
    // Messages never flushed are not known to be on the disk: they stay on the server, so
    // they must not reach new/ as well.
    ~TMaildirTarget() override { Discard(0); }

    std::unique_ptr<TDeliverySink> Begin() override {
        MakeFolder(FPath);
        for (const char* sub : {"/tmp", "/new", "/cur"}) MakeFolder(FPath + sub);
        if (!std::exchange(FTidied, true)) RemoveLeftovers(FPath + "/tmp");
        return std::make_unique<TMaildirSink>(FPath, FFinished);
    }

    void Flush() override {
        if (FFinished.empty()) return;
        std::size_t linked = 0;
        try {
            FlushFileSystem(FPath + "/tmp");
            for (; linked < FFinished.size(); ++linked) {
                const TFinished& finished = FFinished[linked];
                if (::link(finished.Temp.c_str(), finished.New.c_str()) != 0)
                    RaiseFileError(finished.New, errno);
                ::unlink(finished.Temp.c_str());
            }
            // The new names reach the disk with their folder.
            SyncFolder(FPath + "/new");
        } catch (...) {
            Discard(linked);
            throw;
        }
        FFinished.clear();
    }

private:
    // Removes the messages from the first not yet linked on from tmp/.
    void Discard(std::size_t from) {
        for (std::size_t i = from; i < FFinished.size(); ++i) ::unlink(FFinished[i].Temp.c_str());
        FFinished.clear();
    }

    std::string FPath;
    std::vector<TFinished> FFinished;
    bool FTidied = false;
};
} // namespace

std::unique_ptr<TDeliveryTarget> MaildirTarget(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return std::make_unique<TMaildirTarget>(std::move(path));
}
