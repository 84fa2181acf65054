// The message decoder: RFC 822/MIME text into a TmsMessage or TmsArticle.
#pragma once

#include "base/Exceptions.h"
#include "message/msmsg.h"
#include "message/msmsgcls.h"

#include <string>

// A structural error in a message; Decode turns it into the "original.eml" fallback.
PV_DECLARE_EXCEPTION(EMessageParserError, Exception);

class TmsCustomDecoder {
public:
    // Takes a private copy of the whole of source.
    explicit TmsCustomDecoder(TStream& source);
    virtual ~TmsCustomDecoder() = default;
    TmsCustomDecoder(const TmsCustomDecoder&) = delete;
    TmsCustomDecoder& operator=(const TmsCustomDecoder&) = delete;

    TmsCustomMessage* Message() const { return FMessage; }
    void SetMessage(TmsCustomMessage* message) { FMessage = message; }

    // Set for text that has been through the POP3 client, which already removed the
    // terminator line and undid the dot-stuffing: a last line "." is then the sender's.
    void SetTerminatorRemoved(bool removed) { FTerminatorRemoved = removed; }

    // Parses the text into the message, which the caller has cleared. Errors of the header
    // block reach the caller; any error in the body ends in StoreOriginalAsAttachment.
    void Decode();

protected:
    // Fills the message's header-derived fields from the header block.
    virtual void FillFromHeaders() = 0;
    const TmsHeaders& HeaderBlock() const { return FHeaderBlock; }

private:
    // How the data of a part ended.
    enum TPartEnd { peDelimiter, peClose, peEnd };

    bool ReadLine();
    // False when the block had more lines than a header list keeps; the rest are read past.
    bool ReadHeaderBlock(TmsHeaders& list);
    // Reads the header block of a part; one over the limit is a structural error.
    void ReadPartHeaders();
    void DecodeMimeBody();
    void DecodeMultipart();
    void DecodeFirstPart();
    void DecodeAttachmentParts();
    void DecodeSinglePartAttachment();
    // Add lines to the body; EMessageParserError when it would hold more than its share.
    void AddBodyLine(std::string_view line);
    void AddBodyText(std::string_view text);
    // Raises EMessageParserError, with room made for "original.eml", once the message holds
    // as many attachments as it may.
    void CheckPartCount();
    void DecodeTextBody();
    void DecodePlainBody();
    // True when the line read is a begin line and uuencoded data follows it.
    bool UUBlockStarts();
    // True when uuencoded blocks start at the line read and all of them decode. Once they do
    // not, the rest of the text is text.
    bool UUBlocksFollow();
    void ExtractUUBlocks();
    void StoreOriginalAsAttachment(const std::string& error);
    void DropTerminatorLine();

    // Reads lines up to the next delimiter of the current boundary; false at the end.
    bool SkipToDelimiter(bool acceptClose, bool& closed);
    // After the last part of a nested alternative block: back to the enclosing boundary and
    // on to its next delimiter; closed tells whether that was its closing one.
    void FinishNestedAlternative(bool& closed);
    void RestartAsPlain();
    void TakeBodyPart(const std::string& contentType);
    // Reads the data of the part being decoded into item. Inside a multipart the data ends at
    // a delimiter; otherwise at the end of the text (base64: also at a line ".").
    TPartEnd ReadPartData(TmsAttItem& item, bool uuencoded, bool inMultipart);
    TPartEnd ReadBodyLines(const std::string& cte);
    TPartEnd DelimiterKind() const;
    std::size_t BytesToDelimiter();

    TLineStream FSource;
    TmsHeaders FHeaderBlock;
    TmsHeaders FPartHeaders;
    TmsCustomMessage* FMessage = nullptr;
    std::string FDelimiter;
    bool FInAlternative = false;
    std::string FSavedDelimiter;
    bool FAlternativeMessage = false;

    std::string_view FLine;      // the line last read, a view of the source
    bool FFirstPartLeft = false; // the first part's headers are read, its data is not
    bool FDone = false;          // the multipart has no further parts
    bool FSourceEndsWithBreak = false;
    bool FTerminatorRemoved = false;
    bool FNoUUBlocks = false;
    std::size_t FMaxBodyLines = 0; // the text holds a begin line whose blocks do not decode
    std::string FBuffer;           // decoded bytes on their way into an attachment
};

class TmsMessageDecoder : public TmsCustomDecoder {
public:
    using TmsCustomDecoder::TmsCustomDecoder;

protected:
    void FillFromHeaders() override;
};

class TmsArticleDecoder : public TmsCustomDecoder {
public:
    using TmsCustomDecoder::TmsCustomDecoder;

protected:
    void FillFromHeaders() override;
};
