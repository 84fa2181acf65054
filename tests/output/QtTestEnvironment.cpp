// One application object for every test of this program, on the offscreen platform, in
// German and in UTC so dates print the same everywhere.
#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace {
class TQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        FApp = std::make_unique<QApplication>(FArgc, FArgv);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    void TearDown() override { FApp.reset(); }

private:
    int FArgc = 1;
    char FName[13] = "output_tests";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QApplication> FApp;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);
} // namespace
