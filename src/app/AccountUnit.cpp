#include "app/AccountUnit.h"

#include "base/StrUtils.h"
#include "mailbox/Delivery.h"
#include "mailbox/OAuthProviders.h"
#include "mailbox/Settings.h"
#include "platform/Ansi.h"
#include "platform/Keyring.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <climits>

namespace {
const char* const kCaption = "Account";
const char* const kNoDialUp = "none";
const char* const kMissingEntry = "entry %1 (not in the phone book)";
const char* const kTest = "&Test connection";
const char* const kTesting = "Testing…";
const char* const kNever = "never";
// What the combo box offers, what the account file stores for it and what the note beside it
// says. "By port" is there only for an account that has it already.
const char* const kByPort = "";
const char* const kSecurities[][3] = {
    {"Automatic", "auto",
     "TLS, else STLS, as the server offers; found by the test or the first check"},
    {"TLS", "tls", "Encrypted from the start"},
    {"STLS (after connecting)", "starttls", "Encrypted after the greeting"},
    {"None: password in clear text", "none",
     "Clear text: anyone on the way can read the password and the mail"},
    {"By port (TLS on 995, else none)", kByPort, "Clear text unless the port is 995"}};
// Where collected mail goes: what the combo box offers, the kind the account file names
// ("kind:PATH"), the label of the path beside it and what an empty path is answered with.
const char* const kDeliveries[][4] = {
    {"Post office files (for Postkeeper)", "", "&Folder:", ""},
    {"Maildir folder", "maildir", "&Folder:", "Enter the Maildir folder"},
    {"mbox file", "mbox", "Fi&le:", "Enter the mbox file"},
    {"Delivery program", "mda", "Pro&gram:", "Enter the delivery program"}};
const char* const kProgramKind = "mda";
const char* const kProgramHint =
    "The message on standard input; %F stands for the sender; exit status %1: try again later";
const char* const kChooseMaildir = "Maildir folder";
const char* const kChooseMbox = "mbox file";
// At port 0 an automatic account tries 995 for TLS and 110 for STLS.
const char* const kAnyPort = "any (995, 110)";
const char* const kFoundAs = " (%1 on port %2)";
const char* const kKeyringNote = "The password is kept in the desktop's keyring.";
// Broken by hand: a wrapped label in a form row is laid out a line short.
const char* const kFileNote = "No keyring is running: the password is kept scrambled\n"
                              "in the account file, readable by you only.";

const char* const kSignInKeyringNote = "The sign-in is kept in the desktop's keyring.";
// Two lines, as the password's note without a keyring has.
const char* const kSignInNoKeyring = "OAuth 2.0 keeps its sign-in in the desktop's keyring,\n"
                                     "and no keyring is running: it cannot sign in.";
const char* const kAuthChoices[][2] = {{"Password", kAuthPassword}, {"OAuth 2.0", kAuthOAuth2}};
const char* const kOtherProvider = "Other";
// Height taken by the title bar, the test row, the error line and the buttons; the groups get
// what is left of the screen, and never less than the least height.
constexpr int kRoomBesideGroups = 160;
constexpr int kLeastGroupsHeight = 240;
const char* const kClientIdHint = "from your provider's app registration (see the README)";

QSpinBox* Spin(QWidget* parent, int min, int max, int value, const QString& suffix) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setSuffix(suffix);
    return spin;
}

QLineEdit* Edit(QWidget* parent, const std::string& text, int maxLength) {
    auto* edit = new QLineEdit(AnsiToQ(text), parent);
    edit->setMaxLength(maxLength);
    return edit;
}
} // namespace

