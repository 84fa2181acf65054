#include "app/StartUnit.h"

#include "app/HelpViewer.h"
#include "app/Hints.h"
#include "mailbox/Settings.h"
#include "platform/Ansi.h"
#include "platform/AutoStart.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace {
const char* const kCaption = "Setting";
const char* const kSaveQuestion = "Save modification?";
const char* const kAssignQuestion = "Assign auto-start for Postvigil?";
const char* const kRemoveQuestion = "Remove auto-start for Postvigil?";
const char* const kEntryNotWritten = "The autostart entry could not be written:\n";
const char* const kProgramFile = "Postvigil.exe";

const char* const kProgramGroup = " Program settings for Postvigil";
const char* const kAccountGroup = "RAS entry and POP3 server setting (inactive)";
const char* const kAccountHint = "Werte der Steuerdatei|\xc3\x84nd ### en werden im TSM Postkeeper "
                                 "oder in der *.SET Datei vorgenommen ###";
const char* const kFollowItems[] = {"No action, react individually", "Open Postvigil",
                                    "Open Tessmar Postkeeper"};
const char* const kRetrieveItems[] = {"Collect + delete", "Copy + leave", "Delete", "Neutral"};
const char* const kSecurityTexts[][2] = {{"tls", "TLS"},
                                         {"starttls", "STLS after connecting"},
                                         {"none", "none (clear text)"},
                                         {"auto", "automatic (found at the next check)"}};
const char* const kEditAccount = "&Edit account\xe2\x80\xa6";

// Help pages for the dialog, for the program settings group and for the Help button.
const char* const kHelpDialog = "index.html#settings";
const char* const kHelpProgram = "index.html#program-settings";
const char* const kHelpButton = "index.html#settings";

constexpr int kIntervalMax = 1440;
constexpr int kIntervalStep = 10;
constexpr int kDescriptShown = 50;

QCheckBox* Check(QWidget* parent, const char* text, const char* hint) {
    return Hinted(new QCheckBox(QString::fromUtf8(text), parent), hint);
}

QGroupBox* Bold(QGroupBox* box) {
    QFont f = box->font();
    f.setBold(true);
    box->setFont(f);
    // The items inside keep the normal weight.
    for (QWidget* child : box->findChildren<QWidget*>()) {
        QFont plain = child->font();
        plain.setBold(false);
        child->setFont(plain);
    }
    return box;
}

// A radio group: the items in a grid of columns, numbered from 0 in reading order.
QGroupBox* RadioGroup(QWidget* parent, const char* title, const char* const* items, int count,
                      int columns, QButtonGroup*& group) {
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    auto* grid = new QGridLayout(box);
    group = new QButtonGroup(box);
    for (int i = 0; i < count; ++i) {
        auto* item = new QRadioButton(QString::fromUtf8(items[i]), box);
        group->addButton(item, i);
        grid->addWidget(item, i / columns, i % columns);
    }
    return box;
}

QLineEdit* Shown(QWidget* parent, const char* prompt = "") {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    edit->setPlaceholderText(QString::fromUtf8(prompt));
    return edit;
}

QLabel* Text(const char* text, QWidget* buddy = nullptr) {
    auto* label = new QLabel(QString::fromUtf8(text));
    if (buddy) label->setBuddy(buddy);
    return label;
}

void SelectItem(QButtonGroup* group, int index) {
    if (QAbstractButton* b = group->button(index)) {
        b->setChecked(true);
        return;
    }
    // No item for the value: none is selected.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}
} // namespace

TFormStart::TFormStart(const TStringList& entries, QWidget* parent)
    : QDialog(parent), FEntries(entries) {
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    BuildControls();
    FillFields();
}

