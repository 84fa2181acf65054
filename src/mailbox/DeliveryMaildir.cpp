// Delivery into a Maildir: written under a name of its own in tmp/, flushed, then linked
// into new/, where a mail reader finds it whole or not at all.
#include "base/Clock.h"
#include "mailbox/Delivery.h"
#include "mailbox/DeliveryText.h"
#include "platform/DurableFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) RaiseFileError(path, errno);
}

class TMaildirSink : public TUndoingSink {
public:
    explicit TMaildirSink(const std::string& maildir)
        : FMaildir(maildir),
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
        if (::fsync(FFd) != 0 || ::close(std::exchange(FFd, -1)) != 0) RaiseFileError(FTemp, errno);
        FNew = FMaildir + "/new/" + FName;
        if (::link(FTemp.c_str(), FNew.c_str()) != 0) {
            const int error = errno;
            RaiseFileError(std::exchange(FNew, std::string()), error);
        }
        ::unlink(std::exchange(FTemp, std::string()).c_str());
        // The new name reaches the disk with its folder.
        SyncFolder(FMaildir + "/new");
        return std::exchange(FNew, std::string());
    }

    // A message not known to be on the disk stays on the server, so it must not be in new/
    // as well.
    void Undo() override {
        if (FFd >= 0) ::close(std::exchange(FFd, -1));
        if (!FTemp.empty()) ::unlink(std::exchange(FTemp, std::string()).c_str());
        if (!FNew.empty()) ::unlink(std::exchange(FNew, std::string()).c_str());
    }

    std::string FMaildir;
    std::string FName;
    std::string FTemp;
    std::string FNew;
    int FFd = -1;
    TLfText FText;
};

class TMaildirTarget : public TDeliveryTarget {
public:
    explicit TMaildirTarget(std::string path) : FPath(std::move(path)) {}

    std::unique_ptr<TDeliverySink> Begin() override {
        MakeFolder(FPath);
        for (const char* sub : {"/tmp", "/new", "/cur"}) MakeFolder(FPath + sub);
        return std::make_unique<TMaildirSink>(FPath);
    }

private:
    std::string FPath;
};
} // namespace

std::unique_ptr<TDeliveryTarget> MaildirTarget(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return std::make_unique<TMaildirTarget>(std::move(path));
}
