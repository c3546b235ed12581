#include <vntr/dsp/butterworth.hpp>

#include <cmath>
#include <numbers>

namespace vntr::dsp {
namespace {

using Complex = std::complex<double>;

// The bilinear image z = (1 + s) / (1 - s) of an analog pole, with the
// analog frequency axis warped as W = tan(w / 2).
Complex ToZ(Complex s) {
    return (1.0 + s) / (1.0 - s);
}

} // namespace

SosFilter DesignButterworth(FilterBand band, int order, double edge1, double edge2, double sampleRate) {
    const double pi = std::numbers::pi;
    const double w1 = std::tan(pi * edge1 / sampleRate);
    Complex poles[2 * kMaxSosSections];
    int count = 0;
    const int prototype = band == FilterBand::BandPass ? order / 2 : order;
    double w2 = 0.0;
    if (band == FilterBand::BandPass) w2 = std::tan(pi * edge2 / sampleRate);
    for (int k = 0; k < prototype; ++k) {
        // Left-half-plane poles of the unit-cutoff prototype.
        const Complex p = std::polar(1.0, pi * (2.0 * k + prototype + 1.0) / (2.0 * prototype));
        switch (band) {
        case FilterBand::LowPass:
            poles[count++] = ToZ(w1 * p);
            break;
        case FilterBand::HighPass:
            poles[count++] = ToZ(w1 / p);
            break;
        case FilterBand::BandPass: {
            // s -> (s^2 + W0^2) / (B s): each prototype pole p gives the two
            // roots of s^2 - p B s + W0^2.
            const double bandwidth = w2 - w1;
            const Complex pb = p * bandwidth;
            const Complex root = std::sqrt(pb * pb - 4.0 * w1 * w2);
            poles[count++] = ToZ(0.5 * (pb + root));
            poles[count++] = ToZ(0.5 * (pb - root));
            break;
        }
        }
    }

    SosFilter filter{};
    const double b1 = band == FilterBand::LowPass ? 2.0 : (band == FilterBand::HighPass ? -2.0 : 0.0);
    const double b2 = band == FilterBand::BandPass ? -1.0 : 1.0;
    auto addSection = [&](double a1, double a2) {
        filter.section[filter.sections++] = Biquad{1.0f, static_cast<float>(b1), static_cast<float>(b2),
                                                   static_cast<float>(a1), static_cast<float>(a2)};
    };
    // Complex poles section by section with their conjugates; real poles in pairs.
    constexpr double kReal = 1e-9;
    double pendingReal = 0.0;
    bool havePending = false;
    for (int i = 0; i < count && filter.sections < kMaxSosSections; ++i) {
        const Complex z = poles[i];
        if (z.imag() > kReal) {
            addSection(-2.0 * z.real(), std::norm(z));
        } else if (std::fabs(z.imag()) <= kReal) {
            if (havePending) {
                addSection(-(pendingReal + z.real()), pendingReal * z.real());
                havePending = false;
            } else {
                pendingReal = z.real();
                havePending = true;
            }
        }
    }

    // Unit gain at the pass band's reference frequency, spread over the sections.
    double reference = 0.0;
    if (band == FilterBand::HighPass) reference = pi;
    if (band == FilterBand::BandPass) reference = 2.0 * std::atan(std::sqrt(w1 * w2));
    const double magnitude = std::abs(SosResponse(filter, reference));
    if (magnitude > 0.0 && filter.sections > 0) {
        const auto g = static_cast<float>(std::pow(1.0 / magnitude, 1.0 / filter.sections));
        for (int s = 0; s < filter.sections; ++s) {
            filter.section[s].b0 *= g;
            filter.section[s].b1 *= g;
            filter.section[s].b2 *= g;
        }
    }
    return filter;
}

std::complex<double> SosResponse(const SosFilter &filter, double omega) {
    const Complex z1 = std::polar(1.0, -omega);
    const Complex z2 = z1 * z1;
    Complex h = 1.0;
    for (int s = 0; s < filter.sections; ++s) {
        const Biquad &q = filter.section[s];
        h *= (static_cast<double>(q.b0) + static_cast<double>(q.b1) * z1 + static_cast<double>(q.b2) * z2) /
             (1.0 + static_cast<double>(q.a1) * z1 + static_cast<double>(q.a2) * z2);
    }
    return h;
}

void SosRun(const SosFilter &filter, SosState &state, const float *x, float *y, int length) {
    for (int n = 0; n < length; ++n) {
        float v = x[n];
        for (int s = 0; s < filter.sections; ++s) {
            const Biquad &q = filter.section[s];
            const float out = q.b0 * v + state.s1[s];
            state.s1[s] = q.b1 * v - q.a1 * out + state.s2[s];
            state.s2[s] = q.b2 * v - q.a2 * out;
            v = out;
        }
        y[n] = v;
    }
}

SosBank MakeSosBank(const SosFilter *filters, int count) {
    SosBank bank{};
    bank.filters = count;
    bank.sections = count > 0 ? filters[0].sections : 0;
    for (int f = 0; f < count; ++f) {
        for (int s = 0; s < bank.sections; ++s) {
            const Biquad &q = filters[f].section[s];
            bank.b0[s][f] = q.b0;
            bank.b1[s][f] = q.b1;
            bank.b2[s][f] = q.b2;
            bank.a1[s][f] = q.a1;
            bank.a2[s][f] = q.a2;
        }
    }
    return bank;
}

void SosBankRun(const SosBank &bank, SosBankState &state, const float *x, float *const *y, int length) {
    constexpr int L = kSosBankLanes;
    for (int n = 0; n < length; ++n) {
        float v[L];
        for (int l = 0; l < L; ++l) v[l] = x[n];
        for (int s = 0; s < bank.sections; ++s) {
            float out[L];
            for (int l = 0; l < L; ++l) {
                out[l] = bank.b0[s][l] * v[l] + state.s1[s][l];
                state.s1[s][l] = bank.b1[s][l] * v[l] - bank.a1[s][l] * out[l] + state.s2[s][l];
                state.s2[s][l] = bank.b2[s][l] * v[l] - bank.a2[s][l] * out[l];
                v[l] = out[l];
            }
        }
        for (int f = 0; f < bank.filters; ++f) y[f][n] = v[f];
    }
}

} // namespace vntr::dsp
