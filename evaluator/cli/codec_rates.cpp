#include "cli/codec_rates.hpp"

#include "cli/console_frontend.hpp"
#include "cli/conversion.hpp"
#include "cli/kept_files.hpp"
#include "core/quality.hpp"
#include "core/speech_level.hpp"
#include "core/wavefile.hpp"

#include <vntr/platform/regular_file.hpp>

#include <sndfile.h>
#include <soxr.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>

namespace vntr::cli {
namespace {

constexpr std::array<int32_t, 9> kRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::size_t kBlockFrames = 4096;

struct SndFileCloser {
    void operator()(SNDFILE *f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

// Opens an original for libsndfile, never waiting on a named pipe or a
// device: only a regular file is handed to it.
SndFile OpenSource(const std::string &path, SF_INFO &info, std::string &error) {
    info = SF_INFO{};
    const int fd = platform::OpenRegularFile(path, O_RDONLY);
    if (fd < 0) {
        error = "cannot read " + path + ": " + (errno == EINVAL ? "not a regular file" : std::strerror(errno));
        return nullptr;
    }
    SndFile file(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
    if (!file) error = "cannot read " + path + ": " + sf_strerror(nullptr);
    return file;
}

std::string Encoding(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    std::string kind;
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        kind = "8-bit PCM";
        break;
    case SF_FORMAT_PCM_16:
        kind = "16-bit PCM";
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
        kind = "other samples";
        break;
    }
    if (major == SF_FORMAT_FLAC) kind = "FLAC, " + kind;
    return kind;
}

// Triangular dither of one step peak from a fixed generator.
class Dither {
public:
    double Next() { return Uniform() + Uniform() - 1.0; }

private:
    double Uniform() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) / 9007199254740992.0;
    }
    uint64_t state_ = 0x2545F4914F6CDD1Dull;
};

void OrderRows(std::vector<report::CodecResult> &rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const report::CodecResult &a, const report::CodecResult &b) {
        if (a.Ok() != b.Ok()) return a.Ok();
        return a.Ok() && a.bitRate < b.bitRate;
    });
    int16_t next = 0;
    for (auto &row : rows) row.row = row.Ok() ? next++ : int16_t{-1};
}

} // namespace

int32_t CodecRate(uint32_t mask, int32_t rate) {
    if ((mask & evaluator::RateFlag(rate)) != 0) return rate;
    int32_t best = 0;
    for (const int32_t candidate : kRates) {
        if ((mask & evaluator::RateFlag(candidate)) == 0) continue;
        const long distance = std::labs(static_cast<long>(candidate) - rate);
        if (best == 0 || distance <= std::labs(static_cast<long>(best) - rate)) best = candidate;
    }
    return best;
}

std::string SourceInfo::FormatText() const {
    return std::to_string(rate) + " Hz, " + encoding + ", " +
           (channels == 1 ? "mono" : std::to_string(channels) + " channels");
}

bool ProbeSource(const std::string &path, SourceInfo &info, std::string &error) {
    SF_INFO sf;
    const SndFile file = OpenSource(path, sf, error);
    if (!file) return false;
    info.rate = sf.samplerate;
    info.channels = static_cast<unsigned>(sf.channels);
    info.frames = sf.frames > 0 ? static_cast<uint64_t>(sf.frames) : 0;
    info.encoding = Encoding(sf.format);
    return true;
}

bool MeasureSourceLevel(const std::string &path, double &activeLevelDb, bool &active, std::string &error) {
    SF_INFO sf;
    const SndFile file = OpenSource(path, sf, error);
    if (!file) return false;
    evaluator::SpeechLevelMeter meter(sf.samplerate);
    std::vector<float> in(kBlockFrames * static_cast<std::size_t>(sf.channels));
    std::vector<float> mono(kBlockFrames);
    for (sf_count_t got; (got = sf_readf_float(file.get(), in.data(), kBlockFrames)) > 0;) {
        for (sf_count_t f = 0; f < got; ++f) {
            double sum = 0;
            for (int c = 0; c < sf.channels; ++c) sum += in[static_cast<std::size_t>(f * sf.channels + c)];
            mono[static_cast<std::size_t>(f)] = static_cast<float>(32768.0 * sum / sf.channels);
        }
        meter.Add(std::span<const float>(mono).first(static_cast<std::size_t>(got)));
    }
    const evaluator::SpeechLevel level = meter.Result();
    active = level.active;
    activeLevelDb = level.activeLevelDb;
    return true;
}