void TFormStart::BuildControls() {
    BtnCancel = Hinted(new QPushButton("&Cancel", this), "Return without modification");
    BtnAply = Hinted(new QPushButton("&Aply", this), "Save and use modification");
    BtnHelp = Hinted(new QPushButton("&Help", this), "Call for help");
    BtnOK = Hinted(new QPushButton("&OK", this), "Return");
    BtnAply->setEnabled(false);
    BtnOK->setDefault(true);
    auto* bar = new QHBoxLayout;
    for (QPushButton* b : {BtnCancel, BtnAply, BtnHelp, BtnOK}) bar->addWidget(b);
    bar->addStretch();

    GroupProgram = new QGroupBox(kProgramGroup, this);
    CBAutoStart = Check(GroupProgram, "Automatic load at start of computer",
                        "Automatic load of Postvigil at start of computer");
    CBPVMinimized =
        Check(GroupProgram, "Start minimized at status bar", "Minimize Postvigil at start");
    CBAutoConnect = Check(GroupProgram, "Dial and hang-up automatically",
                          "Dial and hang-up RAS entry automatically");
    SpinEditInterval = Hinted(new QSpinBox(GroupProgram), "Interval in minutes");
    SpinEditInterval->setSingleStep(kIntervalStep);
    CBCheckEmedit = Check(GroupProgram, "Check immediately at program start",
                          "First check immediately at program start");
    RKFollowAct = RadioGroup(GroupProgram, " Reaction ", kFollowItems, 3, 1, RKFollowActItems);
    CBNotify = Check(GroupProgram, "Desktop notification of new eMail",
                     "Notify when a timed check has found new eMail");
    CBCheckAllAccounts = Check(GroupProgram, "Check every account, not only the start-up account",
                               "Timed and start-up checks also check the other accounts in the "
                               "background, while the machine is online");
    EditMailProgram = Hinted(new QLineEdit(GroupProgram),
                             "The mail program Postkeeper's button starts when mail is delivered "
                             "elsewhere or Postkeeper is missing; empty: the desktop's own");
    EditMailProgram->setPlaceholderText("the desktop's own");
    auto* interval = new QHBoxLayout;
    interval->addWidget(Text("Interval:", SpinEditInterval));
    interval->addWidget(SpinEditInterval);
    interval->addWidget(Text("minutes"));
    interval->addStretch();
    auto* program = new QVBoxLayout(GroupProgram);
    for (QCheckBox* c : {CBAutoStart, CBPVMinimized, CBAutoConnect}) program->addWidget(c);
    auto* intervalText = Text("Time interval the Postvigil must check the remote POP3 server");
    intervalText->setWordWrap(true);
    program->addWidget(intervalText);
    program->addLayout(interval);
    program->addWidget(CBCheckEmedit);
    auto* followText = Text("Followup action if eMail check has indicated waiting eMail");
    followText->setWordWrap(true);
    program->addWidget(followText);
    program->addWidget(RKFollowAct);
    program->addWidget(CBNotify);
    program->addWidget(CBCheckAllAccounts);
    auto* mailProgram = new QHBoxLayout;
    mailProgram->addWidget(Text("Mail program:", EditMailProgram));
    mailProgram->addWidget(EditMailProgram, 1);
    program->addLayout(mailProgram);
    program->addStretch();
    Bold(GroupProgram);

    GroupAccount = Hinted(new QGroupBox(kAccountGroup, this), kAccountHint);
    auto* fields = new QWidget(GroupAccount);
    EditIniDescript = Shown(fields);
    EditIniDescript->setMaxLength(kDescriptShown);
    ComboBoxEntries = new QComboBox(fields);
    EditPOPServer = Shown(fields, "<pop.your_provider>");
    EditPOPUser = Shown(fields, "<your.account>");
    EditPOPPassword = Shown(fields, ">your.password>");
    EditPOPPassword->setEchoMode(QLineEdit::Password);
    EditPOPPassword->setStyleSheet("lineedit-password-character: 42");
    EditPOPPort = Shown(fields, "<110>");
    EditSecurity = Shown(fields);
    DirMailPathEdit = Shown(fields);
    EditMailMax = Shown(fields);
    SpinEditTimeOut = new QSpinBox(fields);
    SpinEditTimeOut->setReadOnly(true);
    SpinEditTimeOut->setButtonSymbols(QAbstractSpinBox::NoButtons);
    SpinEditTimeOut->setRange(0, 9999);
    LabelSecurity = Text("Security", EditSecurity);
    auto* timeout = new QHBoxLayout;
    timeout->addWidget(SpinEditTimeOut);
    timeout->addWidget(Text("sec."));
    timeout->addStretch();
    auto* form = new QGridLayout(fields);
    form->setContentsMargins(0, 0, 0, 0);
    const std::pair<const char*, QWidget*> rows[] = {
        {"Entry designation", EditIniDescript}, {"RAS entry", ComboBoxEntries},
        {"Server name", EditPOPServer},         {"eMail account", EditPOPUser},
        {"Password", EditPOPPassword},          {"Port", EditPOPPort}};
    int row = 0;
    for (const auto& [text, field] : rows) {
        form->addWidget(Text(text, field), row, 0);
        form->addWidget(field, row++, 1);
    }
    form->addWidget(LabelSecurity, row, 0);
    form->addWidget(EditSecurity, row++, 1);
    form->addWidget(Text("eMail &working folder", DirMailPathEdit), row, 0);
    form->addWidget(DirMailPathEdit, row++, 1);
    form->addWidget(Text("&Max size of eMail", EditMailMax), row, 0);
    form->addWidget(EditMailMax, row++, 1);
    form->addWidget(Text("Timeout value", SpinEditTimeOut), row, 0);
    form->addLayout(timeout, row++, 1);
    fields->setEnabled(false);
    BtnEditAccount = Hinted(new QPushButton(QString::fromUtf8(kEditAccount), GroupAccount),
                            "Change the account in the account editor");
    auto* account = new QVBoxLayout(GroupAccount);
    account->addWidget(fields);
    account->addWidget(BtnEditAccount, 0, Qt::AlignRight);
    Bold(GroupAccount);
    GroupAccount->setStyleSheet("QGroupBox { color: gray; }");

    RGRetrieveMode = RadioGroup(this, " Pre-setting for calling an e&Mail list ", kRetrieveItems, 4,
                                2, RGRetrieveModeItems);
    RGRetrieveMode->setEnabled(false);

    auto* right = new QVBoxLayout;
    right->addWidget(GroupAccount);
    right->addWidget(RGRetrieveMode);
    auto* columns = new QHBoxLayout;
    columns->addWidget(GroupProgram, 1);
    columns->addLayout(right, 1);
    auto* top = new QVBoxLayout(this);
    top->addLayout(bar);
    top->addLayout(columns);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(BtnCancel, &QPushButton::clicked, this, &TFormStart::BtnCancelClick);
    connect(BtnAply, &QPushButton::clicked, this, &TFormStart::BtnAplyClick);
    connect(BtnHelp, &QPushButton::clicked, this, &TFormStart::BtnHelpClick);
    connect(BtnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnEditAccount, &QPushButton::clicked, this, &TFormStart::BtnEditAccountClick);
    for (QCheckBox* c :
         {CBAutoStart, CBPVMinimized, CBAutoConnect, CBCheckEmedit, CBNotify, CBCheckAllAccounts})
        connect(c, &QCheckBox::toggled, this, &TFormStart::Changed);
    connect(SpinEditInterval, &QSpinBox::valueChanged, this, &TFormStart::Changed);
    connect(EditMailProgram, &QLineEdit::textEdited, this, &TFormStart::Changed);
    connect(RKFollowActItems, &QButtonGroup::idToggled, this, &TFormStart::Changed);
    connect(RGRetrieveModeItems, &QButtonGroup::idToggled, this, &TFormStart::Changed);
}

