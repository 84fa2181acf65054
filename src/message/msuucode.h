// Base64 and uuencode, line by line.
#pragma once

#include <string>
#include <string_view>

// Decodes one line of base64 (groups of four characters; the "=" padding at the end removes
// that many bytes). A character outside the alphabet raises EInOutError "Invalid Character";
// blanks are not skipped. A trailing incomplete group is ignored. The whole line is decoded,
// whatever its length.
std::string Base64DecodeLine(std::string_view line);
// The same, appending the bytes to out (no allocation when out has room).
void Base64DecodeAppend(std::string_view line, std::string& out);
// Decodes base64 data that comes in lines, wrapped at any length: a group of four characters
// that a line leaves incomplete is completed by the next one. Only the end of the data may hold
// an incomplete group; Finish decodes the whole bytes it holds (two or three characters give
// one or two bytes, as if padded; a single character gives none).
class TBase64Decoder {
public:
    void Append(std::string_view line, std::string& out);
    void Finish(std::string& out);

private:
    char FCarry[4] = {};
    std::size_t FCarried = 0;
};
// Encodes bytes as base64 with "=" padding (57 bytes give a 76-character line).
std::string Base64EncodeChunk(std::string_view bytes);
void Base64EncodeAppend(std::string_view bytes, std::string& out);

// Decodes one uuencoded line: the first character gives the byte count; at most 60 data
// characters are read, missing ones count as 0. Raises EInOutError "Invalid Character" for a
// character outside the alphabet (a space counts as 0).
std::string UUDecodeLine(std::string_view line);
void UUDecodeAppend(std::string_view line, std::string& out);
// Encodes at most 45 bytes as one uuencoded line (count character first).
std::string UUEncodeLine(std::string_view bytes);
void UUEncodeAppend(std::string_view bytes, std::string& out);
// True for a "begin NNN name" line: "begin" (any case), blanks, a file mode of three or four
// octal digits, a blank and a name.
bool IsUUBegin(std::string_view line);
// True for a line that decodes as uuencoded data: a count of at most 45 bytes and nothing
// outside the alphabet in the characters read. A begin line only starts a block when such a
// line follows it.
bool IsUUDataLine(std::string_view line);
// The file name written in a begin line (quotes removed).
std::string UUFileName(std::string_view line);
