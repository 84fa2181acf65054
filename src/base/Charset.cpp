#include "base/Charset.h"

#include "base/StrUtils.h"

#include <cerrno>
#include <iconv.h>
#include <memory>
#include <vector>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
constexpr char kUtf8[] = "UTF-8";
constexpr char kCp1252[] = "WINDOWS-1252";

// Mail names for charsets, and the converter's name that reads them best. Where a sender's
// label is commonly used for its superset (GB2312 mail holding GBK characters, Shift_JIS
// with the Windows extensions), the superset decodes it.
struct TAlias {
    const char* Mail;
    const char* Converter;
};
const TAlias kAliases[] = {
    {"utf8", kUtf8},
    {"latin1", kCp1252},
    {"iso-8859-1", kCp1252},
    {"iso8859-1", kCp1252},
    {"iso_8859-1", kCp1252},
    {"cp1252", kCp1252},
    {"gb2312", "GB18030"},
    {"gbk", "GB18030"},
    {"x-gbk", "GB18030"},
    {"cp936", "GB18030"},
    {"euc-cn", "GB18030"},
    {"shift_jis", "CP932"},
    {"shift-jis", "CP932"},
    {"sjis", "CP932"},
    {"x-sjis", "CP932"},
    {"windows-31j", "CP932"},
    {"iso-2022-jp", "ISO-2022-JP-2"},
    {"euc-kr", "CP949"},
    {"ks_c_5601-1987", "CP949"},
    {"ks_c_5601", "CP949"},
    {"x-windows-949", "CP949"},
    {"big5", "BIG5-HKSCS"},
    {"x-mac-roman", "MACINTOSH"},
    {"macintosh", "MACINTOSH"},
};

// Labels that say nothing about the bytes; they are read as raw 8-bit text.
const char* const kUnlabelled[] = {"us-ascii", "ascii",   "unknown-8bit",   "x-unknown",
                                   "unknown",  "default", "x-user-defined", "8bit"};

// Open converters of this thread, kept for reuse: opening one costs far more than a short
// conversion, and the message list converts a few texts per row.
class TConverterCache {
public:
    ~TConverterCache() {
        for (auto& e : FEntries)
            if (e.Cd != kFailed) iconv_close(e.Cd);
    }
    // The converter, or kFailed when iconv knows one of the names not.
    iconv_t Get(const std::string& to, const std::string& from) {
        for (auto& e : FEntries)
            if (e.To == to && e.From == from) return e.Cd;
        if (FEntries.size() >= kMaxEntries) {
            if (FEntries.front().Cd != kFailed) iconv_close(FEntries.front().Cd);
            FEntries.erase(FEntries.begin());
        }
        FEntries.push_back({to, from, iconv_open(to.c_str(), from.c_str())});
        return FEntries.back().Cd;
    }
    static inline const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);

private:
    static constexpr std::size_t kMaxEntries = 16;
    struct TEntry {
        std::string To, From;
        iconv_t Cd;
    };
    std::vector<TEntry> FEntries;
};

iconv_t Converter(const std::string& to, const std::string& from) {
    thread_local TConverterCache cache;
    return cache.Get(to, from);
}

// The converter's name for a mail charset label; "" for labels read as raw text.
std::string ConverterName(std::string_view label) {
    std::string name = LowerCase(TrimView(label));
    // RFC 2231 allows "charset*language" in encoded words.
    if (const std::size_t star = name.find('*'); star != std::string::npos) name.resize(star);
    for (const char* u : kUnlabelled)
        if (name == u) return {};
    for (const auto& a : kAliases)
        if (name == a.Mail) return a.Converter;
    return UpperCase(name);
}

