#include "gui/logic/signal_set.hpp"

#include "core/quality.hpp"
#include "gui/logic/timeline_track.hpp"

#include <algorithm>
#include <cmath>

namespace vntr::gui {

bool LoadSignal(const std::string &path, const std::string &label, Signal &signal) {
    signal = Signal{};
    signal.label = label;
    if (!evaluator::ReadWaveSamples(path, signal.samples, signal.sampleRate) || signal.samples.empty()) return false;
    signal.spectrum = ComputeSpectrogram(signal.samples, signal.sampleRate);
    for (const float v : signal.samples) signal.peak = std::max(signal.peak, std::abs(v));
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

bool LoadDecoded(const DecodedSource &source, int originalRate, std::map<std::string, std::vector<float>> &inputs,
                 DecodedTrace &trace) {
    trace = DecodedTrace{};
    trace.name = source.name;
    if (!LoadSignal(source.decodedPath, source.name, trace.decoded)) return false;
    auto known = inputs.find(source.inputPath);
    if (known == inputs.end()) {
        std::vector<float> samples;
        int rate = 0;
        if (!evaluator::ReadWaveSamples(source.inputPath, samples, rate) || rate != trace.decoded.sampleRate) {
            return false;
        }
        known = inputs.emplace(source.inputPath, std::move(samples)).first;
    }
    const std::vector<float> &input = known->second;
    const int rate = trace.decoded.sampleRate;
    const int delay = std::clamp(source.delaySamples, 0, static_cast<int>(trace.decoded.samples.size()));
    trace.delaySamples = delay;
    trace.ownRate = rate != originalRate;
    trace.frames = evaluator::MeasureFrames(input, trace.decoded.samples, rate, delay);
    trace.gain = evaluator::LevelMatchGain(input, trace.decoded.samples, rate, delay);
    trace.difference.label = "Difference";
    trace.difference.sampleRate = rate;
    const std::size_t overlap = std::min(input.size(), trace.decoded.samples.size() - static_cast<std::size_t>(delay));
    trace.difference.samples.resize(overlap);
    for (std::size_t i = 0; i < overlap; ++i) {
        trace.difference.samples[i] = input[i] - trace.decoded.samples[i + static_cast<std::size_t>(delay)];
        trace.difference.peak = std::max(trace.difference.peak, std::abs(trace.difference.samples[i]));
    }
    return true;
}

bool LoadSignalSet(const std::string &originalPath, const std::string &label, const std::vector<DecodedSource> &sources,
                   SignalSet &set, std::vector<std::string> &unreadable) {
    set.decoded.clear();
    unreadable.clear();
    if (!LoadSignal(originalPath, label, set.original)) return false;
    std::map<std::string, std::vector<float>> inputs;
    for (const DecodedSource &source : sources) {
        DecodedTrace trace;
        if (LoadDecoded(source, set.original.sampleRate, inputs, trace)) {
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
    tracks.push_back(std::make_shared<const std::vector<int16_t>>(
        TimelineTrack(set.original.samples, set.Rate(), 0, 1.0, set.Rate(), set.Length())));
    for (const DecodedTrace &t : set.decoded) {
        tracks.push_back(std::make_shared<const std::vector<int16_t>>(
            TimelineTrack(t.decoded.samples, t.decoded.sampleRate, t.delaySamples, levelMatched ? t.gain : 1.0,
                          set.Rate(), set.Length())));
    }
    return tracks;
}

} // namespace vntr::gui
