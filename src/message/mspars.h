// Header field codecs: reading and writing single fields of an RFC 822 header block.
#pragma once

#include "base/StringList.h"
#include "message/msmsgcls.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Days since 1899-12-30 with the time of day as the fraction; 0 means "no date".
using TDateTime = double;

// The value of the first field called name (with its continuation lines joined by single
// spaces), "" if absent. Values of fields other than Content-Type and X-UIDL are decoded
// (encoded words) and cut to a short text. Header lookups end at the first empty line after
// a field, so a list that goes on with body lines is read as its header block only.
std::string GetHeaderValue(const TStringList& headers, std::string_view name);
// Removes the first field called name and its continuation lines.
void DeleteHeader(TStringList& headers, std::string_view name);
// Removes every field of the header block whose name is one of names, with its continuation
// lines, in one pass over the list.
void DeleteFields(TStringList& headers, const std::vector<std::string_view>& names);
// Splits every field called name (with its continuation lines) into address items: one per
// comma outside double quotes, comments and angle brackets; a group gives its members.
void GetHeaderAddresses(const TStringList& headers, std::string_view name, TStringList& items);
// Splits one address item into display name and mailbox as written (not cut); raises
// Exception "Unable to parse email address" for a "<" without a later ">".
void SplitMailAddress(std::string_view item, std::string& name, std::string& address);
// Fills address from one address item; raises Exception "Unable to parse email address"
// for a "<" without a later ">".
void ParseMailAddress(std::string_view item, TmsMailAddress& address);
// Trimmed, without surrounding double, then single, quotes.
std::string StripQuotes(std::string_view text);
// The value of parameter param in a field value, "" if absent.
std::string GetHeaderParam(std::string_view param, std::string_view value);
// The leading media type of a field value.
std::string GetMediaType(std::string_view value);

// Looks up the content type of a file extension (with its dot, e.g. ".txt"); returns "" when
// none is known. The application installs one backed by the desktop's MIME database.
using TContentTypeLookup = std::function<std::string(std::string_view extension)>;
void SetContentTypeLookup(TContentTypeLookup lookup);
// The content type for a file name, "application/octet-stream" when none is known.
std::string ContentTypeOfFile(std::string_view fileName);

// Parses a Date field. Returns false (dateTime 0, zone "") when the text has no date.
bool ParseMailDate(std::string_view text, TDateTime& dateTime, std::string& zone);
// Calendar helpers for TDateTime.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       TDateTime& result);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second);

// Decodes RFC 2047 encoded words; the result is a short text. Blanks between two encoded
// words are dropped, all other text stays as written; a word that cannot be decoded stays.
std::string DecodeHeaderText(std::string_view text);
// The same, appending the whole result to out.
void DecodeHeaderTextAppend(std::string_view text, std::string& out);
// Unicode (UTF-8) for display. Encoded words are converted from the charset each names,
// text outside them is read as UTF-8 when valid, else in rawCharset (the charset the message
// names for its text) when valid there, else as Windows-1252; nothing is cut.
std::string DecodeHeaderUnicode(std::string_view text, std::string_view rawCharset = {});
void DecodeHeaderUnicodeAppend(std::string_view text, std::string& out,
                               std::string_view rawCharset = {});
// The value of the first field called name in Unicode, "" if absent.
std::string GetHeaderText(const TStringList& headers, std::string_view name,
                          std::string_view rawCharset = {});
bool HasHeader(const TStringList& headers, std::string_view name);
// One address of a field in Unicode.
struct TmsAddressText {
    std::string Name;
    std::string Address;
};
// The addresses of every field called name, split as written and then decoded, so an
// encoded name that holds a comma or "<" stays one name. An item that does not parse is
// kept whole as the address.
void GetHeaderAddressesText(const TStringList& headers, std::string_view name,
                            std::vector<TmsAddressText>& items, std::string_view rawCharset = {});
// Text for a header field the encoder composes: ASCII stays as it is; other text is read
// as UTF-8 where valid, else as Windows-1252, and written as UTF-8 B encoded words of at
// most 75 characters each, separated by blanks (never raw 8-bit bytes).
std::string EncodeHeaderUnicode(std::string_view text);
// Wraps text that starts with ESC (ISO-2022-JP) as a B encoded word.
std::string EncodeHeaderText(std::string_view text);
// The n-th word (0-based) of text, or with firstOnly false the rest from it on.
std::string GetWord(std::string_view text, int n, bool firstOnly);
// GetWord(text, n, true) as an integer, -1 when absent or not a number.
int GetWordAsInt(std::string_view text, int n);
// The same for counts that may exceed 32 bits (mailbox sizes).
int64_t GetWordAsInt64(std::string_view text, int n);
