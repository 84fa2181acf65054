#include "message/mspars.h"

#include "base/Charset.h"
#include "base/Exceptions.h"
#include "base/StrUtils.h"
#include "message/msmime.h"
#include "message/msuucode.h"

#include <cctype>
#include <cmath>
#include <cstring>

namespace {

const char* const kUnableToParseAddress = "Unable to parse email address";
const char* const kOctetStream = "application/octet-stream";
const char* const kMonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
// Fields whose values are returned as written, neither decoded nor cut.
const char* const kRawFields[] = {"Content-Type", "X-UIDL"};

constexpr std::size_t npos = std::string_view::npos;

inline bool IsWsp(char c) {
    return c == ' ' || c == '\t';
}
inline bool IsContinuation(const std::string& line) {
    return !line.empty() && IsWsp(line[0]);
}

std::string_view WithoutColon(std::string_view name) {
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    return name;
}

// True when line is the field called name: the name, without regard to case, then a colon.
inline bool IsField(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' && StartsText(name, line);
}

// Calls visit(index) for every field called name in the header block, which ends at the
// first empty line after a field (a header list may go on with body lines). visit returns
// false to stop.
template <class Visit>
void ForEachField(const TStringList& headers, std::string_view name, Visit visit) {
    name = WithoutColon(name);
    const auto& lines = headers.Items();
    bool seenField = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty()) {
            if (seenField) return;
            continue;
        }
        seenField = true;
        if (IsField(lines[i], name) && !visit(i)) return;
    }
}

// The field's value with its continuation lines, unfolded as received.
void AppendUnfolded(const std::vector<std::string>& lines, std::size_t field, std::size_t nameLen,
                    std::string& out) {
    out.append(lines[field], nameLen + 1);
    for (std::size_t k = field + 1; k < lines.size() && IsContinuation(lines[k]); ++k)
        out += lines[k];
}

struct TEncodedWord {
    std::size_t End; // just past the closing "?="
    std::string_view Charset;
    char Encoding;
    std::string_view Payload;
};

// Where the next "?=" stands, for scans that move forward through one text: a search that
// found nothing, or found a marker still ahead, answers every later start without scanning
// again, so all the scans of one text together read it about once.
class TCloseMarks {
public:
    explicit TCloseMarks(std::string_view text) : FText(text) {}
    std::size_t From(std::size_t at) {
        if (!FSearched || at < FFrom || (FFound != npos && FFound < at)) {
            FFrom = at;
            FFound = FText.find("?=", at);
            FSearched = true;
        }
        return FFound;
    }

private:
    std::string_view FText;
    bool FSearched = false;
    std::size_t FFrom = 0, FFound = npos;
};

// Reads "=?charset?e?payload?=" starting at text[at]. The charset holds no blanks; the
// payload runs to the first "?=" after the "?" that ends the encoding letter.
bool ScanEncodedWord(std::string_view text, std::size_t at, TCloseMarks& marks,
                     TEncodedWord& word) {
    std::size_t q = at + 2;
    while (q < text.size() && text[q] != '?' && !IsWsp(text[q])) ++q;
    if (q == at + 2 || q + 2 >= text.size() || text[q] != '?' || text[q + 2] != '?') return false;
    const std::size_t payload = q + 3;
    const std::size_t end = marks.From(payload);
    if (end == npos) return false;
    word = {end + 2, text.substr(at + 2, q - at - 2), text[q + 1],
            text.substr(payload, end - payload)};
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    const char l = LoCase(c);
    return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

// A Q payload: "_" is a space, "=" and two hexadecimal digits a byte ("=5F" stays an
// underscore). Only the first line of what it decodes to counts.
void QDecodeAppend(std::string_view payload, std::string& out) {
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        if (c == '=' && i + 2 < payload.size() && HexValue(payload[i + 1]) >= 0 &&
            HexValue(payload[i + 2]) >= 0) {
            out += char(HexValue(payload[i + 1]) * 16 + HexValue(payload[i + 2]));
            i += 2;
        } else {
            out += c == '_' ? ' ' : c;
        }
    }
    const std::size_t eol = out.find_first_of("\r\n", start);
    if (eol != npos) out.resize(eol);
}

