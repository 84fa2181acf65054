// The message encoder: a TmsMessage or TmsArticle as RFC 822/MIME text with CR LF line ends.
#pragma once

#include "base/Streams.h"
#include "message/msmsg.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

// Eight random digits 0 to 8.
std::string NewBoundary();

class TmsCustomEncoder {
public:
    // The message is only read: saving does not change it.
    explicit TmsCustomEncoder(const TmsCustomMessage& message);
    virtual ~TmsCustomEncoder() = default;
    TmsCustomEncoder(const TmsCustomEncoder&) = delete;
    TmsCustomEncoder& operator=(const TmsCustomEncoder&) = delete;

    TStream* Stream() const { return FStream; }
    void SetStream(TStream* stream) { FStream = stream; }

    // Writes the whole message from position 0 of the stream; the stream ends after it.
    void Encode();

protected:
    // Writes the header block up to (not including) the MIME fields of the body.
    virtual void WriteHeaders() = 0;

    // Writes text and CR LF. Every line is written as it is: this is a file, not a transfer.
    void WriteLine(std::string_view text);
    // A display name as written in an address field: enclosed in double quotes when it holds
    // a character that is special in an address, or an encoded word for ISO-2022-JP text.
    std::string DisplayName(const std::string& name) const;
    // A composed subject: ISO-2022-JP text as its own encoded word, other text that is not
    // ASCII as UTF-8 encoded words.
    std::string SubjectField(const std::string& subject) const;
    // True when the subject and display names are to be written as encoded words.
    bool EncodeWords() const;
    // The fields given and the MIME fields of the message, which the encoder writes anew,
    // leave the working header lines (all in one pass).
    void RemoveComposedHeaders(std::vector<std::string_view> fields);
    // Writes the working header lines that are left, in their order.
    void WriteRemainingHeaders();

    const TmsCustomMessage& FMessage;
    // The message's header lines; fields that are written anew are removed from it.
    TmsHeaders FHeaders;

private:
    enum TBodyKind {
        bkUU,
        bkMixed,
        bkAlternative,
        bkSingleAttachment,
        bkHtmlOrRtf,
        bkText,
        bkWrappedText
    };

    TBodyKind BodyKind() const;
    // The type of a single-part text message.
    std::string SingleTextType() const;
    void WritePlainText(const std::string& contentType);
    // A text message as the only part of a multipart.
    void WriteWrappedText();
    void WriteHtmlOrRtf();
    void WriteSingleAttachment();
    void WriteMultipart(bool alternative);
    void WriteUUMessage();
    void WriteAttachmentData(const TmsAttItem& item, bool inMultipart);
    void WriteTextPartHeaders(const std::string& contentType);
    // The Content-Type value of a text part: type with the charset (none for "").
    std::string TextContentType(const std::string& type, const std::string& charset) const;
    // The body's transfer encoding: quoted-printable for ISO-8859 text or lines of 256
    // characters or more, else 8bit or 7bit as the text holds 8-bit bytes or not.
    void WriteTransferEncoding();
    void WriteBodyLines(bool quotedPrintable);
    // The part headers of an attachment; named adds its file name. firstPart: the attachment
    // comes where the text body would, and an unnamed one is marked as an attachment.
    void WriteAttachmentHeaders(const TmsAttItem& item, bool named, bool firstPart);
    // The Content-Type of the text part: the one the body arrived with when it is of the
    // given media type (or of any, for type ""), else type ("text/plain" for "").
    std::string TextPartType(const std::string& type) const;
    bool BodyIsQuotedPrintable() const;
    // A boundary that is new in this message and occurs in none of the text it encloses.
    std::string FreshBoundary();
    bool OccursInText(std::string_view delimiter) const;
    void FlushIfFull();
    void Flush();

    TStream* FStream = nullptr;
    bool FLongLines = false;
    std::set<std::string> FBoundaries;
    std::string FOut;
};

class TmsMessageEncoder : public TmsCustomEncoder {
public:
    explicit TmsMessageEncoder(const TmsMessage& message) : TmsCustomEncoder(message) {}

protected:
    void WriteHeaders() override;

private:
    void WriteAddressField(std::string_view fieldName, const TmsAddressList& list);
};

class TmsArticleEncoder : public TmsCustomEncoder {
public:
    explicit TmsArticleEncoder(const TmsArticle& article) : TmsCustomEncoder(article) {}

protected:
    void WriteHeaders() override;
};
