// TFormMain's settings button.
#include "app/MainUnit.h"
#include "app/StartUnit.h"
#include "dialup/DialUp.h"

void TFormMain::BtnSettingClick() {
    if (RefuseWhileWorking()) return;
    TFormStart dlg(DialUp->Entries(), isVisible() ? this : nullptr);
    dlg.OnEditAccount = [this] { EditAccount(); };
    RunModal(dlg);
}
