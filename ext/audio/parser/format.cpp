#include "ext/audio/parser/format.h"

namespace corvala::audio::detail {

bool next_placeholder(std::string& out, std::string_view& tmpl, std::string_view& spec) {
    static constexpr std::string_view PLAIN = "{}";
    static constexpr std::string_view FIXED6 = "{:.6}";
    for (std::size_t pos = tmpl.find('{'); pos != std::string_view::npos;
         pos = tmpl.find('{', pos + 1)) {
        const std::string_view rest = tmpl.substr(pos);
        std::size_t length = 0;
        if (rest.starts_with(PLAIN)) {
            length = PLAIN.size();
        } else if (rest.starts_with(FIXED6)) {
            length = FIXED6.size();
        } else {
            continue;  // any other brace is literal text
        }
        out.append(tmpl.substr(0, pos));
        spec = rest.substr(1, length - 2);
        tmpl.remove_prefix(pos + length);
        return true;
    }
    return false;
}

}  // namespace corvala::audio::detail
