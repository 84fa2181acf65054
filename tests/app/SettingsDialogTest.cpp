#include "MainWindowFixture.h"
#include "app/AccountUnit.h"
#include "app/HelpViewer.h"
#include "app/StartUnit.h"
#include "platform/AutoStart.h"
#include "platform/DurableFile.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>

namespace {
struct SettingsDialog : MainWindowFixture {
    TScriptedPrompts prompts;
    TStringList entries{"Office VPN", "Mobile"};

    pvtest::TScopedSeam<TPrompts*> promptsSeam{SetPrompts, &prompts};
    std::string Hive() { return ReadWholeFile(RegistryFile()); }
    std::vector<std::string> Asked() {
        std::vector<std::string> texts;
        for (const auto& p : prompts.Shown) texts.push_back(p.Text);
        prompts.Shown.clear();
        return texts;
    }
    using Texts = std::vector<std::string>;
};
} // namespace

TEST_F(SettingsDialog, ShowsTheSettingsAndKeepsEditsWhenActivatedAgain) {
    ClientRec.Interval = 30;
    ClientRec.FollowAct = faOpenPostkeeper;
    ClientRec.IniDescript = "Home";
    ClientRec.Server = "pop.example.org";
    ClientRec.Password = "pw";
    ClientRec.DefPort = 0;
    ClientRec.Security = "starttls";
    RasIndex = 1;
    RetrvMode = tmDelete;
    MailMaxSize = 1234567;
    TFormStart dlg(entries);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Setting");
    EXPECT_EQ(dlg.SpinEditInterval->value(), 30);
    EXPECT_EQ(dlg.RKFollowActItems->checkedId(), faOpenPostkeeper);
    EXPECT_EQ(dlg.RGRetrieveModeItems->checkedId(), tmDelete);
    EXPECT_FALSE(dlg.RGRetrieveMode->isEnabled());
    EXPECT_EQ(dlg.ComboBoxEntries->currentText(), "Mobile");
    EXPECT_EQ(dlg.EditPOPPort->text(), ""); // the prompt "<110>" shows instead
    EXPECT_EQ(dlg.EditSecurity->text(), "STLS after connecting");
    EXPECT_EQ(dlg.EditMailMax->text(), "1,234,567 Bytes");
    EXPECT_FALSE(dlg.EditPOPServer->isEnabled());
    EXPECT_FALSE(dlg.BtnAply->isEnabled());

    dlg.SpinEditInterval->setValue(40);
    dlg.CBPVMinimized->setChecked(true);
    EXPECT_TRUE(dlg.BtnAply->isEnabled());
    // Another window had the focus; coming back must not refill the fields.
    ClientRec.Interval = 5;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&dlg, &activate);
    dlg.activateWindow();
    QApplication::processEvents();
    EXPECT_EQ(dlg.SpinEditInterval->value(), 40);
    EXPECT_TRUE(dlg.CBPVMinimized->isChecked());
    EXPECT_TRUE(dlg.BtnAply->isEnabled());

    // Help: the button's page, and F1 inside the program settings their own part of it.
    dlg.BtnHelp->click();
    auto* help = dlg.findChild<THelpViewer*>();
    ASSERT_TRUE(help);
    EXPECT_EQ(help->Browser->source().fragment(), "settings");
    dlg.CBPVMinimized->setFocus();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &f1);
    EXPECT_EQ(help->Browser->source().fragment(), "program-settings");
    const QString page = help->Browser->toHtml();
    EXPECT_TRUE(page.contains("name=\"settings\"") && page.contains("name=\"program-settings\""));
    dlg.BtnCancel->click();
}

