#include "cli/conversion.hpp"

#include "core/speech_level.hpp"
#include "core/wave_samples.hpp"
#include "core/wavefile.hpp"

#include <vntr/platform/regular_file.hpp>

#include <fcntl.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <span>

namespace vntr::cli {
namespace {

constexpr std::size_t kBlockFrames = 4096;

int16_t Clamp16(double v) {
    return static_cast<int16_t>(std::clamp<long>(std::lround(v), -32768, 32767));
}

// Collects converted frames and writes them to the copy.
class CopyWriter {
public:
    CopyWriter(evaluator::OpenWave &wave, unsigned bits) : wave_(wave), bits_(bits) {}
    bool Put(const int16_t *samples, std::size_t count) {
        bytes_.clear();
        for (std::size_t i = 0; i < count; ++i) {
            if (bits_ == 8) {
                bytes_.push_back(
                    static_cast<unsigned char>(std::clamp<long>(std::lround(samples[i] / 256.0) + 128, 0, 255)));
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

} // namespace

std::string OtherEncoding(const std::string &path) {
    SF_INFO info{};
    // Only a regular file is looked at (a named pipe would keep the open
    // waiting); what is not one is refused by the wave check that follows.
    const int fd = platform::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return "";
    SNDFILE *file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) return "";
    sf_close(file);
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int sub = info.format & SF_FORMAT_SUBMASK;
    std::string kind;
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
        if (major == SF_FORMAT_WAV) return "";
        kind = sub == SF_FORMAT_PCM_16 ? "16-bit PCM" : "8-bit PCM";
        break;
    case SF_FORMAT_PCM_24:
        kind = "24-bit PCM";
        break;
    case SF_FORMAT_PCM_32:
        kind = "32-bit PCM";
        break;
    case SF_FORMAT_FLOAT:
        kind = "32-bit float PCM";
        break;
    case SF_FORMAT_DOUBLE:
        kind = "64-bit float PCM";
        break;
    case SF_FORMAT_ULAW:
        kind = "mu-law";
        break;
    case SF_FORMAT_ALAW:
        kind = "A-law";
        break;
    default:
        kind = "not 8- or 16-bit PCM";
        break;
    }
    SF_FORMAT_INFO container{};
    container.format = major;
    if (major == SF_FORMAT_WAVEX) kind += " with an extensible header";
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX &&
        sf_command(nullptr, SFC_GET_FORMAT_INFO, &container, sizeof container) == 0 && container.name != nullptr) {
        kind = std::string(container.name) + ", " + kind;
    }
    return kind;
}

std::string OtherEncodingMessage(const std::string &path, const std::string &encoding) {
    return "File " + path + " is " + encoding + ": use --resample";
}

bool PlanLevel(const std::string &path, double targetDb, ConversionPlan &plan) {
    evaluator::WaveSampleReader reader;
    if (!reader.Open(path)) return false;
    evaluator::SpeechLevelMeter meter(reader.SampleRate());
    std::vector<float> block(kBlockFrames);
    for (std::size_t got; (got = reader.ReadMono(block)) > 0;) meter.Add(std::span<const float>(block).first(got));
    const evaluator::SpeechLevel level = meter.Result();
    plan.level = true;
    plan.targetDb = targetDb;
    plan.activeLevelDb = level.active ? level.activeLevelDb : 0.0;
    plan.gainDb = evaluator::GainToLevel(level, targetDb);
    return true;
}

ConversionPlan PlanConversion(unsigned channels, bool mono) {
    ConversionPlan plan;
    plan.toMono = mono && channels == 2;
    return plan;
}

std::string ConversionNote(const ConversionPlan &plan) {
    std::string note;
    if (plan.toMono) note += std::string(note.empty() ? "" : ", ") + "mixed down to mono";
    if (plan.level) {
        note += std::string(note.empty() ? "" : ", ");
        if (plan.gainDb == 0 && plan.activeLevelDb == 0) {
            note += "no active speech to level";
        } else {
            char text[128];
            std::snprintf(text, sizeof text, "active speech level %.2f dBov scaled by %+.2f dB to %.2f dBov",
                          plan.activeLevelDb, plan.gainDb, plan.targetDb);
            note += text;
        }
    }
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
    const unsigned bits = plan.level ? 16 : reader.BitsPerSample();
    const double gain = plan.level ? std::pow(10.0, plan.gainDb / 20.0) : 1.0;
    const auto rate = static_cast<uint32_t>(reader.SampleRate());
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
    std::vector<int16_t> in(kBlockFrames * inChannels);
    std::vector<int16_t> mixed(kBlockFrames * channels);
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
                mixed[f] = Clamp16(gain * (static_cast<double>(in[2 * f]) + in[2 * f + 1]) / 2.0);
            } else if (plan.level) {
                for (unsigned c = 0; c < channels; ++c)
                    mixed[f * channels + c] = Clamp16(gain * in[f * inChannels + c]);
            } else {
                std::copy_n(&in[f * inChannels], inChannels, &mixed[f * channels]);
            }
        }
        if (frames > 0 && !writer.Put(mixed.data(), frames * channels)) {
            error = "cannot write the converted copy " + destination;
            ok = false;
        }
        if (frames < kBlockFrames) break;
    }
    const bool closed = evaluator::CloseWave(ui, *copy);
    if (ok && !closed) error = "cannot write the converted copy " + destination;
    return ok && closed;
}

} // namespace vntr::cli
