// What every effect grammar works with: the tokens after the name, and builders for the errors
// of the effect, which carry its name and the whole original string.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ext/audio/effect_error.h"
#include "ext/audio/effect_spec.h"

namespace corvala::audio {

struct ParsedEffect {
    EffectSpec spec;
    std::string canonical;
};

using ParseResult = std::expected<ParsedEffect, EffectError>;

class EffectArgs {
public:
    // `tokens` are all tokens of the string, the effect name at position 0.
    EffectArgs(std::string_view name, std::span<const std::string> tokens, std::string_view original)
        : name_(name), tokens_(tokens), original_(original) {}

    std::string_view name() const { return name_; }
    std::string_view original() const { return original_; }
    // Number of arguments after the name.
    std::size_t size() const { return tokens_.size() - 1; }
    bool empty() const { return size() == 0; }
    // Argument k, counted from 1 (its token position).
    const std::string& operator[](std::size_t k) const { return tokens_[k]; }

    EffectError arity(std::string reason) const;
    EffectError flag(std::string token, std::string reason) const;
    EffectError unit(std::string token, std::string reason) const;
    EffectError parse(std::optional<std::size_t> index, std::optional<std::string> token, std::string reason,
                      std::string hint) const;
    EffectError unsupported(std::string detail, std::string hint) const;

private:
    std::string_view name_;
    std::span<const std::string> tokens_;
    std::string_view original_;
};

using Grammar = ParseResult (*)(const EffectArgs&);

}  // namespace corvala::audio
