#include "message/msmsg.h"

#include "base/StrUtils.h"
#include "message/msmimeutil.h"
#include "message/mspars.h"

namespace {
const char* const kSenderRequired = "The address of sender is required";
const char* const kRecipientRequired = "At least one Recipient, CC or BCC must be entered";
const char* const kNewsgroupRequired = "Newsgroup header is required";
const char* const kSubjectRequired = "Subject header is required";

// Fills address from one address text. Text that does not parse is kept whole as the
// address, so a message with one odd recipient still lists and saves all the others.
void ParseAddressKeepingRaw(std::string_view text, TmsMailAddress& address) {
    try {
        ParseMailAddress(text, address);
    } catch (const Exception&) {
        address.SetName("");
        address.SetAddress(Trim(text));
    }
}

void AddAddresses(const TStringList& list, std::string_view field, TmsAddressList& target) {
    TStringList items;
    GetHeaderAddresses(list, field, items);
    for (const auto& item : items) ParseAddressKeepingRaw(item, *target.Add());
}

bool HasAddress(const TmsAddressList& list) {
    for (const auto& a : list)
        if (!a->Address().empty()) return true;
    return false;
}
} // namespace

// --- TmsCustomMessage ---------------------------------------------------------------

void TmsCustomMessage::SetSubject(std::string_view value) {
    FSubject = ShortText(value);
}

void TmsCustomMessage::SetAttachments(const TmsAttList& value) {
    FAttachments.Assign(value);
    FContentType = FAttachments.Count() == 0 ? "text/plain" : "multipart/mixed";
}

const std::string& TmsCustomMessage::ContentType() const {
    const int count = FAttachments.Count();
    auto allAlternative = [this] {
        for (const auto& a : FAttachments)
            if (!BareNameStartsWith(a->FileName(), "_alt.")) return false;
        return true;
    };
    if (FEncoding == meUU) {
        FContentType.clear();
    } else if (count > 0 && allAlternative()) {
        FContentType = "multipart/alternative";
    } else if (FBody.Empty()) {
        const std::string name = count == 1 ? BareLowerName(FAttachments.Items(0).FileName()) : "";
        if (name == "_rtfbody.rtf")
            FContentType = "text/rtf";
        else if (name == "_htmbody.htm")
            FContentType = "text/html";
        else if (count == 1)
            FContentType = FAttachments.Items(0).ContentType();
        else
            FContentType = count == 0 ? "text/plain" : "multipart/mixed";
    } else if (count > 0) {
        FContentType = "multipart/mixed";
    } else if (FContentType.empty()) {
        FContentType = "text/plain";
    }
    return FContentType;
}

void TmsCustomMessage::SetContentType(std::string_view value) {
    FContentType = LowerCase(ShortText(value));
}

void TmsCustomMessage::AssignCommon(const TmsCustomMessage& source) {
    if (&source == this) return;
    FSender.Assign(source.FSender);
    FSubject = source.FSubject;
    FEncoding = source.FEncoding;
    FCharSet = source.FCharSet;
    FCharSetName = source.FCharSetName;
    FBodyContentType = source.FBodyContentType;
    FHeaders.Assign(source.FHeaders);
    FBody.Assign(source.FBody);
    FAttachments.Assign(source.FAttachments);
    FContentType = source.ContentType();
    Tag = source.Tag;
}

void TmsCustomMessage::Assign(const TmsCustomMessage& source) {
    AssignCommon(source);
}

void TmsCustomMessage::CheckRequired() const {
    if (FSender.Address().empty()) throw EMessageError(kSenderRequired);
}

void TmsCustomMessage::Clear() {
    FBody.Clear();
    FAttachments.Clear();
    FSender.Clear();
    FHeaders.Clear();
    FSubject.clear();
    FEncoding = meMIME;
    FCharSet = csUSASCII;
    FCharSetName.clear();
    FBodyContentType.clear();
    FContentType.clear();
}

void TmsCustomMessage::LoadWithoutTerminator(TStream& stream) {
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } reset{FWithoutTerminator};
    FWithoutTerminator = true;
    LoadFromStream(stream);
}

void TmsCustomMessage::LoadFromRetrievedStream(TStream& stream) {
    LoadWithoutTerminator(stream);
}

void TmsCustomMessage::LoadFromFile(const std::string& fileName) {
    Clear();
    TFileStream file(fileName, fmOpenRead);
    LoadWithoutTerminator(file);
}

void TmsCustomMessage::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
    // The saved file may be the only copy once the server deletes the mail.
    file.Flush();
}

// --- TmsMessage ---------------------------------------------------------------------

void TmsMessage::Assign(const TmsCustomMessage& source) {
    if (&source == this) return;
    if (const auto* m = dynamic_cast<const TmsMessage*>(&source)) {
        FRecipients.Assign(m->FRecipients);
        FCC.Assign(m->FCC);
        FBCC.Assign(m->FBCC);
        FPriority = m->FPriority;
        FReturnReceipt = m->FReturnReceipt;
    }
    AssignCommon(source);
}

void TmsMessage::CheckRequired() const {
    TmsCustomMessage::CheckRequired();
    if (!HasAddress(FRecipients) && !HasAddress(FCC) && !HasAddress(FBCC))
        throw EMessageError(kRecipientRequired);
}

void TmsMessage::Clear() {
    TmsCustomMessage::Clear();
    FCC.Clear();
    FBCC.Clear();
    FRecipients.Clear();
}

void TmsMessage::ProcessHeaders(const TStringList& list) {
    ParseAddressKeepingRaw(GetHeaderValue(list, "FROM"), Sender());
    AddAddresses(list, "TO", FRecipients);
    AddAddresses(list, "CC", FCC);
    AddAddresses(list, "BCC", FBCC);
    const std::string subject = GetHeaderValue(list, "Subject");
    if (!subject.empty()) SetSubject(subject);
    const std::string priority = GetHeaderValue(list, "X-Priority");
    FPriority = priority == "1" ? ptHigh : priority == "5" ? ptLow : ptNormal;
    // Set from this message alone: a receipt request must not carry over to the next one.
    FReturnReceipt = !GetHeaderValue(list, "Return-receipt-to").empty();
    Headers().Assign(list);
}

// --- TmsArticle ---------------------------------------------------------------------

void TmsArticle::Assign(const TmsCustomMessage& source) {
    if (&source == this) return;
    if (const auto* a = dynamic_cast<const TmsArticle*>(&source)) FNewsGroups = a->FNewsGroups;
    AssignCommon(source);
}

void TmsArticle::CheckRequired() const {
    TmsCustomMessage::CheckRequired();
    if (FNewsGroups.empty()) throw EMessageError(kNewsgroupRequired);
    if (Subject().empty()) throw EMessageError(kSubjectRequired);
}

void TmsArticle::Clear() {
    FNewsGroups.clear();
    TmsCustomMessage::Clear();
}

void TmsArticle::ProcessHeaders(const TStringList& list) {
    ParseAddressKeepingRaw(GetHeaderValue(list, "FROM"), Sender());
    Path = GetHeaderValue(list, "PATH");
    FNewsGroups = GetHeaderValue(list, "NEWSGROUPS");
    MessageID = GetHeaderValue(list, "MESSAGE-ID");
    const std::string subject = GetHeaderValue(list, "Subject");
    if (!subject.empty()) SetSubject(subject);
    Headers().Assign(list);
}
