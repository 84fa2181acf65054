// Files that survive a crash or a power cut at any moment: the data goes to a temporary file
// in the same folder, is flushed to the disk, and only then takes its name; the folder is
// flushed too, so the name itself is on the disk. A reader sees the old file or the new one,
// never half of one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Replaces (or creates) path with data. Raises EInOutError with the system's reason. With
// flush false the file is still replaced whole (a killed process leaves the old file or the
// new one), but reaching the disk is left to a later FlushFileSystem. mode: the file's
// permissions: the owner's alone unless told otherwise. A symbolic link under path is
// replaced, never written through.
void WriteFileDurably(const std::string& path, std::string_view data, bool flush = true,
                      unsigned mode = 0600);

// Writes data as a new file in folder under the first name that is not taken yet: name(0),
// name(1), ... (at most tries names). An existing file is never replaced, also not one that
// another program creates at the same moment. Before the file takes its name, beforeName(n)
// runs with the full path it is about to get (a crash after it leaves either no file or the
// whole file under that path). Returns the full path. Raises EInOutError with the system's
// reason when the data cannot be written or no name is free.
std::string CreateFileDurably(const std::string& folder,
                              const std::function<std::string(int step)>& name,
                              std::string_view data, int tries,
                              const std::function<void(const std::string& path)>& beforeName = {},
                              bool flush = true, unsigned mode = 0600);

// The content of a file written piece by piece as its source delivers it: content(write)
// calls write for each piece in order. What content raises ends the file unwritten (no
// temporary file stays) and goes on to the caller.
using TFileWrite = std::function<void(std::string_view piece)>;
using TFileContent = std::function<void(const TFileWrite& write)>;
std::string CreateFileDurably(const std::string& folder,
                              const std::function<std::string(int step)>& name,
                              const TFileContent& content, int tries,
                              const std::function<void(const std::string& path)>& beforeName = {},
                              bool flush = true, unsigned mode = 0600);

// Raises EInOutError naming path and the system's reason for error.
[[noreturn]] void RaiseFileError(const std::string& path, int error);
// Writes all of data to fd (path names it in the error); a full disk raises ENOSPC.
void WriteAll(int fd, std::string_view data, const std::string& path);
// Brings folder's entries (the names in it) to the disk; file systems that cannot flush a
// folder are left as they are.
void SyncFolder(const std::string& folder);

// Brings everything written to the file system that holds folder to the disk (one flush for
// many files written with flush false). Raises EInOutError with the system's reason.
void FlushFileSystem(const std::string& folder);

// Adds line at the end of path (created when missing) in one write, so a killed process
// leaves the line whole or not at all; flushed to the disk unless flush is false. A symbolic
// link under path is refused (ELOOP), never written through. mode: for a new file.
void AppendToFile(const std::string& path, std::string_view line, bool flush = true,
                  unsigned mode = 0600);

// True when path is a regular file (not a symbolic link) of exactly size bytes; with flush,
// it is also made durable first (false when that fails).
bool IsFileThere(const std::string& path, int64_t size, bool flush);

// Removes the temporary files a killed writer left in folder: those no running writer holds
// and that are at least minAgeSeconds old. Returns how many went.
int RemoveStaleTempFiles(const std::string& folder, int64_t minAgeSeconds = 60);

// Reads a whole file; "" when it does not exist. Raises EInOutError when it cannot be read.
// With followLinks false a symbolic link reads as no file: a file of the program's own that
// someone replaced by a link is not taken for it.
std::string ReadWholeFile(const std::string& path, bool followLinks = true);

// A test-only seam: when the environment variable POSTVIGIL_CRASH_AT names step, the process
// is killed there with SIGKILL, as a power cut or a kill would stop it.
void CrashPoint(const char* step);
