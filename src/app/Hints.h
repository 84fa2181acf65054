// Hints as the program writes them: "short|long", or one text for both.
#pragma once

#include <QString>

// The short form becomes the tooltip, the long form the status bar text. hint is UTF-8.
template <class W> W* Hinted(W* w, const char* hint) {
    const QString h = QString::fromUtf8(hint);
    const int bar = h.indexOf('|');
    w->setToolTip(bar < 0 ? h : h.left(bar));
    w->setStatusTip(h.mid(bar + 1));
    return w;
}
