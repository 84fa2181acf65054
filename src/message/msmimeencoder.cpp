#include "message/msmimeencoder.h"

#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "message/msmime.h"
#include "message/msmimeutil.h"
#include "message/mspars.h"
#include "message/msuucode.h"

#include <random>

namespace {
const char* const kUnnamedFile = "attachment.dat";
const char* const kPreamble = "This is a multipart message in MIME format";
const char* const kTransferEncodingNames[3] = {"7bit", "Base64", "Quoted-Printable"};
const char* const kOctetStream = "application/octet-stream";

// Output is handed to the stream in blocks of about this size.
constexpr std::size_t kFlushSize = 1024 * 1024;
// Body text and attachment data are encoded in pieces of about this size.
constexpr std::size_t kPiece = 256 * 1024;
// A body line this long or longer is written quoted-printable.
constexpr std::size_t kLongLine = 256;

bool Has8BitByte(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

bool EndsWithCRLF(std::string_view text) {
    return text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
}

std::string Quoted(std::string_view text) {
    std::string result = "\"";
    result += text;
    result += '"';
    return result;
}
// A file name parameter: name="value", or, for a name that a quoted string cannot hold (a
// double quote, a backslash, a control character, a final ";" that readers take for a
// separator), the percent-encoded form of RFC 2231.
std::string FileNameParameter(std::string_view parameter, std::string_view name) {
    bool plain = name.empty() || name.back() != ';';
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        plain = plain && c >= 0x20 && c != 0x7f && c != '"' && c != '\\';
    }
    std::string result(parameter);
    if (plain) return result + "=" + Quoted(name);
    static const char kHex[] = "0123456789ABCDEF";
    result += "*=''";
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7f && c != '%' && c != '"' && c != '\\' && c != ';' && c != '\'') {
            result += ch;
        } else {
            result += '%';
            result += kHex[c >> 4];
            result += kHex[c & 15];
        }
    }
    return result;
}
} // namespace

std::string NewBoundary() {
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> digit(0, 8);
    ProcessMessages();
    std::string boundary(8, '0');
    for (char& c : boundary) c = char('0' + digit(generator));
    return boundary;
}

TmsCustomEncoder::TmsCustomEncoder(const TmsCustomMessage& message) : FMessage(message) {
    FHeaders.Assign(message.Headers());
    for (const std::string& line : message.Body())
        if (line.size() >= kLongLine) {
            FLongLines = true;
            break;
        }
}

void TmsCustomEncoder::FlushIfFull() {
    if (FOut.size() >= kFlushSize) Flush();
}

void TmsCustomEncoder::Flush() {
    FStream->WriteString(FOut);
    FOut.clear();
}

void TmsCustomEncoder::WriteLine(std::string_view text) {
    FOut += text;
    FOut += "\r\n";
    FlushIfFull();
}

TmsCustomEncoder::TBodyKind TmsCustomEncoder::BodyKind() const {
    if (FMessage.Encoding() == meUU) return bkUU;
    const std::string& contentType = FMessage.ContentType();
    const TmsAttList& attachments = FMessage.Attachments();
    if (attachments.Count() > 0) {
        if (contentType == "multipart/mixed") return bkMixed;
        if (contentType == "multipart/alternative") return bkAlternative;
        // A single attachment is the whole content. A multipart one stays nested, so that it
        // reads back as the attachment it was.
        return IsMultipartType(attachments.Items(0).ContentType()) ? bkMixed : bkSingleAttachment;
    }
    // Text lines that would read back as uuencoded blocks go into a multipart, where a text
    // part is not searched for them. The line after a begin line is judged as it may be
    // written: the transfer encoding can turn any non-empty line into valid block data.
    const TStringList& body = FMessage.Body();
    for (int i = 0; i + 1 < body.Count(); ++i)
        if (IsUUBegin(body[i]) && !body[i + 1].empty()) return bkWrappedText;
    if (contentType == "text/html" || contentType == "text/rtf") return bkHtmlOrRtf;
    return bkText;
}

std::string TmsCustomEncoder::SingleTextType() const {
    const std::string& contentType = FMessage.ContentType();
    return IsMultipartType(contentType) || contentType.empty() ? "text/plain" : contentType;
}

