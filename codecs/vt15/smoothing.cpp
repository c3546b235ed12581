#include "smoothing.hpp"

namespace vntr::vt15 {
namespace {

constexpr float kVoicedStrength = 0.6f;

bool Within(float value, float reference, float high, float low) {
    return value < high * reference && value > low * reference;
}

// Within a whole tone.
bool WithinTone(float value, float reference) {
    return Within(value, reference, 1.12246f, 0.8909f);
}

int VoicedUpperBands(const FrameRecord &r) {
    int count = 0;
    for (int b = 1; b < kBands; ++b) count += r.voicing[b] > kVoicedStrength ? 1 : 0;
    return count;
}

void Unvoice(FrameRecord &r) {
    for (float &v : r.voicing) v = 0.0f;
}

} // namespace

void SmoothRecords(const FrameRecord &prev, FrameRecord &cur, FrameRecord &next, bool pitchRules) {
    // The next frame's band voicing made yes-or-no; a voiced frame without a
    // voiced upper band and with a low gain (under 37 dB) becomes unvoiced.
    for (float &v : next.voicing) v = v > kVoicedStrength ? 1.0f : 0.0f;
    if (IsVoiced(next) && VoicedUpperBands(next) == 0 && next.gain[1] < 37.0f) Unvoice(next);

    const bool prevVoiced = IsVoiced(prev);
    const bool nextVoiced = IsVoiced(next);

    // A lone quiet voiced frame without much upper-band voicing.
    if (!prevVoiced && !nextVoiced && IsVoiced(cur) && cur.jitter == 0.0f) {
        const int upper = VoicedUpperBands(cur);
        if ((cur.gain[1] < 43.5f && upper < 2) || (cur.gain[1] < 37.0f && upper < 3)) Unvoice(cur);
    }

    // A lone unvoiced frame inside a voiced run.
    if (prevVoiced && nextVoiced && !IsVoiced(cur)) {
        cur.voicing[0] = 1.0f;
        if (!cur.active && prev.active && next.active) {
            cur.active = true;
            cur.pitch = prev.pitch;
        }
    }
    if (!pitchRules) return;

    // Inside a voiced run.
    const bool curVoiced = IsVoiced(cur);
    if (prevVoiced && curVoiced && nextVoiced) {
        for (int b = 1; b <= 2; ++b) {
            if (prev.voicing[b] > kVoicedStrength && next.voicing[b] > kVoicedStrength) cur.voicing[b] = 1.0f;
        }
        if (Within(prev.pitch, next.pitch, 1.2f, 0.8333f)) {
            const float mean = 0.5f * (prev.pitch + next.pitch);
            if (!Within(cur.pitch, mean, 1.2f, 0.8333f)) cur.pitch = mean;
        }
        const bool averagesAgree = WithinTone(next.pitch, cur.pitch) && WithinTone(cur.averagePitch, prev.pitch) &&
                                   WithinTone(next.averagePitch, cur.averagePitch);
        if (averagesAgree && (WithinTone(cur.pitch, 0.5f * prev.pitch) || WithinTone(cur.pitch, 2.0f * prev.pitch))) {
            cur.pitch = cur.averagePitch;
            next.pitch = next.averagePitch;
        }
    }

    // At the edges of a voiced run.
    if (!prevVoiced && curVoiced && nextVoiced) {
        if (Within(next.pitch, prev.averagePitch, 1.4f, 0.7142857f) &&
            (cur.pitch > 1.25f * next.pitch || cur.pitch < 0.8f * next.pitch)) {
            cur.pitch = next.pitch;
        }
    } else if (prevVoiced && curVoiced && !nextVoiced) {
        if (Within(prev.pitch, next.averagePitch, 1.4f, 0.7142857f) &&
            (cur.pitch > 1.25f * prev.pitch || cur.pitch < 0.8f * prev.pitch)) {
            cur.pitch = prev.pitch;
        }
    }
}

} // namespace vntr::vt15
