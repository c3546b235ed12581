// Multi-stage vector quantisation: a vector is coded as a base (zero, or a
// previous vector for difference coding) plus one code vector from each stage.
// The search keeps the M best partial sums after every stage (an M-best tree
// search), which finds far better sums than choosing each stage greedily for
// a small multiple of the cost.
#pragma once

#include <vntr/dsp/simd.hpp>

namespace vntr::dsp {

constexpr int kMsvqMaxStages = 8;
constexpr int kMsvqMaxKeep = 16;
constexpr int kMsvqMaxDim = 16;

// The search scores a stage's vectors sixteen at a time from the stage laid
// out component by component: component k of vector i at
// columns[k * MsvqColumnStride(size) + i], each component's run padded with
// zeros to a whole block.
constexpr int kMsvqBlock = 16;
constexpr int MsvqColumnStride(int size) {
    return (size + kMsvqBlock - 1) / kMsvqBlock * kMsvqBlock;
}

// One stage: `size` code vectors of the quantiser's dimension, back to back,
// and optionally the same vectors laid out by components (null: the search
// lays them out itself on every call; a fixed codebook saves that by
// keeping its layout, e.g. from MsvqColumns).
struct MsvqStage {
    const float *vectors;
    int size;
    const float *columns = nullptr;
};

// The column layout of Stages stages of Size vectors of Dim components,
// made (at compile time, for a fixed codebook) from the vectors back to back.
template <int Dim, int Size, int Stages>
struct MsvqColumnLayout {
    static constexpr int kStride = MsvqColumnStride(Size);
    float columns[Stages][Dim * kStride];
};

template <int Dim, int Size, int Stages>
constexpr MsvqColumnLayout<Dim, Size, Stages> MsvqColumns(const float (&vectors)[Stages][Size * Dim]) {
    MsvqColumnLayout<Dim, Size, Stages> layout{};
    for (int s = 0; s < Stages; ++s) {
        for (int i = 0; i < Size; ++i) {
            for (int k = 0; k < Dim; ++k) layout.columns[s][k * layout.kStride + i] = vectors[s][i * Dim + k];
        }
    }
    return layout;
}

struct MsvqChoice {
    int indices[kMsvqMaxStages]; // one per stage searched, in stage order
    float error;                 // weighted error of the chosen sum
};

// Finds base + sum_s stages[s][i_s] close to `target` under the weighted error
// sum_k w_k (x_k - q_k)^2.  The first stage's vectors are measured in index
// order; every later stage extends each kept candidate (best first) by each of
// its vectors in index order.  The `keep` best candidates survive each stage,
// and a candidate displaces a kept one only when strictly better, so among
// equal errors the one met first wins.  base may be null (a zero base);
// quantised, when not null, receives the chosen sum.
//   dim <= kMsvqMaxDim, 1 <= stageCount <= kMsvqMaxStages, 1 <= keep <= kMsvqMaxKeep
MsvqChoice MsvqSearch(const float *target, const float *weights, const float *base, int dim, const MsvqStage *stages,
                      int stageCount, int keep, float *quantised);

// The same search, handing out every candidate that survived the last stage
// (up to `keep`), best first: finalists[0] is MsvqSearch's choice.  Returns
// their number.
//   out finalists [keep]
int MsvqFinalists(const float *target, const float *weights, const float *base, int dim, const MsvqStage *stages,
                  int stageCount, int keep, MsvqChoice *finalists);

// The search runs eight lanes wide where the processor has AVX2, four wide
// with SSE2 and one at a time on the plain kernel; all give the same choice
// and error to the bit.  The tests pick a kind; a kind the processor lacks
// runs the widest it has.
MsvqChoice MsvqSearchOn(Simd simd, const float *target, const float *weights, const float *base, int dim,
                        const MsvqStage *stages, int stageCount, int keep, float *quantised);

// out = base + sum_s stages[s][indices[s]] (base may be null).
void MsvqSum(const float *base, int dim, const MsvqStage *stages, int stageCount, const int *indices, float *out);

} // namespace vntr::dsp
