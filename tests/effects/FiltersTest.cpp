// The low frequency cut against a double-precision biquad and sox, the
// equalizer's curve, axes and preset shapes, and both catalogue entries
// applied to a selection.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "effects/EffectCommand.h"
#include "effects/Equalizer.h"
#include "formats/import/ImportDispatcher.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/MemorySources.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

std::vector<int32_t> Noise(size_t count, int32_t amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> value(-amplitude, amplitude);
    std::vector<int32_t> s(count);
    for (int32_t& v : s)
        v = value(rng);
    return s;
}

std::vector<int32_t> ReadFrames(AudioSource& source, int64_t frames) {
    std::vector<int32_t> out(static_cast<size_t>(frames * source.Channels()));
    ReadInPieces(source, out.data(), frames);
    return out;
}

std::vector<int32_t> HighPass(const std::vector<int32_t>& input, int channels, int32_t rate, int32_t cutoff) {
    Ref<AudioSource> filter =
        CreateHighPassFilter(MakeRef<test::VectorSource>(input, rate, channels), cutoff);
    return ReadFrames(*filter, static_cast<int64_t>(input.size()) / channels);
}

// The same biquad with exact coefficients and arithmetic, one channel.
std::vector<double> DoubleHighPass(const std::vector<int32_t>& input, double rate, double f) {
    const double w = 2 * M_PI * f / rate;
    const double alpha = std::sin(w) / (2 * 0.707);
    const double a0 = 1 + alpha;
    const double a1 = -2 * std::cos(w) / a0, a2 = (1 - alpha) / a0;
    const double b0 = (1 + std::cos(w)) / 2 / a0, b1 = -(1 + std::cos(w)) / a0;
    std::vector<double> out;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (const int32_t x : input) {
        const double y = b0 * (x + x2) + b1 * x1 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        out.push_back(y);
    }
    return out;
}

// Within the Q24 coefficients' precision the output is the exact biquad's,
// with no offset even at the lowest cut-off (rounding down in the feedback
// path used to leave one of 3 % of full scale at 10 Hz), and a tone at the
// cut-off comes out 3 dB down.
TEST(HighPassFilterTest, FollowsTheDoublePrecisionBiquad) {
    const std::vector<int32_t> input = Noise(20000, 500000, 11);
    for (const int32_t f : {250, 4000}) {
        const std::vector<int32_t> got = HighPass(input, 1, 44100, f);
        const std::vector<double> expected = DoubleHighPass(input, 44100, f);
        double worst = 0;
        for (size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - expected[i]));
        EXPECT_LT(worst, 500) << f;  // 0.1 % of the input's range
    }
    // A tone has no offset, and none appears: rounding down in the feedback
    // path used to add about 17,500 units at 10 Hz.
    std::vector<int32_t> a440(88200);
    for (size_t i = 0; i < a440.size(); ++i)
        a440[i] = static_cast<int32_t>(std::lround(262136 * std::sin(2 * M_PI * 440 * i / 44100)));
    for (const int32_t f : {10, 250}) {
        const std::vector<int32_t> out = HighPass(a440, 1, 44100, f);
        const double mean = std::accumulate(out.begin() + 44100, out.end(), 0.0) / 44100;
        EXPECT_LT(std::abs(mean), 500) << f;
    }
    std::vector<int32_t> tone(20000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int32_t>(std::lround(4e5 * std::sin(2 * M_PI * 1000 * i / 44100)));
    const std::vector<int32_t> out = HighPass(tone, 1, 44100, 1000);
    const int32_t peak = *std::max_element(out.begin() + 10000, out.end());
    EXPECT_NEAR(peak / 4e5, std::sqrt(0.5), 0.002);
    // Below 1 Hz the filter is designed at 10 Hz.
    EXPECT_EQ(HighPass(input, 1, 44100, 0), HighPass(input, 1, 44100, 10));

    // Channels are filtered apart, and a seek starts over with clear state.
    std::vector<int32_t> stereo;
    const std::vector<int32_t> other = Noise(20000, 300000, 12);
    for (size_t i = 0; i < input.size(); ++i)
        stereo.insert(stereo.end(), {input[i], other[i]});
    Ref<AudioSource> filter = CreateHighPassFilter(MakeRef<test::VectorSource>(stereo, 44100, 2), 250);
    const std::vector<int32_t> first = ReadFrames(*filter, 20000);
    const std::vector<int32_t> left = HighPass(input, 1, 44100, 250);
    const std::vector<int32_t> right = HighPass(other, 1, 44100, 250);
    for (size_t i = 0; i < 20000; ++i) {
        ASSERT_EQ(first[2 * i], left[i]);
        ASSERT_EQ(first[2 * i + 1], right[i]);
    }
    filter->Seek(0);
    EXPECT_EQ(ReadFrames(*filter, 20000), first);
}

