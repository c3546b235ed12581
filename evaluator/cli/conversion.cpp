#include "cli/conversion.hpp"

#include "core/quality.hpp"
#include "core/wave_samples.hpp"
#include "core/wavefile.hpp"

#include <soxr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace vntr::cli {
namespace {

constexpr std::array<int32_t, 9> kRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::size_t kBlockFrames = 4096;

// libsoxr's table cache is shared with the core's resampling (the ViSQOL
// score brings signals to 16 kHz): one lock for both.
using evaluator::ResamplerLock;

bool Takes(uint32_t mask, int32_t rate) { return (mask & evaluator::RateFlag(rate)) != 0; }

int16_t Clamp16(double v) { return static_cast<int16_t>(std::clamp<long>(std::lround(v), -32768, 32767)); }

// Collects converted frames and writes them to the copy.
class CopyWriter {
public:
    CopyWriter(evaluator::OpenWave &wave, unsigned bits) : wave_(wave), bits_(bits) {}
    bool Put(const int16_t *samples, std::size_t count) {
        bytes_.clear();
        for (std::size_t i = 0; i < count; ++i) {
            if (bits_ == 8) {
                bytes_.push_back(static_cast<unsigned char>(std::clamp<long>(std::lround(samples[i] / 256.0) + 128, 0, 255)));
            } else {
                bytes_.push_back(static_cast<unsigned char>(samples[i] & 0xFF));
                bytes_.push_back(static_cast<unsigned char>((samples[i] >> 8) & 0xFF));
            }
        }
        return wave_.WriteData(bytes_.data(), bytes_.size()) == bytes_.size();
    }

private:
    evaluator::OpenWave &wave_;
    unsigned bits_;
    std::vector<unsigned char> bytes_;
};

struct Resampler {
    soxr_t handle = nullptr;
    ~Resampler() {
        if (handle != nullptr) {
            const std::lock_guard<std::mutex> hold(ResamplerLock());
            soxr_delete(handle);
        }
    }
};

} // namespace

ConversionPlan PlanConversion(int32_t rate, unsigned channels, const std::vector<uint32_t> &codecMasks, bool resample,
                              bool mono) {
    ConversionPlan plan;
    plan.toMono = mono && channels == 2;
    if (!resample || codecMasks.empty()) return plan;
    bool taken = false;
    for (const uint32_t mask : codecMasks) taken = taken || Takes(mask, rate) || (rate == 11025 && Takes(mask, 8000));
    if (taken) return plan;
    int32_t best = 0;
    for (const int32_t candidate : kRates) {
        bool any = false;
        for (const uint32_t mask : codecMasks) any = any || Takes(mask, candidate);
        if (!any) continue;
        const long distance = std::labs(static_cast<long>(candidate) - rate);
        if (best == 0 || distance <= std::labs(static_cast<long>(best) - rate)) best = candidate;
    }
    plan.toRate = best;
    return plan;
}

std::string ConversionNote(int32_t fromRate, const ConversionPlan &plan) {
    std::string note;
    if (plan.toRate != 0) note = "resampled from " + std::to_string(fromRate) + " Hz to " + std::to_string(plan.toRate) + " Hz";
    if (plan.toMono) note += std::string(note.empty() ? "" : ", ") + "mixed down to mono";
    return note;
}

bool ConvertOriginal(const std::string &source, const ConversionPlan &plan, const std::string &destination,
                     evaluator::Frontend &ui, const std::atomic<bool> &cancel, std::string &error) {
    evaluator::WaveSampleReader reader;
    if (!reader.Open(source)) {
        error = "cannot read " + source + " to convert it";
        return false;
    }
    const unsigned inChannels = reader.Channels();
    const unsigned channels = plan.toMono ? 1 : inChannels;
    const unsigned bits = plan.toRate != 0 ? 16 : reader.BitsPerSample();
    const auto rate = static_cast<uint32_t>(plan.toRate != 0 ? plan.toRate : reader.SampleRate());
    evaluator::PcmFormat format;
    format.channels = static_cast<uint16_t>(channels);
    format.samplesPerSec = rate;
    format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = rate * format.blockAlign;
    format.bitsPerSample = static_cast<uint16_t>(bits);
    auto copy = evaluator::CreateWaveForWriting(ui, destination, format);
    if (!copy) {
        error = "cannot create the converted copy " + destination;
        return false;
    }
    CopyWriter writer(*copy, bits);
    Resampler resampler;
    if (plan.toRate != 0) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t failure = nullptr;
        const std::lock_guard<std::mutex> hold(ResamplerLock());
        resampler.handle = soxr_create(reader.SampleRate(), plan.toRate, channels, &failure, &io, &quality, nullptr);
        if (resampler.handle == nullptr) {
            error = std::string("cannot resample: ") + soxr_strerror(failure);
            evaluator::CloseWave(ui, *copy);
            return false;
        }
    }
    std::vector<int16_t> in(kBlockFrames * inChannels);
    std::vector<int16_t> mixed(kBlockFrames * channels);
    std::vector<float> floats;
    std::vector<float> resampled;
    std::vector<int16_t> out;
    // Resamples `frames` frames of `mixed` (none: the end of the input) and writes what comes out.
    auto resample = [&](std::size_t frames, bool last) -> bool {
        floats.resize(frames * channels);
        for (std::size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(mixed[i] / 32768.0);
        const std::size_t room = static_cast<std::size_t>(
            std::ceil(static_cast<double>(std::max<std::size_t>(frames, kBlockFrames)) * plan.toRate / reader.SampleRate())) + 64;
        resampled.resize(room * channels);
        for (;;) {
            std::size_t used = 0;
            std::size_t made = 0;
            soxr_error_t failure;
            {
                const std::lock_guard<std::mutex> hold(ResamplerLock());
                failure = soxr_process(resampler.handle, last ? nullptr : floats.data(), last ? 0 : frames, &used,
                                       resampled.data(), room, &made);
            }
            if (failure != nullptr) {
                error = std::string("cannot resample: ") + soxr_strerror(failure);
                return false;
            }
            out.resize(made * channels);
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = Clamp16(resampled[i] * 32768.0);
            if (!writer.Put(out.data(), out.size())) {
                error = "cannot write the converted copy " + destination;
                return false;
            }
            // Without input the resampler is drained until it gives nothing more.
            if (!last || made == 0) return true;
        }
    };
    bool ok = true;
    while (ok) {
        if (cancel.load()) {
            error = "interrupted";
            ok = false;
            break;
        }
        const std::size_t frames = reader.ReadInterleaved(in);
        for (std::size_t f = 0; f < frames; ++f) {
            if (plan.toMono) {
                mixed[f] = Clamp16((static_cast<double>(in[2 * f]) + in[2 * f + 1]) / 2.0);
            } else {
                std::copy_n(&in[f * inChannels], inChannels, &mixed[f * channels]);
            }
        }
        if (plan.toRate != 0) {
            if (frames > 0) ok = resample(frames, false);
        } else if (frames > 0 && !writer.Put(mixed.data(), frames * channels)) {
            error = "cannot write the converted copy " + destination;
            ok = false;
        }
        if (frames < kBlockFrames) break;
    }
    if (ok && plan.toRate != 0) ok = resample(0, true);
    const bool closed = evaluator::CloseWave(ui, *copy);
    if (ok && !closed) error = "cannot write the converted copy " + destination;
    return ok && closed;
}

} // namespace vntr::cli
