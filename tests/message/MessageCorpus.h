// Helpers of the decoder and encoder tests: decoding and encoding byte strings, the message
// corpora, temporary folders and the Python peer.
#pragma once

#include "base/Streams.h"
#include "message/msmimeutil.h"
#include "message/msmsg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace msgtest {

namespace fs = std::filesystem;

inline const char* const kPython = "/usr/bin/python3";
inline const char* const kPythonEmailData = "/usr/lib/python3.11/test/test_email/data";

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), std::streamsize(data.size()));
}

// Every line break becomes CR LF, as a POP3 client hands a message over.
inline std::string WithCRLF(std::string_view text) {
    std::string out;
    AppendWithCRLF(text, out);
    return out;
}

template <class T = TmsMessage> void DecodeInto(std::string_view text, T& message) {
    TMemoryStream stream;
    stream.WriteString(text);
    stream.SetPosition(0);
    message.Clear();
    message.LoadFromStream(stream);
}

inline std::unique_ptr<TmsMessage> Decode(std::string_view text) {
    auto message = std::make_unique<TmsMessage>();
    DecodeInto(text, *message);
    return message;
}

inline std::string Encode(TmsCustomMessage& message) {
    TMemoryStream stream;
    message.SaveToStream(stream);
    return std::string(stream.View());
}

inline std::string Attachment(const TmsCustomMessage& message, int index) {
    return std::string(message.Attachments().Items(index).Data.View());
}

// A folder of its own under the system's temporary folder, removed with the object.
class TTempDir {
public:
    TTempDir() {
        std::random_device random;
        Path = fs::temp_directory_path() / ("pv-message-" + std::to_string(random()));
        fs::create_directories(Path);
    }
    ~TTempDir() {
        std::error_code ignored;
        fs::remove_all(Path, ignored);
    }
    fs::path Path;
};

// Runs a command and returns what it wrote to standard output; a failing command fails the
// test.
inline std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) output.append(block, got);
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command;
    return output;
}

inline std::vector<fs::path> FilesIn(const fs::path& folder, const std::string& prefix,
                                     const std::string& suffix) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The messages of Python's own email test data.
inline std::vector<fs::path> PythonEmailMessages() {
    return FilesIn(kPythonEmailData, "msg_", ".txt");
}

// Test mails that mail-parsing packages ship, installed by scripts/install-deps.sh: a MIME
// library's (ordinary, unusual and malformed mail; CC0) and a bounce detector's (delivery
// reports as real mail servers write them; Apache 2.0).
inline const char* const kMimeLibraryData =
    "/usr/share/gocode/src/github.com/jhillyerd/enmime/testdata";
inline const char* const kBounceData = "/usr/lib/python3/dist-packages/flufl/bounce/tests/data";

inline std::vector<fs::path> PublicCorpusMessages() {
    std::vector<fs::path> files;
    for (const char* folder : {kMimeLibraryData, kBounceData})
        EXPECT_TRUE(fs::is_directory(folder))
            << folder << " is missing: scripts/install-deps.sh installs it";
    if (fs::is_directory(kMimeLibraryData))
        for (const auto& entry : fs::recursive_directory_iterator(kMimeLibraryData))
            if (entry.path().extension() == ".raw") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (fs::is_directory(kBounceData))
        for (const auto& f : FilesIn(kBounceData, "", ".txt")) files.push_back(f);
    return files;
}

// A message's name in the lists of expected differences: the file name, with its folder for
// the public corpora, whose folders repeat file names.
inline std::string CorpusName(const fs::path& file) {
    const std::string path = file.string();
    for (const char* folder : {kMimeLibraryData, kBounceData})
        if (path.rfind(folder, 0) == 0)
            return (file.parent_path().filename() / file.filename()).string();
    return file.filename().string();
}

// The generated corpus; the script makes it on first use and when it has changed.
inline std::vector<fs::path> GeneratedMessages() {
    const fs::path folder = fs::path(PV_TEST_DATA_DIR) / "generated" / "message";
    RunCommand(std::string(kPython) + " " + PV_TEST_DATA_DIR + "/message/make_corpus.py " +
               folder.string());
    return FilesIn(folder, "", ".eml");
}

} // namespace msgtest
