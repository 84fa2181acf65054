#include "message/msuucode.h"

#include "base/Exceptions.h"
#include "base/MessagePump.h"
#include "base/StrUtils.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

const char* const kInvalidCharacter = "Invalid Character";

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kBad = 0x80;
constexpr std::size_t kUUMaxBytes = 45;
constexpr std::size_t kUUMaxChars = 60;

// Six-bit value of every byte; "=" reads as all ones, anything outside the alphabet as kBad.
constexpr std::array<uint8_t, 256> MakeBase64Table() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = kBad;
    for (int i = 0; i < 64; ++i) t[uint8_t(kBase64Alphabet[i])] = uint8_t(i);
    t[uint8_t('=')] = 63;
    return t;
}
constexpr auto kBase64Value = MakeBase64Table();

// The two characters of every 12-bit value, so that three bytes take two look-ups.
using TCharPair = std::array<char, 2>;
constexpr std::array<TCharPair, 4096> MakeBase64Pairs() {
    std::array<TCharPair, 4096> t{};
    for (int v = 0; v < 4096; ++v) t[v] = {kBase64Alphabet[v >> 6], kBase64Alphabet[v & 63]};
    return t;
}
constexpr auto kBase64Pairs = MakeBase64Pairs();

[[noreturn]] void RaiseInvalidCharacter() {
    throw EInOutError(kInvalidCharacter);
}

// Six-bit value of a uuencoded character: a space and the backquote are 0.
inline uint8_t UUValue(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u > 96) RaiseInvalidCharacter();
    return uint8_t((u - 32) & 63);
}

inline char UUChar(unsigned v) {
    return v == 0 ? '`' : char(32 + v);
}

// Grows out by count bytes and returns where they start (no allocation while out has room).
inline char* Grow(std::string& out, std::size_t count) {
    const std::size_t old = out.size();
    out.resize(old + count);
    return out.data() + old;
}

} // namespace

void Base64DecodeAppend(std::string_view line, std::string& out) {
    ProcessMessages();
    const std::size_t groups = line.size() / 4;
    if (groups == 0) return;
    const auto* in = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t start = out.size();
    char* o = Grow(out, groups * 3);
    for (std::size_t g = 0; g < groups; ++g, in += 4, o += 3) {
        const uint32_t a = kBase64Value[in[0]], b = kBase64Value[in[1]];
        const uint32_t c = kBase64Value[in[2]], d = kBase64Value[in[3]];
        if ((a | b | c | d) & kBad) {
            out.resize(start);
            RaiseInvalidCharacter();
        }
        const uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
        o[0] = char(v >> 16);
        o[1] = char(v >> 8);
        o[2] = char(v);
    }
    // Padding at the end of the complete groups removes as many bytes as it has "=".
    std::size_t pad = 0;
    for (std::size_t i = groups * 4; i > 0 && line[i - 1] == '='; --i) ++pad;
    const std::size_t produced = groups * 3;
    out.resize(out.size() - (pad < produced ? pad : produced));
}

void TBase64Decoder::Append(std::string_view line, std::string& out) {
    if (FCarried > 0) {
        const std::size_t take = std::min(4 - FCarried, line.size());
        std::memcpy(FCarry + FCarried, line.data(), take);
        FCarried += take;
        line.remove_prefix(take);
        if (FCarried < 4) return;
        Base64DecodeAppend(std::string_view(FCarry, 4), out);
        FCarried = 0;
    }
    const std::size_t whole = line.size() / 4 * 4;
    Base64DecodeAppend(line.substr(0, whole), out);
    FCarried = line.size() - whole;
    std::memcpy(FCarry, line.data() + whole, FCarried);
}

void TBase64Decoder::Finish(std::string& out) {
    if (FCarried >= 2) {
        for (std::size_t i = FCarried; i < 4; ++i) FCarry[i] = '=';
        Base64DecodeAppend(std::string_view(FCarry, 4), out);
    }
    // A single character is six bits, no byte.
    FCarried = 0;
}

std::string Base64DecodeLine(std::string_view line) {
    std::string out;
    out.reserve(line.size() / 4 * 3);
    Base64DecodeAppend(line, out);
    return out;
}

