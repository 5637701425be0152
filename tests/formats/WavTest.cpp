// WAV reader and writer, the codec layer and the format chooser, without
// peer programs: exact header bytes, hand-built files for the damaged and
// unusual layouts, and our own encoders as the source of compressed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "formats/Endian.h"
#include "formats/WavCodec.h"
#include "formats/WavCodecs.h"
#include "formats/WavSink.h"
#include "formats/WavSource.h"
#include "formats/WaveFormat.h"
#include "foundation/FileUtil.h"
#include "support/Bytes.h"
#include "support/ScriptedPrompt.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

// ---------------------------------------------------------------------------
// Helpers

using test::Le16;
using test::Le32;

std::string PathOf(const std::string& name) {
    static const std::string dir = test::MakeTempFolder("wav");
    return dir + "/" + name;
}

std::string Chunk(const std::string& id, const std::string& body,
                  std::optional<uint32_t> size = std::nullopt) {
    std::string c = id + Le32(size.value_or(static_cast<uint32_t>(body.size()))) + body;
    if (body.size() % 2) c += '\0';
    return c;
}

std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t blockAlign = 0,
                    uint32_t avg = 0) {
    if (blockAlign == 0) blockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    if (avg == 0) avg = rate * blockAlign;
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(avg) + Le16(blockAlign) + Le16(bits);
}

std::string Riff(const std::string& chunks) {
    return "RIFF" + Le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

std::string Put(const std::string& name, const std::string& bytes) {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string Get(const std::string& path) {
    return ReadWholeFile(path).value_or(std::string());
}

using test::ReadFrames;
using test::ReadToEnd;

// Internal samples of a 16-bit tone with noise.
std::vector<int32_t> Signal(int32_t rate, int channels, int32_t frames, double amplitude = 0.5) {
    std::vector<int32_t> v(static_cast<size_t>(frames) * channels);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-0.02, 0.02);
    for (int32_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const double x =
                amplitude * std::sin(2 * std::numbers::pi * (440.0 + 110 * c) * f / rate) + noise(rng);
            v[static_cast<size_t>(f) * channels + c] = static_cast<int32_t>(std::lround(x * 32767)) * 16;
        }
    return v;
}

std::string WriteCoded(const std::string& name, const WaveFormat& format,
                       const std::vector<int32_t>& samples) {
    const std::string path = PathOf(name);
    Ref<AudioSink> sink = CreateWavSink(path, format);
    EXPECT_FALSE(sink->Failed());
    const int32_t frames = static_cast<int32_t>(samples.size() / format.channels);
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min(frames - done, 5000);
        sink->Write(samples.data() + static_cast<size_t>(done) * format.channels, n);
        done += n;
    }
    EXPECT_TRUE(sink->Close());
    return path;
}

// ---------------------------------------------------------------------------
// The PCM writer

TEST(WavPcmSink, WritesTheFortySixByteHeaderOpenAndThenFinal) {
    const std::string path = PathOf("header.wav");
    Ref<AudioSink> sink = CreatePcmWavSink(path, 44100, 16, 2);
    ASSERT_FALSE(sink->Failed());
    const int32_t frames[] = {16, -16, 32767 * 16, -32768 * 16, 8, -8};
    sink->Write(frames, 3);

    // While open, both sizes read 0xFFFFFFFF and the samples are on disk.
    const std::string expectedOpen = std::string("RIFF\xFF\xFF\xFF\xFFWAVEfmt ", 16) +
                                     std::string(
                                         "\x12\x00\x00\x00\x01\x00\x02\x00\x44\xAC\x00\x00\x10\xB1\x02\x00"
                                         "\x04\x00\x10\x00\x00\x00",
                                         22) +
                                     std::string("data\xFF\xFF\xFF\xFF", 8);
    const std::string samples("\x01\x00\xFF\xFF\xFF\x7F\x00\x80\x01\x00\x00\x00", 12);
    EXPECT_EQ(Get(path), expectedOpen + samples);

    ASSERT_TRUE(sink->Close());
    std::string expectedFinal = expectedOpen;
    expectedFinal.replace(4, 4, std::string("\x32\x00\x00\x00", 4));  // 12 + 38
    expectedFinal.replace(42, 4, std::string("\x0C\x00\x00\x00", 4));
    EXPECT_EQ(Get(path), expectedFinal + samples);

    // CreateWavSink hands PCM records to the same writer.
    const std::string again = PathOf("header2.wav");
    CreateWavSink(again, MakePcmWaveFormat(44100, 16, 2))->Write(frames, 3);
    EXPECT_EQ(Get(again), expectedFinal + samples);
}

