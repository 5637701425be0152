// Layer III decoding on frames built here: header rules, the code books,
// the decoder against a direct double-precision evaluation of the
// standard's formulas, damaged frames, and Mp3Source's framing, length and
// seeking rules. Decoding of real encoder output is checked against
// libmpg123 in Mp3IntegrationTest.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "formats/Endian.h"
#include "formats/mp3/Mp3FrameDecoder.h"
#include "formats/mp3/Mp3Header.h"
#include "formats/mp3/Mp3Huffman.h"
#include "formats/mp3/Mp3Source.h"
#include "formats/mp3/Mp3Tables.h"
#include "foundation/FileUtil.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Bytes = std::vector<uint8_t>;

// --- Building frames -------------------------------------------------------------

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i)
            PutBit((value >> i) & 1);
    }
    void PutBit(unsigned bit) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= static_cast<uint8_t>(0x80 >> (count_ % 8));
        ++count_;
    }
    void PutCode(const std::string& code) {
        for (char c : code)
            PutBit(c == '1');
    }
    size_t Bits() const { return count_; }
    const Bytes& Data() const { return bytes_; }

private:
    Bytes bytes_;
    size_t count_ = 0;
};

// Header bytes: version 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5.
Bytes Header(int version, int bitrateIndex, int rateIndex, int mode = 3, int modeExt = 0,
             bool padding = false, bool crc = false) {
    return {0xFF, static_cast<uint8_t>(0xE0 | version << 3 | 1 << 1 | (crc ? 0 : 1)),
            static_cast<uint8_t>(bitrateIndex << 4 | rateIndex << 2 | (padding ? 2 : 0)),
            static_cast<uint8_t>(mode << 6 | modeExt << 4)};
}

Mp3Header Parsed(const Bytes& header) {
    const auto h = ParseMp3Header(header.data());
    EXPECT_TRUE(h.has_value());
    return h.value_or(Mp3Header{});
}

std::vector<std::string> CodeWords(const char* text) {
    std::vector<std::string> words;
    std::string w;
    for (const char* p = text;; ++p) {
        if (*p == '0' || *p == '1') {
            w += *p;
        } else {
            if (!w.empty()) words.push_back(w);
            w.clear();
            if (!*p) break;
        }
    }
    return words;
}

// What one granule of one channel carries: 576 quantised values in coded
// order, and for long blocks optionally scale factors: MPEG-1
// scalefac_compress 15 (4 and 3 bits) or MPEG-2 scalefac_compress 511 (3 and
// 2 bits, implying preflag).
struct Granule {
    int gain = 210;
    bool shortBlocks = false;
    int subblockGain[3] = {0, 0, 0};
    std::vector<int> values = std::vector<int>(576, 0);
    std::vector<int> scale;  // 21 long-band factors, or none
    bool preflag = false;    // MPEG-1 only; MPEG-2 implies it
    int scalefacScale = 0;
};

// Codes a granule's values as big values with table 24 (linbits 4), so
// magnitudes up to 30 are possible.
void CodeValues(const Granule& g, BitWriter& w, int* bigValues) {
    static const std::vector<std::string> book = CodeWords(mp3::kPairTables[24].codes);
    int last = -1;
    for (int i = 0; i < 576; ++i)
        if (g.values[i] != 0) last = i;
    *bigValues = (last + 2) / 2;
    for (int i = 0; i < 2 * *bigValues; i += 2) {
        const int x = g.values[i], y = g.values[i + 1];
        const int ax = std::min(std::abs(x), 15), ay = std::min(std::abs(y), 15);
        w.PutCode(book[static_cast<size_t>(ax * 16 + ay)]);
        if (ax == 15) w.Put(static_cast<uint32_t>(std::abs(x) - 15), 4);
        if (x) w.PutBit(x < 0);
        if (ay == 15) w.Put(static_cast<uint32_t>(std::abs(y) - 15), 4);
        if (y) w.PutBit(y < 0);
    }
}

// A whole frame whose main data starts in the frame itself
// (main_data_begin 0). granules[gr][ch]. mainBytes receives the length of
// the coded main data.
Bytes Frame(const Bytes& header, const std::vector<std::vector<Granule>>& granules,
            size_t* mainBytes = nullptr) {
    const Mp3Header h = Parsed(header);
    const bool lsf = h.Lsf();
    BitWriter main;
    std::vector<std::vector<std::pair<int, int>>> coded;  // part2_3_length, big_values
    for (const auto& gr : granules) {
        coded.emplace_back();
        for (const Granule& g : gr) {
            const size_t before = main.Bits();
            for (size_t sfb = 0; sfb < g.scale.size(); ++sfb)
                main.Put(static_cast<uint32_t>(g.scale[sfb]), lsf ? (sfb < 11 ? 3 : 2) : (sfb < 11 ? 4 : 3));
            int big = 0;
            CodeValues(g, main, &big);
            coded.back().emplace_back(static_cast<int>(main.Bits() - before), big);
        }
    }
    BitWriter side;
    side.Put(0, lsf ? 8 : 9);
    side.Put(0, lsf ? (h.Channels() == 1 ? 1 : 2) : (h.Channels() == 1 ? 5 : 3));
    if (!lsf) side.Put(0, 4 * h.Channels());
    for (size_t gr = 0; gr < granules.size(); ++gr) {
        for (size_t ch = 0; ch < granules[gr].size(); ++ch) {
            const Granule& g = granules[gr][ch];
            side.Put(static_cast<uint32_t>(coded[gr][ch].first), 12);
            side.Put(static_cast<uint32_t>(coded[gr][ch].second), 9);
            side.Put(static_cast<uint32_t>(g.gain), 8);
            side.Put(g.scale.empty() ? 0 : (lsf ? 511 : 15), lsf ? 9 : 4);
            if (g.shortBlocks) {
                side.Put(1, 1);
                side.Put(2, 2);  // block type 2, not mixed
                side.Put(0, 1);
                side.Put(24, 5);
                side.Put(24, 5);
                for (int w = 0; w < 3; ++w)
                    side.Put(static_cast<uint32_t>(g.subblockGain[w]), 3);
            } else {
                side.Put(0, 1);
                for (int r = 0; r < 3; ++r)
                    side.Put(24, 5);
                side.Put(15, 4);
                side.Put(7, 3);
            }
            if (!lsf) side.Put(g.preflag, 1);
            side.Put(static_cast<uint32_t>(g.scalefacScale), 1);
            side.Put(0, 1);  // count1table_select
        }
    }
    if (mainBytes) *mainBytes = main.Data().size();
    Bytes frame = header;
    if (h.crc) frame.insert(frame.end(), {0, 0});
    frame.insert(frame.end(), side.Data().begin(), side.Data().end());
    EXPECT_EQ(frame.size(), static_cast<size_t>(h.HeaderBytes() + h.SideInfoBytes()));
    frame.insert(frame.end(), main.Data().begin(), main.Data().end());
    EXPECT_LE(frame.size(), static_cast<size_t>(h.FrameBytes()));
    frame.resize(static_cast<size_t>(h.FrameBytes()), 0);
    return frame;
}

