// The main window's test fixture: a fresh program folder and settings, dialogs answered.
#pragma once

#include "app/FormLogo.h"
#include "app/MainUnit.h"
#include "app/PaWoUnit.h"
#include "mailbox/Settings.h"
#include "platform/Registry.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

struct MainWindowFixture : ::testing::Test {
    fs::path home;
    std::vector<QString> dialogs;
    QString typedPassword;
    bool keepShowInfo = true;

    void SetUp() override {
        char tmpl[] = "/tmp/pv-main-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("POSTVIGIL_HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        InitMainUnit();
        Registry(kPostvigilKey, "ShowInfos", "0");
        // No announcement leaves the test: a connection to no bus at all.
        TFormMain::NotifyBus = [] { return QDBusConnection("pv-test-no-bus"); };
        // A desktop with a tray, so that minimizing goes to it.
        TFormMain::TrayAvailable = [] { return true; };
        TFormMain::ExecModal = [this](QDialog& d) {
            dialogs.push_back(d.windowTitle());
            if (auto* p = qobject_cast<TFormPassword*>(&d)) p->EditPassword->setText(typedPassword);
            if (auto* l = qobject_cast<TLogoForm*>(&d)) l->CBShowInfo->setChecked(keepShowInfo);
            return int(QDialog::Accepted);
        };
    }
    void TearDown() override {
        TFormMain::ExecModal = nullptr;
        TFormMain::NotifyBus = nullptr;
        TFormMain::TrayAvailable = nullptr;
        unsetenv("POSTVIGIL_HOME");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_CACHE_HOME");
        fs::remove_all(home);
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