void TFormStart::Changed() {
    BtnAply->setEnabled(true);
}

void TFormStart::FillFields() {
    CBAutoStart->setChecked(AutoStart);
    CBPVMinimized->setChecked(PVMinimized);
    CBAutoConnect->setChecked(AutoConnect);
    // A larger interval stored elsewhere is shown as it is, not cut to the box's range.
    SpinEditInterval->setRange(0, std::max(kIntervalMax, ClientRec.Interval));
    SpinEditInterval->setValue(ClientRec.Interval);
    CBCheckEmedit->setChecked(ClientRec.CheckEmedit);
    SelectItem(RKFollowActItems, ClientRec.FollowAct);
    CBNotify->setChecked(Notify);
    CBCheckAllAccounts->setChecked(CheckAllAccounts);
    EditMailProgram->setText(QString::fromStdString(MailProgram));
    SelectItem(RGRetrieveModeItems, RetrvMode);
    FillAccount();
    FAutoStartWas = CBAutoStart->isChecked();
    BtnAply->setEnabled(false);
}

void TFormStart::FillAccount() {
    EditIniDescript->setText(AnsiToQ(ClientRec.IniDescript));
    ComboBoxEntries->clear();
    for (int i = 0; i < FEntries.Count(); ++i) ComboBoxEntries->addItem(AnsiToQ(FEntries[i]));
    ComboBoxEntries->setCurrentIndex(RasIndex < FEntries.Count() ? RasIndex : -1);
    EditPOPServer->setText(AnsiToQ(ClientRec.Server));
    EditPOPUser->setText(AnsiToQ(ClientRec.UserName));
    EditPOPPassword->setText(AnsiToQ(ClientRec.Password));
    EditPOPPort->setText(ClientRec.DefPort ? QString::number(ClientRec.DefPort) : QString());
    QString security;
    for (const auto& [value, text] : kSecurityTexts)
        if (ClientRec.Security == value) security = text;
    EditSecurity->setText(security);
    LabelSecurity->setVisible(!security.isEmpty());
    EditSecurity->setVisible(!security.isEmpty());
    DirMailPathEdit->setText(QString::fromLocal8Bit(PostofficeDir()));
    DirMailPathEdit->setCursorPosition(0);
    // Thousands always grouped, also where the locale leaves them out by default.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    EditMailMax->setText(locale.toString(MailMaxSize) + " Bytes");
    SpinEditTimeOut->setValue(ClientRec.Timeout);
    BtnEditAccount->setEnabled(std::filesystem::exists(AccountFileName(CurSetName)));
}

