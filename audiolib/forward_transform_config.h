// The configuration of the short-time forward transform, as the host gives it.
#pragma once

#include <cstdint>
#include <string>

namespace corvala::audiolib {

struct ForwardTransformConfig {
    std::int64_t length = 0;
    std::int64_t overlap = 0;
    std::int64_t bin_start = 0;
    std::int64_t bin_end = 0;
    std::string ttype;
};

}  // namespace corvala::audiolib
