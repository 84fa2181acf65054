#include "output/BodyWrap.h"

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
        const QString text = QString::fromStdString(line);
        QTextLayout layout(text, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
            l.setLineWidth(width);
            lines.push_back(text.mid(l.textStart(), l.textLength()).toStdString());
        }
        layout.endLayout();
    }
    return lines;
}
