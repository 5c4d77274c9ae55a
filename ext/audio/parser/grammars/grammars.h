// The argument grammar of every effect name.
#pragma once

#include "ext/audio/parser/grammar.h"

namespace corvala::audio::grammars {

// level.cpp
ParseResult gain(const EffectArgs& args);
ParseResult norm(const EffectArgs& args);
ParseResult vol(const EffectArgs& args);
ParseResult dcshift(const EffectArgs& args);
ParseResult contrast(const EffectArgs& args);
ParseResult overdrive(const EffectArgs& args);
ParseResult tremolo(const EffectArgs& args);
ParseResult fade(const EffectArgs& args);
ParseResult reverse(const EffectArgs& args);

// filters.cpp
ParseResult equalizer(const EffectArgs& args);
ParseResult highpass(const EffectArgs& args);
ParseResult lowpass(const EffectArgs& args);
ParseResult bandpass(const EffectArgs& args);
ParseResult bandreject(const EffectArgs& args);
ParseResult allpass(const EffectArgs& args);
ParseResult bass(const EffectArgs& args);
ParseResult treble(const EffectArgs& args);
ParseResult band(const EffectArgs& args);

// fir.cpp
ParseResult sinc(const EffectArgs& args);
ParseResult hilbert(const EffectArgs& args);
ParseResult loudness(const EffectArgs& args);

// dynamics.cpp
ParseResult compand(const EffectArgs& args);
ParseResult mcompand(const EffectArgs& args);

// modulation.cpp
ParseResult echo(const EffectArgs& args);
ParseResult echos(const EffectArgs& args);
ParseResult chorus(const EffectArgs& args);
ParseResult flanger(const EffectArgs& args);
ParseResult phaser(const EffectArgs& args);
ParseResult reverb(const EffectArgs& args);

// time.cpp
ParseResult pitch(const EffectArgs& args);
ParseResult tempo(const EffectArgs& args);
ParseResult speed(const EffectArgs& args);
ParseResult stretch(const EffectArgs& args);
ParseResult rate(const EffectArgs& args);

// A grammar that is not written yet reports itself as unavailable.
ParseResult not_built(const EffectArgs& args);

}  // namespace corvala::audio::grammars
