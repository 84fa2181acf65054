#include "app/FormLogo.h"

#include "app/HelpViewer.h"
#include "app/Icons.h"
#include "platform/Prompts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const char* const kTitle = "Tessmar`s Brightkit";
const char* const kStrip = "Click onto a symbol to gain mor information about the Tessmar program";
const char* const kSymbolHint = "Click the Symbol to get Info";
const char* const kLabelHint = "For info click symbol";
const char* const kShowAgain = "&Show again next opening";
const char* const kShowAgainHint = "Do not show this window again";
const char* const kNote = "(Start display again at status menu \"Tessmar Brightkit\")";
const char* const kContinue = "&Continue";
const char* const kBottom =
    "When Tessmar Postvigil is opened minimized, a symbol (envelope) is shown at Windows task "
    "bar. This can be clicked left for menu or double for opening";
const char* const kAskOpen = "Open internet site for:\r";
} // namespace

const TLogoRow TLogoForm::kRows[5] = {
    {"Tessmar Postkeeper - writes, files and reads your eMail", "postkeeper.html"},
    {"Tessmar Postvigil - watches your POP3 accounts for waiting eMail", "index.html"},
    {"Tessmar Dialmate - brings your connection up and down on demand", "dialmate.html"},
    {"Tessmar Notepost - keeps short notes beside your mail", "notepost.html"},
    {"Tessmar Printkit - prints eMail and protocols tidily", "printkit.html"},
};

TLogoForm::TLogoForm(bool showInfos, QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    auto* layout = new QVBoxLayout(this);

    auto* title = new QLabel(kTitle, this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    big.setItalic(true);
    title->setFont(big);
    layout->addWidget(title);

    auto* strip = new QLabel(kStrip, this);
    strip->setStyleSheet("QLabel { background: #008080; color: white; padding: 3px; }");
    layout->addWidget(strip);

    auto* grid = new QGridLayout;
    for (int i = 0; i < 5; ++i) {
        auto* symbol = new QToolButton(this);
        symbol->setIcon(ProgramSymbol(i));
        symbol->setIconSize(QSize(32, 32));
        symbol->setAutoRaise(true);
        symbol->setToolTip(kSymbolHint);
        auto* label = new QLabel(kRows[i].Description, this);
        label->setToolTip(kLabelHint);
        grid->addWidget(symbol, i, 0);
        grid->addWidget(label, i, 1);
        connect(symbol, &QToolButton::clicked, this, [this, i] { RowClicked(i); });
    }
    layout->addLayout(grid);

    CBShowInfo = new QCheckBox(kShowAgain, this);
    CBShowInfo->setToolTip(kShowAgainHint);
    CBShowInfo->setChecked(showInfos);
    layout->addWidget(CBShowInfo);
    layout->addWidget(new QLabel(kNote, this));
    auto* cont = new QPushButton(kContinue, this);
    cont->setDefault(true);
    connect(cont, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(cont, 0, Qt::AlignRight);
    auto* bottom = new QLabel(kBottom, this);
    bottom->setWordWrap(true);
    QFont bold = bottom->font();
    bold.setBold(true);
    bottom->setFont(bold);
    layout->addWidget(bottom);
    setFixedWidth(520);
    // The pages of the maker's programs are part of our own help.
    OnOpenTarget = [this](const std::string& target) {
        THelpViewer::ShowHelp(parentWidget(), QString::fromStdString(target));
    };
}

void TLogoForm::RowClicked(int row) {
    if (row < 0 || row >= 5) return;
    if (Prompts().Ask(std::string(kAskOpen) + kRows[row].Description) != mrYes) return;
    if (OnOpenTarget) OnOpenTarget(kRows[row].Target);
}
