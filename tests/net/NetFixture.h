// What every network test needs: the application's event loop, the socket binding and the
// message pump the socket waits run.
#pragma once

#include "FakePop3Server.h"
#include "TestApplication.h"
#include "base/MessagePump.h"
#include "base/Streams.h"
#include "message/msmsg.h"
#include "net/Mspop.h"
#include "net/Mswsock.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <string>
#include <vector>

class TNetTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        pvtest::EnsureApplication();
        CreateGlobalWinsock();
        InstallMessagePump([] { QCoreApplication::processEvents(); });
    }
};

// A POP3 client for user bob with password secret, talking to a scripted server on loopback.
class TPopClientTest : public TNetTest {
protected:
    void SetUp() override {
        client.SetTimeOut(10); // a guard; no test should come near it
        client.SetHost(server.HostAndPort());
        client.SetUserName("bob");
        client.SetPassword("secret");
        client.SetMailMessage(&message);
    }

    // The server's part of a log-in that ends with the given STAT answer, on a server that
    // does not know CAPA.
    void ServeLogin(const std::string& statAnswer) {
        server.Say("+OK POP3 ready").ServeLogin("bob", "secret", "", statAnswer);
    }

    void LogIn(const std::string& statAnswer) {
        ServeLogin(statAnswer);
        client.Login();
    }

    pvtest::TFakePop3Server server;
    TmsPOPClient client;
    TmsMessage message;
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

// A message that keeps the text it is loaded from, exactly as the client hands it over.
class TRecordingMessage : public TmsMessage {
public:
    void LoadFromStream(TStream& stream) override {
        Loads.emplace_back();
        std::string& text = Loads.back();
        text.resize(std::size_t(stream.Size() - stream.Position()));
        stream.ReadBuffer(text.data(), int64_t(text.size()));
    }
    std::vector<std::string> Loads;
};
