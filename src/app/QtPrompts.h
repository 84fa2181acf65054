// The program's message boxes: QMessageBox behind the prompts interface.
#pragma once

#include "platform/Prompts.h"

class QWidget;

class TQtPrompts : public TPrompts {
public:
    explicit TQtPrompts(QWidget* parent = nullptr) : FParent(parent) {}
    void SetParent(QWidget* parent) { FParent = parent; }
    TModalResult Show(const TPromptRequest& request) override;

private:
    QWidget* FParent;
};