// A frame of silence: the side information and main data all zero.
Bytes SilentFrame(const Bytes& header) {
    Bytes frame = header;
    frame.resize(static_cast<size_t>(Parsed(header).FrameBytes()), 0);
    return frame;
}

// The first frame of a stream carrying an information tag.
Bytes InfoFrame(const Bytes& header, const char* tag, uint32_t flags, uint32_t count) {
    const Mp3Header h = Parsed(header);
    Bytes frame = SilentFrame(header);
    size_t at = static_cast<size_t>(h.HeaderBytes() + h.SideInfoBytes());
    if (std::string(tag) == "VBRI") {
        at = 36;
        std::copy(tag, tag + 4, frame.begin() + static_cast<ptrdiff_t>(at));
        StoreBE32(&frame[at + 14], count);
        return frame;
    }
    std::copy(tag, tag + 4, frame.begin() + static_cast<ptrdiff_t>(at));
    StoreBE32(&frame[at + 4], flags);
    StoreBE32(&frame[at + 8], count);
    return frame;
}

void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

std::string WriteTemp(const std::string& name, const Bytes& bytes) {
    static const std::string folder = test::MakeTempFolder("mp3unit");
    const std::string path = folder + "/" + name;
    EXPECT_TRUE(WriteFileAtomically(path, std::string(bytes.begin(), bytes.end())));
    return path;
}

Mp3Source& AsMp3(const Ref<AudioSource>& source) {
    auto* mp3 = dynamic_cast<Mp3Source*>(source.Get());
    EXPECT_NE(mp3, nullptr);
    return *mp3;
}

using test::ReadFrames;

// In 1000-frame requests, which straddle the 1152-frame MPEG frames.
std::vector<int32_t> ReadToEnd(AudioSource& source) {
    return test::ReadToEnd(source, 1000);
}

// --- Header rules ----------------------------------------------------------------

TEST(Mp3Header, FieldsAndSizesFollowTheStandardTables) {
    struct Case {
        Bytes header;
        MpegVersion version;
        int rate, kbps, frameBytes, sideInfo, samples, channels;
    };
    const Case cases[] = {
        {Header(3, 9, 0, 1), MpegVersion::kMpeg1, 44100, 128, 417, 32, 1152, 2},
        {Header(3, 9, 0, 1, 0, true), MpegVersion::kMpeg1, 44100, 128, 418, 32, 1152, 2},
        {Header(3, 14, 2, 3, 0, true), MpegVersion::kMpeg1, 32000, 320, 1441, 17, 1152, 1},
        {Header(3, 1, 1, 0), MpegVersion::kMpeg1, 48000, 32, 96, 32, 1152, 2},
        {Header(2, 8, 0, 2), MpegVersion::kMpeg2, 22050, 64, 208, 17, 576, 2},
        {Header(2, 14, 2, 3), MpegVersion::kMpeg2, 16000, 160, 720, 9, 576, 1},
        {Header(0, 1, 2, 3), MpegVersion::kMpeg25, 8000, 8, 72, 9, 576, 1},
        {Header(0, 2, 1, 1), MpegVersion::kMpeg25, 12000, 16, 96, 17, 576, 2},
    };
    for (const Case& c : cases) {
        const Mp3Header h = Parsed(c.header);
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.SampleRate(), c.rate);
        EXPECT_EQ(h.BitrateKbps(), c.kbps);
        EXPECT_EQ(h.FrameBytes(), c.frameBytes) << c.rate << " " << c.kbps;
        EXPECT_EQ(h.SideInfoBytes(), c.sideInfo);
        EXPECT_EQ(h.SamplesPerFrame(), c.samples);
        EXPECT_EQ(h.Channels(), c.channels);
    }
    const Mp3Header crc = Parsed(Header(3, 9, 0, 1, 2, false, true));
    EXPECT_TRUE(crc.crc);
    EXPECT_EQ(crc.HeaderBytes(), 6);
    EXPECT_EQ(crc.modeExtension, 2);
}

TEST(Mp3Header, RejectsWhatIsNotAUsableLayerThreeHeader) {
    auto accepted = [](Bytes b) { return ParseMp3Header(b.data()).has_value(); };
    EXPECT_TRUE(accepted(Header(3, 9, 0)));
    EXPECT_FALSE(accepted({0xFE, 0xFB, 0x90, 0x00}));  // sync bits
    EXPECT_FALSE(accepted({0xFF, 0xDB, 0x90, 0x00}));
    EXPECT_FALSE(accepted({0xFF, 0xEB, 0x90, 0x00}));  // reserved version
    EXPECT_FALSE(accepted({0xFF, 0xFD, 0x90, 0x00}));  // Layer II
    EXPECT_FALSE(accepted({0xFF, 0xFF, 0x90, 0x00}));  // Layer I
    EXPECT_FALSE(accepted(Header(3, 0, 0)));           // free format
    EXPECT_FALSE(accepted(Header(3, 15, 0)));
    EXPECT_FALSE(accepted(Header(3, 9, 3)));  // reserved sample rate
}

