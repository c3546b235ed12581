// The patches of the ViSQOL score: which stretches of the reference are
// scored (voice activity), the neurogram similarity index of two patches,
// the in-order matching of every reference patch to a decoded stretch, and
// the fine realignment of each match.
#include "visqol_parts.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vntr::evaluator::visqol {
namespace {

// The 3x3 window of the similarity index (a Gaussian of the reference
// implementation): corners, edges, centre.
constexpr double kCorner = 0.0113033910173052;
constexpr double kEdge = 0.0838251475442633;
constexpr double kCentre = 0.619485845753726;
// The stabilising constants for an intensity range of 1.
constexpr double kC1 = 0.01 * 0.01;
constexpr double kC3 = 0.03 * 0.03 / 2.0;

// Voice activity: 20 ms chunks of the peak-normalised reference on the
// 16-bit scale, loud when their RMS reaches this; a chunk is silent only
// when it and the two before it are quiet.
constexpr double kVadRms = 5000.0;

constexpr std::size_t kRows = kBands + 2; // with the replicated edge bands

// A patch of kBands rows and `columns` frames with its edges replicated
// around it, frame-major: element (row r, column c) of the padded patch at
// [(c + 1) * kRows + r + 1] for r in -1..kBands, c in -1..columns.
std::vector<double> PadPatch(std::span<const double> patch, std::size_t columns) {
    std::vector<double> padded((columns + 2) * kRows);
    for (std::size_t c = 0; c < columns + 2; ++c) {
        const std::size_t from = std::min(columns - 1, c == 0 ? 0 : c - 1);
        double *col = &padded[c * kRows];
        for (std::size_t r = 0; r < kBands; ++r) col[r + 1] = patch[r * columns + from];
        col[0] = col[1];
        col[kRows - 1] = col[kRows - 2];
    }
    return padded;
}

// The window applied around (row r, column c) of a padded frame-major array
// whose columns are at `left`, `mid`, `right`.
inline double Window(const double *left, const double *mid, const double *right, std::size_t r) {
    return kCorner * (left[r] + left[r + 2] + right[r] + right[r + 2]) +
           kEdge * (left[r + 1] + right[r + 1] + mid[r] + mid[r + 2]) + kCentre * mid[r + 1];
}

// Four doubles (the compiler's vector extension: one AVX register, or two
// SSE2 ones).  Only passed between inline functions of this file, so the
// note that their ABI differs with and without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
using V4 = double __attribute__((vector_size(32)));
inline V4 Load(const double *p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline V4 Splat(double x) {
    return V4{x, x, x, x};
}

// The similarity of one element from the local statistics.
inline double ElementSimilarity(double muR, double muD, double varR, double varD, double cross) {
    const double intensity = (2.0 * muR * muD + kC1) / (muR * muR + muD * muD + kC1);
    const double product = varR * varD;
    const double structure = (cross - muR * muD + kC3) / (product < 0.0 ? kC3 : std::sqrt(product) + kC3);
    return intensity * structure;
}

// The decoded spectrogram's frames seen through every patch position, for
// the matching: its local means and variances at each frame as an inner
// column of a patch, as its first and as its last column, and the padded
// frames themselves.  Frames past the end are zeros, as a patch that runs
// off the end is filled.
struct DecodedWindows {
    std::size_t frames = 0;     // real frames
    std::vector<double> padded; // (frames + kPatchFrames) columns of kRows
    // [inner, first, last][frame * kBands + band]; root is sqrt(|variance|).
    std::vector<double> mean[3], variance[3], root[3];

    explicit DecodedWindows(const Spectrogram &s) : frames(s.frames) {
        const std::size_t columns = frames + kPatchFrames;
        padded.assign(columns * kRows, 0.0);
        std::vector<double> squares(columns * kRows, 0.0);
        for (std::size_t c = 0; c < frames; ++c) {
            double *col = &padded[c * kRows];
            for (std::size_t r = 0; r < kBands; ++r) col[r + 1] = s.At(r, c);
            col[0] = col[1];
            col[kRows - 1] = col[kRows - 2];
        }
        for (std::size_t i = 0; i < padded.size(); ++i) squares[i] = padded[i] * padded[i];
        for (auto &m : mean) m.assign(columns * kBands, 0.0);
        for (auto &v : variance) v.assign(columns * kBands, 0.0);
        for (auto &v : root) v.assign(columns * kBands, 0.0);
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t before = c == 0 ? 0 : c - 1;
            const std::size_t after = std::min(columns - 1, c + 1);
            const std::size_t cols[3][3] = {{before, c, after}, {c, c, after}, {before, c, c}};
            for (int kind = 0; kind < 3; ++kind) {
                const double *l = &padded[cols[kind][0] * kRows];
                const double *m = &padded[cols[kind][1] * kRows];
                const double *rr = &padded[cols[kind][2] * kRows];
                const double *ls = &squares[cols[kind][0] * kRows];
                const double *ms = &squares[cols[kind][1] * kRows];
                const double *rs = &squares[cols[kind][2] * kRows];
                for (std::size_t r = 0; r < kBands; ++r) {
                    const double mu = Window(l, m, rr, r);
                    mean[kind][c * kBands + r] = mu;
                    variance[kind][c * kBands + r] = Window(ls, ms, rs, r) - mu * mu;
                    root[kind][c * kBands + r] = std::sqrt(std::abs(variance[kind][c * kBands + r]));
                }
            }
        }
    }
};

// A reference patch ready to be compared at every decoded position.
struct ReferencePatch {
    std::vector<double> padded; // PadPatch
    std::array<double, kPatchFrames * kBands> mean{};
    std::array<double, kPatchFrames * kBands> variance{};
    std::array<double, kPatchFrames * kBands> root{};

