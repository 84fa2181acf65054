// Throughput of the mail library's content and header codecs next to GMime's on the same
// input, in one run. Every case reads at least 10 MB per iteration.
//
// Ours/X and GMime/X run the same input through our codec and GMime's. The counter
// allocs/line is the number of C++ heap allocations per input line inside the timed loop.
// PumpCost/X runs our pass without and with a no-op message pump installed, in random order,
// and compares the total times of each (the cost of ProcessMessages() as the application
// sees it).
#include "base/MessagePump.h"
#include "message/msmime.h"
#include "message/msmsgcls.h"
#include "message/mspars.h"
#include "message/msuucode.h"

#include <benchmark/benchmark.h>
#include <gmime/gmime.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

// --- allocation counter ------------------------------------------------------------------
// The replaced operators pair malloc with free; GCC cannot see that once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::size_t gAllocations = 0;
}

void* operator new(std::size_t size) {
    ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

constexpr std::size_t kInputSize = 12 * 1024 * 1024;

// --- inputs --------------------------------------------------------------------------------

std::string RandomBytes(std::size_t n) {
    std::mt19937 rng(42);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng() & 0xFF);
    return s;
}

// Latin-1 mail text: lines of 0 to 140 characters, some 8-bit words, and now and then one
// long line (HTML parts are often a single line).
std::string MailText(std::size_t n) {
    static const char* const kWords[] = {"the",
                                         "mail",
                                         "Gr\xFC\xDF"
                                         "e",
                                         "caf\xE9",
                                         "and",
                                         "of",
                                         "server",
                                         "message",
                                         "a=b",
                                         "price",
                                         "\xE0 la",
                                         "checker",
                                         "POP3",
                                         "line",
                                         "quoted",
                                         "printable"};
    std::mt19937 rng(7);
    std::string s;
    s.reserve(n + 4096);
    while (s.size() < n) {
        const std::size_t width = rng() % 50 == 0 ? 3000 : rng() % 140;
        const std::size_t start = s.size();
        while (s.size() - start < width) {
            s += kWords[rng() % 16];
            s += ' ';
        }
        if (s.size() > start) s.pop_back();
        s += "\r\n";
    }
    return s;
}

struct TInputs {
    std::string Binary = RandomBytes(kInputSize);
    std::string Text = MailText(kInputSize);
    std::string Base64, QP, UU;
    std::size_t Base64Lines = 0, QPLines = 0, QPParagraphs = 0, UULines = 0, TextLines = 0;
    TStringList QPList;
    // Header blocks, as lines and as raw text.
    std::vector<TStringList> Blocks;
    std::vector<std::string> RawBlocks;
    std::size_t HeaderBytes = 0, HeaderLines = 0, HeaderBWords = 0;

    TInputs() {
        for (std::size_t i = 0; i < Binary.size(); i += 57, ++Base64Lines) {
            Base64EncodeAppend(std::string_view(Binary).substr(i, 57), Base64);
            Base64 += "\r\n";
        }
        for (std::size_t i = 0; i < Binary.size(); i += 45, ++UULines) {
            UUEncodeAppend(std::string_view(Binary).substr(i, 45), UU);
            UU += "\r\n";
        }
        QPEncodeAppend(Text, QP);
        QPList.SetText(QP);
        QPLines = std::size_t(QPList.Count());
        for (const auto& line : QPList) QPParagraphs += line.empty() || line.back() != '=';
        for (char c : Text) TextLines += c == '\n';
        MakeHeaders();
    }

