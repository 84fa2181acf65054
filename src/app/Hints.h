// Hints as the program writes them: "short|long", or one text for both.
#pragma once

#include <QString>
#include <QWidget>

#include <type_traits>

// A hint on a control goes away after this long.
inline constexpr int kHintHideMs = 3500;

// The short form becomes the tooltip, the long form the status bar text. hint is UTF-8.
template <class W> W* Hinted(W* w, const char* hint) {
    const QString h = QString::fromUtf8(hint);
    const int bar = h.indexOf('|');
    w->setToolTip(bar < 0 ? h : h.left(bar));
    w->setStatusTip(h.mid(bar + 1));
    if constexpr (std::is_base_of_v<QWidget, W>) w->setToolTipDuration(kHintHideMs);
    return w;
}
