// Spectral distortion between two all-pole envelopes 1/|A(e^jw)|^2: the
// root-mean-square difference in dB over evenly spaced frequencies in 0..pi.
// The usual measure of a predictor quantiser (about 1 dB is transparent,
// frames above 2 and 4 dB are counted as outliers).
#pragma once

namespace vntr::train {

// a and b hold a1..a_order of A(z) = 1 + a1 z^-1 + ...
double EnvelopeDistortion(const float *a, const float *b, int order, int bins = 128);

// Running mean and outlier shares of a distortion measure.
struct DistortionSummary {
    double sum = 0.0;
    long frames = 0;
    long over2 = 0;
    long over4 = 0;
    void Add(double sd) {
        sum += sd;
        ++frames;
        over2 += sd > 2.0 ? 1 : 0;
        over4 += sd > 4.0 ? 1 : 0;
    }
    double Mean() const { return frames ? sum / static_cast<double>(frames) : 0.0; }
    double PercentOver2() const { return frames ? 100.0 * static_cast<double>(over2) / static_cast<double>(frames) : 0.0; }
    double PercentOver4() const { return frames ? 100.0 * static_cast<double>(over4) / static_cast<double>(frames) : 0.0; }
};

} // namespace vntr::train