TFormAccount::TFormAccount(const TAccountSettings& s, const TStringList& entries, QWidget* parent)
    : QDialog(parent), FCertFingerprint(s.CertFingerprint), FClientSecret(s.OAuth.ClientSecret) {
    setWindowTitle(kCaption);
    const bool keyring = PasswordStore().Available();

    // The lengths are those the program reads back from the file.
    EditDescript = Edit(this, s.IniDescript, int(kDescriptMax));
    EditServer = Edit(this, s.Server, int(kServerMax));
    EditPort = Spin(this, 0, 65535, s.DefPort, "");
    EditPort->setSpecialValueText(kAnyPort);
    CBSecurity = new QComboBox(this);
    for (const auto& [text, value, note] : kSecurities)
        if (*value || s.Security.empty()) CBSecurity->addItem(text, QString(value));
    CBSecurity->setCurrentIndex(std::max(0, CBSecurity->findData(AnsiToQ(LowerCase(s.Security)))));
    LabelSecurity = new QLabel(this);
    LabelSecurity->setWordWrap(true);
    auto showNote = [this] {
        for (const auto& [text, value, note] : kSecurities)
            if (CBSecurity->currentData().toString() == value) LabelSecurity->setText(note);
    };
    connect(CBSecurity, &QComboBox::currentIndexChanged, this, showNote);
    showNote();
    EditUser = Edit(this, s.UserName, int(kServerMax));
    EditPassword = Edit(this, s.Password, keyring ? 32767 : int(kPasswordMax));
    EditPassword->setEchoMode(QLineEdit::Password);
    CBShowPassword = new QCheckBox("S&how", this);
    connect(CBShowPassword, &QCheckBox::toggled, this, [this](bool on) {
        EditPassword->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password);
    });
    EditAddress = Edit(this, s.MailAddress, int(kServerMax));
    EditName = Edit(this, s.MailName, int(kServerMax));
    EditInterval = Spin(this, 0, 1440, ClientRec.Interval, " min");
    EditInterval->setSpecialValueText(kNever);
    CBCheckEmedit = new QCheckBox("Check once &30 seconds after the start", this);
    CBCheckEmedit->setChecked(ClientRec.CheckEmedit);
    EditMaxSize = Spin(this, 0, INT_MAX, s.MailMaxSize, " bytes");
    EditTimeout = Spin(this, 1, 3600, s.Timeout, " s");
    CBDialUp = new QComboBox(this);
    CBDialUp->addItem(kNoDialUp, -1);
    for (int i = 0; i < entries.Count(); ++i) CBDialUp->addItem(AnsiToQ(entries[i]), i);
    // An entry this machine's phone book lacks is kept, not silently changed.
    if (s.RASService >= entries.Count())
        CBDialUp->addItem(QString(kMissingEntry).arg(s.RASService + 1), s.RASService);
    CBDialUp->setCurrentIndex(std::max(0, CBDialUp->findData(s.RASService)));

    CBDeliver = new QComboBox(this);
    for (const auto& [text, kind, label, missing] : kDeliveries)
        CBDeliver->addItem(text, QString(kind));
    // "kind:PATH"; "", "files" and what the program does not know are the post office's files.
    const std::size_t colon = s.Deliver.find(':');
    const int deliver =
        colon == std::string::npos ? -1 : CBDeliver->findData(AnsiToQ(s.Deliver.substr(0, colon)));
    CBDeliver->setCurrentIndex(std::max(0, deliver));
    EditDeliverPath = Edit(this, deliver > 0 ? s.Deliver.substr(colon + 1) : "", 32767);
    LabelDeliverPath = new QLabel(this);
    LabelDeliverPath->setBuddy(EditDeliverPath);
    BtnBrowseDeliver = new QPushButton("&Browse…", this);
    connect(BtnBrowseDeliver, &QPushButton::clicked, this, &TFormAccount::BtnBrowseDeliverClick);
    LabelDeliverHint = new QLabel(QString(kProgramHint).arg(kExitTempFail), this);
    // The hint keeps its room while hidden: the dialog does not change size with the choice.
    auto* hintRoom = new QStackedWidget(this);
    hintRoom->addWidget(new QWidget(hintRoom));
    hintRoom->addWidget(LabelDeliverHint);
    auto showDeliver = [this, hintRoom] {
        const int i = std::max(0, CBDeliver->currentIndex());
        const QString kind = kDeliveries[i][1];
        LabelDeliverPath->setText(kDeliveries[i][2]);
        EditDeliverPath->setEnabled(!kind.isEmpty());
        BtnBrowseDeliver->setEnabled(!kind.isEmpty() && kind != kProgramKind);
        hintRoom->setCurrentWidget(kind == kProgramKind ? LabelDeliverHint : hintRoom->widget(0));
    };
    connect(CBDeliver, &QComboBox::currentIndexChanged, this, showDeliver);
    showDeliver();

    auto* server = new QGroupBox("Server", this);
    auto* serverForm = new QFormLayout(server);
    serverForm->addRow("&Description:", EditDescript);
    serverForm->addRow("&POP3 server:", EditServer);
    serverForm->addRow("P&ort:", EditPort);
    auto* securityRow = new QHBoxLayout;
    securityRow->addWidget(CBSecurity);
    securityRow->addWidget(LabelSecurity, 1);
    // A row of two widgets gets no buddy by itself: the label's mnemonic goes to the choice.
    auto* securityLabel = new QLabel("&Security:", server);
    securityLabel->setBuddy(CBSecurity);
    serverForm->addRow(securityLabel, securityRow);
    serverForm->addRow("&User name:", EditUser);
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(EditPassword);
    passwordRow->addWidget(CBShowPassword);
    auto* passwordLabel = new QLabel("Pass&word:", this);
    passwordLabel->setBuddy(EditPassword);
    serverForm->addRow(passwordLabel, passwordRow);
    LabelKept = new QLabel(this);
    serverForm->addRow("", LabelKept);
    serverForm->addRow("Your &address:", EditAddress);
    serverForm->addRow("Your &name:", EditName);

    auto* checks = new QGroupBox("Checking", this);
    auto* checkForm = new QFormLayout(checks);
    checkForm->addRow("Check &every:", EditInterval);
    checkForm->addRow("", CBCheckEmedit);
    checkForm->addRow("Ask before messages over:", EditMaxSize);
    checkForm->addRow("T&ime-out:", EditTimeout);
    checkForm->addRow("Dial-&up connection:", CBDialUp);

    auto* delivery = new QGroupBox("Deliver collected mail", this);
    auto* deliverForm = new QFormLayout(delivery);
    deliverForm->addRow("Deli&ver to:", CBDeliver);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(EditDeliverPath, 1);
    pathRow->addWidget(BtnBrowseDeliver);
    deliverForm->addRow(LabelDeliverPath, pathRow);
    deliverForm->addRow("", hintRoom);

    BtnTest = new QPushButton(kTest, this);
    connect(BtnTest, &QPushButton::clicked, this, &TFormAccount::BtnTestClick);
    LabelTest = new QLabel(this);
    LabelTest->setWordWrap(true);
    LabelTest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(BtnTest);
    testRow->addWidget(LabelTest, 1);
    LabelError = new QLabel(this);
    LabelError->setWordWrap(true);
    LabelError->setStyleSheet("color: #c00000;");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    BtnOK = buttons->button(QDialogButtonBox::Ok);
    BtnCancel = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TFormAccount::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TFormAccount::reject);

    // The groups scroll on a screen too short for them; the buttons stay in view.
    auto* content = new QWidget(this);
    auto* groups = new QVBoxLayout(content);
    groups->setContentsMargins(0, 0, 0, 0);
    groups->addWidget(server);
    groups->addWidget(SignInGroup(s.OAuth));
    groups->addWidget(checks);
    groups->addWidget(delivery);
    FGroups = new QScrollArea(this);
    FGroups->setWidget(content);
    FGroups->setWidgetResizable(true);
    FGroups->setFrameShape(QFrame::NoFrame);
    FGroups->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FGroups, 1);
    layout->addLayout(testRow);
    layout->addWidget(LabelError);
    layout->addWidget(buttons);
    setMinimumWidth(520);
    FitGroups();
}

