// The program information window: the maker's other programs, each opening its page.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;

struct TLogoRow {
    const char* Description;
    const char* Target; // help page of that program
};

class TLogoForm : public QDialog {
    Q_OBJECT
public:
    explicit TLogoForm(bool showInfos, QWidget* parent = nullptr);

    static const TLogoRow kRows[5];
    QCheckBox* CBShowInfo;
    // Opens a row's page; set by the owner (the shell's document opener).
    std::function<void(const std::string& target)> OnOpenTarget;

    // What a click on row i does: asks, and opens the page on Yes.
    void RowClicked(int row);
};
