#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "formats/Endian.h"
#include "formats/G711.h"
#include "formats/raw/AiffFile.h"
#include "formats/raw/AuFile.h"
#include "formats/raw/GsmFile.h"
#include "formats/raw/RawCodings.h"
#include "formats/raw/RawFile.h"
#include "formats/raw/RawSettings.h"
#include "formats/raw/Vox.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/Bytes.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

std::string TempPath(const std::string& name) {
    static const std::string folder = test::MakeTempFolder("rawcodecs");
    return folder + "/" + name;
}
void Put(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(WriteFileAtomically(path, bytes));
}
const auto Get = test::FileText;
// In place, so that open readers see the file grow.
void Append(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}
// A file of the given size that is a hole after its head (reads as zeros).
void MakeSparse(const std::string& path, int64_t size, const std::string& head = "") {
    Put(path, head);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

using test::Be16;
using test::Be32;
using test::Le16;

using test::ReadFrames;
Samples ReadAll(AudioSource& source) {
    return ReadFrames(source, source.Length());
}

// Writes in pieces of uneven size, one of them above the transfer limit.
void WriteFrames(AudioSink& sink, const Samples& samples) {
    const int channels = sink.Channels();
    const int32_t frames = static_cast<int32_t>(samples.size() / channels);
    static const int32_t kPieces[] = {1, 7, 8192, 10000, 333};
    for (int32_t done = 0, i = 0; done < frames; ++i) {
        const int32_t n = std::min(kPieces[i % 5], frames - done);
        sink.Write(samples.data() + static_cast<size_t>(done) * channels, n);
        done += n;
    }
}

Samples Sine(int64_t samples, double amplitude, double cyclesPerSample) {
    Samples s(static_cast<size_t>(samples));
    for (int64_t i = 0; i < samples; ++i) {
        s[static_cast<size_t>(i)] =
            static_cast<int32_t>(std::lround(amplitude * std::sin(2 * M_PI * cyclesPerSample * i)));
    }
    return s;
}

double SnrDb(const Samples& ref, const Samples& got, size_t from, size_t to) {
    double signal = 0, noise = 0;
    for (size_t i = from; i < to; ++i) {
        signal += double(ref[i]) * ref[i];
        noise += double(got[i] - ref[i]) * (got[i] - ref[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

// ---------------------------------------------------------------------------
// G.711 against the standard's tables, written as output levels and
// decision values (µ-law in 14-bit units, ×64 internally; A-law in 13-bit
// units, ×128) rather than as bit fields.

int64_t MuLevel(int s, int m) {
    return (int64_t{2 * m + 33} << s) - 33;
}
int64_t ALevel(int s, int m) {
    return s == 0 ? 2 * m + 1 : int64_t{2 * m + 33} << (s - 1);
}
int64_t MuDecision(int s, int m) {
    return s == 0 && m == 0 ? 0 : (int64_t{2 * m + 32} << s) - 33;
}
int64_t ADecision(int s, int m) {
    return s == 0 ? 2 * m : int64_t{2 * m + 32} << (s - 1);
}
uint8_t MuCode(bool negative, int k) {
    return static_cast<uint8_t>(~((negative ? 0x80 : 0) | k));
}
uint8_t ACode(bool negative, int k) {
    return static_cast<uint8_t>(((negative ? 0 : 0x80) | k) ^ 0x55);
}

// µ-law cells are symmetric about 0 (a decision value takes the larger
// magnitude); A-law cells about -1/2 (0 is positive, -1 negative).
uint8_t MuReference(int64_t x) {
    int best = 0;
    for (int k = 0; k < 128; ++k)
        best = MuDecision(k >> 4, k & 15) * 64 <= std::abs(x) ? k : best;
    return MuCode(x < 0, best);
}
uint8_t AReference(int64_t x) {
    int best = 0;
    for (int k = 0; k < 128; ++k)
        best = ADecision(k >> 4, k & 15) * 128 <= (x < 0 ? -x - 1 : x) ? k : best;
    return ACode(x < 0, best);
}

TEST(G711Codec, LevelsAndDecisionValuesOfTheStandardTables) {
    int32_t largest = 0;
    for (int k = 0; k < 128; ++k) {
        for (bool negative : {false, true}) {
            const int sign = negative ? -1 : 1;
            ASSERT_EQ(MuLawToInternal(MuCode(negative, k)), sign * MuLevel(k >> 4, k & 15) * 64) << k;
            ASSERT_EQ(ALawToInternal(ACode(negative, k)), sign * ALevel(k >> 4, k & 15) * 128) << k;
            largest = std::max(largest, std::abs(ALawToInternal(ACode(negative, k))));
        }
    }
    EXPECT_EQ(largest, kG711FullScale);
    EXPECT_EQ(MuLawToInternal(0x80), 32124 * 16);

    // Every input a little beyond full scale. The reference is piecewise
    // constant, so it is evaluated afresh only beside a decision value.
    std::vector<int64_t> edges;
    for (int k = 0; k < 128; ++k) {
        for (int64_t e : {MuDecision(k >> 4, k & 15) * 64, ADecision(k >> 4, k & 15) * 128}) {
            for (int64_t d : {-1, 0, 1})
                edges.insert(edges.end(), {e + d, -e + d});
        }
    }
    std::sort(edges.begin(), edges.end());
    uint8_t mu = MuReference(-600000), a = AReference(-600000);
    for (int32_t x = -600000; x <= 600000; ++x) {
        if (std::binary_search(edges.begin(), edges.end(), x)) {
            mu = MuReference(x);
            a = AReference(x);
        }
        ASSERT_EQ(InternalToMuLaw(x), mu) << x;
        ASSERT_EQ(InternalToALaw(x), a) << x;
    }
    EXPECT_EQ(InternalToMuLaw(kMax), 0x80);
    EXPECT_EQ(InternalToMuLaw(kMin), 0x00);
    EXPECT_EQ(InternalToALaw(kMax), 0xAA);
    EXPECT_EQ(InternalToALaw(kMin), 0x2A);
    for (int c = 0; c < 256; ++c) {  // µ-law writes its positive zero
        EXPECT_EQ(InternalToMuLaw(MuLawToInternal(static_cast<uint8_t>(c))), c == 0x7F ? 0xFF : c);
        EXPECT_EQ(InternalToALaw(ALawToInternal(static_cast<uint8_t>(c))), c);
    }
}

std::string Encoded(int32_t coding, const Samples& x) {
    std::string bytes(x.size() * static_cast<size_t>(RawBytesPerSample(coding)), '\0');
    EncodeRawSamples(coding, x.data(), x.size(), reinterpret_cast<uint8_t*>(bytes.data()));
    return bytes;
}
Samples Decoded(int32_t coding, const std::string& bytes) {
    Samples x(bytes.size() / static_cast<size_t>(RawBytesPerSample(coding)));
    DecodeRawSamples(coding, reinterpret_cast<const uint8_t*>(bytes.data()), x.size(), x.data());
    return x;
}

TEST(RawCodings, LinearCodingsRoundAndClampInsteadOfWrapping) {
    const Samples x16 = {0, 7, 8, -8, -9, 524280, -524305, kMax, kMin};
    const std::string le = Le16(0) + Le16(0) + Le16(1) + Le16(0) + Le16(0xFFFF) + Le16(0x7FFF) +
                           Le16(0x8000) + Le16(0x7FFF) + Le16(0x8000);
    EXPECT_EQ(Encoded(kRawPcm16LE, x16), le);
    std::string be = le;
    for (size_t i = 0; i < be.size(); i += 2)
        std::swap(be[i], be[i + 1]);
    EXPECT_EQ(Encoded(kRawPcm16BE, x16), be);
    EXPECT_EQ(Decoded(kRawPcm16LE, Le16(0x8000) + Le16(0xFFFF)), (Samples{-524288, -16}));
    EXPECT_EQ(Decoded(kRawPcm16BE, Be16(0x8000) + Be16(0x0001)), (Samples{-524288, 16}));

    const Samples x8 = {2047, 2048, -2048, -2049, 522240, 600000, -600000, kMax, kMin};
    const std::string s8 = {0, 1, 0, -1, 127, 127, -128, 127, -128};
    EXPECT_EQ(Encoded(kRawPcm8Signed, x8), s8);
    std::string u8 = s8;
    for (char& c : u8)
        c = static_cast<char>(c ^ 0x80);
    EXPECT_EQ(Encoded(kRawPcm8Unsigned, x8), u8);
    EXPECT_EQ(Decoded(kRawPcm8Unsigned, std::string{0, '\x80', '\xFF'}), (Samples{-524288, 0, 127 * 4096}));
    EXPECT_EQ(Decoded(kRawPcm8Signed, std::string{'\x80', 127}), (Samples{-524288, 127 * 4096}));
}

// ---------------------------------------------------------------------------
// Files of samples: raw, AIFF, AU

// Values a coding stores exactly: G.711 levels, or the 8-bit or 16-bit grid.
Samples Storable(int32_t coding, size_t count) {
    std::mt19937 rng(static_cast<unsigned>(coding));
    Samples s(count);
    for (auto& v : s) {
        const uint32_t r = rng();
        v = coding == kRawMuLaw  ? MuLawToInternal(static_cast<uint8_t>(r))
            : coding == kRawALaw ? ALawToInternal(static_cast<uint8_t>(r))
            : coding == kRawPcm8Signed || coding == kRawPcm8Unsigned ? static_cast<int8_t>(r) * 4096
                                                                     : static_cast<int16_t>(r) * 16;
    }
    return s;
}

TEST(RawFile, EveryWritableCodingRoundTripsAt8kMonoAnd48kStereo) {
    // Codings 1..6 as raw files, then 16-bit AIFF (7) and AU (8).
    for (int32_t kind = 1; kind <= 8; ++kind) {
        const int32_t coding = kind > 6 ? kRawPcm16BE : kind;
        for (auto [rate, channels] : {std::pair{8000, 1}, std::pair{48000, 2}}) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " rate " << rate);
            const RawSettings settings{rate, static_cast<uint8_t>(channels), coding};
            const std::string path = TempPath("rt" + std::to_string(kind));
            const Samples in = Storable(coding, size_t{20000} * channels);
            Ref<AudioSink> sink = kind == 7   ? CreateAiffSink(path, rate, channels)
                                  : kind == 8 ? CreateAuSink(path, rate, channels)
                                              : CreateRawSink(settings, path);
            WriteFrames(*sink, in);
            ASSERT_TRUE(sink->Close());
            const int header = kind == 7 ? 54 : kind == 8 ? 24 : 0;
            EXPECT_EQ(FileSize(path).value_or(-1), header + 20000 * channels * RawBytesPerSample(coding));
            Ref<AudioSource> source = kind == 7   ? OpenAiffSource(path)
                                      : kind == 8 ? OpenAuSource(path)
                                                  : OpenRawSource(settings, path);
            ASSERT_EQ(source->Status(), kSourceOk);
            EXPECT_EQ(source->SampleRate(), rate);
            EXPECT_EQ(source->Channels(), channels);
            EXPECT_EQ(source->FullScale(), coding == kRawMuLaw || coding == kRawALaw ? 516096 : 524272);
            EXPECT_EQ(source->Length(), 20000);
            EXPECT_EQ(ReadAll(*source), in);
        }
    }
}

TEST(RawFile, ReadingSeekingGrowingAndRefusing) {
    const std::string path = TempPath("rules.sw");
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += Le16(static_cast<uint16_t>(i)) + Le16(static_cast<uint16_t>(-i));
    Put(path, bytes + "x");  // half a frame at the end does not count
    Ref<AudioSource> source = OpenRawSource(RawSettings{22050, 2, kRawPcm16LE}, path);
    EXPECT_EQ(source->Length(), 1000);
    source->Seek(-100);
    Samples got = ReadFrames(*source, 150);
    EXPECT_EQ(source->Position(), 50);
    EXPECT_EQ(Samples(got.begin(), got.begin() + 200), Samples(200, 0));
    EXPECT_EQ(Samples(got.begin() + 200, got.begin() + 204), (Samples{0, 0, 16, -16}));
    source->Seek(999);
    EXPECT_EQ(ReadFrames(*source, 2), (Samples{999 * 16, -999 * 16, 0, 0}));
    source->Seek(kMax - 5);
    EXPECT_EQ(ReadFrames(*source, 100), Samples(200, 0));
    EXPECT_EQ(source->Position(), kMax);  // no wrap
    Append(path, "xxx" + Le16(7) + Le16(8));
    EXPECT_EQ(source->Length(), 1002);  // the file grew
    source->Seek(1001);
    EXPECT_EQ(ReadFrames(*source, 1), (Samples{7 * 16, 8 * 16}));

    for (int32_t codec : {-1, 7}) {
        EXPECT_EQ(OpenRawSource(RawSettings{8000, 1, codec}, path)->Status(), 1);
        EXPECT_TRUE(CreateRawSink(RawSettings{8000, 1, codec}, TempPath("none"))->Failed());
        EXPECT_FALSE(FileExists(TempPath("none")));
    }
    for (int32_t codec = 0; codec <= 6; ++codec) {
        EXPECT_EQ(OpenRawSource(RawSettings{8000, 1, codec}, TempPath("missing"))->Status(),
                  kSourceCannotOpen);
        EXPECT_FALSE(CreateRawSink(RawSettings{8000, 1, codec}, TempPath("no/dir"))->Close());
    }
    for (auto open : {OpenAiffSource, OpenAuSource, OpenGsmSource}) {
        EXPECT_EQ(open(TempPath("missing"))->Status(), kSourceCannotOpen);
    }
    EXPECT_TRUE(CreateGsmSink(TempPath("no/dir"))->Failed());
    EXPECT_TRUE(CreateAiffSink(TempPath("no/dir"), 8000, 1)->Failed());
}

TEST(RawFile, LengthsOfHugeFilesStopAtTheLargestFrameCount) {
    MakeSparse(TempPath("huge.sb"), int64_t{3} << 30);
    Ref<AudioSource> raw = OpenRawSource(RawSettings{8000, 1, kRawPcm8Signed}, TempPath("huge.sb"));
    EXPECT_EQ(raw->Length(), kMax);
    raw->Seek(kMax - 2);
    EXPECT_EQ(ReadFrames(*raw, 4), Samples(4, 0));
    MakeSparse(TempPath("huge.vox"), (int64_t{1} << 30) + 7);
    EXPECT_EQ(OpenRawSource(RawSettings{8000, 1, kRawVox}, TempPath("huge.vox"))->Length(), kMax);
    MakeSparse(TempPath("huge.gsm"), int64_t{33} * 14000000);
    Ref<AudioSource> gsm = OpenGsmSource(TempPath("huge.gsm"));
    EXPECT_EQ(gsm->Length(), kMax);
    gsm->Seek(kMax - 100);
    EXPECT_EQ(ReadFrames(*gsm, 200).size(), 200u);
}

TEST(RawSettingsStore, DefaultsStorageAndTheDialogsRateLimits) {
    const std::string folder = test::MakeTempFolder("rawsettings");
    SettingsStore store(SettingsLocation{folder + "/user.ini", folder + "/machine.ini"});
    const RawSettings vox = LoadRawSettings(store, kVoxAudioSection);
    EXPECT_EQ(std::tuple(vox.sampleRate, vox.channels, vox.codec), std::tuple(8000, 1, 0));
    RawSettings raw = LoadRawSettings(store, kRawAudioSection);
    EXPECT_EQ(std::tuple(raw.sampleRate, raw.channels, raw.codec), std::tuple(44100, 1, 3));
    EXPECT_FALSE(AcceptCodecSettings(store, kRawAudioSection, RawSettings{5999, 2, 2}));
    EXPECT_FALSE(AcceptCodecSettings(store, kRawAudioSection, RawSettings{196001, 2, 2}));
    EXPECT_EQ(LoadRawSettings(store, kRawAudioSection).sampleRate, 44100);
    EXPECT_TRUE(AcceptCodecSettings(store, kRawAudioSection, RawSettings{6000, 2, 2}));
    raw = LoadRawSettings(store, kRawAudioSection);
    EXPECT_EQ(std::tuple(raw.sampleRate, raw.channels, raw.codec), std::tuple(6000, 2, 2));
    EXPECT_EQ(store.ReadString(kRawAudioSection, "Codec"), "2");
    EXPECT_TRUE(AcceptCodecSettings(store, kVoxAudioSection, RawSettings{196000, 1, 0}));
    ASSERT_TRUE(store.WriteInt(kVoxAudioSection, "Channels", 0));
    EXPECT_EQ(LoadRawSettings(store, kVoxAudioSection).channels, 1);
    EXPECT_EQ(LoadRawSettings(store, kVoxAudioSection).sampleRate, 196000);
}

// ---------------------------------------------------------------------------
// VOX, against a model written out from the description of the codec.

struct VoxModel {
    static constexpr int kSteps[49] = {16,  17,  19,  21,  23,  25,   28,   31,   34,   37,  41,  45,  50,
                                       55,  60,  66,  73,  80,  88,   97,   107,  118,  130, 143, 157, 173,
                                       190, 209, 230, 253, 279, 307,  337,  371,  408,  449, 494, 544, 598,
                                       658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
    int64_t predictor = 0;
    int index = 0;

    // Returns the leaked predictor and the step, clamping the index first.
    std::pair<int64_t, int> Begin() {
        index = std::clamp(index, 0, 48);
        return {predictor - static_cast<int64_t>(std::floor(predictor / 64.0)), kSteps[index]};
    }
    int64_t End(int64_t leaked, int step, int code) {
        const int m = code & 7;
        predictor = leaked + (code & 8 ? -1 : 1) * int64_t{step} * (2 * m + 1) * 16;
        index += m < 4 ? -1 : 2 * (m - 3);
        return predictor;
    }
    int64_t Decode(int code) {
        auto [leaked, step] = Begin();
        return End(leaked, step, code);
    }
    int Encode(int64_t x) {
        auto [leaked, step] = Begin();
        const int64_t d = (x - leaked) / step;  // truncates toward zero
        const int code = (d < 0 ? 8 : 0) | static_cast<int>(std::min<int64_t>(7, std::abs(d) / 33));
        End(leaked, step, code);
        return code;
    }
};

TEST(VoxCodec, DecoderMatchesTheModelAtAnyPositionAndReadSize) {
    // Random codes drive the step index to both ends of its table.
    std::mt19937 rng(3);
    std::string bytes(150000, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    bytes += std::string(2000, '\x77') + std::string(2000, '\x00');
    Put(TempPath("model.vox"), bytes);
    VoxModel model;
    Samples want;
    for (unsigned char c : bytes) {
        want.push_back(static_cast<int32_t>(model.Decode(c >> 4)));
        want.push_back(static_cast<int32_t>(model.Decode(c & 15)));
    }
    Ref<AudioSource> source = OpenRawSource(RawSettings{6000, 2, kRawVox}, TempPath("model.vox"));
    EXPECT_EQ(std::tuple(source->Channels(), source->SampleRate(), source->FullScale()),
              std::tuple(1, 6000, kVoxFullScale));
    ASSERT_EQ(source->Length(), static_cast<int32_t>(2 * bytes.size()));
    Samples got;  // odd read sizes leave the second code of a byte pending
    for (int32_t n = 1; got.size() < want.size(); n = n % 8191 + 2) {
        const Samples part = ReadFrames(*source, std::min<int64_t>(n, int64_t(want.size() - got.size())));
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_EQ(got, want);
    EXPECT_EQ(ReadFrames(*source, 3), Samples(3, 0));
    // Seeks back, forward and across the decoder's checkpoints.
    for (int32_t at : {1, 0, 200001, 131072, 131071, 65537, 300000, 7}) {
        source->Seek(at);
        ASSERT_EQ(ReadFrames(*source, 5), Samples(want.begin() + at, want.begin() + at + 5)) << at;
    }
    source->Seek(-3);
    EXPECT_EQ(ReadFrames(*source, 5), (Samples{0, 0, 0, want[0], want[1]}));
}

TEST(VoxCodec, EncoderMatchesTheModelAndDropsAnOddLastSample) {
    Samples in = Sine(40000, 262000, 440.0 / 8000);
    const Samples loud = Sine(3000, 3000000, 0.01);  // far beyond full scale
    in.insert(in.end(), loud.begin(), loud.end());
    in.insert(in.end(), {kMax, kMin, 12345});
    VoxModel model;
    std::string want;
    for (size_t i = 0; i + 1 < in.size(); i += 2) {
        const int hi = model.Encode(in[i]);
        want += static_cast<char>(hi << 4 | model.Encode(in[i + 1]));
    }
    const std::string path = TempPath("enc.vox");
    Ref<AudioSink> sink = CreateRawSink(RawSettings{8000, 2, kRawVox}, path);
    EXPECT_EQ(sink->Channels(), 1);
    WriteFrames(*sink, in);
    EXPECT_EQ(sink->FramesWritten(), static_cast<int32_t>(in.size()));
    ASSERT_TRUE(sink->Close());
    ASSERT_EQ(Get(path), want);  // the odd last sample has no byte
    Ref<AudioSource> source = OpenRawSource(RawSettings{8000, 1, kRawVox}, path);
    EXPECT_EQ(source->Length(), static_cast<int32_t>(in.size() - 1));
    EXPECT_GT(SnrDb(in, ReadAll(*source), 200, 40000), 25.0);  // a mid-band tone

    sink = CreateVoxSink(path, 8000);
    sink->Write(in.data(), 3);
    ASSERT_TRUE(sink->Close());
    EXPECT_EQ(Get(path), want.substr(0, 1));
}

TEST(VoxCodec, TruncateRestoresTheEncoderExactly) {
    const Samples a = Sine(5000, 300000, 0.013), b = Sine(3001, 200000, 0.031);
    for (int32_t cut : {2501, 2500, 1, 0, 4999}) {
        Ref<AudioSink> direct = CreateVoxSink(TempPath("direct.vox"), 8000);
        direct->Write(a.data(), cut);
        direct->Write(b.data(), static_cast<int32_t>(b.size()));
        Ref<AudioSink> cutBack = CreateVoxSink(TempPath("cut.vox"), 8000);
        WriteFrames(*cutBack, a);
        cutBack->Truncate(cut);
        cutBack->Write(b.data(), static_cast<int32_t>(b.size()));
        ASSERT_TRUE(direct->Close() && cutBack->Close());
        EXPECT_EQ(Get(TempPath("cut.vox")), Get(TempPath("direct.vox"))) << cut;
    }
}

// ---------------------------------------------------------------------------
// AIFF and AU headers

std::string Chunk(const std::string& id, const std::string& body) {
    return id + Be32(static_cast<uint32_t>(body.size())) + body +
           (body.size() & 1 ? std::string(1, '\0') : "");
}
std::string Rate80(int32_t rate) {
    uint8_t r[10];
    EncodeAiffRate(rate, r);
    return std::string(reinterpret_cast<char*>(r), 10);
}
std::string Comm(int channels, int bits, const std::string& rate80) {
    return Chunk(
        "COMM", Be16(static_cast<uint16_t>(channels)) + Be32(0) + Be16(static_cast<uint16_t>(bits)) + rate80);
}
std::string Comm(int channels, int bits, int32_t rate) {
    return Comm(channels, bits, Rate80(rate));
}
std::string Form(const std::string& chunks, const std::string& type = "AIFF") {
    return "FORM" + Be32(static_cast<uint32_t>(chunks.size() + 4)) + type + chunks;
}
std::string Ssnd(uint32_t offset, const std::string& data) {
    return Chunk("SSND", Be32(offset) + Be32(0) + data);
}
std::string Au(uint32_t offset, uint32_t size, uint32_t encoding, uint32_t rate, uint32_t channels,
               const std::string& rest) {
    return ".snd" + Be32(offset) + Be32(size) + Be32(encoding) + Be32(rate) + Be32(channels) + rest;
}

TEST(AiffAndAu, WrittenHeadersAreExact) {
    const Samples in = {16, -16, 32767 * 16, -32768 * 16, 0x1234 * 16, 0};
    const std::string data = Be16(1) + Be16(0xFFFF) + Be16(0x7FFF) + Be16(0x8000) + Be16(0x1234) + Be16(0);
    Ref<AudioSink> aiff = CreateAiffSink(TempPath("exact.aif"), 44100, 2);
    Ref<AudioSink> au = CreateAuSink(TempPath("exact.au"), 8000, 1);
    aiff->Write(in.data(), 3);
    au->Write(in.data(), 6);
    // While open, the sample data run "to the end of the file".
    EXPECT_EQ(Get(TempPath("exact.aif")).substr(42, 4), Be32(0xFFFFFFFF));
    EXPECT_EQ(Get(TempPath("exact.au")).substr(8, 4), Be32(0xFFFFFFFF));
    EXPECT_EQ(OpenAiffSource(TempPath("exact.aif"))->Length(), 3);
    EXPECT_EQ(OpenAuSource(TempPath("exact.au"))->Length(), 6);
    ASSERT_TRUE(aiff->Close() && au->Close());
    EXPECT_EQ(Get(TempPath("exact.aif")), "FORM" + Be32(12 + 46) + "AIFFCOMM" + Be32(18) + Be16(2) + Be32(3) +
                                              Be16(16) + std::string("\x40\x0E\xAC\x44\0\0\0\0\0\0", 10) +
                                              "SSND" + Be32(12 + 8) + Be32(0) + Be32(0) + data);
    EXPECT_EQ(Get(TempPath("exact.au")), Au(24, 12, 3, 8000, 1, data));

    // Sizes a 32-bit field cannot hold read "unknown".
    RawHeaderInfo info{48000, 255, kMax, int64_t{kMax} * 510, true};
    EXPECT_EQ(MakeAiffHeader(info).substr(4, 4), Be32(0xFFFFFFFF));
    EXPECT_EQ(MakeAiffHeader(info).substr(42, 4), Be32(0xFFFFFFFF));
    EXPECT_EQ(MakeAuHeader(info).substr(8, 4), Be32(0xFFFFFFFF));
    info.dataBytes = 0xFFFFFFFFLL - 47;
    EXPECT_EQ(MakeAiffHeader(info).substr(4, 4), Be32(0xFFFFFFFE));
    EXPECT_EQ(MakeAuHeader(info).substr(8, 4), Be32(0xFFFFFFFF - 47));
}

TEST(AiffAndAu, ExtendedRates) {
    EXPECT_EQ(Rate80(1), std::string("\x3F\xFF\x80\0\0\0\0\0\0\0", 10));
    EXPECT_EQ(Rate80(kMax), std::string("\x40\x1D\xFF\xFF\xFF\xFE\0\0\0\0", 10));
    EXPECT_EQ(Rate80(0), std::string(10, '\0'));
    for (int32_t rate = 1; rate < 400000; rate += 7) {
        ASSERT_EQ(DecodeAiffRate(reinterpret_cast<const uint8_t*>(Rate80(rate).data())), rate);
    }
    const auto decode = [](const char* bytes) {
        return DecodeAiffRate(reinterpret_cast<const uint8_t*>(std::string(bytes, 10).data()));
    };
    EXPECT_EQ(decode("\x40\x0D\xAC\x45\0\0\0\0\0\0"), 22051);             // 22050.5 rounds up
    EXPECT_EQ(decode("\x40\x0E\xAC\x43\x40\0\0\0\0\0"), 44099);           // 44099.25 down
    EXPECT_EQ(decode("\x40\x1E\xFF\xFF\xFF\xFF\0\0\0\0"), 0xFFFFFFFFLL);  // no shift
    EXPECT_EQ(decode("\x3F\xFE\x80\0\0\0\0\0\0\0"), 1);                   // 0.5 Hz, shift 32
    EXPECT_EQ(decode("\x3F\xDF\x80\0\0\0\0\0\0\0"), 0);                   // shift 63
    EXPECT_EQ(decode("\x40\x3F\x80\0\0\0\0\0\0\0"), -1);                  // negative shift
    EXPECT_EQ(decode("\xC0\x0E\xAC\x44\0\0\0\0\0\0"), -1);                // negative rate
}

TEST(AiffAndAu, ChunksPadBytesOffsetsAndSizes) {
    // Odd-sized chunks (with their pad bytes) around a longer COMM, and an
    // SSND offset of 3.
    const std::string path = TempPath("read.aif");
    const std::string samples = Be16(0x0102) + Be16(0xFFFE) + Be16(0x7FFF) + Be16(0x8000);
    Put(path, Form(Chunk("NAME", "odd") + Chunk("COMM", Comm(2, 16, 22050).substr(8) + "xxxx") +
                   Chunk("ANNO", "q") + Ssnd(3, "abc" + samples)));
    Ref<AudioSource> source = OpenAiffSource(path);
    ASSERT_EQ(source->Status(), kSourceOk);
    EXPECT_EQ(std::tuple(source->SampleRate(), source->Channels()), std::tuple(22050, 2));
    EXPECT_EQ(ReadAll(*source), (Samples{0x0102 * 16, -2 * 16, 32767 * 16, -32768 * 16}));
    // SSND before COMM; 8-bit samples are signed; 12-bit ones sit in 16.
    Put(path, Form(Ssnd(0, std::string{1, -1, 127, -128, 0}) + Comm(1, 8, 11025)));
    EXPECT_EQ(ReadAll(*OpenAiffSource(path)), (Samples{4096, -4096, 127 * 4096, -128 * 4096, 0}));
    Put(path, Form(Comm(1, 12, 8000) + Ssnd(0, Be16(0x7FF0))));
    EXPECT_EQ(ReadAll(*OpenAiffSource(path)), (Samples{0x7FF0 * 16}));

    // Sizes beyond the file are cut to it; an offset beyond the chunk
    // leaves nothing; an unknown size reads to the end as the file grows.
    const std::string head = Form(Comm(1, 16, 8000));
    Put(path, head + "SSND" + Be32(1008) + Be32(0) + Be32(0) + Be16(1) + Be16(2) + Be16(3));
    EXPECT_EQ(OpenAiffSource(path)->Length(), 3);
    Put(path, head + "SSND" + Be32(10) + Be32(4) + Be32(0) + Be16(1) + Be16(2) + Be16(3));
    EXPECT_EQ(OpenAiffSource(path)->Length(), 0);
    Put(path, head + "SSND" + Be32(0xFFFFFFFF) + Be32(0) + Be32(0) + Be16(1) + Be16(2));
    source = OpenAiffSource(path);
    Append(path, Be16(3));
    EXPECT_EQ(source->Length(), 3);
    MakeSparse(TempPath("huge.aif"), int64_t{5} << 30, Form(Comm(1, 8, 8000)) + "SSND" + Be32(0xFFFFFFFF));
    EXPECT_EQ(OpenAiffSource(TempPath("huge.aif"))->Length(), kMax);

    // AU: samples from the data offset (32 here); every encoding we read.
    const std::string au = TempPath("read.au");
    Put(au, Au(32, 4, 1, 8000, 1, "annotati" + std::string("\x00\x80\xFF\x7F", 4)));
    source = OpenAuSource(au);
    EXPECT_EQ(source->FullScale(), kG711FullScale);
    EXPECT_EQ(ReadAll(*source), (Samples{-32124 * 16, 32124 * 16, 0, 0}));
    Put(au, Au(24, 2, 27, 16000, 2, "\xD5\x2A"));
    source = OpenAuSource(au);
    EXPECT_EQ(std::tuple(source->SampleRate(), source->Channels()), std::tuple(16000, 2));
    EXPECT_EQ(ReadAll(*source), (Samples{128, -516096}));
    Put(au, Au(24, 3, 2, 8000, 1, std::string{1, -1, -128}));
    EXPECT_EQ(ReadAll(*OpenAuSource(au)), (Samples{4096, -4096, -524288}));
    Put(au, Au(24, 1000, 3, 8000, 1, Be16(0x8000) + Be16(2) + "z"));
    EXPECT_EQ(ReadAll(*OpenAuSource(au)), (Samples{-524288, 32}));
    Put(au, Au(24, 0xFFFFFFFF, 3, 8000, 1, Be16(1)));
    source = OpenAuSource(au);
    Append(au, Be16(3));
    EXPECT_EQ(source->Length(), 2);
}

TEST(AiffAndAu, RefusedFiles) {
    const std::string ssnd = Ssnd(0, "abcd");
    const std::string comm = Comm(1, 16, 8000);
    const std::pair<std::string, uint8_t> aiff[] = {
        {Form(Comm(1, 24, 8000) + ssnd), kSourceNoCodec},
        {Form(comm + ssnd, "AIFC"), kSourceUnusable},
        {Form("").substr(0, 11), kSourceUnusable},
        {Form(ssnd), kSourceUnusable},
        {Form(Chunk("COMM", comm.substr(8, 16)) + ssnd), kSourceUnusable},  // COMM too short
        {Form(comm.substr(0, 20)), kSourceUnusable},                        // file ends inside COMM
        {Form(Comm(0, 16, 8000) + ssnd), kSourceUnusable},
        {Form(Comm(1, 16, std::string("\x40\x3F\x80\0\0\0\0\0\0\0", 10)) + ssnd), kSourceUnusable},
        {Form(Comm(1, 16, std::string("\x3F\x00\x80\0\0\0\0\0\0\0", 10)) + ssnd), kSourceUnusable},
    };
    for (size_t i = 0; i < std::size(aiff); ++i) {
        Put(TempPath("bad"), aiff[i].first);
        EXPECT_EQ(OpenAiffSource(TempPath("bad"))->Status(), aiff[i].second) << "aiff " << i;
    }
    const std::pair<std::string, uint8_t> au[] = {
        {Au(24, 4, 5, 8000, 1, "abcd"), kSourceNoCodec},  // 32-bit linear
        {"snd." + Au(24, 4, 3, 8000, 1, "abcd").substr(4), kSourceUnusable},
        {Au(24, 4, 3, 8000, 1, "").substr(0, 23), kSourceUnusable},
        {Au(16, 4, 3, 8000, 1, "abcd"), kSourceUnusable},  // samples inside the header
        {Au(24, 4, 3, 0x80000000, 1, "abcd"), kSourceUnusable},
        {Au(24, 4, 3, 8000, 256, "abcd"), kSourceUnusable},  // the low byte is the count
    };
    for (size_t i = 0; i < std::size(au); ++i) {
        Put(TempPath("bad"), au[i].first);
        EXPECT_EQ(OpenAuSource(TempPath("bad"))->Status(), au[i].second) << "au " << i;
    }
}

TEST(AiffAndAu, TruncatedSinksKeepAConsistentHeader) {
    const Samples in = Storable(kRawPcm16BE, 600);
    for (bool aiff : {true, false}) {
        const std::string path = TempPath(aiff ? "cut.aif" : "cut.au");
        Ref<AudioSink> sink = aiff ? CreateAiffSink(path, 8000, 2) : CreateAuSink(path, 8000, 2);
        sink->Write(in.data(), 300);
        sink->Truncate(400);
        sink->Truncate(100);
        sink->Write(in.data() + 400, 50);
        ASSERT_TRUE(sink->Close());
        Ref<AudioSource> source = aiff ? OpenAiffSource(path) : OpenAuSource(path);
        Samples want(in.begin(), in.begin() + 200);
        want.insert(want.end(), in.begin() + 400, in.begin() + 500);
        EXPECT_EQ(ReadAll(*source), want);
        EXPECT_EQ(Get(path).substr(aiff ? 22 : 8, 4), Be32(aiff ? 150 : 600));
    }
}

// ---------------------------------------------------------------------------
// GSM

TEST(GsmFileFormat, FramesSeeksAndTruncation) {
    const std::string path = TempPath("rt.gsm");
    const Samples in = Sine(1000, 200000, 300.0 / 8000);
    Ref<AudioSink> sink = CreateGsmSink(path);
    EXPECT_EQ(std::tuple(sink->SampleRate(), sink->Channels()), std::tuple(8000, 1));
    WriteFrames(*sink, in);
    ASSERT_TRUE(sink->Close());
    ASSERT_EQ(FileSize(path).value_or(-1), 7 * 33);  // the seventh frame padded with silence
    Ref<AudioSource> source = OpenGsmSource(path);
    EXPECT_EQ(std::tuple(source->SampleRate(), source->FullScale(), source->Length()),
              std::tuple(8000, 524272, 1120));
    const Samples all = ReadAll(*source);
    EXPECT_GT(SnrDb(in, all, 160, 1000), 20.0);

    // Odd pieces give the samples of one sequential read; a seek restarts
    // the decoder at the frame sought, so the start repeats exactly.
    source->Seek(-50);
    Samples pieces;
    for (int32_t n : {1, 209, 1, 320, 7, 500, 200}) {
        const Samples p = ReadFrames(*source, n);
        pieces.insert(pieces.end(), p.begin(), p.end());
    }
    EXPECT_EQ(Samples(pieces.begin(), pieces.begin() + 50), Samples(50, 0));
    EXPECT_EQ(Samples(pieces.begin() + 50, pieces.begin() + 1170), all);
    source->Seek(330);
    const Samples mid = ReadFrames(*source, 100);
    Ref<AudioSource> fresh = OpenGsmSource(path);
    fresh->Seek(320);
    const Samples frame = ReadFrames(*fresh, 110);
    EXPECT_EQ(mid, Samples(frame.begin() + 10, frame.end()));
    source->Seek(1100);
    const Samples tail = ReadFrames(*source, 40);
    EXPECT_EQ(Samples(tail.begin() + 20, tail.end()), Samples(20, 0));

    // The first nibble of a frame is not checked; a partial frame is ignored.
    std::string bytes = Get(path);
    for (size_t f = 0; f < bytes.size(); f += 33)
        bytes[f] = static_cast<char>(bytes[f] & 0x0F);
    Put(path, bytes + "partial frame");
    source = OpenGsmSource(path);
    EXPECT_EQ(source->Length(), 1120);
    EXPECT_EQ(ReadAll(*source), all);

    // Truncation inside the buffered samples, then inside the fourth frame.
    sink = CreateGsmSink(path);
    WriteFrames(*sink, Sine(2000, 150000, 0.02));
    sink->Truncate(1990);
    sink->Truncate(500);
    EXPECT_EQ(FileSize(path).value_or(-1), 3 * 33);
    sink->Write(in.data(), 160);
    ASSERT_TRUE(sink->Close());
    EXPECT_EQ(OpenGsmSource(path)->Length(), 5 * 160);
}

// ---------------------------------------------------------------------------
// Write errors

TEST(SinkFailures, AFullDiskSetsTheFailedFlag) {
    const Samples in = Sine(200000, 200000, 0.01);
    const std::function<Ref<AudioSink>(const std::string&)> makers[] = {
        [](const std::string& p) {
            return CreateRawSink(RawSettings{8000, 2, kRawPcm16LE}, p);
        },
        [](const std::string& p) {
            return CreateRawSink(RawSettings{8000, 2, kRawMuLaw}, p);
        },
        [](const std::string& p) {
            return CreateRawSink(RawSettings{8000, 1, kRawVox}, p);
        },
        [](const std::string& p) { return CreateAiffSink(p, 8000, 2); },
        [](const std::string& p) { return CreateAuSink(p, 8000, 2); },
        [](const std::string& p) { return CreateGsmSink(p); },
    };
    for (size_t i = 0; i < std::size(makers); ++i) {
        const std::string path = TempPath("full" + std::to_string(i));
        const int code = test::InChild(
            [&] {
                Ref<AudioSink> sink = makers[i](path);
                if (sink->Failed()) return 2;
                WriteFrames(*sink, Samples(in.begin(), in.begin() + 100000 * sink->Channels()));
                if (!sink->Failed()) return 3;
                return sink->Close() ? 4 : 0;
            },
            20000);
        EXPECT_EQ(code, 0) << "sink " << i;
        EXPECT_LE(FileSize(path).value_or(-1), 20000) << "sink " << i;
    }
    // Below the header size the sink fails at creation.
    EXPECT_EQ(
        test::InChild([] { return CreateAiffSink(TempPath("tiny.aif"), 8000, 1)->Failed() ? 0 : 1; }, 10), 0);
}

}  // namespace
}  // namespace sonitor
