#include "message/msmime.h"

#include "base/MessagePump.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// Source characters on one encoded line before a soft break.
constexpr std::size_t kLineChars = 65;
// Bytes the line cutter must see past the line start: the 65 characters, the one it looks at
// and the LF of a CR LF that starts there.
constexpr std::size_t kLookAhead = kLineChars + 2;
// Stream block read by QPEncode, and the decoded bytes QPDecode collects before it writes.
constexpr std::size_t kBlockSize = 64 * 1024;

constexpr char kHex[] = "0123456789ABCDEF";

constexpr std::array<bool, 256> MakeEscapeTable() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = c < 32 || c == '=' || c >= 128;
    return t;
}
constexpr auto kMustEscape = MakeEscapeTable();

constexpr std::array<int8_t, 256> MakeHexTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 10; ++i) t['0' + i] = int8_t(i);
    for (int i = 0; i < 6; ++i) t['A' + i] = t['a' + i] = int8_t(10 + i);
    return t;
}
constexpr auto kHexValue = MakeHexTable();

inline char* PutEscape(char* w, unsigned char c) {
    w[0] = '=';
    w[1] = kHex[c >> 4];
    w[2] = kHex[c & 15];
    return w + 3;
}

// Turns bytes into quoted-printable lines. CR LF is the line break of the text; every other
// CR or LF is data and escaped, so decoding gives back exactly the bytes that went in.
// Text longer than 65 characters without a line break is cut at a space where one is near
// and continued after a soft break ("="). Data that does not end with CR LF ends with a soft
// break, so no line end is added on decoding.
class TQPLineEncoder {
public:
    TQPLineEncoder(std::string& out, const bool* stop) : FOut(out), FStop(stop) {}

    // Encodes the lines that data holds completely and appends each to out with CR LF.
    // Unless final, a line is only written when enough text follows it to decide where it
    // ends. Returns the number of bytes consumed.
    std::size_t Encode(std::string_view data, bool final) {
        const std::size_t n = data.size();
        std::size_t p = 0;
        while (p < n && !(FStop && *FStop)) {
            if (!final && n - p < kLookAhead) break;
            const std::size_t brk = FindBreak(data, p, n);
            if (brk != std::string_view::npos) {
                PutHardLine(data.substr(p, brk - p));
                p = brk + 2;
            } else if (n - p <= kLineChars) { // final is set here
                PutLine(data.substr(p), true);
                p = n;
            } else {
                const std::size_t q = p + kLineChars;
                std::size_t end = q;
                while (end > p && data[end] != ' ') --end;
                if (end == p) end = q;
                PutLine(data.substr(p, end - p), true);
                p = end;
            }
        }
        return p;
    }

private:
    // A CR LF whose CR lies within the next 65 characters plus the one the cutter looks at.
    static std::size_t FindBreak(std::string_view data, std::size_t p, std::size_t n) {
        const std::size_t last = p + kLineChars + 1 < n - 1 ? p + kLineChars + 1 : n - 1;
        for (std::size_t i = p; i < last;) {
            const void* cr = std::memchr(data.data() + i, '\r', last - i);
            if (!cr) break;
            i = std::size_t(static_cast<const char*>(cr) - data.data());
            if (data[i + 1] == '\n') return i;
            ++i;
        }
        return std::string_view::npos;
    }

    void PutHardLine(std::string_view src) {
        // A line ending in Ctrl-Z would lose its line break on decoding; end it with a soft
        // break and give the line break an empty line of its own.
        if (!src.empty() && src.back() == '\x1a') {
            PutLine(src, true);
            PutLine({}, false);
        } else {
            PutLine(src, false);
        }
    }

    void PutLine(std::string_view src, bool soft) {
        const std::size_t old = FOut.size();
        FOut.resize(old + src.size() * 3 + 3);
        char* w = FOut.data() + old;
        const auto* s = reinterpret_cast<const unsigned char*>(src.data());
        for (std::size_t i = 0; i < src.size(); ++i) {
            if (kMustEscape[s[i]])
                w = PutEscape(w, s[i]);
            else
                *w++ = char(s[i]);
        }
        // A blank at the end of a line may be stripped in transport; escape it.
        if (!soft && !src.empty() && src.back() == ' ') w = PutEscape(w - 1, ' ');
        if (soft) *w++ = '=';
        *w++ = '\r';
        *w++ = '\n';
        FOut.resize(std::size_t(w - FOut.data()));
        ProcessMessages();
    }

