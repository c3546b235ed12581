// The matrixing cosines of both banks and the factors of the fast cosine
// transform, computed once in double precision and rounded to float.
#pragma once

namespace vntr::audiocoder {

struct Cosines {
    // analysis: cos((2k + 1)(i - 16) pi / 64), row i = 0..63, column k = 0..31
    alignas(32) float analysis[64][32];
    // synthesis: cos((16 + i)(2k + 1) pi / 64), row i = 0..63, column k = 0..31
    alignas(32) float synthesis[64][32];
    // The fast transform's factors 1 / (2 cos(pi (2k + 1) / (2n))) for n = 32,
    // 16, 8, 4, 2 one after the other (k = 0..n/2 - 1): 16 + 8 + 4 + 2 + 1 values.
    alignas(32) float butterfly[32];

    Cosines();
};

const Cosines &MatrixCosines();

} // namespace vntr::audiocoder
