// Designs the refined encoder's input filter of VT48: an FIR filter P(z) that,
// followed by the decoder's fixed output filter O(z) = B(z)/A'(z), gives a
// response with linear phase (a delay of D samples) and a flat magnitude
// from about 100 Hz to 3.3 kHz, rolling off below and above as the input
// high-pass and the output filter do.  The input high-pass alone leaves the
// whole chain with a phase that swings from +70 degrees at 300 Hz to -75 at
// 3.5 kHz and a 14 dB dip at 100 Hz, which no coding can win back.
//
// Weighted least squares on a dense frequency grid; writes the taps as the
// generated table codebooks/input_filter.inc.
//   vt48_design_input_filter --out codecs/vt48/codebooks/input_filter.inc [--taps N] [--delay D]
#include "tables.hpp"

#include <CLI/CLI.hpp>

#include <cmath>
#include <complex>
#include <cstdio>
#include <exception>
#include <fstream>
#include <numbers>
#include <vector>

using namespace vntr::vt48;
using Complex = std::complex<double>;

namespace {

constexpr double kPi = std::numbers::pi;

Complex OutputResponse(double w) {
    const Complex z1 = std::polar(1.0, -w);
    Complex b = 0.0, a = 1.0, zk = 1.0;
    for (int k = 0; k < 5; ++k) {
        b += static_cast<double>(kOutputB[k]) * zk;
        if (k > 0) a += static_cast<double>(kOutputA[k - 1]) * zk;
        zk *= z1;
    }
    return b / a;
}

Complex InputHighPass(double w) {
    const Complex z1 = std::polar(1.0, -w);
    return 0.5 * (1.0 - z1) / (1.0 - 0.94 * z1);
}

// The wanted magnitude of the whole chain: a second-order high-pass at 70 Hz,
// flat through the band, then the roll-off the input high-pass and the output
// filter give above 3.3 kHz (there is little to win there: the output filter
// takes it away).
double WantedMagnitude(double w, double edgeGain, double edge) {
    const double f = w * 4000.0 / kPi;
    const double r = f / 70.0;
    double m = r * r / std::sqrt(1.0 + r * r * r * r);
    if (f > edge) {
        const double atEdge = std::abs(InputHighPass(edge * kPi / 4000.0) * OutputResponse(edge * kPi / 4000.0));
        m *= std::min(1.0, std::abs(InputHighPass(w) * OutputResponse(w)) / std::max(edgeGain, atEdge));
    }
    return m;
}

// Solves the symmetric positive definite system m x = b (Cholesky).
std::vector<double> Solve(std::vector<double> m, std::vector<double> b, int n) {
    for (int j = 0; j < n; ++j) {
        double d = m[static_cast<std::size_t>(j * n + j)];
        for (int k = 0; k < j; ++k)
            d -= m[static_cast<std::size_t>(j * n + k)] * m[static_cast<std::size_t>(j * n + k)];
        if (d <= 0.0) throw std::runtime_error("the design system is not positive definite");
        const double l = std::sqrt(d);
        m[static_cast<std::size_t>(j * n + j)] = l;
        for (int i = j + 1; i < n; ++i) {
            double s = m[static_cast<std::size_t>(i * n + j)];
            for (int k = 0; k < j; ++k)
                s -= m[static_cast<std::size_t>(i * n + k)] * m[static_cast<std::size_t>(j * n + k)];
            m[static_cast<std::size_t>(i * n + j)] = s / l;
        }
    }
    for (int i = 0; i < n; ++i) {
        double s = b[static_cast<std::size_t>(i)];
        for (int k = 0; k < i; ++k) s -= m[static_cast<std::size_t>(i * n + k)] * b[static_cast<std::size_t>(k)];
        b[static_cast<std::size_t>(i)] = s / m[static_cast<std::size_t>(i * n + i)];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = b[static_cast<std::size_t>(i)];
        for (int k = i + 1; k < n; ++k) s -= m[static_cast<std::size_t>(k * n + i)] * b[static_cast<std::size_t>(k)];
        b[static_cast<std::size_t>(i)] = s / m[static_cast<std::size_t>(i * n + i)];
    }
    return b;
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Designs the VT48 encoder's input filter"};
    std::string out = "codecs/vt48/codebooks/input_filter.inc";
    int taps = kInputFilterTaps;
    int delay = kInputFilterDelay;
    double gain = 1.0;
    double edge = 3300.0;
    app.add_option("--out", out, "generated table to write");
    app.add_option("--taps", taps, "filter length (must match kInputFilterTaps to build)");
    app.add_option("--delay", delay, "delay of the whole chain, samples (kInputFilterDelay)");
    app.add_option("--gain", gain, "pass-band gain of the whole chain");
    app.add_option("--edge", edge,
                   "top of the flat band, Hz (above it the chain follows the output filter's roll-off)");
    CLI11_PARSE(app, argc, argv);
    try {
        constexpr int kGrid = 2048;
        const double edgeGain = std::abs(InputHighPass(kPi / 2) * OutputResponse(kPi / 2));
        std::vector<double> m(static_cast<std::size_t>(taps * taps), 0.0);
        std::vector<double> b(static_cast<std::size_t>(taps), 0.0);
        std::vector<Complex> o(kGrid), want(kGrid);
        std::vector<double> weight(kGrid);
        for (int k = 0; k < kGrid; ++k) {
            const double w = kPi * (k + 0.5) / kGrid;
            const double f = w * 4000.0 / kPi;
            o[static_cast<std::size_t>(k)] = OutputResponse(w);
            want[static_cast<std::size_t>(k)] = gain * WantedMagnitude(w, edgeGain, edge) * std::polar(1.0, -w * delay);
            // Speech lives in 100..3400 Hz; elsewhere the fit matters less.
            weight[static_cast<std::size_t>(k)] = f >= 100.0 && f <= std::max(3400.0, edge + 100.0) ? 1.0 : 0.05;
        }
        for (int k = 0; k < kGrid; ++k) {
            const double w = kPi * (k + 0.5) / kGrid;
            const Complex ok = o[static_cast<std::size_t>(k)];
            const double wk = weight[static_cast<std::size_t>(k)];
            const double power = std::norm(ok);
            for (int i = 0; i < taps; ++i) {
                for (int j = 0; j < taps; ++j)
                    m[static_cast<std::size_t>(i * taps + j)] += wk * power * std::cos(w * (i - j));
                b[static_cast<std::size_t>(i)] +=
                    wk * (std::polar(1.0, w * i) * std::conj(ok) * want[static_cast<std::size_t>(k)]).real();
            }
        }
        for (int i = 0; i < taps; ++i)
            m[static_cast<std::size_t>(i * taps + i)] *= 1.0 + 1e-9; // keeps the system definite
        const std::vector<double> p = Solve(m, b, taps);

        // How near the chain comes to the wanted response in the band.
        double worstDb = 0.0, worstPhase = 0.0;
        for (int k = 0; k < kGrid; ++k) {
            const double w = kPi * (k + 0.5) / kGrid;
            const double f = w * 4000.0 / kPi;
            if (f < 150.0 || f > edge) continue;
            Complex pk = 0.0;
            for (int n = 0; n < taps; ++n) pk += p[static_cast<std::size_t>(n)] * std::polar(1.0, -w * n);
            const Complex chain = pk * o[static_cast<std::size_t>(k)];
            const Complex ratio = chain / want[static_cast<std::size_t>(k)];
            worstDb = std::max(worstDb, std::fabs(20.0 * std::log10(std::abs(ratio))));
            worstPhase = std::max(worstPhase, std::fabs(std::arg(ratio)) * 180.0 / kPi);
        }
        std::fprintf(stderr, "150..%.0f Hz: magnitude within %.2f dB, phase within %.2f degrees of a %d-sample delay\n",
                     edge, worstDb, worstPhase, delay);

        std::ofstream o2(out);
        if (!o2) throw std::runtime_error(out + ": cannot create");
        o2 << "// Generated by tools/train/vt48/design_input_filter.cpp; do not edit.\n"
           << "// Command: vt48_design_input_filter --out " << out << " --taps " << taps << " --delay " << delay
           << " --gain " << gain << " --edge " << edge << "\n";
        char line[200];
        std::snprintf(line, sizeof line,
                      "// With the output filter: 150..%.0f Hz within %.2f dB and %.2f degrees of a %d-sample delay.\n",
                      edge, worstDb, worstPhase, delay);
        o2 << line;
        for (int n = 0; n < taps; ++n) {
            std::snprintf(line, sizeof line, "%.9ff,%s", p[static_cast<std::size_t>(n)], n % 4 == 3 ? "\n" : " ");
            o2 << line;
        }
        if (taps % 4 != 0) o2 << "\n";
        if (!o2) throw std::runtime_error(out + ": write failed");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
