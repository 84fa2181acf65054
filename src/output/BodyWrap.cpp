#include "output/BodyWrap.h"

#include "platform/Ansi.h"

#include <QTextLayout>
#include <QTextOption>

std::vector<std::string> WrapTextLines(const TStringList& text, const QFont& font, int width) {
    std::vector<std::string> lines;
    lines.reserve(std::size_t(text.Count()));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const std::string& line : text) {
        if (line.empty()) {
            lines.emplace_back();
            continue;
        }
        // Every byte is one character, so character positions are byte positions.
        QTextLayout layout(AnsiToQ(line), font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
            l.setLineWidth(width);
            lines.push_back(line.substr(std::size_t(l.textStart()), std::size_t(l.textLength())));
        }
        layout.endLayout();
    }
    return lines;
}
