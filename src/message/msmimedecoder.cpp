#include "message/msmimedecoder.h"

#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "message/msmime.h"
#include "message/msmimeutil.h"
#include "message/mspars.h"
#include "message/msuucode.h"

#include <cstring>
#include <memory>

namespace {
const char* const kUnableToRetrieveHeaders = "Unable to retrieve headers";
const char* const kMissingContentType = "Missing required field: Content-Type";
const char* const kCannotFindClosingBoundary = "Cannot find closing boundary";
const char* const kCannotFindBoundary = "Cannot find boundary";
const char* const kErrorDecodingAttachment = "Error decoding the attachment";
const char* const kTooManyParts = "Too many parts (more than 10000)";
const char* const kTooManyLines = "Too many text lines for the size of the message";
const char* const kTooManyHeaderLines = "Too many header lines (more than 10000)";

const char* const kErrorHasOccured =
    "The following error has been occured while processing the message:";
const char* const kOriginalStored = "The original message will be stored as an attachment";
const char* const kOriginalFileName = "original.eml";
const char* const kOriginalContentType = "message/rfc822";
const char* const kVMailsystem = "V Mailsystem R #0001";

// A message is taken apart into at most this many attachments; of one with more, the first
// parts but one are taken, and the whole text is kept as "original.eml" after them.
constexpr int kMaxParts = 10000;
// Every text line the model holds costs some 32 bytes, however short it is; a text body may
// have this many lines, and one more for every kBytesPerLine bytes of the message. A message
// with more is kept whole as "original.eml".
constexpr std::size_t kFreeLines = 65536;
constexpr std::size_t kBytesPerLine = 32;
// Decoded bytes are handed to an attachment's stream in blocks of this size.
constexpr std::size_t kFlushSize = 256 * 1024;
// Of a header block over the limit, this many of the lines kept are given up again, so that
// the fields the encoder adds still fit when the saved message is read back.
constexpr int kHeaderRoom = 100;

enum TDelimiter { dlNone, dlPart, dlClose };

// A boundary delimiter line is the delimiter, optionally "--" (the closing one), then at most
// blanks (transport padding). "--abc" is no delimiter of the boundary "ab".
TDelimiter DelimiterOf(std::string_view line, const std::string& delimiter) {
    if (line.size() < delimiter.size() || line[0] != '-' ||
        line.compare(0, delimiter.size(), delimiter) != 0)
        return dlNone;
    std::string_view rest = line.substr(delimiter.size());
    TDelimiter kind = dlPart;
    if (rest.size() >= 2 && rest[0] == '-' && rest[1] == '-') {
        kind = dlClose;
        rest.remove_prefix(2);
    }
    for (const char c : rest)
        if (c != ' ' && c != '\t') return dlNone;
    return kind;
}

std::string_view WithoutTrailingBlanks(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string AttachmentNumber(const TmsCustomMessage& message) {
    return IntToStr(message.Attachments().Count());
}

// The transfer encoding of a part's headers, and whether the part is uuencoded.
TmsAttEncoding TransferEncodingOf(const TmsHeaders& headers, bool& uuencoded) {
    const std::string cte = LowerCase(GetHeaderValue(headers, "Content-Transfer-Encoding"));
    uuencoded = cte.rfind("x-uue", 0) == 0;
    if (cte == "base64" || uuencoded) return aeBase64;
    if (cte == "quoted-printable") return aeQuotedPrintable;
    return aeSevenBit;
}

// True when a part with these headers is text to be read as the message body: no media type
// or a text type, and neither a file name nor the attachment disposition.
bool IsTextBodyPart(const TmsHeaders& headers, const std::string& contentType) {
    const std::string media = LowerCase(GetMediaType(contentType));
    if (!media.empty() && media.rfind("text/", 0) != 0) return false;
    const std::string name = GetHeaderParam("name", contentType);
    if (!name.empty() && name != "cc:Mail") return false;
    return !SameText(GetMediaType(GetHeaderValue(headers, "Content-Disposition")), "attachment");
}

// Builds the attachment item for a part: name, content type and encoding. An unnamed part is
// called "_alt." + n in an alternative block, else "att" + n + ".txt". A declared content type
// is kept as written, with its parameters (a nested multipart keeps its boundary); only a
// part without one takes the type its file name suggests.
std::unique_ptr<TmsAttItem> NewItem(const TmsCustomMessage& message, const TmsHeaders& headers,
                                    bool alternative, bool& uuencoded) {
    auto item = std::make_unique<TmsAttItem>();
    std::string contentType = GetHeaderValue(headers, "Content-type");
    const bool declared = !contentType.empty();
    if (!declared) contentType = "text/plain";
    const std::string mediaType = GetMediaType(contentType);
    item->SetContentType(mediaType);
    item->SetFileName(GetHeaderParam("name", contentType));
    const TmsAttEncoding encoding = TransferEncodingOf(headers, uuencoded);
    item->SetEncoding(encoding);
    if (item->FileName().empty()) {
        std::string name =
            GetHeaderParam("filename", GetHeaderValue(headers, "Content-Disposition"));
        if (name.empty()) {
            name = alternative ? "_alt." + AttachmentNumber(message)
                               : "att" + AttachmentNumber(message) + ".txt";
            item->SetFileName(name);
            item->SetContentType(mediaType);
        } else {
            item->SetFileName(name);
        }
        item->SetEncoding(encoding);
    }
    if (declared) item->SetContentType(ContentTypeWithout(contentType, {"name", "name*"}));
    return item;
}

// Runs one attachment's decoding: a parser error passes, every other failure becomes
// "Error decoding the attachment".
template <class Read> auto DecodingAttachment(Read read) {
    try {
        return read();
    } catch (const EMessageParserError&) {
        throw;
    } catch (const std::exception&) {
        throw EMessageParserError(kErrorDecodingAttachment);
    }
}
} // namespace

TmsCustomDecoder::TmsCustomDecoder(TStream& source) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&source))
        FSource.WriteString(memory->View());
    else
        FSource.LoadFromStream(source);
    FSource.Reset();
    const std::string_view text = FSource.View();
    FSourceEndsWithBreak = !text.empty() && (text.back() == '\n' || text.back() == '\r');
    FMaxBodyLines = kFreeLines + text.size() / kBytesPerLine;
}

