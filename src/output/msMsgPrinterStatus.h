// The small window shown while a message prints: what is happening, and a button to stop.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class TmsMessage;

class TmsMessagePrinterStatus : public QDialog {
    Q_OBJECT
public:
    // The width of the hidden text box whose wrapped lines are printed, in screen pixels.
    static constexpr int kTextBoxWidth = 570;

    explicit TmsMessagePrinterStatus(QWidget* parent = nullptr);

    // True once "Abbruch" was pressed (or the window was closed).
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value) { FCancel = value; }

    std::string StatusText() const;
    // Sets the status line and repaints at once.
    void SetStatusText(const std::string& text);

    // Loads the hidden text box with the message's body; Lines() are its wrapped lines.
    void SetMailMessage(const TmsMessage* message);
    const std::vector<std::string>& Lines() const { return FLines; }

    QPushButton* CancelButton() const { return FCancelButton; }

public slots:
    void reject() override;

private:
    bool FCancel = false;
    QLabel* FStatusLabel;
    QPushButton* FCancelButton;
    std::vector<std::string> FLines;
};
