// Quoted-printable conversion between a byte stream and a list of text lines.
#pragma once

#include "base/Streams.h"
#include "base/StringList.h"

#include <string>
#include <string_view>

class TQuotedPrintable {
public:
    // Binds the codec to a stream and a line list; neither is owned.
    TQuotedPrintable(TStream& stream, TStringList& lines) : FStream(stream), FLines(lines) {}

    // Reads the stream from position 0 and appends the encoded lines to the list
    // (soft breaks after at most 65 source characters).
    void QPEncode();
    // Decodes every line of the list and writes the bytes at the stream's position.
    void QPDecode();
    // Set to end a running conversion between paragraphs.
    bool Stop = false;

private:
    TStream& FStream;
    TStringList& FLines;
};

// Encodes bytes as quoted-printable text, appending lines with CR LF ends to out: CR LF in
// the bytes is a line break, every other control byte, "=" and 8-bit byte is escaped, and
// text without a break is continued after a soft break at a space near 65 characters.
void QPEncodeAppend(std::string_view bytes, std::string& out);
// Decodes one quoted-printable line and appends the bytes to out; returns true when the line
// is soft-broken (ends with "=", perhaps followed by blanks, which are dropped), in which case
// no line end is appended. Otherwise CR LF is
// appended unless the decoded line ends with byte 26.
bool QPDecodeLineAppend(std::string_view line, std::string& out);
// The payload of a Q encoded word, decoded (escapes only; underscores are left alone).
std::string QPDecodeText(std::string_view text);
