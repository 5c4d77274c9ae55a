// Time expressions: the first byte picks the initial operator, the rest is the expression.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "ext/audio/parser/time_spec.h"
#include "fuzz/fuzz.h"

using namespace corvala;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char op = (data[0] & 1) != 0 ? '-' : '+';
    const auto spec = audio::read_time_spec(fuzz::as_text(data + 1, size - 1), op);
    if (spec) {
        FUZZ_CHECK(!std::isnan(spec->seconds));
    } else {
        FUZZ_CHECK(!spec.error().empty());
    }
    return 0;
}
