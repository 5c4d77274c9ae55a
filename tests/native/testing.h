// Registration functions of the test-only module, one per subsystem.
#pragma once

#include "ext/py/python.h"

namespace corvala::testing {}  // namespace corvala::testing
