// Word wrapping of message text as a text box of a given width shows it.
#pragma once

#include "base/StringList.h"

#include <QFont>
#include <string>
#include <vector>

// Breaks every line of text into the lines a plain-text box of width pixels in font shows:
// at word boundaries where it can, inside a word longer than the width where it must. An
// empty line stays one empty line. Text in and out is UTF-8.
std::vector<std::string> WrapTextLines(const TStringList& text, const QFont& font, int width);
