// The main window's test fixture: a fresh program folder and settings, dialogs answered.
#pragma once

#include "ScopedSeam.h"
#include "TempHome.h"
#include "app/FormLogo.h"
#include "app/MainUnit.h"
#include "app/PaWoUnit.h"
#include "mailbox/Settings.h"
#include "platform/Registry.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

struct MainWindowFixture : ::testing::Test {
    pvtest::TTempHome tempHome{"pv-main"};
    fs::path home = tempHome.Path();
    std::vector<QString> dialogs;
    QString typedPassword;
    bool keepShowInfo = true;
    // No announcement leaves the test: a connection to no bus at all.
    pvtest::TScopedValue<decltype(TFormMain::NotifyBus)> notifyBus{
        TFormMain::NotifyBus, [] { return QDBusConnection("pv-test-no-bus"); }};
    // A desktop with a tray, so that minimizing goes to it.
    pvtest::TScopedValue<decltype(TFormMain::TrayAvailable)> trayAvailable{TFormMain::TrayAvailable,
                                                                           [] { return true; }};
    pvtest::TScopedValue<decltype(TFormMain::ExecModal)> execModal{
        TFormMain::ExecModal, [this](QDialog& d) {
            dialogs.push_back(d.windowTitle());
            if (auto* p = qobject_cast<TFormPassword*>(&d)) p->EditPassword->setText(typedPassword);
            if (auto* l = qobject_cast<TLogoForm*>(&d)) l->CBShowInfo->setChecked(keepShowInfo);
            return int(QDialog::Accepted);
        }};

    void SetUp() override {
        InitMainUnit();
        Registry(kPostvigilKey, "ShowInfos", "0");
    }
    void Registry(const char* key, const char* name, const std::string& value) {
        TRegistry reg;
        reg.OpenKey(key, true);
        reg.WriteString(name, value);
    }
    void Account(const std::string& name, const std::string& text) {
        std::ofstream(home / (name + ".Set"), std::ios::binary) << text;
    }
};
