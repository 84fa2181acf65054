#include "net/MsSasl.h"

#include "base/StrUtils.h"

namespace {
const char* const kSasl = "SASL";
const char* const kXOAuth2 = "XOAUTH2";
const char* const kOAuthBearer = "OAUTHBEARER";
const char* const kBearer = "auth=Bearer ";
constexpr char kSeparator = '\x01';

// A name in the GS2 header: "," and "=" would end or open a field.
std::string Gs2Name(std::string_view user) {
    std::string out;
    for (char c : user) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}
} // namespace

const char* SaslMechanismName(TmsSaslMechanism mechanism) {
    switch (mechanism) {
    case smXOAuth2:
        return kXOAuth2;
    case smOAuthBearer:
        return kOAuthBearer;
    default:
        return "";
    }
}

TmsSaslMechanism ChooseTokenMechanism(const std::vector<std::string>& capabilities) {
    bool xoauth2 = false;
    bool bearer = false;
    for (const std::string& capability : capabilities) {
        std::string_view rest(capability);
        const std::size_t blank = rest.find(' ');
        if (blank == std::string_view::npos || !SameText(rest.substr(0, blank), kSasl)) continue;
        rest.remove_prefix(blank + 1);
        while (!rest.empty()) {
            const std::size_t end = rest.find(' ');
            const std::string_view name = rest.substr(0, end);
            xoauth2 = xoauth2 || SameText(name, kXOAuth2);
            bearer = bearer || SameText(name, kOAuthBearer);
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
    }
    return bearer ? smOAuthBearer : xoauth2 ? smXOAuth2 : smNone;
}

std::string TokenInitialResponse(TmsSaslMechanism mechanism, std::string_view user,
                                 std::string_view host, int port, std::string_view token) {
    std::string out;
    if (mechanism == smXOAuth2) {
        out.append("user=").append(user) += kSeparator;
    } else {
        out.append("n,a=").append(Gs2Name(user)).append(",") += kSeparator;
        out.append("host=").append(host) += kSeparator;
        out.append("port=").append(std::to_string(port)) += kSeparator;
    }
    out.append(kBearer).append(token) += kSeparator;
    out += kSeparator;
    return out;
}

const char* TokenErrorReply(TmsSaslMechanism mechanism) {
    return mechanism == smOAuthBearer ? "AQ==" : "";
}
