#include "lsf.hpp"

#include <vntr/dsp/lsp.hpp>

#include <numbers>

namespace vntr::vt48 {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

int EvenIndex(float value, float threshold, const EvenLsfTables &tables, int table) {
    const int size = kEvenLsfSize[table];
    if (!(threshold < tables.last(table))) return size - 1;
    int best = -1;
    float bestDistance = 0.0f;
    for (int j = 0; j < size; ++j) {
        const float entry = tables.at(table, j);
        if (!(entry > threshold)) continue;
        const float d = entry > value ? entry - value : value - entry;
        if (best < 0 || d < bestDistance) {
            best = j;
            bestDistance = d;
        }
    }
    return best;
}

} // namespace

Lsf InitialLsf() {
    Lsf lsf;
    for (int i = 0; i < kOrder; ++i) lsf[static_cast<std::size_t>(i)] = static_cast<float>(2 * i + 1) * kPi / 20.0f;
    return lsf;
}

float OddLsfValue(int k, int index, float lo, float hi) {
    const OddLsfTable &table = kOddLsf[k];
    const float h = (hi - lo) * 0.5f;
    const float t = table.fraction[index];
    return index < table.levels / 2 + 1 ? lo + h * t : hi - h * t;
}

Lsf DecodeLsf(const std::array<uint16_t, kOrder> &index, const EvenLsfTables &tables) {
    Lsf lsf;
    for (int k = 0; k < kEvenLsfTables; ++k) {
        const int j = index[static_cast<std::size_t>(2 * k)] & ((1 << kLsfBits[2 * k]) - 1);
        lsf[static_cast<std::size_t>(2 * k)] = tables.at(k, j);
    }
    for (int k = 0; k < kOrder / 2; ++k) {
        const float lo = lsf[static_cast<std::size_t>(2 * k)];
        const float hi = k + 1 < kOrder / 2 ? lsf[static_cast<std::size_t>(2 * k + 2)] : kPi;
        const int j = index[static_cast<std::size_t>(2 * k + 1)] & ((1 << kLsfBits[2 * k + 1]) - 1);
        lsf[static_cast<std::size_t>(2 * k + 1)] = OddLsfValue(k, j, lo, hi);
    }
    return lsf;
}

bool IsOrdered(const Lsf &lsf) {
    for (int i = 0; i + 1 < kOrder; ++i) {
        if (lsf[static_cast<std::size_t>(i)] > lsf[static_cast<std::size_t>(i + 1)]) return false;
    }
    return true;
}

Lsf QuantiseLsf(const Lsf &lsf, std::array<uint16_t, kOrder> &index, const EvenLsfTables &tables) {
    Lsf q;
    // LSF 0: the nearest entry, the lower one on a tie.
    {
        int best = 0;
        float bestDistance = 0.0f;
        for (int j = 0; j < kEvenLsfSize[0]; ++j) {
            const float entry = tables.at(0, j);
            const float d = entry > lsf[0] ? entry - lsf[0] : lsf[0] - entry;
            if (j == 0 || d < bestDistance) {
                best = j;
                bestDistance = d;
            }
        }
        index[0] = static_cast<uint16_t>(best);
        q[0] = tables.at(0, best);
    }
    for (int k = 1; k < kEvenLsfTables; ++k) {
        const std::size_t i = static_cast<std::size_t>(2 * k);
        const float threshold = lsf[i - 1] > q[i - 2] ? lsf[i - 1] : q[i - 2];
        const int j = EvenIndex(lsf[i], threshold, tables, k);
        index[i] = static_cast<uint16_t>(j);
        q[i] = tables.at(k, j);
    }
    for (int k = 0; k < kOrder / 2; ++k) {
        const std::size_t i = static_cast<std::size_t>(2 * k + 1);
        const float lo = q[i - 1];
        const float hi = k + 1 < kOrder / 2 ? q[i + 1] : kPi;
        int best = 0;
        float bestDistance = 0.0f;
        float bestValue = lo;
        for (int j = 0; j < kOddLsf[k].levels; ++j) {
            const float candidate = OddLsfValue(k, j, lo, hi);
            const float d = candidate > lsf[i] ? candidate - lsf[i] : lsf[i] - candidate;
            if (j == 0 || d < bestDistance) {
                best = j;
                bestDistance = d;
                bestValue = candidate;
            }
        }
        index[i] = static_cast<uint16_t>(best);
        q[i] = bestValue;
    }
    return q;
}

void SubframePredictors(const Lsf &previous, const Lsf &current, float a[kSubframes][kOrder]) {
    Lsf mixed;
    for (int i = 0; i < kOrder; ++i) {
        const std::size_t n = static_cast<std::size_t>(i);
        mixed[n] = (2.0f * previous[n] + current[n]) / 3.0f;
    }
    dsp::LspToLpc(mixed.data(), kOrder, a[0]);
    for (int i = 0; i < kOrder; ++i) {
        const std::size_t n = static_cast<std::size_t>(i);
        mixed[n] = (previous[n] + 2.0f * current[n]) / 3.0f;
    }
    dsp::LspToLpc(mixed.data(), kOrder, a[1]);
    dsp::LspToLpc(current.data(), kOrder, a[2]);
}

} // namespace vntr::vt48