TEST(Mp3Header, SearchCoversExactly65536PositionsAndCanDemandASecondFrame) {
    const Bytes frame = SilentFrame(Header(3, 9, 0));
    for (size_t junk : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}}) {
        Bytes data(junk, 0x20);
        Append(data, frame);
        Append(data, frame);
        const int64_t expected = junk < 65536 ? static_cast<int64_t>(junk) : -1;
        EXPECT_EQ(FindMp3FrameHeader(data.data(), data.size()), expected) << junk;
    }
    // A sync pattern followed by anything but another frame is not a stream
    // when a second frame is demanded; it is when the data end with it.
    Bytes data = Header(3, 9, 0);
    data.resize(600, 0x55);
    const size_t real = data.size();
    Append(data, frame);
    Append(data, frame);
    EXPECT_EQ(FindMp3FrameHeader(data.data(), data.size()), 0);
    EXPECT_EQ(FindMp3FrameHeader(data.data(), data.size(), 65536, true), static_cast<int64_t>(real));
    EXPECT_EQ(FindMp3FrameHeader(frame.data(), frame.size(), 65536, true), 0);
    EXPECT_EQ(FindMp3FrameHeader(frame.data(), 3), -1);
}

// (The tags, their flags and counts are checked through Mp3Source below.)
TEST(Mp3Header, InformationFrameTagOnlyAfterEmptySideInformation) {
    const Bytes stereo = Header(3, 9, 0, 1);
    const Bytes mono = Header(2, 8, 0, 3);
    EXPECT_EQ(ParseMp3InfoFrame(Parsed(mono), InfoFrame(mono, "VBRI", 0, 4321).data(), 208).frameCount,
              4321u);
    Bytes busy = InfoFrame(stereo, "Xing", 1, 5);
    busy[10] = 1;
    EXPECT_FALSE(ParseMp3InfoFrame(Parsed(stereo), busy.data(), busy.size()).present);
    EXPECT_FALSE(ParseMp3InfoFrame(Parsed(stereo), SilentFrame(stereo).data(), 417).present);
}

// --- Code books ------------------------------------------------------------------

TEST(Mp3Huffman, CodeBooksAreCompletePrefixCodes) {
    auto check = [](const char* text, size_t symbols, const std::string& name) {
        std::vector<std::string> words = CodeWords(text);
        ASSERT_EQ(words.size(), symbols) << name;
        // Kraft sum exactly 1: every bit pattern starts exactly one word.
        uint64_t kraft = 0;
        for (const std::string& w : words) {
            ASSERT_GE(w.size(), 1u);
            ASSERT_LE(w.size(), 19u) << name;
            kraft += uint64_t{1} << (19 - w.size());
        }
        EXPECT_EQ(kraft, uint64_t{1} << 19) << name;
        std::sort(words.begin(), words.end());
        for (size_t i = 1; i < words.size(); ++i)
            EXPECT_NE(words[i].rfind(words[i - 1], 0), 0u) << name << ": " << words[i - 1] << " " << words[i];
    };
    for (int t = 0; t < 32; ++t) {
        const mp3::PairTableInfo& info = mp3::kPairTables[t];
        EXPECT_EQ(info.codes == nullptr, t == 0 || t == 4 || t == 14) << t;
        if (info.codes) check(info.codes, size_t{info.xlen} * info.xlen, "table " + std::to_string(t));
    }
    check(mp3::kQuadCodesA, 16, "quad A");
    const int linbits[32] = {0, 0, 0, 0, 0, 0, 0,  0,  0, 0, 0, 0, 0, 0, 0,  0,
                             1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int t = 0; t < 32; ++t)
        EXPECT_EQ(mp3::kPairTables[t].linbits, linbits[t]) << t;
}

TEST(Mp3Huffman, LookupDecodesEveryWordInAnyOrder) {
    std::mt19937 rng(7);
    auto run = [&](const char* text, const mp3::HuffmanLookup& book, int xlen) {
        const std::vector<std::string> words = CodeWords(text);
        std::vector<unsigned> order;
        for (int rep = 0; rep < 3; ++rep)
            for (unsigned i = 0; i < words.size(); ++i)
                order.push_back(i);
        std::shuffle(order.begin(), order.end(), rng);
        BitWriter w;
        for (unsigned i : order)
            w.PutCode(words[i]);
        mp3::BitReader br(w.Data().data(), w.Data().size());
        for (unsigned i : order) {
            const unsigned expected = xlen ? (i / xlen) << 4 | i % xlen : i;
            ASSERT_EQ(book.Decode(br), expected);
        }
        EXPECT_EQ(br.Position(), w.Bits());
    };
    for (int t = 1; t < 32; ++t)
        if (mp3::kPairTables[t].codes)
            run(mp3::kPairTables[t].codes, mp3::Books().pairs[t], mp3::kPairTables[t].xlen);
    run(mp3::kQuadCodesA, mp3::Books().quadA, 0);
}

// --- The decoder against the formulas --------------------------------------------

// Direct double-precision evaluation of requantisation (no scale factors),
// middle/side stereo, reordering, alias reduction, IMDCT with overlap,
// frequency inversion and the polyphase synthesis, as the standard writes
// them: no fast transforms and no symmetries.
class ReferenceDecoder {
public:
    explicit ReferenceDecoder(int rateTable) : rate_(rateTable) {}

