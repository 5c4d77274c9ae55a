#include "ext/kernel/realize.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "audiolib/raw_read_audio.h"
#include "audiolib/resample.h"
#include "ext/audio/chain.h"
#include "ext/audio/parser/format.h"
#include "ext/audio/parser/parse.h"
#include "ext/kernel/data_io.h"

namespace corvala::kernel {

namespace {

static_assert(std::endian::native == std::endian::little, "artifact payloads are read as little-endian");

using audio::format;
using audio::SampleBuffer;

constexpr std::string_view IR_EFFECTS_MESSAGE =
    "kernel realization does not support IR effects (ADR-0024 scope); realize this mixture with the reference "
    "implementation";
constexpr std::string_view ARTIFACT_NAME = "mixture";
constexpr std::string_view VALUE_TENSOR = "__value__";

KernelError effect_failure(const audio::EffectError& error) { return KernelError::value(audio::render(error)); }

// The effect chain as realization applies it: impulse-response effects are refused before
// anything runs, then the buffer is checked and the chain parsed and run on a copy.
std::expected<SampleBuffer<float>, KernelError> apply_chain(const std::vector<std::string>& effects,
                                                            const SampleBuffer<float>& input) {
    for (const std::string& effect : effects) {
        if (effect.starts_with("ir ")) return std::unexpected(KernelError::not_implemented(std::string(IR_EFFECTS_MESSAGE)));
    }
    auto copy = audio::copy_finite_samples(
        {reinterpret_cast<const std::byte*>(input.data()), input.size(), sizeof(float)});
    if (!copy) return std::unexpected(effect_failure(copy.error()));
    auto parsed = audio::parse_effect_chain(effects);
    if (!parsed) return std::unexpected(effect_failure(parsed.error()));
    auto out = audio::apply_chain_f32(std::move(*copy), std::move(*parsed));
    if (!out) return std::unexpected(effect_failure(out.error()));
    return std::move(*out);
}

std::expected<SampleBuffer<float>, KernelError> apply_pre_post(const SampleBuffer<float>& input, const PlanSource& source,
                                                               bool pre, bool post) {
    const bool run_pre = pre && !source.pre_effects.empty();
    const bool run_post = post && !source.post_effects.empty();
    if (!run_pre && !run_post) return input;
    if (!run_pre) return apply_chain(source.post_effects, input);
    auto x = apply_chain(source.pre_effects, input);
    if (!x || !run_post) return x;
    return apply_chain(source.post_effects, *x);
}

// Cuts, loops or pads `x` to exactly n samples from `start`.
SampleBuffer<float> fit(const SampleBuffer<float>& x, std::size_t n, std::int64_t start, bool loop) {
    SampleBuffer<float> out(n, 0.0f);
    const std::size_t L = x.size();
    if (n == 0 || L == 0) return out;
    if (loop) {
        const auto length = static_cast<std::int64_t>(L);
        std::size_t a = static_cast<std::size_t>(((start % length) + length) % length);
        for (std::size_t i = 0; i < n;) {
            const std::size_t run = std::min(n - i, L - a);
            std::copy_n(x.data() + a, run, out.data() + i);
            i += run;
            a = 0;
        }
        return out;
    }
    const auto first = static_cast<std::uint64_t>(start);  // a negative start counts as too large
    if (first >= L) return out;
    const std::size_t count = std::min<std::uint64_t>(L - first, n);
    std::copy_n(x.data() + first, count, out.data());
    return out;
}

SampleBuffer<float> floats_of(std::span<const std::byte> bytes) {
    SampleBuffer<float> out(bytes.size() / sizeof(float));
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    return out;
}

std::span<const std::byte> bytes_of(const SampleBuffer<float>& samples) {
    return std::as_bytes(std::span<const float>(samples.data(), samples.size()));
}

class Realizer {
public:
    Realizer(Session& session, HostBridge& host, std::uint64_t m_id, bool force, bool cache)
        : session_(session), host_(host), m_id_(m_id), plan_(session.plan.mixtures[m_id]), force_(force),
          cache_(cache) {}

    std::expected<void, KernelError> node(RealizedNode node) {
        switch (node) {
            case RealizedNode::sources: return sources();
            case RealizedNode::gains: return gains();
            case RealizedNode::source: return source();
            case RealizedNode::noise: return noise();
            case RealizedNode::mixture_audio: return mixture_audio();
            default:
                return std::unexpected(KernelError::not_implemented(
                    format("node '{}' is not available in this build", node_name(node))));
        }
    }

    Realized take() { return std::move(memo_); }

private:
    // --- artifacts ---

    std::expected<std::optional<ArtifactHit>, KernelError> read(std::string_view item) {
        if (force_) return std::optional<ArtifactHit>();
        return read_artifact(session_.plan.artifacts, ARTIFACT_NAME, plan_.name, item);
    }

    std::expected<void, KernelError> write(std::string_view item, std::span<const TensorData> tensors) {
        if (!cache_) return {};
        return write_artifact(session_.plan.artifacts, ARTIFACT_NAME, plan_.name, item, tensors, {});
    }

