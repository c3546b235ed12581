#include "gui/logic/signal_set.hpp"

#include "core/quality.hpp"
#include "gui/logic/timeline_track.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace vntr::gui {

bool WaveFileSamples::Open(const std::string &path) {
    blockStart_ = -1;
    position_ = 0;
    return reader_.Open(path);
}

std::size_t WaveFileSamples::Read(int64_t from, std::span<float> out) {
    if (from < 0 || from >= Length() || out.empty()) return 0;
    const auto n = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(out.size()), Length() - from));
    auto seek = [&](int64_t at) {
        if (position_ == at) return true;
        if (!reader_.Seek(static_cast<uint64_t>(at))) return false;
        position_ = at;
        return true;
    };
    if (static_cast<int64_t>(n) >= kBlock) {
        // Long reads go straight to the file.
        if (!seek(from)) return 0;
        const std::size_t got = reader_.ReadMono(out.first(n));
        position_ += static_cast<int64_t>(got);
        return got;
    }
    // Short ones (the ragged ends of a picture's columns, one frame of a
    // spectrogram) through the block held.
    std::size_t done = 0;
    while (done < n) {
        const int64_t at = from + static_cast<int64_t>(done);
        const int64_t start = at / kBlock * kBlock;
        if (start != blockStart_) {
            blockStart_ = -1;
            if (!seek(start)) break;
            block_.resize(static_cast<std::size_t>(kBlock));
            block_.resize(reader_.ReadMono(block_));
            position_ += static_cast<int64_t>(block_.size());
            blockStart_ = start;
        }
        const int64_t inBlock = at - start;
        if (inBlock >= static_cast<int64_t>(block_.size())) break; // the file ended early
        const std::size_t take = std::min(n - done, block_.size() - static_cast<std::size_t>(inBlock));
        std::copy_n(block_.begin() + inBlock, take, out.begin() + static_cast<std::ptrdiff_t>(done));
        done += take;
    }
    return done;
}

const WaveSummary &Signal::Summary() const {
    Lazy &lazy = *lazy_;
    if (lazy.built) return lazy.summary;
    lazy.built = true;
    if (length <= 0 || !read) return lazy.summary;
    // One pass over the signal: the summary, and the energy of each hop of
    // the spectrogram for its loudest bin.
    const int hop = spectrum ? SpectrogramFrames(sampleRate, 1).Layout().hop : 0;
    lazy.hopEnergy.assign(hop > 0 ? static_cast<std::size_t>((length + hop - 1) / hop) : 0, 0.0);
    const WaveSummary::Reader tap = [this, &lazy, hop](int64_t from, std::span<float> out) {
        const std::size_t got = read(from, out);
        for (std::size_t i = 0; hop > 0 && i < got;) {
            // The rest of the hop that sample i falls in.
            const int64_t at = from + static_cast<int64_t>(i);
            const auto h = static_cast<std::size_t>(at / hop);
            const std::size_t end =
                std::min(got, i + static_cast<std::size_t>((static_cast<int64_t>(h) + 1) * hop - at));
            double energy = 0;
            for (std::size_t k = i; k < end; ++k) energy += static_cast<double>(out[k]) * out[k];
            if (h < lazy.hopEnergy.size()) lazy.hopEnergy[h] += energy;
            i = end;
        }
        return got;
    };
    lazy.summary.Build(length, tap);
    const auto [low, high] = lazy.summary.Range(0, length, read);
    lazy.peak = std::max(std::abs(low), std::abs(high));
    return lazy.summary;
}

float Signal::Peak() const {
    Summary();
    return lazy_->peak;
}

double Signal::SpectrumTopDb() const {
    Summary();
    Lazy &lazy = *lazy_;
    if (!lazy.topDbKnown) {
        lazy.topDbKnown = true;
        if (length > 0 && read)
            lazy.topDb = SpectrumCeilingDb(sampleRate, length, lazy.hopEnergy, read, kSpectrumStepDb);
        lazy.hopEnergy = {};
    }
    return lazy.topDb;
}

void Summarise(std::span<const Signal *const> wanted, int threads) {
    std::vector<const Signal *> pending;
    for (const Signal *s : wanted) {
        const auto copy = [s](const Signal *p) { return p->SharesReadingsWith(*s); };
        if (s != nullptr && !s->Summarised() && std::none_of(pending.begin(), pending.end(), copy))
            pending.push_back(s);
    }
    std::atomic<std::size_t> next = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < pending.size(); i = next++) {
            pending[i]->Summary();
            if (pending[i]->spectrum) pending[i]->SpectrumTopDb();
        }
    };
    const auto helpers = static_cast<std::size_t>(std::max(0, std::min(threads, static_cast<int>(pending.size())) - 1));
    std::vector<std::jthread> pool;
    for (std::size_t t = 0; t < helpers; ++t) pool.emplace_back(work);
    work();
}

