// What a person reads of a message, in Unicode (UTF-8): subject, sender, recipients and text
// body, each converted from the charset the mail names. Raw 8-bit header text that is not
// UTF-8 is read in the charset the message names for its text (HeaderCharset) where it is
// valid there, else as Windows-1252. The 8-bit properties of the message
// keep the bytes for storing and comparing; every display path shows these views instead.
#pragma once

#include "message/msmsg.h"
#include "message/mspars.h"

#include <string>
#include <vector>

// The subject: from the received Subject field, else from the subject property.
std::string SubjectText(const TmsCustomMessage& message);
// The sender: from the received From field, else from the sender property.
TmsAddressText SenderText(const TmsCustomMessage& message);
// The sender's display name, or the mailbox when there is no name (a list row's sender).
std::string SenderDisplayText(const TmsCustomMessage& message);
// The recipients of a field ("To", "CC", "BCC"): from the received fields, else from the
// message's list.
std::vector<TmsAddressText> RecipientsText(const TmsMessage& message, const char* field);
// The charset the text body is in, as named by its part ("" when none was named).
std::string BodyCharset(const TmsCustomMessage& message);
// One line of the text body, or all of it joined by line feeds.
std::string BodyLineText(const TmsCustomMessage& message, std::string_view line);
std::string BodyText(const TmsCustomMessage& message);
// The charset the Content-Type of a header block names ("" when none).
std::string HeaderCharset(const TStringList& headers);
// The charset a message's raw 8-bit headers are read in: the one its Content-Type names, else
// that of its text body (the first text part of a multipart).
std::string HeaderCharset(const TmsCustomMessage& message);
// One raw header line as a person reads it: encoded words decoded, 8-bit text read as
// UTF-8 when valid, else in charset (the header block's HeaderCharset) when valid there,
// else as Windows-1252.
std::string HeaderLineText(std::string_view line, std::string_view charset = {});
