#include "platform/DurableFile.h"

#include "base/Exceptions.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kTempSuffix = ".tmp-XXXXXX";
const char* const kNoFreeName = "No free file name in ";

[[noreturn]] void RaiseSystemError(const std::string& what, int error) {
    throw EInOutError(what + ": " + std::strerror(error), error);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) RaiseSystemError(folder, errno);
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot flush a folder; the data itself is on the disk by now.
    if (rc != 0 && error != EINVAL && error != EROFS) RaiseSystemError(folder, error);
}

// The data in a new temporary file of folder, flushed and closed; returns its path.
std::string WriteTemp(const std::string& folder, const std::string& base, std::string_view data,
                      bool flush, unsigned mode = 0644) {
    std::string temp = folder + "/" + base + kTempSuffix;
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) RaiseSystemError(folder, errno);
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        RaiseSystemError(temp, error);
    };
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : ENOSPC);
        p += n;
        left -= std::size_t(n);
    }
    if (::fchmod(fd, mode_t(mode)) != 0 || (flush && ::fsync(fd) != 0)) fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        RaiseSystemError(temp, error);
    }
    return temp;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

void WriteFileDurably(const std::string& path, std::string_view data, bool flush, unsigned mode) {
    const std::string folder = FolderOf(path);
    const std::string temp = WriteTemp(folder, BaseName(path), data, flush, mode);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        RaiseSystemError(path, error);
    }
    if (flush) SyncFolder(folder);
}

std::string CreateFileDurably(const std::string& folder,
                              const std::function<std::string(int step)>& name,
                              std::string_view data, int tries,
                              const std::function<void(const std::string& path)>& beforeName,
                              bool flush) {
    const std::string temp = WriteTemp(folder, "new", data, flush);
    CrashPoint("written");
    for (int step = 0; step < tries; ++step) {
        const std::string path = folder + "/" + name(step);
        // A quick look first, so the record of beforeName rarely names a taken path.
        if (::access(path.c_str(), F_OK) == 0) continue;
        try {
            if (beforeName) beforeName(path);
        } catch (...) {
            ::unlink(temp.c_str());
            throw;
        }
        // The name is taken only if nobody has it: a hard link fails when it exists.
        if (::link(temp.c_str(), path.c_str()) == 0) {
            ::unlink(temp.c_str());
            if (flush) SyncFolder(folder);
            CrashPoint("renamed");
            return path;
        }
        if (errno == EEXIST) continue;
        const int error = errno;
        ::unlink(temp.c_str());
        RaiseSystemError(path, error);
    }
    ::unlink(temp.c_str());
    throw EInOutError(kNoFreeName + folder, EEXIST);
}

void AppendToFile(const std::string& path, std::string_view line, bool flush) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) RaiseSystemError(path, errno);
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : ENOSPC;
    if (n != ssize_t(line.size()) || (flush && ::fdatasync(fd) != 0)) {
        const int reason = n == ssize_t(line.size()) ? errno : error;
        ::close(fd);
        RaiseSystemError(path, reason);
    }
    ::close(fd);
    // A new file's name must reach the disk too.
    if (flush) SyncFolder(FolderOf(path));
}

void FlushFileSystem(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) RaiseSystemError(folder, errno);
    const int rc = ::syncfs(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0) RaiseSystemError(folder, error);
}

std::string ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        RaiseSystemError(path, errno);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            RaiseSystemError(path, error);
        }
        if (n == 0) break;
        text.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return text;
}

void CrashPoint(const char* step) {
    const char* at = std::getenv("POSTVIGIL_CRASH_AT");
    if (at && std::strcmp(at, step) == 0) ::kill(::getpid(), SIGKILL);
}
