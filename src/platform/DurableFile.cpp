#include "platform/DurableFile.h"

#include "base/Exceptions.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <utility>
#include <vector>

namespace {
const char* const kTempSuffix = ".tmp-XXXXXX";
const char* const kNoFreeName = "No free file name in ";

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A temporary file of folder holding data, flushed; it stays open and locked (flock) until it
// has its name or is gone, so RemoveStaleTempFiles never takes it from a running writer.
class TTempFile {
public:
    TTempFile(const std::string& folder, const std::string& base, const TFileContent& content,
              bool flush, unsigned mode)
        : FPath(folder + "/" + base + kTempSuffix) {
        FFd = ::mkostemp(FPath.data(), O_CLOEXEC);
        if (FFd < 0) {
            FPath.clear();
            RaiseFileError(folder, errno);
        }
        // A fresh file nobody else can hold yet: the lock is ours at once.
        ::flock(FFd, LOCK_EX | LOCK_NB);
        try {
            content([this](std::string_view piece) { Write(piece); });
        } catch (...) {
            // A write that failed has discarded the file already; what the content's source
            // raised leaves no half file behind either.
            if (!FPath.empty()) Discard();
            throw;
        }
        if (::fchmod(FFd, mode_t(mode)) != 0 || (flush && ::fsync(FFd) != 0)) Fail(errno);
    }
    ~TTempFile() {
        if (!FPath.empty()) ::unlink(FPath.c_str());
        if (FFd >= 0) ::close(FFd);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    const std::string& Path() const { return FPath; }
    // The file has its name now (renamed, or linked and its temporary name removed).
    void Placed(const std::string& path) {
        FPath.clear();
        // Flushed or not, a failing close reports a write the disk refused.
        if (::close(std::exchange(FFd, -1)) != 0 && errno != EINTR) RaiseFileError(path, errno);
    }

private:
    void Write(std::string_view piece) {
        try {
            WriteAll(FFd, piece, FPath);
        } catch (...) {
            Discard();
            throw;
        }
    }
    // Only while constructing: no destructor runs after a constructor raised.
    std::string Discard() {
        const std::string path = std::exchange(FPath, std::string());
        ::unlink(path.c_str());
        ::close(std::exchange(FFd, -1));
        return path;
    }
    [[noreturn]] void Fail(int error) { RaiseFileError(Discard(), error); }

    std::string FPath;
    int FFd = -1;
};

TFileContent WholeContent(std::string_view data) {
    return [data](const TFileWrite& write) { write(data); };
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

void RaiseFileError(const std::string& path, int error) {
    throw EInOutError(path + ": " + std::strerror(error), error);
}

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) RaiseFileError(path, n < 0 ? errno : ENOSPC);
        data.remove_prefix(std::size_t(n));
    }
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) RaiseFileError(folder, errno);
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot flush a folder; the data itself is on the disk by now.
    if (rc != 0 && error != EINVAL && error != EROFS) RaiseFileError(folder, error);
}

void WriteFileDurably(const std::string& path, std::string_view data, bool flush, unsigned mode) {
    const std::string folder = FolderOf(path);
    TTempFile temp(folder, BaseName(path), WholeContent(data), flush, mode);
    // rename replaces whatever has the name, a planted symbolic link included, and never
    // writes through it.
    if (::rename(temp.Path().c_str(), path.c_str()) != 0) RaiseFileError(path, errno);
    temp.Placed(path);
    if (flush) SyncFolder(folder);
}

std::string CreateFileDurably(const std::string& folder,
                              const std::function<std::string(int step)>& name,
                              std::string_view data, int tries,
                              const std::function<void(const std::string& path)>& beforeName,
                              bool flush, unsigned mode) {
    return CreateFileDurably(folder, name, WholeContent(data), tries, beforeName, flush, mode);
}

std::string CreateFileDurably(const std::string& folder,
                              const std::function<std::string(int step)>& name,
                              const TFileContent& content, int tries,
                              const std::function<void(const std::string& path)>& beforeName,
                              bool flush, unsigned mode) {
    TTempFile temp(folder, "new", content, flush, mode);
    CrashPoint("written");
    for (int step = 0; step < tries; ++step) {
        const std::string path = folder + "/" + name(step);
        // A quick look first, so the record of beforeName rarely names a taken path.
        if (::access(path.c_str(), F_OK) == 0) continue;
        if (beforeName) beforeName(path);
        // The name is taken only if nobody has it: a hard link fails when it exists (also
        // when it is a symbolic link, which link never follows).
        if (::link(temp.Path().c_str(), path.c_str()) == 0) {
            ::unlink(temp.Path().c_str());
            temp.Placed(path);
            if (flush) SyncFolder(folder);
            CrashPoint("renamed");
            return path;
        }
        if (errno == EEXIST) continue;
        RaiseFileError(path, errno);
    }
    throw EInOutError(kNoFreeName + folder, EEXIST);
}

void AppendToFile(const std::string& path, std::string_view line, bool flush, unsigned mode) {
    // Never through a symbolic link someone put in the file's place.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode_t(mode));
    if (fd < 0) RaiseFileError(path, errno);
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : ENOSPC;
    if (n != ssize_t(line.size()) || (flush && ::fdatasync(fd) != 0)) {
        const int reason = n == ssize_t(line.size()) ? errno : error;
        ::close(fd);
        RaiseFileError(path, reason);
    }
    ::close(fd);
    // A new file's name must reach the disk too.
    if (flush) SyncFolder(FolderOf(path));
}

void FlushFileSystem(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) RaiseFileError(folder, errno);
    const int rc = ::syncfs(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0) RaiseFileError(folder, error);
}

std::string ReadWholeFile(const std::string& path, bool followLinks) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        if (errno == ENOENT || (!followLinks && errno == ELOOP)) return {};
        RaiseFileError(path, errno);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            RaiseFileError(path, error);
        }
        if (n == 0) break;
        text.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return text;
}

bool IsFileThere(const std::string& path, int64_t size, bool flush) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const bool there = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size &&
                       (!flush || ::fsync(fd) == 0);
    ::close(fd);
    return there;
}

namespace {
// The temporary names the writers above use: "<name>.tmp-XXXXXX".
bool IsTempFileName(std::string_view name) {
    const std::string_view suffix = kTempSuffix;
    const std::size_t at = name.size() >= suffix.size() ? name.size() - suffix.size() : 0;
    return name.size() > suffix.size() &&
           name.substr(at, suffix.size() - 6) == suffix.substr(0, suffix.size() - 6);
}

} // namespace

int RemoveStaleTempFiles(const std::string& folder, int64_t minAgeSeconds) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (IsTempFileName(entry->d_name)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    int removed = 0;
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        // Held by a writer that is still at work: its lock says so. A file only just made
        // may not be locked yet; its age tells it apart from one a killed run left.
        const bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                           now - st.st_mtime >= minAgeSeconds &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale && ::unlink(path.c_str()) == 0) ++removed;
        ::close(fd);
    }
    return removed;
}

void CrashPoint(const char* step) {
    const char* at = std::getenv("POSTVIGIL_CRASH_AT");
    if (at && std::strcmp(at, step) == 0) ::kill(::getpid(), SIGKILL);
}
