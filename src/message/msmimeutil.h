// Small helpers the message decoder and encoder share.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The file name without its folder ("C:\a\b.txt" and "a/b.txt" give "b.txt").
std::string BareFileName(std::string_view fileName);
// The same, lower-cased.
std::string BareLowerName(std::string_view fileName);
// True when the bare, lower-cased file name begins with prefix (given in lower case).
bool BareNameStartsWith(std::string_view fileName, std::string_view prefix);

// A Content-Type value without the named parameters: the media type and every other
// parameter as written, joined by "; ". Names are compared whole: "name*" is the one-piece
// RFC 2231 form of "name"; continuations such as "name*0*" are other parameters.
std::string ContentTypeWithout(std::string_view value,
                               std::initializer_list<std::string_view> params);

// A Content-Type value as a short text. A multipart type keeps its boundary whatever the
// length: the media type and the boundary come first, then the other parameters that fit.
std::string ShortContentType(std::string_view value);

// Appends text with every line break (CR LF, a lone CR, a lone LF) written as CR LF.
void AppendWithCRLF(std::string_view text, std::string& out);

// True for a media type (or a Content-Type value) of the multipart family.
bool IsMultipartType(std::string_view contentType);
