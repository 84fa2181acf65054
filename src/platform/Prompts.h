// Message boxes behind an interface: the program shows real dialogs, tests queue answers,
// and a headless run answers without asking anyone.
#pragma once

#include <deque>
#include <string>
#include <vector>

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons of a box, combined as flags.
enum TMsgDlgBtn : unsigned {
    mbYes = 1,
    mbNo = 2,
    mbOK = 4,
    mbCancel = 8,
    mbAbort = 16,
    mbRetry = 32,
    mbIgnore = 64,
};
using TMsgDlgButtons = unsigned;

enum TModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7
};

struct TPromptRequest {
    std::string Caption; // empty: the application title
    std::string Text;    // 8-bit (Windows-1252) text, shown as it is
    TMsgDlgType Type = mtInformation;
    TMsgDlgButtons Buttons = mbOK;
    bool Utf8 = false;          // Text is Unicode (UTF-8), as mail text shown to the user is
    TMsgDlgButtons Default = 0; // the button Enter presses; 0: the box's own choice
};

class TPrompts {
public:
    virtual ~TPrompts() = default;
    virtual TModalResult Show(const TPromptRequest& request) = 0;

    // Conveniences for the common boxes.
    TModalResult Ask(const std::string& text, TMsgDlgType type = mtConfirmation) {
        return Show({"", text, type, mbYes | mbNo});
    }
    void Tell(const std::string& text, const std::string& caption = "",
              TMsgDlgType type = mtInformation) {
        Show({caption, text, type, mbOK});
    }
};

// Answers from a queue and records every box; an empty queue answers with the box's
// negative button (No, else Cancel, else OK). Used by tests and by runs without a screen.
class TScriptedPrompts : public TPrompts {
public:
    TModalResult Show(const TPromptRequest& request) override;
    void QueueAnswer(TModalResult answer) { Answers.push_back(answer); }

    std::deque<TModalResult> Answers;
    std::vector<TPromptRequest> Shown;
};

// The prompts the program uses. Until the application installs its own, a TScriptedPrompts
// that declines everything answers.
TPrompts& Prompts();
// Installs prompts (not owned; nullptr restores the default).
void SetPrompts(TPrompts* prompts);