bool LoadSignal(const std::string &path, const std::string &label, Signal &signal) {
    signal = Signal{};
    signal.label = label;
    auto file = std::make_shared<WaveFileSamples>();
    if (!file->Open(path) || file->Length() == 0) return false;
    signal.path = path;
    signal.sampleRate = file->Rate();
    signal.length = file->Length();
    signal.read = [file](int64_t from, std::span<float> out) { return file->Read(from, out); };
    return true;
}

int SignalSet::Find(const std::string &name) const {
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        if (decoded[i].name == name) return static_cast<int>(i);
    }
    return -1;
}

bool SignalStack::IsShown(int trace) const {
    return std::find(shown_.begin(), shown_.end(), trace) != shown_.end();
}

void SignalStack::Replace(SignalSet set, const std::vector<int> &shown) {
    set_ = std::move(set);
    shown_.clear();
    const int traces = static_cast<int>(set_.decoded.size());
    for (const int t : shown) {
        if (t >= 0 && t < traces) shown_.push_back(t);
    }
    std::sort(shown_.begin(), shown_.end());
    shown_.erase(std::unique(shown_.begin(), shown_.end()), shown_.end());
    ++generation_;
}

void SignalStack::Clear() {
    Replace(SignalSet{}, {});
}

bool SignalStack::SetShown(int trace, bool shown) {
    if (trace < 0 || trace >= static_cast<int>(set_.decoded.size())) return false;
    const bool was = IsShown(trace);
    if (shown && !was) {
        shown_.insert(std::upper_bound(shown_.begin(), shown_.end(), trace), trace);
    } else if (!shown && was) {
        shown_.erase(std::find(shown_.begin(), shown_.end(), trace));
    }
    return true;
}

bool LoadDecoded(const DecodedSource &source, int originalRate, DecodedTrace &trace) {
    trace = DecodedTrace{};
    trace.name = source.name;
    if (!LoadSignal(source.decodedPath, source.name, trace.decoded)) return false;
    auto input = std::make_shared<WaveFileSamples>();
    auto decoded = std::make_shared<WaveFileSamples>();
    if (!input->Open(source.inputPath) || !decoded->Open(source.decodedPath) ||
        input->Rate() != trace.decoded.sampleRate) {
        return false;
    }
    const int rate = trace.decoded.sampleRate;
    const int delay = static_cast<int>(std::clamp<int64_t>(source.delaySamples, 0, trace.decoded.length));
    trace.delaySamples = delay;
    trace.ownRate = rate != originalRate;
    evaluator::Quality quality = source.quality;
    if (!quality.valid) {
        // Not measured by the run: measured here, from the files.
        evaluator::CompareWorkspace workspace;
        evaluator::CompareOptions options;
        options.delay = delay;
        quality = evaluator::MeasureQuality(source.inputPath, source.decodedPath, options, workspace);
    }
    trace.frames = quality.frames;
    trace.gain = quality.valid ? quality.levelGain : 1.0;
    trace.visqolValid = quality.visqolValid;
    trace.visqolNsim = quality.visqolNsim;
    trace.visqol = quality.visqolPatches;
    trace.difference.label = "Difference";
    trace.difference.spectrum = false;
    trace.difference.sampleRate = rate;
    trace.difference.length = std::max<int64_t>(0, std::min(input->Length(), decoded->Length() - delay));
    auto buffer = std::make_shared<std::vector<float>>();
    trace.difference.read = [input, decoded, delay, buffer](int64_t from, std::span<float> out) {
        const std::size_t n = input->Read(from, out);
        buffer->resize(n);
        const std::size_t m = decoded->Read(from + delay, *buffer);
        for (std::size_t i = 0; i < m; ++i) out[i] -= (*buffer)[i];
        return std::min(n, m);
    };
    return true;
}

bool LoadSignalSet(const std::string &originalPath, const std::string &label, const std::vector<DecodedSource> &sources,
                   SignalSet &set, std::vector<std::string> &unreadable) {
    set.decoded.clear();
    unreadable.clear();
    if (!LoadSignal(originalPath, label, set.original)) return false;
    for (const DecodedSource &source : sources) {
        DecodedTrace trace;
        if (LoadDecoded(source, set.original.sampleRate, trace)) {
            set.decoded.push_back(std::move(trace));
        } else {
            unreadable.push_back(source.name);
        }
    }
    return true;
}

std::vector<ListeningStream::Track> ListeningTracks(const SignalSet &set, bool levelMatched) {
    std::vector<ListeningStream::Track> tracks;
    if (set.Empty()) return tracks;
    tracks.push_back(FileTrack(set.original.path, 0, 1.0));
    for (const DecodedTrace &t : set.decoded) {
        const double gain = levelMatched ? t.gain : 1.0;
        tracks.push_back(t.decoded.sampleRate == set.Rate()
                             ? FileTrack(t.decoded.path, t.delaySamples, gain)
                             : ResampledTrack(t.decoded.path, t.delaySamples, gain, set.Rate(), set.Length()));
    }
    return tracks;
}

} // namespace vntr::gui
