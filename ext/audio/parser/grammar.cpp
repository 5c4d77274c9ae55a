#include "ext/audio/parser/grammar.h"

#include <utility>

namespace corvala::audio {

EffectError EffectArgs::arity(std::string reason) const {
    return EffectError::arity(std::string(name_), std::move(reason), std::string(original_));
}

EffectError EffectArgs::flag(std::string token, std::string reason) const {
    return EffectError::flag(std::string(name_), std::move(token), std::move(reason), std::string(original_));
}

EffectError EffectArgs::unit(std::string token, std::string reason) const {
    return EffectError::unit(std::string(name_), std::move(token), std::move(reason), std::string(original_));
}

EffectError EffectArgs::parse(std::optional<std::size_t> index, std::optional<std::string> token,
                              std::string reason, std::string hint) const {
    return EffectError::parse(index, std::string(name_), std::move(reason), std::move(hint),
                              std::string(original_), std::move(token));
}

EffectError EffectArgs::unsupported(std::string detail, std::string hint) const {
    return EffectError::unsupported(std::string(name_), std::move(detail), std::move(hint),
                                    std::string(original_));
}

}  // namespace corvala::audio
