// Token readers shared by the grammars. Each reports failures as an error of the effect.
#pragma once

#include <expected>
#include <string>

#include "ext/audio/effect_spec.h"
#include "ext/audio/parser/grammar.h"

namespace corvala::audio {

// The whole token as a number, no unit suffix.
std::expected<double, EffectError> read_db(const EffectArgs& args, const std::string& token);
// Hz, or kHz with a trailing lower-case k.
std::expected<double, EffectError> read_frequency(const EffectArgs& args, const std::string& token);
// A number with an optional unit letter h, k, o, q or s; `default_unit` otherwise. `index` is the
// token position reported when the number does not read.
std::expected<Width, EffectError> read_width(const EffectArgs& args, const std::string& token,
                                             WidthUnit default_unit, std::size_t index);

}  // namespace corvala::audio