TEST(WavPcmSink, EveryWidthRoundsAndSaturatesAndOddDataHasNoPad) {
    struct Case {
        int bits;
        int storedBits;
        std::vector<int32_t> in;
        std::string out;
    };
    const Case cases[] = {
        // Unsigned; positive full scale rounds to 256 and must not wrap to 0.
        {8,
         8,
         {524272, -524288, 0, 2047, 2048, -2049, 600000},
         std::string("\xFF\x00\x80\x80\x81\x7F\xFF", 7)},
        // (x + 8) >> 4, saturated at the 16-bit limits.
        {12, 16, {524287, -524300, 7, 8, -9}, std::string("\xFF\x7F\x00\x80\x00\x00\x01\x00\xFF\xFF", 10)},
        // x * 16; the low 4 bits are zero.
        {20,
         24,
         {1, -1, 524287, 600000, -600000},
         std::string("\x10\x00\x00\xF0\xFF\xFF\xF0\xFF\x7F\xFF\xFF\x7F\x00\x00\x80", 15)},
        // x * 4096.
        {32,
         32,
         {1, -1, 600000, -600000},
         std::string("\x00\x10\x00\x00\x00\xF0\xFF\xFF\xFF\xFF\xFF\x7F\x00\x00\x00\x80", 16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::string path = PathOf("wide" + std::to_string(c.bits) + ".wav");
        {
            Ref<AudioSink> sink = CreatePcmWavSink(path, 8000, c.bits, 1);
            sink->Write(c.in.data(), static_cast<int32_t>(c.in.size()));
        }
        const std::string bytes = Get(path);
        ASSERT_EQ(bytes.size(), 46u + c.out.size());
        EXPECT_EQ(LoadLE32(bytes.data() + 4), c.out.size() + 38u);
        EXPECT_EQ(LoadLE32(bytes.data() + 42), c.out.size());
        EXPECT_EQ(LoadLE16(bytes.data() + 20), kWaveTagPcm);
        EXPECT_EQ(LoadLE16(bytes.data() + 32), c.storedBits / 8);  // block align
        EXPECT_EQ(LoadLE16(bytes.data() + 34), c.storedBits);
        EXPECT_EQ(bytes.substr(46), c.out);
    }
}

TEST(WavPcmSink, TruncateCutsBackAndIgnoresLargerCounts) {
    const std::string path = PathOf("truncate.wav");
    const std::vector<int32_t> x = Signal(8000, 2, 1000);
    {
        Ref<AudioSink> sink = CreatePcmWavSink(path, 8000, 16, 2);
        sink->Write(x.data(), 1000);
        sink->Truncate(2000);
        EXPECT_EQ(sink->FramesWritten(), 1000);
        EXPECT_EQ(FileSize(path), 46 + 4000);
        sink->Truncate(500);
        EXPECT_EQ(FileSize(path), 46 + 2000);
        sink->Write(x.data() + 1500, 100);  // continues at frame 500
    }
    Ref<AudioSource> s = OpenWavSource(path);
    ASSERT_EQ(s->Length(), 600);
    const std::vector<int32_t> got = ReadFrames(*s, 600);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 1000, x.begin()));
    EXPECT_TRUE(std::equal(got.begin() + 1000, got.end(), x.begin() + 1500));
}

TEST(WavPcmSink, AnUnfinishedFileOpensWithEverythingWritten) {
    const std::string path = PathOf("unfinished.wav");
    Ref<AudioSink> sink = CreatePcmWavSink(path, 22050, 24, 1);
    const std::vector<int32_t> x = Signal(22050, 1, 3000);
    sink->Write(x.data(), 3000);
    Ref<AudioSource> s = OpenWavSource(path);
    ASSERT_EQ(s->Status(), kSourceOk);
    EXPECT_EQ(s->Length(), 3000);
    EXPECT_EQ(ReadFrames(*s, 3000), x);
}

TEST(WavPcmSink, HeaderSizesPastFourGigabytesAreAllOnes) {
    const WaveFormat pcm = MakePcmWaveFormat(44100, 16, 2);
    const auto sizes = [&](uint64_t data) {
        const std::vector<uint8_t> h = MakeWavHeader(pcm, data);
        EXPECT_EQ(h.size(), 46u);
        return std::pair<uint32_t, uint32_t>(LoadLE32(&h[4]), LoadLE32(&h[42]));
    };
    EXPECT_EQ(sizes(1000), std::pair(1038u, 1000u));
    EXPECT_EQ(sizes(0xFFFFFFFFull - 38), std::pair(0xFFFFFFFFu, 0xFFFFFFFFu - 38));
    EXPECT_EQ(sizes(0xFFFFFFFFull - 37), std::pair(0xFFFFFFFFu, 0xFFFFFFFFu - 37));
    EXPECT_EQ(sizes(5000000000ull), std::pair(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(sizes(kWavSizeOpen), std::pair(0xFFFFFFFFu, 0xFFFFFFFFu));
    // An odd record is padded, as RIFF wants.
    WaveFormat odd = pcm;
    odd.extra = {0x55};
    const std::vector<uint8_t> h = MakeWavHeader(odd, 10);
    EXPECT_EQ(h.size(), 48u);
    EXPECT_EQ(LoadLE32(&h[16]), 19u);
    EXPECT_EQ(LoadLE32(&h[4]), 10u + 40u);
}

TEST(WavSinks, InvalidParametersFailWithoutTouchingTheFile) {
    const std::string path = Put("keep.wav", "precious");
    EXPECT_TRUE(CreatePcmWavSink(path, 8000, 0, 1)->Failed());
    EXPECT_TRUE(CreatePcmWavSink(path, 0, 16, 1)->Failed());
    EXPECT_TRUE(CreatePcmWavSink(path, 8000, 16, 0)->Failed());
    WaveFormat stereoGsm = MakeGsm610WaveFormat(8000);
    stereoGsm.channels = 2;
    WaveFormat mp3 = MakeG711WaveFormat(kWaveTagMpegLayer3, 44100, 2);
    for (const WaveFormat& f : {stereoGsm, mp3}) {
        Ref<AudioSink> sink = CreateWavSink(path, f);
        EXPECT_TRUE(sink->Failed());
        sink->Write(Signal(8000, 1, 10).data(), 5);
        EXPECT_FALSE(sink->Close());
    }
    EXPECT_EQ(Get(path), "precious");
    EXPECT_TRUE(CreatePcmWavSink(PathOf("no/such/folder.wav"), 8000, 16, 1)->Failed());
}

// A full disk: a child whose writes fail past 4096 bytes.
int WriteBeyondLimit(const std::string& path, const WaveFormat& format) {
    return test::InChild(
        [&] {
            Ref<AudioSink> sink = CreateWavSink(path, format);
            if (sink->Failed()) return 10;
            const std::vector<int32_t> x = Signal(8000, format.channels, 8192);
            sink->Write(x.data(), 8192);
            const bool failedByWrite = sink->Failed();
            sink->Write(x.data(), 8192);  // ignored once failed
            const bool closed = sink->Close();
            return failedByWrite && !closed ? 0 : 11;
        },
        4096);
}

TEST(WavSinks, AFullDiskSetsTheFailedFlag) {
    const std::string pcm = PathOf("full-pcm.wav");
    const std::string alaw = PathOf("full-alaw.wav");
    EXPECT_EQ(WriteBeyondLimit(pcm, MakePcmWaveFormat(8000, 16, 2)), 0);
    EXPECT_EQ(WriteBeyondLimit(alaw, MakeG711WaveFormat(kWaveTagALaw, 8000, 1)), 0);
    // What reached the disk still opens, with the header rewritten to it.
    for (const std::string& path : {pcm, alaw}) {
        Ref<AudioSource> s = OpenWavSource(path);
        EXPECT_EQ(s->Status(), kSourceOk);
        EXPECT_GT(s->Length(), 0);
        EXPECT_LE(FileSize(path).value_or(0), 4096);
        EXPECT_NE(LoadLE32(Get(path).data() + 4), 0xFFFFFFFFu);
    }
}

// ---------------------------------------------------------------------------
// The reader: layouts

std::string StereoPcmFile(uint32_t dataSizeField, size_t frames = 10) {
    std::vector<int16_t> v;
    for (size_t i = 0; i < frames * 2; ++i)
        v.push_back(static_cast<int16_t>(i * 100 - 700));
    return Riff(Chunk("fmt ", FmtBody(1, 2, 8000, 16)) + Chunk("data", test::Pcm16(v), dataSizeField));
}

TEST(WavReader, DataSizesAreTakenFromTheFileWhenTheyDoNotFit) {
    // 0xFFFFFFFF: the data runs to the end of the file.
    Ref<AudioSource> open = OpenWavSource(Put("ffff.wav", StereoPcmFile(0xFFFFFFFFu)));
    EXPECT_EQ(open->Length(), 10);
    // A damaged size larger than the file must not add hours of silence.
    Ref<AudioSource> big = OpenWavSource(Put("big.wav", StereoPcmFile(2000000000u)));
    EXPECT_EQ(big->Length(), 10);
    // A smaller size is kept; a half frame is not a frame.
    Ref<AudioSource> small = OpenWavSource(Put("small.wav", StereoPcmFile(18u)));
    EXPECT_EQ(small->Length(), 4);
    const std::vector<int32_t> got = ReadFrames(*small, 5);
    EXPECT_EQ(got[7], (7 * 100 - 700) * 16);
    EXPECT_EQ(got[8], 0);  // past the data
}

TEST(WavReader, LengthsStopAtTheLargestFrameCount) {
    // A sparse file with 2^31 + 9 bytes of 8-bit mono data after the header,
    // its size field saying "to the end of the file".
    const std::string path =
        Put("huge.wav", Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 8)) + "data\xFF\xFF\xFF\xFF"));
    const int64_t size = 44 + (int64_t{1} << 31) + 9;
    if (::truncate(path.c_str(), size) != 0) GTEST_SKIP() << "no sparse files here";
    Ref<AudioSource> s = OpenWavSource(path);
    EXPECT_EQ(s->Length(), std::numeric_limits<int32_t>::max());
    s->Seek(std::numeric_limits<int32_t>::max() - 2);
    std::vector<int32_t> tail(4, 1);
    s->Read(tail.data(), 4);
    EXPECT_EQ(tail, (std::vector<int32_t>{-524288, -524288, 0, 0}));  // byte 0 is -128
    ::unlink(path.c_str());
}