bool TmsCustomDecoder::ReadLine() {
    return FSource.ReadLineView(FLine);
}

bool TmsCustomDecoder::ReadHeaderBlock(TmsHeaders& list) {
    bool whole = true;
    for (;;) {
        if (!ReadLine()) {
            // The reader hands out the end marker only at the end of the text.
            if (!FSource.Eof()) throw EMessageParserError(kUnableToRetrieveHeaders);
            return whole;
        }
        if (FLine.empty()) return whole;
        if (whole && !list.AddLine(FLine)) whole = false;
    }
}

void TmsCustomDecoder::ReadPartHeaders() {
    FPartHeaders.Clear();
    if (!ReadHeaderBlock(FPartHeaders)) throw EMessageParserError(kTooManyHeaderLines);
}

void TmsCustomDecoder::Decode() {
    if (!FMessage) return;
    const bool wholeHeader = ReadHeaderBlock(FHeaderBlock);
    if (!wholeHeader) {
        auto& lines = FHeaderBlock.Items();
        lines.erase(lines.end() - kHeaderRoom, lines.end());
    }
    FillFromHeaders();
    try {
        // The fields that fit are filled in; the whole text goes along as "original.eml".
        if (!wholeHeader) throw EMessageParserError(kTooManyHeaderLines);
        if (GetHeaderValue(FHeaderBlock, "MIME-VERSION").find("1.0") != std::string::npos)
            DecodeMimeBody();
        else
            DecodePlainBody();
    } catch (const std::exception& e) {
        // Whatever went wrong, the message is kept: the original text goes along with it.
        StoreOriginalAsAttachment(e.what());
    }
    if (!FTerminatorRemoved) DropTerminatorLine();
}

