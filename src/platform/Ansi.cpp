#include "platform/Ansi.h"

#include <array>

namespace {
// 0x80..0x9F; the rest of the code page equals Latin-1. Undefined positions map to
// themselves (as the C1 control characters), so nothing is lost on the way back.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

QString AnsiToQ(std::string_view text) {
    QString out(qsizetype(text.size()), Qt::Uninitialized);
    QChar* p = out.data();
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        *p++ = QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b));
    }
    return out;
}

std::string QToAnsi(const QString& text) {
    std::string out;
    out.reserve(std::size_t(text.size()));
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out += char(u);
            continue;
        }
        char mapped = '?';
        for (std::size_t i = 0; i < kHigh.size(); ++i)
            if (kHigh[i] == u) mapped = char(0x80 + i);
        out += mapped;
    }
    return out;
}
