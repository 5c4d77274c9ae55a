// Grammars of the delay, modulation and reverb effects.
#include "ext/audio/parser/grammars/grammars.h"

namespace corvala::audio::grammars {

ParseResult echo(const EffectArgs& args) { return not_built(args); }
ParseResult echos(const EffectArgs& args) { return not_built(args); }
ParseResult chorus(const EffectArgs& args) { return not_built(args); }
ParseResult flanger(const EffectArgs& args) { return not_built(args); }
ParseResult phaser(const EffectArgs& args) { return not_built(args); }
ParseResult reverb(const EffectArgs& args) { return not_built(args); }

}  // namespace corvala::audio::grammars
