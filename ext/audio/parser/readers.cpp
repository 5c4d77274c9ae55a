#include "ext/audio/parser/readers.h"

#include <string_view>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/numbers.h"

namespace corvala::audio {

std::expected<double, EffectError> read_db(const EffectArgs& args, const std::string& token) {
    if (auto v = read_number(token)) {
        return *v;
    }
    return std::unexpected(args.unit(token, format("Invalid dB value: {}", token)));
}

std::expected<double, EffectError> read_frequency(const EffectArgs& args, const std::string& token) {
    const bool khz = !token.empty() && token.back() == 'k';
    const std::string_view number = khz ? std::string_view(token).substr(0, token.size() - 1) : token;
    if (auto v = read_number(number)) {
        return khz ? *v * 1000.0 : *v;
    }
    return std::unexpected(args.unit(token, format("Invalid numeric value: {}", number)));
}

std::expected<Width, EffectError> read_width(const EffectArgs& args, const std::string& token,
                                             WidthUnit default_unit, std::size_t index) {
    WidthUnit unit = default_unit;
    std::string_view number = token;
    if (!token.empty()) {
        switch (token.back()) {
            case 'h': case 'k': case 'o': case 'q': case 's':
                unit = static_cast<WidthUnit>(token.back());
                number.remove_suffix(1);
                break;
            default:
                break;
        }
    }
    if (auto v = read_number(number)) {
        return Width{*v, unit};
    }
    return std::unexpected(args.parse(index, token, format("invalid unit: {}", token),
                                      format("see effect_help(\"{}\")", args.name())));
}

}  // namespace corvala::audio
