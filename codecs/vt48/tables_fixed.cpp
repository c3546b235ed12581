// The tables the coded format fixes.
#include "tables.hpp"

namespace vntr::vt48 {
namespace {

constexpr float kOdd16[16] = {0.049f, 0.1075f, 0.1775f, 0.2613f, 0.3614f, 0.4811f, 0.6242f, 0.7954f,
                              1.0f,   0.0558f, 0.1239f, 0.2072f, 0.3091f, 0.4336f, 0.586f,  0.7723f};
constexpr float kOdd8[8] = {0.095f, 0.226f, 0.4067f, 0.656f, 1.0f, 0.1239f, 0.3091f, 0.586f};
constexpr float kOdd4[4] = {0.1775f, 0.4811f, 1.0f, 0.3091f};
constexpr float kOdd2[2] = {0.3091f, 1.0f};

} // namespace

const OddLsfTable kOddLsf[kOrder / 2] = {{16, kOdd16}, {8, kOdd8}, {8, kOdd8}, {4, kOdd4}, {2, kOdd2}};

const float kPitchGain[16] = {-0.993f, -0.811f, -0.645f, -0.497f, -0.349f, -0.191f, 0.191f, 0.294f,
                              0.403f,  0.492f,  0.605f,  0.732f,  0.873f,  1.025f,  1.24f,  1.55f};
const float kPitchGainThreshold[15] = {-0.897f, -0.723f, -0.566f, -0.416f, -0.258f, 0.0f,   0.237f, 0.344f,
                                       0.445f,  0.546f,  0.665f,  0.799f,  0.946f,  1.127f, 1.386f};

const float kCodebookGainMagnitude[16] = {1, 3, 13, 35, 64, 98, 136, 178, 224, 278, 340, 418, 520, 660, 870, 1330};
const float kCodebookGainThreshold[16] = {0.0f,    1.73f,   6.24f,   21.33f,  47.33f,  79.2f,   115.45f, 155.59f,
                                          199.68f, 249.54f, 307.44f, 376.99f, 466.22f, 585.83f, 757.76f, 1075.69f};

const float kOutputB[5] = {1.24324f, -0.01603f, -2.45444f, -0.01603f, 1.24324f};
const float kOutputA[4] = {-0.21298f, -1.37014f, 0.06319f, 0.59746f};

} // namespace vntr::vt48
