#include "ext/audio/parser/time_spec.h"

#include <cmath>
#include <limits>
#include <optional>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/numbers.h"

namespace corvala::audio {

namespace {

bool is_term_char(char c) {
    return (c >= '0' && c <= '9') || c == ':' || c == '.' || c == 'e' || c == 's' || c == 't';
}

std::size_t skip_spaces(std::string_view text, std::size_t pos) {
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    return pos;
}

std::string_view without_trailing_t(std::string_view term) {
    if (!term.empty() && term.back() == 't') {
        term.remove_suffix(1);
    }
    return term;
}

// Rounds half up and saturates, so no out-of-range double reaches the integer conversion.
std::uint64_t to_sample_count(double value) {
    if (!(value > 0.0)) {
        return 0;  // also NaN
    }
    double whole = std::floor(value);
    if (value - whole >= 0.5) {  // exact: floor and the difference lose nothing
        whole += 1.0;
    }
    constexpr double two_to_64 = 18446744073709551616.0;
    if (whole >= two_to_64) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(whole);
}

struct Term {
    std::uint64_t samples = 0;
    double seconds = 0.0;
};

std::expected<Term, std::string> read_term(std::string_view term) {
    if (term.find(':') != std::string_view::npos) {
        // Clock time: pieces from the right weigh 1, 60, 3600, and 3600 for any further ones.
        std::string_view rest = without_trailing_t(term);
        double total = 0.0;
        double weight = 1.0;
        while (true) {
            const std::size_t colon = rest.rfind(':');
            const std::string_view piece =
                colon == std::string_view::npos ? rest : rest.substr(colon + 1);
            const std::optional<double> value = read_number(piece);
            if (!value) {
                return std::unexpected(format("invalid time component: {}", piece));
            }
            total += *value * weight;
            if (colon == std::string_view::npos) {
                break;
            }
            rest = rest.substr(0, colon);
            weight = weight == 1.0 ? 60.0 : 3600.0;
        }
        return Term{0, total};
    }
    if (term.back() == 's' &&
        (term.find('.') == std::string_view::npos || term.find('e') != std::string_view::npos)) {
        const std::string_view count = term.substr(0, term.size() - 1);
        const std::optional<double> value = read_number(count);
        if (!value) {
            return std::unexpected(format("invalid sample count: {}", count));
        }
        return Term{to_sample_count(*value), 0.0};
    }
    const std::string_view seconds = without_trailing_t(term);
    const std::optional<double> value = read_number(seconds);
    if (!value) {
        return std::unexpected(format("invalid time value: {}", seconds));
    }
    return Term{0, *value};
}

}  // namespace

std::expected<TimeSpec, std::string> read_time_spec(std::string_view text, char initial_op) {
    TimeSpec total;
    bool subtract = initial_op == '-';
    std::size_t pos = 0;
    while (true) {
        pos = skip_spaces(text, pos);
        if (pos == text.size()) {
            return total;
        }
        const std::size_t start = pos;
        while (pos < text.size() && is_term_char(text[pos])) {
            ++pos;
        }
        if (pos == start) {
            return std::unexpected(format("invalid character in time spec at pos {}", start));
        }
        const auto term = read_term(text.substr(start, pos - start));
        if (!term) {
            return std::unexpected(term.error());
        }
        if (subtract) {
            total.samples = total.samples > term->samples ? total.samples - term->samples : 0;
            const double seconds = total.seconds - term->seconds;
            // inf - inf gives NaN; a total that is not positive clamps to zero like any other.
            total.seconds = seconds > 0.0 ? seconds : 0.0;
        } else {
            const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - total.samples;
            total.samples =
                term->samples > room ? std::numeric_limits<std::uint64_t>::max()
                                     : total.samples + term->samples;
            total.seconds += term->seconds;
        }

        pos = skip_spaces(text, pos);
        if (pos == text.size()) {
            return total;
        }
        if (text[pos] != '+' && text[pos] != '-') {
            return std::unexpected(format("unexpected character at pos {}", pos));
        }
        subtract = text[pos] == '-';
        ++pos;
    }
}

}  // namespace corvala::audio
