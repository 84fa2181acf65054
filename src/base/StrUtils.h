// Small byte-string helpers. Text is 8-bit; nothing here converts character sets.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Capacity of the short texts used for header values, names and similar fields.
inline constexpr std::size_t kShortTextMax = 255;

// The first 255 bytes of s. Only for values that are short texts by design, never for
// message data.
inline std::string ShortText(std::string_view s) {
    return std::string(s.substr(0, kShortTextMax));
}

// Blanks and control characters (bytes 0..32) removed at both ends / one end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string_view TrimView(std::string_view s);

// ASCII case mapping; other bytes stay as they are.
inline char UpCase(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
inline char LoCase(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
// True when s begins with prefix, compared without regard to ASCII case.
bool StartsText(std::string_view prefix, std::string_view s);
// Position of the first occurrence of needle in hay without regard to case, or npos.
std::size_t FindText(std::string_view hay, std::string_view needle, std::size_t from = 0);
// Case-insensitive ordering (negative, 0, positive).
int CompareText(std::string_view a, std::string_view b);

// Decimal (or $/0x hexadecimal) integer; leading blanks and a sign are allowed.
// Raises EConvertError "'s' is not a valid integer value" for anything else or on overflow.
int StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
// The same, returning def instead of raising.
int StrToIntDef(std::string_view s, int def);
int64_t StrToInt64Def(std::string_view s, int64_t def);
// Parses without raising; false when s is not a valid integer in range.
bool TryStrToInt64(std::string_view s, int64_t& value);

// text with its places "%1", "%2", ... (the first of each) filled with values, in order.
std::string FillPlaces(std::string text, std::initializer_list<std::string> values);

// 16 hexadecimal digits that stand for text (FNV-1a, 64 bits): a stable file name for a key
// whatever its characters. Not for secrets.
std::string StableNameHash(std::string_view text);

inline std::string IntToStr(long long v) {
    return std::to_string(v);
}

// Splits a command line into words as a desktop entry's Exec line is split: spaces and tabs
// separate, double quotes group, and inside them a backslash takes the next character as it
// is. False for an unterminated quote.
bool SplitCommandLine(std::string_view line, std::vector<std::string>& words);
