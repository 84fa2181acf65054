#include "platform/Registry.h"

#include "platform/Paths.h"

namespace {
std::string Normalised(std::string_view keyPath) {
    std::string k(keyPath);
    while (!k.empty() && k.front() == '\\') k.erase(0, 1);
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return k;
}
} // namespace

TRegistry::TRegistry() : TRegistry(RegistryFile()) {}

TRegistry::TRegistry(std::string hiveFile)
    : FHive(std::make_unique<TIniFile>(std::move(hiveFile))) {}

bool TRegistry::KeyExists(std::string_view keyPath) const {
    return FHive->SectionExists(Normalised(keyPath));
}

bool TRegistry::OpenKey(std::string_view keyPath, bool canCreate) {
    const std::string key = Normalised(keyPath);
    if (!canCreate && !FHive->SectionExists(key)) return false;
    FKey = key;
    return true;
}

bool TRegistry::ValueExists(std::string_view name) const {
    return !FKey.empty() && FHive->ValueExists(FKey, name);
}

std::string TRegistry::ReadString(std::string_view name, std::string_view def) const {
    return FKey.empty() ? std::string(def) : FHive->ReadString(FKey, name, def);
}

int TRegistry::ReadInteger(std::string_view name, int def) const {
    return FKey.empty() ? def : FHive->ReadInteger(FKey, name, def);
}

bool TRegistry::ReadBool(std::string_view name, bool def) const {
    return FKey.empty() ? def : FHive->ReadBool(FKey, name, def);
}

bool TRegistry::WriteString(std::string_view name, std::string_view value) {
    return !FKey.empty() && FHive->WriteString(FKey, name, value);
}

bool TRegistry::WriteInteger(std::string_view name, int value) {
    return WriteString(name, std::to_string(value));
}

bool TRegistry::WriteBool(std::string_view name, bool value) {
    return WriteString(name, value ? "1" : "0");
}

bool TRegistry::DeleteValue(std::string_view name) {
    return !FKey.empty() && FHive->DeleteKey(FKey, name);
}

void TRegistry::GetValueNames(TStringList& names) const {
    names.Clear();
    if (!FKey.empty()) FHive->ReadSection(FKey, names);
}