void TFormAccount::FitGroups() {
    QWidget* content = FGroups->widget();
    // Rows shown or hidden since the last layout: the groups' sizes are asked afresh.
    for (QGroupBox* group : content->findChildren<QGroupBox*>()) {
        group->layout()->invalidate();
        group->updateGeometry();
    }
    content->layout()->invalidate();
    QSize wanted = content->sizeHint();
    if (content->hasHeightForWidth())
        wanted.setHeight(std::max(wanted.height(), content->heightForWidth(wanted.width())));
    const QScreen* shown = screen();
    const int room =
        shown ? shown->availableGeometry().height() - kRoomBesideGroups : wanted.height();
    const int height = std::min(wanted.height(), std::max(kLeastGroupsHeight, room));
    const int bar = height < wanted.height() ? FGroups->verticalScrollBar()->sizeHint().width() : 0;
    FGroups->setMinimumSize(wanted.width() + bar, height);
}

QGroupBox* TFormAccount::SignInGroup(const TOAuthConfig& o) {
    CBAuth = new QComboBox(this);
    for (const auto& [text, value] : kAuthChoices) CBAuth->addItem(text, QString(value));
    CBAuth->setCurrentIndex(o.Enabled() ? 1 : 0);
    CBProvider = new QComboBox(this);
    for (const TOAuthPreset& preset : OAuthPresets())
        CBProvider->addItem(AnsiToQ(preset.Name), AnsiToQ(preset.Id));
    CBProvider->addItem(kOtherProvider, QString());
    CBProvider->setCurrentIndex(o.Enabled() ? std::max(0, CBProvider->findData(AnsiToQ(o.Provider)))
                                            : 0);
    EditClientId = Edit(this, o.ClientId, 32767);
    EditClientId->setPlaceholderText(kClientIdHint);
    EditAuthUrl = Edit(this, o.AuthorizationUrl, 32767);
    EditTokenUrl = Edit(this, o.TokenUrl, 32767);
    EditScopes = Edit(this, o.Scopes, 32767);
    // An account of another provider shows its own addresses until a preset is chosen.
    connect(CBProvider, &QComboBox::activated, this, &TFormAccount::ProviderChosen);
    connect(CBAuth, &QComboBox::activated, this, [this] {
        if (CBAuth->currentIndex() == 1 && EditTokenUrl->text().isEmpty()) ProviderChosen();
        ShowAuth();
    });

    auto* group = new QGroupBox("Sign-in", this);
    auto* form = FSignInForm = new QFormLayout(group);
    form->addRow("Sign-in &method:", CBAuth);
    form->addRow("Provider:", CBProvider);
    form->addRow("&Client id:", EditClientId);
    form->addRow("Authori&zation address:", EditAuthUrl);
    form->addRow("To&ken address:", EditTokenUrl);
    form->addRow("Scopes:", EditScopes);
    ShowAuth();
    return group;
}

