#include "formats/mp3/Mp3Huffman.h"

#include <algorithm>
#include <map>

#include "formats/mp3/Mp3Tables.h"

namespace sonitor::mp3 {

namespace {

struct Code {
    uint32_t value;
    int length;
    unsigned symbol;
};

std::vector<Code> ParseCodes(const char* text, int xlen) {
    std::vector<Code> codes;
    Code c{0, 0, 0};
    for (const char* p = text;; ++p) {
        if (*p == '0' || *p == '1') {
            c.value = c.value << 1 | static_cast<uint32_t>(*p - '0');
            ++c.length;
            continue;
        }
        if (c.length > 0) {
            const auto i = static_cast<unsigned>(codes.size());
            const auto w = static_cast<unsigned>(xlen);
            c.symbol = xlen > 0 ? (i / w) << 4 | i % w : i;
            codes.push_back(c);
            c = Code{0, 0, 0};
        }
        if (*p == '\0') break;
    }
    return codes;
}

uint32_t Leaf(int length, unsigned symbol) {
    return static_cast<uint32_t>(length) << 8 | symbol;
}

// Fills the entries of a table of `bits` index bits with the codes given
// relative to it (value and length below the table's prefix).
void Fill(uint32_t* table, int bits, uint32_t value, int length, unsigned symbol) {
    const int spare = bits - length;
    const uint32_t first = value << spare;
    std::fill(table + first, table + first + (1u << spare), Leaf(length, symbol));
}

}  // namespace

HuffmanLookup::HuffmanLookup(const char* text, int xlen, int rootBits) {
    const std::vector<Code> codes = ParseCodes(text, xlen);
    symbols_ = static_cast<int>(codes.size());
    int longest = 1;
    for (const Code& c : codes)
        longest = std::max(longest, c.length);
    rootBits_ = std::min(rootBits, longest);
    // Unused index patterns (none in a complete code) decode as symbol 0 and
    // consume a whole table's worth of bits, so decoding still advances.
    entries_.assign(size_t{1} << rootBits_, Leaf(rootBits_, 0));
    std::map<uint32_t, std::vector<Code>> longer;  // by root prefix
    for (const Code& c : codes) {
        if (c.length <= rootBits_)
            Fill(entries_.data(), rootBits_, c.value, c.length, c.symbol);
        else
            longer[c.value >> (c.length - rootBits_)].push_back(c);
    }
    for (const auto& [prefix, group] : longer) {
        int sub = 1;
        for (const Code& c : group)
            sub = std::max(sub, c.length - rootBits_);
        const size_t offset = entries_.size();
        entries_.resize(offset + (size_t{1} << sub), Leaf(sub, 0));
        entries_[prefix] = kLink | static_cast<uint32_t>(sub) << 24 | static_cast<uint32_t>(offset);
        for (const Code& c : group) {
            const int rest = c.length - rootBits_;
            Fill(entries_.data() + offset, sub, c.value & ((1u << rest) - 1), rest, c.symbol);
        }
    }
}

const HuffmanBooks& Books() {
    static const HuffmanBooks books = [] {
        HuffmanBooks b;
        for (int t = 0; t < 32; ++t)
            if (kPairTables[t].codes) b.pairs[t] = HuffmanLookup(kPairTables[t].codes, kPairTables[t].xlen);
        b.quadA = HuffmanLookup(kQuadCodesA, 0);
        return b;
    }();
    return books;
}

}  // namespace sonitor::mp3