bool WriteCopy(const std::string &source, const CopyTarget &target, const std::string &destination,
               evaluator::Frontend &ui, const std::atomic<bool> &cancel, std::string &error) {
    SF_INFO sf;
    const SndFile file = OpenSource(source, sf, error);
    if (!file) return false;
    const auto inChannels = static_cast<std::size_t>(sf.channels);
    const std::size_t channels = target.mono || inChannels > 2 ? 1 : inChannels;
    const bool resample = target.rate != sf.samplerate;
    const bool exact = (sf.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 && !resample && target.gainDb == 0 &&
                       channels == inChannels;
    evaluator::PcmFormat format;
    format.channels = static_cast<uint16_t>(channels);
    format.samplesPerSec = static_cast<uint32_t>(target.rate);
    format.blockAlign = static_cast<uint16_t>(2 * channels);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    format.bitsPerSample = 16;
    auto copy = evaluator::CreateWaveForWriting(ui, destination, format);
    if (!copy) {
        error = "cannot create the copy " + destination;
        return false;
    }
    soxr_t resampler = nullptr;
    if (resample) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t failure = nullptr;
        const std::lock_guard<std::mutex> hold(evaluator::ResamplerLock());
        resampler =
            soxr_create(sf.samplerate, target.rate, static_cast<unsigned>(channels), &failure, &io, &quality, nullptr);
        if (resampler == nullptr) {
            error = std::string("cannot resample: ") + soxr_strerror(failure);
            evaluator::CloseWave(ui, *copy);
            return false;
        }
    }
    struct ResamplerGuard {
        soxr_t &r;
        ~ResamplerGuard() {
            if (r != nullptr) {
                const std::lock_guard<std::mutex> hold(evaluator::ResamplerLock());
                soxr_delete(r);
            }
        }
    } guard{resampler};

    const double gain = std::pow(10.0, target.gainDb / 20.0);
    Dither dither;
    std::vector<unsigned char> bytes;
    auto put = [&](const float *samples, std::size_t count) {
        bytes.clear();
        for (std::size_t i = 0; i < count; ++i) {
            const long v = std::clamp<long>(std::lround(32768.0 * samples[i] + dither.Next()), -32768, 32767);
            bytes.push_back(static_cast<unsigned char>(v & 0xFF));
            bytes.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
        }
        return copy->WriteData(bytes.data(), bytes.size()) == bytes.size();
    };
    std::vector<float> in(kBlockFrames * inChannels);
    std::vector<float> mixed(kBlockFrames * channels);
    std::vector<float> out;
    std::vector<short> shorts(kBlockFrames * inChannels);
    bool ok = true;
    auto resampled = [&](const float *frames, std::size_t count, bool last) {
        const std::size_t room = static_cast<std::size_t>(std::ceil(static_cast<double>(std::max(count, kBlockFrames)) *
                                                                    target.rate / sf.samplerate)) +
                                 64;
        out.resize(room * channels);
        for (;;) {
            std::size_t used = 0;
            std::size_t made = 0;
            soxr_error_t failure;
            {
                const std::lock_guard<std::mutex> hold(evaluator::ResamplerLock());
                failure =
                    soxr_process(resampler, last ? nullptr : frames, last ? 0 : count, &used, out.data(), room, &made);
            }
            if (failure != nullptr) {
                error = std::string("cannot resample: ") + soxr_strerror(failure);
                return false;
            }
            if (!put(out.data(), made * channels)) {
                error = "cannot write the copy " + destination;
                return false;
            }
            if (!last || made == 0) return true;
        }
    };
    while (ok) {
        if (cancel.load()) {
            error = "interrupted";
            ok = false;
            break;
        }
        if (exact) {
            const sf_count_t got = sf_readf_short(file.get(), shorts.data(), kBlockFrames);
            if (got <= 0) break;
            const auto n = static_cast<std::size_t>(got) * channels;
            bytes.clear();
            for (std::size_t i = 0; i < n; ++i) {
                bytes.push_back(static_cast<unsigned char>(shorts[i] & 0xFF));
                bytes.push_back(static_cast<unsigned char>((shorts[i] >> 8) & 0xFF));
            }
            if (copy->WriteData(bytes.data(), bytes.size()) != bytes.size()) {
                error = "cannot write the copy " + destination;
                ok = false;
            }
            continue;
        }
        const sf_count_t got = sf_readf_float(file.get(), in.data(), kBlockFrames);
        if (got <= 0) break;
        const auto frames = static_cast<std::size_t>(got);
        for (std::size_t f = 0; f < frames; ++f) {
            if (channels == inChannels) {
                for (std::size_t c = 0; c < channels; ++c)
                    mixed[f * channels + c] = static_cast<float>(gain * in[f * inChannels + c]);
            } else {
                double sum = 0;
                for (std::size_t c = 0; c < inChannels; ++c) sum += in[f * inChannels + c];
                mixed[f] = static_cast<float>(gain * sum / static_cast<double>(inChannels));
            }
        }
        if (resample) {
            ok = resampled(mixed.data(), frames, false);
        } else if (!put(mixed.data(), frames * channels)) {
            error = "cannot write the copy " + destination;
            ok = false;
        }
    }
    if (ok && resample) ok = resampled(nullptr, 0, true);
    const bool closed = evaluator::CloseWave(ui, *copy);
    if (ok && !closed) error = "cannot write the copy " + destination;
    return ok && closed;
}

