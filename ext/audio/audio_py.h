// The `audio` submodule: effect chains.
#pragma once

#include "ext/py/python.h"

namespace corvala::audio {

bool register_audio_module(PyObject* top);

}  // namespace corvala::audio