    // One float32 tensor named "__value__", or a miss.
    std::expected<std::optional<SampleBuffer<float>>, KernelError> read_value(std::string_view item) {
        auto hit = read(item);
        if (!hit) return std::unexpected(std::move(hit.error()));
        if (!*hit || (*hit)->tensors().size() != 1 || (*hit)->tensors()[0].name != VALUE_TENSOR) {
            return std::optional<SampleBuffer<float>>();
        }
        return std::optional(floats_of((*hit)->data((*hit)->tensors()[0])));
    }

    std::expected<void, KernelError> write_value(std::string_view item, const SampleBuffer<float>& value) {
        const std::uint64_t shape[1] = {value.size()};
        const TensorData tensor{VALUE_TENSOR, Dtype::F32, shape, bytes_of(value)};
        return write(item, std::span(&tensor, 1));
    }

    // Realizes a single-array node through its artifact.
    template <typename Compute>
    std::expected<void, KernelError> value_node(std::optional<SampleBuffer<float>>& slot, std::string_view item,
                                                Compute compute) {
        if (slot) return {};
        auto hit = read_value(item);
        if (!hit) return std::unexpected(std::move(hit.error()));
        if (*hit) {
            slot = std::move(**hit);
            return {};
        }
        auto value = compute();
        if (!value) return std::unexpected(std::move(value.error()));
        if (auto written = write_value(item, *value); !written) return written;
        slot = std::move(*value);
        return {};
    }

    // --- nodes ---

    std::expected<void, KernelError> sources() {
        if (memo_.sources) return {};
        auto hit = read("sources");
        if (!hit) return std::unexpected(std::move(hit.error()));
        if (*hit) {
            SourcesValue value;
            for (const TensorEntry& tensor : (*hit)->tensors()) {
                value.emplace_back(tensor.name, floats_of((*hit)->data(tensor)));
            }
            memo_.sources = std::move(value);
            return {};
        }
        SourcesValue value;
        for (const PlanSource& s : plan_.sources) {
            auto audio = session_.cache.get(s.file_id, session_.plan.source_paths, load_source_audio);
            if (!audio) return std::unexpected(std::move(audio.error()));
            auto x = apply_pre_post(**audio, s, true, false);
            if (!x) return std::unexpected(std::move(x.error()));
            if (plan_.samples < 0) {
                return std::unexpected(KernelError::value(format("mixture '{}' has negative samples", plan_.name)));
            }
            value.emplace_back(s.category, fit(*x, static_cast<std::size_t>(plan_.samples), s.start, s.loop));
        }
        if (cache_) {
            std::vector<std::uint64_t> shapes;
            shapes.reserve(value.size());
            std::vector<TensorData> tensors;
            for (const auto& [category, samples] : value) {
                shapes.push_back(samples.size());
                tensors.push_back({category, Dtype::F32, std::span(&shapes.back(), 1), bytes_of(samples)});
            }
            if (auto written = write("sources", tensors); !written) return written;
        }
        memo_.sources = std::move(value);
        return {};
    }

    const SampleBuffer<float>* realized_source(std::string_view category) const {
        for (const auto& [name, samples] : *memo_.sources) {
            if (name == category) return &samples;
        }
        return nullptr;
    }

    const double* resolved_gain(std::string_view category) const {
        for (const auto& [name, gain] : *memo_.gains) {
            if (name == category) return &gain;
        }
        return nullptr;
    }

    std::expected<SampleBuffer<float>, KernelError> post_effects(const PlanSource& s, const SampleBuffer<float>& x) {
        return apply_pre_post(x, s, false, true);
    }

    std::expected<void, KernelError> gains() {
        if (memo_.gains) return {};
        if (auto done = sources(); !done) return done;
        auto hit = read("gains");
        if (!hit) return std::unexpected(std::move(hit.error()));
        if (*hit) {
            GainsValue value;
            bool accepted = true;
            for (const TensorEntry& tensor : (*hit)->tensors()) {
                const auto data = (*hit)->data(tensor);
                if (tensor.dtype != Dtype::F64 || data.size() != sizeof(double)) {
                    accepted = false;
                    break;
                }
                double gain;
                std::memcpy(&gain, data.data(), sizeof gain);
                value.emplace_back(tensor.name, gain);
            }
            if (accepted) {
                memo_.gains = std::move(value);
                return {};
            }
        }
        SourcesValue post;
        for (const PlanSource& s : plan_.sources) {
            const SampleBuffer<float>* x = realized_source(s.category);
            if (x == nullptr) {
                return std::unexpected(
                    KernelError::value(format("missing realized source for category '{}'", s.category)));
            }
            auto y = post_effects(s, *x);
            if (!y) return std::unexpected(std::move(y.error()));
            post.emplace_back(s.category, std::move(*y));
        }
        auto value = host_.gains(m_id_, post);
        if (!value) return std::unexpected(std::move(value.error()));
        if (cache_) {
            std::vector<TensorData> tensors;
            for (const auto& [category, gain] : *value) {
                tensors.push_back({category, Dtype::F64, {}, std::as_bytes(std::span(&gain, 1))});
            }
            if (auto written = write("gains", tensors); !written) return written;
        }
        memo_.gains = std::move(*value);
        return {};
    }

