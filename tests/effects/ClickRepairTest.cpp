// Click and pop repair judged against the clean signal: injected clicks are
// found and bridged, everything away from them is left bit for bit, clean
// tones are never touched; the click length is bounded and the manual
// repair keeps to its one-millisecond limit.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/EffectRunning.h"

#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "effects/EffectCatalogue.h"
#include "effects/NoiseReduction.h"
#include "support/ClipSamples.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"
#include "support/SourceReading.h"

namespace sonitor {

// ClickRepair.cpp

namespace {

// Two notes and a little hiss: something a record might hold.
std::vector<int32_t> Music(int32_t frames, int channels, std::mt19937& rng) {
    std::normal_distribution<double> hiss(0.0, 300.0);
    std::vector<int32_t> out(size_t(frames) * channels);
    for (int32_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            out[size_t(i) * channels + c] =
                static_cast<int32_t>(120000 * std::sin(2 * M_PI * 440 * i / 44100.0 + c) +
                                     60000 * std::sin(2 * M_PI * 660 * i / 44100.0) + hiss(rng));
    return out;
}

struct Click {
    int32_t at;
    int32_t length;
    int32_t amplitude;
};

// Short ringing spikes into channel 0, at least 1500 frames apart.
std::vector<Click> InjectClicks(std::vector<int32_t>& samples, int channels, int count, std::mt19937& rng) {
    std::vector<Click> clicks;
    const auto frames = static_cast<int32_t>(samples.size() / size_t(channels));
    for (int k = 0; k < count; ++k) {
        const Click click{3000 + k * (frames - 6000) / count + int32_t(rng() % 500), 2 + int32_t(rng() % 7),
                          150000 + int32_t(rng() % 250000)};
        for (int32_t i = 0; i < click.length; ++i) {
            const double shape = (i % 2 ? -0.6 : 1.0) * std::pow(0.7, i);
            samples[size_t(click.at + i) * channels] += static_cast<int32_t>(click.amplitude * shape);
        }
        clicks.push_back(click);
    }
    return clicks;
}

}  // namespace

TEST(ClickRepairTest, FindsInjectedClicksAndLeavesTheRestBitForBit) {
    std::mt19937 rng(1);
    const int channels = 2;
    const int32_t frames = 44100 * 3;
    const std::vector<int32_t> clean = Music(frames, channels, rng);
    std::vector<int32_t> clicked = clean;
    const std::vector<Click> clicks = InjectClicks(clicked, channels, 60, rng);

    AudioClip clip = test::ClipFromSamples(clicked, channels);
    test::ScriptedTaskHost host;
    ASSERT_EQ(test::RunEffect("click-pop-auto", clip, 0, clip.Length(), host), kTaskDone);
    ASSERT_EQ(clip.Length(), frames);
    const std::vector<int32_t> out = test::ClipSamples(clip);

    // Found: what is left of the click is small beside it.
    int found = 0;
    std::vector<bool> nearClick(size_t(frames), false);
    for (const Click& click : clicks) {
        int64_t worst = 0;
        for (int32_t i = click.at - 8; i < click.at + click.length + 8; ++i)
            worst = std::max<int64_t>(
                worst, std::llabs(int64_t{out[size_t(i) * channels]} - clean[size_t(i) * channels]));
        found += worst < click.amplitude / 4;
        for (int32_t i = click.at - 40; i < click.at + click.length + 40; ++i)
            nearClick[size_t(i)] = true;
    }
    EXPECT_GE(found, 54) << "of " << clicks.size();
    // Nothing else was taken for a click, and the other channel is as it was.
    for (int32_t i = 0; i < frames; ++i) {
        if (!nearClick[size_t(i)]) {
            ASSERT_EQ(out[size_t(i) * channels], clicked[size_t(i) * channels]) << i;
        }
        ASSERT_EQ(out[size_t(i) * channels + 1], clicked[size_t(i) * channels + 1]) << i;
    }

    // The stream gives the same in any pieces, and a seek repeats it.
    auto source = MakeRef<test::VectorSource>(clicked, 44100, channels);
    Ref<AudioSource> repair = CreateAutoClickRepair(source, 50, 450);
    EXPECT_EQ(test::ReadInRandomPieces(*repair, frames, rng, 3000), out);
    repair->Seek(frames / 2);
    EXPECT_EQ(repair->Position(), frames / 2);
    const std::vector<int32_t> half = test::ReadInRandomPieces(*repair, frames - frames / 2, rng, 3000);
    EXPECT_TRUE(std::equal(half.begin(), half.end(), out.begin() + ptrdiff_t(frames / 2) * channels));
}

TEST(ClickRepairTest, CleanTonesPassUntouched) {
    for (int32_t rate : {44100, 96000}) {
        for (double frequency : {100.0, 1000.0, 5000.0, 15000.0}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, tone " << frequency);
            const int32_t frames = rate;
            auto tone = MakeRef<test::ToneSource>(rate, 1, frames, frequency);
            const std::vector<int32_t> input = test::ReadFrames(*tone, frames);
            Ref<AudioSource> repair =
                CreateAutoClickRepair(MakeRef<test::VectorSource>(input, rate, 1), 50, 450);
            EXPECT_EQ(test::ReadFrames(*repair, frames), input);
        }
    }
}

TEST(ClickRepairTest, ClickLengthIsBoundedWhateverIsAsked) {
    // The most sensitive setting on loud broadband noise starts a walk at
    // almost every frame; an unbounded length would walk past the block.
    std::mt19937 rng(3);
    std::vector<int32_t> input(size_t(44100) * 2);
    for (int32_t& s : input)
        s = static_cast<int32_t>(rng() % 4000001) - 2000000;
    const auto run = [&](int32_t length) {
        Ref<AudioSource> repair =
            CreateAutoClickRepair(MakeRef<test::VectorSource>(input, 44100, 2), 100, length);
        return test::ReadFrames(*repair, 44100);
    };
    const std::vector<int32_t> limit = run(kMaxClickLengthLimit);
    EXPECT_EQ(limit.size(), input.size());
    EXPECT_EQ(run(INT32_MAX), limit);
    EXPECT_EQ(run(0), run(1));

    const EffectDefinition* effect = FindEffect("click-pop-auto");
    EXPECT_FALSE(effect->validate({{"ClickSensitivity", "100"}, {"MaxClickLength", "20000"}}));
    EXPECT_TRUE(effect->validate({{"ClickSensitivity", "50"}, {"MaxClickLength", "20001"}}));
    EXPECT_TRUE(effect->validate({{"ClickSensitivity", "50"}, {"MaxClickLength", "0"}}));
    EXPECT_TRUE(effect->validate({{"ClickSensitivity", "101"}, {"MaxClickLength", "450"}}));

    // An empty selection is a failure and changes nothing.
    AudioClip clip = test::ClipFromSamples(std::vector<int32_t>(input.begin(), input.begin() + 2000), 2);
    test::ScriptedTaskHost host;
    EXPECT_EQ(test::RunEffect("click-pop-auto", clip, 500, 500, host), kTaskFailed);
    EXPECT_EQ(test::ClipSamples(clip), std::vector<int32_t>(input.begin(), input.begin() + 2000));
}

TEST(ClickRepairTest, ManualRepairOfAMillisecondAtMost) {
    std::mt19937 rng(4);
    const std::vector<int32_t> clean = Music(20000, 1, rng);
    std::vector<int32_t> clicked = clean;
    const int32_t at = 10000;
    for (int32_t i = 0; i < 5; ++i)
        clicked[size_t(at + i)] += static_cast<int32_t>(300000 * (i % 2 ? -0.6 : 1.0) * std::pow(0.7, i));
    test::ScriptedTaskHost host;

    // 44 frames is a millisecond at 44100 Hz; 45 is refused unchanged.
    AudioClip refused = test::ClipFromSamples(clicked, 1);
    EXPECT_EQ(test::RunEffect("click-pop-manual", refused, at - 20, at + 25, host), kTaskFailed);
    EXPECT_EQ(test::ClipSamples(refused), clicked);
    EXPECT_EQ(host.errors, std::vector<std::string>{kManualClickTooLongMessage});

    AudioClip clip = test::ClipFromSamples(clicked, 1);
    ASSERT_EQ(test::RunEffect("click-pop-manual", clip, at - 20, at + 24, host), kTaskDone);
    const std::vector<int32_t> out = test::ClipSamples(clip);
    for (int32_t i = 0; i < 20000; ++i) {
        if (i < at - 20 || i >= at + 24) {
            ASSERT_EQ(out[size_t(i)], clicked[size_t(i)]) << i;
        } else {
            ASSERT_LT(std::abs(out[size_t(i)] - clean[size_t(i)]), 40000) << i;
        }
    }
}

}  // namespace sonitor