    void DecodeGranule(const std::vector<Granule>& channels, bool midSide,
                       std::vector<std::vector<double>>* out) {
        std::vector<std::vector<double>> xr;
        for (const Granule& g : channels)
            xr.push_back(Requantize(g));
        if (midSide)
            for (int i = 0; i < 576; ++i) {
                const double m = xr[0][i], s = xr[1][i];
                xr[0][i] = (m + s) / std::numbers::sqrt2;
                xr[1][i] = (m - s) / std::numbers::sqrt2;
            }
        out->resize(channels.size());
        for (size_t ch = 0; ch < channels.size(); ++ch)
            (*out)[ch] = Hybrid(xr[ch], channels[ch].shortBlocks, static_cast<int>(ch));
    }

private:
    std::vector<double> Requantize(const Granule& g) const {
        std::vector<double> xr(576);
        const uint16_t* se = mp3::kShortBandEdges[rate_];
        const uint16_t* le = mp3::kLongBandEdges[rate_];
        const bool preflag = rate_ >= 3 ? !g.scale.empty() : g.preflag;
        for (int i = 0; i < 576; ++i) {
            double exponent = g.gain - 210;
            if (g.shortBlocks) {
                int sfb = 0;
                while (3 * se[sfb + 1] <= i)
                    ++sfb;
                exponent -= 8 * g.subblockGain[(i - 3 * se[sfb]) / (se[sfb + 1] - se[sfb])];
            } else {
                int sfb = 0;
                while (le[sfb + 1] <= i)
                    ++sfb;
                const int factor = (sfb < 21 && !g.scale.empty() ? g.scale[static_cast<size_t>(sfb)] : 0) +
                                   (preflag ? mp3::kPretab[sfb] : 0);
                exponent -= 2.0 * (1 + g.scalefacScale) * factor;
            }
            const double v = g.values[i];
            xr[i] = (v < 0 ? -1 : 1) * std::pow(std::abs(v), 4.0 / 3) * std::pow(2.0, exponent / 4);
        }
        return xr;
    }

    std::vector<double> Hybrid(std::vector<double> x, bool shortBlocks, int ch) {
        const double pi = std::numbers::pi;
        if (shortBlocks) {
            const uint16_t* se = mp3::kShortBandEdges[rate_];
            std::vector<double> r(576);
            int src = 0;
            for (int sfb = 0; sfb < 13; ++sfb)
                for (int w = 0; w < 3; ++w)
                    for (int f = se[sfb]; f < se[sfb + 1]; ++f)
                        r[3 * f + w] = x[src++];
            x = r;
        } else {
            const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
            for (int sb = 1; sb < 32; ++sb)
                for (int i = 0; i < 8; ++i) {
                    const double cs = 1 / std::sqrt(1 + c[i] * c[i]), ca = c[i] * cs;
                    const double lo = x[18 * sb - 1 - i], hi = x[18 * sb + i];
                    x[18 * sb - 1 - i] = lo * cs - hi * ca;
                    x[18 * sb + i] = hi * cs + lo * ca;
                }
        }
        std::vector<double> subband(576);  // [slot * 32 + sb]
        for (int sb = 0; sb < 32; ++sb) {
            double z[36] = {};
            if (shortBlocks) {
                for (int w = 0; w < 3; ++w)
                    for (int i = 0; i < 12; ++i) {
                        double s = 0;
                        for (int k = 0; k < 6; ++k)
                            s += x[18 * sb + 3 * k + w] * std::cos(pi / 24 * (2 * i + 7) * (2 * k + 1));
                        z[6 + 6 * w + i] += s * std::sin(pi / 12 * (i + 0.5));
                    }
            } else {
                for (int i = 0; i < 36; ++i) {
                    double s = 0;
                    for (int k = 0; k < 18; ++k)
                        s += x[18 * sb + k] * std::cos(pi / 72 * (2 * i + 19) * (2 * k + 1));
                    z[i] = s * std::sin(pi / 36 * (i + 0.5));
                }
            }
            for (int i = 0; i < 18; ++i) {
                double v = z[i] + overlap_[ch][sb][i];
                overlap_[ch][sb][i] = z[18 + i];
                if (sb % 2 == 1 && i % 2 == 1) v = -v;
                subband[static_cast<size_t>(i) * 32 + sb] = v;
            }
        }
        std::vector<double> pcm;
        for (int t = 0; t < 18; ++t) {
            std::vector<double>& v = v_[ch];
            std::copy_backward(v.begin(), v.end() - 64, v.end());
            for (int i = 0; i < 64; ++i) {
                double s = 0;
                for (int k = 0; k < 32; ++k)
                    s +=
                        subband[static_cast<size_t>(t) * 32 + k] * std::cos((16 + i) * (2 * k + 1) * pi / 64);
                v[i] = s;
            }
            double u[512];
            for (int i = 0; i < 8; ++i)
                for (int j = 0; j < 32; ++j) {
                    u[i * 64 + j] = v[i * 128 + j];
                    u[i * 64 + 32 + j] = v[i * 128 + 96 + j];
                }
            for (int j = 0; j < 32; ++j) {
                double s = 0;
                for (int i = 0; i < 16; ++i)
                    s += u[j + 32 * i] * mp3::SynthesisWindowValue(j + 32 * i);
                pcm.push_back(s);
            }
        }
        return pcm;
    }

    int rate_;
    double overlap_[2][32][18] = {};
    std::vector<double> v_[2] = {std::vector<double>(1024), std::vector<double>(1024)};
};

Granule Content(int seed, bool shortBlocks, int lines = 200) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    Granule g;
    g.gain = 170 + static_cast<int>(rng() % 20);
    g.shortBlocks = shortBlocks;
    for (int w = 0; w < 3; ++w)
        g.subblockGain[w] = static_cast<int>(rng() % 3);
    // A few tones with escapes (above 15) and signs, spread over the lower
    // third of the band (which keeps four granules within a 128 kbit/s frame).
    for (int n = 0; n < 12; ++n) {
        const int line = static_cast<int>(rng() % static_cast<unsigned>(lines));
        const int magnitude = 1 + static_cast<int>(rng() % 30);
        g.values[static_cast<size_t>(line)] = rng() % 2 ? magnitude : -magnitude;
    }
    return g;
}

