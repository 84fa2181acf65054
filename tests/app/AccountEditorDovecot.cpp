// The account editor's "Test connection" against a real Dovecot that offers TLS: what the test
// finds is what the account keeps.
#include "DovecotServer.h"
#include "TestCertificates.h"
#include "app/AccountUnit.h"
#include "mailbox/AccountFiles.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

using pvtest::TDovecotServer;
using pvtest::TTestCertificates;

TEST(AccountEditorDovecot, TestConnectionFindsTheSecurityAndTheAccountKeepsIt) {
    TTestCertificates certificates;
    ASSERT_EQ(certificates.Error(), "");
    ::setenv("SSL_CERT_FILE", certificates.Authority().c_str(), 1);
    TDovecotServer dovecot;
    dovecot.AddUser("alice", "secret");
    dovecot.EnableTls(certificates.Certificate(), certificates.Key());
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    for (const auto& [port, security, shown] :
         {std::tuple{int(dovecot.TlsPort()), "tls", "TLS"},
          std::tuple{int(dovecot.Port()), "starttls", "STLS"}}) {
        SCOPED_TRACE(security);
        TAccountSettings s = NewAccountSettings();
        s.Server = "localhost";
        s.DefPort = port;
        s.UserName = "alice";
        s.Password = "secret";
        s.Timeout = 30;
        TFormAccount f(s, TStringList());
        f.BtnTestClick();
        EXPECT_EQ(f.LabelTest->text().toStdString(), "No messages waiting (" + std::string(shown) +
                                                         " on port " + std::to_string(port) + ")");
        EXPECT_EQ(f.CBSecurity->currentData().toString().toStdString(), security);
        EXPECT_EQ(f.Settings().Security, security);
        EXPECT_EQ(f.Settings().DefPort, port);
    }
    ::unsetenv("SSL_CERT_FILE");
}