    std::string& FOut;
    const bool* FStop;
};

} // namespace

void QPEncodeAppend(std::string_view bytes, std::string& out) {
    TQPLineEncoder(out, nullptr).Encode(bytes, true);
}

void TQuotedPrintable::QPEncode() {
    std::string block(kBlockSize, '\0'), window, encoded;
    window.reserve(kBlockSize + kLookAhead);
    TQPLineEncoder encoder(encoded, &Stop);
    FStream.SetPosition(0);
    bool final = false;
    while (!final && !Stop) {
        const int64_t got = FStream.Read(block.data(), int64_t(kBlockSize));
        final = got <= 0;
        if (!final) window.append(block.data(), std::size_t(got));
        window.erase(0, encoder.Encode(window, final));
        // Every line is followed by CR LF and holds no bare CR or LF of its own.
        std::string_view text = encoded;
        for (std::size_t eol; (eol = text.find('\r')) != std::string_view::npos;) {
            FLines.Add(std::string(text.substr(0, eol)));
            text.remove_prefix(eol + 2);
        }
        encoded.clear();
    }
}

bool QPDecodeLineAppend(std::string_view line, std::string& out) {
    // Blanks after a soft break were added in transport.
    std::size_t text = line.size();
    while (text > 0 && (line[text - 1] == ' ' || line[text - 1] == '\t')) --text;
    if (text > 0 && line[text - 1] == '=') line = line.substr(0, text);
    const std::size_t n = line.size();
    const bool soft = n > 0 && line[n - 1] == '=';
    // The decoded line is never longer than the line plus CR LF.
    const std::size_t start = out.size();
    out.resize(start + n + 2);
    char* const begin = out.data() + start;
    char* w = begin;
    const auto* s = reinterpret_cast<const unsigned char*>(line.data());
    // An escape needs its two digits before the last character of the line.
    const std::size_t escapesEnd = n >= 2 ? n - 2 : 0;
    std::size_t i = 0;
    while (i < n) {
        // Eight bytes at a time up to the next "=" (the output never runs ahead of the input,
        // so the copy stays inside the room made above).
        if constexpr (std::endian::native == std::endian::little) {
            if (i + 8 <= n) {
                uint64_t x;
                std::memcpy(&x, s + i, 8);
                std::memcpy(w, &x, 8);
                const uint64_t y = x ^ 0x3D3D3D3D3D3D3D3DULL;
                const uint64_t eq = (y - 0x0101010101010101ULL) & ~y & 0x8080808080808080ULL;
                const std::size_t skip = eq ? std::size_t(__builtin_ctzll(eq)) / 8 : 8;
                w += skip;
                i += skip;
                if (skip == 8) continue;
            }
        }
        const unsigned char c = s[i];
        if (c == '=' && i < escapesEnd) {
            const int hi = kHexValue[s[i + 1]], lo = kHexValue[s[i + 2]];
            if ((hi | lo) >= 0) {
                *w++ = char(hi * 16 + lo);
                i += 3;
                continue;
            }
        }
        *w++ = char(c);
        ++i;
    }
    if (soft) {
        --w; // the "=" of the soft break
    } else if (w == begin || w[-1] != '\x1a') {
        *w++ = '\r';
        *w++ = '\n';
    }
    out.resize(std::size_t(w - out.data()));
    return soft;
}

void TQuotedPrintable::QPDecode() {
    // Paragraphs are collected and written in blocks; a very long paragraph is written in
    // several.
    std::string block;
    block.reserve(kBlockSize + 256);
    const auto& lines = FLines.Items();
    for (std::size_t i = 0; i < lines.size() && !Stop;) {
        bool soft = true;
        while (soft && i < lines.size() && block.size() < kBlockSize)
            soft = QPDecodeLineAppend(lines[i++], block);
        if (block.size() >= kBlockSize) {
            FStream.WriteString(block);
            block.clear();
        }
        ProcessMessages();
    }
    FStream.WriteString(block);
}

std::string QPDecodeText(std::string_view text) {
    std::string out;
    QPDecodeLineAppend(text, out);
    // Only the first line of what the payload decodes to.
    const std::size_t eol = out.find_first_of("\r\n");
    if (eol != std::string::npos) out.resize(eol);
    return out;
}
