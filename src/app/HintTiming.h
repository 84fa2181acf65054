// The program's hint timing: a hint comes up after a second of rest on a control, the next
// one (moving on while hints are about) after a tenth of a second, and each goes after three
// and a half seconds (kHintHideMs, set with the hint).
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <cstdint>

inline constexpr int kHintPauseMs = 1000;
inline constexpr int kHintShortPauseMs = 100;

// Installs the timing for the whole application; later calls do nothing.
void InstallHintTiming();

// Holds back a hint that the toolkit would show sooner than kHintShortPauseMs after the mouse
// came to rest, and shows it when that time is up (if the mouse has not moved meanwhile).
class THintPacer : public QObject {
    Q_OBJECT
public:
    explicit THintPacer(QObject* parent = nullptr);
    bool eventFilter(QObject* watched, QEvent* e) override;
    // The hint held back, shown when this fires.
    QTimer* Delay() { return &FDelay; }

private:
    void ShowHeld();

    QTimer FDelay;
    int64_t FLastMove = 0;
    QPointer<QObject> FHeldFor;
    QPoint FHeldPos, FHeldGlobal;
    bool FResending = false;
};
