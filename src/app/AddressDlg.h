// The small "Address" dialog behind TmsMailAddress::Edit.
#pragma once

#include <QDialog>

class QLineEdit;

class TMailAddressDlg : public QDialog {
    Q_OBJECT
public:
    explicit TMailAddressDlg(QWidget* parent = nullptr);
    QLineEdit* EditName;
    QLineEdit* EditAddress;
};

// Installs the dialog as the mail library's address editor.
void InstallAddressEditor();