void TmsCustomEncoder::Encode() {
    FStream->SetPosition(0);
    const TBodyKind kind = BodyKind();
    WriteHeaders();
    switch (kind) {
    case bkUU:
        WriteUUMessage();
        break;
    case bkMixed:
        WriteMultipart(false);
        break;
    case bkAlternative:
        WriteMultipart(true);
        break;
    case bkSingleAttachment:
        WriteSingleAttachment();
        break;
    case bkHtmlOrRtf:
        WriteHtmlOrRtf();
        break;
    case bkText:
        WritePlainText(SingleTextType());
        break;
    case bkWrappedText:
        WriteWrappedText();
        break;
    }
    Flush();
    FStream->SetSize(FStream->Position());
}

void TmsCustomEncoder::RemoveComposedHeaders(std::vector<std::string_view> fields) {
    // The fields that describe the content are written anew with it; the disposition of the
    // original content would otherwise turn a text written back into an attachment.
    for (const char* name : {"Mime-Version", "Content-Type", "X-Encoding",
                             "Content-Transfer-Encoding", "Content-Disposition"})
        fields.push_back(name);
    DeleteFields(FHeaders, fields);
}

void TmsCustomEncoder::WriteRemainingHeaders() {
    for (const std::string& line : FHeaders) WriteLine(line);
}

bool TmsCustomEncoder::BodyIsQuotedPrintable() const {
    return FMessage.CharSet() == csISO8859 || FLongLines;
}

std::string TmsCustomEncoder::TextPartType(const std::string& type) const {
    const std::string& stored = FMessage.BodyContentType();
    if (!stored.empty() && (type.empty() || SameText(GetMediaType(stored), type))) return stored;
    return type.empty() ? "text/plain" : type;
}

void TmsCustomEncoder::WriteTextPartHeaders(const std::string& contentType) {
    std::string charset = FMessage.CharSetName();
    if (charset.empty())
        charset = FMessage.CharSet() == csISO8859     ? "iso-8859-1"
                  : FMessage.CharSet() == csISO2022jp ? "iso-2022-jp"
                                                      : "us-ascii";
    WriteLine("Content-Type: " + TextContentType(contentType, charset));
    WriteTransferEncoding();
}

std::string TmsCustomEncoder::TextContentType(const std::string& type,
                                              const std::string& charset) const {
    auto withCharset = [&](std::string value) {
        if (!charset.empty()) value += "; charset=" + Quoted(charset);
        return value;
    };
    std::string value = withCharset(type);
    // Parameters kept from the original must not make the text read back as a named
    // attachment or in another charset; if they would, the media type goes alone.
    const std::string name = GetHeaderParam("name", value);
    if ((!name.empty() && name != "cc:Mail") || GetHeaderParam("charset", value) != charset)
        value = withCharset(GetMediaType(type));
    return value;
}

void TmsCustomEncoder::WriteTransferEncoding() {
    const char* encoding = "7bit";
    if (BodyIsQuotedPrintable()) {
        encoding = "quoted-printable";
    } else {
        for (const std::string& line : FMessage.Body())
            if (Has8BitByte(line)) {
                encoding = "8bit";
                break;
            }
    }
    WriteLine(std::string("Content-Transfer-Encoding: ") + encoding);
}

void TmsCustomEncoder::WriteBodyLines(bool quotedPrintable) {
    const TStringList& body = FMessage.Body();
    if (!quotedPrintable) {
        for (const std::string& line : body) WriteLine(line);
        return;
    }
    // The body as text with CR LF line ends, encoded a piece of whole lines at a time.
    std::string text;
    for (int i = 0; i < body.Count(); ++i) {
        text += body[i];
        text += "\r\n";
        if (text.size() >= kPiece || i + 1 == body.Count()) {
            QPEncodeAppend(text, FOut);
            text.clear();
            FlushIfFull();
        }
    }
}

void TmsCustomEncoder::WritePlainText(const std::string& contentType) {
    WriteTextPartHeaders(TextPartType(contentType));
    WriteLine("");
    WriteBodyLines(BodyIsQuotedPrintable());
}

