// The program's clock lives in base/Clock.h; this name stays for the files that still use it.
#pragma once

#include "base/Clock.h"