// Decodes the frames and holds every sample to within 4 of the reference
// (float arithmetic and rounding; a wrong step is off by thousands).
void ExpectMatchesReference(const Bytes& header, const std::vector<std::vector<std::vector<Granule>>>& frames,
                            bool midSide) {
    const Mp3Header h = Parsed(header);
    Mp3FrameDecoder decoder;
    ReferenceDecoder reference(h.RateTable());
    const int channels = h.Channels();
    double peak = 0;
    for (const auto& granules : frames) {
        const Bytes frame = Frame(header, granules);
        std::vector<int32_t> pcm(static_cast<size_t>(h.SamplesPerFrame()) * channels);
        ASSERT_EQ(decoder.DecodeFrame(h, frame.data(), frame.size(), pcm.data()),
                  Mp3FrameDecoder::Result::kDecoded);
        for (size_t gr = 0; gr < granules.size(); ++gr) {
            std::vector<std::vector<double>> ref;
            reference.DecodeGranule(granules[gr], midSide, &ref);
            for (int ch = 0; ch < channels; ++ch)
                for (size_t i = 0; i < 576; ++i) {
                    const double expected = ref[static_cast<size_t>(ch)][i] * 524288.0;
                    const int32_t got = pcm[(gr * 576 + i) * channels + ch];
                    peak = std::max(peak, std::abs(expected));
                    ASSERT_NEAR(got, expected, 4.0)
                        << "granule " << gr << " channel " << ch << " sample " << i;
                }
        }
    }
    // The material must be loud enough for the comparison to mean something.
    EXPECT_GT(peak, 20000.0);
}

TEST(Mp3Decoder, LongAndShortBlocksMatchTheFormulas) {
    const Granule silence;
    ExpectMatchesReference(Header(3, 9, 0, 3),
                           {{{Content(1, false)}, {Content(2, true)}},
                            {{Content(3, true)}, {Content(4, false)}},
                            {{silence}, {silence}}},
                           false);
}

TEST(Mp3Decoder, MidSideStereoMatchesTheFormulas) {
    const Granule silence;
    ExpectMatchesReference(Header(3, 11, 1, 1, 2),
                           {{{Content(5, false), Content(6, false)}, {Content(7, false), Content(8, true)}},
                            {{silence, silence}, {silence, silence}}},
                           true);
}

TEST(Mp3Decoder, LowSamplingFrequenciesMatchTheFormulas) {
    const Granule silence;
    // MPEG-2 at 22050 Hz (one granule per frame), MPEG-2.5 at 8000 Hz.
    ExpectMatchesReference(Header(2, 10, 0, 3), {{{Content(9, false)}}, {{Content(10, true)}}, {{silence}}},
                           false);
    ExpectMatchesReference(Header(0, 8, 2, 3), {{{Content(11, true)}}, {{Content(12, false)}}, {{silence}}},
                           false);
}

TEST(Mp3Decoder, ScaleFactorsAndPreflagMatchTheFormulas) {
    auto scaled = [](int seed, bool lsf, bool preflag, int scalefacScale) {
        Granule g = Content(seed, false);
        g.gain = 180;
        std::mt19937 rng(static_cast<unsigned>(seed));
        for (int sfb = 0; sfb < 21; ++sfb)
            g.scale.push_back(static_cast<int>(rng() % (lsf ? (sfb < 11 ? 8 : 4) : (sfb < 11 ? 16 : 8))));
        g.preflag = preflag;
        g.scalefacScale = scalefacScale;
        // Loud lines in the upper bands, where preflag acts.
        for (int i = 300; i < 560; i += 37)
            g.values[static_cast<size_t>(i)] = 25;
        return g;
    };
    const Granule silence;
    ExpectMatchesReference(
        Header(3, 10, 0, 3),
        {{{scaled(31, false, true, 0)}, {scaled(32, false, false, 1)}}, {{silence}, {silence}}}, false);
    ExpectMatchesReference(Header(2, 12, 1, 3),
                           {{{scaled(33, true, true, 0)}}, {{scaled(34, true, true, 1)}}, {{silence}}},
                           false);
}

TEST(Mp3Decoder, LoudSignalsAreNotClippedAndExtremesSaturate) {
    // Above 16-bit full scale (2^19 here) samples pass unclipped; the largest
    // value at the largest gain, far beyond any real signal, saturates at the
    // int32 range instead of wrapping.
    auto peakAt = [](int gain) {
        Granule loud;
        loud.gain = gain;
        for (int i = 0; i < 40; i += 3)
            loud.values[static_cast<size_t>(i)] = i % 2 ? -30 : 30;
        const Bytes header = Header(3, 14, 0, 3);
        const Mp3Header h = Parsed(header);
        Mp3FrameDecoder decoder;
        std::vector<int32_t> pcm(1152);
        int64_t peak = 0;
        for (int n = 0; n < 3; ++n) {
            const Bytes frame = Frame(header, {{loud}, {loud}});
            decoder.DecodeFrame(h, frame.data(), frame.size(), pcm.data());
            for (int32_t v : pcm)
                peak = std::max(peak, std::abs(int64_t{v}));
        }
        return peak;
    };
    const int64_t loud = peakAt(215);
    EXPECT_GT(loud, 4 * 524288);
    EXPECT_LT(loud, INT32_MAX);
    EXPECT_GE(peakAt(255), INT32_MAX);
}