void Base64EncodeAppend(std::string_view bytes, std::string& out) {
    ProcessMessages();
    const std::size_t n = bytes.size();
    if (n == 0) return;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    char* o = Grow(out, (n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3, o += 4) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        std::memcpy(o, kBase64Pairs[v >> 12].data(), 2);
        std::memcpy(o + 2, kBase64Pairs[v & 0xFFF].data(), 2);
    }
    if (i < n) {
        const uint32_t v = (uint32_t(in[i]) << 16) | (i + 1 < n ? uint32_t(in[i + 1]) << 8 : 0);
        o[0] = kBase64Alphabet[v >> 18];
        o[1] = kBase64Alphabet[(v >> 12) & 63];
        o[2] = i + 1 < n ? kBase64Alphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
}

std::string Base64EncodeChunk(std::string_view bytes) {
    std::string out;
    Base64EncodeAppend(bytes, out);
    return out;
}

void UUDecodeAppend(std::string_view line, std::string& out) {
    if (line.empty()) return;
    std::size_t count = UUValue(line[0]);
    if (count > kUUMaxBytes) count = kUUMaxBytes;
    const std::string_view data = line.substr(1, kUUMaxChars);
    // Every taken character is checked, also those past the count.
    std::array<uint8_t, kUUMaxChars> v{};
    for (std::size_t i = 0; i < data.size(); ++i) v[i] = UUValue(data[i]);
    // Missing characters count as 0; the bytes past the count are dropped.
    std::array<char, kUUMaxBytes> bytes;
    for (std::size_t g = 0; g < kUUMaxChars / 4; ++g) {
        const uint32_t bits = (uint32_t(v[4 * g]) << 18) | (uint32_t(v[4 * g + 1]) << 12) |
                              (uint32_t(v[4 * g + 2]) << 6) | v[4 * g + 3];
        bytes[3 * g] = char(bits >> 16);
        bytes[3 * g + 1] = char(bits >> 8);
        bytes[3 * g + 2] = char(bits);
    }
    out.append(bytes.data(), count);
}

std::string UUDecodeLine(std::string_view line) {
    std::string out;
    UUDecodeAppend(line, out);
    return out;
}

void UUEncodeAppend(std::string_view bytes, std::string& out) {
    const std::size_t n = bytes.size() < kUUMaxBytes ? bytes.size() : kUUMaxBytes;
    std::array<uint8_t, kUUMaxBytes + 3> in{};
    std::memcpy(in.data(), bytes.data(), n);
    // 45 bytes fill 60 characters; a shorter line keeps n*4/3 + 1 of them.
    const std::size_t chars = n == kUUMaxBytes ? kUUMaxChars : n * 4 / 3 + 1;
    char* line = Grow(out, chars + 1);
    line[0] = UUChar(unsigned(n));
    for (std::size_t c = 0; c < chars; c += 4) {
        const std::size_t b = c / 4 * 3;
        const uint32_t bits = (uint32_t(in[b]) << 16) | (uint32_t(in[b + 1]) << 8) | in[b + 2];
        const std::size_t take = chars - c < 4 ? chars - c : 4;
        for (std::size_t k = 0; k < take; ++k)
            line[1 + c + k] = UUChar((bits >> (18 - 6 * k)) & 63);
    }
}

std::string UUEncodeLine(std::string_view bytes) {
    std::string line;
    UUEncodeAppend(bytes, line);
    return line;
}

bool IsUUBegin(std::string_view line) {
    if (!StartsText("begin", line)) return false;
    std::size_t i = 5, blanks = 0;
    for (; i < line.size() && (line[i] == ' ' || line[i] == '\t'); ++i) ++blanks;
    std::size_t digits = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '7'; ++i) ++digits;
    if (blanks == 0 || digits < 3 || digits > 4) return false;
    if (i >= line.size() || (line[i] != ' ' && line[i] != '\t')) return false;
    return !TrimView(line.substr(i)).empty();
}

bool IsUUDataLine(std::string_view line) {
    if (line.empty()) return false;
    for (const char c : line.substr(0, kUUMaxChars + 1))
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 96) return false;
    return ((static_cast<unsigned char>(line[0]) - 32) & 63) <= kUUMaxBytes;
}

std::string UUFileName(std::string_view line) {
    // "begin", the blanks, the mode digits and the blanks after them.
    std::size_t i = 5;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    std::string_view rest = TrimView(line.substr(i < line.size() ? i : line.size()));
    if (!rest.empty() && rest[0] == '"') {
        const std::size_t close = rest.find('"', 1);
        return close == std::string_view::npos ? std::string()
                                               : std::string(rest.substr(1, close - 1));
    }
    return std::string(rest);
}
