#include "Streams.h"

#include "Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int64_t TStream::Size() {
    const int64_t pos = Seek(0, soCurrent);
    const int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) {
        const int err = errno;
        std::string text = "Stream write error";
        if (err != 0) text += std::string(": ") + std::strerror(err);
        throw EWriteError(text);
    }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    constexpr int64_t kBlock = 64 * 1024;
    std::vector<char> block(std::size_t(std::min(count, kBlock)));
    int64_t left = count;
    while (left > 0) {
        const int64_t n = std::min(left, kBlock);
        source.ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        left -= n;
    }
    return count;
}

// --- TMemoryStream ----------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = int64_t(FData.size());
    if (count <= 0 || FPosition >= size) return 0;
    const int64_t n = std::min(count, size - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, std::size_t(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const auto pos = std::size_t(FPosition);
    const auto n = std::size_t(count);
    if (pos == FData.size()) {
        FData.append(static_cast<const char*>(buffer), n);
    } else {
        if (pos + n > FData.size()) FData.resize(pos + n);
        std::memcpy(FData.data() + pos, buffer, n);
    }
    FPosition += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == soCurrent) base = FPosition;
    if (origin == soEnd) base = int64_t(FData.size());
    FPosition = std::max<int64_t>(0, base + offset);
    return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
    FData.resize(std::size_t(std::max<int64_t>(0, newSize)));
    if (FPosition > newSize) FPosition = int64_t(FData.size());
}

std::string TMemoryStream::TakeData() {
    std::string r = std::move(FData);
    FData.clear();
    FPosition = 0;
    return r;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    if (&source == this) {
        FPosition = 0;
        return;
    }
    source.SetPosition(0);
    const int64_t size = source.Size();
    FData.resize(std::size_t(size));
    source.ReadBuffer(FData.data(), size);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& target) const {
    target.WriteBuffer(FData.data(), int64_t(FData.size()));
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// --- TFileStream ------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case fmCreate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    case fmOpenRead:
        flags |= O_RDONLY;
        break;
    case fmOpenWrite:
        flags |= O_WRONLY;
        break;
    case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
    }
    FHandle = ::open(fileName.c_str(), flags, 0666);
    if (FHandle < 0) {
        const std::string reason = std::strerror(errno);
        if (mode == fmCreate)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(FHandle, p + done, std::size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    errno = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, p + done, std::size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t r = ::lseek(FHandle, off_t(offset), whence);
    if (r < 0) throw EStreamError(std::string("Stream seek error: ") + std::strerror(errno));
    return int64_t(r);
}

void TFileStream::SetSize(int64_t newSize) {
    if (::ftruncate(FHandle, off_t(newSize)) != 0)
        throw EWriteError(std::string("Stream write error: ") + std::strerror(errno));
    if (Position() > newSize) SetPosition(newSize);
}

void TFileStream::Flush() {
    if (::fsync(FHandle) != 0 && errno != EINVAL && errno != EROFS)
        throw EWriteError(std::string("Stream write error: ") + std::strerror(errno));
}
