#pragma once

// A small PNG writer of our own, for pictures of analyses (the spectrogram
// on the command line). Eight-bit palette or RGB pixels, no filtering, no
// interlace; the pixel data is compressed by our own deflate encoder, so the
// core needs no compression library.

#include <cstdint>
#include <string>
#include <string_view>

namespace sonitor {

// CRC-32 of PNG chunks and gzip (reflected polynomial 0xEDB88320). Pass the
// previous result to continue over a following piece.
uint32_t Crc32(std::string_view bytes, uint32_t crc = 0);
// Adler-32 of zlib streams; continues like Crc32 (start value 1).
uint32_t Adler32(std::string_view bytes, uint32_t adler = 1);

// A zlib stream of data: greedy LZ77 matching over a 32 KiB window coded
// with the fixed Huffman codes, in blocks of at most 65535 input bytes, each
// block stored instead when that is shorter (noise does not compress).
std::string ZlibCompress(std::string_view data);

// A whole PNG file. Palette pictures take one index byte per pixel and a
// palette of 3 bytes (r, g, b) per entry, 1 to 256 entries; RGB pictures 3
// bytes per pixel. Rows run from the top. Empty when a dimension is not
// positive or the palette size is out of range.
std::string EncodePalettePng(int32_t width, int32_t height, const uint8_t* indices, const uint8_t* palette,
                             int entries);
std::string EncodeRgbPng(int32_t width, int32_t height, const uint8_t* rgb);

}  // namespace sonitor
