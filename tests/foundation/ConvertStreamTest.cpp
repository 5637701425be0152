#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/ConvertStream.h"
#include "foundation/ResampleStream.h"
#include "support/MemorySources.h"

namespace sonitor {
namespace {

using test::VectorSource;

std::vector<int32_t> RandomSamples(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> v(count);
    for (auto& s : v)
        s = static_cast<int32_t>(rng());
    v[0] = std::numeric_limits<int32_t>::min();
    v[1] = std::numeric_limits<int32_t>::max();
    return v;
}

std::vector<int32_t> ReadAll(AudioSource& source, int32_t frames) {
    std::vector<int32_t> out(static_cast<size_t>(frames) * source.Channels(), 7);
    source.Read(out.data(), frames);
    return out;
}

// Silent, status 3, with the requested channel count where it is a valid
// one, so that a caller's buffer sized from its request is never overrun.
void ExpectUnusable(const Ref<AudioSource>& s, int channels) {
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Status(), kSourceUnusable);
    EXPECT_GT(s->SampleRate(), 0);
    EXPECT_EQ(s->Channels(), channels >= 1 && channels <= 255 ? channels : 1);
    std::vector<int32_t> buffer(100 * s->Channels(), 7);
    s->Read(buffer.data(), 100);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), 100 * s->Channels());
}

TEST(ConvertChannels, StereoToMonoKeepsTheLeftChannelAndMonoToStereoDuplicates) {
    const int32_t frames = 20000;  // more than one transfer
    const std::vector<int32_t> stereo = RandomSamples(2 * frames, 1);
    auto stereoSource = MakeRef<VectorSource>(stereo, 32000, 2);
    Ref<AudioSource> mono = ConvertChannels(stereoSource, 1);
    EXPECT_EQ(mono->Channels(), 1);
    EXPECT_EQ(mono->SampleRate(), 32000);
    EXPECT_EQ(mono->FullScale(), kFullScale16);
    const std::vector<int32_t> left = ReadAll(*mono, frames);
    EXPECT_LE(stereoSource->largestRead, kMaxTransferFrames);
    for (int32_t f = 0; f < frames; ++f)
        ASSERT_EQ(left[f], stereo[2 * f]) << f;

    const std::vector<int32_t> single = RandomSamples(frames, 2);
    auto monoSource = MakeRef<VectorSource>(single, 32000, 1);
    Ref<AudioSource> both = ConvertChannels(monoSource, 2);
    EXPECT_EQ(both->Channels(), 2);
    const std::vector<int32_t> duplicated = ReadAll(*both, frames);
    EXPECT_LE(monoSource->largestRead, kMaxTransferFrames);
    for (int32_t f = 0; f < frames; ++f) {
        ASSERT_EQ(duplicated[2 * f], single[f]) << f;
        ASSERT_EQ(duplicated[2 * f + 1], single[f]) << f;
    }
}

TEST(ConvertChannels, PositionLengthAndSeekPassThrough) {
    const std::vector<int32_t> stereo = RandomSamples(2 * 1000, 3);
    Ref<AudioSource> mono = ConvertChannels(MakeRef<VectorSource>(stereo, 8000, 2), 1);
    EXPECT_EQ(mono->Length(), 1000);
    mono->Seek(-100);
    EXPECT_EQ(mono->Position(), -100);
    const std::vector<int32_t> out = ReadAll(*mono, 150);
    EXPECT_EQ(mono->Position(), 50);
    EXPECT_EQ(std::count(out.begin(), out.begin() + 100, 0), 100);
    for (int32_t f = 0; f < 50; ++f)
        EXPECT_EQ(out[100 + f], stereo[2 * f]);
    mono->Seek(995);
    const std::vector<int32_t> tail = ReadAll(*mono, 10);
    EXPECT_EQ(tail[4], stereo[2 * 999]);
    EXPECT_EQ(std::count(tail.begin() + 5, tail.end(), 0), 5);
}

TEST(ConvertChannels, SameCountIsTheSourceAndOtherPairsAreUnusable) {
    for (int channels : {1, 2, 6}) {
        Ref<AudioSource> s = MakeRef<VectorSource>(std::vector<int32_t>(6), 8000, channels);
        EXPECT_EQ(ConvertChannels(s, channels).Get(), s.Get());
    }
    Ref<AudioSource> stereo = MakeRef<VectorSource>(std::vector<int32_t>(600), 8000, 2);
    Ref<AudioSource> six = MakeRef<VectorSource>(std::vector<int32_t>(600), 8000, 6);
    ExpectUnusable(ConvertChannels(stereo, 3), 3);
    ExpectUnusable(ConvertChannels(stereo, 0), 0);
    ExpectUnusable(ConvertChannels(stereo, -1), 0);
    ExpectUnusable(ConvertChannels(six, 1), 1);
    ExpectUnusable(ConvertChannels(six, 2), 2);
    ExpectUnusable(ConvertChannels(nullptr, 2), 2);
}

