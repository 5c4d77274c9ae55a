#include "ext/audio/effect_error.h"

#include <utility>

#include "ext/audio/parser/format.h"

namespace corvala::audio {

EffectError EffectError::parse(std::optional<std::size_t> index, std::string effect, std::string reason,
                               std::string hint, std::string original, std::optional<std::string> token) {
    return {EffectErrorKind::parse, std::move(effect), std::move(reason), std::move(hint),
            std::move(original), std::move(token), index};
}

EffectError EffectError::arity(std::string effect, std::string reason, std::string original) {
    return {EffectErrorKind::arity, std::move(effect), std::move(reason), {}, std::move(original), {}, {}};
}

EffectError EffectError::flag(std::string effect, std::string token, std::string reason, std::string original) {
    return {EffectErrorKind::flag, std::move(effect), std::move(reason), {}, std::move(original),
            std::move(token), {}};
}

EffectError EffectError::unit(std::string effect, std::string token, std::string reason, std::string original) {
    return {EffectErrorKind::unit, std::move(effect), std::move(reason), {}, std::move(original),
            std::move(token), {}};
}

EffectError EffectError::unsupported(std::string effect, std::string detail, std::string hint,
                                     std::string original) {
    return {EffectErrorKind::unsupported, std::move(effect), std::move(detail), std::move(hint),
            std::move(original), {}, {}};
}

EffectError EffectError::input(std::string message) {
    return {EffectErrorKind::input, {}, std::move(message), {}, {}, {}, {}};
}

EffectError EffectError::nan_at(std::size_t index) {
    return {EffectErrorKind::nan_in_input, {}, {}, {}, {}, {}, index};
}

EffectError EffectError::inf_at(std::size_t index) {
    return {EffectErrorKind::inf_in_input, {}, {}, {}, {}, {}, index};
}

std::string render(const EffectError& e) {
    const std::string& token = e.token ? *e.token : std::string();
    switch (e.kind) {
        case EffectErrorKind::parse: {
            std::string index = e.index ? format(" index={}", *e.index) : std::string();
            std::string tok = e.token ? format(" token='{}'", *e.token) : std::string();
            return format("[EFFECT_PARSE_ERROR] effect='{}'{}{} reason='{}' hint='{}' original='{}'",
                          e.effect, index, tok, e.reason, e.hint, e.original);
        }
        case EffectErrorKind::arity:
            return format("[ARITY_ERROR] effect='{}' reason='{}' original='{}'", e.effect, e.reason, e.original);
        case EffectErrorKind::flag:
            return format("[FLAG_ERROR] effect='{}' token='{}' reason='{}' original='{}'", e.effect, token,
                          e.reason, e.original);
        case EffectErrorKind::unit:
            return format("[UNIT_ERROR] effect='{}' token='{}' reason='{}' original='{}'", e.effect, token,
                          e.reason, e.original);
        case EffectErrorKind::unsupported:
            return format("[UNSUPPORTED] effect='{}' detail='{}' hint='{}' original='{}'", e.effect, e.reason,
                          e.hint, e.original);
        case EffectErrorKind::input:
            return format("[INPUT_ERROR] {}", e.reason);
        case EffectErrorKind::nan_in_input:
            return format("NaN detected at index {}", e.index.value_or(0));
        case EffectErrorKind::inf_in_input:
            return format("Inf detected at index {}", e.index.value_or(0));
    }
    return {};
}

}  // namespace corvala::audio
