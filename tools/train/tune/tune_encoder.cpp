// Scores an encoder setting of VT120 or VT15 against the described encoder
// over speech files: each file is coded both ways, decoded by the one
// decoder the library ships, and measured as vtbench32 measures it (ViSQOL
// MOS-LQO, log-spectral distance, SNR, with the delay found by correlation).
// Prints per file and the means, and on how many files the setting raised
// the ViSQOL score and lowered the log-spectral distance both.
//   vntr_tune_encoder vt120|vt15 [--set NAME=VALUE]... [--tuned] -j N FILE...
// (-j ends the list of settings).
#include "speech_io.hpp"

#include "core/quality.hpp"
#include "core/visqol.hpp"

#include "vt120/decoder.hpp"
#include "vt120/encoder.hpp"
#include "vt15/decoder.hpp"
#include "vt15/encoder.hpp"

#include <vntr/codec_frame.hpp>

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Scores {
    double visqol = 0;
    double lsd = 0;
    double snr = 0;
    double bitRate = 0;
    double seconds = 0; // encoding time
};

std::vector<int16_t> ToPcm(const std::vector<float> &x) {
    std::vector<int16_t> out;
    out.reserve(x.size());
    for (float v : x) out.push_back(vntr::frame::FloatToPcm16(v));
    return out;
}

// Coded bits and decoded samples (16-bit scale) of one file.
struct Coded {
    std::vector<int16_t> decoded;
    double bits = 0;
    double seconds = 0;
};

Coded RunVt120(const std::vector<int16_t> &pcm, const vntr::vt120::EncoderTuning &tuning) {
    using namespace vntr::vt120;
    auto enc = std::make_unique<EncoderState>();
    auto dec = std::make_unique<DecoderState>();
    InitEncoder(*enc, tuning);
    InitDecoder(*dec);
    Coded c;
    std::vector<float> out;
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> stream;
    for (std::size_t f = 0; f + kFrameLength <= pcm.size(); f += kFrameLength) {
        float in[kFrameLength];
        for (int n = 0; n < kFrameLength; ++n) in[n] = pcm[f + static_cast<std::size_t>(n)];
        uint8_t bytes[kCodedBytes];
        EncodeFrame(*enc, in, bytes);
        stream.insert(stream.end(), bytes, bytes + kCodedBytes);
    }
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (std::size_t pos = 0; pos + kCodedBytes <= stream.size(); pos += kCodedBytes) {
        float y[kFrameLength];
        DecodeFrame(*dec, &stream[pos], y, true);
        out.insert(out.end(), y, y + kFrameLength);
    }
    c.bits = 8.0 * static_cast<double>(stream.size());
    c.decoded = ToPcm(out);
    return c;
}

Coded RunVt15(const std::vector<int16_t> &pcm, const vntr::vt15::EncoderTuning &tuning) {
    using namespace vntr::vt15;
    auto enc = std::make_unique<EncoderState>();
    auto dec = std::make_unique<DecoderState>();
    InitEncoder(*enc, tuning);
    InitDecoder(*dec);
    Coded c;
    std::vector<uint8_t> stream;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t f = 0; f + kFrameLength <= pcm.size(); f += kFrameLength) {
        float in[kFrameLength];
        for (int n = 0; n < kFrameLength; ++n) in[n] = pcm[f + static_cast<std::size_t>(n)];
        uint8_t bytes[kMaxCodedBytes];
        const int written = EncodeFrame(*enc, in, bytes);
        stream.insert(stream.end(), bytes, bytes + written);
    }
    uint8_t bytes[kMaxCodedBytes];
    const int written = FlushEncoder(*enc, bytes);
    stream.insert(stream.end(), bytes, bytes + written);
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<float> out;
    std::size_t pos = 0;
    for (;;) {
        float y[kFrameLength];
        int consumed = 0;
        const int offered = static_cast<int>(std::min<std::size_t>(stream.size() - pos, kMaxCodedBytes));
        if (DecodeFrame(*dec, stream.data() + pos, offered, &consumed, y) != DecodeResult::Decoded) break;
        out.insert(out.end(), y, y + kFrameLength);
        pos += static_cast<std::size_t>(consumed);
    }
    c.bits = 8.0 * static_cast<double>(stream.size());
    c.decoded = ToPcm(out);
    return c;
}

