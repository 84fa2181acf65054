// The tray icon's menu: a green band down its left edge with the program's name written
// upwards.
#pragma once

#include <QMenu>

class TTrayMenu : public QMenu {
    Q_OBJECT
public:
    static constexpr int kBandWidth = 30;
    explicit TTrayMenu(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;
};