TEST(Mp3Decoder, DamagedAndRandomFramesDecodeSafelyAndRepeatably) {
    // Valid headers over random side information and main data reach every
    // branch of the decoder with nonsense; it must stay within its buffers
    // (run under the sanitizers) and give the same output again after a
    // reset.
    std::mt19937 rng(2024);
    const Bytes headers[] = {
        Header(3, 9, 0, 1, 3), Header(3, 9, 0, 1, 1), Header(3, 5, 2, 3),
        Header(3, 14, 1, 2),   Header(2, 8, 0, 1, 3), Header(2, 4, 2, 1, 1),
        Header(0, 1, 2, 3),    Header(0, 8, 1, 1, 3), Header(3, 9, 0, 1, 3, false, true)};
    for (const Bytes& header : headers) {
        const Mp3Header h = Parsed(header);
        std::vector<Bytes> frames;
        for (int n = 0; n < 60; ++n) {
            Bytes frame = header;
            frame.resize(static_cast<size_t>(h.FrameBytes()));
            for (size_t i = 4; i < frame.size(); ++i)
                frame[i] = static_cast<uint8_t>(rng());
            frames.push_back(frame);
        }
        std::vector<int32_t> first, again, pcm(static_cast<size_t>(h.SamplesPerFrame()) * h.Channels());
        Mp3FrameDecoder decoder;
        for (int pass = 0; pass < 2; ++pass) {
            decoder.Reset();
            for (const Bytes& frame : frames) {
                decoder.DecodeFrame(h, frame.data(), frame.size(), pcm.data());
                (pass == 0 ? first : again).insert((pass == 0 ? first : again).end(), pcm.begin(), pcm.end());
            }
        }
        EXPECT_EQ(first, again);
    }
    // Too short for its header, or window switching with block type 0.
    const Bytes header = Header(3, 9, 0, 3);
    const Mp3Header h = Parsed(header);
    std::vector<int32_t> pcm(1152, 7);
    Mp3FrameDecoder decoder;
    Bytes frame = SilentFrame(header);
    EXPECT_EQ(decoder.DecodeFrame(h, frame.data(), 100, pcm.data()), Mp3FrameDecoder::Result::kDamaged);
    EXPECT_EQ(std::count(pcm.begin(), pcm.end(), 0), 1152);
    frame[4 + 6] = 0x10;  // window_switching_flag of granule 0 (side-information bit 51), block type 0
    EXPECT_EQ(decoder.DecodeFrame(h, frame.data(), frame.size(), pcm.data()),
              Mp3FrameDecoder::Result::kDamaged);
}

// --- Streams in files ------------------------------------------------------------

// Frames whose main data begin up to `back` bytes before the frame's own
// (in earlier frames), each granule with its own content on `lines` lines.
std::vector<Bytes> ReservoirFrames(const Bytes& header, int count, int back, int seed, int lines = 200) {
    const Mp3Header h = Parsed(header);
    const size_t sideEnd = static_cast<size_t>(h.HeaderBytes() + h.SideInfoBytes());
    const size_t capacity = static_cast<size_t>(h.FrameBytes()) - sideEnd;
    std::vector<Bytes> frames;
    Bytes stream;  // all main data, frame n's own bytes at [n * capacity, ...)
    size_t end = 0;
    for (int n = 0; n < count; ++n) {
        // The first frame is silent: with nothing before it, its data would
        // have to fit before the second frame's.
        std::vector<std::vector<Granule>> granules(static_cast<size_t>(h.Granules()));
        for (auto& gr : granules)
            for (int ch = 0; ch < h.Channels(); ++ch)
                gr.push_back(n == 0 ? Granule{} : Content(seed + n * 7 + ch, (n + ch) % 3 == 2, lines));
        size_t mainBytes = 0;
        Bytes own = Frame(header, granules, &mainBytes);
        Bytes side(own.begin() + 4, own.begin() + static_cast<ptrdiff_t>(sideEnd));
        Bytes main(own.begin() + static_cast<ptrdiff_t>(sideEnd),
                   own.begin() + static_cast<ptrdiff_t>(sideEnd + mainBytes));
        const size_t own0 = static_cast<size_t>(n) * capacity;
        const size_t begin = std::max(end, own0 - std::min(own0, static_cast<size_t>(back)));
        end = begin + main.size();
        EXPECT_LE(end, own0 + capacity);
        // main_data_begin is the first side-information field.
        const uint32_t mdb = static_cast<uint32_t>(own0 - begin);
        if (h.Lsf()) {
            side[0] = static_cast<uint8_t>(mdb);
        } else {
            side[0] = static_cast<uint8_t>(mdb >> 1);
            side[1] = static_cast<uint8_t>((side[1] & 0x7F) | (mdb & 1) << 7);
        }
        stream.resize(std::max(stream.size(), begin + main.size()));
        std::copy(main.begin(), main.end(), stream.begin() + static_cast<ptrdiff_t>(begin));
        Bytes frame(header);
        frame.insert(frame.end(), side.begin(), side.end());
        frames.push_back(frame);
    }
    stream.resize(static_cast<size_t>(count) * capacity, 0);
    for (int n = 0; n < count; ++n)
        frames[static_cast<size_t>(n)].insert(frames[static_cast<size_t>(n)].end(),
                                              stream.begin() + static_cast<ptrdiff_t>(n * capacity),
                                              stream.begin() + static_cast<ptrdiff_t>((n + 1) * capacity));
    return frames;
}

Bytes Join(const std::vector<Bytes>& frames) {
    Bytes all;
    for (const Bytes& f : frames)
        Append(all, f);
    return all;
}

