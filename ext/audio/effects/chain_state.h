// State that passes between the effects of one chain run.
#pragma once

namespace corvala::audio {

struct ChainState {
    double headroom = 1.0;  // written by gain -h, reclaimed by gain -r
};

}  // namespace corvala::audio
