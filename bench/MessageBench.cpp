// The message decoder and encoder next to GMime on the same corpus, in one run.
//
//   message_bench CORPUS_DIR [benchmark flags]   throughput over every *.eml of the folder
//                                                except single-*.eml
//   message_bench --peak ours|gmime FILE         peak memory of decoding and encoding one
//                                                message, as JSON
//
// bench/run-messages.sh builds the corpus, runs this and Python's email package, and prints
// the table of docs/BENCHMARKS.md.
#include "base/Streams.h"
#include "message/msmsg.h"

#include <benchmark/benchmark.h>
#include <gmime/gmime.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> gMessages;
int64_t gBytes = 0;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void LoadCorpus(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".eml" && name.rfind("single-", 0) != 0)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        gMessages.push_back(ReadFile(f));
        gBytes += int64_t(gMessages.back().size());
    }
}

void Count(benchmark::State& state) {
    state.SetBytesProcessed(int64_t(state.iterations()) * gBytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(gMessages.size()));
}

// --- ours ------------------------------------------------------------------------------------

void DecodeOurs(const std::string& text, TmsMessage& message) {
    TMemoryStream stream;
    stream.WriteString(text);
    stream.SetPosition(0);
    message.Clear();
    message.LoadFromStream(stream);
}

void BM_OursDecode(benchmark::State& state) {
    TmsMessage message;
    for (auto _ : state)
        for (const auto& text : gMessages) DecodeOurs(text, message);
    Count(state);
}

void BM_OursEncode(benchmark::State& state) {
    std::vector<std::unique_ptr<TmsMessage>> decoded;
    for (const auto& text : gMessages) {
        decoded.push_back(std::make_unique<TmsMessage>());
        DecodeOurs(text, *decoded.back());
    }
    for (auto _ : state)
        for (const auto& m : decoded) {
            TMemoryStream out;
            m->SaveToStream(out);
            benchmark::DoNotOptimize(out.Memory());
        }
    Count(state);
}

// --- GMime -----------------------------------------------------------------------------------

GMimeMessage* ParseGMime(const std::string& text) {
    GMimeStream* stream =
        g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(text.data()), text.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    return message;
}

// Decodes the content of every leaf part, as our decoder does.
void DecodeGMimeParts(GMimeMessage* message) {
    g_mime_message_foreach(
        message,
        [](GMimeObject*, GMimeObject* part, gpointer) {
            if (!GMIME_IS_PART(part)) return;
            GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
            if (!content) return;
            GMimeStream* sink = g_mime_stream_null_new();
            g_mime_data_wrapper_write_to_stream(content, sink);
            g_object_unref(sink);
        },
        nullptr);
}

void BM_GMimeParse(benchmark::State& state) {
    for (auto _ : state)
        for (const auto& text : gMessages) {
            GMimeMessage* message = ParseGMime(text);
            if (message) g_object_unref(message);
        }
    Count(state);
}

void BM_GMimeParseAndDecode(benchmark::State& state) {
    for (auto _ : state)
        for (const auto& text : gMessages) {
            GMimeMessage* message = ParseGMime(text);
            if (!message) continue;
            DecodeGMimeParts(message);
            g_object_unref(message);
        }
    Count(state);
}

void BM_GMimeWrite(benchmark::State& state) {
    std::vector<GMimeMessage*> parsed;
    for (const auto& text : gMessages) parsed.push_back(ParseGMime(text));
    for (auto _ : state)
        for (GMimeMessage* message : parsed) {
            if (!message) continue;
            GMimeStream* out = g_mime_stream_mem_new();
            g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out);
            g_object_unref(out);
        }
    for (GMimeMessage* message : parsed)
        if (message) g_object_unref(message);
    Count(state);
}

BENCHMARK(BM_OursDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GMimeParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GMimeParseAndDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GMimeWrite)->Unit(benchmark::kMillisecond);

// --- peak memory -----------------------------------------------------------------------------

// The process's peak resident size so far, in bytes (VmHWM).
long long PeakBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return 0;
}

int Peak(const std::string& who, const fs::path& file) {
    const long long base = PeakBytes();
    const long long size = (long long)fs::file_size(file);
    long long afterDecode = 0, afterEncode = 0;
    if (who == "ours") {
        auto input = std::make_unique<TMemoryStream>();
        input->LoadFromFile(file.string());
        TmsMessage message;
        message.LoadFromStream(*input);
        afterDecode = PeakBytes();
        input.reset();
        TMemoryStream output;
        message.SaveToStream(output);
        afterEncode = PeakBytes();
    } else {
        g_mime_init();
        std::string text = ReadFile(file);
        GMimeMessage* message = ParseGMime(text);
        DecodeGMimeParts(message);
        afterDecode = PeakBytes();
        text.clear();
        text.shrink_to_fit();
        GMimeStream* out = g_mime_stream_mem_new();
        g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out);
        afterEncode = PeakBytes();
        g_object_unref(out);
        g_object_unref(message);
    }
    std::printf("{\"who\":\"%s\",\"size\":%lld,\"decode\":%lld,\"encode\":%lld}\n", who.c_str(),
                size, afterDecode - base, afterEncode - base);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0) return Peak(argv[2], argv[3]);
    if (argc < 2 || argv[1][0] == '-') {
        std::cerr << "usage: message_bench CORPUS_DIR [benchmark flags] | --peak ours|gmime FILE\n";
        return 2;
    }
    LoadCorpus(argv[1]);
    std::cerr << "corpus: " << gMessages.size() << " messages, " << gBytes << " bytes\n";
    g_mime_init();
    argv[1] = argv[0];
    --argc;
    ++argv;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_mime_shutdown();
    return 0;
}