void TmsCustomDecoder::DecodeMimeBody() {
    if (GetHeaderValue(FHeaderBlock, "X-Mailer") == kVMailsystem)
        DeleteHeader(FHeaderBlock, "Content-Type");
    const std::string contentType = GetHeaderValue(FHeaderBlock, "Content-type");
    const std::string media = LowerCase(GetMediaType(contentType));
    if (media == "multipart/alternative") {
        FAlternativeMessage = true;
        DecodeMultipart();
    } else if (IsMultipartType(media)) {
        DecodeMultipart();
    } else if (!contentType.empty() && !IsTextBodyPart(FHeaderBlock, contentType)) {
        DecodeSinglePartAttachment();
    } else {
        DecodeTextBody();
    }
}

TmsCustomDecoder::TPartEnd TmsCustomDecoder::DelimiterKind() const {
    switch (DelimiterOf(FLine, FDelimiter)) {
    case dlPart:
        return peDelimiter;
    case dlClose:
        return peClose;
    default:
        return peEnd;
    }
}

bool TmsCustomDecoder::SkipToDelimiter(bool acceptClose, bool& closed) {
    while (ReadLine()) {
        const TDelimiter kind = DelimiterOf(FLine, FDelimiter);
        if (kind == dlPart || (acceptClose && kind == dlClose)) {
            closed = kind == dlClose;
            return true;
        }
    }
    return false;
}

void TmsCustomDecoder::DecodeMultipart() {
    const std::string boundary =
        GetHeaderParam("Boundary", GetHeaderValue(FHeaderBlock, "Content-Type"));
    // Without a boundary every line "--" would be a delimiter; keep the original instead.
    if (boundary.empty()) throw EMessageParserError(kCannotFindBoundary);
    FDelimiter = "--" + boundary;
    bool closed = false;
    if (!SkipToDelimiter(false, closed)) throw EMessageParserError(kCannotFindBoundary);
    DecodeFirstPart();
    if (!FDone) DecodeAttachmentParts();
}

void TmsCustomDecoder::DecodeFirstPart() {
    ReadPartHeaders();
    std::string contentType = GetHeaderValue(FPartHeaders, "Content-Type");
    // A nested alternative block as first part; inside an alternative message such a block is
    // one of the alternatives and stays whole.
    if (!FAlternativeMessage && LowerCase(GetMediaType(contentType)) == "multipart/alternative") {
        FInAlternative = true;
        FSavedDelimiter = FDelimiter;
        const std::string boundary = GetHeaderParam("boundary", contentType);
        if (boundary.empty()) throw EMessageParserError(kCannotFindBoundary);
        FDelimiter = "--" + boundary;
        bool closed = false;
        if (!SkipToDelimiter(false, closed)) throw EMessageParserError(kCannotFindBoundary);
        ReadPartHeaders();
        contentType = GetHeaderValue(FPartHeaders, "Content-Type");
    }
    if (SameText(GetHeaderParam("CharSet", contentType), "iso-2022-jp"))
        FMessage->SetCharSet(csISO2022jp);
    const std::string cte = LowerCase(GetHeaderValue(FPartHeaders, "Content-Transfer-Encoding"));
    // An attachment, or base64 text that is not Japanese: left to DecodeAttachmentParts,
    // which takes the headers just read.
    if (!IsTextBodyPart(FPartHeaders, contentType) ||
        (cte == "base64" && FMessage->CharSet() != csISO2022jp)) {
        FFirstPartLeft = true;
        return;
    }
    FMessage->Body().Clear();
    if (cte == "quoted-printable") FMessage->SetCharSet(csISO8859);
    TakeBodyPart(contentType);
    const TPartEnd end = ReadBodyLines(cte);
    // An empty text part still counts as the body.
    if (FMessage->Body().Empty()) FMessage->Body().Add("");
    if (end == peEnd) throw EMessageParserError(kCannotFindBoundary);
    if (end == peClose) {
        // The text was the only part of its block. A nested alternative block may still be
        // followed by attachments of the enclosing multipart.
        if (FInAlternative)
            FinishNestedAlternative(FDone);
        else
            FDone = true;
        if (FDone) FMessage->SetContentType(GetMediaType(contentType));
    }
}

void TmsCustomDecoder::TakeBodyPart(const std::string& contentType) {
    const std::string charset = GetHeaderParam("charset", contentType);
    if (!charset.empty()) FMessage->SetCharSetName(ShortText(charset));
    FMessage->SetBodyContentType(ShortText(ContentTypeWithout(
        contentType, {"charset", "charset*", "name", "name*", "filename", "filename*"})));
}

