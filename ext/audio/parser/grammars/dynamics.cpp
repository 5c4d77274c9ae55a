// Grammars of the compander effects.
#include "ext/audio/parser/grammars/grammars.h"

namespace corvala::audio::grammars {

ParseResult compand(const EffectArgs& args) { return not_built(args); }
ParseResult mcompand(const EffectArgs& args) { return not_built(args); }

}  // namespace corvala::audio::grammars
