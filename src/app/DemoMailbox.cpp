#include "app/DemoMailbox.h"

#include <initializer_list>

namespace {
struct TSample {
    const char* from;
    const char* subject;
    const char* date;
    const char* extra; // further header lines, each ending in CR LF
    std::string body;
};

std::string Lines(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out.append(l).append("\r\n");
    return out;
}

std::string Compose(const TSample& s) {
    std::string m =
        std::string("From: ") + s.from + "\r\nTo: Demo User <demo@postvigil.invalid>\r\n";
    m += std::string("Subject: ") + s.subject + "\r\n";
    if (*s.date) m += std::string("Date: ") + s.date + "\r\n";
    m += "Message-ID: <" + std::to_string(s.body.size()) + "." + std::to_string(m.size()) +
         "@demo.postvigil.invalid>\r\n";
    m += s.extra;
    if (std::string(s.extra).find("Content-Type") == std::string::npos)
        m += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n";
    return m + "\r\n" + s.body;
}

std::string Attachment(const char* boundary, const char* text, const char* name, const char* type,
                       const char* base64) {
    return Lines({"This is a multi-part message in MIME format.", ""}) + "--" + boundary + "\r\n" +
           Lines({"Content-Type: text/plain; charset=us-ascii", "", text, ""}) + "--" + boundary +
           "\r\nContent-Type: " + type + "; name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
           "filename=\"" +
           name + "\"\r\n\r\n" + base64 + "\r\n--" + boundary + "--\r\n";
}

std::string LongReport() {
    std::string body;
    body.reserve(130000);
    for (int i = 1; i <= 1700; ++i)
        body += "Line " + std::to_string(i) +
                " of the quarterly figures: all values are within the expected range.\r\n";
    return body;
}
} // namespace

std::vector<std::string> DemoMessages() {
    const TSample samples[] = {
        {"Postvigil Team <team@postvigil.invalid>", "Welcome to Postvigil",
         "Mon, 02 Dec 2024 09:15:00 +0100", "",
         Lines({"Hello,", "", "this mailbox is served by the demo on your own machine.",
                "Double click a row to see its header lines.", "", "Have fun!"})},
        {"Alarm Desk <alarm@example.org>", "Server room temperature high",
         "Mon, 02 Dec 2024 10:02:11 +0100", "X-Priority: 1\r\nImportance: High\r\n",
         Lines({"The temperature in server room B reached 31 degrees.", "Please check."})},
        {"newsletter@example.com", "Weekly digest", "Mon, 02 Dec 2024 11:30:00 +0000",
         "X-Priority: 5\r\n", Lines({"Nothing urgent this week."})},
        {"=?ISO-8859-1?Q?J=FCrgen_M=FCller?= <juergen@example.de>",
         "=?ISO-8859-1?Q?Gr=FC=DFe_aus_M=FCnchen?=", "Tue, 03 Dec 2024 08:00:00 +0100", "",
         Lines({"Viele Gruesse!"})},
        {"Ana <ana@example.pt>", "=?ISO-8859-1?B?T2zhLCB0dWRvIGJlbT8=?=",
         "Tue, 03 Dec 2024 12:45:30 +0000", "", Lines({"Tudo bem por aqui."})},
        {"Office <office@example.org>", "Invoice 2024-117 attached",
         "Wed, 04 Dec 2024 14:20:00 +0100",
         "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"==demo-1==\"\r\n",
         Attachment("==demo-1==", "Please find the invoice attached.", "invoice.txt", "text/plain",
                    "SW52b2ljZSAyMDI0LTExNzogMTIzLjQ1IEVVUg==")},
        {"Photo Club <club@example.net>", "Pictures of the outing",
         "Wed, 04 Dec 2024 18:05:00 +0100",
         "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"==demo-2==\"\r\n",
         Attachment("==demo-2==", "One picture from Saturday.", "dot.png", "image/png",
                    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGA"
                    "hKmMIQAAAABJRU5ErkJggg==")},
        {"Reports <reports@example.org>", "Quarterly figures (long)",
         "Thu, 05 Dec 2024 07:00:00 +0100", "", LongReport()},
        {"Dot Tester <dots@example.org>", "Lines that start with a dot",
         "Thu, 05 Dec 2024 09:09:09 +0100", "",
         Lines({"The next lines start with dots:", ".hidden", "..two dots", ".", "end"})},
        {"No Date <nodate@example.org>", "A message without a date", "", "",
         Lines({"The list shows the time of the check for this one."})},
        {"\"Smith, John\" <john.smith@example.com>", "Re: Meeting on Friday",
         "Fri, 06 Dec 2024 16:40:00 -0500", "In-Reply-To: <meeting@example.com>\r\n",
         Lines({"> Can we meet on Friday?", "", "Yes, 3 pm works for me."})},
        {"Shop <orders@example.shop>", "Your order has shipped", "Sat, 07 Dec 2024 06:30:00 +0000",
         "X-Priority: 3\r\n", Lines({"Your parcel is on its way."})},
    };
    std::vector<std::string> messages;
    for (const TSample& s : samples) messages.push_back(Compose(s));
    return messages;
}
