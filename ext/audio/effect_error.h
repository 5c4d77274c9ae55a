// The error value of the effect language and the chain runner, and its report texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace corvala::audio {

enum class EffectErrorKind : std::uint8_t {
    parse,         // [EFFECT_PARSE_ERROR]: a value that reads but breaks a range or ordering rule
    arity,         // [ARITY_ERROR]
    flag,          // [FLAG_ERROR]
    unit,          // [UNIT_ERROR]: a token that does not read as what it must be
    unsupported,   // [UNSUPPORTED]
    input,         // [INPUT_ERROR]
    nan_in_input,  // first NaN sample of a float buffer
    inf_in_input,  // first infinite sample of a float buffer
};

// One flat record; which fields a kind renders is fixed by its template (see render()).
struct EffectError {
    EffectErrorKind kind = EffectErrorKind::input;
    std::string effect;
    std::string reason;  // reason; `detail` of unsupported; `message` of input
    std::string hint;
    std::string original;
    std::optional<std::string> token;
    std::optional<std::size_t> index;  // token position of a parse error; sample index of nan/inf

    static EffectError parse(std::optional<std::size_t> index, std::string effect, std::string reason,
                             std::string hint, std::string original, std::optional<std::string> token);
    static EffectError arity(std::string effect, std::string reason, std::string original);
    static EffectError flag(std::string effect, std::string token, std::string reason, std::string original);
    static EffectError unit(std::string effect, std::string token, std::string reason, std::string original);
    static EffectError unsupported(std::string effect, std::string detail, std::string hint,
                                   std::string original);
    static EffectError input(std::string message);
    static EffectError nan_at(std::size_t index);
    static EffectError inf_at(std::size_t index);

    bool operator==(const EffectError&) const = default;
};

// The report text: the message of the Python exception and of validate_effects_chain.
std::string render(const EffectError& error);

}  // namespace corvala::audio
