// Conversion between the program's 8-bit (Windows-1252) text and Qt's strings, used only
// where text meets the widgets, the printer or the desktop.
#pragma once

#include <QString>

#include <string>
#include <string_view>

QString AnsiToQ(std::string_view text);
// Characters without a Windows-1252 code become "?".
std::string QToAnsi(const QString& text);
