// "Account": the account editor. Shows an account's settings and the program-wide check
// settings, tests the connection with what is entered, and hands the result to OnSave.
#pragma once

#include "base/StringList.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/ConnectionTest.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QScrollArea;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TFormAccount : public QDialog {
    Q_OBJECT
public:
    // entries: the phone book's entries, in order (index i is RASService i).
    TFormAccount(const TAccountSettings& settings, const TStringList& entries,
                 QWidget* parent = nullptr);

    // The account as entered.
    TAccountSettings Settings() const;

    // Writes the account; false with the reason keeps the dialog open and shows it.
    std::function<bool(const TAccountSettings& s, std::string& error)> OnSave;

    // Asks for the Maildir folder (folder) or the mbox file, starting at start (absolute);
    // empty means the user cancelled. Empty function: a file dialog. Tests install their own
    // choice.
    static inline std::function<std::string(QWidget* parent, bool folder, const std::string& start)>
        ChooseDeliveryPath;

    // Runs log-in and STAT with the entered values; the result shows in LabelTest.
    void BtnTestClick();
    bool Testing() const { return FTest.Running(); }

    // Checks, saves through OnSave and closes; a problem shows in LabelError instead.
    void accept() override;
    // While a test runs, Cancel ends the test and the dialog stays.
    void reject() override;

    QLineEdit* EditDescript;
    QLineEdit* EditServer;
    QSpinBox* EditPort;
    // "auto" (found by the test or the first check), "tls", "starttls", "none", or "" (the
    // port decides; offered only for an account that has it), as the account file states it.
    QComboBox* CBSecurity;
    // What the chosen security means, beside the choice.
    QLabel* LabelSecurity;
    QLineEdit* EditUser;
    QLineEdit* EditPassword;
    QCheckBox* CBShowPassword;
    // Where the password, or the OAuth 2.0 sign-in, is kept.
    QLabel* LabelKept;
    // How the account signs in: kAuthPassword or kAuthOAuth2; for OAuth 2.0 the provider (a
    // preset's id, or "" for one whose addresses are typed), the registered client's id, the
    // addresses and the scopes. A preset fills server, port, security, addresses and scopes.
    QComboBox* CBAuth;
    QFormLayout* FSignInForm = nullptr;
    QScrollArea* FGroups = nullptr;
    QComboBox* CBProvider;
    QLineEdit* EditClientId;
    QLineEdit* EditAuthUrl;
    QLineEdit* EditTokenUrl;
    QLineEdit* EditScopes;
    QLineEdit* EditAddress;
    QLineEdit* EditName;
    QSpinBox* EditInterval;
    QCheckBox* CBCheckEmedit;
    QSpinBox* EditMaxSize;
    QSpinBox* EditTimeout;
    QComboBox* CBDialUp;
    // Where collected mail goes: the kind as the account file names it ("" for the post
    // office's files, "maildir", "mbox", "mda"), and the folder, file or command.
    QComboBox* CBDeliver;
    QLabel* LabelDeliverPath;
    QLineEdit* EditDeliverPath;
    QPushButton* BtnBrowseDeliver;
    // What a delivery program is given and how it answers; shown for a program only.
    QLabel* LabelDeliverHint;
    QPushButton* BtnTest;
    QLabel* LabelTest;
    QLabel* LabelError;
    QPushButton* BtnOK;
    QPushButton* BtnCancel;

private:
    TConnectionTest FTest;
    // Not edited here: the certificate the user chose to trust is kept as the file has it, so
    // the connection test accepts what the check will.
    std::string FCertFingerprint;
    // Not shown: a client secret the command line stored is kept.
    std::string FClientSecret;

    void BtnBrowseDeliverClick();
    // The sign-in group and its rows as the account file has them.
    class QGroupBox* SignInGroup(const TOAuthConfig& o);
    void ProviderChosen();
    void ShowAuth();
    // Gives the groups their whole height, or what the screen has room for (then they scroll).
    void FitGroups();
};