TEST_F(SettingsDialog, ApplyWritesExactlyTheProgramSettings) {
    LoadSettings();
    RetrvMode = tmCopy;
    TFormStart dlg(entries);
    dlg.SpinEditInterval->setValue(20);
    dlg.CBCheckEmedit->setChecked(true);
    dlg.RKFollowActItems->button(faIndividual)->setChecked(true);
    dlg.CBPVMinimized->setChecked(true);
    dlg.CBAutoConnect->setChecked(false);
    dlg.CBNotify->setChecked(false);
    dlg.EditMailProgram->setText(" mutt -f ~/Mail ");
    dlg.BtnAply->click();
    EXPECT_FALSE(dlg.BtnAply->isEnabled());
    EXPECT_EQ(ClientRec.Interval, 20);
    EXPECT_EQ(RetrvMode, tmCopy);
    TIniFile hive(RegistryFile());
    TStringList names;
    hive.ReadSection(kPostvigilKey, names);
    EXPECT_EQ(names.Count(), 9);
    const std::pair<const char*, const char*> expected[] = {
        {"Interval", "20"}, {"CheckEmedit", "1"}, {"FollowAct", "0"},
        {"AutoStart", "0"}, {"PVMinimized", "1"}, {"AutoConnect", "0"},
        {"ShowInfos", "0"}, {"Notify", "0"},      {"MailProgram", "mutt -f ~/Mail"}};
    for (const auto& [name, value] : expected)
        EXPECT_EQ(hive.ReadString(kPostvigilKey, name, "missing"), value) << name;
    EXPECT_TRUE(Asked().empty());
}

TEST_F(SettingsDialog, ClosingAsksOnlyForUnappliedChanges) {
    const std::string before = Hive();
    {
        // Cancel: no question, nothing written.
        TFormStart dlg(entries);
        dlg.show();
        dlg.CBCheckEmedit->setChecked(true);
        dlg.BtnCancel->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_TRUE(Asked().empty());
        EXPECT_EQ(Hive(), before);
    }
    {
        // The close box after a change asks; No closes without writing.
        TFormStart dlg(entries);
        dlg.show();
        dlg.CBCheckEmedit->setChecked(true);
        dlg.close();
        EXPECT_EQ(Asked(), Texts{"Save modification?"});
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(Hive(), before);
        EXPECT_FALSE(ClientRec.CheckEmedit);
    }
    {
        // After Apply the close box does not ask.
        TFormStart dlg(entries);
        dlg.show();
        dlg.CBCheckEmedit->setChecked(true);
        dlg.BtnAply->click();
        dlg.close();
        EXPECT_TRUE(Asked().empty());
        EXPECT_TRUE(ClientRec.CheckEmedit);
    }
    {
        // OK with a change asks too; Yes applies.
        TFormStart dlg(entries);
        dlg.show();
        dlg.SpinEditInterval->setValue(60);
        prompts.QueueAnswer(mrYes);
        dlg.BtnOK->click();
        EXPECT_EQ(Asked(), Texts{"Save modification?"});
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(TIniFile(RegistryFile()).ReadString(kPostvigilKey, "Interval", ""), "60");
    }
}

