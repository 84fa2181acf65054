// "Setting": the program settings dialog. Edits the check interval, the follow-up action, the
// start options and automatic dialling, keeps the program in the list of programs started at
// log-on, and shows the current account read-only.
#pragma once

#include "base/StringList.h"

#include <QDialog>

#include <functional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TFormStart : public QDialog {
    Q_OBJECT
public:
    // entries: the phone book's entries, in order (RasIndex selects one).
    explicit TFormStart(const TStringList& entries, QWidget* parent = nullptr);

    // Sets every field from the current settings and the loaded account; "&Aply" ends up
    // disabled. Runs on opening and after Apply, never merely because the window was
    // activated again, so edits not applied yet survive a look at another window.
    void FillFields();
    // Takes the edited values over and writes them to the registry.
    void BtnAplyClick();
    void BtnCancelClick();
    void BtnHelpClick();
    // Keeps the program in the "Load" line and the desktop's autostart entry (AutoStart set)
    // or takes it out of both, after asking. False when the user declined or the autostart
    // entry could not be written; nothing is changed then.
    bool SetAutoStart();
    // The path the "Load" line lists: the program's folder + "Postvigil.exe".
    static std::string ProgramPath();

    // Opens the account editor for the loaded account (the main window's); the account group
    // is filled again afterwards.
    std::function<void()> OnEditAccount;

    // Every way of closing passes here: unapplied changes are offered for saving first.
    void done(int result) override;

    QPushButton* BtnCancel;
    QPushButton* BtnAply;
    QPushButton* BtnHelp;
    QPushButton* BtnOK;

    QGroupBox* GroupProgram;
    QCheckBox* CBAutoStart;
    QCheckBox* CBPVMinimized;
    QCheckBox* CBAutoConnect;
    QSpinBox* SpinEditInterval;
    QCheckBox* CBCheckEmedit;
    QGroupBox* RKFollowAct;
    QButtonGroup* RKFollowActItems;
    QCheckBox* CBNotify;
    QCheckBox* CBCheckAllAccounts;
    // The mail program's command line; empty for the desktop's own.
    QLineEdit* EditMailProgram;

    QGroupBox* GroupAccount;
    QLineEdit* EditIniDescript;
    QComboBox* ComboBoxEntries;
    QLineEdit* EditPOPServer;
    QLineEdit* EditPOPUser;
    QLineEdit* EditPOPPassword;
    QLineEdit* EditPOPPort;
    QLabel* LabelSecurity;
    QLineEdit* EditSecurity;
    QLineEdit* DirMailPathEdit;
    QLineEdit* EditMailMax;
    QSpinBox* SpinEditTimeOut;
    QPushButton* BtnEditAccount;

    QGroupBox* RGRetrieveMode;
    QButtonGroup* RGRetrieveModeItems;

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void BuildControls();
    void FillAccount();
    void BtnEditAccountClick();
    void Changed();

    TStringList FEntries;
    // CBAutoStart as it was filled last: Apply runs SetAutoStart only when it differs.
    bool FAutoStartWas = false;
    bool FCentred = false;
};