TEST(WavReader, FmtChunkSizes) {
    const std::string data = Chunk("data", test::Pcm16({1, 2, 3, 4}));
    const auto statusOf = [&](const std::string& name, const std::string& fmtBody) {
        return OpenWavSource(Put(name, Riff(Chunk("fmt ", fmtBody) + data)))->Status();
    };
    const std::string f16 = FmtBody(1, 1, 8000, 16);
    EXPECT_EQ(statusOf("fmt16.wav", f16), kSourceOk);
    EXPECT_EQ(statusOf("fmt15.wav", f16.substr(0, 15)), kSourceUnusable);
    EXPECT_EQ(statusOf("fmt8192.wav", f16 + Le16(8174) + std::string(8174, 'x')), kSourceOk);
    EXPECT_EQ(statusOf("fmt8193.wav", f16 + Le16(8175) + std::string(8175, 'x')), kSourceUnusable);
    // An odd record (cbSize 1) with its pad byte.
    EXPECT_EQ(statusOf("fmt19.wav", f16 + Le16(1) + "x"), kSourceOk);
    Ref<AudioSource> s = OpenWavSource(PathOf("fmt19.wav"));
    EXPECT_EQ(ReadFrames(*s, 4), (std::vector<int32_t>{16, 32, 48, 64}));
}

TEST(WavReader, CbSizeIsCutToTheBytesOfTheChunk) {
    // An IMA record that claims 1000 extra bytes in an 18-byte chunk.
    const std::string fmt = FmtBody(kWaveTagImaAdpcm, 1, 8000, 4, 256) + Le16(1000);
    const std::optional<WaveFormat> f =
        WaveFormat::Parse(reinterpret_cast<const uint8_t*>(fmt.data()), fmt.size());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->CbSize(), 0);
    const std::string withTwo = fmt + Le16(505);
    EXPECT_EQ(WaveFormat::Parse(reinterpret_cast<const uint8_t*>(withTwo.data()), withTwo.size())->CbSize(),
              2);
    Ref<AudioSource> s =
        OpenWavSource(Put("cb.wav", Riff(Chunk("fmt ", fmt) + Chunk("data", std::string(512, '\x11')))));
    ASSERT_EQ(s->Status(), kSourceOk);
    EXPECT_EQ(ReadToEnd(*s).size(), 2u * 505u);
}

TEST(WavReader, RatesAndChannels) {
    const std::string data = Chunk("data", test::Pcm16(std::vector<int16_t>(512, 5)));
    const auto open = [&](const std::string& name, uint16_t channels, uint32_t rate) {
        return OpenWavSource(Put(name, Riff(Chunk("fmt ", FmtBody(1, channels, rate, 16)) + data)));
    };
    Ref<AudioSource> top = open("r196000.wav", 1, 196000);
    EXPECT_EQ(top->Status(), kSourceOk);
    EXPECT_EQ(top->SampleRate(), 196000);
    EXPECT_EQ(open("r196001.wav", 1, 196001)->Status(), kSourceUnusable);
    EXPECT_EQ(open("r0.wav", 1, 0)->Status(), kSourceUnusable);
    EXPECT_EQ(open("c0.wav", 0, 8000)->Status(), kSourceUnusable);
    EXPECT_EQ(open("c256.wav", 256, 8000)->Status(), kSourceUnusable);
    Ref<AudioSource> many = open("c255.wav", 255, 8000);
    EXPECT_EQ(many->Status(), kSourceOk);
    EXPECT_EQ(many->Channels(), 255);
    EXPECT_EQ(many->Length(), 2);
}

