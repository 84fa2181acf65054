// main() of the mailbox tests: the core application only, as the command line runs.
#include "net/Mswsock.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    CreateGlobalWinsock();
    const int rc = RUN_ALL_TESTS();
    FreeGlobalWinsock();
    return rc;
}
