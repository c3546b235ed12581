// Little-endian bit streams: bit i of the stream is bit (i mod 8) of byte
// (i div 8); fields are written least significant bit first.  The caller sizes
// the buffer; the reader and writer never step outside the byte count given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vntr::dsp {

class BitWriter {
public:
    // The buffer is cleared, so that unused bits read as 0.
    BitWriter(uint8_t *bytes, std::size_t size) : bytes_(bytes), size_(size) {
        for (std::size_t i = 0; i < size; ++i) bytes_[i] = 0;
    }
    // Returns false (and writes nothing) when the field would not fit.
    bool Write(uint32_t value, int width) {
        if (width < 0 || width > 32 || position_ + static_cast<std::size_t>(width) > size_ * 8) return false;
        for (int b = 0; b < width; ++b, ++position_) {
            if ((value >> b) & 1u) bytes_[position_ >> 3] |= static_cast<uint8_t>(1u << (position_ & 7));
        }
        return true;
    }
    std::size_t BitsWritten() const { return position_; }

private:
    uint8_t *bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
};

class BitReader {
public:
    BitReader(const uint8_t *bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    // Bits beyond the end read as 0 and mark the reader exhausted.
    uint32_t Read(int width) {
        uint32_t value = 0;
        for (int b = 0; b < width; ++b, ++position_) {
            if (position_ >= size_ * 8) {
                exhausted_ = true;
                continue;
            }
            value |= static_cast<uint32_t>((bytes_[position_ >> 3] >> (position_ & 7)) & 1u) << b;
        }
        return value;
    }
    std::size_t BitsRead() const { return position_; }
    bool Exhausted() const { return exhausted_; }

private:
    const uint8_t *bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool exhausted_ = false;
};

} // namespace vntr::dsp