void TmsCustomEncoder::WriteWrappedText() {
    const std::string boundary = FreshBoundary();
    WriteLine("Content-Type: multipart/mixed; boundary=" + Quoted(boundary));
    WriteLine("");
    WriteLine(kPreamble);
    WriteLine("");
    WriteLine("--" + boundary);
    WriteTextPartHeaders(TextPartType(SingleTextType()));
    WriteLine("");
    WriteBodyLines(BodyIsQuotedPrintable());
    WriteLine("--" + boundary + "--");
}

void TmsCustomEncoder::WriteHtmlOrRtf() {
    const std::string& contentType = FMessage.ContentType();
    std::string charset = FMessage.CharSetName();
    if (charset.empty() && FMessage.CharSet() != csUSASCII) charset = "iso-8859-1";
    WriteLine("Content-Type: " + TextContentType(TextPartType(contentType), charset));
    WriteTransferEncoding();
    WriteLine("");
    WriteBodyLines(BodyIsQuotedPrintable());
}

void TmsCustomEncoder::WriteAttachmentHeaders(const TmsAttItem& item, bool named, bool firstPart) {
    const std::string name = BareFileName(item.FileName());
    named = named && !name.empty();
    // The name comes right after the media type, before anything that might hold the letters
    // "name" too.
    const std::string type = item.ContentType().empty() ? kOctetStream : item.ContentType();
    const std::size_t mediaEnd = type.find_first_of(" ;");
    std::string line = "Content-Type: " + type.substr(0, mediaEnd);
    if (named) line += "; " + FileNameParameter("name", name);
    if (mediaEnd != std::string::npos) {
        const std::string rest = TrimLeft(type.substr(mediaEnd));
        if (!rest.empty()) line += (rest[0] == ';' ? "" : "; ") + rest;
    }
    WriteLine(line);
    std::string encoding = kTransferEncodingNames[item.Encoding()];
    if (item.Encoding() == aeSevenBit && Has8BitByte(item.Data.View())) encoding = "8bit";
    WriteLine("Content-Transfer-Encoding: " + encoding);
    // A nested multipart keeps its name, but is not made an attachment: readers show it in
    // place.
    if (named && !IsMultipartType(item.ContentType()))
        WriteLine("Content-Disposition: attachment; " + FileNameParameter("filename", name));
    else if (firstPart && !named)
        // Not to be read back as the text body.
        WriteLine("Content-Disposition: attachment");
}

void TmsCustomEncoder::WriteSingleAttachment() {
    const TmsAttItem& item = FMessage.Attachments().Items(0);
    const std::string name = BareLowerName(item.FileName());
    const bool only = FMessage.Attachments().Count() == 1;
    if (only && (name == "_htmbody.htm" || name == "_rtfbody.rtf")) {
        WriteLine(name == "_htmbody.htm" ? "Content-Type: text/html" : "Content-Type: text/rtf");
        WriteLine(std::string("Content-Transfer-Encoding: ") +
                  kTransferEncodingNames[item.Encoding()]);
    } else {
        WriteAttachmentHeaders(item, true, true);
    }
    WriteLine("");
    WriteAttachmentData(item, false);
}

void TmsCustomEncoder::WriteMultipart(bool alternative) {
    const TmsAttList& attachments = FMessage.Attachments();
    const bool bodyEmpty = FMessage.Body().Empty();
    const std::string first = BareLowerName(attachments.Items(0).FileName());
    bool bodyInAttachment = bodyEmpty && (first == "_htmbody.htm" || first == "_rtfbody.rtf");

    std::string boundary = FreshBoundary();
    WriteLine(std::string("Content-Type: ") +
              (alternative ? "multipart/alternative" : "multipart/mixed") +
              "; boundary=" + Quoted(boundary));
    WriteLine("");
    WriteLine(kPreamble);
    WriteLine("");
    WriteLine("--" + boundary);

    std::string outer;
    bool nested = false;
    if (!alternative && first.rfind("_alt.", 0) == 0) {
        nested = true;
        outer = boundary;
        boundary = FreshBoundary();
        WriteLine("Content-Type:  multipart/alternative; boundary=" + Quoted(boundary));
        WriteLine("Content-Transfer-Encoding: 7bit");
        WriteLine("");
        WriteLine("--" + boundary);
    }

    if (!bodyEmpty) {
        WriteTextPartHeaders(TextPartType(""));
        WriteLine("");
        WriteBodyLines(BodyIsQuotedPrintable());
        WriteLine("--" + boundary);
    }

    for (int i = 0; i < attachments.Count(); ++i) {
        const TmsAttItem& item = attachments.Items(i);
        if (i > 0) {
            WriteLine("--" + boundary);
            bodyInAttachment = false;
        }
        WriteAttachmentHeaders(item, !alternative && !nested && !bodyInAttachment,
                               i == 0 && bodyEmpty && !bodyInAttachment);
        WriteLine("");
        WriteAttachmentData(item, true);
        const bool last = i + 1 == attachments.Count();
        if (nested && (last || !BareNameStartsWith(attachments.Items(i + 1).FileName(), "_alt."))) {
            WriteLine("--" + boundary + "--");
            boundary = outer;
            nested = false;
        }
        if (last) WriteLine("--" + boundary + "--");
    }
}