// delay >= 0: the decoded signal's known lag (as vtbench32 --batch finds it
// once per codec); otherwise found per file by correlation.
Scores Measure(const std::vector<int16_t> &original, const Coded &coded, int delay) {
    const std::vector<float> x(original.begin(), original.end());
    const std::vector<float> y(coded.decoded.begin(), coded.decoded.end());
    vntr::evaluator::CompareOptions options;
    options.delay = delay;
    const auto q = vntr::evaluator::CompareSignals(x, y, 8000, options);
    const auto v = vntr::evaluator::ScoreVisqol(x, y, 8000, vntr::evaluator::kVisqolStretchSeconds, delay);
    Scores s;
    s.visqol = v.valid ? v.mos : 0.0;
    s.lsd = q.logSpectralDistanceDb;
    s.snr = q.snrDb;
    const double duration = static_cast<double>(original.size()) / 8000.0;
    s.bitRate = coded.bits / duration;
    s.seconds = coded.seconds;
    return s;
}

void Set(const std::string &assignment, vntr::vt120::EncoderTuning &t) {
    const auto eq = assignment.find('=');
    if (eq == std::string::npos) throw std::runtime_error("--set takes NAME=VALUE: " + assignment);
    const std::string name = assignment.substr(0, eq);
    const double value = std::stod(assignment.substr(eq + 1));
    if (name == "lspKeep")
        t.lspKeep = static_cast<int>(value);
    else if (name == "lspFinalists")
        t.lspFinalists = static_cast<int>(value);
    else if (name == "lagReach")
        t.lagReach = static_cast<int>(value);
    else if (name == "allLagSteps")
        t.allLagSteps = value != 0;
    else if (name == "pitchFinalists")
        t.pitchFinalists = static_cast<int>(value);
    else if (name == "pitchMargin")
        t.pitchMargin = static_cast<float>(value);
    else if (name == "pulseSeedReach")
        t.pulseSeedReach = static_cast<float>(value);
    else
        throw std::runtime_error("VT120 has no setting " + name);
    if (t.lspKeep < 1 || t.lspKeep > 16 || t.lspFinalists < 1 || t.lagReach < 1 ||
        t.lagReach > vntr::vt120::kMaxLagReach || t.pitchFinalists < 1 ||
        t.pitchFinalists > vntr::vt120::kMaxPitchFinalists) {
        throw std::runtime_error("setting out of range: " + assignment);
    }
}