    std::expected<void, KernelError> source() {
        if (memo_.source) return {};
        if (auto done = sources(); !done) return done;
        if (auto done = gains(); !done) return done;
        return value_node(memo_.source, "source", [&]() -> std::expected<SampleBuffer<float>, KernelError> {
            std::optional<SampleBuffer<float>> acc;
            for (const PlanSource& s : plan_.sources) {
                if (s.category == "noise") continue;
                const SampleBuffer<float>* x = realized_source(s.category);
                if (x == nullptr) {
                    return std::unexpected(
                        KernelError::value(format("missing realized source for category '{}'", s.category)));
                }
                const double* gain = resolved_gain(s.category);
                if (gain == nullptr) {
                    return std::unexpected(
                        KernelError::value(format("missing resolved gain for category '{}'", s.category)));
                }
                auto y = post_effects(s, *x);
                if (!y) return std::unexpected(std::move(y.error()));
                const auto g = static_cast<float>(*gain);
                if (!acc) {
                    for (float& v : *y) v = v * g;
                    acc = std::move(*y);
                    continue;
                }
                if (y->size() != acc->size()) {
                    return std::unexpected(KernelError::value("post-effect source lengths differ; cannot sum"));
                }
                // Separate float32 products and sums, categories in plan order.
                float* a = acc->data();
                const float* b = y->data();
                for (std::size_t i = 0; i < acc->size(); ++i) a[i] = a[i] + b[i] * g;
            }
            if (!acc) {
                return std::unexpected(KernelError::value(format("mixture '{}' has no non-noise sources", plan_.name)));
            }
            return std::move(*acc);
        });
    }

    std::expected<void, KernelError> noise() {
        if (memo_.noise) return {};
        if (auto done = sources(); !done) return done;
        if (auto done = gains(); !done) return done;
        return value_node(memo_.noise, "noise", [&]() -> std::expected<SampleBuffer<float>, KernelError> {
            const auto s = std::find_if(plan_.sources.begin(), plan_.sources.end(),
                                        [](const PlanSource& p) { return p.category == "noise"; });
            if (s == plan_.sources.end()) {
                return std::unexpected(KernelError::value(format("mixture '{}' has no noise source", plan_.name)));
            }
            const SampleBuffer<float>* x = realized_source("noise");
            if (x == nullptr) return std::unexpected(KernelError::value("missing realized noise source"));
            auto y = post_effects(*s, *x);
            if (!y) return std::unexpected(std::move(y.error()));
            const double* gain = resolved_gain("noise");
            if (gain == nullptr) {
                return std::unexpected(KernelError::value("missing resolved gain for category 'noise'"));
            }
            const auto g = static_cast<float>(*gain);
            for (float& v : *y) v = v * g;
            return std::move(*y);
        });
    }

    std::expected<void, KernelError> mixture_audio() {
        if (memo_.mixture_audio) return {};
        if (auto done = source(); !done) return done;
        if (auto done = noise(); !done) return done;
        return value_node(memo_.mixture_audio, "mixture", [&]() -> std::expected<SampleBuffer<float>, KernelError> {
            const SampleBuffer<float>& a = *memo_.source;
            const SampleBuffer<float>& b = *memo_.noise;
            if (a.size() != b.size()) {
                return std::unexpected(KernelError::value("source and noise lengths differ; cannot form mixture_audio"));
            }
            SampleBuffer<float> out(a.size());
            for (std::size_t i = 0; i < a.size(); ++i) out[i] = a[i] + b[i];
            return out;
        });
    }

    Session& session_;
    HostBridge& host_;
    const std::uint64_t m_id_;
    const MixturePlan plan_;
    const bool force_;
    const bool cache_;
    Realized memo_;
};

}  // namespace

std::expected<audio::SampleBuffer<float>, std::string> load_source_audio(const std::string& path) {
    auto raw = audiolib::raw_read_audio(path);
    if (!raw) return std::unexpected(audiolib::render(raw.error()));
    const audio::SampleView<float> view{reinterpret_cast<const std::byte*>(raw->samples.data()), raw->samples.size(),
                                        sizeof(float)};
    auto resampled = audiolib::resample_audio(view, raw->sample_rate, 16000);
    if (!resampled) return std::unexpected(audiolib::render(resampled.error()));
    return std::move(*resampled);
}

std::expected<Realized, KernelError> realize(Session& session, HostBridge& host, std::uint64_t m_id, NodeSet want,
                                             bool force, bool cache) {
    if (m_id >= session.plan.mixtures.size()) {
        return std::unexpected(
            KernelError::value(format("m_id {} out of range (0..{})", m_id, session.plan.mixtures.size())));
    }
    Realizer realizer(session, host, m_id, force, cache);
    for (RealizedNode node : REALIZATION_ORDER) {
        if (!want.contains(node)) continue;
        if (auto done = realizer.node(node); !done) return std::unexpected(std::move(done.error()));
    }
    session.completed.fetch_add(1, std::memory_order_relaxed);
    return realizer.take();
}

}  // namespace corvala::kernel
