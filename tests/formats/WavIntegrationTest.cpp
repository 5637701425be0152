// WAV reading and writing against real peers: files made by sox and ffmpeg
// at test time are decoded by us and compared with the peers' own decode,
// and files we write are decoded by the peers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include <fcntl.h>

#include "formats/Endian.h"
#include "formats/WavCodecs.h"
#include "formats/WavSink.h"
#include "formats/WavSource.h"
#include "formats/WaveFormat.h"
#include "foundation/FileUtil.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

const std::string& Dir() {
    static const std::string dir = test::MakeTempFolder("wav-peers");
    return dir;
}

std::string PathOf(const std::string& name) {
    return Dir() + "/" + name;
}

bool RunPeer(const std::string& command) {
    const int rc = test::RunShell(command + " >/dev/null 2>&1");
    if (rc != 0) ADD_FAILURE() << "peer command failed (" << rc << "): " << command;
    return rc == 0;
}

template <class T>
std::vector<T> LoadRaw(const std::string& path) {
    const std::optional<std::string> bytes = ReadWholeFile(path);
    EXPECT_TRUE(bytes.has_value()) << path;
    std::vector<T> v(bytes ? bytes->size() / sizeof(T) : 0);
    if (!v.empty()) std::memcpy(v.data(), bytes->data(), v.size() * sizeof(T));
    return v;
}

// The peers' decode to 16-bit signed little-endian, no dither.
std::vector<int16_t> SoxDecode16(const std::string& wav) {
    const std::string raw = wav + ".sox.raw";
    RunPeer("sox -D '" + wav + "' -t raw -e signed-integer -b 16 '" + raw + "'");
    return LoadRaw<int16_t>(raw);
}
std::vector<int16_t> FfmpegDecode16(const std::string& wav) {
    const std::string raw = wav + ".ff.raw";
    RunPeer("ffmpeg -v error -y -i '" + wav + "' -f s16le -c:a pcm_s16le '" + raw + "'");
    return LoadRaw<int16_t>(raw);
}
std::vector<int32_t> FfmpegDecode32(const std::string& wav) {
    const std::string raw = wav + ".ff32.raw";
    RunPeer("ffmpeg -v error -y -i '" + wav + "' -f s32le -c:a pcm_s32le '" + raw + "'");
    return LoadRaw<int32_t>(raw);
}

struct Decoded {
    uint8_t status = 0;
    int channels = 0;
    int32_t rate = 0;
    std::vector<int32_t> samples;
};

Decoded DecodeWithUs(const std::string& path) {
    Ref<AudioSource> s = OpenWavSource(path);
    // The length of a compressed file is an estimate until the end.
    return {s->Status(), s->Channels(), s->SampleRate(), test::ReadToEnd(*s)};
}

std::vector<int16_t> To16(const std::vector<int32_t>& internal) {
    std::vector<int16_t> v(internal.size());
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(internal[i] % 16, 0) << "at " << i;
        v[i] = static_cast<int16_t>(internal[i] / 16);
    }
    return v;
}

// Our decode equals the peer's over the peer's length; we may deliver up to
// one block more, where a peer trims the padding of the last block.
void ExpectSameDecode(const std::vector<int16_t>& ours, const std::vector<int16_t>& peer, size_t slackSamples,
                      const char* peerName) {
    ASSERT_FALSE(peer.empty()) << peerName;
    ASSERT_GE(ours.size(), peer.size()) << peerName;
    EXPECT_LE(ours.size(), peer.size() + slackSamples) << peerName;
    size_t mismatches = 0;
    size_t first = 0;
    for (size_t i = 0; i < peer.size(); ++i) {
        if (ours[i] != peer[i] && mismatches++ == 0) first = i;
    }
    EXPECT_EQ(mismatches, 0u) << peerName << ": first difference at sample " << first << ": ours "
                              << ours[first] << ", peer " << peer[first];
}

// How far apart two decodes are: signal to difference ratio in dB. For the
// ADPCM codings the two peers round differently from each other (IMA: ffmpeg
// computes the step difference as (2 * code + 1) * step / 8 in one go; MS:
// ffmpeg divides the prediction by 256 where sox shifts), and the predictor
// carries each difference on, so only one of them can match exactly. We
// follow the classic IMA shift-and-add and the MS shift, and hold the other
// peer to staying close.
double Closeness(const std::vector<int16_t>& ours, const std::vector<int16_t>& peer) {
    double signal = 0, error = 0;
    for (size_t i = 0; i < peer.size() && i < ours.size(); ++i) {
        const double p = peer[i];
        const double d = ours[i] - p;
        signal += p * p;
        error += d * d;
    }
    return 10 * std::log10(signal / std::max(error, 1e-9));
}

