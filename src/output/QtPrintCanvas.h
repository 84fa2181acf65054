// The print canvas on a Qt printer: the system's printers through the print dialog, or a PDF
// file when no printer is installed. Pages are laid out at a fixed 300 dpi, whatever the
// printer's own resolution, so a message looks the same on every printer.
#pragma once

#include "output/PrintCanvas.h"

#include <QFont>
#include <QPainter>
#include <QPrinter>
#include <memory>

class TQtPrintCanvas : public TPrintCanvas {
public:
    static constexpr int kResolution = 300;

    TQtPrintCanvas();
    ~TQtPrintCanvas() override;

    // Prints into a PDF file instead of a printer.
    void SetPdfFile(const std::string& fileName);
    QPrinter& Printer() { return *FPrinter; }

    bool ChoosePrinter() override;
    int PageWidth() override;
    int PageHeight() override;
    bool BeginDoc(const std::string& title, std::string& error) override;
    void NewPage() override;
    void EndDoc() override;
    void Abort() override;
    void SetFont(const TCanvasFont& font) override;
    int TextHeight(const std::string& text) override;
    int TextWidth(const std::string& text) override;
    void TextOut(int x, int y, const std::string& text) override;
    void Line(int x1, int y1, int x2, int y2) override;

private:
    QFontMetrics Metrics() const;

    std::unique_ptr<QPrinter> FPrinter;
    QPainter FPainter;
    QFont FFont;
};
