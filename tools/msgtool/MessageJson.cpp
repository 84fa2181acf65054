#include "MessageJson.h"

#include "Sha256.h"

namespace {
class TJsonWriter {
public:
    std::string Text;

    void String(std::string_view bytes) {
        static const char kHex[] = "0123456789abcdef";
        Text += '"';
        for (const char ch : bytes) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '"' || c == '\\') {
                Text += '\\';
                Text += char(c);
            } else if (c < 0x20 || c == 0x7f) {
                Text += "\\u00";
                Text += kHex[c >> 4];
                Text += kHex[c & 15];
            } else if (c < 0x80) {
                Text += char(c);
            } else {
                Text += char(0xc0 | (c >> 6));
                Text += char(0x80 | (c & 0x3f));
            }
        }
        Text += '"';
    }
    void Key(const char* name) {
        Separate();
        String(name);
        Text += ':';
        FFirst = true;
    }
    void Open(char bracket) {
        Separate();
        Text += bracket;
        FFirst = true;
    }
    void Close(char bracket) {
        Text += bracket;
        FFirst = false;
    }
    void Value(std::string_view bytes) {
        Separate();
        String(bytes);
        FFirst = false;
    }
    void Number(long long n) {
        Separate();
        Text += std::to_string(n);
        FFirst = false;
    }
    void Bool(bool b) {
        Separate();
        Text += b ? "true" : "false";
        FFirst = false;
    }

private:
    void Separate() {
        if (!FFirst) Text += ',';
        FFirst = true;
    }
    bool FFirst = true;
};

void WriteAddress(TJsonWriter& w, const TmsMailAddress& address) {
    w.Open('{');
    w.Key("name");
    w.Value(address.Name());
    w.Key("address");
    w.Value(address.Address());
    w.Close('}');
}

void WriteAddresses(TJsonWriter& w, const char* key, const TmsAddressList& list) {
    w.Key(key);
    w.Open('[');
    for (const auto& address : list) WriteAddress(w, *address);
    w.Close(']');
}

void WriteLines(TJsonWriter& w, const char* key, const TStringList& lines) {
    w.Key(key);
    w.Open('[');
    for (const auto& line : lines) w.Value(line);
    w.Close(']');
}
} // namespace

std::string MessageJson(const TmsMessage& message, bool withContent) {
    TJsonWriter w;
    w.Open('{');
    w.Key("subject");
    w.Value(message.Subject());
    w.Key("sender");
    WriteAddress(w, message.Sender());
    WriteAddresses(w, "recipients", message.Recipients());
    WriteAddresses(w, "cc", message.CC());
    WriteAddresses(w, "bcc", message.BCC());
    w.Key("priority");
    w.Number(message.Priority());
    w.Key("returnReceipt");
    w.Bool(message.ReturnReceipt());
    w.Key("contentType");
    w.Value(message.ContentType());
    w.Key("charset");
    w.Number(message.CharSet());
    w.Key("encoding");
    w.Number(message.Encoding());
    WriteLines(w, "headers", message.Headers());
    if (withContent) {
        WriteLines(w, "body", message.Body());
        w.Key("attachments");
        w.Open('[');
        for (const auto& item : message.Attachments()) {
            w.Open('{');
            w.Key("fileName");
            w.Value(item->FileName());
            w.Key("contentType");
            w.Value(item->ContentType());
            w.Key("encoding");
            w.Number(item->Encoding());
            w.Key("size");
            w.Number((long long)item->Data.View().size());
            w.Key("sha256");
            w.Value(Sha256Hex(item->Data.View()));
            w.Close('}');
        }
        w.Close(']');
    }
    w.Close('}');
    return w.Text;
}
