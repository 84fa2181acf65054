#include "mailbox/OAuthProviders.h"

#include "base/StrUtils.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char* const kPresetFile = ":/oauth/providers.json";

std::vector<TOAuthPreset> ReadPresets() {
    QFile file(kPresetFile);
    std::vector<TOAuthPreset> presets;
    if (!file.open(QIODevice::ReadOnly)) return presets;
    const QJsonArray list =
        QJsonDocument::fromJson(file.readAll()).object().value("providers").toArray();
    for (const QJsonValue& value : list) {
        const QJsonObject o = value.toObject();
        auto text = [&o](const char* key) { return o.value(key).toString().toStdString(); };
        presets.push_back({text("id"), text("name"), text("server"), o.value("port").toInt(),
                           text("security"), text("authorizationUrl"), text("tokenUrl"),
                           text("scopes")});
    }
    return presets;
}
} // namespace

const std::vector<TOAuthPreset>& OAuthPresets() {
    static const std::vector<TOAuthPreset> presets = ReadPresets();
    return presets;
}

const TOAuthPreset* FindOAuthPreset(const std::string& id) {
    for (const TOAuthPreset& preset : OAuthPresets())
        if (SameText(preset.Id, id)) return &preset;
    return nullptr;
}
