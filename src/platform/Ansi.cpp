#include "platform/Ansi.h"

#include "base/Charset.h"

QString AnsiToQ(std::string_view text) {
    return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string QToAnsi(const QString& text) {
    return Utf8ToCp1252(text.toStdString());
}