TEST(ConvertStream, MatchingSourceIsReturnedAndBadTargetsAreUnusable) {
    Ref<AudioSource> stereo = MakeRef<VectorSource>(RandomSamples(2 * 500, 4), 44100, 2);
    EXPECT_EQ(ConvertStream(stereo, 44100, 2).Get(), stereo.Get());
    ExpectUnusable(ConvertStream(stereo, 0, 2), 2);
    ExpectUnusable(ConvertStream(stereo, -44100, 1), 1);
    ExpectUnusable(ConvertStream(stereo, 22050, 0), 0);
    ExpectUnusable(ConvertStream(stereo, 22050, 3), 3);
    ExpectUnusable(ConvertStream(stereo, 22050, 300), 300);
    ExpectUnusable(ConvertStream(nullptr, 22050, 2), 2);

    // Only the channel count differs: the channel converter alone.
    Ref<AudioSource> mono = ConvertStream(stereo, 44100, 1);
    EXPECT_EQ(typeid(*mono), typeid(*ConvertChannels(stereo, 1)));
    EXPECT_EQ(mono->SampleRate(), 44100);
}

TEST(ConvertStream, ConvertsChannelsFirstOnlyWhenThatLeavesFewer) {
    const int32_t frames = 3000;
    Ref<AudioSource> stereo = MakeRef<VectorSource>(RandomSamples(2 * frames, 7), 44100, 2);
    Ref<AudioSource> down = ConvertStream(stereo, 22050, 1);
    ASSERT_TRUE(down->Ok());
    EXPECT_EQ(down->SampleRate(), 22050);
    EXPECT_EQ(down->Channels(), 1);
    // Resampling one channel costs half as much as resampling two.
    Ref<AudioSource> expected = ResampleStream(ConvertChannels(stereo, 1), 22050);
    EXPECT_EQ(typeid(*down), typeid(*expected));
    const std::vector<int32_t> got = ReadAll(*down, frames / 2);
    stereo->Seek(0);
    EXPECT_EQ(got, ReadAll(*expected, frames / 2));

    Ref<AudioSource> mono = MakeRef<VectorSource>(RandomSamples(frames, 5), 22050, 1);
    Ref<AudioSource> up = ConvertStream(mono, 44100, 2);
    ASSERT_TRUE(up->Ok());
    EXPECT_EQ(up->SampleRate(), 44100);
    EXPECT_EQ(up->Channels(), 2);
    EXPECT_EQ(typeid(*up), typeid(*ConvertChannels(mono, 2)));
    EXPECT_EQ(up->Length(), ResampleStream(mono, 44100)->Length());
}

TEST(Varispeed, ChangesSpeedAtTheSourcesOwnRate) {
    const int32_t frames = 44100;
    Ref<AudioSource> source = MakeRef<VectorSource>(RandomSamples(2 * frames, 6), 44100, 2);
    Ref<AudioSource> fast = Varispeed(source, 2.0);
    ASSERT_TRUE(fast->Ok());
    EXPECT_EQ(fast->SampleRate(), 44100);
    EXPECT_EQ(fast->Channels(), 2);
    EXPECT_NEAR(fast->Length(), frames / 2, 2);
    Ref<AudioSource> slow = Varispeed(source, 0.5);
    ASSERT_TRUE(slow->Ok());
    EXPECT_EQ(slow->SampleRate(), 44100);
    EXPECT_NEAR(slow->Length(), frames * 2, 2);
    EXPECT_EQ(Varispeed(source, 1.0).Get(), source.Get());
}

TEST(Varispeed, FactorsWithoutAUsableRateAreUnusable) {
    Ref<AudioSource> source = MakeRef<VectorSource>(std::vector<int32_t>(1000), 8000, 2);
    const double inf = std::numeric_limits<double>::infinity();
    for (double factor : {0.0, -1.0, -inf, std::nan(""), 1.0 / 8001, inf, 1e6}) {
        SCOPED_TRACE(factor);
        ExpectUnusable(Varispeed(source, factor), 2);
    }
    EXPECT_TRUE(Varispeed(source, 1.0 / 8000)->Ok());  // 1 Hz
}

}  // namespace
}  // namespace sonitor