TEST(WavReader, OtherChunksPadBytesAndLeadingBlocksAreSteppedOver) {
    const std::string body = Chunk("fmt ", FmtBody(1, 1, 11025, 16));
    const std::string data = Chunk("data", test::Pcm16({100, -100, 7}));
    const std::string file = "JUNK" + Le32(8) + "12345678" +  // before the RIFF header
                             Riff(Chunk("bext", "odd") + body + Chunk("fact", Le32(3)) +  // odd chunk, pad
                                  Chunk("LIST", "INFOISFT" + Le32(5) + "abcde") + Chunk("zzz ", "q") + data);
    Ref<AudioSource> s = OpenWavSource(Put("chunks.wav", file));
    ASSERT_EQ(s->Status(), kSourceOk);
    EXPECT_EQ(s->SampleRate(), 11025);
    EXPECT_EQ(ReadFrames(*s, 3), (std::vector<int32_t>{1600, -1600, 112}));
    // RF64 is read like RIFF; its sizes live elsewhere and the data runs on.
    std::string rf64 =
        Riff(Chunk("ds64", std::string(28, '\0')) + body + Chunk("data", test::Pcm16({9, 9}), 0xFFFFFFFFu));
    rf64.replace(0, 8, "RF64\xFF\xFF\xFF\xFF");
    Ref<AudioSource> r = OpenWavSource(Put("rf64.wav", rf64));
    EXPECT_EQ(r->Status(), kSourceOk);
    EXPECT_EQ(r->Length(), 2);
}

TEST(WavReader, DamagedLayoutsAreReportedAsUnusable) {
    const std::string fmt = Chunk("fmt ", FmtBody(1, 1, 8000, 16));
    const std::string data = Chunk("data", test::Pcm16({1, 2}));
    const std::pair<const char*, std::string> cases[] = {
        {"empty.wav", ""},
        {"short.wav", "RIFF\x10\x00\x00"},
        {"nowave.wav", "RIFF" + Le32(4) + "AVI "},  // a block of 4 bytes or less
        {"datafirst.wav", Riff(data + fmt)},
        {"nofmt.wav", Riff(data)},
        {"nodata.wav", Riff(fmt)},
        {"huge.wav", Riff(Chunk("LIST", "x", 0x80000000u) + fmt + data)},
        {"cutfmt.wav", Riff(fmt).substr(0, 30)},
        {"bits0.wav", Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 0, 2)) + data)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        Ref<AudioSource> s = OpenWavSource(Put(name, bytes));
        EXPECT_EQ(s->Status(), kSourceUnusable);
        EXPECT_EQ(s->Length(), 0);
    }
    EXPECT_EQ(OpenWavSource(PathOf("does-not-exist.wav"))->Status(), kSourceCannotOpen);
}

TEST(WavReader, FormatsWithoutACodecReportStatusFive) {
    const std::string data = Chunk("data", std::string(64, '\x42'));
    std::string unknownGuid =
        FmtBody(kWaveTagExtensible, 1, 8000, 16) + Le16(22) + Le16(16) + Le32(4) + std::string(16, '\x07');
    const std::string cases[] = {FmtBody(0x0160, 2, 44100, 16), unknownGuid,
                                 FmtBody(kWaveTagIeeeFloat, 1, 8000, 24),
                                 FmtBody(kWaveTagImaAdpcm, 1, 8000, 3, 256)};
    int n = 0;
    for (const std::string& fmt : cases) {
        SCOPED_TRACE(n);
        Ref<AudioSource> s =
            OpenWavSource(Put("nocodec" + std::to_string(n++) + ".wav", Riff(Chunk("fmt ", fmt) + data)));
        EXPECT_EQ(s->Status(), kSourceNoCodec);
        EXPECT_EQ(s->Length(), 0);
        std::vector<int32_t> buffer(16 * s->Channels(), 99);
        s->Read(buffer.data(), 16);
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](int32_t v) { return v == 0; }));
    }
    // A codec we have with a record that contradicts itself is damaged.
    Ref<AudioSource> s = OpenWavSource(
        Put("badima.wav", Riff(Chunk("fmt ", FmtBody(kWaveTagImaAdpcm, 2, 8000, 4, 6)) + data)));
    EXPECT_EQ(s->Status(), kSourceUnusable);
}

// ---------------------------------------------------------------------------
// The reader: samples and positions

