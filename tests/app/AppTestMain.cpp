// main() of the application tests: the program's own application object, offscreen.
#include "app/Application.h"
#include "dialup/RasConfig.h"
#include "net/Mswsock.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The dial-up service of every test here: a simulated phone book.
    setenv("POSTVIGIL_RAS", "sim:" PV_TEST_DATA_DIR "/app/phonebook.sim", 1);
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // The one socket binding of the process and the dial-up service, as the program entry
    // makes them.
    CreateGlobalWinsock();
    SetRasLoader(ConfiguredRasLoader());
    const int rc = RUN_ALL_TESTS();
    SetRasLoader(nullptr);
    FreeGlobalWinsock();
    return rc;
}