bool RunAtCodecRates(evaluator::Evaluator &ev, evaluator::Frontend &ui, const std::string &source, const ModePlan &plan,
                     bool mono, std::optional<double> level, const std::string &keepDir, const FileSet &originals,
                     std::vector<std::string> &problems, RatesRun &run, std::string &error) {
    if (!ProbeSource(source, run.source, error)) return false;
    CopyTarget target;
    target.mono = mono && run.source.channels >= 2;
    if (level) {
        bool active = false;
        if (!MeasureSourceLevel(source, run.activeLevelDb, active, error)) return false;
        run.levelled = true;
        run.gainDb = active ? *level - run.activeLevelDb : 0.0;
        if (!active) run.activeLevelDb = 0;
        target.gainDb = run.gainDb;
    }
    // The codecs by the rate they are fed at.
    std::map<int32_t, ModePlan> groups;
    for (std::size_t i = 0; i < plan.modes.size() && i < ev.SlotCount(); ++i) {
        if (plan.modes[i].empty()) continue;
        const int32_t rate = CodecRate(ev.Slots()[i].info.formatMask, run.source.rate);
        ModePlan &group = groups[rate];
        group.modes.resize(plan.modes.size());
        group.modes[i] = plan.modes[i];
    }
    std::vector<std::string> rateTexts;
    for (auto &[rate, group] : groups) {
        if (rate == 0) continue;
        target.rate = rate;
        const std::string copy = ev.Temp().dir + "~t_rate" + std::to_string(rate) + ".wav";
        struct Remove {
            const std::string &path;
            ~Remove() { unlink(path.c_str()); }
        } remove{copy};
        if (!WriteCopy(source, target, copy, ui, ConsoleFrontend::InterruptFlag(), error)) {
            run.cancelled = ConsoleFrontend::InterruptFlag().load();
            return false;
        }
        run.rates.push_back(rate);
        rateTexts.push_back(std::to_string(rate) + " Hz");
        if (!ev.OpenOriginalFile(copy)) {
            error = "cannot open the copy at " + std::to_string(rate) + " Hz";
            return false;
        }
        std::vector<report::CodecResult> rows;
        auto keep = [&](std::size_t) {
            if (!keepDir.empty()) KeepFiles(ui, ev, keepDir, originals, problems);
        };
        if (!RunModes(ev, group, rows, keep)) {
            run.cancelled = true;
            return false;
        }
        for (auto &row : rows) run.rows.push_back(std::move(row));
        if (!keepDir.empty()) {
            const std::string kept = keepDir + "/reference " + std::to_string(rate) + " Hz.wav";
            if (originals.Holds(kept)) {
                problems.push_back("will not keep " + kept + ": it is an original of this run");
            } else if (!evaluator::CopyFile(ui, copy, kept)) {
                problems.push_back("could not keep " + kept);
            }
        }
    }
    OrderRows(run.rows);
    std::string rates;
    for (std::size_t i = 0; i < rateTexts.size(); ++i) {
        rates += (i == 0 ? "" : i + 1 == rateTexts.size() ? " and " : ", ") + rateTexts[i];
    }
    run.note = "read as " + run.source.encoding + "; each codec at its own rate (" + rates + ")";
    if (target.mono) run.note += ", mixed down to mono";
    if (run.levelled) {
        char text[128];
        if (run.gainDb == 0 && run.activeLevelDb == 0) {
            std::snprintf(text, sizeof text, ", no active speech to level");
        } else {
            std::snprintf(text, sizeof text, ", active speech level %.2f dBov scaled by %+.2f dB to %.2f dBov",
                          run.activeLevelDb, run.gainDb, *level);
        }
        run.note += text;
    }
    return true;
}

} // namespace vntr::cli
