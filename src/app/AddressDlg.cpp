#include "app/AddressDlg.h"

#include "message/msmsgcls.h"
#include "platform/Ansi.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

TMailAddressDlg::TMailAddressDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Address");
    EditName = new QLineEdit(this);
    EditAddress = new QLineEdit(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow("Name", EditName);
    form->addRow("Address", EditAddress);
    form->addRow(buttons);
}

void InstallAddressEditor() {
    SetAddressEditor([](std::string& name, std::string& address) {
        TMailAddressDlg dlg;
        dlg.EditName->setText(AnsiToQ(name));
        dlg.EditAddress->setText(AnsiToQ(address));
        if (dlg.exec() != QDialog::Accepted) return false;
        name = QToAnsi(dlg.EditName->text());
        address = QToAnsi(dlg.EditAddress->text());
        return true;
    });
}