void TFormAccount::ProviderChosen() {
    const TOAuthPreset* preset = FindOAuthPreset(QToAnsi(CBProvider->currentData().toString()));
    if (preset) {
        EditServer->setText(AnsiToQ(preset->Server));
        EditPort->setValue(preset->Port);
        CBSecurity->setCurrentIndex(std::max(0, CBSecurity->findData(AnsiToQ(preset->Security))));
        EditAuthUrl->setText(AnsiToQ(preset->AuthorizationUrl));
        EditTokenUrl->setText(AnsiToQ(preset->TokenUrl));
        EditScopes->setText(AnsiToQ(preset->Scopes));
    }
    ShowAuth();
}

void TFormAccount::ShowAuth() {
    const bool oauth = CBAuth->currentIndex() == 1;
    const bool keyring = PasswordStore().Available();
    LabelKept->setText(oauth ? (keyring ? kSignInKeyringNote : kSignInNoKeyring)
                             : (keyring ? kKeyringNote : kFileNote));
    // A preset's addresses are the provider's; "Other" has them typed.
    const bool typed = oauth && CBProvider->currentData().toString().isEmpty();
    EditPassword->setEnabled(!oauth);
    CBShowPassword->setEnabled(!oauth);
    CBProvider->setEnabled(oauth);
    EditClientId->setEnabled(oauth);
    for (QLineEdit* edit : {EditAuthUrl, EditTokenUrl, EditScopes}) {
        edit->setEnabled(oauth);
        edit->setReadOnly(!typed);
    }
    // A password account has no use for the provider's rows: they take no room then.
    for (QWidget* row : {static_cast<QWidget*>(CBProvider), static_cast<QWidget*>(EditClientId),
                         static_cast<QWidget*>(EditAuthUrl), static_cast<QWidget*>(EditTokenUrl),
                         static_cast<QWidget*>(EditScopes)})
        FSignInForm->setRowVisible(row, oauth);
    if (!FGroups) return; // still being built
    FitGroups();
    if (isVisible()) adjustSize();
}