TEST(WavReader, EveryPcmWidthConvertsAsStated) {
    struct Case {
        uint16_t bits;
        std::string bytes;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {8, std::string("\x00\x80\xFF\x7F", 4), {-524288, 0, 520192, -4096}},
        {12, std::string("\xFF\x7F\x00\x80\xF0\xFF", 6), {524272, -524288, -256}},
        // The low 4 bits are dropped (an arithmetic shift: -1 stays -1).
        {24,
         std::string("\x0F\x00\x00\x10\x00\x00\xFF\xFF\x7F\x00\x00\x80\xFF\xFF\xFF", 15),
         {0, 1, 524287, -524288, -1}},
        // (s + 2048) >> 12, without overflow at the top.
        {32,
         std::string("\xFF\x07\x00\x00\x00\x08\x00\x00\xFF\xFF\xFF\x7F\x00\x00\x00\x80\xFF\xF7\xFF\xFF", 20),
         {0, 1, 524288, -524288, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::string name = "width" + std::to_string(c.bits) + ".wav";
        Ref<AudioSource> s = OpenWavSource(
            Put(name, Riff(Chunk("fmt ", FmtBody(1, 1, 8000, c.bits)) + Chunk("data", c.bytes))));
        ASSERT_EQ(s->Length(), static_cast<int32_t>(c.expected.size()));
        EXPECT_EQ(ReadFrames(*s, s->Length()), c.expected);
        EXPECT_EQ(s->FullScale(), kFullScale16);
    }
    // Extensible PCM is read the same way, by its container width.
    const std::string ext = FmtBody(kWaveTagExtensible, 1, 48000, 24) + Le16(22) + Le16(20) + Le32(4) +
                            Le32(1) + std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    Ref<AudioSource> s =
        OpenWavSource(Put("ext24.wav", Riff(Chunk("fmt ", ext) + Chunk("data", cases[2].bytes))));
    EXPECT_EQ(ReadFrames(*s, 5), cases[2].expected);
}

TEST(WavReader, SilenceBeforeTheStartAndPastTheEnd) {
    std::vector<int16_t> v(1000);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(i + 1);
    const std::string pcm =
        Put("pos.wav", Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16)) + Chunk("data", test::Pcm16(v))));
    // The same through a codec: A-law of the same values, rounded.
    const std::vector<int32_t> x = Signal(8000, 1, 1000);
    const std::string alaw = WriteCoded("pos-alaw.wav", MakeG711WaveFormat(kWaveTagALaw, 8000, 1), x);
    for (const std::string& path : {pcm, alaw}) {
        SCOPED_TRACE(path);
        Ref<AudioSource> s = OpenWavSource(path);
        const std::vector<int32_t> all = ReadFrames(*s, 1000);
        ASSERT_EQ(s->Length(), 1000);
        s->Seek(-100);
        EXPECT_EQ(s->Position(), -100);
        const std::vector<int32_t> got = ReadFrames(*s, 150);
        EXPECT_EQ(s->Position(), 50);
        EXPECT_TRUE(std::all_of(got.begin(), got.begin() + 100, [](int32_t a) { return a == 0; }));
        EXPECT_TRUE(std::equal(got.begin() + 100, got.end(), all.begin()));
        // Across the end, and wholly past it: silence, the position counts on.
        s->Seek(990);
        const std::vector<int32_t> tail = ReadFrames(*s, 30);
        EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 10, all.begin() + 990));
        EXPECT_TRUE(std::all_of(tail.begin() + 10, tail.end(), [](int32_t a) { return a == 0; }));
        EXPECT_EQ(s->Position(), 1020);
        const std::vector<int32_t> beyond = ReadFrames(*s, 20);
        EXPECT_TRUE(std::all_of(beyond.begin(), beyond.end(), [](int32_t a) { return a == 0; }));
        EXPECT_EQ(s->Position(), 1040);
        s->Seek(5000);
        ReadFrames(*s, 10);
        EXPECT_EQ(s->Position(), 5010);
        EXPECT_EQ(s->Length(), 1000);
    }
}

// ---------------------------------------------------------------------------
// Compressed files: our encoders, the reader's seeking and length

struct CodedCase {
    const char* name;
    WaveFormat format;
};

std::vector<CodedCase> CodedCases() {
    return {{"alaw", MakeG711WaveFormat(kWaveTagALaw, 8000, 1)},
            {"ulaw", MakeG711WaveFormat(kWaveTagMuLaw, 48000, 2)},
            {"ima8", MakeImaAdpcmWaveFormat(8000, 1)},
            {"ima48", MakeImaAdpcmWaveFormat(48000, 2)},
            {"ms8", MakeMsAdpcmWaveFormat(8000, 1)},
            {"ms48", MakeMsAdpcmWaveFormat(48000, 2)},
            {"gsm", MakeGsm610WaveFormat(8000)}};
}

// (How close the decode comes to the input, and that the peers decode our
// files as we do, is checked against sox and ffmpeg in the integration
// tests.)
TEST(WavCoded, FilesHoldTheRecordAsChosenAndNoOtherChunk) {
    for (const CodedCase& c : CodedCases()) {
        SCOPED_TRACE(c.name);
        const int ch = c.format.channels;
        const std::vector<int32_t> x = Signal(static_cast<int32_t>(c.format.samplesPerSec), ch, 20000);
        const std::string bytes = Get(WriteCoded(std::string("rt-") + c.name + ".wav", c.format, x));
        const std::vector<uint8_t> record = c.format.Serialize();
        ASSERT_GT(bytes.size(), 20 + record.size() + 8);
        EXPECT_EQ(LoadLE32(bytes.data() + 16), record.size());
        EXPECT_EQ(0, std::memcmp(bytes.data() + 20, record.data(), record.size()));
        EXPECT_EQ(bytes.substr(20 + record.size(), 4), "data");
        const uint32_t dataBytes = LoadLE32(bytes.data() + 24 + record.size());
        EXPECT_EQ(bytes.size(), 28 + record.size() + dataBytes);
        EXPECT_EQ(LoadLE32(bytes.data() + 4), bytes.size() - 8);
        // Whole blocks: the last one is completed with silence.
        EXPECT_EQ(dataBytes % c.format.blockAlign, 0u);
        EXPECT_LT(dataBytes, (20000u + 2048u) * ch * 2);
    }
}

