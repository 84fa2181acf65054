// TFormMain and the security of its connections: whether to trust a certificate the server
// shows that cannot be verified, and whether to sign an OAuth 2.0 account in.
#include "app/MainUnit.h"
#include "base/StrUtils.h"
#include "mailbox/Settings.h"
#include "net/MsTls.h"
#include "platform/Prompts.h"

namespace {
const char* const kTrustCaption = "Server certificate not trusted";
const char* const kTrustQuestion =
    "The server's certificate could not be verified:\n%1\n\n"
    "SHA-256 fingerprint:\n%2\n\n"
    "Somebody between you and the server could read your password and your mail. Trust "
    "this certificate for the account \"%3\" only if you know for certain that it is the "
    "server's own (compare the fingerprint with the one your provider publishes).\n\n"
    "Trust this certificate for this account?";
const char* const kSignInCaption = "Sign in";
const char* const kSignInQuestion =
    "%1\n\nSign in to the account \"%2\" now? Your browser opens at your provider's sign-in "
    "page; Postvigil waits for its answer.";
} // namespace

bool TFormMain::SignIn(const std::string& reason) {
    TPromptRequest request;
    request.Caption = kSignInCaption;
    request.Text = FillPlaces(kSignInQuestion, {reason, ClientRec.IniDescript});
    request.Type = mtConfirmation;
    request.Buttons = mbYes | mbNo;
    request.Default = mbYes;
    return Prompts().Show(request) == mrYes;
}

bool TFormMain::TrustCertificate(const EmsCertificateError& e) {
    TPromptRequest request;
    request.Caption = kTrustCaption;
    request.Text = FillPlaces(kTrustQuestion, {e.Reason, e.Fingerprint, ClientRec.IniDescript});
    request.Type = mtWarning;
    request.Buttons = mbYes | mbNo;
    request.Default = mbNo;
    return Prompts().Show(request) == mrYes;
}
