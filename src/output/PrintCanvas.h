// The surface the message printer draws on: one print job of pages, addressed in device
// pixels from the top-left corner of the printable area.
#pragma once

#include <string>

struct TCanvasFont {
    std::string Name = "MS Sans Serif";
    int Size = 8; // points
    bool Bold = false;
    bool operator==(const TCanvasFont&) const = default;
};

class TPrintCanvas {
public:
    virtual ~TPrintCanvas() = default;

    // Lets the user choose the printer; false when the choice was cancelled.
    virtual bool ChoosePrinter() = 0;
    // The printable area of a page in device pixels.
    virtual int PageWidth() = 0;
    virtual int PageHeight() = 0;

    // Text on the canvas, the job title included, is Unicode (UTF-8).
    // Starts a job with its title; false with a reason for the user when it cannot start.
    virtual bool BeginDoc(const std::string& title, std::string& error) = 0;
    virtual void NewPage() = 0;
    // Ends the job and outputs its pages.
    virtual void EndDoc() = 0;
    // Drops a started job (an error ended the print).
    virtual void Abort() = 0;

    virtual void SetFont(const TCanvasFont& font) = 0;
    virtual int TextHeight(const std::string& text) = 0;
    virtual int TextWidth(const std::string& text) = 0;
    // Writes text with the top-left corner of its cell at (x, y).
    virtual void TextOut(int x, int y, const std::string& text) = 0;
    virtual void Line(int x1, int y1, int x2, int y2) = 0;
};