TEST(WavCoded, LengthIsExactAndSeekingLandsOnTheSamplesOfAStraightDecode) {
    for (const CodedCase& c : CodedCases()) {
        SCOPED_TRACE(c.name);
        const int ch = c.format.channels;
        const std::vector<int32_t> x = Signal(static_cast<int32_t>(c.format.samplesPerSec), ch, 30000);
        // A wrong average byte rate in the header must not matter for codings
        // in fixed blocks.
        WaveFormat lying = c.format;
        lying.avgBytesPerSec = 12345;
        const std::string path = WriteCoded(std::string("seek-") + c.name + ".wav", lying, x);
        Ref<AudioSource> s = OpenWavSource(path);
        // Whole blocks: the length is exact before anything is read.
        const int32_t opened = s->Length();
        const std::vector<int32_t> all = ReadToEnd(*s);
        const int32_t length = s->Length();
        EXPECT_EQ(opened, length);
        ASSERT_EQ(static_cast<size_t>(length) * ch, all.size());
        for (int32_t target : {0, 1, 504, 505, 1000, 9999, 20000, length - 100}) {
            SCOPED_TRACE(target);
            s->Seek(target);
            EXPECT_EQ(s->Position(), target);
            const std::vector<int32_t> got = ReadFrames(*s, 100);
            const auto from = all.begin() + static_cast<ptrdiff_t>(target) * ch;
            if (c.format.tag == kWaveTagGsm610) {
                // GSM's filters remember the frames before the seek point;
                // after a few frames of run-in the difference is small.
                double diff = 0, level = 0;
                for (size_t i = 0; i < got.size(); ++i) {
                    diff += std::abs(double(got[i]) - from[static_cast<ptrdiff_t>(i)]);
                    level += std::abs(double(from[static_cast<ptrdiff_t>(i)]));
                }
                EXPECT_LT(diff, 0.05 * level + 1600);
            } else {
                EXPECT_TRUE(std::equal(got.begin(), got.end(), from));
            }
        }
        // Past the end: silence, and the length is the decoded one.
        s->Seek(length + 10);
        const std::vector<int32_t> past = ReadFrames(*s, 10);
        EXPECT_TRUE(std::all_of(past.begin(), past.end(), [](int32_t v) { return v == 0; }));
        EXPECT_EQ(s->Position(), length + 20);
        // Seek(-100) then Read(150).
        s->Seek(-100);
        const std::vector<int32_t> start = ReadFrames(*s, 150);
        EXPECT_TRUE(std::all_of(start.begin(), start.begin() + 100 * ch, [](int32_t v) { return v == 0; }));
        EXPECT_TRUE(std::equal(start.begin() + 100 * ch, start.end(), all.begin()));
    }
}

TEST(WavCoded, ShortLastBlocksDecodeAsFarAsTheyGo) {
    // An IMA block cut after its header and two 4-byte groups: 1 + 16
    // frames; an MS ADPCM block cut after its header and 5 bytes: 2 + 10.
    const std::vector<int32_t> x = Signal(8000, 1, 505 + 17);
    const std::string ima = WriteCoded("cut-ima.wav", MakeImaAdpcmWaveFormat(8000, 1), x);
    std::string bytes = Get(ima);
    const size_t header = bytes.size() - 2 * 256;
    bytes.resize(header + 256 + 4 + 8);
    Ref<AudioSource> s = OpenWavSource(Put("cut-ima2.wav", bytes));
    EXPECT_EQ(ReadToEnd(*s).size(), 505u + 17u);
    const std::string ms = WriteCoded("cut-ms.wav", MakeMsAdpcmWaveFormat(8000, 1), x);
    bytes = Get(ms);
    bytes.resize(bytes.size() - 256 + 7 + 5);
    s = OpenWavSource(Put("cut-ms2.wav", bytes));
    EXPECT_EQ(ReadToEnd(*s).size(), 500u + 12u);
}

TEST(WavCoded, TruncateKeepsWholeBlocks) {
    const WaveFormat ima = MakeImaAdpcmWaveFormat(8000, 1);
    const std::vector<int32_t> x = Signal(8000, 1, 6000);
    const std::string path = PathOf("trunc-ima.wav");
    {
        Ref<AudioSink> sink = CreateWavSink(path, ima);
        sink->Write(x.data(), 6000);
        sink->Truncate(7000);  // nothing
        sink->Truncate(505 * 3 + 10);
        sink->Write(x.data(), 505);
    }
    Ref<AudioSource> s = OpenWavSource(path);
    const std::vector<int32_t> y = ReadToEnd(*s);
    // Three whole blocks stay, then the new writing.
    ASSERT_EQ(y.size(), 505u * 4);
    Ref<AudioSource> ref = OpenWavSource(WriteCoded("trunc-ref.wav", ima, x));
    const std::vector<int32_t> full = ReadToEnd(*ref);
    EXPECT_TRUE(std::equal(y.begin(), y.begin() + 505 * 3, full.begin()));
    EXPECT_TRUE(std::equal(y.begin() + 505 * 3, y.end(), full.begin()));
}

// ---------------------------------------------------------------------------
// The codec layer

TEST(WavCodecLayer, OpensOnlyWhatItCanConvert) {
    const WaveFormat pcm8k = MakePcmWaveFormat(8000, 16, 1);
    const WaveFormat ima = MakeImaAdpcmWaveFormat(8000, 1);
    EXPECT_EQ(OpenCodecStream(ima, pcm8k, nullptr), CodecStatus::kOk);
    EXPECT_EQ(OpenCodecStream(pcm8k, ima, nullptr), CodecStatus::kOk);
    EXPECT_EQ(OpenCodecStream(pcm8k, pcm8k, nullptr), CodecStatus::kNotSupported);
    EXPECT_EQ(OpenCodecStream(ima, MakePcmWaveFormat(11025, 16, 1), nullptr), CodecStatus::kNotSupported);
    EXPECT_EQ(OpenCodecStream(ima, MakePcmWaveFormat(8000, 16, 2), nullptr), CodecStatus::kNotSupported);
    EXPECT_EQ(OpenCodecStream(ima, MakePcmWaveFormat(8000, 8, 1), nullptr), CodecStatus::kNotSupported);
    WaveFormat wide = ima;
    wide.channels = 256;
    EXPECT_EQ(OpenCodecStream(wide, Pcm16FormatFor(wide), nullptr), CodecStatus::kBadFormat);
    WaveFormat odd = ima;
    odd.blockAlign = 258;  // not whole 4-byte groups: readable, not writable
    EXPECT_EQ(OpenCodecStream(odd, pcm8k, nullptr), CodecStatus::kOk);
    EXPECT_FALSE(IsFormatEncodable(odd));
    WaveFormat wrongCount = MakeMsAdpcmWaveFormat(8000, 1);
    StoreLE16(wrongCount.extra.data(), 499);
    EXPECT_FALSE(IsFormatEncodable(wrongCount));
    WaveFormat noTable = MakeMsAdpcmWaveFormat(8000, 1);
    noTable.extra.resize(4);
    EXPECT_FALSE(IsFormatEncodable(noTable));
}

