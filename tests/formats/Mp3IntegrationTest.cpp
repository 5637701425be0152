// MP3 files made at test time by sox and lame over the whole range of the
// format (every sampling frequency, CBR, VBR and ABR, all channel modes,
// short blocks, no reservoir, CRC, tags), decoded by Mp3Source and by
// libmpg123. Both decoders deliver every frame of the stream (libmpg123's
// gapless trimming is off), so the outputs align sample for sample and are
// held to the full-accuracy bounds of ISO 11172-4: an RMS difference below
// 2^-15 / sqrt(12) and no difference above 2^-14 of full scale.

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/mp3/Mp3Source.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

// Internal samples per unit of libmpg123's float output (16-bit full scale * 16).
constexpr double kUnit = 524288.0;
const double kRmsBound = std::pow(2.0, -15) / std::sqrt(12.0);
const double kPeakBound = std::pow(2.0, -14);

const std::string& Folder() {
    static const std::string folder = test::MakeTempFolder("mp3lame");
    return folder;
}

struct Reference {
    long rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved, 1.0 = full scale
    size_t Frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};

Reference DecodeWithMpg123(const std::string& path) {
    Reference ref;
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh) return ref;
    mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_FORCE_FLOAT | MPG123_QUIET, 0.0);
    int encoding = 0;
    if (mpg123_open(mh, path.c_str()) == MPG123_OK &&
        mpg123_getformat(mh, &ref.rate, &ref.channels, &encoding) == MPG123_OK &&
        encoding == MPG123_ENC_FLOAT_32) {
        std::vector<unsigned char> buffer(1 << 16);
        for (;;) {
            size_t done = 0;
            const int r = mpg123_read(mh, buffer.data(), buffer.size(), &done);
            const auto* f = reinterpret_cast<const float*>(buffer.data());
            ref.samples.insert(ref.samples.end(), f, f + done / sizeof(float));
            if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
        }
    } else {
        ref.channels = 0;
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return ref;
}

struct Difference {
    double rms = 0;
    double peak = 0;
};

// ours[i] / kUnit against ref[i] over n samples.
Difference Compare(const int32_t* ours, const float* ref, size_t n) {
    Difference d;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double e = ours[i] / kUnit - ref[i];
        sum += e * e;
        d.peak = std::max(d.peak, std::abs(e));
    }
    d.rms = n ? std::sqrt(sum / static_cast<double>(n)) : 0;
    return d;
}

struct Case {
    const char* name;
    int rate;
    int channels;
    const char* material;  // sox synth effects
    const char* lame;
};

// Noise, tones and a sweep in turn, different in the two channels so that
// joint stereo has work to do; clicks make the encoder switch to short blocks.
const char* const kMusic =
    "synth 0.9 pinknoise sine 330 : synth 0.9 sine 150-9000 square 500 : synth 0.7 pinknoise pinknoise vol "
    "0.6";
const char* const kClicks = "synth 0.003 square 1000 vol 0.9 pad 0 0.2 repeat 10";

const Case kCases[] = {
    {"Mpeg25At8000Mono8kbps", 8000, 1, kMusic, "-b 8 --resample 8"},
    {"Mpeg25At11025Cbr16", 11025, 2, kMusic, "-b 16 --resample 11.025"},
    {"Mpeg25At12000Vbr", 12000, 2, kMusic, "-V 5 --resample 12"},
    {"Mpeg2At16000JointCbr32", 16000, 2, kMusic, "-b 32 -m j --resample 16"},
    {"Mpeg2At22050VbrV9", 22050, 2, kMusic, "-V 9 --resample 22.05"},
    {"Mpeg2At22050MonoClicks", 22050, 1, kClicks, "-b 48 -m m --resample 22.05"},
    {"Mpeg2At24000ForcedStereo", 24000, 2, kMusic, "-b 64 -m f --resample 24"},
    {"Mpeg1At32000Abr96", 32000, 2, kMusic, "--abr 96 --resample 32"},
    {"Mpeg1At32000Mono32kbps", 32000, 1, kMusic, "-b 32 --resample 32"},
    {"Mpeg1At44100Cbr128", 44100, 2, kMusic, "-b 128"},
    {"Mpeg1At44100VbrV0", 44100, 2, kMusic, "-V 0"},
    {"Mpeg1At44100NoReservoir", 44100, 2, kMusic, "-b 128 --nores"},
    {"Mpeg1At44100Clicks", 44100, 2, kClicks, "-b 128"},
    {"Mpeg1At44100MonoWithCrc", 44100, 1, kMusic, "-b 64 -m m -p"},
    {"Mpeg1At44100DualChannel", 44100, 2, kMusic, "-b 160 -m d"},
    {"Mpeg1At44100NoInfoFrame", 44100, 2, kMusic, "-b 112 -t"},
    {"Mpeg1At44100BigId3v2Tag", 44100, 2, kMusic, "-b 128 --add-id3v2 --tt Title --pad-id3v2-size 70000"},
    {"Mpeg1At48000VbrV4", 48000, 2, kMusic, "-V 4"},
    {"Mpeg1At48000Cbr320", 48000, 2, kMusic, "-b 320"},
};

