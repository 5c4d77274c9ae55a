// Realizing the nodes of one mixture: the per-call context and memo, the artifact read-through
// and write-back protocol, and the time-domain nodes. Pure C++: the host's callbacks are reached
// through HostBridge, which the binding layer implements with the interpreter lock.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ext/audio/samples.h"
#include "ext/kernel/kernel_error.h"
#include "ext/kernel/nodes.h"
#include "ext/kernel/session.h"

namespace corvala::kernel {

using Audio = audio::SampleBuffer<float>;
using SourcesValue = std::vector<std::pair<std::string, Audio>>;  // plan order when computed
using GainsValue = std::vector<std::pair<std::string, double>>;

// Calls into the host. An exception raised by the host is kept by the bridge and reported as a
// KernelError of kind host_exception, which the binding layer turns back into that exception.
class HostBridge {
public:
    virtual ~HostBridge() = default;
    // gain_callback(m_id, {category: post-effect audio}) -> one gain per plan category, in plan order.
    virtual std::expected<GainsValue, KernelError> gains(std::uint64_t m_id, const SourcesValue& post_effect_audio) = 0;
};

// Reads and resamples a source file for the session's cache.
std::expected<audio::SampleBuffer<float>, std::string> load_source_audio(const std::string& path);

struct Realized {
    std::optional<SourcesValue> sources;
    std::optional<GainsValue> gains;
    std::optional<Audio> source;
    std::optional<Audio> noise;
    std::optional<Audio> mixture_audio;
};

// The order in which requested nodes are realized and returned.
inline constexpr RealizedNode REALIZATION_ORDER[] = {
    RealizedNode::sources, RealizedNode::sources_f, RealizedNode::source, RealizedNode::noise,
    RealizedNode::mixture_audio, RealizedNode::source_f, RealizedNode::noise_f, RealizedNode::mixture_audio_f,
    RealizedNode::segsnr_t, RealizedNode::segsnr, RealizedNode::feature, RealizedNode::truth_t,
    RealizedNode::truth_f, RealizedNode::gains,
};

// Realizes the requested nodes of mixture `m_id`; runs without the interpreter lock.
std::expected<Realized, KernelError> realize(Session& session, HostBridge& host, std::uint64_t m_id, NodeSet want,
                                             bool force, bool cache);

}  // namespace corvala::kernel
