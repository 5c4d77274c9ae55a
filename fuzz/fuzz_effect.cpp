// The effect language: every line of the input is one effect string of a chain. Each string is
// parsed on its own and its error rendered; the chain parser must agree with the single parses.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ext/audio/parser/parse.h"
#include "fuzz/fuzz.h"

using namespace corvala;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::as_text(data, size);
    std::vector<std::string> chain;
    for (std::size_t start = 0;;) {
        const std::size_t end = input.find('\n', start);
        chain.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    std::optional<audio::EffectError> first_error;
    for (const std::string& text : chain) {
        auto parsed = audio::parse_effect(text);
        if (parsed) {
            FUZZ_CHECK(!parsed->canonical.empty());
        } else {
            FUZZ_CHECK(!audio::render(parsed.error()).empty());
            if (!first_error) first_error = parsed.error();
        }
    }
    const auto effects = audio::parse_effect_chain(chain);
    FUZZ_CHECK(effects.has_value() == !first_error.has_value());
    if (effects) {
        FUZZ_CHECK(effects->size() == chain.size());
    } else {
        FUZZ_CHECK(effects.error() == *first_error);
    }
    return 0;
}
