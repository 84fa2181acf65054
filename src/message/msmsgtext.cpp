#include "message/msmsgtext.h"

#include "base/Charset.h"
#include "base/StrUtils.h"

namespace {

TmsAddressText AddressText(const TmsMailAddress& address) {
    return {RawToUtf8(address.Name()), RawToUtf8(address.Address())};
}

const TmsAddressList* AddressList(const TmsMessage& message, std::string_view field) {
    if (SameText(field, "To")) return &message.Recipients();
    if (SameText(field, "CC")) return &message.CC();
    if (SameText(field, "BCC")) return &message.BCC();
    return nullptr;
}

} // namespace

std::string SubjectText(const TmsCustomMessage& message) {
    if (HasHeader(message.Headers(), "Subject")) return GetHeaderText(message.Headers(), "Subject");
    return RawToUtf8(message.Subject());
}

TmsAddressText SenderText(const TmsCustomMessage& message) {
    std::vector<TmsAddressText> from;
    GetHeaderAddressesText(message.Headers(), "From", from);
    if (from.empty()) return AddressText(message.Sender());
    return from.front();
}

std::string SenderDisplayText(const TmsCustomMessage& message) {
    TmsAddressText sender = SenderText(message);
    return sender.Name.empty() ? sender.Address : sender.Name;
}

std::vector<TmsAddressText> RecipientsText(const TmsMessage& message, const char* field) {
    std::vector<TmsAddressText> items;
    if (HasHeader(message.Headers(), field)) {
        GetHeaderAddressesText(message.Headers(), field, items);
    } else if (const TmsAddressList* list = AddressList(message, field)) {
        for (const auto& address : *list) items.push_back(AddressText(*address));
    }
    return items;
}

std::string BodyCharset(const TmsCustomMessage& message) {
    if (!message.CharSetName().empty()) return message.CharSetName();
    return message.CharSet() == csISO2022jp ? "iso-2022-jp" : "";
}

std::string BodyLineText(const TmsCustomMessage& message, std::string_view line) {
    return CharsetToUtf8(BodyCharset(message), line);
}

std::string BodyText(const TmsCustomMessage& message) {
    const std::string charset = BodyCharset(message);
    std::string out;
    bool first = true;
    for (const auto& line : message.Body()) {
        if (!first) out += '\n';
        first = false;
        CharsetToUtf8Append(charset, line, out);
    }
    return out;
}

std::string HeaderLineText(std::string_view line) {
    return DecodeHeaderUnicode(line);
}
