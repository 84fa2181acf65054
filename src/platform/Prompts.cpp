#include "platform/Prompts.h"

TModalResult TScriptedPrompts::Show(const TPromptRequest& request) {
    Shown.push_back(request);
    if (!Answers.empty()) {
        const TModalResult answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    if (request.Buttons & mbNo) return mrNo;
    if (request.Buttons & mbCancel) return mrCancel;
    return mrOk;
}

namespace {
TPrompts* gPrompts = nullptr;
} // namespace

TPrompts& Prompts() {
    static TScriptedPrompts declineAll;
    return gPrompts ? *gPrompts : declineAll;
}

void SetPrompts(TPrompts* prompts) {
    gPrompts = prompts;
}