TEST(WavCodecLayer, TinyDestinationsGiveTheSameBytes) {
    const std::vector<int32_t> x = Signal(8000, 2, 3000);
    for (const WaveFormat& f : {MakeImaAdpcmWaveFormat(8000, 2), MakeMsAdpcmWaveFormat(8000, 2)}) {
        SCOPED_TRACE(f.tag);
        const std::string path = WriteCoded("tiny.wav", f, x);
        WavLayout layout;
        UniqueFd fd(::open(path.c_str(), O_RDONLY));
        ASSERT_EQ(ReadWavLayout(fd.Get(), FileSize(path).value_or(0), layout), kSourceOk);
        const std::string data = Get(path).substr(static_cast<size_t>(layout.dataStart));

        const auto decode = [&](uint32_t chunk) {
            std::unique_ptr<CodecStream> stream;
            EXPECT_EQ(OpenCodecStream(f, Pcm16FormatFor(f), &stream), CodecStatus::kOk);
            std::vector<uint8_t> out;
            std::vector<uint8_t> buffer(chunk);
            uint32_t used = 0;
            for (int guard = 0; guard < 100000; ++guard) {
                CodecBuffers b;
                b.source = reinterpret_cast<const uint8_t*>(data.data()) + used;
                b.sourceLength = static_cast<uint32_t>(data.size()) - used;
                b.destination = buffer.data();
                b.destinationLength = chunk;
                EXPECT_EQ(stream->Convert(b, kCodecBlockAlign | kCodecEnd), CodecStatus::kOk);
                used += b.sourceUsed;
                out.insert(out.end(), buffer.begin(), buffer.begin() + b.destinationUsed);
                if (b.destinationUsed == 0 && b.sourceUsed == 0) break;
            }
            return out;
        };
        const std::vector<uint8_t> whole = decode(1 << 20);
        EXPECT_EQ(whole.size() % 4, 0u);
        EXPECT_GE(whole.size(), x.size() * 2);
        EXPECT_EQ(decode(3), whole);
        EXPECT_EQ(decode(1001), whole);
    }
}

// Codecs that misbehave, registered for private tags.
constexpr uint16_t kStuckTag = 0x7F01;
constexpr uint16_t kFaultyTag = 0x7F02;

// Takes nothing and gives nothing, and says all is well.
class StuckCodec final : public CodecStream {
public:
    uint32_t SourceBytesFor(uint32_t) const override { return 64; }
    uint32_t DestinationBytesFor(uint32_t) const override { return 64; }
    CodecStatus Convert(CodecBuffers& b, unsigned) override {
        b.sourceUsed = 0;
        b.destinationUsed = 0;
        return CodecStatus::kOk;
    }
};

// One mono frame per byte, the byte as a 16-bit value; 0xEE is a fault.
class FaultyCodec final : public CodecStream {
public:
    uint32_t SourceBytesFor(uint32_t d) const override { return d / 2; }
    uint32_t DestinationBytesFor(uint32_t s) const override { return s * 2; }
    CodecStatus Convert(CodecBuffers& b, unsigned) override {
        b.sourceUsed = 0;
        b.destinationUsed = 0;
        while (b.sourceUsed < b.sourceLength && b.destinationUsed + 2 <= b.destinationLength) {
            const uint8_t v = b.source[b.sourceUsed];
            if (v == 0xEE) return CodecStatus::kError;
            StoreLE16(b.destination + b.destinationUsed, v);
            b.destinationUsed += 2;
            ++b.sourceUsed;
        }
        return CodecStatus::kOk;
    }
};

template <class Codec>
CodecStatus MakeCodec(const WaveFormat&, std::unique_ptr<CodecStream>* s) {
    if (s) *s = std::make_unique<Codec>();
    return CodecStatus::kOk;
}

void RegisterTestCodecs() {
    RegisterWavCodec(kStuckTag, MakeCodec<StuckCodec>, MakeCodec<StuckCodec>);
    RegisterWavCodec(kFaultyTag, MakeCodec<FaultyCodec>, nullptr);
}

TEST(WavCodecLayer, ACodecThatMakesNoProgressEndsTheStream) {
    RegisterTestCodecs();
    const std::string path = Put("stuck.wav", Riff(Chunk("fmt ", FmtBody(kStuckTag, 1, 8000, 8, 1)) +
                                                   Chunk("data", std::string(5000, '\x33'))));
    Ref<AudioSource> s = OpenWavSource(path);
    ASSERT_EQ(s->Status(), kSourceOk);
    std::vector<int32_t> buffer(1000, 99);
    s->Read(buffer.data(), 1000);  // returns instead of spinning
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](int32_t v) { return v == 0; }));
    EXPECT_EQ(s->Length(), 0);

    // The writer: the rest of the call is dropped and the sink fails.
    WaveFormat f = MakeG711WaveFormat(kStuckTag, 8000, 1);
    Ref<AudioSink> sink = CreateWavSink(PathOf("stuck-out.wav"), f);
    ASSERT_FALSE(sink->Failed());
    const std::vector<int32_t> x = Signal(8000, 1, 8192);
    sink->Write(x.data(), 8192);
    sink->Write(x.data(), 8192);
    EXPECT_TRUE(sink->Failed());
    EXPECT_FALSE(IsFormatEncodable(MakeG711WaveFormat(kFaultyTag, 8000, 1)));
}

TEST(WavCodecLayer, ConversionErrorsAreSkippedAndDecodingGoesOn) {
    RegisterTestCodecs();
    // 3000 good bytes, a bad one, 3000 more good ones.
    const std::string data = std::string(3000, '\x01') + "\xEE" + std::string(3000, '\x02');
    const std::string path =
        Put("faulty.wav", Riff(Chunk("fmt ", FmtBody(kFaultyTag, 1, 8000, 8, 1)) + Chunk("data", data)));
    Ref<AudioSource> s = OpenWavSource(path);
    ASSERT_EQ(s->Status(), kSourceOk);
    const std::vector<int32_t> y = ReadToEnd(*s);
    const auto ones = std::count(y.begin(), y.end(), 16);
    const auto twos = std::count(y.begin(), y.end(), 32);
    EXPECT_EQ(ones, 3000);
    // Some of what follows the fault is lost, not all of it.
    EXPECT_GT(twos, 1000);
    EXPECT_LT(twos, 3000);
    EXPECT_EQ(static_cast<size_t>(ones + twos), y.size());
}