// A B payload; senders often leave out the padding of the last group. False when the
// payload is no base64 (EInOutError from the decoder, or a last group of one character).
bool BDecodeAppend(std::string_view payload, std::string& out) {
    const std::size_t whole = payload.size() / 4 * 4;
    const std::string_view rest = payload.substr(whole);
    if (rest.size() == 1) return false;
    Base64DecodeAppend(payload.substr(0, whole), out);
    if (rest.empty()) return true;
    char group[4] = {'=', '=', '=', '='};
    rest.copy(group, rest.size());
    Base64DecodeAppend(std::string_view(group, 4), out);
    return true;
}

// Decodes the payload of an encoded word; false when the word is to stay as written
// (an unknown encoding, or base64 with characters outside the alphabet).
bool DecodeWord(const TEncodedWord& word, std::string& out) {
    switch (UpCase(word.Encoding)) {
    case 'B':
        try {
            return BDecodeAppend(word.Payload, out);
        } catch (const EInOutError&) {
            return false;
        }
    case 'Q':
        QDecodeAppend(word.Payload, out);
        return true;
    default:
        return false;
    }
}

bool IsAllBlank(std::string_view s) {
    for (char c : s)
        if (!IsWsp(c) && c != '\r' && c != '\n') return false;
    return true;
}

// Walks text once, handing what it holds to the sink in order: sink.Text(view) for text
// as written, sink.Word(charset, bytes) for the decoded bytes of an encoded word. Blanks
// between two encoded words are dropped (RFC 2047, 6.2); a word that cannot be decoded
// stays as written.
template <class Sink> void WalkEncodedWords(std::string_view text, Sink& sink) {
    TCloseMarks marks(text);
    std::string decoded;
    std::size_t copied = 0; // input before this position has gone to the sink
    bool afterWord = false; // what went to the sink last is a decoded word
    std::size_t start = text.find("=?");
    while (start != npos) {
        TEncodedWord word;
        decoded.clear();
        if (ScanEncodedWord(text, start, marks, word) && DecodeWord(word, decoded)) {
            const std::string_view between = text.substr(copied, start - copied);
            if (!between.empty() && !(afterWord && IsAllBlank(between))) sink.Text(between);
            sink.Word(word.Charset, decoded);
            copied = word.End;
            afterWord = true;
            start = text.find("=?", copied);
        } else {
            start = text.find("=?", start + 2);
        }
    }
    if (copied < text.size()) sink.Text(text.substr(copied));
}

// Collects the bytes as they are: the 8-bit form.
struct TByteSink {
    std::string& Out;
    void Text(std::string_view text) { Out += text; }
    void Word(std::string_view, std::string_view bytes) { Out += bytes; }
};

// Converts to UTF-8. Adjacent words in the same charset are converted together, so a
// character that a sender split between two words comes out whole. Raw 8-bit text is read in
// rawCharset where it is valid there and not UTF-8.
class TUnicodeSink {
public:
    TUnicodeSink(std::string& out, std::string_view rawCharset)
        : FOut(out), FRawCharset(rawCharset) {}
    ~TUnicodeSink() { Flush(); }
    void Text(std::string_view text) {
        Flush();
        RawToUtf8Append(text, FRawCharset, FOut);
    }
    void Word(std::string_view charset, std::string_view bytes) {
        if (!SameText(charset, FCharset)) Flush();
        FCharset = charset;
        FBytes += bytes;
    }

private:
    void Flush() {
        if (!FBytes.empty()) CharsetToUtf8Append(FCharset, FBytes, FOut);
        FBytes.clear();
        FCharset = {};
    }
    std::string& FOut;
    const std::string_view FRawCharset;
    std::string_view FCharset;
    std::string FBytes;
};

