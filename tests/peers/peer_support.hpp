// Helpers of the peer libraries' tests: the peers this build made, real
// speech, raw files, the command-line tools, and sample alignment.
#pragma once

#include "codec_stream.hpp"
#include "test_paths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

namespace vntr::test {

inline constexpr uint32_t kPeerFormat = CODEC_FMT_PCM16_MONO_8KHZ;

inline bool IsBuilt(const std::string &name) {
    const auto built = BuiltCodecLibraries();
    return std::find(built.begin(), built.end(), name) != built.end();
}

// The peer libraries of this build among `names`.
inline std::vector<std::string> BuiltAmong(const std::vector<std::string> &names) {
    std::vector<std::string> out;
    for (const auto &n : names)
        if (IsBuilt(n)) out.push_back(n);
    return out;
}

inline const std::vector<std::string> &AllPeerNames() {
    static const std::vector<std::string> names = {"Opus 6k",   "Opus 8k", "Opus 12k", "Speex 6k", "Speex 8k",
                                                   "Speex 11k", "C2 3200", "C2 1600",  "C2 1300",  "GSM-FR"};
    return names;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<int16_t> ReadRaw16(const std::string &path) {
    const auto bytes = ReadFileBytes(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

inline void WriteRaw16(const std::string &path, const std::vector<int16_t> &samples) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
}

// A recording of the corpus, cut to whole 40 ms frames (the longest peer frame).
inline std::vector<int16_t> Speech(const std::string &name = "kristoff") {
    const std::string path = SpeechRecording(name);
    if (path.empty()) return {};
    auto samples = ReadRaw16(path);
    samples.resize(samples.size() / 320 * 320);
    return samples;
}

inline bool HaveTool(const std::string &tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command quietly; true when it exits with 0.
inline bool RunQuietly(const std::string &command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string Quoted(const std::string &path) {
    return "'" + path + "'";
}

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vntr-peers-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    std::string File(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The shift s in 0..maxShift at which ours[s + i] and theirs[i] agree within
// `tolerance` over their whole overlap, which must cover at least `minOverlap`
// samples; nullopt when there is none.
inline std::optional<int> MatchingShift(const std::vector<int16_t> &ours, const std::vector<int16_t> &theirs,
                                        int maxShift, int tolerance, std::size_t minOverlap) {
    for (int s = 0; s <= maxShift && static_cast<std::size_t>(s) < ours.size(); ++s) {
        const std::size_t overlap = std::min(ours.size() - static_cast<std::size_t>(s), theirs.size());
        if (overlap < minOverlap) continue;
        bool same = true;
        for (std::size_t i = 0; i < overlap && same; ++i)
            same = std::abs(ours[static_cast<std::size_t>(s) + i] - theirs[i]) <= tolerance;
        if (same) return s;
    }
    return std::nullopt;
}

// The coded stream as its fixed-size frames.
inline std::vector<std::vector<uint8_t>> SplitFrames(const std::vector<uint8_t> &stream, std::size_t frameBytes) {
    std::vector<std::vector<uint8_t>> frames;
    for (std::size_t at = 0; at + frameBytes <= stream.size(); at += frameBytes)
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    return frames;
}

inline CodecFormat FormatOf(const CodecBinding &lib) {
    CodecFormat f{};
    if (lib.getCodecData(CODEC_DIRECTION_DECODER, kPeerFormat, 0, &f) != CODEC_OK)
        throw std::runtime_error("GetCodecData failed");
    return f;
}

} // namespace vntr::test

namespace vntr::test {

// For a failure message: the shift with the fewest differing samples, how
// many differ there and by how much at most.
inline std::string ClosestShift(const std::vector<int16_t> &ours, const std::vector<int16_t> &theirs, int maxShift) {
    std::size_t bestCount = SIZE_MAX;
    int best = -1, bestMax = 0;
    for (int s = 0; s <= maxShift && static_cast<std::size_t>(s) < ours.size(); ++s) {
        const std::size_t overlap = std::min(ours.size() - static_cast<std::size_t>(s), theirs.size());
        std::size_t count = 0;
        int worst = 0;
        for (std::size_t i = 0; i < overlap; ++i) {
            const int d = std::abs(ours[static_cast<std::size_t>(s) + i] - theirs[i]);
            if (d != 0) ++count;
            worst = std::max(worst, d);
        }
        if (count < bestCount) {
            bestCount = count;
            best = s;
            bestMax = worst;
        }
    }
    return "closest at shift " + std::to_string(best) + ": " + std::to_string(bestCount) +
           " samples differ, by up to " + std::to_string(bestMax) + " (" + std::to_string(ours.size()) + " ours, " +
           std::to_string(theirs.size()) + " theirs)";
}

} // namespace vntr::test

namespace vntr::test {

// The SNR in dB of theirs against ours[shift + i] over their overlap.
inline double AlignedSnrDb(const std::vector<int16_t> &ours, const std::vector<int16_t> &theirs, int shift) {
    const std::size_t overlap = std::min(ours.size() - static_cast<std::size_t>(shift), theirs.size());
    double signal = 0, error = 0;
    for (std::size_t i = 0; i < overlap; ++i) {
        const double d = ours[static_cast<std::size_t>(shift) + i] - static_cast<double>(theirs[i]);
        signal += static_cast<double>(theirs[i]) * theirs[i];
        error += d * d;
    }
    return error > 0 ? 10 * std::log10(signal / error) : 200.0;
}

// The shift in 0..maxShift at which the two agree best.
inline int BestShift(const std::vector<int16_t> &ours, const std::vector<int16_t> &theirs, int maxShift) {
    int best = 0;
    for (int s = 1; s <= maxShift; ++s)
        if (AlignedSnrDb(ours, theirs, s) > AlignedSnrDb(ours, theirs, best)) best = s;
    return best;
}

} // namespace vntr::test
