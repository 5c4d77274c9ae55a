// Parsing effect strings and chains into the effect model.
#pragma once

#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "ext/audio/effect_error.h"
#include "ext/audio/effect_spec.h"
#include "ext/audio/parser/grammar.h"

namespace corvala::audio {

// One effect string: tokenize, resolve the name, run the effect's grammar.
ParseResult parse_effect(std::string_view text);

// A whole chain, in order; the first failing string's error is the result.
std::expected<EffectList, EffectError> parse_effect_chain(std::span<const std::string> chain);

}  // namespace corvala::audio
