// Character set conversion through the C library's iconv. Unicode text in the program is
// UTF-8; stored and compared mail text stays in its own bytes. Windows-1252 is the 8-bit
// code page of the program's own texts and the fallback for mail bytes of unknown origin.
#pragma once

#include <string>
#include <string_view>

bool IsValidUtf8(std::string_view bytes);

// Appends bytes in the named charset as UTF-8. Bytes the charset does not define become
// U+FFFD. An unknown or empty charset name reads the bytes as raw 8-bit text (see below).
// Charset names are matched as mail uses them ("utf8", "latin1", "x-sjis", "gb2312",
// an RFC 2231 "*language" suffix ...).
void CharsetToUtf8Append(std::string_view charset, std::string_view bytes, std::string& out);
std::string CharsetToUtf8(std::string_view charset, std::string_view bytes);

// Raw 8-bit text of unknown charset: what is valid UTF-8 is read as UTF-8, the bytes that
// are not are read as Windows-1252.
void RawToUtf8Append(std::string_view bytes, std::string& out);
std::string RawToUtf8(std::string_view bytes);
// Raw 8-bit text of a message that names charset for its text (a header in the charset of
// the body): valid UTF-8 stays UTF-8; other text is read in charset when every byte of it is
// valid there, else as above.
void RawToUtf8Append(std::string_view bytes, std::string_view charset, std::string& out);
std::string RawToUtf8(std::string_view bytes, std::string_view charset);

// Windows-1252 and UTF-8. The five bytes the code page leaves undefined map to the C1
// control characters of the same number and back, so every byte survives a round trip;
// characters the code page cannot hold become "?".
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view utf8);

// UTF-8 text in the charset exactly as named (no mail aliases), "?" for what it cannot
// hold; UTF-8 itself and names the converter does not know return the text unchanged.
std::string Utf8ToCharset(std::string_view utf8, std::string_view charset);

// The first max bytes of UTF-8 text, cut back to a whole character.
std::string_view Utf8Prefix(std::string_view utf8, std::size_t max);
