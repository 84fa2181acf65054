// "Insert password": asks for the POP3 password of an account that has none stored.
#pragma once

#include <QDialog>

class QLineEdit;

class TFormPassword : public QDialog {
    Q_OBJECT
public:
    explicit TFormPassword(QWidget* parent = nullptr);
    QLineEdit* EditPassword;

    // There is no cancel: Esc and the window's close button do nothing.
    void reject() override {}
};
