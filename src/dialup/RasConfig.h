// Which RAS provider answers for "rasapi32.dll", chosen once at the first look-up from the
// environment variable POSTVIGIL_RAS:
//   sim:FILE   the simulator, playing the script FILE (RasSimScript.h)
//   none       no RAS at all: every operation that needs it fails as on a system without it
//   (unset)    NetworkManager when it answers on the system bus, else an empty phone book
#pragma once

#include "dialup/RasBinding.h"

#include <QDBusConnection>

#include <memory>
#include <string_view>

inline constexpr char kRasEnvironment[] = "POSTVIGIL_RAS";

// The provider for a POSTVIGIL_RAS value; nullptr when none is to be loaded (writes the
// reason to the log when the value asked for one that cannot be had).
std::shared_ptr<TRasLibrary> CreateConfiguredRas(std::string_view setting,
                                                 const QDBusConnection& bus);

// The program's loader: "rasapi32.dll" is the configured provider (decided on its first
// load and kept), and there is no "rnaph.dll".
TRasLoader ConfiguredRasLoader();