// A cut-off above half the rate would put the poles outside the unit circle;
// it cuts everything instead, and loud input near the 32-bit limit clips
// rather than wrapping round.
TEST(HighPassFilterTest, StaysStableAtTheLimits) {
    const std::vector<int32_t> input = Noise(20000, 500000, 13);
    for (const int32_t f : {22050, 30000, 1000000}) {
        const std::vector<int32_t> out = HighPass(input, 1, 44100, f);
        EXPECT_LE(*std::max_element(out.begin(), out.end()), 4) << f;
        EXPECT_GE(*std::min_element(out.begin(), out.end()), -4) << f;
    }
    std::vector<int32_t> square(4000);
    for (size_t i = 0; i < square.size(); ++i)
        square[i] = i % 2 ? INT32_MAX : INT32_MIN + 1;
    const std::vector<int32_t> out = HighPass(square, 1, 44100, 250);
    // Alternate samples are at the Nyquist frequency, which passes: the
    // output keeps alternating at full scale.
    for (size_t i = 100; i < out.size(); ++i)
        ASSERT_EQ(out[i] > 0, i % 2 == 1) << i;
}

// sox's two-pole high-pass has the same design (Q 0.707) in floating point;
// on 16-bit noise the two agree within the offset of the Q24 arithmetic.
TEST(HighPassFilterTest, AgreesWithSox) {
    if (test::RunShell("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
    const std::string folder = test::MakeTempFolder("sox");
    const std::string in = folder + "/in.wav";
    ASSERT_EQ(test::RunShell("sox -R -n -r 44100 -c 1 -b 16 '" + in + "' synth 1 whitenoise vol 0.4"), 0);
    for (const int32_t f : {250, 4000}) {
        const std::string out = folder + "/out" + std::to_string(f) + ".wav";
        ASSERT_EQ(test::RunShell("sox -D '" + in + "' '" + out + "' highpass " + std::to_string(f)), 0);
        uint8_t interact = 0;
        OpenAudioResult source = OpenAudioSource(in, interact, nullptr);
        OpenAudioResult reference = OpenAudioSource(out, interact, nullptr);
        ASSERT_EQ(source.result, kTaskDone);
        ASSERT_EQ(reference.result, kTaskDone);
        const int32_t frames = source.source->Length();
        Ref<AudioSource> ours = CreateHighPassFilter(source.source, f);
        const std::vector<int32_t> got = ReadFrames(*ours, frames);
        const std::vector<int32_t> expected = ReadFrames(*reference.source, frames);
        int32_t worst = 0;
        for (size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - expected[i]));
        EXPECT_LE(worst, 500) << f;  // 0.1 % of full scale, 31 steps of 16-bit audio
    }
}

TEST(EqualizerTest, AxesAndLevels) {
    EXPECT_EQ(EqualizerFrequency(0), 0);
    EXPECT_EQ(EqualizerFrequency(128), 4029);
    EXPECT_EQ(EqualizerFrequency(255), 20000);
    EXPECT_EQ(EqualizerPosition(0), 0);
    EXPECT_EQ(EqualizerPosition(20000), 255);
    EXPECT_EQ(EqualizerPosition(-50), 0);
    EXPECT_EQ(EqualizerPosition(40000), 255);
    // Both mappings truncate, so a position comes back one lower at most.
    for (int x = 0; x < 256; ++x) {
        const int back = EqualizerPosition(EqualizerFrequency(static_cast<uint8_t>(x)));
        EXPECT_TRUE(back == x || back == x - 1) << x;
    }
    EXPECT_EQ(EqualizerLevel(100), 127);
    EXPECT_EQ(EqualizerLevel(199), 253);
    EXPECT_EQ(EqualizerLevel(-10), 0);
    EXPECT_EQ(EqualizerLevel(400), 255);
    EXPECT_EQ(EqualizerGainText(255), "+6dB");
    EXPECT_EQ(EqualizerGainText(128), "0dB");
    EXPECT_EQ(EqualizerGainText(0), "-127dB");
}

TEST(EqualizerTest, CurveFromPoints) {
    const BinCurve flat = CurveFromPoints(FlatCurve(), 44100);
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](uint8_t v) { return v == 128; }));

    // A ramp over the whole axis. At 40000 Hz 20000 Hz is bin 2048, so the
    // ramp fills the curve; at 48000 Hz it ends at bin 1706 and the last
    // level holds above; at 22050 Hz the curve stops part-way up the ramp.
    const std::vector<CurvePoint> ramp = {{0, 0}, {255, 255}};
    BinCurve c = CurveFromPoints(ramp, 40000);
    for (int bin = 0; bin < 2048; ++bin)
        ASSERT_EQ(c[static_cast<size_t>(bin)], bin * 255 / 2048) << bin;
    c = CurveFromPoints(ramp, 48000);
    EXPECT_EQ(c[1705], 1705 * 255 / 1706);
    EXPECT_EQ(c[1706], 255);
    EXPECT_EQ(c[2047], 255);
    c = CurveFromPoints(ramp, 22050);
    EXPECT_EQ(c[2047], 2047 * 255 / 3715);
    EXPECT_EQ(CurveFromPoints(ramp, 0), CurveFromPoints(ramp, 44100));

    // Two points at one position make a vertical edge; the curve keeps the
    // first level below the first point.
    const std::vector<CurvePoint> step = {{40, 90}, {128, 90}, {128, 20}, {255, 20}};
    c = CurveFromPoints(step, 44100);
    const int edge = static_cast<int>(2.0 * EqualizerFrequency(128) / 44100 * 2048);
    EXPECT_EQ(c[0], 90);
    EXPECT_EQ(c[static_cast<size_t>(edge - 1)], 90);
    EXPECT_EQ(c[static_cast<size_t>(edge)], 20);
    EXPECT_EQ(c[2047], 20);
}