TEST(Mp3Source, OpensStreamsAndRefusesWhatIsNone) {
    const Bytes frame = SilentFrame(Header(3, 9, 0, 1));
    Bytes plain;
    for (int i = 0; i < 20; ++i)
        Append(plain, frame);

    Ref<AudioSource> s = OpenMp3Source(WriteTemp("plain.mp3", plain));
    ASSERT_TRUE(s->Ok());
    EXPECT_EQ(s->SampleRate(), 44100);
    EXPECT_EQ(s->Channels(), 2);
    EXPECT_EQ(s->FullScale(), 2097152);
    EXPECT_EQ(s->Length(), 20 * 1152);
    EXPECT_FALSE(AsMp3(s).HasInfoFrame());
    const std::vector<int32_t> all = ReadToEnd(*s);
    EXPECT_EQ(s->Length(), 20 * 1152);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0), static_cast<ptrdiff_t>(all.size()));

    // Leading junk: found within 65536 positions, not beyond; an ID3v2 tag
    // of any size is passed over by its declared size.
    Bytes junk(1000, 'j');
    Append(junk, plain);
    EXPECT_TRUE(OpenMp3Source(WriteTemp("junk.mp3", junk))->Ok());
    Bytes far(70000, 'j');
    Append(far, plain);
    EXPECT_EQ(OpenMp3Source(WriteTemp("far.mp3", far))->Status(), kSourceUnusable);
    Bytes noisy(60000);
    std::mt19937 rng(3);
    for (uint8_t& b : noisy)
        b = static_cast<uint8_t>(rng());  // sync patterns included
    Append(noisy, plain);
    s = OpenMp3Source(WriteTemp("noisy.mp3", noisy));
    ASSERT_TRUE(s->Ok());
    EXPECT_EQ(ReadToEnd(*s), all);
    Bytes tagged = {'I', 'D', '3', 4, 0, 0, 0x00, 0x06, 0x0D, 0x20};  // 10 + 100000 bytes
    tagged.resize(100010, 0xFF);
    Append(tagged, plain);
    s = OpenMp3Source(WriteTemp("id3.mp3", tagged));
    ASSERT_TRUE(s->Ok());
    EXPECT_EQ(s->Length(), 20 * 1152);

    EXPECT_EQ(OpenMp3Source(WriteTemp("empty.mp3", {}))->Status(), kSourceUnusable);
    EXPECT_EQ(OpenMp3Source(test::MakeTempFolder("nofile") + "/missing.mp3")->Status(), kSourceCannotOpen);
    EXPECT_EQ(OpenMp3Source(test::MakeTempFolder("dir"))->Status(), kSourceCannotOpen);
}

TEST(Mp3Source, InformationFramesGiveTheLengthAndAreNotPlayed) {
    const Bytes header = Header(3, 9, 0, 1);
    const std::vector<Bytes> audio = ReservoirFrames(header, 12, 0, 40);
    auto open = [&](const std::string& name, const Bytes& first) {
        Bytes file = first;
        Append(file, Join(audio));
        return OpenMp3Source(WriteTemp(name, file));
    };
    Ref<AudioSource> plain = OpenMp3Source(WriteTemp("audio.mp3", Join(audio)));
    const std::vector<int32_t> reference = ReadToEnd(*plain);
    ASSERT_EQ(plain->Length(), 12 * 1152);

    for (const char* tag : {"Xing", "Info", "VBRI"}) {
        Ref<AudioSource> s = open(std::string(tag) + ".mp3", InfoFrame(header, tag, 1, 12));
        EXPECT_TRUE(AsMp3(s).HasInfoFrame()) << tag;
        EXPECT_EQ(s->Length(), 12 * 1152) << tag;
        EXPECT_EQ(ReadToEnd(*s), reference) << tag;
    }
    // The count rules even when the file holds more.
    Ref<AudioSource> s = open("short.mp3", InfoFrame(header, "Xing", 1, 7));
    EXPECT_EQ(s->Length(), 7 * 1152);
    EXPECT_EQ(ReadToEnd(*s), std::vector<int32_t>(reference.begin(), reference.begin() + 7 * 1152 * 2));
    // Without flag bit 0, or with a count of 0, the length is estimated from
    // the bitrate: 12 frames of 417.96 bytes on average.
    for (const auto& [name, flags, count] :
         {std::tuple{"noflag.mp3", 0u, 500u}, std::tuple{"zero.mp3", 1u, 0u}}) {
        s = open(name, InfoFrame(header, "Xing", flags, count));
        EXPECT_TRUE(AsMp3(s).HasInfoFrame());
        EXPECT_EQ(AsMp3(s).InfoFrameCount(), 0u);
        EXPECT_DOUBLE_EQ(AsMp3(s).AverageBitrate(), 128000.0);
        EXPECT_EQ(s->Length(), 12 * 1152) << name;
        EXPECT_EQ(ReadToEnd(*s), reference) << name;
    }
    // A count whose length exceeds 32 bits is clamped; reading past the real
    // end shrinks the length to what was there.
    s = open("huge.mp3", InfoFrame(header, "Xing", 1, 0xFFFFFFFFu));
    EXPECT_EQ(s->Length(), INT32_MAX);
    std::vector<int32_t> got = ReadFrames(*s, 20 * 1152);
    EXPECT_EQ(s->Length(), 12 * 1152);
    EXPECT_EQ(s->Position(), 20 * 1152);
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), got.begin()));
    EXPECT_EQ(std::count(got.begin() + 12 * 1152 * 2, got.end(), 0), 8 * 1152 * 2);
}

TEST(Mp3Source, LengthFollowsTheStreamWithoutAFrameCount) {
    // Eight 320 kbit/s frames, then forty at 32 kbit/s: the first estimate
    // is far too short and grows as the frames are read.
    Bytes file;
    for (int i = 0; i < 8; ++i)
        Append(file, SilentFrame(Header(3, 14, 0, 3)));
    for (int i = 0; i < 40; ++i)
        Append(file, SilentFrame(Header(3, 1, 0, 3)));
    Ref<AudioSource> s = OpenMp3Source(WriteTemp("vbr.mp3", file));
    ASSERT_TRUE(s->Ok());
    EXPECT_EQ(AsMp3(s).AverageBitrate(), 320000.0);
    EXPECT_LT(s->Length(), 20 * 1152);
    ReadToEnd(*s);
    EXPECT_EQ(s->Length(), 48 * 1152);

    // A frame cut short ends the stream, and the length with it.
    const std::vector<Bytes> audio = ReservoirFrames(Header(3, 9, 0, 1), 6, 0, 70);
    Bytes cut = InfoFrame(Header(3, 9, 0, 1), "Xing", 1, 6);
    Append(cut, Join(audio));
    cut.resize(cut.size() - 200);
    s = OpenMp3Source(WriteTemp("cut.mp3", cut));
    EXPECT_EQ(s->Length(), 6 * 1152);
    const std::vector<int32_t> got = ReadFrames(*s, 6 * 1152);
    EXPECT_EQ(s->Length(), 5 * 1152);
    EXPECT_EQ(std::count(got.begin() + 5 * 1152 * 2, got.end(), 0), 1152 * 2);
}

