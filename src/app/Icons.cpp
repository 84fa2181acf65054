#include "app/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
constexpr int kSize = 32;

QPixmap Canvas() {
    QPixmap pm(kSize, kSize);
    pm.fill(Qt::transparent);
    return pm;
}

void DrawEnvelope(QPainter& p, const QRectF& r, const QColor& paper, const QColor& line) {
    p.setPen(QPen(line, 1.5));
    p.setBrush(paper);
    p.drawRoundedRect(r, 2, 2);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

QIcon Envelope(qreal lift, const QColor& paper) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    DrawEnvelope(p, QRectF(3, 8 - lift, 26, 18), paper, QColor(0x20, 0x30, 0x60));
    return QIcon(pm);
}

QIcon Glyph(const QColor& fill, const QString& text) {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(16);
    p.setFont(f);
    p.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, text);
    return QIcon(pm);
}
} // namespace

QIcon AppIcon() {
    return Envelope(0, QColor(0xff, 0xf4, 0xc0));
}

QList<QIcon> TrayFrames() {
    QList<QIcon> frames{AppIcon()};
    const QColor colours[] = {QColor(0xff, 0xe0, 0x60), QColor(0xff, 0xc0, 0x40),
                              QColor(0xff, 0xe0, 0x60), QColor(0xff, 0xf4, 0xc0)};
    for (int i = 0; i < 4; ++i) frames << Envelope(i % 2 ? 3 : 0, colours[i]);
    return frames;
}

QIcon ModeIcon(int mode) {
    switch (mode) {
    case 0:
        return Glyph(QColor(0x1a, 0x8a, 0x3a), "G");
    case 1:
        return Glyph(QColor(0x20, 0x60, 0xc0), "C");
    case 2:
        return Glyph(QColor(0xc0, 0x20, 0x20), "D");
    default:
        return Glyph(QColor(0x80, 0x80, 0x80), "N");
    }
}

QIcon TrayMenuImage(int index) {
    static const char* const letters[] = {"P", "?", "M", "1", "2", "3", "B", "i", "X"};
    return Glyph(QColor(0x10, 0x70, 0x10), letters[index % 9]);
}

QIcon AccountImage(int index) {
    return Glyph(QColor::fromHsv((index * 36) % 360, 160, 170), QString::number(index));
}

QIcon ProgramSymbol(int index) {
    static const char* const letters[] = {"K", "V", "D", "N", "P"};
    return Glyph(QColor::fromHsv(180 + index * 30, 200, 150), letters[index % 5]);
}
