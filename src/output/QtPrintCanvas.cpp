#include "output/QtPrintCanvas.h"

#include "output/CanvasFont.h"
#include "platform/Ansi.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QStandardPaths>

namespace {
const char* const kPdfNotWritable = "Die PDF-Datei \"%1\" kann nicht geschrieben werden.";
const char* const kPrinterNotReady = "Der Drucker \"%1\" kann den Druckauftrag nicht annehmen.";
const char* const kNoPrinter = "Es ist kein Drucker eingerichtet.";

// A PDF file name from a job title: the title without the characters file systems and
// desktops object to, in the user's documents folder.
QString PdfFileFor(const QString& title) {
    QString name = title;
    for (QChar& c : name)
        if (c == '/' || c == '\\' || c == ':' || c.category() == QChar::Other_Control) c = '_';
    name = name.trimmed();
    if (name.isEmpty()) name = "eMail";
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    return QDir(folder).filePath(name + ".pdf");
}
} // namespace

TQtPrintCanvas::TQtPrintCanvas() : FPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    if (QPrinterInfo::availablePrinters().isEmpty()) FPrinter->setOutputFormat(QPrinter::PdfFormat);
    FPrinter->setResolution(kResolution);
}

TQtPrintCanvas::~TQtPrintCanvas() {
    if (FPainter.isActive()) FPainter.end();
}

void TQtPrintCanvas::SetPdfFile(const std::string& fileName) {
    FPrinter->setOutputFormat(QPrinter::PdfFormat);
    FPrinter->setOutputFileName(QFile::decodeName(QByteArray::fromStdString(fileName)));
}

bool TQtPrintCanvas::ChoosePrinter() {
    QPrintDialog dialog(FPrinter.get());
    const bool chosen = dialog.exec() == QDialog::Accepted;
    FPrinter->setResolution(kResolution);
    return chosen;
}

int TQtPrintCanvas::PageWidth() {
    return FPrinter->width();
}

int TQtPrintCanvas::PageHeight() {
    return FPrinter->height();
}

bool TQtPrintCanvas::BeginDoc(const std::string& title, std::string& error) {
    const QString docName = QString::fromStdString(title);
    FPrinter->setDocName(docName);
    FPrinter->setResolution(kResolution);
    const bool pdf = FPrinter->outputFormat() == QPrinter::PdfFormat;
    if (pdf && FPrinter->outputFileName().isEmpty())
        FPrinter->setOutputFileName(PdfFileFor(docName));
    if (FPainter.begin(FPrinter.get())) {
        FPainter.setFont(FFont);
        return true;
    }
    if (pdf)
        error = QToAnsi(QString(kPdfNotWritable).arg(FPrinter->outputFileName()));
    else if (FPrinter->printerName().isEmpty())
        error = kNoPrinter;
    else
        error = QToAnsi(QString(kPrinterNotReady).arg(FPrinter->printerName()));
    return false;
}

void TQtPrintCanvas::NewPage() {
    FPrinter->newPage();
}

void TQtPrintCanvas::EndDoc() {
    FPainter.end();
}

void TQtPrintCanvas::Abort() {
    if (!FPainter.isActive()) return;
    FPrinter->abort();
    FPainter.end();
}

void TQtPrintCanvas::SetFont(const TCanvasFont& font) {
    FFont = MakeQtFont(font);
    if (FPainter.isActive()) FPainter.setFont(FFont);
}

QFontMetrics TQtPrintCanvas::Metrics() const {
    return QFontMetrics(FFont, FPrinter.get());
}

int TQtPrintCanvas::TextHeight(const std::string&) {
    return Metrics().height();
}

int TQtPrintCanvas::TextWidth(const std::string& text) {
    return Metrics().horizontalAdvance(QString::fromStdString(text));
}

void TQtPrintCanvas::TextOut(int x, int y, const std::string& text) {
    FPainter.drawText(QPoint(x, y + Metrics().ascent()), QString::fromStdString(text));
}

void TQtPrintCanvas::Line(int x1, int y1, int x2, int y2) {
    FPainter.drawLine(x1, y1, x2, y2);
}