void Set(const std::string &assignment, vntr::vt15::EncoderTuning &t) {
    const auto eq = assignment.find('=');
    if (eq == std::string::npos) throw std::runtime_error("--set takes NAME=VALUE: " + assignment);
    const std::string name = assignment.substr(0, eq);
    const double value = std::stod(assignment.substr(eq + 1));
    if (name == "lagWindowHz")
        t.lagWindowHz = static_cast<float>(value);
    else if (name == "noiseCorrection")
        t.noiseCorrection = static_cast<float>(value);
    else if (name == "bandwidthExpansion")
        t.bandwidthExpansion = static_cast<float>(value);
    else if (name == "lsfFinalists")
        t.lsfFinalists = static_cast<int>(value);
    else if (name == "voicingBias")
        t.voicingBias = static_cast<float>(value);
    else if (name == "class1Fallback")
        t.class1Fallback = static_cast<float>(value);
    else if (name == "class3Fallback")
        t.class3Fallback = static_cast<float>(value);
    else if (name == "class5Margin")
        t.class5Margin = static_cast<float>(value);
    else if (name == "pitchContinuity")
        t.pitchContinuity = static_cast<float>(value);
    else if (name == "pitchCandidates")
        t.pitchCandidates = static_cast<int>(value);
    else if (name == "candidateGains")
        t.candidateGains = value != 0;
    else if (name == "describedBonus")
        t.describedBonus = static_cast<float>(value);
    else if (name == "jitterBelow")
        t.jitterBelow = static_cast<float>(value);
    else if (name == "gainContour")
        t.gainContour = value != 0;
    else if (name == "contourWindow")
        t.contourWindow = static_cast<float>(value);
    else if (name == "contourMeanBonus")
        t.contourMeanBonus = static_cast<float>(value);
    else if (name == "contourLead")
        t.contourLead = static_cast<float>(value);
    else if (name == "smoothPitch")
        t.smoothPitch = value != 0;
    else if (name == "voicingReach")
        t.voicingReach = static_cast<float>(value);
    else if (name == "nearestGain1")
        t.nearestGain1 = value != 0;
    else if (name == "envelopePeakWeight")
        t.envelopePeakWeight = static_cast<float>(value);
    else
        throw std::runtime_error("VT15 has no setting " + name);
    if (t.lsfFinalists < 1 || t.lsfFinalists > 16 || t.pitchCandidates < 1 ||
        t.pitchCandidates > vntr::vt15::kMaxPitchCandidates || t.pitchContinuity < 0.0f || t.voicingReach < 0.0f ||
        t.contourWindow < 20.0f || t.contourWindow > 160.0f)
        throw std::runtime_error("setting out of range: " + assignment);
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Scores an encoder setting of VT120 or VT15 against the described encoder"};
    std::string codec;
    std::vector<std::string> sets;
    std::vector<std::string> files;
    bool tuned = false;
    int jobs = 1;
    int delay = -1;
    app.add_option("codec", codec, "vt120 or vt15")->required()->check(CLI::IsMember({"vt120", "vt15"}));
    app.add_option("--set", sets, "NAME=VALUE, on top of the described settings (or the tuned ones with --tuned)");
    app.add_flag("--tuned", tuned, "start from the tuned encoder's settings (VT120)");
    app.add_option("--delay", delay,
                   "the decoded signal's lag in samples, as vtbench32 --batch reports it for the codec "
                   "(default: found per file)");
    app.add_option("-j", jobs, "files measured at once")->check(CLI::Range(1, 16));
    app.add_option("files", files, "8 kHz speech (.wav or raw 16-bit)")->required();
    CLI11_PARSE(app, argc, argv);
    try {
        vntr::vt120::EncoderTuning t120 = tuned ? vntr::vt120::TunedEncoder() : vntr::vt120::EncoderTuning{};
        vntr::vt15::EncoderTuning t15{}; // VT15 has no tuned settings yet
        if (tuned && codec == "vt15") throw std::runtime_error("VT15 has no tuned settings: give them with --set");
        for (const auto &s : sets) {
            if (codec == "vt120")
                Set(s, t120);
            else
                Set(s, t15);
        }
        std::vector<std::vector<int16_t>> speech;
        for (const auto &f : files) {
            auto s = vntr::train::ReadSpeech(f);
            if (s.sampleRate != 8000) throw std::runtime_error(f + ": not 8000 Hz");
            speech.push_back(std::move(s.samples));
        }
        std::vector<Scores> base(files.size());
        std::vector<Scores> trial(files.size());
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i; (i = next++) < files.size();) {
                if (codec == "vt120") {
                    base[i] = Measure(speech[i], RunVt120(speech[i], {}), delay);
                    trial[i] = Measure(speech[i], RunVt120(speech[i], t120), delay);
                } else {
                    base[i] = Measure(speech[i], RunVt15(speech[i], {}), delay);
                    trial[i] = Measure(speech[i], RunVt15(speech[i], t15), delay);
                }
            }
        };
        std::vector<std::thread> threads;
        for (int j = 0; j < jobs; ++j) threads.emplace_back(work);
        for (auto &t : threads) t.join();

        std::printf("%-16s %8s %8s %7s %7s %7s %7s %8s %8s\n", "file", "ViSQOL", "tuned", "LSD", "tuned", "SNR",
                    "tuned", "bit/s", "tuned");
        Scores mb, mt;
        int better = 0, betterVisqol = 0, betterLsd = 0;
        double encodeBase = 0, encodeTrial = 0, audio = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string name = files[i].substr(files[i].find_last_of('/') + 1);
            const Scores &b = base[i];
            const Scores &t = trial[i];
            std::printf("%-16s %8.4f %8.4f %7.3f %7.3f %7.2f %7.2f %8.0f %8.0f\n", name.c_str(), b.visqol, t.visqol,
                        b.lsd, t.lsd, b.snr, t.snr, b.bitRate, t.bitRate);
            mb.visqol += b.visqol / files.size();
            mt.visqol += t.visqol / files.size();
            mb.lsd += b.lsd / files.size();
            mt.lsd += t.lsd / files.size();
            mb.snr += b.snr / files.size();
            mt.snr += t.snr / files.size();
            mb.bitRate += b.bitRate / files.size();
            mt.bitRate += t.bitRate / files.size();
            if (t.visqol > b.visqol && t.lsd < b.lsd) ++better;
            betterVisqol += t.visqol > b.visqol ? 1 : 0;
            betterLsd += t.lsd < b.lsd ? 1 : 0;
            encodeBase += b.seconds;
            encodeTrial += t.seconds;
            audio += static_cast<double>(speech[i].size()) / 8000.0;
        }
        std::printf("%-16s %8.4f %8.4f %7.3f %7.3f %7.2f %7.2f %8.0f %8.0f\n", "mean", mb.visqol, mt.visqol, mb.lsd,
                    mt.lsd, mb.snr, mt.snr, mb.bitRate, mt.bitRate);
        std::printf("better ViSQOL on %d, lower LSD on %d, both on %d of %zu; encoding %.0fx -> %.0fx real time\n",
                    betterVisqol, betterLsd, better, files.size(), audio / encodeBase, audio / encodeTrial);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
