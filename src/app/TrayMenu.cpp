#include "app/TrayMenu.h"

#include <QLinearGradient>
#include <QPainter>

namespace {
const char* const kBandText = "   Postvigil";
} // namespace

TTrayMenu::TTrayMenu(QWidget* parent) : QMenu(parent) {
    setContentsMargins(kBandWidth, 0, 0, 0);
}

void TTrayMenu::paintEvent(QPaintEvent* e) {
    QMenu::paintEvent(e);
    QPainter p(this);
    const QRect band(0, 0, kBandWidth, height());
    // From pure green at the top to a quarter of it at the bottom.
    QLinearGradient g(band.topLeft(), band.bottomLeft());
    g.setColorAt(0, QColor(0x00, 0xff, 0x00));
    g.setColorAt(1, QColor(0x00, 0x3f, 0x00));
    p.fillRect(band, g);
    QFont f("Arial", 12);
    f.setStyleHint(QFont::SansSerif);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    // Written upwards, 5 pixels from the band's left edge, starting 10 pixels above its bottom.
    p.translate(5 + p.fontMetrics().ascent(), height() - 10);
    p.rotate(-90);
    p.drawText(0, 0, kBandText);
}
