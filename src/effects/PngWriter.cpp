// PNG files and the zlib/deflate stream inside them, written from the
// formats' definitions: chunks with CRC-32, a zlib header and Adler-32
// trailer, and deflate blocks with fixed Huffman codes or stored bytes.
#include "effects/PngWriter.h"

#include <algorithm>
#include <array>
#include <vector>

namespace sonitor {

uint32_t Crc32(std::string_view bytes, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (char ch : bytes)
        crc = table[(crc ^ static_cast<uint8_t>(ch)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Adler32(std::string_view bytes, uint32_t adler) {
    constexpr uint32_t kBase = 65521;
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    // 5552 bytes is the most that can be summed before b may pass 32 bits.
    for (size_t done = 0; done < bytes.size();) {
        const size_t run = std::min<size_t>(5552, bytes.size() - done);
        for (size_t i = 0; i < run; ++i) {
            a += static_cast<uint8_t>(bytes[done + i]);
            b += a;
        }
        a %= kBase;
        b %= kBase;
        done += run;
    }
    return b << 16 | a;
}

namespace {

// Deflate writes bit fields from the least significant bit up; Huffman codes
// go most significant bit first, so they are reversed before writing.
class BitWriter {
public:
    explicit BitWriter(std::string& out) : out_(out) {}
    void Put(uint32_t value, int count) {
        bits_ |= uint64_t{value} << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            out_.push_back(static_cast<char>(bits_ & 0xFF));
            bits_ >>= 8;
            filled_ -= 8;
        }
    }
    void PutCode(uint32_t code, int length) {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i)
            reversed |= ((code >> i) & 1u) << (length - 1 - i);
        Put(reversed, length);
    }
    void Align() {
        if (filled_ > 0) Put(0, 8 - filled_);
    }

private:
    std::string& out_;
    uint64_t bits_ = 0;
    int filled_ = 0;
};

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                  15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr int kWindow = 32768;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr size_t kBlockBytes = 65535;  // the most a stored block holds
constexpr int kHashBits = 15;
constexpr int kChainLimit = 48;

// A literal (distance 0) or a match.
struct Token {
    uint16_t length;  // the byte for a literal
    uint16_t distance;
};

int LengthCode(int length) {
    int i = 28;
    while (kLengthBase[static_cast<size_t>(i)] > length)
        --i;
    return i;
}

int DistanceCode(int distance) {
    int i = 29;
    while (kDistanceBase[static_cast<size_t>(i)] > distance)
        --i;
    return i;
}

// Bits of a literal/length symbol under the fixed codes.
int FixedSymbolBits(int symbol) {
    return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}

void PutFixedSymbol(BitWriter& bits, int symbol) {
    if (symbol < 144) {
        bits.PutCode(static_cast<uint32_t>(0x30 + symbol), 8);
    } else if (symbol < 256) {
        bits.PutCode(static_cast<uint32_t>(0x190 + symbol - 144), 9);
    } else if (symbol < 280) {
        bits.PutCode(static_cast<uint32_t>(symbol - 256), 7);
    } else {
        bits.PutCode(static_cast<uint32_t>(0xC0 + symbol - 280), 8);
    }
}

class Deflater {
public:
    explicit Deflater(std::string_view data)
        : data_(data), head_(size_t{1} << kHashBits, -1), prev_(kWindow, -1) {}

    void Run(BitWriter& bits) {
        size_t at = 0;
        do {
            const size_t end = std::min(data_.size(), at + kBlockBytes);
            std::vector<Token> tokens;
            int64_t fixedBits = 3 + 7;  // header and end of block
            for (size_t i = at; i < end;) {
                const auto [length, distance] = LongestMatch(i, end);
                if (length >= kMinMatch) {
                    tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
                    const int lc = LengthCode(length);
                    const int dc = DistanceCode(distance);
                    fixedBits += FixedSymbolBits(257 + lc) + kLengthExtra[static_cast<size_t>(lc)] + 5 +
                                 kDistanceExtra[static_cast<size_t>(dc)];
                    for (int k = 0; k < length; ++k)
                        Insert(i + static_cast<size_t>(k));
                    i += static_cast<size_t>(length);
                } else {
                    const auto byte = static_cast<uint8_t>(data_[i]);
                    tokens.push_back({byte, 0});
                    fixedBits += FixedSymbolBits(byte);
                    Insert(i);
                    ++i;
                }
            }
            const bool last = end == data_.size();
            // Stored: header, at most 7 bits of padding, LEN and NLEN, the bytes.
            const int64_t storedBits = 3 + 7 + 32 + 8 * static_cast<int64_t>(end - at);
            if (storedBits < fixedBits) {
                bits.Put(last ? 1 : 0, 1);
                bits.Put(0, 2);
                bits.Align();
                const auto n = static_cast<uint32_t>(end - at);
                bits.Put(n, 16);
                bits.Put(~n & 0xFFFF, 16);
                for (size_t i = at; i < end; ++i)
                    bits.Put(static_cast<uint8_t>(data_[i]), 8);
            } else {
                bits.Put(last ? 1 : 0, 1);
                bits.Put(1, 2);
                for (const Token& token : tokens)
                    PutToken(bits, token);
                PutFixedSymbol(bits, 256);
            }
            at = end;
        } while (at < data_.size());
    }

private:
    uint32_t HashAt(size_t i) const {
        const uint32_t v = static_cast<uint32_t>(static_cast<uint8_t>(data_[i])) << 16 |
                           static_cast<uint32_t>(static_cast<uint8_t>(data_[i + 1])) << 8 |
                           static_cast<uint8_t>(data_[i + 2]);
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void Insert(size_t i) {
        if (i + kMinMatch > data_.size()) return;
        const uint32_t h = HashAt(i);
        prev_[i & (kWindow - 1)] = head_[h];
        head_[h] = static_cast<int64_t>(i);
    }

    // The longest match for position i that stays before end (a block's
    // bytes must be complete in case it is stored), nearest first on ties.
    std::pair<int, int> LongestMatch(size_t i, size_t end) const {
        const auto limit = static_cast<int>(std::min<size_t>(kMaxMatch, end - i));
        if (limit < kMinMatch) return {0, 0};
        int bestLength = 0;
        int bestDistance = 0;
        int64_t candidate = head_[HashAt(i)];
        for (int steps = 0; candidate >= 0 && steps < kChainLimit; ++steps) {
            const int64_t distance = static_cast<int64_t>(i) - candidate;
            if (distance > kWindow) break;
            const auto c = static_cast<size_t>(candidate);
            int length = 0;
            while (length < limit &&
                   data_[c + static_cast<size_t>(length)] == data_[i + static_cast<size_t>(length)])
                ++length;
            if (length > bestLength) {
                bestLength = length;
                bestDistance = static_cast<int>(distance);
                if (length == limit) break;
            }
            const int64_t next = prev_[c & (kWindow - 1)];
            // An older entry overwritten by a newer position ends the chain.
            if (next >= candidate) break;
            candidate = next;
        }
        return {bestLength, bestDistance};
    }

    static void PutToken(BitWriter& bits, const Token& token) {
        if (token.distance == 0) {
            PutFixedSymbol(bits, token.length);
            return;
        }
        const int lc = LengthCode(token.length);
        PutFixedSymbol(bits, 257 + lc);
        bits.Put(static_cast<uint32_t>(token.length - kLengthBase[static_cast<size_t>(lc)]),
                 kLengthExtra[static_cast<size_t>(lc)]);
        const int dc = DistanceCode(token.distance);
        bits.PutCode(static_cast<uint32_t>(dc), 5);
        bits.Put(static_cast<uint32_t>(token.distance - kDistanceBase[static_cast<size_t>(dc)]),
                 kDistanceExtra[static_cast<size_t>(dc)]);
    }

    std::string_view data_;
    std::vector<int64_t> head_;  // newest position of each hash
    std::vector<int64_t> prev_;  // the position before it with the same hash, per window slot
};

void PutBigEndian(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::string& png, const char* type, std::string_view body) {
    PutBigEndian(png, static_cast<uint32_t>(body.size()));
    const size_t typeAt = png.size();
    png.append(type, 4);
    png.append(body);
    PutBigEndian(png, Crc32(std::string_view(png).substr(typeAt)));
}

// colourType 3 (palette) or 2 (RGB); rows of width * bytesPerPixel.
std::string EncodePng(int32_t width, int32_t height, int colourType, int bytesPerPixel, const uint8_t* pixels,
                      std::string_view palette) {
    if (width <= 0 || height <= 0 || !pixels) return {};
    const auto row = static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel);
    std::string raw;
    raw.reserve((row + 1) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        raw.push_back('\0');  // filter type None
        raw.append(reinterpret_cast<const char*>(pixels) + static_cast<size_t>(y) * row, row);
    }
    const std::string compressed = ZlibCompress(raw);

    std::string png("\x89PNG\r\n\x1A\n", 8);
    std::string header;
    PutBigEndian(header, static_cast<uint32_t>(width));
    PutBigEndian(header, static_cast<uint32_t>(height));
    header += static_cast<char>(8);  // bit depth
    header += static_cast<char>(colourType);
    header.append(3, '\0');  // deflate, adaptive filtering, no interlace
    PutChunk(png, "IHDR", header);
    if (!palette.empty()) PutChunk(png, "PLTE", palette);
    // Readers accept any split; pieces of 1 MiB keep every chunk length
    // far from the 2^31 limit.
    constexpr size_t kPiece = size_t{1} << 20;
    for (size_t at = 0; at < compressed.size(); at += kPiece)
        PutChunk(png, "IDAT", std::string_view(compressed).substr(at, kPiece));
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace

std::string ZlibCompress(std::string_view data) {
    std::string out;
    out.reserve(data.size() / 4 + 64);
    // CMF: deflate with a 32 KiB window; FLG: no dictionary, check bits so
    // that CMF * 256 + FLG is a multiple of 31.
    out.push_back(static_cast<char>(0x78));
    out.push_back(static_cast<char>(0x01));
    BitWriter bits(out);
    Deflater(data).Run(bits);
    bits.Align();
    PutBigEndian(out, Adler32(data));
    return out;
}

std::string EncodePalettePng(int32_t width, int32_t height, const uint8_t* indices, const uint8_t* palette,
                             int entries) {
    if (!palette || entries < 1 || entries > 256) return {};
    return EncodePng(
        width, height, 3, 1, indices,
        std::string_view(reinterpret_cast<const char*>(palette), static_cast<size_t>(entries) * 3));
}

std::string EncodeRgbPng(int32_t width, int32_t height, const uint8_t* rgb) {
    return EncodePng(width, height, 2, 3, rgb, {});
}

}  // namespace sonitor
