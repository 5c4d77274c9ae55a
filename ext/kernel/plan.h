// The frozen plan of a session: what construction copies out of the host's snapshot.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "audiolib/forward_transform_config.h"
#include "ext/kernel/data_io.h"
#include "ext/kernel/nodes.h"

namespace corvala::kernel {

struct PlanSource {
    std::string category;
    std::vector<std::string> pre_effects;
    std::vector<std::string> post_effects;
    std::int64_t file_id = 0;
    std::int64_t start = 0;
    bool loop = false;
};

struct MixturePlan {
    std::string name;
    std::int64_t samples = 0;  // stored as given; a negative count is reported at realization
    std::vector<PlanSource> sources;
    std::optional<std::int64_t> spectral_mask_id;
    std::int64_t spectral_mask_seed = 0;
    std::uint32_t declared = 0;  // index into Plan::declared_sets
};

struct SpectralMaskSpec {
    std::int64_t f_max_width = 0;
    std::int64_t f_num = 0;
    std::int64_t t_max_width = 0;
    std::int64_t t_num = 0;
    std::int64_t t_max_percent = 0;
};

// Category -> parameter name -> value (absent where the host gave None), sorted byte-wise.
using TruthParameters = std::map<std::string, std::map<std::string, std::optional<std::int64_t>>>;

struct Plan {
    std::vector<MixturePlan> mixtures;
    std::vector<NodeSet> declared_sets;  // distinct sets, in first-seen order
    std::unordered_map<std::int64_t, std::string> source_paths;
    std::unordered_map<std::int64_t, std::unordered_map<std::string, std::string>> truth_strides;
    std::unordered_map<std::int64_t, SpectralMaskSpec> spectral_masks;
    audiolib::ForwardTransformConfig ft_config;
    std::string feature_mode;
    TruthParameters truth_parameters;
    ArtifactContext artifacts;
};

}  // namespace corvala::kernel