// Hostile input: records and data that make no sense must not crash or
// read out of bounds (run under the sanitizers).
TEST(WavCodecLayer, GarbageInEveryCodingIsHarmless) {
    std::mt19937 rng(42);
    const uint16_t tags[] = {kWaveTagMsAdpcm, kWaveTagImaAdpcm,  kWaveTagGsm610,    kWaveTagALaw,
                             kWaveTagMuLaw,   kWaveTagIeeeFloat, kWaveTagMpegLayer3};
    for (int round = 0; round < 60; ++round) {
        const uint16_t tag = tags[round % std::size(tags)];
        const uint16_t channels = static_cast<uint16_t>(1 + rng() % 3);
        const uint16_t bits = tag == kWaveTagIeeeFloat                      ? 32
                              : tag == kWaveTagALaw || tag == kWaveTagMuLaw ? 8
                                                                            : 4;
        const uint16_t align = tag == kWaveTagGsm610 ? 65 : static_cast<uint16_t>(rng() % 600);
        std::string extra;
        for (uint32_t i = 0, n = rng() % 40; i < n; ++i)
            extra += static_cast<char>(rng());
        std::string data;
        for (uint32_t i = 0, n = 100 + rng() % 20000; i < n; ++i)
            data += static_cast<char>(rng() % 7 == 0 ? 0xFF : rng());
        const std::string fmt = FmtBody(tag, tag == kWaveTagGsm610 ? 1 : channels, 8000 + rng() % 40000, bits,
                                        align, rng() % 3 == 0 ? 0 : static_cast<uint32_t>(rng() % 100000)) +
                                Le16(static_cast<uint16_t>(extra.size())) + extra;
        Ref<AudioSource> s =
            OpenWavSource(Put("garbage.wav", Riff(Chunk("fmt ", fmt) + Chunk("data", data))));
        if (s->Status() != kSourceOk) continue;
        ReadToEnd(*s);
        s->Seek(static_cast<int32_t>(rng() % 5000));
        ReadFrames(*s, 3000);
    }
}

// ---------------------------------------------------------------------------
// The format chooser

TEST(WaveFormatChooser, OffersOnlyFormatsWeCanWrite) {
    const std::vector<WaveFormatChoice>& list = EncodableWaveFormats();
    ASSERT_FALSE(list.empty());
    std::vector<std::string> names;
    for (const WaveFormatChoice& c : list) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(IsFormatEncodable(c.format));
        EXPECT_LE(c.format.Serialize().size(), kWaveFormatBufferBytes);
        names.push_back(c.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    for (uint16_t tag : {kWaveTagALaw, kWaveTagMuLaw, kWaveTagImaAdpcm, kWaveTagMsAdpcm, kWaveTagGsm610}) {
        EXPECT_TRUE(std::any_of(list.begin(), list.end(), [tag](const WaveFormatChoice& c) {
            return c.format.tag == tag && c.format.samplesPerSec == 8000 && c.format.channels == 1;
        })) << tag;
    }
    const auto gsm8 = std::find_if(list.begin(), list.end(), [](const WaveFormatChoice& c) {
        return c.format.tag == kWaveTagGsm610 && c.format.samplesPerSec == 8000;
    });
    ASSERT_NE(gsm8, list.end());
    EXPECT_EQ(gsm8->format.avgBytesPerSec, 1625u);
    EXPECT_EQ(gsm8->name, "GSM 6.10: 8000 Hz, mono, 2 kB/s");

    EXPECT_TRUE(IsFormatEncodable(MakePcmWaveFormat(44100, 24, 6)));
    EXPECT_FALSE(IsFormatEncodable(MakeG711WaveFormat(kWaveTagIeeeFloat, 44100, 2)));
    EXPECT_FALSE(IsFormatEncodable(MakeG711WaveFormat(kWaveTagMpegLayer3, 44100, 2)));
}

TEST(WaveFormatChooser, RefusesFormatsWithoutAnEncoderAndAsksAgain) {
    test::ScriptedPrompt prompt;
    WaveFormat stereoGsm = MakeGsm610WaveFormat(8000);
    stereoGsm.channels = 2;
    const WaveFormat ima = MakeImaAdpcmWaveFormat(22050, 2);
    std::vector<WaveFormat> picks = {stereoGsm, ima};
    std::vector<WaveFormat> shownWith;
    const WaveFormatPicker pick = [&](const std::string& title, const std::vector<WaveFormatChoice>& choices,
                                      const WaveFormat& initial) -> std::optional<WaveFormat> {
        EXPECT_EQ(title, "Select Wave File Format");
        EXPECT_EQ(&choices, &EncodableWaveFormats());
        shownWith.push_back(initial);
        if (picks.empty()) return std::nullopt;
        WaveFormat f = picks.front();
        picks.erase(picks.begin());
        return f;
    };
    WaveFormat format = MakePcmWaveFormat(44100, 16, 2);
    EXPECT_TRUE(ChooseWaveFormat(format, pick, prompt));
    EXPECT_EQ(format, ima);
    ASSERT_EQ(prompt.History().size(), 1u);
    EXPECT_EQ(prompt.History()[0].title, "Format Not Available");
    EXPECT_EQ(prompt.History()[0].text,
              "The requested format is not available because the required CODEC is not installed on this "
              "computer.");
    EXPECT_EQ(prompt.History()[0].icon, PromptIcon::Error);
    ASSERT_EQ(shownWith.size(), 2u);
    EXPECT_EQ(shownWith[0], MakePcmWaveFormat(44100, 16, 2));
    EXPECT_EQ(shownWith[1], stereoGsm);

    // Cancel: false, the buffer unchanged.
    WaveFormat untouched = ima;
    EXPECT_FALSE(ChooseWaveFormat(untouched, pick, prompt));
    EXPECT_EQ(untouched, ima);
}

}  // namespace
}  // namespace sonitor
