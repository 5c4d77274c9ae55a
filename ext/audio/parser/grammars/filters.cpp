// Grammars of the biquad filter effects.
#include "ext/audio/parser/grammars/grammars.h"

namespace corvala::audio::grammars {

ParseResult equalizer(const EffectArgs& args) { return not_built(args); }
ParseResult highpass(const EffectArgs& args) { return not_built(args); }
ParseResult lowpass(const EffectArgs& args) { return not_built(args); }
ParseResult bandpass(const EffectArgs& args) { return not_built(args); }
ParseResult bandreject(const EffectArgs& args) { return not_built(args); }
ParseResult allpass(const EffectArgs& args) { return not_built(args); }
ParseResult bass(const EffectArgs& args) { return not_built(args); }
ParseResult treble(const EffectArgs& args) { return not_built(args); }
ParseResult band(const EffectArgs& args) { return not_built(args); }

}  // namespace corvala::audio::grammars
