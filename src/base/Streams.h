// Byte streams: the abstract TStream, an in-memory stream and a file stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(int64_t newSize) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
    virtual int64_t Size();

    // Read or write exactly count bytes or raise EReadError / EWriteError.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    void WriteString(std::string_view s) { WriteBuffer(s.data(), int64_t(s.size())); }

    // Copies count bytes from source's position; count 0 copies the whole of source from
    // its start. Returns the number of bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream held in memory. Memory() stays valid until the next write or size change.
class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;
    int64_t Size() override { return int64_t(FData.size()); }

    const char* Memory() const { return FData.data(); }
    char* Memory() { return FData.data(); }
    std::string_view View() const { return FData; }
    // Moves the bytes out, leaving the stream empty.
    std::string TakeData();
    void Clear();
    void Reserve(int64_t bytes) { FData.reserve(std::size_t(bytes)); }

    // Replaces the contents with the whole of source (read from its start); position 0.
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& target) const;
    void SaveToFile(const std::string& fileName) const;

private:
    std::string FData;
    int64_t FPosition = 0;
};

enum TFileMode { fmCreate, fmOpenRead, fmOpenWrite, fmOpenReadWrite };

// A file on disk. Opening raises EFOpenError, creating EFCreateError; a short write
// (a full disk, say) raises EWriteError from WriteBuffer with the system's reason.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, TFileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;
    // Flushes to the device; raises EWriteError when that fails.
    void Flush();
    const std::string& FileName() const { return FFileName; }
    // The file descriptor, for settings the stream does not cover (permissions).
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};
