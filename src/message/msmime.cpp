#include "message/msmime.h"

#include "base/MessagePump.h"

#include <array>
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
    const std::size_t n = line.size();
    const bool soft = n > 0 && line[n - 1] == '=';
    const std::size_t start = out.size();
    // An escape needs its two digits before the last character of the line.
    std::size_t i = 0;
    while (i < n) {
        const void* eq = std::memchr(line.data() + i, '=', n - i);
        const std::size_t at = eq ? std::size_t(static_cast<const char*>(eq) - line.data()) : n;
        out.append(line.data() + i, at - i);
        if (at >= n) break;
        if (at + 2 < n) {
            const int hi = kHexValue[static_cast<unsigned char>(line[at + 1])];
            const int lo = kHexValue[static_cast<unsigned char>(line[at + 2])];
            if (hi >= 0 && lo >= 0) {
                out.push_back(char(hi * 16 + lo));
                i = at + 3;
                continue;
            }
        }
        out.push_back('=');
        i = at + 1;
    }
    if (soft) {
        out.pop_back();
        return true;
    }
    if (out.size() == start || out.back() != '\x1a') out.append("\r\n");
    return false;
}

void TQuotedPrintable::QPDecode() {
    std::string paragraph;
    paragraph.reserve(kBlockSize);
    const int count = FLines.Count();
    for (int i = 0; i < count && !Stop;) {
        // A paragraph runs to the first line without a soft break; a very long one is
        // written in blocks.
        bool soft = true;
        while (soft && i < count && paragraph.size() < kBlockSize)
            soft = QPDecodeLineAppend(FLines[i++], paragraph);
        FStream.WriteString(paragraph);
        paragraph.clear();
        ProcessMessages();
    }
}

std::string QPDecodeText(std::string_view text) {
    std::string out;
    QPDecodeLineAppend(text, out);
    // Only the first line of what the payload decodes to.
    const std::size_t eol = out.find_first_of("\r\n");
    if (eol != std::string::npos) out.resize(eol);
    return out;
}