TmsCustomDecoder::TPartEnd TmsCustomDecoder::ReadBodyLines(const std::string& cte) {
    const bool base64 = cte == "base64";
    const bool qp = cte == "quoted-printable";
    FBuffer.clear();
    TBase64Decoder base64Decoder;
    TPartEnd end = peEnd;
    while (ReadLine()) {
        end = DelimiterKind();
        if (end != peEnd) break;
        if (base64) {
            base64Decoder.Append(WithoutTrailingBlanks(FLine), FBuffer);
        } else if (qp) {
            QPDecodeLineAppend(FLine, FBuffer);
        } else {
            AddBodyLine(FLine);
        }
    }
    base64Decoder.Finish(FBuffer);
    if (base64 || qp) AddBodyText(FBuffer);
    FBuffer.clear();
    return end;
}

void TmsCustomDecoder::FinishNestedAlternative(bool& done) {
    FInAlternative = false;
    FDelimiter = FSavedDelimiter;
    if (!SkipToDelimiter(true, done)) throw EMessageParserError(kCannotFindClosingBoundary);
}

void TmsCustomDecoder::DecodeAttachmentParts() {
    while (FFirstPartLeft || !FSource.AtEnd()) {
        ProcessMessages();
        CheckPartCount();
        if (!FFirstPartLeft) ReadPartHeaders();
        FFirstPartLeft = false;
        bool uuencoded = false;
        auto item =
            NewItem(*FMessage, FPartHeaders, FInAlternative || FAlternativeMessage, uuencoded);
        const TPartEnd end =
            DecodingAttachment([&] { return ReadPartData(*item, uuencoded, true); });
        FMessage->Attachments().Add(std::move(item));
        if (end == peDelimiter) continue;
        if (!FInAlternative) return;
        // The nested alternative block is over; go on with the enclosing multipart unless its
        // closing delimiter comes first.
        bool closed = false;
        FinishNestedAlternative(closed);
        if (closed) return;
    }
}

void TmsCustomDecoder::AddBodyLine(std::string_view line) {
    TStringList& body = FMessage->Body();
    if (std::size_t(body.Count()) >= FMaxBodyLines) throw EMessageParserError(kTooManyLines);
    body.Add(std::string(line));
}

void TmsCustomDecoder::AddBodyText(std::string_view text) {
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++lines;
    TStringList& body = FMessage->Body();
    if (std::size_t(body.Count()) + lines + 1 > FMaxBodyLines)
        throw EMessageParserError(kTooManyLines);
    SplitLines(text, body.Items());
}

void TmsCustomDecoder::CheckPartCount() {
    TmsAttList& attachments = FMessage->Attachments();
    if (attachments.Count() < kMaxParts) return;
    // "original.eml" takes the place of the last part, so that the saved message, read
    // again, holds no more parts than it may.
    attachments.Delete(attachments.Count() - 1);
    throw EMessageParserError(kTooManyParts);
}

void TmsCustomDecoder::DecodeSinglePartAttachment() {
    if (GetHeaderValue(FHeaderBlock, "Content-type").empty())
        throw EMessageParserError(kMissingContentType);
    bool uuencoded = false;
    auto item = NewItem(*FMessage, FHeaderBlock, false, uuencoded);
    DecodingAttachment([&] { return ReadPartData(*item, uuencoded, false); });
    FMessage->Attachments().Add(std::move(item));
}

std::size_t TmsCustomDecoder::BytesToDelimiter() {
    const std::string_view text = FSource.View();
    const std::size_t from = std::size_t(FSource.Position());
    const std::string needle = "\n" + FDelimiter;
    const void* at = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    return at ? std::size_t(static_cast<const char*>(at) - (text.data() + from))
              : text.size() - from;
}

