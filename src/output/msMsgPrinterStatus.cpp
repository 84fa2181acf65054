#include "output/msMsgPrinterStatus.h"

#include "message/msmsg.h"
#include "message/msmsgtext.h"
#include "output/BodyWrap.h"
#include "output/CanvasFont.h"
#include "platform/Ansi.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace {
const char* const kCaption = "Drucke...";
const char* const kInitialStatus = "Drucke...";
const char* const kCancelCaption = "Abbruch";
const TCanvasFont kWindowFont{"MS Sans Serif", 8, false};
} // namespace

TmsMessagePrinterStatus::TmsMessagePrinterStatus(QWidget* parent) : QDialog(parent) {
    setWindowTitle(kCaption);
    setFont(MakeQtFont(kWindowFont));
    // Other windows wait while a message prints; only this one takes input.
    setWindowModality(Qt::ApplicationModal);

    auto* icon = new QLabel(this);
    icon->setPixmap(
        QIcon::fromTheme("document-print", style()->standardIcon(QStyle::SP_MessageBoxInformation))
            .pixmap(32, 32));
    FStatusLabel = new QLabel(kInitialStatus, this);
    FCancelButton = new QPushButton(kCancelCaption, this);
    connect(FCancelButton, &QPushButton::clicked, this, &TmsMessagePrinterStatus::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(FStatusLabel, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(FCancelButton, 0, Qt::AlignHCenter);
    column->setSizeConstraint(QLayout::SetFixedSize);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        move(screen->availableGeometry().center() - rect().center());
    }
}

std::string TmsMessagePrinterStatus::StatusText() const {
    return QToAnsi(FStatusLabel->text());
}

void TmsMessagePrinterStatus::SetStatusText(const std::string& text) {
    FStatusLabel->setText(AnsiToQ(text));
    if (isVisible()) repaint();
}

void TmsMessagePrinterStatus::SetMailMessage(const TmsMessage* message) {
    FLines.clear();
    if (!message) return;
    TStringList text;
    for (const auto& line : message->Body()) text.Add(BodyLineText(*message, line));
    FLines = WrapTextLines(text, font(), kTextBoxWidth);
}

void TmsMessagePrinterStatus::reject() {
    FCancel = true;
    QDialog::reject();
}
