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

    // The program's 8-bit (Windows-1252) lines, such as the protocol.
    void SetLines(const TStringList& lines);
    // Lines in Unicode (UTF-8), such as a message's decoded header lines.
    void SetUnicodeLines(const TStringList& lines);
    TStringList Lines() const;
    // Writes the text as lines to fileName, replacing an existing file; false on failure.
    // The file is Windows-1252 when that holds every character, else UTF-8, so nothing
    // shown is lost in the file.
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