TmsCustomDecoder::TPartEnd TmsCustomDecoder::ReadPartData(TmsAttItem& item, bool uuencoded,
                                                          bool inMultipart) {
    const TmsAttEncoding encoding = item.Encoding();
    // Once the data proves large, room for all of it is made at once, so that a large
    // attachment is not copied while it grows.
    auto reserve = [&] {
        const std::size_t span =
            inMultipart ? BytesToDelimiter() : std::size_t(FSource.Size() - FSource.Position());
        item.Data.Reserve(int64_t(FBuffer.size()) +
                          int64_t(encoding == aeBase64 ? span / 4 * 3 + 3 : span + span / 16 + 2));
    };
    FBuffer.clear();
    TBase64Decoder base64Decoder;
    // The line break after the last line read, held back: before a delimiter it belongs to
    // the delimiter, not to the data.
    bool pendingBreak = false;
    TPartEnd end = peEnd;
    while (ReadLine()) {
        if (inMultipart) {
            end = DelimiterKind();
            if (end != peEnd) break;
        } else if (encoding == aeBase64 && FLine == ".") {
            break;
        }
        if (encoding == aeBase64) {
            const std::string_view data = WithoutTrailingBlanks(FLine);
            if (data.empty()) continue;
            if (!uuencoded)
                base64Decoder.Append(data, FBuffer);
            else if (!StartsText("begin", data) && data != "`" && data != "end")
                UUDecodeAppend(data, FBuffer);
        } else {
            if (pendingBreak) FBuffer += "\r\n";
            if (encoding == aeSevenBit) {
                FBuffer += FLine;
                pendingBreak = true;
            } else {
                const bool soft = QPDecodeLineAppend(FLine, FBuffer);
                pendingBreak = !soft && FBuffer.back() == '\n';
                if (pendingBreak) FBuffer.resize(FBuffer.size() - 2);
            }
        }
        if (FBuffer.size() >= kFlushSize) {
            if (item.Data.Size() == 0) reserve();
            item.Data.WriteString(FBuffer);
            FBuffer.clear();
        }
    }
    base64Decoder.Finish(FBuffer);
    if (pendingBreak && !inMultipart && FSourceEndsWithBreak) FBuffer += "\r\n";
    item.Data.WriteString(FBuffer);
    FBuffer.clear();
    return end;
}

void TmsCustomDecoder::DecodeTextBody() {
    const std::string contentType = GetHeaderValue(FHeaderBlock, "Content-Type");
    // text/html and text/rtf select how the body is written back; any other type but plain
    // text (text/calendar, say) is kept so that it is written back too.
    const std::string media = LowerCase(GetMediaType(contentType));
    if (!media.empty() && media != "text/plain") FMessage->SetContentType(media);
    TStringList& body = FMessage->Body();
    body.Clear();
    const std::string cte = LowerCase(GetHeaderValue(FHeaderBlock, "Content-Transfer-Encoding"));
    const bool base64 = cte == "base64";
    // A body that a relay converted to quoted-printable without saying so in the field.
    const bool qp =
        cte == "quoted-printable" || LowerCase(GetHeaderValue(FHeaderBlock, "X-MIME-Autoconverted"))
                                             .find("to quoted-printable") != std::string::npos;
    if (SameText(GetHeaderParam("CharSet", contentType), "iso-2022-jp"))
        FMessage->SetCharSet(csISO2022jp);
    if (qp) FMessage->SetCharSet(csISO8859);
    TakeBodyPart(contentType);
    FBuffer.clear();
    if (base64) {
        // A line "." is the end of an old-style transfer, not data.
        TBase64Decoder base64Decoder;
        while (ReadLine() && FLine != ".")
            base64Decoder.Append(WithoutTrailingBlanks(FLine), FBuffer);
        base64Decoder.Finish(FBuffer);
        AddBodyText(FBuffer);
        FBuffer.clear();
        return;
    }
    while (ReadLine()) {
        if (UUBlocksFollow()) {
            RestartAsPlain();
            return;
        }
        AddBodyLine(FLine);
    }
    if (qp) {
        for (const std::string& line : body) QPDecodeLineAppend(line, FBuffer);
        body.Clear();
        AddBodyText(FBuffer);
        FBuffer.clear();
    }
}

