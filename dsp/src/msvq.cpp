#include <vntr/dsp/msvq.hpp>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif
#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>
#endif

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
constexpr int kBlock = kMsvqBlock;

// The errors of sixteen vectors, component by component in order:
// e_j = sum_k w_k (r_k - c_kj)^2, each term as (w d) d.
[[gnu::always_inline]] inline void BlockErrorsPlain(const float *residual, const float *weights, int dim,
                                                    const float *columns, int stride, float *errors) {
    float acc[kBlock] = {};
    for (int k = 0; k < dim; ++k) {
        const float *column = columns + k * stride;
        for (int j = 0; j < kBlock; ++j) {
            const float d = residual[k] - column[j];
            acc[j] += (weights[k] * d) * d;
        }
    }
    for (int j = 0; j < kBlock; ++j) errors[j] = acc[j];
}

#if defined(VNTR_SIMD_SSE2)
// The same sums, four lanes at a time: each lane does the same operations
// in the same order, so the errors are the same to the bit.
[[gnu::always_inline]] inline void BlockErrors(const float *residual, const float *weights, int dim,
                                               const float *columns, int stride, float *errors) {
    __m128 acc[kBlock / 4];
    for (__m128 &a : acc) a = _mm_setzero_ps();
    for (int k = 0; k < dim; ++k) {
        const __m128 r = _mm_set1_ps(residual[k]);
        const __m128 w = _mm_set1_ps(weights[k]);
        const float *column = columns + k * stride;
        for (int q = 0; q < kBlock / 4; ++q) {
            const __m128 d = _mm_sub_ps(r, _mm_loadu_ps(column + 4 * q));
            acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_mul_ps(w, d), d));
        }
    }
    for (int q = 0; q < kBlock / 4; ++q) _mm_storeu_ps(errors + 4 * q, acc[q]);
}

#endif

#if defined(VNTR_SIMD_AVX2)
// The same sums, eight lanes at a time: each lane does the same operations
// in the same order, so the errors are the same to the bit.
VNTR_TARGET_AVX2 inline void BlockErrorsWide(const float *residual, const float *weights, int dim, const float *columns,
                                             int stride, float *errors) {
    __m256 lo = _mm256_setzero_ps();
    __m256 hi = _mm256_setzero_ps();
    for (int k = 0; k < dim; ++k) {
        const __m256 r = _mm256_set1_ps(residual[k]);
        const __m256 w = _mm256_set1_ps(weights[k]);
        const float *column = columns + k * stride;
        const __m256 d0 = _mm256_sub_ps(r, _mm256_loadu_ps(column));
        const __m256 d1 = _mm256_sub_ps(r, _mm256_loadu_ps(column + 8));
        lo = _mm256_add_ps(lo, _mm256_mul_ps(_mm256_mul_ps(w, d0), d0));
        hi = _mm256_add_ps(hi, _mm256_mul_ps(_mm256_mul_ps(w, d1), d1));
    }
    _mm256_storeu_ps(errors, lo);
    _mm256_storeu_ps(errors + 8, hi);
}

#endif

struct PlainBlocks {
    [[gnu::always_inline]] static void Errors(const float *residual, const float *weights, int dim,
                                              const float *columns, int stride, float *errors) {
        BlockErrorsPlain(residual, weights, dim, columns, stride, errors);
    }
};
#if defined(VNTR_SIMD_SSE2)
struct NarrowBlocks {
    [[gnu::always_inline]] static void Errors(const float *residual, const float *weights, int dim,
                                              const float *columns, int stride, float *errors) {
        BlockErrors(residual, weights, dim, columns, stride, errors);
    }
};
#endif
#if defined(VNTR_SIMD_AVX2)
struct WideBlocks {
    VNTR_TARGET_AVX2 static void Errors(const float *residual, const float *weights, int dim, const float *columns,
                                        int stride, float *errors) {
        BlockErrorsWide(residual, weights, dim, columns, stride, errors);
    }
};
#endif

// Bit j set when errors[j] < worst, j = 0..15.
[[gnu::always_inline]] inline unsigned BelowMask(const float *errors, float worst) {
#if !defined(VNTR_SIMD_SSE2)
    unsigned mask = 0;
    for (int j = 0; j < kBlock; ++j) mask |= (errors[j] < worst ? 1u : 0u) << j;
    return mask;
#else
    const __m128 w = _mm_set1_ps(worst);
    unsigned mask = 0;
    for (int q = 0; q < kBlock / 4; ++q) {
        mask |= static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(_mm_loadu_ps(errors + 4 * q), w))) << (4 * q);
    }
    return mask;
#endif
}

