// msgtool: the mail library's decoder and encoder on the command line, for developers,
// tests and fuzzing.
//
//   msgtool decode FILE [--save DIR]   the decoded message as JSON; --save writes each
//                                      attachment's data to DIR/<index>, a new file that
//                                      only its owner reads (a name that is taken, even by
//                                      a symlink, is an error: nothing there is replaced)
//   msgtool headers FILE               the header listing (the fields a TOP answer gives)
//   msgtool reencode FILE              the encoder's rendering of the decoded message
//
// Exit codes: 0 done, 1 the decoder or encoder raised an error, 2 usage or file error.
#include "MessageJson.h"

#include "base/Exceptions.h"
#include "base/Streams.h"
#include "message/msmsg.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
const char* const kUsage =
    "usage: msgtool decode FILE [--save DIR] | headers FILE | reencode FILE\n";

struct TUsageError {};
struct TFileError {
    std::string Text;
};

// The whole file; a file that cannot be read is a TFileError.
void ReadFile(const std::string& fileName, TMemoryStream& stream) {
    FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) throw TFileError{fileName + ": " + std::strerror(errno)};
    std::vector<char> block(1 << 16);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0)
        stream.WriteBuffer(block.data(), int64_t(got));
    const bool failed = std::ferror(file);
    const int error = errno;
    std::fclose(file);
    if (failed) throw TFileError{fileName + ": " + std::strerror(error)};
    stream.SetPosition(0);
}

// Writes a new file; one that exists, or a symlink in its place, is never written through.
void WriteNewFile(const std::string& fileName, std::string_view data) {
    const int fd =
        open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw TFileError{fileName + ": " + std::strerror(errno)};
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t wrote = write(fd, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            const int error = errno;
            close(fd);
            throw TFileError{fileName + ": " + std::strerror(error)};
        }
        done += std::size_t(wrote);
    }
    if (close(fd) != 0) throw TFileError{fileName + ": " + std::strerror(errno)};
}

int Run(const std::vector<std::string>& args) {
    if (args.size() < 2) throw TUsageError{};
    const std::string& command = args[0];
    const std::string& fileName = args[1];
    std::string saveDir;
    if (command == "decode" && args.size() == 4 && args[2] == "--save")
        saveDir = args[3];
    else if (args.size() != 2)
        throw TUsageError{};
    if (command != "decode" && command != "headers" && command != "reencode") throw TUsageError{};

    TMemoryStream input;
    ReadFile(fileName, input);
    TmsMessage message;
    if (command == "headers") {
        TmsHeaders list;
        list.LoadFromStream(input);
        message.ProcessHeaders(list);
        std::cout << MessageJson(message, false) << '\n';
        return 0;
    }
    message.LoadFromStream(input);
    if (command == "reencode") {
        TMemoryStream output;
        message.SaveToStream(output);
        std::cout.write(output.Memory(), std::streamsize(output.Size()));
        return 0;
    }
    if (!saveDir.empty())
        for (int i = 0; i < message.Attachments().Count(); ++i)
            WriteNewFile(saveDir + "/" + std::to_string(i),
                         message.Attachments().Items(i).Data.View());
    std::cout << MessageJson(message, true) << '\n';
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    try {
        const int code = Run(std::vector<std::string>(argv + 1, argv + argc));
        std::cout.flush();
        return code;
    } catch (const TUsageError&) {
        std::cerr << kUsage;
        return 2;
    } catch (const TFileError& e) {
        std::cerr << "msgtool: " << e.Text << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "msgtool: " << e.what() << '\n';
        return 1;
    }
}