class Mp3AgainstLibmpg123 : public testing::TestWithParam<Case> {};

TEST_P(Mp3AgainstLibmpg123, DecodesWithinFullAccuracyAndSeeksExactly) {
    const Case& c = GetParam();
    const std::string wav = Folder() + "/" + c.name + ".wav";
    const std::string mp3 = Folder() + "/" + c.name + ".mp3";
    ASSERT_EQ(test::RunShell("sox -V1 -D -n -r " + std::to_string(c.rate) + " -c " +
                             std::to_string(c.channels) + " -b 16 '" + wav + "' " + c.material),
              0);
    ASSERT_EQ(test::RunShell(std::string("lame --quiet ") + c.lame + " '" + wav + "' '" + mp3 + "'"), 0);

    const Reference ref = DecodeWithMpg123(mp3);
    ASSERT_GT(ref.channels, 0) << "libmpg123 cannot read " << mp3;
    Ref<AudioSource> source = OpenMp3Source(mp3);
    ASSERT_TRUE(source->Ok());
    auto& mp3Source = dynamic_cast<Mp3Source&>(*source);
    ASSERT_EQ(source->SampleRate(), ref.rate);
    ASSERT_EQ(source->Channels(), ref.channels);
    EXPECT_EQ(source->SampleRate(), c.rate);
    const int ch = source->Channels();

    // With a frame count from the information frame the length is known
    // from the start; otherwise it settles while reading.
    const int32_t openedLength = source->Length();
    if (mp3Source.InfoFrameCount() > 0) {
        EXPECT_EQ(static_cast<size_t>(openedLength), ref.Frames());
    }
    const std::vector<int32_t> ours = test::ReadToEnd(*source);
    const int32_t length = source->Length();
    ASSERT_EQ(static_cast<size_t>(length), ref.Frames());
    ASSERT_EQ(ours.size(), static_cast<size_t>(length) * ch);

    const Difference all = Compare(ours.data(), ref.samples.data(), ours.size());
    EXPECT_LT(all.rms, kRmsBound) << c.name;
    EXPECT_LE(all.peak, kPeakBound) << c.name;
    // The material reaches well into the range, so the bounds mean something.
    EXPECT_GT(*std::max_element(ref.samples.begin(), ref.samples.end()), 0.2f);

    // After a seek and the pre-roll, reading gives the same samples as
    // reading through.
    const int spf = mp3Source.SamplesPerFrame();
    std::mt19937 rng(static_cast<unsigned>(length));
    std::vector<int32_t> targets = {0, 1, 3 * spf + 100, 4 * spf, length / 2, length - 1500};
    for (int i = 0; i < 6; ++i)
        targets.push_back(static_cast<int32_t>(rng() % static_cast<unsigned>(length)));
    for (int32_t target : targets) {
        if (target < 0 || target >= length) continue;
        source->Seek(target);
        const int32_t n = std::min<int32_t>(3000, length - target);
        std::vector<int32_t> got(static_cast<size_t>(n) * ch);
        source->Read(got.data(), n);
        const size_t at = static_cast<size_t>(target) * ch;
        const Difference d = Compare(got.data(), ref.samples.data() + at, got.size());
        EXPECT_LT(d.rms, kRmsBound) << c.name << " seek to " << target;
        EXPECT_LE(d.peak, kPeakBound) << c.name << " seek to " << target;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), ours.begin() + static_cast<ptrdiff_t>(at)))
            << c.name << " seek to " << target;
    }
}

INSTANTIATE_TEST_SUITE_P(Lame, Mp3AgainstLibmpg123, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace sonitor
