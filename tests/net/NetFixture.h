// What every network test needs: the application's event loop, the socket binding and the
// message pump the socket waits run.
#pragma once

#include "TestApplication.h"
#include "base/MessagePump.h"
#include "net/Mswsock.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <string>

class TNetTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        pvtest::EnsureApplication();
        CreateGlobalWinsock();
        InstallMessagePump([] { QCoreApplication::processEvents(); });
    }
};

// Runs f and returns the message of the exception it raises as E ("" when it raises none).
template <class E, class F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message;
    }
    return {};
}
