// The argument grammar of every effect name.
#pragma once

#include "ext/audio/parser/grammar.h"

namespace corvala::audio::grammars {

ParseResult gain(const EffectArgs& args);
ParseResult norm(const EffectArgs& args);

}  // namespace corvala::audio::grammars