    void MakeHeaders() {
        static const char* const kSubjects[] = {
            "Re: your order of last week",
            "=?iso-8859-1?Q?Gr=FC=DFe_aus_dem_B=FCro?=",
            "=?utf-8?B?UmU6IFLDqXN1bcOpIGR1IHByb2pldA==?= (draft 2)",
            "Fwd: =?iso-8859-1?Q?Caf=E9?= =?iso-8859-1?Q?_au_lait?= tonight",
            "A plain subject line that is a little longer than most of them are, folded",
        };
        std::mt19937 rng(3);
        while (HeaderBytes < kInputSize) {
            const int n = int(Blocks.size());
            TStringList block{
                "Return-Path: <sender" + std::to_string(n) + "@example.org>",
                "Received: from mx.example.org (mx.example.org [192.0.2.1])",
                "\tby pop.example.net with ESMTP id " + std::to_string(rng()),
                "\tfor <user@example.net>; Mon, 5 Mar 2001 10:20:30 +0100",
                "Message-ID: <" + std::to_string(rng()) + "@example.org>",
                "Date: Mon, 05 Mar 2001 10:20:30 +0100",
                "From: =?iso-8859-1?Q?J=F6rg_M=FCller?= <joerg@example.org>",
                "To: \"Smith, John\" <john@example.net>, box2@example.net,",
                "  Sales Team <sales@example.net>",
                std::string("Subject: ") + kSubjects[rng() % 5],
                "MIME-Version: 1.0",
                "Content-Type: text/plain; charset=\"iso-8859-1\"",
                "Content-Transfer-Encoding: quoted-printable",
                "X-Priority: 3",
            };
            if (rng() % 5 == 4) block.Add(" and continued on a second line");
            for (const auto& line : block) // each B word decoded once per iteration
                if (line.rfind("Subject:", 0) == 0 && line.find("?B?") != std::string::npos)
                    ++HeaderBWords;
            std::string raw;
            for (const auto& line : block) raw += line + "\r\n";
            HeaderBytes += raw.size();
            HeaderLines += std::size_t(block.Count());
            Blocks.push_back(std::move(block));
            RawBlocks.push_back(std::move(raw));
        }
    }
};

const TInputs& Inputs() {
    static const TInputs inputs;
    return inputs;
}

// Calls f with every line of text (without its CR LF).
template <class F> void ForEachLine(std::string_view text, F f) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const char* stop = nl ? nl : end;
        std::size_t len = std::size_t(stop - p);
        if (len > 0 && p[len - 1] == '\r') --len;
        f(std::string_view(p, len));
        p = stop + 1;
    }
}

// One full pass of our code over an input, reusing its buffers between passes.
struct TPass {
    std::size_t Bytes, Lines;
    std::size_t PumpCalls; // ProcessMessages() calls per pass
    std::function<void()> Run;
    std::function<bool()> Check; // after a pass: the output is right
};

std::shared_ptr<std::string> Buffer(std::size_t capacity) {
    auto out = std::make_shared<std::string>();
    out->reserve(capacity + 64);
    return out;
}

// Decodes text line by line into one buffer.
template <class Decode>
TPass DecodeLinesPass(const std::string& text, std::size_t lines, std::size_t pumpCalls,
                      const std::string& expected, Decode decode) {
    auto out = Buffer(expected.size());
    return {text.size(), lines, pumpCalls,
            [&text, out, decode] {
                out->clear();
                ForEachLine(text, [&](std::string_view line) { decode(line, *out); });
                benchmark::DoNotOptimize(out->data());
            },
            [out, &expected] { return *out == expected; }};
}

// Encodes data chunk by chunk into one buffer, one CR LF line per chunk.
template <class Encode>
TPass EncodeChunksPass(const std::string& data, std::size_t chunk, const std::string& expected,
                       bool pumps, Encode encode) {
    auto out = Buffer(expected.size());
    const std::size_t lines = (data.size() + chunk - 1) / chunk;
    return {data.size(), lines, pumps ? lines : 0,
            [&data, chunk, out, encode] {
                out->clear();
                for (std::size_t i = 0; i < data.size(); i += chunk) {
                    encode(std::string_view(data).substr(i, chunk), *out);
                    *out += "\r\n";
                }
                benchmark::DoNotOptimize(out->data());
            },
            [out, &expected] { return *out == expected; }};
}

