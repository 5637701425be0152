#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sonitor::mp3 {

// Reads bits most significant first from a byte buffer. Reading past the end
// yields zero bits instead of touching memory beyond it, so damaged lengths
// in a frame cannot make the decoder read outside its buffers.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t bytes, size_t bitPosition = 0) noexcept
        : data_(data), bytes_(bytes), pos_(bitPosition) {}

    size_t Position() const noexcept { return pos_; }
    void SetPosition(size_t bitPosition) noexcept { pos_ = bitPosition; }
    void Skip(unsigned bits) noexcept { pos_ += bits; }

    // The next 32 bits without consuming them.
    uint32_t Peek32() const noexcept {
        const size_t byte = pos_ >> 3;
        uint64_t v;
        if (byte + 8 <= bytes_) {
            std::memcpy(&v, data_ + byte, 8);
            v = __builtin_bswap64(v);
        } else {
            v = 0;
            for (size_t i = 0; i < 8; ++i)
                v = v << 8 | (byte + i < bytes_ ? data_[byte + i] : 0u);
        }
        return static_cast<uint32_t>((v << (pos_ & 7)) >> 32);
    }

    // Reads 0..32 bits.
    uint32_t Read(unsigned bits) noexcept {
        if (bits == 0) return 0;
        const uint32_t v = Peek32() >> (32 - bits);
        pos_ += bits;
        return v;
    }

private:
    const uint8_t* data_;
    size_t bytes_;
    size_t pos_;
};

}  // namespace sonitor::mp3