TEST(EqualizerTest, PresetShapes) {
    using P = std::vector<CurvePoint>;
    const BandPresetSettings band;  // 8000..12000 Hz, 50 %, slope 1000 Hz
    EXPECT_EQ(BandPresetShape(kEqualizerBandPass, band),
              (P{{0, 63}, {168, 63}, {178, 127}, {211, 127}, {218, 63}, {255, 63}}));
    EXPECT_EQ(BandPresetShape(kEqualizerBandStop, band),
              (P{{0, 127}, {168, 127}, {178, 63}, {211, 63}, {218, 127}, {255, 127}}));
    // A slope beyond the start frequency starts the ramp at 0 Hz; one that
    // would pass 20000 Hz is shortened to end there.
    EXPECT_EQ(BandPresetShape(kEqualizerBandPass, {500, 12000, 50, 1000})[1], (CurvePoint{0, 63}));
    EXPECT_EQ(BandPresetShape(kEqualizerBandPass, {15000, 19500, 50, 1000})[4], (CurvePoint{255, 63}));
    // The notch is at least 50 Hz wide with vertical edges; notch and
    // boost/cut may boost up to 199 %, the others stop at 100 %.
    EXPECT_EQ(BandPresetShape(kEqualizerNotch, {1000, 1010, 20, 700}),
              (P{{0, 127}, {51, 127}, {51, 25}, {53, 25}, {53, 127}, {255, 127}}));
    EXPECT_EQ(BandPresetShape(kEqualizerBoostCut, {8000, 12000, 250, 1000})[2].level, 253);
    EXPECT_EQ(BandPresetShape(kEqualizerBandStop, {8000, 12000, 250, 1000})[2].level, 127);

    const PassPresetSettings pass;  // 4000 Hz, 50 %, slope 1000 Hz
    EXPECT_EQ(PassPresetShape(kEqualizerHighPass, pass), (P{{0, 63}, {108, 63}, {127, 127}, {255, 127}}));
    EXPECT_EQ(PassPresetShape(kEqualizerLowPass, pass), (P{{0, 127}, {127, 127}, {143, 63}, {255, 63}}));
    EXPECT_EQ(PassPresetShape(kEqualizerLowPass, {19000, 50, 5000})[2], (CurvePoint{255, 63}));

    // Shapes come from the preset's own section; choosing one writes it to
    // the curve file at once.
    const std::string folder = test::MakeTempFolder("eq");
    SettingsStore settings({folder + "/user.ini", folder + "/machine.ini"});
    BandPresetSettings{1000, 1010, 20, 700}.Store(settings, kEqualizerNotch);
    EXPECT_EQ(EqualizerPresetShape(kEqualizerNotch, settings),
              BandPresetShape(kEqualizerNotch, {1000, 1010, 20, 700}));
    EXPECT_EQ(EqualizerPresetShape(kEqualizerHighPass, settings), PassPresetShape(kEqualizerHighPass, pass));
    EXPECT_EQ(EqualizerPresetShape(kEqualizerNoPreset, settings), FlatCurve());
    const std::string path = folder + "/equalizer.dat";
    EXPECT_EQ(ChooseEqualizerPreset(kEqualizerHighPass, settings, path),
              PassPresetShape(kEqualizerHighPass, pass));
    EXPECT_EQ(ReadWholeFile(path).value_or(""), std::string("\x04\x00\x3f\x6c\x3f\x7f\x7f\xff\x7f", 9));
}

