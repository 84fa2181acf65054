#include "app/HelpUnit.h"

#include "base/Exceptions.h"
#include "platform/Ansi.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {
const char* const kCaption = "Text display";
const char* const kSaveTitle = "Folder- and file name";
const char* const kDefaultName = "Protocol.TXT";
const char* const kFilter = "Text file (*.TXT);;All files (*.*)";
const char* const kJobTitle = "Text";

QPushButton* AddButton(QHBoxLayout* bar, const char* caption, const char* hint, QWidget* owner) {
    auto* b = new QPushButton(caption, owner);
    b->setToolTip(hint);
    b->setStatusTip(hint);
    bar->addWidget(b);
    return b;
}
} // namespace

TFormHelp::TFormHelp(QWidget* parent) : QDialog(parent) {
    setWindowTitle(kCaption);
    resize(630, 350);
    auto* bar = new QHBoxLayout;
    BtnPrint = AddButton(bar, "&Print text", "Print the content", this);
    BtnSave = AddButton(bar, "&Save text", "Save text", this);
    BtnClose = AddButton(bar, "&OK, close", "Close window", this);
    bar->addStretch();
    Memo = new QPlainTextEdit(this);
    Memo->setReadOnly(true);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont font("Courier New", 10);
    font.setStyleHint(QFont::Monospace);
    if (!QFontDatabase::families().contains("Courier New"))
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    Memo->setFont(font);
    Memo->setStyleSheet("QPlainTextEdit { background: #ffffe1; color: black; }");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(Memo);
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(BtnPrint, &QPushButton::clicked, this, &TFormHelp::PrintText);
    connect(BtnSave, &QPushButton::clicked, this, &TFormHelp::AskAndSave);
}

void TFormHelp::SetLines(const TStringList& lines) {
    QStringList text;
    text.reserve(lines.Count());
    for (const auto& line : lines) text << AnsiToQ(line);
    Memo->setPlainText(text.join('\n'));
}

void TFormHelp::SetUnicodeLines(const TStringList& lines) {
    QStringList text;
    text.reserve(lines.Count());
    for (const auto& line : lines) text << QString::fromStdString(line);
    Memo->setPlainText(text.join('\n'));
}

TStringList TFormHelp::Lines() const {
    TStringList lines;
    for (const QString& line : Memo->toPlainText().split('\n')) lines.Add(QToAnsi(line));
    return lines;
}

bool TFormHelp::SaveText(const std::string& fileName) const {
    try {
        const QStringList text = Memo->toPlainText().split('\n');
        TStringList lines;
        bool lossless = true;
        for (const QString& line : text) {
            lines.Add(QToAnsi(line));
            lossless = lossless && AnsiToQ(lines[lines.Count() - 1]) == line;
        }
        if (!lossless) {
            lines.Clear();
            for (const QString& line : text) lines.Add(line.toStdString());
        }
        lines.SaveToFile(fileName);
        return true;
    } catch (const Exception& e) {
        Prompts().Tell(e.Message, "", mtError);
        return false;
    }
}

bool TFormHelp::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Memo->moveCursor(QTextCursor::Start);
    return QDialog::event(e);
}

void TFormHelp::PrintText() {
    QPrinter printer;
    printer.setDocName(kJobTitle);
    // Without an installed printer the text goes to a PDF file of the user's choice.
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        const QString pdf = QFileDialog::getSaveFileName(
            this, kSaveTitle, QDir::currentPath() + "/Text.pdf", "PDF (*.pdf)");
        if (pdf.isEmpty()) return;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
    }
    Memo->document()->print(&printer);
}

void TFormHelp::AskAndSave() {
    QFileDialog dlg(this, kSaveTitle, QDir::currentPath(), kFilter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix("TXT");
    dlg.selectFile(kDefaultName);
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    SaveText(QFile::encodeName(dlg.selectedFiles().first()).toStdString());
}