TAccountSettings TFormAccount::Settings() const {
    TAccountSettings s;
    s.IniDescript = QToAnsi(EditDescript->text().trimmed());
    s.Server = QToAnsi(EditServer->text().trimmed());
    s.DefPort = EditPort->value();
    s.UserName = QToAnsi(EditUser->text().trimmed());
    s.Password = QToAnsi(EditPassword->text());
    s.MailAddress = QToAnsi(EditAddress->text().trimmed());
    s.MailName = QToAnsi(EditName->text().trimmed());
    s.Timeout = EditTimeout->value();
    s.MailMaxSize = EditMaxSize->value();
    s.RASService = CBDialUp->currentData().toInt();
    s.Security = QToAnsi(CBSecurity->currentData().toString());
    // A stated security without a port uses its standard one.
    if (s.DefPort == 0 && s.Security != kSecurityAuto)
        s.DefPort = s.Security == kSecurityTls ? kImplicitTlsPort : kDefaultPort;
    s.CertFingerprint = FCertFingerprint;
    const QString kind = CBDeliver->currentData().toString();
    if (!kind.isEmpty()) s.Deliver = QToAnsi(kind + ':' + EditDeliverPath->text().trimmed());
    if (CBAuth->currentIndex() == 1) {
        TOAuthConfig& o = s.OAuth;
        o.Method = kAuthOAuth2;
        o.Provider = QToAnsi(CBProvider->currentData().toString());
        o.ClientId = QToAnsi(EditClientId->text().trimmed());
        o.ClientSecret = FClientSecret;
        o.AuthorizationUrl = QToAnsi(EditAuthUrl->text().trimmed());
        o.TokenUrl = QToAnsi(EditTokenUrl->text().trimmed());
        o.Scopes = QToAnsi(EditScopes->text().trimmed());
        s.Password.clear();
    }
    return s;
}

void TFormAccount::BtnBrowseDeliverClick() {
    const bool folder = CBDeliver->currentData().toString() == "maildir";
    QString start = EditDeliverPath->text().trimmed();
    if (start.startsWith("~/")) start = QDir::homePath() + start.mid(1);
    if (start.isEmpty()) start = QDir::homePath();
    const std::string chosen =
        ChooseDeliveryPath ? ChooseDeliveryPath(this, folder, QToAnsi(start)) : [&] {
            QFileDialog dialog(this, folder ? kChooseMaildir : kChooseMbox, start);
            if (folder) {
                dialog.setFileMode(QFileDialog::Directory);
                dialog.setOption(QFileDialog::ShowDirsOnly);
            } else {
                // Mail is added to an mbox, never written over it.
                dialog.setAcceptMode(QFileDialog::AcceptSave);
                dialog.setOption(QFileDialog::DontConfirmOverwrite);
            }
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return std::string();
            return QToAnsi(dialog.selectedFiles().first());
        }();
    if (!chosen.empty()) EditDeliverPath->setText(AnsiToQ(chosen));
}

void TFormAccount::BtnTestClick() {
    if (Testing()) return;
    BtnTest->setEnabled(false);
    BtnOK->setEnabled(false);
    LabelTest->setText(kTesting);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const TConnectionTest::TResult result = FTest.Run(Settings());
    QApplication::restoreOverrideCursor();
    QString text = AnsiToQ(result.Text);
    // What was found is what the account keeps.
    if (!result.Security.empty()) {
        CBSecurity->setCurrentIndex(CBSecurity->findData(AnsiToQ(result.Security)));
        EditPort->setValue(result.Port);
        const char* found = result.Security == kSecurityTls ? "TLS" : "STLS";
        text += QString(kFoundAs).arg(found).arg(result.Port);
    }
    LabelTest->setText(text);
    BtnTest->setEnabled(true);
    BtnOK->setEnabled(true);
}

void TFormAccount::accept() {
    if (Testing()) return;
    const TAccountSettings s = Settings();
    const int deliver = std::max(0, CBDeliver->currentIndex());
    std::string error = *kDeliveries[deliver][1] && EditDeliverPath->text().trimmed().isEmpty()
                            ? kDeliveries[deliver][3]
                            : CheckAccountSettings(s, PasswordStore().Available());
    if (error.empty() && OnSave && !OnSave(s, error) && error.empty()) error = "Not saved";
    LabelError->setText(AnsiToQ(error));
    if (!error.empty()) return;
    ClientRec.Interval = EditInterval->value();
    ClientRec.CheckEmedit = CBCheckEmedit->isChecked();
    SaveSettings();
    QDialog::accept();
}

void TFormAccount::reject() {
    if (Testing()) {
        FTest.Cancel();
        return;
    }
    QDialog::reject();
}
