#include "wave_samples.hpp"

#include <algorithm>

namespace vntr::evaluator {
namespace {

using platform::FourCC;
using platform::RiffChunk;
using platform::RiffFile;
using platform::RiffFind;
using platform::RiffResult;

int16_t SampleAt(const unsigned char *p, unsigned width) {
    return width == 2 ? static_cast<int16_t>(p[0] | p[1] << 8)
                      : static_cast<int16_t>((static_cast<int>(p[0]) - 128) * 256);
}

} // namespace

unsigned SampleWidth(unsigned channels, unsigned blockAlign) {
    return channels == 0 ? 0 : blockAlign / channels;
}

WaveSampleReader::WaveSampleReader() = default;
WaveSampleReader::~WaveSampleReader() = default;
WaveSampleReader::WaveSampleReader(WaveSampleReader &&) noexcept = default;
WaveSampleReader &WaveSampleReader::operator=(WaveSampleReader &&) noexcept = default;

bool WaveSampleReader::Open(const std::string &path) {
    *this = WaveSampleReader{};
    auto file = RiffFile::Open(path, RiffFile::Mode::Read);
    if (!file) return false;
    RiffChunk riff;
    riff.formType = FourCC("WAVE");
    if (file->Descend(riff, nullptr, RiffFind::Riff) != RiffResult::Ok) return false;
    RiffChunk fmt;
    fmt.id = FourCC("fmt ");
    // Format tag, channels, sample rate, bytes per second, block align.
    unsigned char head[14] = {};
    if (file->Descend(fmt, &riff, RiffFind::Chunk) != RiffResult::Ok || fmt.size < sizeof head ||
        file->Read(head, sizeof head) != static_cast<int64_t>(sizeof head)) {
        return false;
    }
    file->Ascend(fmt);
    const unsigned tag = head[0] | head[1] << 8;
    const unsigned channels = head[2] | head[3] << 8;
    const auto rate = static_cast<int>(head[4] | head[5] << 8 | head[6] << 16 | static_cast<unsigned>(head[7]) << 24);
    const unsigned width = SampleWidth(channels, head[12] | head[13] << 8);
    const unsigned bits = 8 * width;
    if (tag != 1 || (channels != 1 && channels != 2) || (width != 1 && width != 2) || rate <= 0) return false;
    RiffChunk data;
    data.id = FourCC("data");
    if (file->Descend(data, &riff, RiffFind::Chunk) != RiffResult::Ok) return false;
    const uint64_t size = file->FileSize();
    const uint64_t available = std::min<uint64_t>(data.size, size - std::min(size, data.dataOffset));
    file_ = std::move(file);
    dataOffset_ = data.dataOffset;
    rate_ = rate;
    channels_ = channels;
    bits_ = bits;
    frames_ = available / (bits / 8 * channels);
    return true;
}

std::size_t WaveSampleReader::ReadBytes(std::size_t frames) {
    if (!file_) return 0;
    const std::size_t frameBytes = bits_ / 8 * channels_;
    frames = static_cast<std::size_t>(std::min<uint64_t>(frames, frames_ - position_));
    bytes_.resize(frames * frameBytes);
    const int64_t got = frames > 0 ? file_->Read(bytes_.data(), bytes_.size()) : 0;
    const std::size_t whole = got > 0 ? static_cast<std::size_t>(got) / frameBytes : 0;
    position_ += whole;
    if (whole < frames) position_ = frames_; // a read error ends the samples
    return whole;
}

std::size_t WaveSampleReader::ReadMono(std::span<float> out) {
    const std::size_t frames = ReadBytes(out.size());
    const unsigned width = bits_ / 8;
    const std::size_t frameBytes = width * channels_;
    if (channels_ == 1 && width == 2) {
        // The common case, without the mixing.
        for (std::size_t f = 0; f < frames; ++f) out[f] = SampleAt(&bytes_[2 * f], 2);
        return frames;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (unsigned c = 0; c < channels_; ++c) sum += SampleAt(&bytes_[f * frameBytes + c * width], width);
        out[f] = static_cast<float>(sum / channels_);
    }
    return frames;
}

std::size_t WaveSampleReader::ReadInterleaved(std::span<int16_t> out) {
    if (channels_ == 0) return 0;
    const std::size_t frames = ReadBytes(out.size() / channels_);
    const unsigned width = bits_ / 8;
    for (std::size_t i = 0; i < frames * channels_; ++i) out[i] = SampleAt(&bytes_[i * width], width);
    return frames;
}

bool WaveSampleReader::Seek(uint64_t frame) {
    if (!file_ || frame > frames_) return false;
    if (!file_->Seek(dataOffset_ + frame * (bits_ / 8 * channels_))) return false;
    position_ = frame;
    return true;
}

} // namespace vntr::evaluator
