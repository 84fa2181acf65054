// The SASL mechanisms that carry an OAuth 2.0 bearer token: XOAUTH2 and OAUTHBEARER
// (RFC 7628). Only the client's messages are built here; the exchange is the POP3 client's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum TmsSaslMechanism { smNone, smXOAuth2, smOAuthBearer };

// "XOAUTH2", "OAUTHBEARER", "" for none.
const char* SaslMechanismName(TmsSaslMechanism mechanism);

// The token mechanism to use among those a "SASL ..." capability lists (any case), OAUTHBEARER
// when both are offered; smNone when neither is, or there is no SASL line.
TmsSaslMechanism ChooseTokenMechanism(const std::vector<std::string>& capabilities);

// The client's first message, before base64: XOAUTH2 "user=U\x01auth=Bearer T\x01\x01";
// OAUTHBEARER the GS2 header "n,a=U," ("," and "=" in the name escaped as =2C and =3D),
// then "\x01host=H\x01port=P\x01auth=Bearer T\x01\x01".
std::string TokenInitialResponse(TmsSaslMechanism mechanism, std::string_view user,
                                 std::string_view host, int port, std::string_view token);

// What the client answers to the server's error challenge so the server can end the exchange
// with its refusal: an empty line for XOAUTH2, "AQ==" (one 0x01 byte) for OAUTHBEARER.
const char* TokenErrorReply(TmsSaslMechanism mechanism);
