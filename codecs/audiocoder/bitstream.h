// Bit packing of the coded frames: most significant bit first, fields may
// span bytes, frames follow each other without byte alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vntr::audiocoder {

class BitWriter {
public:
    // Starts writing into `buffer` (which must hold every byte the frame will
    // produce); `pendingBits` bits of `pendingByte` are already in use.
    BitWriter(uint8_t *buffer, uint8_t pendingByte, int pendingBits) : buf_(buffer), bitCount_(pendingBits) {
        buf_[0] = pendingBits > 0 ? pendingByte : 0;
    }

    void Put(uint32_t value, int bits) {
        while (bits > 0) {
            const std::size_t byte = bitCount_ >> 3;
            const int used = static_cast<int>(bitCount_ & 7);
            if (used == 0) buf_[byte] = 0;
            const int take = bits < 8 - used ? bits : 8 - used;
            const uint32_t chunk = (value >> (bits - take)) & ((1u << take) - 1u);
            buf_[byte] = static_cast<uint8_t>(buf_[byte] | (chunk << (8 - used - take)));
            bits -= take;
            bitCount_ += static_cast<std::size_t>(take);
        }
    }

    std::size_t bitCount() const { return bitCount_; }

private:
    uint8_t *buf_;
    std::size_t bitCount_;
};

class BitReader {
public:
    // Reads from `size` bytes; the first byte has `bitsLeft` (1..8) unread bits.
    BitReader(const uint8_t *data, std::size_t size, int bitsLeft) : data_(data), size_(size), bitsLeft_(bitsLeft) {
        if (size_ == 0) overrun_ = true;
    }

    // Bits past the end of the offer read as zeros and mark the reader overrun.
    uint32_t Get(int bits) {
        uint32_t value = 0;
        while (bits > 0) {
            if (bitsLeft_ == 0) {
                ++byte_;
                bitsLeft_ = 8;
            }
            if (byte_ >= size_) {
                overrun_ = true;
                value <<= bits;
                bitsLeft_ = 0;
                return value;
            }
            const int take = bits < bitsLeft_ ? bits : bitsLeft_;
            const uint32_t chunk = (static_cast<uint32_t>(data_[byte_]) >> (bitsLeft_ - take)) & ((1u << take) - 1u);
            value = (value << take) | chunk;
            bitsLeft_ -= take;
            bits -= take;
        }
        return value;
    }

    bool overrun() const { return overrun_; }
    std::size_t byte() const { return byte_; } // index of the byte the last bit came from
    int bitsLeft() const { return bitsLeft_; } // unread bits in that byte

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t byte_ = 0;
    int bitsLeft_;
    bool overrun_ = false;
};

} // namespace vntr::audiocoder
