// The header codecs on the header blocks of Python's email test messages, compared with what
// Python's email package reads from them (tests/data/message/python-email-headers.txt, made by
// tests/message/python_email_headers.py), and on the test mail of mail-parsing packages,
// compared with the same script as it runs.
#include "MessageCorpus.h"
#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "base/StringList.h"
#include "message/msmsgcls.h"
#include "message/mspars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path kPythonData = "/usr/lib/python3.11/test/test_email/data";
const fs::path kExpected = fs::path(PV_TEST_DATA_DIR) / "message" / "python-email-headers.txt";

void DumpAddresses(const TStringList& lines, const char* field, std::ostringstream& out) {
    TStringList items;
    GetHeaderAddresses(lines, field, items);
    for (const auto& item : items) {
        TmsMailAddress address;
        try {
            ParseMailAddress(item, address);
            out << field << ": " << address.Name() << " | " << address.Address() << "\n";
        } catch (const Exception& e) {
            out << field << ": ! " << e.Message << "\n";
        }
    }
}

// The fields the program reads from a header block, one per line.
std::string Dump(const TStringList& lines) {
    std::ostringstream out;
    out << "Subject: " << GetHeaderValue(lines, "Subject") << "\n";
    for (const char* field : {"From", "To", "Cc"}) DumpAddresses(lines, field, out);
    TDateTime date;
    std::string zone;
    if (ParseMailDate(GetHeaderValue(lines, "Date"), date, zone)) {
        int y, mo, d, h, mi, s;
        DecodeDateTime(date, y, mo, d, h, mi, s);
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
        out << "Date: " << text << "\n";
    }
    const std::string type = GetHeaderValue(lines, "Content-Type");
    if (!type.empty()) {
        out << "Type: " << LowerCase(GetMediaType(type)) << "\n";
        for (const char* param : {"boundary", "charset"})
            if (const std::string value = GetHeaderParam(param, type); !value.empty())
                out << "Param " << param << ": " << value << "\n";
    }
    return out.str();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The dump of every message, by its name.
std::map<std::string, std::string> Blocks(const std::string& dump) {
    std::map<std::string, std::string> blocks;
    std::istringstream lines(dump);
    std::string* block = nullptr;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("== ", 0) == 0)
            block = &blocks[line.substr(3)];
        else if (block)
            *block += line + "\n";
    }
    return blocks;
}

const char* const kEncodedWords =
    "the 8-bit value has its encoded words decoded to the bytes of their charset; compat32 "
    "leaves them as written (the Unicode views are compared in UnicodeDifferential)";

// Messages whose fields we read otherwise than Python's compat32 policy, with the reason.
const std::map<std::string, std::string> kExpectedDifferences = {
    {"mail/qp-ascii-header.raw", kEncodedWords},
    {"mail/qp-utf8-header.raw", kEncodedWords},
    {"mail/qp-utf8-header-no-break.raw", kEncodedWords},
    {"mail/qp-utf8-header-recursed.raw", kEncodedWords},
    {"data/simple_13.txt", kEncodedWords},
    {"data/simple_22.txt", kEncodedWords},
    {"data/simple_39.txt", kEncodedWords},
    {"mail/malformed-multiple-address-header-values.raw",
     "two addresses without a comma: we read one, the first mailbox with the text around it "
     "as the name"},
    {"mail/mime-bad-8bit-filename.raw",
     "an address list ending in a comma: we read its address, Python none"},
    {"data/simple_35.txt", "a mailbox with a backslash: we keep it as written, Python reads none"},
    {"parts/missing-closing-param-quote.raw",
     "a parameter whose closing quote is missing: we drop the opening quote, Python keeps it"},
    {"data/yahoo_02.txt", "a date written month first (\"Wednesday, April 03, 2002 5:56 AM\"): "
                          "Python reads it, we read no date"},
};

} // namespace

TEST(RealHeaders, TestMailOfMailParsingPackagesReadsAsPythonReadsIt) {
    const std::vector<fs::path> files = msgtest::PublicCorpusMessages();
    ASSERT_GT(files.size(), 150u);
    const std::map<std::string, std::string> peer =
        Blocks(msgtest::RunCommand(std::string(msgtest::kPython) + " " + PV_TEST_DATA_DIR +
                                   "/../message/python_email_headers.py " +
                                   msgtest::kMimeLibraryData + " " + msgtest::kBounceData));
    ASSERT_EQ(peer.size(), files.size());
    int differing = 0;
    for (const auto& file : files) {
        const std::string name = msgtest::CorpusName(file);
        TStringList lines;
        lines.SetText(ReadFile(file));
        const std::string ours = Dump(lines);
        const auto python = peer.find(name);
        ASSERT_NE(python, peer.end()) << name;
        const auto expected = kExpectedDifferences.find(name);
        if (ours == python->second) {
            EXPECT_EQ(expected, kExpectedDifferences.end())
                << name << " is listed as differing but agrees with Python now";
            continue;
        }
        ++differing;
        EXPECT_NE(expected, kExpectedDifferences.end()) << name << "\n-- ours:\n"
                                                        << ours << "-- Python:\n"
                                                        << python->second;
    }
    std::cout << "compared " << files.size() << " header blocks with Python, " << differing
              << " differ as listed\n";
}

TEST(RealHeaders, PythonEmailTestMessagesReadAsPythonReadsThem) {
    if (!fs::is_directory(kPythonData)) GTEST_SKIP() << "no Python email test data";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kPythonData))
        if (entry.path().filename().string().rfind("msg_", 0) == 0) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 40u);

    std::string actual;
    for (const auto& file : files) {
        // The whole message, as after TOP: the lookups stop at the end of the header block.
        TStringList lines;
        lines.SetText(ReadFile(file));
        actual += "== " + file.filename().string() + "\n" + Dump(lines);
    }
    const std::string expected = ReadFile(kExpected);
    if (actual != expected) {
        const fs::path got = kExpected.string() + ".actual";
        std::ofstream(got, std::ios::binary) << actual;
        FAIL() << "differs from " << kExpected << "; see " << got;
    }
}