    explicit ReferencePatch(std::span<const double> patch) : padded(PadPatch(patch, kPatchFrames)) {
        std::vector<double> squares(padded.size());
        for (std::size_t i = 0; i < padded.size(); ++i) squares[i] = padded[i] * padded[i];
        for (std::size_t k = 0; k < kPatchFrames; ++k) {
            for (std::size_t r = 0; r < kBands; ++r) {
                const double mu = Window(&padded[k * kRows], &padded[(k + 1) * kRows], &padded[(k + 2) * kRows], r);
                mean[k * kBands + r] = mu;
                variance[k * kBands + r] =
                    Window(&squares[k * kRows], &squares[(k + 1) * kRows], &squares[(k + 2) * kRows], r) - mu * mu;
                root[k * kBands + r] = std::sqrt(std::abs(variance[k * kBands + r]));
            }
        }
    }
};

// The NSIM of a reference patch against the decoded patch at `offset`: the
// mean of its similarity map.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("fma", "default")))
#endif
double
SimilarityAt(const ReferencePatch &ref, const DecodedWindows &dec, std::size_t offset) {
    // The element products of the two padded patches.
    alignas(32) double products[(kPatchFrames + 2) * kRows];
    for (std::size_t c = 0; c < kPatchFrames + 2; ++c) {
        const std::size_t from = offset + std::min(kPatchFrames - 1, c == 0 ? 0 : c - 1);
        const double *d = &dec.padded[from * kRows];
        const double *r = &ref.padded[c * kRows];
        for (std::size_t i = 0; i < kRows; ++i) products[c * kRows + i] = r[i] * d[i];
    }
    // Four bands at a time (the last band alone), into per-band sums.
    // sqrt(varR varD) is taken as sqrt|varR| sqrt|varD| where the product is
    // not negative (kC3 alone where it is).
    constexpr std::size_t kWide = kBands / 4 * 4;
    V4 sums[kWide / 4] = {};
    double lastSum = 0;
    const V4 c1 = Splat(kC1), c3 = Splat(kC3), two = Splat(2.0), zero = Splat(0.0);
    for (std::size_t k = 0; k < kPatchFrames; ++k) {
        const int kind = k == 0 ? 1 : (k == kPatchFrames - 1 ? 2 : 0);
        const double *muD = &dec.mean[kind][(offset + k) * kBands];
        const double *varD = &dec.variance[kind][(offset + k) * kBands];
        const double *rootD = &dec.root[kind][(offset + k) * kBands];
        const double *muR = &ref.mean[k * kBands];
        const double *varR = &ref.variance[k * kBands];
        const double *rootR = &ref.root[k * kBands];
        const double *l = &products[k * kRows];
        const double *m = &products[(k + 1) * kRows];
        const double *rr = &products[(k + 2) * kRows];
        for (std::size_t r = 0; r < kWide; r += 4) {
            const V4 window = Splat(kCorner) * (Load(l + r) + Load(l + r + 2) + Load(rr + r) + Load(rr + r + 2)) +
                              Splat(kEdge) * (Load(l + r + 1) + Load(rr + r + 1) + Load(m + r) + Load(m + r + 2)) +
                              Splat(kCentre) * Load(m + r + 1);
            const V4 mr = Load(muR + r), md = Load(muD + r);
            const V4 cross = window - mr * md;
            const V4 up = (two * mr * md + c1) * (cross + c3);
            const V4 joint = Load(rootR + r) * Load(rootD + r) + c3;
            const V4 structureDown = (Load(varR + r) * Load(varD + r) < zero) ? c3 : joint;
            sums[r / 4] += up / ((mr * mr + md * md + c1) * structureDown);
        }
        for (std::size_t r = kWide; r < kBands; ++r) {
            lastSum += ElementSimilarity(muR[r], muD[r], varR[r], varD[r], Window(l, m, rr, r));
        }
    }
    double total = lastSum;
    for (const V4 &v : sums) total += v[0] + v[1] + v[2] + v[3];
    return total / static_cast<double>(kPatchFrames * kBands);
}

// Columns [first, first + columns) of a spectrogram as a patch (band-major),
// zeros past its end.
std::vector<double> CutPatch(const Spectrogram &s, std::size_t first, std::size_t columns) {
    std::vector<double> patch(kBands * columns, 0.0);
    for (std::size_t r = 0; r < kBands; ++r) {
        for (std::size_t c = 0; c < columns && first + c < s.frames; ++c) patch[r * columns + c] = s.At(r, first + c);
    }
    return patch;
}

double Mean(std::span<const double> v) {
    double sum = 0;
    for (const double x : v) sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

// The samples from `start` to `end` seconds, as the reference implementation
// cuts them: from the sample at the start, to the one before the end (or the
// signal's last but one), with zeros for what runs past the end put in front.
std::vector<double> Slice(std::span<const double> signal, double start, double end) {
    const double rate = kVisqolRate;
    const int rows = static_cast<int>(signal.size());
    const int first = std::max(0, static_cast<int>(start * rate));
    const int last = std::min(rows - 1, static_cast<int>(end * rate));
    std::vector<double> out;
    const double past = end * rate - static_cast<double>(rows);
    if (past > 0) out.assign(static_cast<std::size_t>(past), 0.0);
    if (last > first) out.insert(out.end(), signal.begin() + first, signal.begin() + last);
    return out;
}

// The spectrogram of a stretch of a signal: the whole signal's frames when
// the stretch is the signal from `first` on and that is the start of a frame
// (the frames are the same computation on the same samples), else built.
Spectrogram PieceSpectrogram(const std::vector<double> &piece, std::span<const double> signal, long first,
                             const Spectrogram &whole) {
    const bool onFrame = first >= 0 && first % static_cast<long>(kHop) == 0 &&
                         static_cast<std::size_t>(first) + piece.size() <= signal.size() &&
                         std::equal(piece.begin(), piece.end(), signal.begin() + first);
    if (!onFrame || piece.size() <= kWindow) return BuildSpectrogram(piece);
    Spectrogram s;
    s.frames = 1 + (piece.size() - kWindow) / kHop;
    const std::size_t from = static_cast<std::size_t>(first) / kHop;
    if (from + s.frames > whole.frames) return BuildSpectrogram(piece);
    s.data.resize(kBands * s.frames);
    for (std::size_t b = 0; b < kBands; ++b) {
        for (std::size_t f = 0; f < s.frames; ++f) s.At(b, f) = whole.At(b, from + f);
    }
    return s;
}

} // namespace

std::vector<std::size_t> VoicedPatchStarts(std::span<const double> reference, std::size_t frames) {
    std::vector<std::size_t> starts;
    constexpr std::size_t kFirst = kPatchFrames / 2 - 1;
    if (frames < kFirst + kPatchFrames || reference.empty()) return starts;
    const std::size_t patches = (frames - kFirst) / kPatchFrames;
    const double peak = *std::max_element(reference.begin(), reference.end());
    if (!(peak > 0)) return starts;
    // Chunk loudness from sample kFirst on (the reference implementation
    // starts its chunks at the patches' first frame number taken as a sample).
    const std::size_t chunks = patches * kPatchFrames;
    std::vector<uint8_t> loud(chunks, 0);
    for (std::size_t c = 0; c < chunks; ++c) {
        double square = 0;
        for (std::size_t i = 0; i < kHop; ++i) {
            const std::size_t at = kFirst + c * kHop + i;
            double v = at < reference.size() ? reference[at] / peak * 32768.0 : 0.0;
            v = std::max(-32768.0, std::min(32767.0, v));
            const auto sample = static_cast<int16_t>(v);
            square += static_cast<double>(sample) * sample;
        }
        loud[c] = std::sqrt(square / static_cast<double>(kHop)) >= kVadRms ? 1 : 0;
    }
    for (std::size_t p = 0; p < patches; ++p) {
        bool active = false;
        for (std::size_t c = p * kPatchFrames; c < (p + 1) * kPatchFrames && !active; ++c) {
            active = c < 2 || loud[c] || loud[c - 1] || loud[c - 2];
        }
        if (active) starts.push_back(kFirst + p * kPatchFrames);
    }
    return starts;
}

std::vector<double> PatchBandSimilarity(std::span<const double> reference, std::span<const double> decoded,
                                        std::size_t columns) {
    std::vector<double> means(kBands, 0.0);
    if (columns == 0) return means;
    const std::vector<double> r = PadPatch(reference, columns);
    const std::vector<double> d = PadPatch(decoded, columns);
    std::vector<double> rr(r.size()), dd(d.size()), rd(r.size());
    for (std::size_t i = 0; i < r.size(); ++i) {
        rr[i] = r[i] * r[i];
        dd[i] = d[i] * d[i];
        rd[i] = r[i] * d[i];
    }
    for (std::size_t k = 0; k < columns; ++k) {
        const std::size_t l = k * kRows, m = (k + 1) * kRows, h = (k + 2) * kRows;
        for (std::size_t b = 0; b < kBands; ++b) {
            const double muR = Window(&r[l], &r[m], &r[h], b);
            const double muD = Window(&d[l], &d[m], &d[h], b);
            const double varR = Window(&rr[l], &rr[m], &rr[h], b) - muR * muR;
            const double varD = Window(&dd[l], &dd[m], &dd[h], b) - muD * muD;
            means[b] += ElementSimilarity(muR, muD, varR, varD, Window(&rd[l], &rd[m], &rd[h], b));
        }
    }
    for (double &v : means) v /= static_cast<double>(columns);
    return means;
}

std::vector<VisqolPatch> MatchPatches(const ComparedPair &pair, std::span<const std::size_t> patchStarts,
                                      std::vector<std::vector<double>> &bandMeans) {
    const Spectrogram &reference = *pair.reference;
    const Spectrogram &decoded = *pair.decoded;
    std::vector<VisqolPatch> results;
    bandMeans.clear();
    const std::size_t frames = decoded.frames;
    // Patches that start past the decoded signal's end (less half a patch) are dropped.
    std::size_t count = patchStarts.size();
    while (count > 0 &&
           static_cast<double>(patchStarts[count - 1]) - std::floor(kPatchFrames / 2.0) > static_cast<double>(frames)) {
        --count;
    }
    if (count == 0 || frames == 0) return results;

    // The matching: best[p][o] is the best total similarity of patches 0..p
    // with patch p at decoded frame o, each patch later than the one before
    // it or sharing its frame (then it adds nothing).  Only two rows of totals
    // are kept; the choices are kept over each patch's search range.
    const long radius = static_cast<long>(kSearchRadiusPatches * kPatchFrames);
    const DecodedWindows windows(decoded);
    std::vector<double> previous(frames, 0.0), current(frames, 0.0);
    struct Choices {
        long first = 0;
        std::vector<int> from;
        int At(long offset) const {
            return offset >= first && offset - first < static_cast<long>(from.size())
                       ? from[static_cast<std::size_t>(offset - first)]
                       : 0;
        }
    };
    std::vector<Choices> choices(count);
    for (std::size_t p = 0; p < count; ++p) {
        const ReferencePatch ref(CutPatch(reference, patchStarts[p], kPatchFrames));
        const long centre = static_cast<long>(patchStarts[p]);
        const long lo = std::max(0L, centre - radius);
        const long hi = std::min(static_cast<long>(frames) - 1, centre + radius);
        std::fill(current.begin(), current.end(), 0.0);
        Choices &choice = choices[p];
        choice.first = lo;
        choice.from.assign(static_cast<std::size_t>(std::max(0L, hi - lo + 1)), -1);
        // The best earlier total over [lower, offset - 1], the latest of equals.
        const long lower = p > 0 ? std::max(0L, static_cast<long>(patchStarts[p - 1]) - radius) : 0;
        double bestEarlier = std::numeric_limits<double>::lowest();
        long bestEarlierAt = -1;
        long scanned = lower; // totals of [lower, scanned) are in bestEarlier
        for (long o = lo; o <= hi; ++o) {
            double total = SimilarityAt(ref, windows, static_cast<std::size_t>(o));
            int from = -1;
            if (p > 0) {
                for (; scanned < o; ++scanned) {
                    const double v = previous[static_cast<std::size_t>(scanned)];
                    if (bestEarlierAt < 0 || v >= bestEarlier) {
                        bestEarlier = v;
                        bestEarlierAt = scanned;
                    }
                }
                if (bestEarlierAt >= 0) {
                    total += bestEarlier;
                    from = static_cast<int>(bestEarlierAt);
                } else {
                    total += std::numeric_limits<double>::lowest();
                }
                if (previous[static_cast<std::size_t>(o)] > total) {
                    total = previous[static_cast<std::size_t>(o)];
                    from = static_cast<int>(o);
                }
            }
            current[static_cast<std::size_t>(o)] = total;
            choice.from[static_cast<std::size_t>(o - lo)] = from;
        }
        std::swap(previous, current);
    }

    // The best end, then back through the choices.
    const long lastCentre = static_cast<long>(patchStarts[count - 1]);
    double bestTotal = std::numeric_limits<double>::lowest();
    long offset = -1;
    for (long o = std::max(0L, lastCentre - radius); o <= lastCentre + radius && o < static_cast<long>(frames); ++o) {
        if (previous[static_cast<std::size_t>(o)] > bestTotal) {
            bestTotal = previous[static_cast<std::size_t>(o)];
            offset = o;
        }
    }
    if (offset < 0) return results;
    const double patchSeconds = kFrameSeconds * kPatchFrames;
    results.resize(count);
    bandMeans.resize(count);
    for (long p = static_cast<long>(count) - 1; p >= 0 && offset >= 0; --p) {
        const auto i = static_cast<std::size_t>(p);
        const std::vector<double> refPatch = CutPatch(reference, patchStarts[i], kPatchFrames);
        bandMeans[i] = PatchBandSimilarity(refPatch, CutPatch(decoded, static_cast<std::size_t>(offset), kPatchFrames),
                                           kPatchFrames);
        VisqolPatch &r = results[i];
        r.similarity = Mean(bandMeans[i]);
        const int from = choices[i].At(offset);
        if (offset == from) {
            // Sharing the next patch's frame: this patch is left unmatched.
            r.similarity = 0;
            std::fill(bandMeans[i].begin(), bandMeans[i].end(), 0.0);
        } else {
            r.decodedStart = static_cast<double>(offset) * kFrameSeconds;
            r.decodedEnd = r.decodedStart + patchSeconds;
        }
        r.referenceStart = static_cast<double>(patchStarts[i]) * kFrameSeconds;
        r.referenceEnd = r.referenceStart + patchSeconds;
        offset = from;
    }

    // Each match realigned finely in time and measured again; kept when it
    // is no worse.
    for (std::size_t i = 0; i < count; ++i) {
        VisqolPatch &r = results[i];
        if (r.decodedStart == r.decodedEnd && r.decodedStart == 0.0) continue;
        std::vector<double> refPiece = Slice(pair.referenceSignal, r.referenceStart, r.referenceEnd);
        std::vector<double> decPiece = Slice(pair.decodedSignal, r.decodedStart, r.decodedEnd);
        const double lag = AlignAndTruncate(refPiece, decPiece);
        // Where each stretch now starts in its whole signal, if it is still a
        // stretch of it: the one that was moved lost its first samples.
        const long lagSamples = std::lround(lag * kVisqolRate);
        const long refFirst = static_cast<long>(r.referenceStart * kVisqolRate) +
                              (lag > 0 ? std::max(0L, static_cast<long>(static_cast<int>(lag * kVisqolRate))) : 0L);
        const long decFirst = static_cast<long>(r.decodedStart * kVisqolRate) + (lag < 0 ? -lagSamples : 0L);
        Spectrogram refSpec = PieceSpectrogram(refPiece, pair.referenceSignal, refFirst, *pair.referenceBuilt);
        Spectrogram decSpec = PieceSpectrogram(decPiece, pair.decodedSignal, decFirst, *pair.decodedBuilt);
        if (refSpec.frames == 0 || decSpec.frames != refSpec.frames) {
            results.clear();
            bandMeans.clear();
            return results;
        }
        PrepareForComparison(refSpec, decSpec);
        std::vector<double> means = PatchBandSimilarity(refSpec.data, decSpec.data, refSpec.frames);
        const double similarity = Mean(means);
        if (similarity < r.similarity) continue;
        VisqolPatch moved;
        moved.similarity = similarity;
        if (lag > 0.0) {
            moved.referenceStart = r.referenceStart + lag;
            moved.decodedStart = r.decodedStart;
        } else {
            moved.referenceStart = r.referenceStart;
            moved.decodedStart = r.decodedStart - lag;
        }
        moved.referenceEnd = moved.referenceStart + static_cast<double>(refPiece.size()) / kVisqolRate;
        moved.decodedEnd = moved.decodedStart + static_cast<double>(decPiece.size()) / kVisqolRate;
        r = moved;
        bandMeans[i] = std::move(means);
    }
    return results;
}

double NsimToMos(double nsim) {
    // MOS = a + exp(b (nsim - x0)), scaled by the factor that takes the fit's
    // value at nsim = 1 to about 5.
    constexpr double kA = -262.847869;
    constexpr double kB = 0.0154302525;
    constexpr double kX0 = -361.063949;
    constexpr double kScale = static_cast<double>(1.245063f); // held in single precision there
    const double mos = kA + std::exp(kB * (nsim - kX0));
    return std::min(std::max(mos * kScale, 1.0), 5.0);
}

} // namespace vntr::evaluator::visqol