constexpr double kMinPeerCloseness = 30.0;

// A test signal with content over the whole band: two sweeps-like tones and
// deterministic noise, at about -4 dBFS.
std::vector<int32_t> TestSignal(int32_t rate, int channels, int32_t frames) {
    std::vector<int32_t> v(static_cast<size_t>(frames) * channels);
    uint32_t noise = 12345;
    for (int32_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double n = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.05;
            const double x = 0.4 * std::sin(2 * std::numbers::pi * (300 + 200 * c) * t) +
                             0.2 * std::sin(2 * std::numbers::pi * (rate / 9.0) * t * (1 + t)) + n;
            v[static_cast<size_t>(f) * channels + c] = static_cast<int32_t>(std::lround(x * 32767)) * 16;
        }
    }
    return v;
}

double SnrDb(const std::vector<int32_t>& reference, const std::vector<int32_t>& decoded) {
    double signal = 0, error = 0;
    for (size_t i = 0; i < reference.size() && i < decoded.size(); ++i) {
        const double r = reference[i] / 16.0;
        const double e = r - decoded[i] / 16.0;
        signal += r * r;
        error += e * e;
    }
    return 10 * std::log10(signal / std::max(error, 1e-9));
}

void WriteWithUs(const std::string& path, const WaveFormat& format, const std::vector<int32_t>& samples) {
    Ref<AudioSink> sink = CreateWavSink(path, format);
    ASSERT_FALSE(sink->Failed());
    const int ch = format.channels;
    const int32_t frames = static_cast<int32_t>(samples.size() / ch);
    // Odd piece sizes, so blocks straddle calls.
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min<int32_t>(frames - done, 3001);
        sink->Write(samples.data() + static_cast<size_t>(done) * ch, n);
        done += n;
    }
    EXPECT_TRUE(sink->Close());
}

// ---------------------------------------------------------------------------
// Files written by the peers

class PeerFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Mono 8 kHz and stereo 48 kHz sources with sweeps and noise, loud
        // enough to drive the ADPCM coders into clamping now and then.
        RunPeer("sox -R -n -r 8000 -c 1 -b 16 '" + PathOf("m8.wav") +
                "' synth 1.1 sine 100-3900 synth 1.1 whitenoise amod 0.3 gain -1");
        RunPeer("sox -R -n -r 48000 -c 2 -b 16 '" + PathOf("s48.wav") +
                "' synth 0.7 sine 50-20000 sine 3000 synth 0.7 pinknoise amod 0.4 gain -0.5");
    }
};

struct AdpcmCase {
    const char* name;
    const char* soxEncoding;
    const char* ffmpegCodec;
};

TEST_F(PeerFiles, AdpcmFromSoxAndFfmpegDecodeExactlyAsThePeersDo) {
    const AdpcmCase cases[] = {{"ima", "ima-adpcm", "adpcm_ima_wav"}, {"ms", "ms-adpcm", "adpcm_ms"}};
    for (const AdpcmCase& c : cases) {
        for (const char* source : {"m8.wav", "s48.wav"}) {
            SCOPED_TRACE(std::string(c.name) + " " + source);
            const std::string bySox = PathOf(std::string("sox-") + c.name + "-" + source);
            const std::string byFfmpeg = PathOf(std::string("ff-") + c.name + "-" + source);
            RunPeer("sox '" + PathOf(source) + "' -e " + c.soxEncoding + " '" + bySox + "'");
            RunPeer("ffmpeg -v error -y -i '" + PathOf(source) + "' -c:a " + c.ffmpegCodec + " '" + byFfmpeg +
                    "'");
            for (const std::string& file : {bySox, byFfmpeg}) {
                const Decoded d = DecodeWithUs(file);
                ASSERT_EQ(d.status, kSourceOk);
                const std::vector<int16_t> ours = To16(d.samples);
                // One block of slack: the peers trim the padding of the last
                // block by the "fact" chunk, which we do not read.
                const size_t slack = 2048 * static_cast<size_t>(d.channels) * 2;
                ExpectSameDecode(ours, SoxDecode16(file), slack, "sox");
                EXPECT_GE(Closeness(ours, FfmpegDecode16(file)), kMinPeerCloseness);
            }
        }
    }
}

