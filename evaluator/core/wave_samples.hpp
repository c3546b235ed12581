// Reading the samples of a PCM wave file a block at a time, so that a file
// of any length is measured or converted in a fixed amount of memory.
#pragma once

#include <vntr/platform/riff.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vntr::evaluator {

// Bytes per sample of a PCM wave file: its block align divided by its
// channels, in integer division (a stereo block align of 3 reads as 1).  The
// one reading of the width shared by the format check, the measures, the
// conversions and the display; the bits-per-sample field is never read, so a
// file whose two fields disagree is taken as its block align lays it out.
// 0 without channels.
unsigned SampleWidth(unsigned channels, unsigned blockAlign);

class WaveSampleReader {
public:
    WaveSampleReader();
    ~WaveSampleReader();
    WaveSampleReader(WaveSampleReader &&) noexcept;
    WaveSampleReader &operator=(WaveSampleReader &&) noexcept;

    // Opens a PCM wave of 8 or 16 bits (by SampleWidth), one or two channels,
    // positioned at its first sample.  False when the file is not such a wave.  A `data` chunk
    // that claims more than the file holds is read as far as it goes.
    bool Open(const std::string &path);

    int SampleRate() const { return rate_; }
    unsigned Channels() const { return channels_; }
    unsigned BitsPerSample() const { return bits_; } // 8 × SampleWidth
    // Sample frames (one sample per channel) in the file.
    uint64_t Frames() const { return frames_; }

    // The next frames as mono samples on the 16-bit scale: 8-bit samples are
    // centred and scaled by 256, the channels of a stereo frame averaged.
    // Returns the number of frames read (short at the end or on a read error).
    std::size_t ReadMono(std::span<float> out);
    // The next frames as 16-bit samples, channels interleaved; `out` holds
    // out.size() / Channels() frames.  Returns the number of frames read.
    std::size_t ReadInterleaved(std::span<int16_t> out);
    // Back to frame `frame` (at most Frames()).
    bool Seek(uint64_t frame);

private:
    // Fills `bytes_` with up to `frames` frames; the number of whole frames read.
    std::size_t ReadBytes(std::size_t frames);

    std::unique_ptr<platform::RiffFile> file_;
    uint64_t dataOffset_ = 0;
    uint64_t frames_ = 0;
    uint64_t position_ = 0;
    int rate_ = 0;
    unsigned channels_ = 0;
    unsigned bits_ = 0;
    std::vector<unsigned char> bytes_;
};

} // namespace vntr::evaluator