TPass Base64DecodePass() {
    const auto& in = Inputs();
    return DecodeLinesPass(in.Base64, in.Base64Lines, in.Base64Lines, in.Binary,
                           Base64DecodeAppend);
}

TPass Base64EncodePass() {
    const auto& in = Inputs();
    return EncodeChunksPass(in.Binary, 57, in.Base64, true, Base64EncodeAppend);
}

TPass QPDecodePass() {
    const auto& in = Inputs();
    return DecodeLinesPass(in.QP, in.QPLines, 0, in.Text, QPDecodeLineAppend);
}

// The class interface as the message decoder uses it: a line list into a memory stream.
TPass QPDecodeListPass() {
    const auto& in = Inputs();
    auto lines = std::make_shared<TStringList>(in.QPList);
    auto stream = std::make_shared<TMemoryStream>();
    return {in.QP.size(), in.QPLines, in.QPParagraphs,
            [&in, lines, stream] {
                stream->Clear();
                stream->Reserve(int64_t(in.Text.size()));
                TQuotedPrintable(*stream, *lines).QPDecode();
                benchmark::DoNotOptimize(stream->Memory());
            },
            [&in, stream] { return stream->View() == in.Text; }};
}

TPass QPEncodePass() {
    const auto& in = Inputs();
    auto out = Buffer(in.QP.size());
    return {in.Text.size(), in.TextLines, in.QPLines,
            [&in, out] {
                out->clear();
                QPEncodeAppend(in.Text, *out);
                benchmark::DoNotOptimize(out->data());
            },
            [&in, out] { return *out == in.QP; }};
}

// The class interface as the message encoder uses it: a stream into a line list (every line
// of the list is a string of its own).
TPass QPEncodeListPass() {
    const auto& in = Inputs();
    auto stream = std::make_shared<TMemoryStream>();
    stream->WriteString(in.Text);
    auto lines = std::make_shared<TStringList>();
    return {in.Text.size(), in.TextLines, in.QPLines,
            [&in, stream, lines] {
                lines->Clear();
                lines->Items().reserve(in.QPLines);
                TQuotedPrintable(*stream, *lines).QPEncode();
                benchmark::DoNotOptimize(lines->Items().data());
            },
            [&in, lines] { return *lines == in.QPList; }};
}

TPass UUEncodePass() {
    const auto& in = Inputs();
    return EncodeChunksPass(in.Binary, 45, in.UU, false, UUEncodeAppend);
}

TPass UUDecodePass() {
    const auto& in = Inputs();
    return DecodeLinesPass(in.UU, in.UULines, 0, in.Binary, UUDecodeAppend);
}

TPass LineSplitPass() {
    const auto& in = Inputs();
    auto stream = std::make_shared<TLineStream>();
    stream->WriteString(in.Text);
    auto count = std::make_shared<std::size_t>(0);
    return {in.Text.size(), in.TextLines, 0,
            [stream, count] {
                std::string line;
                stream->Reset();
                *count = 0;
                while (stream->ReadLine(line)) ++*count;
            },
            [&in, count] { return *count == in.TextLines; }};
}

const char* const kLookedUp[] = {"Subject", "From", "To", "Date"};

TPass HeaderValuesPass() {
    const auto& in = Inputs();
    return {in.HeaderBytes, in.HeaderLines, in.HeaderBWords,
            [&in] {
                for (const auto& block : in.Blocks)
                    for (const char* name : kLookedUp) {
                        const std::string value = GetHeaderValue(block, name);
                        benchmark::DoNotOptimize(value.data());
                    }
            },
            [] { return true; }};
}

// The same fields as Unicode text, as every display path reads them.
TPass HeaderTextPass() {
    const auto& in = Inputs();
    return {in.HeaderBytes, in.HeaderLines, in.HeaderBWords,
            [&in] {
                for (const auto& block : in.Blocks)
                    for (const char* name : kLookedUp) {
                        const std::string value = GetHeaderText(block, name);
                        benchmark::DoNotOptimize(value.data());
                    }
            },
            [] { return true; }};
}