TEST_F(PeerFiles, G711AndGsmFromPeersDecodeExactly) {
    struct Case {
        const char* name;
        std::string make;
    };
    const std::string m8 = PathOf("m8.wav");
    const std::string s48 = PathOf("s48.wav");
    const Case cases[] = {
        {"sox-alaw-m8.wav", "sox '" + m8 + "' -e a-law"},
        {"sox-ulaw-s48.wav", "sox '" + s48 + "' -e u-law"},
        {"ff-alaw-s48.wav", "ffmpeg -v error -y -i '" + s48 + "' -c:a pcm_alaw"},
        {"ff-ulaw-m8.wav", "ffmpeg -v error -y -i '" + m8 + "' -c:a pcm_mulaw"},
        {"sox-gsm-m8.wav", "sox '" + m8 + "' -e gsm-full-rate"},
        {"ff-gsm-m8.wav", "ffmpeg -v error -y -i '" + m8 + "' -c:a libgsm_ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = PathOf(c.name);
        RunPeer(c.make + " '" + file + "'");
        const Decoded d = DecodeWithUs(file);
        ASSERT_EQ(d.status, kSourceOk);
        const std::vector<int16_t> ours = To16(d.samples);
        const size_t slack = 320;  // a GSM block
        ExpectSameDecode(ours, SoxDecode16(file), slack, "sox");
        ExpectSameDecode(ours, FfmpegDecode16(file), slack, "ffmpeg");
    }
}

TEST_F(PeerFiles, IntegerPcmOfEveryWidthReadsExactly) {
    const std::string s48 = PathOf("s48.wav");
    // 8 bits: (s - 128) * 4096, which is the peers' 16-bit value times 16.
    {
        const std::string file = PathOf("sox-u8.wav");
        RunPeer("sox -D '" + s48 + "' -b 8 '" + file + "'");
        const Decoded d = DecodeWithUs(file);
        const std::vector<int16_t> peer = SoxDecode16(file);
        ASSERT_EQ(d.samples.size(), peer.size());
        for (size_t i = 0; i < peer.size(); ++i)
            ASSERT_EQ(d.samples[i], peer[i] * 16) << i;
    }
    // 24 and 32 bits, plain (sox -t wavpcm) and extensible (sox's default for
    // 24 bits, ffmpeg's for more than two channels): compared with the
    // peer's 32-bit decode, s24 << 8 or s32, and the stated conversions
    // computed in double precision: floor(s / 4096) for 24 bits (the low 4
    // bits dropped) and floor(s / 4096 + 1/2) for 32 bits.
    struct Case {
        const char* name;
        std::string make;
        bool round;
        uint16_t tag;
    };
    const Case cases[] = {
        {"sox-s24.wav", "sox '" + s48 + "' -b 24 -t wavpcm", false, kWaveTagPcm},
        {"sox-s24x.wav", "sox '" + s48 + "' -b 24", false, kWaveTagExtensible},
        {"sox-s32.wav", "sox '" + s48 + "' -b 32 -t wavpcm", true, kWaveTagPcm},
        {"ff-s24x-4ch.wav",
         "ffmpeg -v error -y -i '" + s48 + "' -filter_complex '[0:a][0:a]amerge=inputs=2' -c:a pcm_s24le",
         false, kWaveTagExtensible},
        {"ff-s32x-3ch.wav",
         "ffmpeg -v error -y -i '" + s48 +
             "' -filter_complex '[0:a]pan=3c|c0=c0|c1=c1|c2=0.5*c0+0.5*c1' -c:a pcm_s32le",
         true, kWaveTagExtensible},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = PathOf(c.name);
        RunPeer(c.make + " '" + file + "'");
        const std::optional<std::string> bytes = ReadWholeFile(file);
        ASSERT_TRUE(bytes && bytes->size() > 22);
        EXPECT_EQ(LoadLE16(bytes->data() + 20), c.tag) << "the peer wrote another kind of header";
        const Decoded d = DecodeWithUs(file);
        ASSERT_EQ(d.status, kSourceOk);
        const std::vector<int32_t> peer = FfmpegDecode32(file);
        ASSERT_EQ(d.samples.size(), peer.size());
        for (size_t i = 0; i < peer.size(); ++i) {
            const double s = peer[i];
            const int32_t expected = static_cast<int32_t>(std::floor(s / 4096 + (c.round ? 0.5 : 0.0)));
            ASSERT_EQ(d.samples[i], expected) << "sample " << i;
        }
    }
}

TEST_F(PeerFiles, FloatFilesRoundToNearestAndSaturate) {
    const std::string s48 = PathOf("s48.wav");
    // Louder than full scale, so that saturation is exercised.
    const std::string f32 = PathOf("sox-f32.wav");
    const std::string f64 = PathOf("sox-f64.wav");
    const std::string f32x = PathOf("ff-f32x-3ch.wav");
    RunPeer("sox '" + s48 + "' -e floating-point -b 32 '" + f32 + "' gain 3");
    RunPeer("sox '" + s48 + "' -e floating-point -b 64 '" + f64 + "'");
    RunPeer("ffmpeg -v error -y -i '" + s48 +
            "' -filter_complex '[0:a]pan=3c|c0=c0|c1=c1|c2=c0' -c:a pcm_f32le '" + f32x + "'");
    for (const std::string& file : {f32, f64, f32x}) {
        SCOPED_TRACE(file);
        const Decoded d = DecodeWithUs(file);
        ASSERT_EQ(d.status, kSourceOk);
        const std::vector<int16_t> ours = To16(d.samples);
        // ffmpeg rounds x * 32768 to nearest and clips, as we do: exact.
        ExpectSameDecode(ours, FfmpegDecode16(file), 0, "ffmpeg");
        // sox rounds the other way at exact halves and scales by 32767 on
        // the way in: within one step.
        const std::vector<int16_t> sox = SoxDecode16(file);
        ASSERT_EQ(sox.size(), ours.size());
        for (size_t i = 0; i < sox.size(); ++i)
            ASSERT_LE(std::abs(ours[i] - sox[i]), 1) << i;
    }
}

TEST_F(PeerFiles, MpegLayer3InWavDecodesLikeThePeers) {
    // MPEG-1 stereo and MPEG-2 mono, as ffmpeg wraps them (format tag 0x55).
    struct Case {
        const char* name;
        const char* options;
        int channels;
    };
    const Case cases[] = {{"ff-mp3-s44.wav", "-ar 44100 -b:a 128k", 2},
                          {"ff-mp3-m22.wav", "-ac 1 -ar 22050 -b:a 32k", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = PathOf(c.name);
        RunPeer("ffmpeg -v error -y -i '" + PathOf("s48.wav") + "' " + c.options + " -c:a libmp3lame '" +
                file + "'");
        const Decoded d = DecodeWithUs(file);
        ASSERT_EQ(d.status, kSourceOk);
        ASSERT_EQ(d.channels, c.channels);
        const std::vector<int16_t> ours = To16(d.samples);
        // The peers decode in floating point, our decoder in fixed point:
        // the two may round to neighbouring 16-bit values, never further.
        const std::string mpg123Raw = file + ".mpg123.raw";
        RunPeer("mpg123 -q -O '" + mpg123Raw + "' '" + file + "'");
        for (const std::vector<int16_t>& peer : {FfmpegDecode16(file), LoadRaw<int16_t>(mpg123Raw)}) {
            ASSERT_EQ(ours.size(), peer.size());
            int worst = 0;
            size_t differing = 0;
            for (size_t i = 0; i < peer.size(); ++i) {
                const int diff = std::abs(ours[i] - peer[i]);
                worst = std::max(worst, diff);
                differing += diff != 0;
            }
            EXPECT_LE(worst, 1);
            EXPECT_LT(differing, peer.size() / 10);
        }

        // Seeking lands on exactly the samples of a straight decode: the
        // seek starts at a frame a few frames back, so the bit reservoir
        // and the filter banks have settled by the target.
        Ref<AudioSource> s = OpenWavSource(file);
        const int32_t frames = static_cast<int32_t>(d.samples.size() / c.channels);
        for (int32_t target : {1, 1151, 5000, frames / 2, frames - 700}) {
            SCOPED_TRACE(target);
            s->Seek(target);
            std::vector<int32_t> got(600 * static_cast<size_t>(c.channels));
            s->Read(got.data(), 600);
            EXPECT_EQ(s->Position(), target + 600);
            const auto expected = d.samples.begin() + static_cast<ptrdiff_t>(target) * c.channels;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected));
        }
    }
}

