#include <vntr/dsp/msvq.hpp>

namespace vntr::dsp {
namespace {

struct Candidate {
    float error;
    int parent; // rank of the extended candidate in the previous stage
    int index;  // code vector of this stage
};

// Inserts c into the list sorted by error (ties after the entries already
// there); a full list admits only a candidate strictly better than its last.
void Admit(Candidate *list, int &count, int keep, const Candidate &c) {
    int at = count;
    while (at > 0 && list[at - 1].error > c.error) --at;
    if (at >= keep) return;
    const int last = count < keep ? count : keep - 1;
    for (int i = last; i > at; --i) list[i] = list[i - 1];
    list[at] = c;
    if (count < keep) ++count;
}

// Stages up to this size are searched by columns, kBlock vectors at a time.
constexpr int kColumnsMax = 256;
constexpr int kBlock = 16;

} // namespace

MsvqChoice MsvqSearch(const float *target, const float *weights, const float *base, int dim,
                      const MsvqStage *stages, int stageCount, int keep, float *quantised) {
    // Running sums of the kept candidates, and the path of stage indices that
    // led to each, double-buffered across stages.
    float sums[2][kMsvqMaxKeep][kMsvqMaxDim];
    int paths[2][kMsvqMaxKeep][kMsvqMaxStages];
    Candidate list[kMsvqMaxKeep];
    int kept = 1;
    for (int k = 0; k < dim; ++k) sums[0][0][k] = base ? base[k] : 0.0f;
    int cur = 0;
    for (int s = 0; s < stageCount; ++s) {
        int count = 0;
        const float *book = stages[s].vectors;
        const int size = stages[s].size;
        // The stage laid out component by component, so that the errors of
        // all its vectors build up side by side; each vector's error is
        // summed over the components in order, as one by one.
        // The columns run on to a whole block (the padding is never admitted).
        float columns[kMsvqMaxDim][kColumnsMax + kBlock];
        const bool byColumns = size <= kColumnsMax;
        if (byColumns) {
            for (int i = 0; i < size; ++i) {
                for (int k = 0; k < dim; ++k) columns[k][i] = book[i * dim + k];
            }
            for (int i = size; i % kBlock != 0; ++i) {
                for (int k = 0; k < dim; ++k) columns[k][i] = 0.0f;
            }
        }
        for (int p = 0; p < kept; ++p) {
            float residual[kMsvqMaxDim];
            for (int k = 0; k < dim; ++k) residual[k] = target[k] - sums[cur][p][k];
            if (byColumns) {
                // Sixteen vectors at a time, their errors held in registers
                // across the components.
                float e[kColumnsMax + kBlock];
                for (int i0 = 0; i0 < size; i0 += kBlock) {
                    float acc[kBlock] = {};
                    for (int k = 0; k < dim; ++k) {
                        const float r = residual[k];
                        const float w = weights[k];
                        const float *column = columns[k] + i0;
                        for (int j = 0; j < kBlock; ++j) {
                            const float d = r - column[j];
                            acc[j] += w * d * d;
                        }
                    }
                    for (int j = 0; j < kBlock; ++j) e[i0 + j] = acc[j];
                }
                for (int i0 = 0; i0 < size; i0 += kBlock) {
                    // A full list takes only what beats its last: most blocks
                    // hold nothing that does.
                    const int end = i0 + kBlock < size ? i0 + kBlock : size;
                    if (count == keep) {
                        const float worst = list[keep - 1].error;
                        int any = 0;
                        for (int j = 0; j < kBlock; ++j) any |= e[i0 + j] < worst ? 1 : 0;
                        if (!any) continue;
                    }
                    for (int i = i0; i < end; ++i) {
                        if (count == keep && !(e[i] < list[keep - 1].error)) continue;
                        Admit(list, count, keep, Candidate{e[i], p, i});
                    }
                }
                continue;
            }
            for (int i = 0; i < size; ++i) {
                const float *c = book + i * dim;
                float e = 0.0f;
                for (int k = 0; k < dim; ++k) {
                    const float d = residual[k] - c[k];
                    e += weights[k] * d * d;
                }
                Admit(list, count, keep, Candidate{e, p, i});
            }
        }
        const int next = cur ^ 1;
        for (int r = 0; r < count; ++r) {
            const Candidate &c = list[r];
            const float *v = book + c.index * dim;
            for (int k = 0; k < dim; ++k) sums[next][r][k] = sums[cur][c.parent][k] + v[k];
            for (int t = 0; t < s; ++t) paths[next][r][t] = paths[cur][c.parent][t];
            paths[next][r][s] = c.index;
        }
        kept = count;
        cur = next;
    }
    MsvqChoice choice{};
    for (int s = 0; s < stageCount; ++s) choice.indices[s] = paths[cur][0][s];
    choice.error = list[0].error;
    if (quantised) {
        for (int k = 0; k < dim; ++k) quantised[k] = sums[cur][0][k];
    }
    return choice;
}

void MsvqSum(const float *base, int dim, const MsvqStage *stages, int stageCount, const int *indices, float *out) {
    for (int k = 0; k < dim; ++k) out[k] = base ? base[k] : 0.0f;
    for (int s = 0; s < stageCount; ++s) {
        const float *v = stages[s].vectors + indices[s] * dim;
        for (int k = 0; k < dim; ++k) out[k] += v[k];
    }
}

} // namespace vntr::dsp