void SetBytes(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

void Ours(benchmark::State& state, TPass (*make)()) {
    const TPass pass = make();
    const std::size_t before = gAllocations;
    for (auto _ : state) pass.Run();
    const std::size_t allocs = gAllocations - before;
    SetBytes(state, pass.Bytes);
    state.counters["allocs/line"] =
        double(allocs) / double(state.iterations()) / double(pass.Lines ? pass.Lines : 1);
    if (!pass.Check()) state.SkipWithError("wrong output");
}

void PumpCost(benchmark::State& state, TPass (*make)()) {
    const TPass pass = make();
    // Passes without and with the pump in random order, so that drift and the state the
    // previous pass left behind fall on both sides alike.
    std::mt19937 order(11);
    double total[2] = {0, 0};
    for (auto _ : state) {
        const int first = int(order() & 1);
        for (int k = 0; k < 2; ++k) {
            const int pumped = first ^ k;
            if (pumped) InstallMessagePump([] {}, 5);
            const auto start = std::chrono::steady_clock::now();
            pass.Run();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            RemoveMessagePump();
            total[pumped] += took.count();
        }
    }
    state.counters["cost_pct"] = (total[1] - total[0]) / total[0] * 100;
    state.counters["pump_calls"] = double(pass.PumpCalls);
}

// One ProcessMessages() call, without and with a pump installed.
void ProcessMessagesCall(benchmark::State& state) {
    if (state.range(0) == 1) InstallMessagePump([] {}, 5);
    for (auto _ : state) {
        ProcessMessages();
        benchmark::ClobberMemory();
    }
    RemoveMessagePump();
}

// --- GMime ---------------------------------------------------------------------------------

// Runs one of GMime's whole-buffer codec steps over input, starting from the given state.
template <class Step>
void RunGMime(benchmark::State& state, const std::string& input, std::size_t outSize,
              int initialState, Step step) {
    std::vector<unsigned char> out(outSize);
    const auto* data = reinterpret_cast<const unsigned char*>(input.data());
    for (auto _ : state) {
        int st = initialState;
        guint32 save = 0;
        benchmark::DoNotOptimize(step(data, input.size(), out.data(), &st, &save));
    }
    SetBytes(state, input.size());
}

void Base64Decode_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    RunGMime(state, in.Base64, in.Base64.size(), 0, g_mime_encoding_base64_decode_step);
}

void Base64Encode_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    RunGMime(state, in.Binary, GMIME_BASE64_ENCODE_LEN(in.Binary.size()), 0,
             g_mime_encoding_base64_encode_close);
}

void QPDecode_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    RunGMime(state, in.QP, in.QP.size(), 0, g_mime_encoding_quoted_decode_step);
}

void QPEncode_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    RunGMime(state, in.Text, GMIME_QP_ENCODE_LEN(in.Text.size()), -1,
             g_mime_encoding_quoted_encode_close);
}

void UUEncode_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    unsigned char uubuf[60];
    RunGMime(
        state, in.Binary, GMIME_UUENCODE_LEN(in.Binary.size()), 0,
        [&](const unsigned char* data, size_t len, unsigned char* out, int* st, guint32* save) {
            return g_mime_encoding_uuencode_close(data, len, out, uubuf, st, save);
        });
}

void UUDecode_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    RunGMime(state, in.UU, in.UU.size(), GMIME_UUDECODE_STATE_BEGIN, g_mime_encoding_uudecode_step);
}

