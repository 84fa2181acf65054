#include "dialup/RasConfig.h"

#include "dialup/RasEmpty.h"
#include "dialup/RasNetworkManager.h"
#include "dialup/RasSimulator.h"

#include "base/Exceptions.h"

#include <QCoreApplication>
#include <QtDebug>

#include <cstdlib>

namespace {
const char kNone[] = "none";
const char kSimPrefix[] = "sim:";
const char kRasLibraryName[] = "rasapi32.dll";

// Qt objects of a provider must go while the application still exists.
void UnloadAtQtExit() {
    static bool registered = false;
    if (registered || !QCoreApplication::instance()) return;
    qAddPostRoutine(UnloadRas);
    registered = true;
}
} // namespace

std::shared_ptr<TRasLibrary> CreateConfiguredRas(std::string_view setting,
                                                 const QDBusConnection& bus) {
    if (setting == kNone) return nullptr;
    if (setting.starts_with(kSimPrefix)) {
        const std::string file(setting.substr(sizeof(kSimPrefix) - 1));
        try {
            UnloadAtQtExit();
            return std::make_shared<TRasSimulator>(ReadRasSimScript(file));
        } catch (const Exception& e) {
            qWarning("%s: %s", kRasEnvironment, e.Message.c_str());
            return nullptr;
        }
    }
    if (!setting.empty())
        qWarning("%s: unknown value \"%.*s\", using the system's connections", kRasEnvironment,
                 int(setting.size()), setting.data());
    UnloadAtQtExit();
    if (std::shared_ptr<TRasNetworkManager> nm = TRasNetworkManager::Create(bus)) return nm;
    return std::make_shared<TRasEmpty>();
}

TRasLoader ConfiguredRasLoader() {
    // Decided once: a provider that could not be had stays missing. The binding owns the
    // provider; once it has been unloaded, the next load makes a new one.
    return [failed = false, provider = std::weak_ptr<TRasLibrary>()](
               const std::string& fileName) mutable -> std::shared_ptr<TRasLibrary> {
        if (fileName != kRasLibraryName || failed) return nullptr;
        if (std::shared_ptr<TRasLibrary> loaded = provider.lock()) return loaded;
        const char* setting = std::getenv(kRasEnvironment);
        std::shared_ptr<TRasLibrary> loaded =
            CreateConfiguredRas(setting ? setting : "", QDBusConnection::systemBus());
        failed = !loaded;
        provider = loaded;
        return loaded;
    };
}
