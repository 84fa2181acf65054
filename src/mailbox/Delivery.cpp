#include "mailbox/Delivery.h"

#include "base/StrUtils.h"

#include <cstdlib>

namespace {
const char* const kUnknownTarget =
    "Unknown delivery target \"%1\": use maildir:FOLDER, mbox:FILE, mda:COMMAND or files";

std::string WithHome(std::string_view path) {
    const char* home = std::getenv("HOME");
    if (path.substr(0, 2) != "~/" || !home || !*home) return std::string(path);
    return std::string(home) + std::string(path.substr(1));
}

} // namespace

std::string CheckDeliveryTarget(std::string_view description) {
    try {
        MakeDeliveryTarget(description, 1);
        return "";
    } catch (const EDeliveryFailed& e) {
        return e.Message;
    }
}

std::unique_ptr<TDeliveryTarget> MakeDeliveryTarget(std::string_view description,
                                                    int timeoutSeconds) {
    const std::size_t colon = description.find(':');
    const std::string_view kind = description.substr(0, colon);
    const std::string_view rest =
        colon == std::string_view::npos ? std::string_view() : description.substr(colon + 1);
    if (description.empty() || description == "files") return nullptr;
    if (!rest.empty() && kind == "maildir") return MaildirTarget(WithHome(rest));
    if (!rest.empty() && kind == "mbox") return MboxTarget(WithHome(rest));
    if (!rest.empty() && kind == "mda")
        return ProgramTarget(std::string(rest), timeoutSeconds * 1000);
    throw EDeliveryFailed(FillPlaces(kUnknownTarget, {std::string(description)}));
}
