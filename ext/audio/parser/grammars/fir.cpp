// Grammars of the FIR design effects.
#include "ext/audio/parser/grammars/grammars.h"

namespace corvala::audio::grammars {

ParseResult sinc(const EffectArgs& args) { return not_built(args); }
ParseResult hilbert(const EffectArgs& args) { return not_built(args); }
ParseResult loudness(const EffectArgs& args) { return not_built(args); }

}  // namespace corvala::audio::grammars
