#include "app/HintTiming.h"

#include "base/Clock.h"

#include <QApplication>
#include <QHelpEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QWidget>

namespace {
// The wait before the first hint, on top of whatever style the desktop gives.
class THintStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return kHintPauseMs;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

QPointer<THintPacer> gPacer;
} // namespace

void InstallHintTiming() {
    if (!dynamic_cast<THintStyle*>(QApplication::style()))
        QApplication::setStyle(new THintStyle(QApplication::style()->name()));
    if (!gPacer) {
        gPacer = new THintPacer(qApp);
        qApp->installEventFilter(gPacer);
    }
}

THintPacer::THintPacer(QObject* parent) : QObject(parent) {
    FDelay.setSingleShot(true);
    connect(&FDelay, &QTimer::timeout, this, &THintPacer::ShowHeld);
}

bool THintPacer::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseMove) {
        FLastMove = Clock().NowMs();
        // A hint held back for the old place is not wanted any more.
        FDelay.stop();
        FHeldFor = nullptr;
        return false;
    }
    if (e->type() != QEvent::ToolTip || FResending || !watched->isWidgetType()) return false;
    const int64_t early = kHintShortPauseMs - (Clock().NowMs() - FLastMove);
    if (early <= 0) return false;
    const auto* help = static_cast<QHelpEvent*>(e);
    FHeldFor = watched;
    FHeldPos = help->pos();
    FHeldGlobal = help->globalPos();
    FDelay.start(int(early));
    return true;
}

void THintPacer::ShowHeld() {
    const QPointer<QObject> target = FHeldFor;
    FHeldFor = nullptr;
    if (!target) return;
    FResending = true;
    QHelpEvent again(QEvent::ToolTip, FHeldPos, FHeldGlobal);
    QCoreApplication::sendEvent(target, &again);
    FResending = false;
}
