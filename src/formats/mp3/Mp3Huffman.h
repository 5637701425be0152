#pragma once

#include <cstdint>
#include <vector>

#include "formats/mp3/Mp3BitReader.h"

namespace sonitor::mp3 {

// A code book turned into lookup tables: the first rootBits bits index a
// table whose entries are either a symbol with its code length or a link to
// a second table for the longer codes with that prefix.
class HuffmanLookup {
public:
    HuffmanLookup() = default;
    // codes: binary code words separated by spaces. With xlen = 0 symbol i
    // is the i-th word; otherwise the words are pairs in x-major order and
    // the i-th word decodes to (i / xlen) * 16 + i % xlen.
    HuffmanLookup(const char* codes, int xlen, int rootBits = 8);

    int Symbols() const noexcept { return symbols_; }

    // The symbol whose code begins the 32 bits given (most significant
    // first), and the code's length.
    unsigned Lookup(uint32_t bits, unsigned* length) const noexcept {
        uint32_t e = entries_[bits >> (32 - rootBits_)];
        unsigned used = 0;
        if (e & kLink) {
            const unsigned sub = (e >> 24) & 31;
            used = static_cast<unsigned>(rootBits_);
            e = entries_[(e & 0xFFFFFF) + ((bits << rootBits_) >> (32 - sub))];
        }
        *length = used + ((e >> 8) & 31);
        return e & 0xFF;
    }

    // Decodes one symbol and consumes its code.
    unsigned Decode(BitReader& br) const noexcept {
        unsigned length;
        const unsigned symbol = Lookup(br.Peek32(), &length);
        br.Skip(length);
        return symbol;
    }

private:
    static constexpr uint32_t kLink = 0x80000000u;
    std::vector<uint32_t> entries_;
    int rootBits_ = 1;
    int symbols_ = 0;
};

// The Layer III code books, built on first use.
struct HuffmanBooks {
    HuffmanLookup pairs[32];  // symbol x * 16 + y; tables 0, 4 and 14 empty
    HuffmanLookup quadA;      // symbol v * 8 + w * 4 + x * 2 + y
};
const HuffmanBooks& Books();

}  // namespace sonitor::mp3