void TmsCustomEncoder::WriteAttachmentData(const TmsAttItem& item, bool inMultipart) {
    const std::string_view data = item.Data.View();
    switch (item.Encoding()) {
    case aeBase64:
        for (std::size_t pos = 0;; pos += 57) {
            const std::string_view chunk = data.substr(std::min(pos, data.size()), 57);
            Base64EncodeAppend(chunk, FOut);
            FOut += "\r\n";
            FlushIfFull();
            if (chunk.size() < 57) break;
        }
        break;
    case aeQuotedPrintable:
        for (std::size_t pos = 0; pos < data.size();) {
            std::size_t end = std::min(data.size(), pos + kPiece);
            // Pieces end after a line break where there is one, for tidy lines.
            if (end < data.size()) {
                const std::size_t lf = data.rfind('\n', end - 1);
                if (lf != std::string_view::npos && lf > pos) end = lf + 1;
            }
            QPEncodeAppend(data.substr(pos, end - pos), FOut);
            FlushIfFull();
            pos = end;
        }
        // Before a delimiter the last line break belongs to it: give the data's own last line
        // break a line of its own.
        if (inMultipart && EndsWithCRLF(data)) FOut += "\r\n";
        break;
    case aeSevenBit:
        // Line breaks become CR LF; everything else is written as it is, whatever the line
        // length. A piece never ends between the CR and the LF of a line break.
        for (std::size_t pos = 0; pos < data.size();) {
            std::size_t end = std::min(data.size(), pos + kPiece);
            if (end < data.size() && data[end - 1] == '\r') ++end;
            AppendWithCRLF(data.substr(pos, end - pos), FOut);
            FlushIfFull();
            pos = end;
        }
        if (inMultipart) FOut += "\r\n";
        break;
    }
}

void TmsCustomEncoder::WriteUUMessage() {
    WriteLine("");
    for (const std::string& line : FMessage.Body()) WriteLine(line);
    for (const auto& item : FMessage.Attachments()) {
        // A begin line without a name is not one: a name ending in a separator gets one.
        const std::string name = BareFileName(item->FileName());
        WriteLine("begin 600 " + (name.empty() ? std::string(kUnnamedFile) : name));
        const std::string_view data = item->Data.View();
        for (std::size_t pos = 0;; pos += 45) {
            const std::string_view chunk = data.substr(std::min(pos, data.size()), 45);
            UUEncodeAppend(chunk, FOut);
            WriteLine("");
            if (chunk.size() < 45) break;
        }
        WriteLine("`");
        WriteLine("end");
    }
}

bool TmsCustomEncoder::OccursInText(std::string_view delimiter) const {
    for (const std::string& line : FMessage.Body())
        if (line.find(delimiter) != std::string::npos) return true;
    for (const auto& item : FMessage.Attachments())
        if (item->Encoding() != aeBase64 &&
            item->Data.View().find(delimiter) != std::string_view::npos)
            return true;
    return false;
}

std::string TmsCustomEncoder::FreshBoundary() {
    for (;;) {
        std::string boundary = NewBoundary();
        if (FBoundaries.count(boundary) || OccursInText("--" + boundary)) continue;
        FBoundaries.insert(boundary);
        return boundary;
    }
}
