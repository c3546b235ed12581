// Compares a decoded speech file with its original using the evaluator's own
// measures (the codec delay found by cross-correlation; SNR, segmental SNR
// and log-spectral distance), so that the training notes and vtbench32 quote
// the same figures.
//   vntr_measure_speech ORIGINAL DECODED [--max-delay N] [--delay N] [--match-level] [--json]
//                       [--envelope-delay] [--match-energy]
#include "envelope_alignment.hpp"
#include "speech_io.hpp"

#include "core/quality.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char **argv) {
    CLI::App app{"Objective measures of a decoded speech file against its original"};
    std::string original;
    std::string decoded;
    vntr::evaluator::CompareOptions options;
    bool json = false;
    bool envelopeDelay = false;
    bool matchEnergy = false;
    app.add_option("original", original, "original (.wav, or raw 16-bit 8 kHz)")->required();
    app.add_option("decoded", decoded, "decoded (.wav, or raw 16-bit 8 kHz)")->required();
    app.add_option("--max-delay", options.maxDelay, "largest delay searched, samples (default: a quarter second)");
    app.add_option("--delay", options.delay, "use this delay instead of searching");
    app.add_flag("--json", json, "print one JSON object");
    app.add_flag("--match-level", options.matchLevel, "scale the decoded signal by its least-squares gain first");
    app.add_flag("--envelope-delay", envelopeDelay,
                 "align by the amplitude envelopes (for parametric coders) instead of the waveforms");
    app.add_flag("--match-energy", matchEnergy, "scale the decoded signal to the original's energy first");
    CLI11_PARSE(app, argc, argv);
    try {
        const auto a = vntr::train::ReadSpeech(original);
        auto b = vntr::train::ReadSpeech(decoded);
        if (a.sampleRate != b.sampleRate) {
            std::fprintf(stderr, "%s is at %d Hz, %s at %d Hz\n", original.c_str(), a.sampleRate, decoded.c_str(),
                         b.sampleRate);
            return 1;
        }
        if (envelopeDelay && options.delay < 0) {
            const int most = options.maxDelay > 0 ? options.maxDelay : a.sampleRate / 4;
            options.delay = vntr::train::FindEnvelopeDelay(a.samples, b.samples, most);
        }
        if (matchEnergy)
            b.samples = vntr::train::MatchEnergy(a.samples, b.samples, options.delay > 0 ? options.delay : 0);
        const std::vector<float> x(a.samples.begin(), a.samples.end());
        const std::vector<float> y(b.samples.begin(), b.samples.end());
        const auto q = vntr::evaluator::CompareSignals(x, y, a.sampleRate, options);
        if (!q.valid) {
            std::fprintf(stderr, "nothing to compare (empty file, or a delay beyond the decoded signal)\n");
            return 1;
        }
        if (json) {
            std::printf("{\"delay\": %d, \"snr\": %.3f, \"segsnr\": %.3f, \"lsd\": %.3f, \"gain\": %.3f}\n",
                        q.delaySamples, q.snrDb, q.segmentalSnrDb, q.logSpectralDistanceDb, q.gain);
        } else {
            std::printf("delay %d  SNR %.2f dB  segSNR %.2f dB  LSD %.2f dB  gain %.3f\n", q.delaySamples, q.snrDb,
                        q.segmentalSnrDb, q.logSpectralDistanceDb, q.gain);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
