// The six-stage LSF quantiser: stage 1 holds 32 whole LSF vectors, stages 2
// to 6 hold 16 corrections each.  Classes 0, 2 and 4 sum stage 1 and the
// stages after it; classes 1 and 3 add the later stages to the previous
// frame's vector; class 5 repeats that vector.
#pragma once

#include "frame_classes.hpp"

namespace vntr::vt15 {

inline constexpr int kLsfStageSizes[kLsfStages] = {32, 16, 16, 16, 16, 16};

struct LsfCodebook {
    const float *stage[kLsfStages]; // kLsfStageSizes[s] x kOrder floats each
};

// Which stages a class uses, and whether they correct the previous vector.
struct LsfLayout {
    int firstStage;
    int stageCount;
    bool difference;
};

inline constexpr LsfLayout kLsfLayouts[kClassCount] = {
    {0, 6, false}, {1, 5, true}, {0, 5, false}, {2, 4, true}, {0, 2, false}, {0, 0, true},
};

// The trained tables the library ships.
const LsfCodebook &DefaultLsfCodebook();

} // namespace vntr::vt15