TEST_F(SettingsDialog, AutoStartKeepsLoadLineAndAutostartEntryInStep) {
    const std::string me = TFormStart::ProgramPath();
    EXPECT_EQ(fs::path(me).filename(), "Postvigil.exe");
    TFormStart dlg(entries);
    // Declined: neither the profile nor the entry is touched, and the box says so.
    dlg.CBAutoStart->setChecked(true);
    dlg.BtnAply->click();
    EXPECT_EQ(Asked(), Texts{"Assign auto-start for Postvigil?"});
    EXPECT_FALSE(AutoStart);
    EXPECT_FALSE(dlg.CBAutoStart->isChecked());
    EXPECT_FALSE(fs::exists(WinIniFile()));
    EXPECT_FALSE(fs::exists(AutostartEntryFile()));

    // Assigned with no Load line yet: the value starts with a comma; the entry starts us.
    dlg.CBAutoStart->setChecked(true);
    prompts.QueueAnswer(mrYes);
    dlg.BtnAply->click();
    EXPECT_EQ(Asked(), Texts{"Assign auto-start for Postvigil?"});
    EXPECT_TRUE(AutoStart);
    EXPECT_EQ(ReadLoadLine(), "," + me);
    const std::string entry = ReadWholeFile(AutostartEntryFile());
    EXPECT_NE(entry.find("Exec=" + QCoreApplication::applicationFilePath().toStdString()),
              std::string::npos);

    // Removed after another program: the comma before goes with the path; so does the entry.
    ASSERT_TRUE(WriteLoadLine("other.exe," + me));
    dlg.CBAutoStart->setChecked(false);
    prompts.QueueAnswer(mrYes);
    dlg.BtnAply->click();
    EXPECT_EQ(Asked(), Texts{"Remove auto-start for Postvigil?"});
    EXPECT_EQ(ReadLoadLine(), "other.exe");
    EXPECT_FALSE(fs::exists(AutostartEntryFile()));
    EXPECT_EQ(TIniFile(RegistryFile()).ReadString(kPostvigilKey, "AutoStart", ""), "0");

    // Assigned while listed already: the line stays as it is, the entry comes back.
    ASSERT_TRUE(WriteLoadLine(me + ",other.exe"));
    dlg.CBAutoStart->setChecked(true);
    prompts.QueueAnswer(mrYes);
    dlg.BtnAply->click();
    EXPECT_EQ(ReadLoadLine(), me + ",other.exe");
    EXPECT_TRUE(fs::exists(AutostartEntryFile()));
}

TEST_F(SettingsDialog, SettingButtonOpensItAndItsAccountEditorRefillsTheAccount) {
    Account("Dummy", "[ProgSet]\nIniDescript=Home\n[POPClient]\nServer=old.example.org\n"
                     "UserName=ann\nPassword=pw\n");
    std::function<void(TFormStart&)> inSettings = [](TFormStart& s) {
        EXPECT_EQ(s.EditPOPServer->text(), "old.example.org");
        s.SpinEditInterval->setValue(70);
        s.BtnEditAccount->click();
        EXPECT_EQ(s.EditPOPServer->text(), "new.example.org");
        // An edit not applied yet stays, and is still offered for saving.
        EXPECT_EQ(s.SpinEditInterval->value(), 70);
        EXPECT_TRUE(s.BtnAply->isEnabled());
        s.BtnCancel->click();
    };
    TFormMain::ExecModal = [&](QDialog& d) {
        dialogs.push_back(d.windowTitle());
        if (auto* s = qobject_cast<TFormStart*>(&d)) inSettings(*s);
        if (auto* a = qobject_cast<TFormAccount*>(&d)) {
            a->EditServer->setText("new.example.org");
            a->accept();
        }
        return d.result();
    };
    TFormMain w;
    dialogs.clear();
    w.BtnSetting->click();
    EXPECT_EQ(dialogs, (std::vector<QString>{"Setting", "Edit account"}));
    EXPECT_EQ(ClientRec.Server, "new.example.org");
    EXPECT_NE(ClientRec.Interval, 70);
}

TEST_F(SettingsDialog, EveryAccountIsCheckedUntilTheSettingIsTurnedOff) {
    LoadSettings();
    TFormStart dlg(entries);
    EXPECT_EQ(dlg.CBCheckAllAccounts->text(), "Check every account, not only the start-up account");
    EXPECT_EQ(dlg.CBCheckAllAccounts->parentWidget(), dlg.GroupProgram);
    EXPECT_TRUE(dlg.CBCheckAllAccounts->isChecked());
    dlg.CBCheckAllAccounts->setChecked(false);
    dlg.BtnAply->click();
    EXPECT_EQ(TIniFile(RegistryFile()).ReadString(kPostvigilKey, "CheckAllAccounts", ""), "0");
    // Turned on again, it stays written.
    dlg.CBCheckAllAccounts->setChecked(true);
    dlg.BtnAply->click();
    LoadSettings();
    EXPECT_TRUE(CheckAllAccounts);
    EXPECT_EQ(TIniFile(RegistryFile()).ReadString(kPostvigilKey, "CheckAllAccounts", ""), "1");
}
