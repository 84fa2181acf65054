#include "NetFixture.h"
