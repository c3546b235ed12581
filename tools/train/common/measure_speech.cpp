// Compares a decoded speech file with its original: finds the codec delay by
// cross-correlation, then prints SNR, segmental SNR and log-spectral distance.
//   vntr_measure_speech ORIGINAL DECODED [--max-delay N] [--delay N] [--json] [--match-level]
//                       [--envelope-delay] [--match-energy]
#include "speech_io.hpp"
#include "speech_measures.hpp"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

int main(int argc, char **argv) {
    CLI::App app{"Objective measures of a decoded speech file against its original"};
    std::string original;
    std::string decoded;
    int maxDelay = 800;
    int delay = -1;
    bool json = false;
    bool matchLevel = false;
    bool envelopeDelay = false;
    bool matchEnergy = false;
    app.add_option("original", original, "original (.wav, or raw 16-bit 8 kHz)")->required();
    app.add_option("decoded", decoded, "decoded (.wav, or raw 16-bit 8 kHz)")->required();
    app.add_option("--max-delay", maxDelay, "largest delay searched, samples");
    app.add_option("--delay", delay, "use this delay instead of searching");
    app.add_flag("--json", json, "print one JSON object");
    app.add_flag("--match-level", matchLevel, "scale the decoded signal by its least-squares gain first");
    app.add_flag("--envelope-delay", envelopeDelay,
                 "align by the amplitude envelopes (for parametric coders) instead of the waveforms");
    app.add_flag("--match-energy", matchEnergy, "scale the decoded signal to the original's energy first");
    CLI11_PARSE(app, argc, argv);
    try {
        const auto a = vntr::train::ReadSpeech(original);
        auto b = vntr::train::ReadSpeech(decoded);
        const int d = delay >= 0 ? delay
                                 : (envelopeDelay ? vntr::train::FindEnvelopeDelay(a.samples, b.samples, maxDelay)
                                                  : vntr::train::FindDelay(a.samples, b.samples, maxDelay));
        if (matchEnergy) b.samples = vntr::train::MatchEnergy(a.samples, b.samples, d);
        const auto m = vntr::train::Measure(a.samples, b.samples, d, matchLevel);
        if (json) {
            std::printf("{\"delay\": %d, \"snr\": %.3f, \"segsnr\": %.3f, \"lsd\": %.3f, \"gain\": %.3f}\n", m.delay,
                        m.snr, m.segmentalSnr, m.lsd, m.gain);
        } else {
            std::printf("delay %d  SNR %.2f dB  segSNR %.2f dB  LSD %.2f dB  gain %.3f\n", m.delay, m.snr, m.segmentalSnr,
                        m.lsd, m.gain);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