void TFormStart::BtnAplyClick() {
    ClientRec.Interval = SpinEditInterval->value();
    ClientRec.CheckEmedit = CBCheckEmedit->isChecked();
    if (RKFollowActItems->checkedId() >= 0) ClientRec.FollowAct = RKFollowActItems->checkedId();
    PVMinimized = CBPVMinimized->isChecked();
    if (RGRetrieveModeItems->checkedId() >= 0) RetrvMode = RGRetrieveModeItems->checkedId();
    AutoStart = CBAutoStart->isChecked();
    // Declined or failed, the program is not started at log-on: the setting says so too.
    if (AutoStart != FAutoStartWas && !SetAutoStart()) AutoStart = FAutoStartWas;
    AutoConnect = CBAutoConnect->isChecked();
    Notify = CBNotify->isChecked();
    CheckAllAccounts = CBCheckAllAccounts->isChecked();
    MailProgram = EditMailProgram->text().trimmed().toStdString();
    SaveSettings();
    FillFields();
}

void TFormStart::BtnCancelClick() {
    BtnAply->setEnabled(false);
    reject();
}

void TFormStart::BtnHelpClick() {
    THelpViewer::ShowHelp(this, kHelpButton);
}

void TFormStart::BtnEditAccountClick() {
    if (!OnEditAccount) return;
    const int interval = ClientRec.Interval;
    const bool checkEmedit = ClientRec.CheckEmedit;
    const bool pending = BtnAply->isEnabled();
    OnEditAccount();
    // The editor also sets the interval and the first check; take over what it changed.
    if (ClientRec.Interval != interval) {
        SpinEditInterval->setRange(0, std::max(kIntervalMax, ClientRec.Interval));
        SpinEditInterval->setValue(ClientRec.Interval);
    }
    if (ClientRec.CheckEmedit != checkEmedit) CBCheckEmedit->setChecked(ClientRec.CheckEmedit);
    FillAccount();
    BtnAply->setEnabled(pending);
}

std::string TFormStart::ProgramPath() {
    return QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString() + "/" +
           kProgramFile;
}

bool TFormStart::SetAutoStart() {
    if (Prompts().Ask(AutoStart ? kAssignQuestion : kRemoveQuestion) != mrYes) return false;
    const std::string path = ProgramPath();
    std::string load = ReadLoadLine();
    if (AutoStart) {
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        if (!WriteAutostartEntry(program.toStdString())) {
            // The file name is shown as the file system spells it.
            Prompts().Show({"", kEntryNotWritten + AutostartEntryFile(), mtWarning, mbOK, true});
            return false;
        }
        if (AddToLoadLine(load, path)) WriteLoadLine(load);
    } else {
        RemoveAutostartEntry();
        if (RemoveFromLoadLine(load, path)) WriteLoadLine(load);
    }
    return true;
}

void TFormStart::done(int result) {
    if (BtnAply->isEnabled() && Prompts().Ask(kSaveQuestion) == mrYes) BtnAplyClick();
    BtnAply->setEnabled(false);
    QDialog::done(result);
}

void TFormStart::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    BtnEditAccount->setVisible(bool(OnEditAccount));
    if (FCentred) return;
    FCentred = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormStart::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F1) {
        const bool inProgram = GroupProgram->isAncestorOf(focusWidget());
        THelpViewer::ShowHelp(this, inProgram ? kHelpProgram : kHelpDialog);
        return;
    }
    QDialog::keyPressEvent(e);
}