// ---------------------------------------------------------------------------
// Files written by us

struct WritableCase {
    const char* name;
    WaveFormat format;
    double minSnrDb;          // against the 16-bit input
    const char* soxEncoding;  // for codings sox must encode byte for byte as we do
    int grid = 1;             // input step (16-bit) on which sox and we encode alike
};

// The SNR floors sit a few dB under what we measure on this signal (G.711
// 37 dB; IMA and MS ADPCM 23-26 dB, which is what sox's own encoders reach
// on it; GSM, a speech coder, 12 dB).
std::vector<WritableCase> WritableCases() {
    std::vector<WritableCase> cases;
    for (const auto& [rate, channels] : {std::pair<uint32_t, uint16_t>{8000, 1}, {48000, 2}}) {
        // sox rounds to the 13-bit (A-law) or 14-bit (u-law) grid before it
        // compares with the decision values; on the grid the two agree.
        cases.push_back({"alaw", MakeG711WaveFormat(kWaveTagALaw, rate, channels), 35, "a-law", 8});
        cases.push_back({"ulaw", MakeG711WaveFormat(kWaveTagMuLaw, rate, channels), 35, "u-law", 4});
        cases.push_back({"ima", MakeImaAdpcmWaveFormat(rate, channels), 21, nullptr});
        cases.push_back({"ms", MakeMsAdpcmWaveFormat(rate, channels), 21, nullptr});
    }
    // GSM is mono only.
    cases.push_back({"gsm", MakeGsm610WaveFormat(8000), 10, "gsm-full-rate"});
    cases.push_back({"gsm", MakeGsm610WaveFormat(48000), 10, "gsm-full-rate"});
    return cases;
}

