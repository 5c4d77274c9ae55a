// The SQLite URI of a database path: "file:", the path as UTF-8 with the four URI delimiters
// escaped, "?immutable=1". Undoing the escapes must give back the path's UTF-8 form.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "ext/kernel/store.h"
#include "ext/kernel/utf8.h"
#include "fuzz/fuzz.h"

using namespace corvala;

namespace {

constexpr std::string_view PREFIX = "file:";
constexpr std::string_view SUFFIX = "?immutable=1";

// Undoes the four escapes; any other '%' is a finding.
std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '#' || c == '?') return std::nullopt;
        if (c != '%') {
            out += c;
            continue;
        }
        const std::string_view code = text.substr(i + 1, 2);
        if (code == "20") out += ' ';
        else if (code == "23") out += '#';
        else if (code == "25") out += '%';
        else if (code == "3f") out += '?';
        else return std::nullopt;
        i += 2;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path = fuzz::as_text(data, size);
    const std::string text = kernel::to_utf8_lossy(path);
    FUZZ_CHECK(kernel::is_valid_utf8(text));
    FUZZ_CHECK(kernel::is_valid_utf8(path) == (text == path));

    const std::string uri = kernel::plan_digest_uri(path);
    FUZZ_CHECK(kernel::is_valid_utf8(uri));
    FUZZ_CHECK(uri.starts_with(PREFIX) && uri.ends_with(SUFFIX));
    std::string_view body(uri);
    body.remove_prefix(PREFIX.size());
    body.remove_suffix(SUFFIX.size());
    // A path that starts with "//" gets an empty authority in front, so that no host is read.
    if (text.starts_with("//")) {
        FUZZ_CHECK(body.starts_with("////"));
        body.remove_prefix(2);
    } else {
        FUZZ_CHECK(!body.starts_with("//"));
    }
    const auto decoded = unescape(body);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(*decoded == text);
    return 0;
}
