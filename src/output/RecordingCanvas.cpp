#include "output/RecordingCanvas.h"

namespace {
TCanvasOp Op(TCanvasOp::TKind kind, int x = 0, int y = 0, std::string text = {}) {
    TCanvasOp op;
    op.Kind = kind;
    op.X = x;
    op.Y = y;
    op.Text = std::move(text);
    return op;
}
} // namespace

bool TRecordingCanvas::BeginDoc(const std::string& title, std::string& error) {
    if (!BeginError.empty()) {
        error = BeginError;
        return false;
    }
    FPage = 1;
    Record(Op(TCanvasOp::coBegin, 0, 0, title));
    return true;
}

void TRecordingCanvas::NewPage() {
    ++FPage;
    Record(Op(TCanvasOp::coNewPage));
}

void TRecordingCanvas::EndDoc() {
    Record(Op(TCanvasOp::coEnd));
}

void TRecordingCanvas::Abort() {
    Record(Op(TCanvasOp::coAbort));
}

void TRecordingCanvas::SetFont(const TCanvasFont& font) {
    FFont = font;
    Record(Op(TCanvasOp::coFont));
}

int TRecordingCanvas::TextHeight(const std::string&) {
    return FFont.Size * 5;
}

int TRecordingCanvas::TextWidth(const std::string& text) {
    int characters = 0; // UTF-8: every byte but the continuation bytes starts one
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return characters * (FFont.Size * 2 + (FFont.Bold ? 1 : 0));
}

void TRecordingCanvas::TextOut(int x, int y, const std::string& text) {
    Record(Op(TCanvasOp::coText, x, y, text));
}

void TRecordingCanvas::Line(int x1, int y1, int x2, int y2) {
    TCanvasOp op = Op(TCanvasOp::coLine, x1, y1);
    op.X2 = x2;
    op.Y2 = y2;
    Record(op);
}

std::vector<TCanvasOp> TRecordingCanvas::Texts(int page) const {
    std::vector<TCanvasOp> texts;
    for (const TCanvasOp& op : Ops)
        if (op.Kind == TCanvasOp::coText && (page == 0 || op.Page == page)) texts.push_back(op);
    return texts;
}

const TCanvasOp* TRecordingCanvas::FindText(const std::string& text) const {
    for (const TCanvasOp& op : Ops)
        if (op.Kind == TCanvasOp::coText && op.Text == text) return &op;
    return nullptr;
}

void TRecordingCanvas::Record(TCanvasOp op) {
    op.Page = FPage;
    op.Font = FFont;
    Ops.push_back(op);
    if (OnOp) OnOp(op);
}
