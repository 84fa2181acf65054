// The header codecs on the header blocks of Python's email test messages, compared with what
// Python's email package reads from them (tests/data/message/python-email-headers.txt, made by
// tests/message/python_email_headers.py).
#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "base/StringList.h"
#include "message/msmsgcls.h"
#include "message/mspars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

} // namespace

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