void LineSplit_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    GMimeStream* mem = g_mime_stream_mem_new_with_buffer(in.Text.data(), in.Text.size());
    GMimeStream* buffered = g_mime_stream_buffer_new(mem, GMIME_STREAM_BUFFER_BLOCK_READ);
    GByteArray* line = g_byte_array_new();
    for (auto _ : state) {
        g_mime_stream_reset(buffered);
        std::size_t lines = 0;
        while (!g_mime_stream_eos(buffered)) {
            g_byte_array_set_size(line, 0);
            g_mime_stream_buffer_readln(buffered, line);
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    g_byte_array_free(line, TRUE);
    g_object_unref(buffered);
    g_object_unref(mem);
    SetBytes(state, in.Text.size());
}

// The same field lines (found by a plain scan of the raw block), unfolded and decoded by GMime.
void HeaderValues_GMime(benchmark::State& state) {
    const auto& in = Inputs();
    std::string raw;
    for (auto _ : state) {
        for (const auto& block : in.RawBlocks)
            for (const char* name : kLookedUp) {
                const std::size_t len = std::strlen(name);
                raw.clear();
                for (std::size_t p = 0; p < block.size();) {
                    const std::size_t eol = block.find('\n', p);
                    if (raw.empty() && g_ascii_strncasecmp(block.data() + p, name, len) == 0 &&
                        block[p + len] == ':') {
                        raw.assign(block, p + len + 1, eol + 1 - (p + len + 1));
                    } else if (!raw.empty()) {
                        if (block[p] != ' ' && block[p] != '\t') break;
                        raw.append(block, p, eol + 1 - p);
                    }
                    p = eol + 1;
                }
                char* unfolded = g_mime_utils_header_unfold(raw.c_str());
                char* value = g_mime_utils_header_decode_text(nullptr, unfolded);
                benchmark::DoNotOptimize(value);
                g_free(value);
                g_free(unfolded);
            }
    }
    SetBytes(state, in.HeaderBytes);
}

void PeerArgs(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

} // namespace

BENCHMARK(ProcessMessagesCall)->ArgName("pump")->Arg(0)->Arg(1);

#define PV_CASE(X)                                                                                 \
    BENCHMARK_CAPTURE(Ours, X, X##Pass)->Apply(PeerArgs);                                          \
    BENCHMARK(X##_GMime)->Name("GMime/" #X)->Apply(PeerArgs)
#define PV_PUMP_COST(X)                                                                            \
    BENCHMARK_CAPTURE(PumpCost, X, X##Pass)->Unit(benchmark::kMillisecond)->MinTime(2.0)

PV_CASE(Base64Decode);
PV_CASE(Base64Encode);
PV_CASE(QPDecode);
BENCHMARK_CAPTURE(Ours, QPDecodeList, QPDecodeListPass)->Apply(PeerArgs);
PV_CASE(QPEncode);
BENCHMARK_CAPTURE(Ours, QPEncodeList, QPEncodeListPass)->Apply(PeerArgs);
PV_CASE(UUEncode);
PV_CASE(UUDecode);
PV_CASE(LineSplit);
PV_CASE(HeaderValues);
BENCHMARK_CAPTURE(Ours, HeaderText, HeaderTextPass)->Apply(PeerArgs);
// The codecs that call ProcessMessages().
PV_PUMP_COST(Base64Decode);
PV_PUMP_COST(Base64Encode);
PV_PUMP_COST(QPDecodeList);
PV_PUMP_COST(QPEncode);
PV_PUMP_COST(QPEncodeList);
PV_PUMP_COST(HeaderValues);

// A subject of "=?a?B?x " repeated (none of them a complete encoded word), in KB.
void HostileSubject(benchmark::State& state) {
    std::string field;
    while (field.size() < std::size_t(state.range(0)) * 1024) field += "=?a?B?x ";
    std::string out;
    for (auto _ : state) {
        out.clear();
        DecodeHeaderTextAppend(field, out);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state, field.size());
}
BENCHMARK(HostileSubject)->ArgName("KB")->Arg(80)->Arg(320)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    g_mime_init();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Inputs();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_mime_shutdown();
    return 0;
}
