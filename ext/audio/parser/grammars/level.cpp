// Grammars of the level and simple effects.
#include <string>

#include "ext/audio/parser/format.h"
#include "ext/audio/parser/grammars/grammars.h"
#include "ext/audio/parser/readers.h"

namespace corvala::audio::grammars {

namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

std::string gain_text(const GainParams& p) {
    std::string text = "gain";
    if (p.normalize) text += " -n";
    if (p.limiter) text += " -l";
    if (p.headroom) text += " -h";
    if (p.reclaim) text += " -r";
    return text + format(" {:.6}", p.gain_db);
}

}  // namespace

ParseResult gain(const EffectArgs& args) {
    GainParams p;
    for (std::size_t k = 1; k <= args.size(); ++k) {
        const std::string& arg = args[k];
        // -3 is a number; -.5 and -x are flag groups.
        if (arg.size() > 1 && arg[0] == '-' && !is_ascii_digit(arg[1])) {
            for (std::size_t i = 1; i < arg.size(); ++i) {
                switch (arg[i]) {
                    case 'h': p.headroom = true; break;
                    case 'l': p.limiter = true; break;
                    case 'n': p.normalize = true; break;
                    case 'r': p.reclaim = true; break;
                    default: {
                        // Report the whole offending character, not one byte of it.
                        std::size_t len = 1;
                        while (i + len < arg.size() && (static_cast<unsigned char>(arg[i + len]) & 0xC0) == 0x80) {
                            ++len;
                        }
                        return std::unexpected(
                            args.flag(arg, format("Unknown gain flag: -{}", std::string_view(arg).substr(i, len))));
                    }
                }
            }
            continue;
        }
        auto value = read_db(args, arg);
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        p.gain_db = *value;
    }
    if (p.normalize && p.reclaim) {
        return std::unexpected(args.flag("-n/-r", "only one of -n, -r may be given"));
    }
    if (p.limiter && p.headroom) {
        return std::unexpected(args.flag("-l/-h", "only one of -l, -h may be given"));
    }
    std::string text = gain_text(p);
    return ParsedEffect{EffectSpec::make<EffectKind::gain>(p), std::move(text)};
}

ParseResult norm(const EffectArgs& args) {
    if (args.size() > 1) {
        return std::unexpected(args.arity("norm takes at most one argument"));
    }
    GainParams p;
    p.normalize = true;
    if (args.size() == 1) {
        auto level = read_db(args, args[1]);
        if (!level) {
            return std::unexpected(std::move(level.error()));
        }
        p.gain_db = *level;
    }
    return ParsedEffect{EffectSpec::make<EffectKind::gain>(p), format("gain -n {:.6}", p.gain_db)};
}


ParseResult vol(const EffectArgs& args) { return not_built(args); }
ParseResult dcshift(const EffectArgs& args) { return not_built(args); }
ParseResult contrast(const EffectArgs& args) { return not_built(args); }
ParseResult overdrive(const EffectArgs& args) { return not_built(args); }
ParseResult tremolo(const EffectArgs& args) { return not_built(args); }
ParseResult fade(const EffectArgs& args) { return not_built(args); }
ParseResult reverse(const EffectArgs& args) { return not_built(args); }

}  // namespace corvala::audio::grammars
