#include "output/CanvasFont.h"

#include "platform/Ansi.h"

#include <QStringList>

QFont MakeQtFont(const TCanvasFont& font) {
    const QString name = AnsiToQ(font.Name);
    QFont::StyleHint hint = QFont::SansSerif;
    QString generic = "sans-serif";
    if (name.contains("Courier", Qt::CaseInsensitive) ||
        name.contains("Mono", Qt::CaseInsensitive)) {
        hint = QFont::TypeWriter;
        generic = "monospace";
    } else if (name.contains("Times", Qt::CaseInsensitive) ||
               (name.contains("Serif", Qt::CaseInsensitive) &&
                !name.contains("Sans", Qt::CaseInsensitive))) {
        hint = QFont::Serif;
        generic = "serif";
    }
    QFont result;
    result.setFamilies(QStringList{name, generic});
    result.setStyleHint(hint);
    result.setPointSize(font.Size > 0 ? font.Size : 8);
    result.setBold(font.Bold);
    return result;
}
