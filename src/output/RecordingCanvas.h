// A print canvas that records what is drawn, with simple fixed font metrics, for tests of
// page layouts.
#pragma once

#include "output/PrintCanvas.h"

#include <functional>
#include <vector>

struct TCanvasOp {
    enum TKind { coBegin, coFont, coText, coLine, coNewPage, coEnd, coAbort };
    TKind Kind = coText;
    int Page = 1;
    int X = 0, Y = 0, X2 = 0, Y2 = 0;
    std::string Text; // the text, or the job title
    TCanvasFont Font; // the font in effect
};

class TRecordingCanvas : public TPrintCanvas {
public:
    bool ChoosePrinter() override {
        ++DialogsShown;
        return DialogAnswer;
    }
    int PageWidth() override { return Width; }
    int PageHeight() override { return Height; }
    bool BeginDoc(const std::string& title, std::string& error) override;
    void NewPage() override;
    void EndDoc() override;
    void Abort() override;
    void SetFont(const TCanvasFont& font) override;
    // Size * 5 pixels high; Size * 2 pixels per character wide (one more when bold).
    int TextHeight(const std::string& text) override;
    int TextWidth(const std::string& text) override;
    void TextOut(int x, int y, const std::string& text) override;
    void Line(int x1, int y1, int x2, int y2) override;

    // The text operations, of one page when page > 0.
    std::vector<TCanvasOp> Texts(int page = 0) const;
    const TCanvasOp* FindText(const std::string& text) const;

    int Width = 2400;
    int Height = 3400;
    bool DialogAnswer = true;
    int DialogsShown = 0;
    std::string BeginError; // when set, BeginDoc fails with it
    std::vector<TCanvasOp> Ops;
    // Called after each operation is recorded.
    std::function<void(const TCanvasOp&)> OnOp;

private:
    void Record(TCanvasOp op);
    TCanvasFont FFont;
    int FPage = 1;
};
