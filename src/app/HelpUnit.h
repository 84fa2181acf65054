// "Text display": shows the session protocol or a message's header lines, with print and save.
#pragma once

#include "base/StringList.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TFormHelp : public QDialog {
    Q_OBJECT
public:
    explicit TFormHelp(QWidget* parent = nullptr);

    void SetLines(const TStringList& lines);
    TStringList Lines() const;
    // Writes the text as lines to fileName, replacing an existing file; false on failure.
    bool SaveText(const std::string& fileName) const;

    QPushButton* BtnPrint;
    QPushButton* BtnSave;
    QPushButton* BtnClose;
    QPlainTextEdit* Memo;

protected:
    bool event(QEvent* e) override;

private:
    void PrintText();
    void AskAndSave();
};
