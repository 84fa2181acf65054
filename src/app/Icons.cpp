#include "app/Icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <atomic>
#include <functional>
#include <utility>

namespace {
// The size the pictures were designed at. Smaller images are drawn at this size and reduced,
// so the list's state images and the menus keep the look they always had; larger ones, as a
// screen at twice the density asks for, are drawn afresh at the size asked.
constexpr int kSize = 32;

// Draws a picture into a square of kSize * scale pixels.
using TDrawing = std::function<void(QPainter&, qreal scale)>;

// An icon drawn at whatever size and pixel density a window, a menu or the tray asks for.
class TDrawnIcon : public QIconEngine {
public:
    explicit TDrawnIcon(TDrawing draw) : FDraw(std::move(draw)), FId(NextId()) {}

    QIconEngine* clone() const override { return new TDrawnIcon(*this); }
    QString key() const override { return QStringLiteral("postvigil-drawn"); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(kSize, kSize), QSize(2 * kSize, 2 * kSize)};
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return Render(size, mode);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const QPaintDevice* device = painter->device();
        const qreal dpr = device ? device->devicePixelRatioF() : qApp->devicePixelRatio();
        painter->drawPixmap(rect, Render(rect.size() * dpr, mode));
    }

private:
    static quint64 NextId() {
        static std::atomic<quint64> next{0};
        return ++next;
    }

    // The picture as a square pixmap of the asked size's shorter side, with the style's
    // look for a disabled, active or selected icon. Lists repaint often: made once per size.
    QPixmap Render(const QSize& asked, QIcon::Mode mode) const {
        const int side = std::min(asked.width(), asked.height());
        if (side <= 0) return {};
        const QString cacheKey = QStringLiteral("pv-icon-%1-%2-%3-%4")
                                     .arg(FId)
                                     .arg(side)
                                     .arg(int(mode))
                                     .arg(QGuiApplication::palette().cacheKey());
        QPixmap pm;
        if (QPixmapCache::find(cacheKey, &pm)) return pm;
        const int drawn = std::max(side, kSize);
        pm = QPixmap(drawn, drawn);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            FDraw(p, qreal(drawn) / kSize);
        }
        if (drawn != side)
            pm = pm.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption opt;
            opt.palette = QGuiApplication::palette();
            const QPixmap styled = QApplication::style()->generatedIconPixmap(mode, pm, &opt);
            if (!styled.isNull()) pm = styled;
        }
        QPixmapCache::insert(cacheKey, pm);
        return pm;
    }

    TDrawing FDraw;
    quint64 FId;
};

QIcon Drawn(TDrawing draw) {
    return QIcon(new TDrawnIcon(std::move(draw)));
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
    return Drawn([lift, paper](QPainter& p, qreal scale) {
        p.scale(scale, scale);
        DrawEnvelope(p, QRectF(3, 8 - lift, 26, 18), paper, QColor(0x20, 0x30, 0x60));
    });
}

QIcon Glyph(const QColor& fill, const QString& text) {
    return Drawn([fill, text](QPainter& p, qreal scale) {
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawEllipse(QRectF(2 * scale, 2 * scale, 28 * scale, 28 * scale));
        // The letter is set at the size it shows at, not enlarged from a small one.
        p.setPen(Qt::white);
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(qRound(16 * scale));
        p.setFont(f);
        p.drawText(QRectF(0, 0, kSize * scale, kSize * scale), Qt::AlignCenter, text);
    });
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