TEST(Mp3Source, SeekPrerollRule) {
    const Bytes file = Join(ReservoirFrames(Header(3, 9, 0, 1), 10, 0, 90));
    Ref<AudioSource> s = OpenMp3Source(WriteTemp("preroll.mp3", file));
    s->Seek(0);
    EXPECT_EQ(AsMp3(s).LastSeekPreroll(), 0);
    s->Seek(3 * 1152 + 17);  // in the fourth frame
    EXPECT_EQ(AsMp3(s).LastSeekPreroll(), 3);
    s->Seek(8 * 1152);
    EXPECT_EQ(AsMp3(s).LastSeekPreroll(), 4);
    s->Seek(-50);
    EXPECT_EQ(AsMp3(s).LastSeekPreroll(), 0);
    EXPECT_EQ(s->Position(), -50);
}

TEST(Mp3Source, SeekThenReadEqualsReadingThrough) {
    // Frames that reach 300 bytes back into the previous frame for their
    // data, with long and short blocks, at MPEG-1 and MPEG-2 rates.
    for (const Bytes& header : {Header(3, 9, 0, 1, 2), Header(2, 8, 1, 3)}) {
        const Bytes file = Join(ReservoirFrames(header, 14, 150, 11));
        Ref<AudioSource> s = OpenMp3Source(WriteTemp("seek.mp3", file));
        ASSERT_TRUE(s->Ok());
        const int spf = AsMp3(s).SamplesPerFrame();
        const int ch = s->Channels();
        const std::vector<int32_t> through = ReadToEnd(*s);
        ASSERT_EQ(s->Length(), 14 * spf);
        const int32_t length = s->Length();
        for (int32_t target :
             {0, 1, spf - 1, spf, 3 * spf + 5, 5 * spf + 700 % spf, 13 * spf + 3, length - 1}) {
            s->Seek(target);
            const int32_t n = std::min<int32_t>(2000, length - target);
            const std::vector<int32_t> got = ReadFrames(*s, n);
            ASSERT_TRUE(
                std::equal(got.begin(), got.end(), through.begin() + static_cast<ptrdiff_t>(target) * ch))
                << "seek to " << target;
            EXPECT_EQ(s->Position(), target + n);
        }
        // Before the start and past the end: silence around the data.
        s->Seek(-300);
        std::vector<int32_t> got = ReadFrames(*s, 1000);
        EXPECT_EQ(std::count(got.begin(), got.begin() + 300 * ch, 0), 300 * ch);
        EXPECT_TRUE(std::equal(got.begin() + 300 * ch, got.end(), through.begin()));
        s->Seek(length - 10);
        got = ReadFrames(*s, 50);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 10 * ch, through.end() - 10 * ch));
        EXPECT_EQ(std::count(got.begin() + 10 * ch, got.end(), 0), 40 * ch);
        EXPECT_EQ(s->Length(), length);
        s->Seek(length + 5000);
        got = ReadFrames(*s, 10);
        EXPECT_EQ(std::count(got.begin(), got.end(), 0), 10 * ch);
    }
}

TEST(Mp3Source, PrerollReachesAsFarBackAsTheReservoir) {
    // 32 kbit/s mono at 48 kHz: 75 bytes of main data per frame, and every
    // frame's data begin up to 400 bytes earlier, beyond four frames.
    const Bytes file = Join(ReservoirFrames(Header(3, 1, 1, 3), 16, 400, 21, 40));
    Ref<AudioSource> s = OpenMp3Source(WriteTemp("deep.mp3", file));
    const std::vector<int32_t> through = ReadToEnd(*s);
    ASSERT_EQ(s->Length(), 16 * 1152);
    EXPECT_LT(std::count(through.begin() + 8 * 1152, through.end(), 0), 1000);
    for (int32_t target : {9 * 1152 + 10, 12 * 1152, 15 * 1152 + 1000}) {
        s->Seek(target);
        EXPECT_GT(AsMp3(s).LastSeekPreroll(), 4);
        const std::vector<int32_t> got = ReadFrames(*s, s->Length() - target);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), through.begin() + target)) << target;
    }
}

TEST(Mp3Source, DataBeforeWhatWasReadGivesSilenceNotAnEnd) {
    // The first frame's data would begin before the file: its frame is
    // silent and the stream goes on. A decoder fed a later frame right after
    // a reset says so.
    const Bytes header = Header(3, 9, 0, 1);
    std::vector<Bytes> frames = ReservoirFrames(header, 6, 200, 5);
    frames[0][4] = 0x40;  // main_data_begin 128 in the first frame
    Ref<AudioSource> s = OpenMp3Source(WriteTemp("early.mp3", Join(frames)));
    const std::vector<int32_t> all = ReadToEnd(*s);
    EXPECT_EQ(s->Length(), 6 * 1152);
    EXPECT_EQ(std::count(all.begin(), all.begin() + 1152 * 2, 0), 1152 * 2);
    EXPECT_LT(std::count(all.begin() + 3 * 1152 * 2, all.end(), 0), 1000);

    Mp3FrameDecoder decoder;
    std::vector<int32_t> pcm(2304, 5);
    EXPECT_EQ(decoder.DecodeFrame(Parsed(header), frames[3].data(), frames[3].size(), pcm.data()),
              Mp3FrameDecoder::Result::kNoReservoir);
    EXPECT_EQ(std::count(pcm.begin(), pcm.end(), 0), 2304);
    EXPECT_EQ(decoder.DecodeFrame(Parsed(header), frames[4].data(), frames[4].size(), pcm.data()),
              Mp3FrameDecoder::Result::kDecoded);
}

}  // namespace
}  // namespace sonitor
