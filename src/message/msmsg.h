// The in-memory mail message and news article.
#pragma once

#include "message/msmsgcls.h"

#include <string>

class TmsCustomMessage {
public:
    TmsCustomMessage() = default;
    virtual ~TmsCustomMessage() = default;
    TmsCustomMessage(const TmsCustomMessage&) = delete;
    TmsCustomMessage& operator=(const TmsCustomMessage&) = delete;

    TmsMailAddress& Sender() { return FSender; }
    const TmsMailAddress& Sender() const { return FSender; }
    void SetSender(const TmsMailAddress& value) { FSender.Assign(value); }
    const std::string& Subject() const { return FSubject; }
    void SetSubject(std::string_view value);
    TmsMsgEncoding Encoding() const { return FEncoding; }
    void SetEncoding(TmsMsgEncoding value) { FEncoding = value; }
    TmsCharSet CharSet() const { return FCharSet; }
    void SetCharSet(TmsCharSet value) { FCharSet = value; }
    TmsHeaders& Headers() { return FHeaders; }
    const TmsHeaders& Headers() const { return FHeaders; }
    void SetHeaders(const TStringList& value) { FHeaders.Assign(value); }
    TStringList& Body() { return FBody; }
    const TStringList& Body() const { return FBody; }
    void SetBody(const TStringList& value) { FBody.Assign(value); }
    TmsAttList& Attachments() { return FAttachments; }
    const TmsAttList& Attachments() const { return FAttachments; }
    // Replaces the attachments with copies; the stored content type becomes "text/plain"
    // for none, else "multipart/mixed".
    void SetAttachments(const TmsAttList& value);
    // Derived from the attachments and the body on every read; the result is stored.
    const std::string& ContentType() const;
    void SetContentType(std::string_view value);
    static constexpr const char* Version() { return "2.02"; }
    // The component tag, copied by Assign.
    long Tag = 0;

    // The raw stored content type (what the derivation falls back on).
    const std::string& StoredContentType() const { return FContentType; }
    // The charset parameter a text part arrived with, written back by the encoder.
    const std::string& CharSetName() const { return FCharSetName; }
    void SetCharSetName(std::string_view value) { FCharSetName = value; }
    // The media type and parameters (all but charset) of the part the text body came from,
    // for example "text/html" or "text/plain; format=flowed"; empty means plain text.
    const std::string& BodyContentType() const { return FBodyContentType; }
    void SetBodyContentType(std::string_view value) { FBodyContentType = value; }

    virtual void Assign(const TmsCustomMessage& source);
    virtual void CheckRequired() const;
    virtual void SaveToStream(TStream&) {}
    virtual void LoadFromStream(TStream&) {}
    virtual void Clear();
    virtual void ProcessHeaders(const TStringList&) {}

    // Loads a message as the POP3 client hands it over, without terminator and dot-stuffing:
    // every line is the sender's, a last line "." too. Runs LoadFromStream.
    void LoadFromRetrievedStream(TStream& stream);
    // Clear, then load the file through LoadFromStream (EFOpenError when it cannot be
    // opened; the message then stays cleared). A mail file holds the text as the sender
    // wrote it, a last line "." included.
    void LoadFromFile(const std::string& fileName);
    // Creates (or replaces) the file and writes the message through SaveToStream.
    void SaveToFile(const std::string& fileName);

protected:
    void AssignCommon(const TmsCustomMessage& source);
    // Set while text without a POP3 terminator is loaded (LoadFromRetrievedStream,
    // LoadFromFile): the decoder then keeps a last line ".".
    bool WithoutTerminator() const { return FWithoutTerminator; }

private:
    TmsMailAddress FSender;
    std::string FSubject;
    TmsMsgEncoding FEncoding = meMIME;
    TmsCharSet FCharSet = csUSASCII;
    TmsHeaders FHeaders;
    TStringList FBody;
    TmsAttList FAttachments;
    mutable std::string FContentType = "text/plain";
    std::string FCharSetName;
    std::string FBodyContentType;
    bool FWithoutTerminator = false;

    void LoadWithoutTerminator(TStream& stream);
};

class TmsMessage : public TmsCustomMessage {
public:
    TmsAddressList& Recipients() { return FRecipients; }
    const TmsAddressList& Recipients() const { return FRecipients; }
    void SetRecipients(const TmsAddressList& value) { FRecipients.Assign(value); }
    TmsAddressList& CC() { return FCC; }
    const TmsAddressList& CC() const { return FCC; }
    void SetCC(const TmsAddressList& value) { FCC.Assign(value); }
    TmsAddressList& BCC() { return FBCC; }
    const TmsAddressList& BCC() const { return FBCC; }
    void SetBCC(const TmsAddressList& value) { FBCC.Assign(value); }
    bool ReturnReceipt() const { return FReturnReceipt; }
    void SetReturnReceipt(bool value) { FReturnReceipt = value; }
    TmsPriority Priority() const { return FPriority; }
    void SetPriority(TmsPriority value) { FPriority = value; }

    void Assign(const TmsCustomMessage& source) override;
    void CheckRequired() const override;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    void Clear() override;
    void ProcessHeaders(const TStringList& list) override;

private:
    TmsAddressList FRecipients;
    TmsAddressList FCC;
    TmsAddressList FBCC;
    bool FReturnReceipt = false;
    TmsPriority FPriority = ptNormal;
};

class TmsArticle : public TmsCustomMessage {
public:
    const std::string& NewsGroups() const { return FNewsGroups; }
    void SetNewsGroups(std::string_view value) { FNewsGroups = value; }
    std::string MessageID;
    std::string Path;

    void Assign(const TmsCustomMessage& source) override;
    void CheckRequired() const override;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    void Clear() override;
    void ProcessHeaders(const TStringList& list) override;

private:
    std::string FNewsGroups;
};
