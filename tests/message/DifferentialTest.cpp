// Our decoder and encoder against Python's email package, a peer nobody here wrote.
//
// For every message the attachments our decoder returns for base64 and quoted-printable parts
// must have the bytes Python's get_payload(decode=True) gives for the same parts, and the file
// our encoder writes must parse in Python to the same attachments. Where our rules differ from
// Python's on purpose, the message is listed with the reason; a listed message that no longer
// differs fails too, so the list stays true.
#include "MessageCorpus.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <sstream>

using namespace msgtest;

namespace {

const char* const kFallback = "the structure is broken, so our decoder keeps the whole text as "
                              "original.eml where Python guesses at the parts";

// Messages whose attachments differ from Python's on purpose, with the reason.
const std::map<std::string, std::string> kExpectedDifferences = {
    {"msg_15.txt", "the nested block reuses the outer boundary and its base64 part holds no "
                   "base64; Python skips the bad characters, we keep the original instead"},
    {"msg_17.txt", std::string(kFallback) + " (no delimiter at all)"},
    {"msg_25.txt", std::string(kFallback) + " (the boundary parameter is never used)"},
    {"msg_31.txt", std::string(kFallback) + " (the delimiters do not match the parameter)"},
    {"msg_41.txt", std::string(kFallback) + " (multipart without a boundary)"},
    {"boundary-missing.eml", std::string(kFallback) + " (no boundary parameter)"},
    {"mail/header-only.raw", std::string(kFallback) + " (a multipart with no body at all)"},
    {"mail/mime-bad-content-transfer-encoding.raw",
     "a text part labelled base64 holds plain words; Python skips what is not base64, we "
     "keep the original instead"},
    {"low-quality/bad-header-wrap.raw",
     "a part's header line is folded without a leading blank; Python ends the part's header "
     "block there and takes the rest for data, we read the header block to its empty line "
     "and decode the part"},
    {"mail/qp-utf8-header-no-break.raw",
     "no empty line after the header block; Python ends it at the first line that is no "
     "field, we at the first empty line, so the first alternative's delimiter is read as a "
     "header line and its text as preamble"},
    {"data/dsn_14.txt", "a quoted-printable message/delivery-status part: Python parses it "
                        "into field blocks and gives no bytes, we decode its bytes"},
    {"boundary-never-closed.eml", std::string(kFallback) + " (the text part never ends)"},
    {"boundary-wrong.eml", std::string(kFallback) + " (the delimiters do not match)"},
};

struct TPeerPart {
    std::string Cte, Kind;
    fs::path Payload;
};

// Runs the Python peer on the files; the parts it picked, by file index.
std::map<int, std::vector<TPeerPart>> Peer(const fs::path& outDir,
                                           const std::vector<fs::path>& files) {
    fs::create_directories(outDir);
    std::string command = std::string(kPython) + " " + PV_TEST_DATA_DIR +
                          "/message/python_peer.py '" + outDir.string() + "'";
    for (const auto& f : files) command += " '" + f.string() + "'";
    std::map<int, std::vector<TPeerPart>> parts;
    std::istringstream lines(RunCommand(command));
    int k, i;
    std::string cte, kind;
    while (lines >> k >> i >> cte >> kind) {
        auto& list = parts[k];
        if (i >= 0)
            list.push_back({cte, kind, outDir / (std::to_string(k) + "." + std::to_string(i))});
    }
    return parts;
}

// What differs between our attachments and the parts Python found; empty when nothing.
std::vector<std::string> Compare(const TmsMessage& ours, const std::vector<TPeerPart>& original,
                                 const std::vector<TPeerPart>& saved) {
    std::vector<std::string> problems;
    const TmsAttList& attachments = ours.Attachments();
    if (int(original.size()) != attachments.Count())
        problems.push_back("Python finds " + std::to_string(original.size()) +
                           " attachment parts, we " + std::to_string(attachments.Count()));
    if (int(saved.size()) != attachments.Count())
        problems.push_back("in our file Python finds " + std::to_string(saved.size()) +
                           " attachment parts, we decoded " + std::to_string(attachments.Count()));
    for (int i = 0; i < attachments.Count(); ++i) {
        const TmsAttItem& item = attachments.Items(i);
        const std::string label = "attachment " + std::to_string(i) + " (" + item.FileName() + ")";
        if (item.Encoding() != aeSevenBit && i < int(original.size())) {
            const TPeerPart& p = original[std::size_t(i)];
            if (p.Kind != "bytes")
                problems.push_back(label + ": Python gives no bytes");
            else if (ReadBytes(p.Payload) != item.Data.View())
                problems.push_back(label + ": bytes differ from Python's");
        }
        if (i < int(saved.size()) && saved[std::size_t(i)].Kind == "bytes" &&
            ReadBytes(saved[std::size_t(i)].Payload) != item.Data.View())
            problems.push_back(label + ": our file gives Python other bytes");
    }
    return problems;
}

void Differential(const std::vector<fs::path>& files) {
    ASSERT_FALSE(files.empty());
    TTempDir dir;
    fs::create_directories(dir.Path / "in");
    fs::create_directories(dir.Path / "out");
    std::vector<fs::path> inputs, outputs;
    std::vector<std::unique_ptr<TmsMessage>> ours;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string text = WithCRLF(ReadBytes(files[k]));
        inputs.push_back(dir.Path / "in" / (std::to_string(k) + ".eml"));
        outputs.push_back(dir.Path / "out" / (std::to_string(k) + ".eml"));
        WriteBytes(inputs.back(), text);
        ours.push_back(Decode(text));
        WriteBytes(outputs.back(), Encode(*ours.back()));
    }
    auto original = Peer(dir.Path / "python-in", inputs);
    auto saved = Peer(dir.Path / "python-out", outputs);
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string name = CorpusName(files[k]);
        if (ours[k]->Encoding() == meUU) {
            std::cout << "[ differs  ] " << name
                      << ": uuencoded blocks are no MIME parts, Python does not decode them\n";
            continue;
        }
        const auto problems = Compare(*ours[k], original[int(k)], saved[int(k)]);
        std::string listed;
        for (const auto& p : problems) listed += "\n  " + p;
        const auto expected = kExpectedDifferences.find(name);
        if (expected != kExpectedDifferences.end()) {
            std::cout << "[ differs  ] " << name << ": " << expected->second << listed << "\n";
            EXPECT_FALSE(problems.empty()) << name << " is listed as different but agrees now";
        } else {
            EXPECT_TRUE(problems.empty()) << name << listed;
        }
    }
}

TEST(Differential, PythonEmailTestMessages) {
    Differential(PythonEmailMessages());
}

TEST(Differential, GeneratedCorpus) {
    Differential(GeneratedMessages());
}

TEST(Differential, TestMailOfMailParsingPackages) {
    Differential(PublicCorpusMessages());
}

} // namespace
