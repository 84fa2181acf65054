#include "app/QtPrompts.h"

#include "platform/Ansi.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
    case mtWarning:
        return QMessageBox::Warning;
    case mtError:
        return QMessageBox::Critical;
    case mtInformation:
        return QMessageBox::Information;
    case mtConfirmation:
        return QMessageBox::Question;
    case mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonMap {
    TMsgDlgBtn Button;
    QMessageBox::StandardButton Standard;
    TModalResult Result;
};
constexpr ButtonMap kButtons[] = {{mbYes, QMessageBox::Yes, mrYes},
                                  {mbNo, QMessageBox::No, mrNo},
                                  {mbOK, QMessageBox::Ok, mrOk},
                                  {mbCancel, QMessageBox::Cancel, mrCancel},
                                  {mbAbort, QMessageBox::Abort, mrAbort},
                                  {mbRetry, QMessageBox::Retry, mrRetry},
                                  {mbIgnore, QMessageBox::Ignore, mrIgnore}};
} // namespace

TModalResult TQtPrompts::Show(const TPromptRequest& request) {
    QMessageBox box(IconOf(request.Type),
                    request.Caption.empty() ? QApplication::applicationDisplayName()
                                            : AnsiToQ(request.Caption),
                    request.Utf8 ? QString::fromStdString(request.Text) : AnsiToQ(request.Text),
                    QMessageBox::NoButton, FParent);
    box.setTextFormat(Qt::PlainText);
    for (const auto& b : kButtons) {
        if (!(request.Buttons & b.Button)) continue;
        QAbstractButton* button = box.addButton(b.Standard);
        if (request.Default == b.Button) box.setDefaultButton(static_cast<QPushButton*>(button));
    }
    if (request.Buttons == 0) box.addButton(QMessageBox::Ok);
    const auto clicked = QMessageBox::StandardButton(box.exec());
    for (const auto& b : kButtons)
        if (b.Standard == clicked) return b.Result;
    return mrCancel;
}