template <class Blocks>
[[gnu::always_inline]] inline MsvqChoice Search(const float *target, const float *weights, const float *base, int dim,
                                                const MsvqStage *stages, int stageCount, int keep, float *quantised,
                                                MsvqChoice *finalists = nullptr, int *finalistCount = nullptr) {
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
        const bool byColumns = size <= kColumnsMax;
        const int stride = MsvqColumnStride(size);
        float laid[kMsvqMaxDim * kColumnsMax];
        const float *columns = stages[s].columns;
        if (byColumns && columns == nullptr) {
            for (int i = 0; i < size; ++i) {
                for (int k = 0; k < dim; ++k) laid[k * stride + i] = book[i * dim + k];
            }
            for (int k = 0; k < dim; ++k) {
                for (int i = size; i < stride; ++i) laid[k * stride + i] = 0.0f;
            }
            columns = laid;
        }
        for (int p = 0; p < kept; ++p) {
            float residual[kMsvqMaxDim];
            for (int k = 0; k < dim; ++k) residual[k] = target[k] - sums[cur][p][k];
            if (byColumns) {
                // Sixteen vectors at a time, their errors held in registers
                // across the components.
                float e[kColumnsMax + kBlock];
                for (int i0 = 0; i0 < size; i0 += kBlock) {
                    Blocks::Errors(residual, weights, dim, columns + i0, stride, e + i0);
                }
                for (int i0 = 0; i0 < size; i0 += kBlock) {
                    // A full list takes only what beats its last, and its last
                    // only falls: most blocks hold nothing that does, and in
                    // the others only what beat it at the block's start can.
                    unsigned open = count == keep ? BelowMask(e + i0, list[keep - 1].error) : 0xffffu;
                    if (size - i0 < kBlock) open &= (1u << (size - i0)) - 1;
                    while (open != 0) {
                        const int i = i0 + __builtin_ctz(open);
                        open &= open - 1;
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
    if (finalists) {
        for (int r = 0; r < kept; ++r) {
            for (int s = 0; s < stageCount; ++s) finalists[r].indices[s] = paths[cur][r][s];
            finalists[r].error = list[r].error;
        }
        *finalistCount = kept;
    }
    return choice;
}

// The search on each kind of kernel: all of them (finalists null) or the
// finalists too.
MsvqChoice SearchPlain(const float *target, const float *weights, const float *base, int dim, const MsvqStage *stages,
                       int stageCount, int keep, float *quantised, MsvqChoice *finalists, int *count) {
    return Search<PlainBlocks>(target, weights, base, dim, stages, stageCount, keep, quantised, finalists, count);
}

#if defined(VNTR_SIMD_SSE2)
MsvqChoice SearchNarrow(const float *target, const float *weights, const float *base, int dim, const MsvqStage *stages,
                        int stageCount, int keep, float *quantised, MsvqChoice *finalists, int *count) {
    return Search<NarrowBlocks>(target, weights, base, dim, stages, stageCount, keep, quantised, finalists, count);
}
#endif

#if defined(VNTR_SIMD_AVX2)
// No FMA here: every product and sum rounds as on the baseline path.
[[gnu::target("avx2"), gnu::flatten]] MsvqChoice SearchWide(const float *target, const float *weights,
                                                            const float *base, int dim, const MsvqStage *stages,
                                                            int stageCount, int keep, float *quantised,
                                                            MsvqChoice *finalists, int *count) {
    return Search<WideBlocks>(target, weights, base, dim, stages, stageCount, keep, quantised, finalists, count);
}
#endif

MsvqChoice SearchOn(Simd simd, const float *target, const float *weights, const float *base, int dim,
                    const MsvqStage *stages, int stageCount, int keep, float *quantised, MsvqChoice *finalists,
                    int *count) {
    // A kind the processor lacks runs the widest it has.
    const Simd widest = DetectSimd();
    if (simd > widest) simd = widest;
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) {
        return SearchWide(target, weights, base, dim, stages, stageCount, keep, quantised, finalists, count);
    }
#endif
#if defined(VNTR_SIMD_SSE2)
    if (simd >= Simd::Sse2) {
        return SearchNarrow(target, weights, base, dim, stages, stageCount, keep, quantised, finalists, count);
    }
#endif
    return SearchPlain(target, weights, base, dim, stages, stageCount, keep, quantised, finalists, count);
}

} // namespace

MsvqChoice MsvqSearchOn(Simd simd, const float *target, const float *weights, const float *base, int dim,
                        const MsvqStage *stages, int stageCount, int keep, float *quantised) {
    return SearchOn(simd, target, weights, base, dim, stages, stageCount, keep, quantised, nullptr, nullptr);
}

MsvqChoice MsvqSearch(const float *target, const float *weights, const float *base, int dim, const MsvqStage *stages,
                      int stageCount, int keep, float *quantised) {
    return SearchOn(DetectSimd(), target, weights, base, dim, stages, stageCount, keep, quantised, nullptr, nullptr);
}

int MsvqFinalists(const float *target, const float *weights, const float *base, int dim, const MsvqStage *stages,
                  int stageCount, int keep, MsvqChoice *finalists) {
    int count = 0;
    SearchOn(DetectSimd(), target, weights, base, dim, stages, stageCount, keep, nullptr, finalists, &count);
    return count;
}

void MsvqSum(const float *base, int dim, const MsvqStage *stages, int stageCount, const int *indices, float *out) {
    for (int k = 0; k < dim; ++k) out[k] = base ? base[k] : 0.0f;
    for (int s = 0; s < stageCount; ++s) {
        const float *v = stages[s].vectors + indices[s] * dim;
        for (int k = 0; k < dim; ++k) out[k] += v[k];
    }
}

} // namespace vntr::dsp
