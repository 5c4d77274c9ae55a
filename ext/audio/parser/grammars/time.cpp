// Grammars of the time and pitch effects.
#include "ext/audio/parser/grammars/grammars.h"

namespace corvala::audio::grammars {

ParseResult pitch(const EffectArgs& args) { return not_built(args); }
ParseResult tempo(const EffectArgs& args) { return not_built(args); }
ParseResult speed(const EffectArgs& args) { return not_built(args); }
ParseResult stretch(const EffectArgs& args) { return not_built(args); }
ParseResult rate(const EffectArgs& args) { return not_built(args); }

}  // namespace corvala::audio::grammars
