// The vocabulary of realized nodes: fixed names and indices, and sets of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvala::kernel {

enum class RealizedNode : std::uint8_t {
    sources, sources_f, source, source_f, noise, noise_f, mixture_audio, mixture_audio_f,
    truth_t, segsnr_t, segsnr, feature, truth_f, gains,
};

inline constexpr std::size_t NODE_COUNT = 14;

inline constexpr std::array<std::string_view, NODE_COUNT> NODE_NAMES{
    "sources", "sources_f", "source", "source_f", "noise", "noise_f", "mixture_audio", "mixture_audio_f",
    "truth_t", "segsnr_t", "segsnr", "feature", "truth_f", "gains",
};

inline constexpr std::string_view node_name(RealizedNode node) { return NODE_NAMES[static_cast<std::size_t>(node)]; }

// Exact, case-sensitive match of the whole name.
inline std::optional<RealizedNode> find_node(std::string_view name) {
    for (std::size_t i = 0; i < NODE_COUNT; ++i) {
        if (NODE_NAMES[i] == name) return static_cast<RealizedNode>(i);
    }
    return std::nullopt;
}

// Bit i set: node i is in the set.
class NodeSet {
public:
    constexpr NodeSet() = default;
    constexpr explicit NodeSet(std::uint16_t bits) : bits_(bits) {}
    constexpr void add(RealizedNode node) { bits_ = static_cast<std::uint16_t>(bits_ | bit(node)); }
    constexpr bool contains(RealizedNode node) const { return (bits_ & bit(node)) != 0; }
    constexpr std::uint16_t bits() const { return bits_; }
    constexpr bool operator==(const NodeSet&) const = default;

private:
    static constexpr std::uint16_t bit(RealizedNode node) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(node));
    }
    std::uint16_t bits_ = 0;
};

}  // namespace corvala::kernel