// Splits an address field at the commas outside double quotes, comments and angle brackets
// and calls add with every trimmed, non-empty part, as written. A group ("name: a, b;")
// gives its members; the group's name is no address.
template <class Add> void SplitAddresses(std::string_view text, Add add) {
    auto part = [&](std::string_view p) {
        p = TrimView(p);
        if (!p.empty()) add(p);
    };
    std::size_t start = 0;
    bool quoted = false, inGroup = false;
    int comment = 0, angle = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '"')
            quoted = true;
        else if (c == '(')
            ++comment;
        else if (c == ')' && comment > 0)
            --comment;
        else if (comment > 0)
            continue;
        else if (c == '<')
            ++angle;
        else if (c == '>' && angle > 0)
            --angle;
        else if (angle > 0)
            continue;
        else if (c == ':' && !inGroup) {
            inGroup = true;
            start = i + 1;
        } else if (c == ',' || (c == ';' && inGroup)) {
            part(text.substr(start, i - start));
            start = i + 1;
            if (c == ';') inGroup = false;
        }
    }
    if (start < text.size()) part(text.substr(start));
}

// The field's value: the first line's text after the colon and every continuation line,
// each trimmed, joined by single blanks; "" when absent.
std::string UnfoldedValue(const TStringList& headers, std::string_view bare) {
    std::string value;
    ForEachField(headers, bare, [&](std::size_t field) {
        const auto& lines = headers.Items();
        value = TrimView(std::string_view(lines[field]).substr(bare.size() + 1));
        for (std::size_t k = field + 1; k < lines.size() && IsContinuation(lines[k]); ++k) {
            const std::string_view part = TrimView(lines[k]);
            if (part.empty()) continue;
            if (!value.empty()) value += ' ';
            value += part;
        }
        return false;
    });
    return value;
}

// Every field called name with its continuation lines, as received.
template <class Visit>
void ForEachUnfolded(const TStringList& headers, std::string_view name, Visit visit) {
    const std::size_t nameLen = WithoutColon(name).size();
    std::string field;
    ForEachField(headers, name, [&](std::size_t index) {
        field.clear();
        AppendUnfolded(headers.Items(), index, nameLen, field);
        visit(std::string_view(field));
        return true;
    });
}