std::string DataChunkOf(const std::string& path) {
    const std::optional<std::string> bytes = ReadWholeFile(path);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    WavLayout layout;
    if (!bytes || !fd || ReadWavLayout(fd.Get(), static_cast<int64_t>(bytes->size()), layout) != kSourceOk) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return bytes->substr(static_cast<size_t>(layout.dataStart), static_cast<size_t>(layout.dataBytes));
}

TEST(WavWrittenByUs, EveryCodingDecodesTheSameWithUsAndThePeers) {
    for (const WritableCase& c : WritableCases()) {
        const std::string tag = std::string(c.name) + "-" + std::to_string(c.format.samplesPerSec) + "-" +
                                std::to_string(c.format.channels);
        SCOPED_TRACE(tag);
        ASSERT_TRUE(IsFormatEncodable(c.format));
        const std::string file = PathOf("ours-" + tag + ".wav");
        const int32_t frames = static_cast<int32_t>(c.format.samplesPerSec) * 3 / 4 + 77;
        std::vector<int32_t> input =
            TestSignal(static_cast<int32_t>(c.format.samplesPerSec), c.format.channels, frames);
        for (int32_t& x : input)
            x = x / (16 * c.grid) * (16 * c.grid);
        WriteWithUs(file, c.format, input);

        const Decoded d = DecodeWithUs(file);
        ASSERT_EQ(d.status, kSourceOk);
        ASSERT_EQ(d.channels, c.format.channels);
        ASSERT_EQ(d.rate, static_cast<int32_t>(c.format.samplesPerSec));
        // The last block is completed with silence.
        ASSERT_GE(d.samples.size(), input.size());
        EXPECT_LT(d.samples.size(), input.size() + 2048 * static_cast<size_t>(c.format.channels));
        EXPECT_GE(SnrDb(input, d.samples), c.minSnrDb);

        const std::vector<int16_t> ours = To16(d.samples);
        ExpectSameDecode(ours, SoxDecode16(file), 0, "sox");
        if (c.format.tag == kWaveTagImaAdpcm || c.format.tag == kWaveTagMsAdpcm) {
            EXPECT_GE(Closeness(ours, FfmpegDecode16(file)), kMinPeerCloseness);
        } else {
            ExpectSameDecode(ours, FfmpegDecode16(file), 0, "ffmpeg");
        }

        if (c.soxEncoding) {
            // G.711 and GSM (libgsm in both) are deterministic: sox encoding
            // the same 16-bit input gives the same bytes, up to its handling
            // of the last, padded block.
            const std::string pcm = PathOf("input-" + tag + ".wav");
            const std::string bySox = PathOf("sox-" + tag + ".wav");
            WriteWithUs(pcm, MakePcmWaveFormat(c.format.samplesPerSec, 16, c.format.channels), input);
            RunPeer("sox -D '" + pcm + "' -e " + c.soxEncoding + " '" + bySox + "'");
            const std::string theirs = DataChunkOf(bySox);
            const std::string mine = DataChunkOf(file);
            const size_t whole = (input.size() / c.format.channels) /
                                 (c.format.tag == kWaveTagGsm610 ? 320 : 1) * c.format.blockAlign;
            ASSERT_GE(theirs.size(), whole);
            ASSERT_GE(mine.size(), whole);
            const auto diff =
                std::mismatch(mine.begin(), mine.begin() + static_cast<ptrdiff_t>(whole), theirs.begin());
            EXPECT_TRUE(diff.first == mine.begin() + static_cast<ptrdiff_t>(whole))
                << "first different byte at " << (diff.first - mine.begin()) << " of " << whole;
        }
    }
}

}  // namespace
}  // namespace sonitor