struct Host final : DocumentHost {
    test::ScriptedPrompt prompt;
    UserPrompt& Prompt() override { return prompt; }
};

// Both effects through the command on a selection: the frames outside it
// stay bit for bit, and inside it is the filter run from the selection's
// start.
TEST(FilterEffectsTest, ApplyToASelection) {
    const int32_t frames = 30000, start = 7000, end = 21000;
    const std::vector<int32_t> samples = Noise(static_cast<size_t>(frames) * 2, 400000, 21);
    const auto run = [&](const char* id, const EffectValues& values) {
        const EffectDefinition* effect = FindEffect(id);
        EXPECT_NE(effect, nullptr);
        Ref<SoundDocument> document = MakeRef<SoundDocument>();
        Ref<ClipWriter> writer = CreateClipWriter(&document->clip, 44100, 2);
        writer->Write(samples.data(), frames);
        EXPECT_TRUE(writer->Close());
        Host host;
        test::ScriptedTaskHost tasks;
        EditContext ctx{host, tasks, Settings()};
        SetSelection(*document, start, end, start, host);
        EXPECT_EQ(ApplyEffectCommand(*document, *effect, values, ctx), kTaskDone);
        EXPECT_EQ(document->undo.UndoMenuText(), "Undo " + effect->name + "\tCtrl+Z");
        return ReadFrames(*OpenClipReader(document->clip), frames);
    };
    const auto check = [&](const std::vector<int32_t>& out, AudioSource& filter) {
        filter.Seek(start);
        const std::vector<int32_t> inside = ReadFrames(filter, end - start);
        for (int32_t i = 0; i < frames * 2; ++i) {
            const int32_t frame = i / 2;
            const int32_t expected = frame >= start && frame < end
                                         ? inside[static_cast<size_t>(i - 2 * start)]
                                         : samples[static_cast<size_t>(i)];
            ASSERT_EQ(out[static_cast<size_t>(i)], expected) << i;
        }
    };

    std::vector<int32_t> out = run("high-pass-filter", {{"LowCutFreq", "4000"}});
    check(out, *CreateHighPassFilter(MakeRef<test::VectorSource>(samples, 44100, 2), 4000));

    // The equalizer applies the curve file; a preset applies its shape.
    ASSERT_TRUE(SaveCurveFile(EqualizerFilePath(), {{0, 200}, {150, 40}, {255, 90}}));
    out = run("equalizer", {});
    check(out, *CreateBlockFilter(MakeRef<test::VectorSource>(samples, 44100, 2),
                                  CurveFromPoints({{0, 200}, {150, 40}, {255, 90}}, 44100)));
    out = run("equalizer", {{kEqualizerPresetKey, "4"}});
    check(out, *CreateBlockFilter(MakeRef<test::VectorSource>(samples, 44100, 2),
                                  CurveFromPoints(PassPresetShape(kEqualizerLowPass, {}), 44100)));
}

}  // namespace
}  // namespace sonitor