// "charset'language'text" with %XX escapes, the extended form of a parameter value.
std::string DecodeExtendedValue(std::string_view value) {
    const std::size_t first = value.find('\'');
    const std::size_t second = first == npos ? npos : value.find('\'', first + 1);
    if (second != npos) value.remove_prefix(second + 1);
    auto hex = [](char c) {
        return c >= '0' && c <= '9'        ? c - '0'
               : std::isxdigit(uint8_t(c)) ? (c | 0x20) - 'a' + 10
                                           : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && hex(value[i + 1]) >= 0 &&
            hex(value[i + 2]) >= 0) {
            out += char(hex(value[i + 1]) * 16 + hex(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

// A display name as the model holds it, without its quotes. In a name that is one quoted
// string, a backslash stands before the character it keeps ("Ann \"AJ\" Lee" is Ann "AJ" Lee).
std::string DisplayNameOf(std::string_view text) {
    const std::string_view t = TrimView(text);
    if (t.size() < 2 || t.front() != '"' || t.back() != '"' || t.find('\\') == npos)
        return StripQuotes(t);
    std::string name;
    for (std::size_t i = 1; i + 1 < t.size(); ++i) {
        if (t[i] == '\\' && i + 2 < t.size()) ++i;
        name += t[i];
    }
    return name;
}

// A mailbox as written, without quotes around it. A quoted local part ("a b"@example.com)
// keeps its quotes: they belong to the address.
std::string MailboxOf(std::string_view text) {
    const std::string_view t = TrimView(text);
    if (!t.empty() && t.front() == '"') {
        std::size_t close = 1;
        while (close < t.size() && t[close] != '"') close += t[close] == '\\' ? 2 : 1;
        if (close + 1 < t.size() && t[close + 1] == '@') return std::string(t);
    }
    return StripQuotes(t);
}

// --- dates -------------------------------------------------------------------------------

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(int64_t(yoe) + era * 400 + (month <= 2));
}

// Day 0 of TDateTime, 1899-12-30, counted from 1970-01-01.
constexpr int64_t kDateTimeEpoch = -25569;
constexpr int64_t kMsPerDay = 86400000;

bool IsLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// "hh:mm" or "hh:mm:ss".
bool ParseTimeOfDay(std::string_view text, int& hour, int& minute, int& second) {
    int parts[3] = {0, 0, 0};
    int count = 0;
    while (count < 3) {
        const std::size_t colon = text.find(':');
        const std::string_view field = text.substr(0, colon);
        if (field.empty() || field.size() > 2) return false;
        for (char c : field)
            if (c < '0' || c > '9') return false;
        parts[count++] = int(StrToInt(field));
        if (colon == npos) break;
        text.remove_prefix(colon + 1);
    }
    if (count < 2 || text.find(':') != npos) return false;
    hour = parts[0];
    minute = parts[1];
    second = parts[2];
    return hour < 24 && minute < 60 && second < 60;
}

// The parse steps of ParseMailDate stop when the character they look for is the last one of
// the remaining text; one that is missing altogether takes the whole text.
bool ScanTo(const std::string& s, std::size_t found, std::size_t& at) {
    if (found != npos && found + 1 == s.size()) return false;
    at = found == npos ? s.size() : found;
    return true;
}

bool ScanToDigit(const std::string& s, std::size_t& at) {
    return ScanTo(s, s.find_first_of("0123456789"), at);
}

bool ScanToSpace(const std::string& s, std::size_t& at) {
    return ScanTo(s, s.find(' '), at);
}

// --- content types -----------------------------------------------------------------------

TContentTypeLookup gContentTypeLookup;

struct TExtensionType {
    const char* Extension;
    const char* ContentType;
};

// Common extensions, answered when no look-up is installed.
const TExtensionType kCommonTypes[] = {
    {".txt", "text/plain"},
    {".text", "text/plain"},
    {".log", "text/plain"},
    {".htm", "text/html"},
    {".html", "text/html"},
    {".rtf", "text/rtf"},
    {".css", "text/css"},
    {".csv", "text/csv"},
    {".xml", "text/xml"},
    {".ics", "text/calendar"},
    {".vcf", "text/x-vcard"},
    {".eml", "message/rfc822"},
    {".gif", "image/gif"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".png", "image/png"},
    {".bmp", "image/bmp"},
    {".tif", "image/tiff"},
    {".tiff", "image/tiff"},
    {".ico", "image/x-icon"},
    {".svg", "image/svg+xml"},
    {".webp", "image/webp"},
    {".wav", "audio/wav"},
    {".mp3", "audio/mpeg"},
    {".mid", "audio/midi"},
    {".ogg", "audio/ogg"},
    {".avi", "video/x-msvideo"},
    {".mpg", "video/mpeg"},
    {".mpeg", "video/mpeg"},
    {".mp4", "video/mp4"},
    {".mov", "video/quicktime"},
    {".pdf", "application/pdf"},
    {".ps", "application/postscript"},
    {".zip", "application/zip"},
    {".gz", "application/gzip"},
    {".tar", "application/x-tar"},
    {".js", "application/javascript"},
    {".json", "application/json"},
    {".doc", "application/msword"},
    {".dot", "application/msword"},
    {".xls", "application/vnd.ms-excel"},
    {".ppt", "application/vnd.ms-powerpoint"},
    {".docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {".xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {".pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {".odt", "application/vnd.oasis.opendocument.text"},
    {".ods", "application/vnd.oasis.opendocument.spreadsheet"},
};

std::string CommonContentType(std::string_view extension) {
    for (const auto& entry : kCommonTypes)
        if (SameText(extension, entry.Extension)) return entry.ContentType;
    return {};
}

} // namespace

// --- header fields -------------------------------------------------------------------------

std::string GetHeaderValue(const TStringList& headers, std::string_view name) {
    const std::string_view bare = WithoutColon(name);
    std::string value = UnfoldedValue(headers, bare);
    for (const char* raw : kRawFields)
        if (SameText(bare, raw)) return value;
    return DecodeHeaderText(value);
}

void DeleteHeader(TStringList& headers, std::string_view name) {
    std::size_t found = npos;
    ForEachField(headers, name, [&](std::size_t field) {
        found = field;
        return false;
    });
    if (found == npos) return;
    auto& lines = headers.Items();
    std::size_t end = found + 1;
    while (end < lines.size() && IsContinuation(lines[end])) ++end;
    lines.erase(lines.begin() + std::ptrdiff_t(found), lines.begin() + std::ptrdiff_t(end));
}

void DeleteFields(TStringList& headers, const std::vector<std::string_view>& names) {
    auto& lines = headers.Items();
    auto named = [&](const std::string& line) {
        for (const std::string_view name : names)
            if (IsField(line, WithoutColon(name))) return true;
        return false;
    };
    // The kept lines move up over the dropped ones; the header block ends as ForEachField
    // sees it, at the first empty line after a field.
    std::size_t kept = 0;
    bool inBlock = true, seenField = false, dropping = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (inBlock) {
            if (lines[i].empty()) {
                inBlock = !seenField;
                dropping = false;
            } else if (!(dropping && IsContinuation(lines[i]))) {
                seenField = true;
                dropping = named(lines[i]);
            }
            if (dropping) continue;
        }
        if (kept != i) lines[kept] = std::move(lines[i]);
        ++kept;
    }
    lines.resize(kept);
}

void GetHeaderAddresses(const TStringList& headers, std::string_view name, TStringList& items) {
    items.Clear();
    std::string item;
    ForEachUnfolded(headers, name, [&](std::string_view field) {
        SplitAddresses(field, [&](std::string_view part) {
            item.clear();
            DecodeHeaderTextAppend(part, item);
            const std::string_view trimmed = TrimView(item);
            if (!trimmed.empty()) items.Add(std::string(trimmed));
        });
    });
}

void SplitMailAddress(std::string_view item, std::string& name, std::string& address) {
    const std::size_t open = item.find('<');
    if (open != npos) {
        const std::size_t close = item.find('>', open + 1);
        if (close == npos) throw Exception(kUnableToParseAddress);
        address = MailboxOf(item.substr(open + 1, close - open - 1));
        std::string rest(item.substr(0, open));
        rest += item.substr(close + 1);
        name = DisplayNameOf(rest);
        return;
    }
    if (const std::size_t paren = item.find('('); paren != npos) {
        std::string_view comment = TrimView(item.substr(paren + 1));
        if (!comment.empty() && comment.back() == ')') comment.remove_suffix(1);
        address = MailboxOf(item.substr(0, paren));
        name = StripQuotes(comment);
        return;
    }
    for (const char sep : {',', ';'}) {
        if (const std::size_t at = item.find(sep); at != npos) {
            address = MailboxOf(item.substr(0, at));
            name = StripQuotes(item.substr(at + 1));
            return;
        }
    }
    address = item;
    name.clear();
}

void ParseMailAddress(std::string_view item, TmsMailAddress& address) {
    std::string name, mailbox;
    SplitMailAddress(item, name, mailbox);
    address.SetAddress(mailbox);
    address.SetName(name);
}

std::string StripQuotes(std::string_view text) {
    std::string_view t = TrimView(text);
    for (const char quote : {'"', '\''}) {
        while (!t.empty() && t.front() == quote) t.remove_prefix(1);
        while (!t.empty() && t.back() == quote) t.remove_suffix(1);
    }
    return std::string(t);
}

std::string GetHeaderParam(std::string_view param, std::string_view value) {
    const std::size_t at = FindText(value, param);
    if (at == npos) return {};
    std::size_t skip = at + param.size();
    // name*=charset'language'text (RFC 2231, in one piece)
    const bool extended = skip + 1 < value.size() && value[skip] == '*' && value[skip + 1] == '=';
    skip += extended ? 2 : 1;
    std::string_view rest = TrimView(value.substr(skip < value.size() ? skip : value.size()));
    if (!rest.empty() && rest[0] == '=') rest = TrimView(rest.substr(1));
    if (!rest.empty() && rest[0] == '"') {
        rest.remove_prefix(1);
        rest = rest.substr(0, rest.find('"'));
    } else {
        rest = rest.substr(0, rest.find_first_of(" \t;"));
    }
    if (!rest.empty() && rest.back() == ';') rest.remove_suffix(1);
    return extended ? Trim(DecodeExtendedValue(rest)) : Trim(rest);
}

std::string GetMediaType(std::string_view value) {
    return Trim(value.substr(0, value.find_first_of(" ;")));
}

void SetContentTypeLookup(TContentTypeLookup lookup) {
    gContentTypeLookup = std::move(lookup);
}

std::string ContentTypeOfFile(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t sep = fileName.find_last_of("\\:/");
    std::string type;
    if (dot != npos && (sep == npos || dot > sep)) {
        const std::string_view extension = fileName.substr(dot);
        type = gContentTypeLookup ? gContentTypeLookup(extension) : CommonContentType(extension);
    }
    return type.empty() ? kOctetStream : type;
}

// --- dates ---------------------------------------------------------------------------------

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return false;
    const int64_t days = DaysFromCivil(year, unsigned(month), unsigned(day)) - kDateTimeEpoch;
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before day 0 the time still counts forward from the start of the day.
    result = days >= 0 ? double(days) + time : double(days) - time;
    return true;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second) {
    int64_t days = int64_t(std::trunc(value));
    int64_t ms = std::llround(std::fabs(value - double(days)) * double(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += value >= 0 ? 1 : -1;
    }
    CivilFromDays(days + kDateTimeEpoch, year, month, day);
    const int64_t s = ms / 1000;
    hour = int(s / 3600);
    minute = int(s / 60 % 60);
    second = int(s % 60);
}

bool ParseMailDate(std::string_view text, TDateTime& dateTime, std::string& zone) {
    dateTime = 0;
    zone.clear();
    std::string s = UpperCase(StripQuotes(text));
    if (s.empty()) return false;
    std::size_t at;
    int64_t day, year;
    if (!ScanToDigit(s, at)) return false;
    s = Trim(std::string_view(s).substr(at));
    if (!ScanToSpace(s, at) || !TryStrToInt64(Trim(std::string_view(s).substr(0, at)), day))
        return false;
    s = Trim(std::string_view(s).substr(at));
    int month = 0;
    while (month < 12 && s.find(kMonthNames[month]) == npos) ++month;
    if (month == 12) return false;
    if (!ScanToDigit(s, at)) return false;
    s = Trim(std::string_view(s).substr(at));
    if (!ScanToSpace(s, at) || !TryStrToInt64(Trim(std::string_view(s).substr(0, at)), year))
        return false;
    if (year >= 0 && year <= 50)
        year += 2000;
    else if (year >= 51 && year <= 99)
        year += 1900;
    s = Trim(std::string_view(s).substr(at));
    if (!ScanToSpace(s, at)) return false;
    std::string_view time = std::string_view(s).substr(0, at);
    if (!time.empty() && time.back() == ',') time.remove_suffix(1);
    int hour = 0, minute = 0, second = 0;
    if (!ParseTimeOfDay(time, hour, minute, second)) hour = minute = second = 0;
    if (day < 1 || day > 31 || year > 9999 ||
        !TryEncodeDateTime(int(year), month + 1, int(day), hour, minute, second, dateTime)) {
        dateTime = 0;
        return false;
    }
    zone = ShortText(TrimView(std::string_view(s).substr(at)));
    return true;
}

// --- encoded words -------------------------------------------------------------------------

void DecodeHeaderTextAppend(std::string_view text, std::string& out) {
    TByteSink sink{out};
    WalkEncodedWords(text, sink);
}

std::string DecodeHeaderText(std::string_view text) {
    if (text.find("=?") == npos) return ShortText(text);
    std::string out;
    out.reserve(text.size());
    DecodeHeaderTextAppend(text, out);
    if (out.size() > kShortTextMax) out.resize(kShortTextMax);
    return out;
}

void DecodeHeaderUnicodeAppend(std::string_view text, std::string& out,
                               std::string_view rawCharset) {
    TUnicodeSink sink(out, rawCharset);
    WalkEncodedWords(text, sink);
}

std::string DecodeHeaderUnicode(std::string_view text, std::string_view rawCharset) {
    std::string out;
    DecodeHeaderUnicodeAppend(text, out, rawCharset);
    return out;
}

std::string GetHeaderText(const TStringList& headers, std::string_view name,
                          std::string_view rawCharset) {
    return DecodeHeaderUnicode(UnfoldedValue(headers, WithoutColon(name)), rawCharset);
}

bool HasHeader(const TStringList& headers, std::string_view name) {
    bool found = false;
    ForEachField(headers, name, [&](std::size_t) {
        found = true;
        return false;
    });
    return found;
}

void GetHeaderAddressesText(const TStringList& headers, std::string_view name,
                            std::vector<TmsAddressText>& items, std::string_view rawCharset) {
    items.clear();
    std::string rawName, rawAddress;
    ForEachUnfolded(headers, name, [&](std::string_view field) {
        SplitAddresses(field, [&](std::string_view part) {
            TmsAddressText& item = items.emplace_back();
            try {
                SplitMailAddress(part, rawName, rawAddress);
            } catch (const Exception&) {
                rawName.clear();
                rawAddress = part;
            }
            item.Name = DecodeHeaderUnicode(rawName, rawCharset);
            item.Address = DecodeHeaderUnicode(rawAddress, rawCharset);
        });
    });
}

std::string EncodeHeaderUnicode(std::string_view text) {
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::string(text);
    // 45 bytes make 60 base64 characters: with "=?UTF-8?B?" and "?=" a word of 72.
    constexpr std::size_t kWordBytes = 45;
    const std::string utf8 = RawToUtf8(text);
    std::string out;
    std::string_view rest = utf8;
    while (!rest.empty()) {
        std::string_view piece = Utf8Prefix(rest, kWordBytes);
        if (piece.empty()) piece = rest.substr(0, 1); // never stall on a broken sequence
        if (!out.empty()) out += ' ';
        out += "=?UTF-8?B?";
        Base64EncodeAppend(piece, out);
        out += "?=";
        rest.remove_prefix(piece.size());
    }
    return out;
}

std::string EncodeHeaderText(std::string_view text) {
    if (text.empty() || text[0] != '\x1b') return std::string(text);
    std::string out = "=?ISO-2022-JP?B?";
    Base64EncodeAppend(text, out);
    out += "?=";
    return ShortText(out);
}

// --- words ---------------------------------------------------------------------------------

std::string GetWord(std::string_view text, int n, bool firstOnly) {
    for (int k = 0; k < n; ++k) {
        const std::size_t space = text.find(' ');
        if (space == npos) return {};
        text = TrimView(text.substr(space + 1));
    }
    if (firstOnly) text = text.substr(0, text.find(' '));
    return Trim(text);
}

int GetWordAsInt(std::string_view text, int n) {
    return StrToIntDef(GetWord(text, n, true), -1);
}

int64_t GetWordAsInt64(std::string_view text, int n) {
    return StrToInt64Def(GetWord(text, n, true), -1);
}
