// The delay effects against flat models that index the input and output
// arrays directly (no rings), read in random pieces; their dialog checks;
// and every entry of the family applied to part of a clip.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectProcessors.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"

namespace sonitor {

namespace {

using Samples = std::vector<int32_t>;

int32_t Sat(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// 16-bit-scale material with every sixteenth sample anywhere in 32 bits, so
// that the overflow paths are taken as well.
Samples Noise(std::mt19937& rng, size_t count) {
    Samples s(count);
    for (int32_t& v : s)
        v = rng() % 16 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 1048545) - 524272;
    return s;
}

Ref<AudioSource> Over(const Samples& samples, int32_t rate, int channels) {
    return MakeRef<test::VectorSource>(samples, rate, channels);
}

// The whole source in random pieces of 1..8192 frames.
Samples ReadRandomly(AudioSource& source, std::mt19937& rng) {
    const int32_t frames = source.Length();
    Samples out(static_cast<size_t>(frames) * static_cast<size_t>(source.Channels()));
    for (int32_t done = 0; done < frames;) {
        const int32_t n = std::min<int32_t>(frames - done, static_cast<int32_t>(rng() % 8192) + 1);
        source.Read(out.data() + static_cast<size_t>(done) * source.Channels(), n);
        done += n;
    }
    return out;
}

Samples ReadAt(AudioSource& source, int32_t from, int32_t frames) {
    source.Seek(from);
    Samples out(static_cast<size_t>(frames) * static_cast<size_t>(source.Channels()));
    ReadInPieces(source, out.data(), frames);
    return out;
}

// y[n] = x[n] + sum of (y[n - delay] * gain) >> 9 over the taps.
Samples FeedbackModel(const Samples& x, const std::vector<size_t>& delays,
                      const std::vector<int64_t>& gains) {
    Samples y(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        int64_t v = x[n];
        for (size_t k = 0; k < delays.size(); ++k)
            if (n >= delays[k]) v += (y[n - delays[k]] * gains[k]) >> 9;
        y[n] = Sat(v);
    }
    return y;
}

TEST(DelayEffectsTest, EchoAndReverbAreFlatFeedbackModels) {
    std::mt19937 rng(11);
    struct Case {
        int32_t rate;
        int channels;
        int32_t ms, gain;
        std::vector<size_t> delays;  // interleaved samples
        std::vector<int64_t> gains;  // Q9
    };
    const Case echoes[] = {{8000, 1, 10, 50, {80}, {256}},
                           {1000, 1, 10, -60, {20}, {-307}},  // 10 samples, lengthened to 20
                           {44100, 2, 25, 99, {2204}, {506}},
                           {11025, 2, 3000, 75, {66150}, {384}}};
    for (const Case& c : echoes) {
        const Samples x = Noise(rng, 150000);
        Ref<AudioSource> echo = CreateEcho(Over(x, c.rate, c.channels), c.ms, c.gain);
        EXPECT_EQ(ReadRandomly(*echo, rng), FeedbackModel(x, c.delays, c.gains)) << c.ms;
    }
    // Level 100 over 1000 samples: taps from 741, 558, 382, 211 and the
    // ring's own length. Level -99 over 2 x 2205 samples: G = -506.
    const Case reverbs[] = {{10000, 1, 100, 100, {259, 442, 618, 789, 1000}, {204, 51, 153, 35, 66}},
                            {44100, 2, 50, -99, {1141, 1949, 2725, 3480, 4410}, {-202, -50, -151, -35, -65}}};
    for (const Case& c : reverbs) {
        const Samples x = Noise(rng, 100000);
        Ref<AudioSource> reverb = CreateReverb(Over(x, c.rate, c.channels), c.gain, c.ms);
        EXPECT_EQ(ReadRandomly(*reverb, rng), FeedbackModel(x, c.delays, c.gains)) << c.gain;
    }

    // The echo of a unit impulse halves at every repeat.
    Samples impulse(400, 0);
    impulse[0] = 1000;
    const Samples y = ReadAt(*CreateEcho(Over(impulse, 8000, 1), 10, 50), 0, 400);
    EXPECT_EQ((Samples{y[0], y[79], y[80], y[160], y[240]}), (Samples{1000, 0, 500, 250, 125}));
    // A sustained 16-bit full-scale level under the reverb settles near
    // 512 / 3 times itself instead of wrapping on the way.
    const Samples dc = ReadAt(*CreateReverb(Over(Samples(400000, 524272), 8000, 1), 100, 50), 0, 400000);
    EXPECT_GT(*std::min_element(dc.begin(), dc.end()), 0);
    EXPECT_NEAR(dc.back(), 524272.0 * 512 / 3, 524272.0 * 512 / 3 * 0.005);
}

// A voice of the swept delay: its phase step and its gain per channel.
struct Voice {
    double increment;
    double gain[2];
};

// The input plus, per voice, the gain times the input i and i + 1 frames
// back, interpolated; read straight from the input array.
Samples SweepModel(const Samples& x, int channels, int32_t rate, int32_t ms, int32_t depth,
                   std::vector<Voice> voices) {
    const int64_t base = int64_t{rate} * ms / 1000;
    const auto amplitude = static_cast<double>(base * depth / 100);
    const auto at = [&](int64_t frame, int c) { return frame < 0 ? 0 : x[frame * channels + c]; };
    std::vector<double> phases(voices.size(), 0.0);
    Samples y(x.size());
    for (int64_t n = 0; n < static_cast<int64_t>(x.size()) / channels; ++n) {
        std::vector<double> delays;
        for (size_t k = 0; k < voices.size(); ++k) {
            delays.push_back(amplitude * std::sin(phases[k]) + static_cast<double>(base));
            phases[k] += voices[k].increment;
        }
        for (int c = 0; c < channels; ++c) {
            int64_t v = at(n, c);
            for (size_t k = 0; k < voices.size(); ++k) {
                const auto i = static_cast<int64_t>(delays[k]);
                const double fr = delays[k] - static_cast<double>(i);
                v += static_cast<int64_t>(voices[k].gain[c] *
                                          (at(n - i, c) * (1 - fr) + at(n - i - 1, c) * fr));
            }
            y[n * channels + c] = Sat(v);
        }
    }
    return y;
}

TEST(DelayEffectsTest, SweptDelaysAreFlatModels) {
    std::mt19937 rng(13);
    struct Case {
        int32_t rate;
        int channels;
        int32_t ms;
        double hz;
        int32_t depth, gain;
    };
    // Phaser settings (time 0 among them) and flanger settings.
    const Case flangers[] = {{44100, 2, 0, 0, 0, 100},   {44100, 1, 0, 0, 0, 70},
                             {44100, 2, 7, 0, 0, 50},    {44100, 2, 5, 0.5, 70, 90},
                             {8000, 1, 10, 5, 100, 100}, {48000, 2, 1, 3.3, 37, 13}};
    for (const Case& c : flangers) {
        const Samples x = Noise(rng, 120000);
        Ref<AudioSource> flanger =
            CreateModulatedDelay(Over(x, c.rate, c.channels), c.ms, c.hz, c.depth, c.gain);
        const double g = c.gain * 0.01;
        EXPECT_EQ(ReadRandomly(*flanger, rng), SweepModel(x, c.channels, c.rate, c.ms, c.depth,
                                                          {{c.hz * 6.283185307179586 / c.rate, {g, g}}}))
            << c.ms << " " << c.hz;
    }
    // Time 0 and gain 100 double every sample, saturating.
    Ref<AudioSource> twice = CreateModulatedDelay(Over({3, -5, 1 << 30, INT32_MIN}, 44100, 1), 0, 0, 0, 100);
    EXPECT_EQ(ReadAt(*twice, 0, 4), (Samples{6, -10, INT32_MAX, INT32_MIN}));

    // Chorus: the slow voice weighs g on the left and g / 2 on the right,
    // the fast voice the other way round.
    const int32_t rate = 22050;
    const double near = 80 * 0.01, far = 80 * 0.01 * 0.5;
    const std::vector<Voice> voices = {{2.0 * 4.71238898038469 / rate, {near, far}},
                                       {2.0 * 7.853981633974483 / rate, {far, near}}};
    const Samples x = Noise(rng, 2 * 60000);
    Ref<AudioSource> chorus = CreateChorus(Over(x, rate, 2), 65, 2.0, 30, 80);
    EXPECT_EQ(ReadRandomly(*chorus, rng), SweepModel(x, 2, rate, 65, 30, voices));
    // Mono goes in as both channels and comes back as the left one.
    Samples mono(60000), twin(x.size());
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = twin[2 * i] = twin[2 * i + 1] = x[2 * i];
    Ref<AudioSource> monoChorus = CreateChorus(Over(mono, rate, 1), 65, 2.0, 30, 80);
    ASSERT_EQ(monoChorus->Channels(), 1);
    const Samples fromMono = ReadRandomly(*monoChorus, rng),
                  fromTwin = SweepModel(twin, 2, rate, 65, 30, voices);
    ASSERT_EQ(fromMono.size(), mono.size());
    for (size_t i = 0; i < mono.size(); ++i)
        ASSERT_EQ(fromMono[i], fromTwin[2 * i]) << i;
}

TEST(DelayEffectsTest, SeekClearsTheDelayMemory) {
    std::mt19937 rng(15);
    const Samples x = Noise(rng, 2 * 40000);
    using Factory = Ref<AudioSource> (*)(Ref<AudioSource>);
    // Without a sweep the output after a seek depends only on what follows.
    const Factory factories[] = {
        [](Ref<AudioSource> s) { return CreateEcho(std::move(s), 120, 90); },
        [](Ref<AudioSource> s) { return CreateReverb(std::move(s), 100, 333); },
        [](Ref<AudioSource> s) { return CreateModulatedDelay(std::move(s), 9, 0, 0, 60); },
        [](Ref<AudioSource> s) { return CreateChorus(std::move(s), 40, 0, 30, 70); },
    };
    for (const Factory make : factories) {
        Ref<AudioSource> used = make(Over(x, 44100, 2));
        ReadRandomly(*used, rng);
        Ref<AudioSource> fresh = make(Over(x, 44100, 2));
        EXPECT_EQ(ReadAt(*used, 7000, 20000), ReadAt(*fresh, 7000, 20000));
    }
}

TEST(DelayEffectsTest, DialogChecksAtEachLimit) {
    // Each row: the values over the defaults, and the message ("" = accepted).
    const std::string timeShort = "Delay Time must be between 0 and 10 milliseconds";
    const std::string timeChorus = "Delay Time must be between 10 and 100 milliseconds";
    const std::string gain = "Gain percent must be between 0 and 100.";
    const std::string degree = "Delay Time must be between 0.0 and 1.0 milliseconds";
    const std::string echoTime = "Echo time must be between 10 and 3000ms. Please try again.";
    const std::string reverbTime = "Reverb time must be between 50 and 1000. Please try again.";
    const struct {
        const char* id;
        EffectValues values;
        std::string message;
    } cases[] = {
        {"echo", {{"EchoTime", "10"}, {"EchoGain", "99"}}, ""},
        {"echo", {{"EchoTime", "3000"}, {"EchoGain", "-99"}}, ""},
        {"echo", {{"EchoTime", "9"}}, echoTime},
        {"echo", {{"EchoTime", "3001"}, {"EchoGain", "100"}}, echoTime},
        {"echo", {{"EchoGain", "100"}}, "Echo Gain must be less than 100%. Please try again."},
        {"echo", {{"EchoGain", "-100"}}, "Echo Gain must be greater than -100%. Please try again."},
        {"reverb", {{"ReverbLevel", "100"}, {"ReverbTime", "50"}}, ""},
        {"reverb", {{"ReverbLevel", "-99"}, {"ReverbTime", "1000"}}, ""},
        {"reverb",
         {{"ReverbLevel", "101"}, {"ReverbTime", "49"}},
         "Reverb level must be less than 100. Please try again."},
        {"reverb", {{"ReverbLevel", "-100"}}, "Reverb level must be greater than -100. Please try again."},
        {"reverb", {{"ReverbTime", "49"}}, reverbTime},
        {"reverb", {{"ReverbTime", "1001"}}, reverbTime},
        {"phaser", {{"Time", "0"}, {"Gain", "0"}}, ""},
        {"phaser", {{"Time", "10"}, {"Gain", "100"}}, ""},
        {"phaser", {{"Time", "11"}, {"Gain", "101"}}, timeShort},
        {"phaser", {{"Gain", "-1"}}, gain},
        {"flanger", {{"Mod", "5"}, {"Depth", "100"}, {"Time", "10"}, {"Gain", "100"}}, ""},
        {"flanger", {{"Mod", "5.1"}}, "Modulation (of delay) must be between 0 and 5Hz."},
        {"flanger", {{"Depth", "101"}}, "Depth percent must be between 0 and 100."},
        {"flanger", {{"Gain", "101"}}, gain},
        {"chorus", {{"Time", "100"}, {"Mod", "2"}, {"Depth", "30"}}, ""},
        {"chorus", {{"Time", "10"}, {"Mod", "0"}, {"Depth", "0"}}, ""},
        {"chorus", {{"Time", "101"}}, timeChorus},
        {"chorus", {{"Mod", "2.1"}}, "Modulation (of delay) must be between 0 and 2Hz."},
        {"chorus", {{"Depth", "31"}}, "Depth percent must be between 0 and 30."},
        {"distortion", {{"Degree", "0.0"}, {"Level", "500"}}, ""},
        {"distortion", {{"Degree", "1.0"}}, ""},
        {"distortion", {{"Degree", "1.01"}}, degree},
        {"distortion", {{"Degree", "-0.1"}}, degree},
    };
    for (const auto& c : cases) {
        const EffectDefinition* effect = FindEffect(c.id);
        ASSERT_NE(effect, nullptr) << c.id;
        EffectValues values = DefaultEffectValues(*effect);
        for (const auto& [key, value] : c.values)
            values[key] = value;
        const std::optional<InvalidValue> invalid = effect->validate(values);
        EXPECT_EQ(invalid ? invalid->title + ": " + invalid->text : "",
                  c.message.empty() ? "" : "Invalid value: " + c.message)
            << c.id;
    }
}

TEST(DelayEffectsTest, EveryEntryChangesOnlyItsRange) {
    std::mt19937 rng(16);
    for (const int channels : {1, 2}) {
        Samples x(static_cast<size_t>(channels) * 30000);
        for (int32_t& v : x)
            v = static_cast<int32_t>(rng() % 1048545) - 524272;
        for (const char* id :
             {"echo", "reverb", "phaser", "flanger", "chorus", "distortion", "am-radio", "telephone"}) {
            const EffectDefinition* effect = FindEffect(id);
            ASSERT_NE(effect, nullptr) << id;
            // The defaults and every preset pass the checks; the run uses
            // the first preset (the default echo is longer than the range).
            EffectValues values = DefaultEffectValues(*effect);
            for (const EffectPreset& preset : effect->presets) {
                EffectValues overlaid = DefaultEffectValues(*effect);
                for (const auto& [key, value] : preset.values) {
                    EXPECT_TRUE(overlaid.count(key)) << id << " " << preset.name << " " << key;
                    overlaid[key] = value;
                }
                EXPECT_FALSE(effect->validate(overlaid)) << id << " " << preset.name;
                if (&preset == &effect->presets.front()) values = overlaid;
            }
            EXPECT_TRUE(!effect->validate || !effect->validate(DefaultEffectValues(*effect))) << id;

            AudioClip clip;
            Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, channels);
            writer->Write(x.data(), 30000);
            ASSERT_TRUE(writer->Close());
            EffectRange range{clip, 9000, 26000};
            test::ScriptedTaskHost host;
            FunctionTask task(effect->name, [&](ProgressTask& t) { return effect->run(t, range, values); });
            ASSERT_EQ(RunTask(task, host), kTaskDone) << id;
            EXPECT_NE(std::find(host.texts.begin(), host.texts.end(), std::make_pair(0, effect->name)),
                      host.texts.end());
            ASSERT_EQ(clip.Channels(), channels);
            ASSERT_EQ(clip.Length(), 30000) << id;
            const Samples y = ReadAt(*OpenClipReader(clip), 0, 30000);
            const auto from = static_cast<ptrdiff_t>(9000 * channels),
                       to = static_cast<ptrdiff_t>(26000 * channels);
            EXPECT_TRUE(std::equal(y.begin(), y.begin() + from, x.begin())) << id;
            EXPECT_TRUE(std::equal(y.begin() + to, y.end(), x.begin() + to)) << id;
            EXPECT_FALSE(std::equal(y.begin() + from, y.begin() + to, x.begin() + from)) << id;
        }
    }
}

}  // namespace
}  // namespace sonitor