void TmsCustomDecoder::RestartAsPlain() {
    FSource.Reset();
    FMessage->Body().Clear();
    FHeaderBlock.Clear();
    if (auto* message = dynamic_cast<TmsMessage*>(FMessage)) {
        message->Recipients().Clear();
        message->CC().Clear();
        message->BCC().Clear();
    }
    ReadHeaderBlock(FHeaderBlock);
    FillFromHeaders();
    DecodePlainBody();
}

void TmsCustomDecoder::DecodePlainBody() {
    while (ReadLine()) {
        if (UUBlocksFollow()) {
            ExtractUUBlocks();
            FMessage->SetEncoding(meUU);
            return;
        }
        AddBodyLine(FLine);
    }
}

bool TmsCustomDecoder::UUBlockStarts() {
    std::string_view next;
    return IsUUBegin(FLine) && FSource.PeekLineView(next) && IsUUDataLine(next);
}

bool TmsCustomDecoder::UUBlocksFollow() {
    if (FNoUUBlocks || !UUBlockStarts()) return false;
    // The blocks are read through once as ExtractUUBlocks will read them; a line that would
    // not decode keeps the whole text as text.
    const TLineStream::TMark mark = FSource.Mark();
    const std::string_view beginLine = FLine;
    bool inBlock = true, decodes = true;
    while (decodes && ReadLine()) {
        if (!inBlock)
            inBlock = UUBlockStarts();
        else if (FLine == "`" || SameText(FLine, "END"))
            inBlock = false;
        else
            decodes = FLine.empty() || IsUUDataLine(FLine);
    }
    FSource.Restore(mark);
    FLine = beginLine;
    FNoUUBlocks = !decodes;
    return decodes;
}

void TmsCustomDecoder::ExtractUUBlocks() {
    for (;;) {
        CheckPartCount();
        // FLine is a begin line.
        auto item = std::make_unique<TmsAttItem>();
        bool atEnd = true, backquote = false;
        DecodingAttachment([&] {
            std::string name = UUFileName(FLine);
            if (name.empty()) name = "att" + AttachmentNumber(*FMessage) + ".txt";
            item->SetFileName(name);
            FBuffer.clear();
            while (ReadLine()) {
                backquote = FLine == "`";
                if (backquote || SameText(FLine, "END")) {
                    atEnd = false;
                    break;
                }
                if (!FLine.empty()) UUDecodeAppend(FLine, FBuffer);
                if (FBuffer.size() >= kFlushSize) {
                    item->Data.WriteString(FBuffer);
                    FBuffer.clear();
                }
            }
            item->Data.WriteString(FBuffer);
            FBuffer.clear();
            return 0;
        });
        FMessage->Attachments().Add(std::move(item));
        if (atEnd) return;
        // What the sender wrote between and after the blocks belongs to the body; the "end"
        // after the backquote line closes the block.
        bool first = true;
        for (;;) {
            if (!ReadLine()) return;
            const bool blockEnd = first && backquote && SameText(FLine, "end");
            first = false;
            if (blockEnd) continue;
            if (UUBlockStarts()) break;
            AddBodyLine(FLine);
        }
    }
}

void TmsCustomDecoder::StoreOriginalAsAttachment(const std::string& error) {
    TStringList& body = FMessage->Body();
    body.Add(kErrorHasOccured);
    std::string text = error;
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    body.Add(text);
    body.Add(kOriginalStored);
    try {
        auto item = std::make_unique<TmsAttItem>();
        item->SetFileName(kOriginalFileName);
        item->SetContentType(kOriginalContentType);
        item->SetEncoding(aeSevenBit);
        item->Data.WriteString(FSource.View());
        FMessage->Attachments().Add(std::move(item));
    } catch (const std::exception&) {
        // Nothing more can be done; the explanation stays in the body.
    }
}

void TmsCustomDecoder::DropTerminatorLine() {
    TStringList& body = FMessage->Body();
    if (!body.Empty() && body[body.Count() - 1] == ".") body.Delete(body.Count() - 1);
}

void TmsMessageDecoder::FillFromHeaders() {
    Message()->ProcessHeaders(HeaderBlock());
}

void TmsArticleDecoder::FillFromHeaders() {
    Message()->ProcessHeaders(HeaderBlock());
}