bool IsAscii(std::string_view bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Length of the UTF-8 sequence at s[0], 0 when it is not a valid one.
std::size_t Utf8SequenceLength(std::string_view s, char32_t* codePoint = nullptr) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t n;
    char32_t cp;
    if (lead < 0x80) {
        if (codePoint) *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    if (codePoint) *codePoint = cp;
    return n;
}

void AppendCodePoint(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// What takes the place of input the converter rejects at in: the number of bytes it
// covers, written to out.
using TInvalidInput = std::size_t (*)(std::string_view in, std::string& out);

// Runs the whole input through cd, appending to out. invalid handles a sequence the
// converter rejects (and an incomplete one at the end); without it such a sequence ends the
// conversion and the result is false.
bool Convert(iconv_t cd, std::string_view bytes, std::string& out, TInvalidInput invalid) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // initial shift state
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    for (;;) {
        char* o = buffer;
        std::size_t oLeft = sizeof buffer;
        const std::size_t r =
            inLeft ? iconv(cd, &in, &inLeft, &o, &oLeft) : iconv(cd, nullptr, nullptr, &o, &oLeft);
        const int error = r == std::size_t(-1) ? errno : 0;
        out.append(buffer, std::size_t(o - buffer));
        if (error == E2BIG) continue;
        if (error == EILSEQ || error == EINVAL) {
            if (!invalid) return false;
            const std::size_t skip = invalid(std::string_view(in, inLeft), out);
            in += skip;
            inLeft -= skip;
            continue;
        }
        if (error != 0) return false;
        if (inLeft == 0 && o == buffer) return true;
    }
}

std::size_t ReplaceByte(std::string_view, std::string& out) {
    out += kReplacement;
    return 1;
}

// Windows-1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D undefined; they stand for themselves.
std::size_t Cp1252Undefined(std::string_view in, std::string& out) {
    AppendCodePoint(static_cast<unsigned char>(in[0]), out);
    return 1;
}

// A character the target cannot hold becomes "?"; the C1 characters that stand for the
// undefined Windows-1252 bytes go back to those bytes.
std::size_t Unmappable(std::string_view in, std::string& out) {
    char32_t cp = 0;
    const std::size_t n = Utf8SequenceLength(in, &cp);
    if (n == 2 && (cp == 0x81 || cp == 0x8D || cp == 0x8F || cp == 0x90 || cp == 0x9D))
        out += char(cp);
    else
        out += '?';
    return n ? n : 1;
}

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = Utf8SequenceLength(bytes.substr(i));
        if (n == 0) return false;
        i += n;
    }
    return true;
}

void CharsetToUtf8Append(std::string_view charset, std::string_view bytes, std::string& out) {
    const std::string name = ConverterName(charset);
    if (name == kUtf8 && IsValidUtf8(bytes)) {
        out += bytes;
        return;
    }
    const iconv_t cd = name.empty() ? TConverterCache::kFailed : Converter(kUtf8, name);
    if (cd == TConverterCache::kFailed) {
        RawToUtf8Append(bytes, out);
        return;
    }
    Convert(cd, bytes, out, name == kCp1252 ? Cp1252Undefined : ReplaceByte);
}

std::string CharsetToUtf8(std::string_view charset, std::string_view bytes) {
    std::string out;
    CharsetToUtf8Append(charset, bytes, out);
    return out;
}

void RawToUtf8Append(std::string_view bytes, std::string& out) {
    // Runs of valid UTF-8 stay; the bytes between them are Windows-1252, so a header that
    // mixes both (one part pasted from an older program) reads right in each part.
    std::size_t i = 0, valid = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        if (const std::size_t n = Utf8SequenceLength(bytes.substr(i))) {
            i += n;
            continue;
        }
        std::size_t end = i + 1;
        while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 0x80 &&
               Utf8SequenceLength(bytes.substr(end)) == 0)
            ++end;
        out += bytes.substr(valid, i - valid);
        Convert(Converter(kUtf8, kCp1252), bytes.substr(i, end - i), out, Cp1252Undefined);
        i = valid = end;
    }
    out += bytes.substr(valid);
}

std::string RawToUtf8(std::string_view bytes) {
    std::string out;
    RawToUtf8Append(bytes, out);
    return out;
}

void RawToUtf8Append(std::string_view bytes, std::string_view charset, std::string& out) {
    if (!charset.empty() && !IsValidUtf8(bytes)) {
        const std::string name = ConverterName(charset);
        const iconv_t cd =
            name.empty() || name == kUtf8 ? TConverterCache::kFailed : Converter(kUtf8, name);
        const std::size_t old = out.size();
        if (cd != TConverterCache::kFailed && Convert(cd, bytes, out, nullptr)) return;
        out.resize(old);
    }
    RawToUtf8Append(bytes, out);
}

std::string RawToUtf8(std::string_view bytes, std::string_view charset) {
    std::string out;
    RawToUtf8Append(bytes, charset, out);
    return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    std::string out;
    Convert(Converter(kUtf8, kCp1252), bytes, out, Cp1252Undefined);
    return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
    return Utf8ToCharset(utf8, kCp1252);
}

std::string Utf8ToCharset(std::string_view utf8, std::string_view charset) {
    // Output goes to the charset exactly as named: a terminal in ISO-8859-1 shows no
    // Windows-1252 characters.
    const std::string name = UpperCase(TrimView(charset));
    if (IsAscii(utf8) || name.empty() || name == kUtf8 || name == "UTF8") return std::string(utf8);
    const iconv_t cd = Converter(name, kUtf8);
    if (cd == TConverterCache::kFailed) return std::string(utf8);
    std::string out;
    Convert(cd, utf8, out, Unmappable);
    return out;
}

std::string_view Utf8Prefix(std::string_view utf8, std::size_t max) {
    if (utf8.size() <= max) return utf8;
    std::size_t end = max;
    // Back over continuation bytes to the lead byte of the cut character.
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    return utf8.substr(0, end);
}
