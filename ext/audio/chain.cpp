#include "ext/audio/chain.h"

#include <algorithm>
#include <utility>

#include "ext/audio/effects/biquad.h"
#include "ext/audio/effects/level.h"
#include "ext/audio/parser/format.h"

namespace corvala::audio {

namespace {

constexpr std::size_t SCAN_BLOCK = 4096;
constexpr std::uint32_t EXPONENT_MASK = 0x7f800000u;

// Copies [begin, end) and reports whether any copied sample is NaN or infinite. The test on the
// bit pattern keeps the loop branch-free so that it vectorises.
template <bool Contiguous>
bool copy_block(const SampleView<float>& view, float* out, std::size_t begin, std::size_t end) {
    std::uint32_t non_finite = 0;
    for (std::size_t i = begin; i < end; ++i) {
        std::uint32_t bits;
        const std::byte* src = Contiguous ? view.data + i * sizeof(float)
                                          : view.data + static_cast<std::ptrdiff_t>(i) * view.byte_stride;
        std::memcpy(&bits, src, sizeof bits);
        std::memcpy(out + i, &bits, sizeof bits);
        non_finite |= static_cast<std::uint32_t>((bits & EXPONENT_MASK) == EXPONENT_MASK);
    }
    return non_finite != 0;
}

template <bool Contiguous>
std::expected<SampleBuffer<float>, EffectError> copy_finite(const SampleView<float>& view) {
    SampleBuffer<float> out(view.length);
    for (std::size_t begin = 0; begin < view.length; begin += SCAN_BLOCK) {
        const std::size_t end = std::min(view.length, begin + SCAN_BLOCK);
        if (copy_block<Contiguous>(view, out.data(), begin, end)) {
            for (std::size_t i = begin; i < end; ++i) {
                if (std::isnan(out[i])) return std::unexpected(EffectError::nan_at(i));
                if (std::isinf(out[i])) return std::unexpected(EffectError::inf_at(i));
            }
        }
    }
    return out;
}

template <typename T>
std::expected<void, EffectError> not_available(EffectKind kind) {
    return std::unexpected(EffectError::unsupported(std::string(effect_kind_name(kind)),
                                                    format("{} is not available in this build", effect_kind_name(kind)),
                                                    "remove the effect from the chain", {}));
}

template <typename T>
std::expected<void, EffectError> run_effect(const EffectSpec& spec, SampleBuffer<T>& buffer, ChainState& state) {
    using K = EffectKind;
    switch (spec.kind()) {
        case K::gain: effects::gain(spec.get<K::gain>(), buffer, state); return {};
        case K::vol: effects::vol(spec.get<K::vol>(), buffer); return {};
        case K::dcshift: effects::dcshift(spec.get<K::dcshift>(), buffer); return {};
        case K::contrast: effects::contrast(spec.get<K::contrast>(), buffer); return {};
        case K::overdrive: effects::overdrive(spec.get<K::overdrive>(), buffer); return {};
        case K::tremolo: effects::tremolo(spec.get<K::tremolo>(), buffer); return {};
        case K::fade: return effects::fade(spec.get<K::fade>(), buffer);
        case K::reverse: effects::reverse(buffer); return {};
        case K::equalizer: case K::highpass: case K::lowpass: case K::bandpass: case K::bandreject:
        case K::allpass: case K::bass: case K::treble: case K::band:
            effects::biquad(spec, buffer);
            return {};
        default:
            return not_available<T>(spec.kind());
    }
}

template <typename T>
std::expected<SampleBuffer<T>, EffectError> apply_chain(SampleBuffer<T> buffer, EffectList effects) {
    ChainState state;
    for (EffectSpec& spec : effects) {
        if (auto done = run_effect(spec, buffer, state); !done) {
            return std::unexpected(std::move(done.error()));
        }
        spec = EffectSpec{};  // a parsed effect is released once it has run
    }
    return buffer;
}

}  // namespace

std::expected<SampleBuffer<float>, EffectError> copy_finite_samples(SampleView<float> view) {
    return view.contiguous() ? copy_finite<true>(view) : copy_finite<false>(view);
}

SampleBuffer<std::int32_t> copy_samples(SampleView<std::int32_t> view) {
    SampleBuffer<std::int32_t> out(view.length);
    if (view.contiguous()) {
        if (view.length != 0) std::memcpy(out.data(), view.data, view.length * sizeof(std::int32_t));
    } else {
        for (std::size_t i = 0; i < view.length; ++i) out[i] = view[i];
    }
    return out;
}

std::expected<SampleBuffer<float>, EffectError> apply_chain_f32(SampleBuffer<float> buffer, EffectList effects) {
    return apply_chain(std::move(buffer), std::move(effects));
}

std::expected<SampleBuffer<std::int32_t>, EffectError> apply_chain_i32(SampleBuffer<std::int32_t> buffer,
                                                                       EffectList effects) {
    return apply_chain(std::move(buffer), std::move(effects));
}

}  // namespace corvala::audio
