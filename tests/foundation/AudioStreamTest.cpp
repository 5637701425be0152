#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/AudioSink.h"
#include "foundation/AudioSource.h"
#include "foundation/RefCounted.h"

namespace sonitor {
namespace {

// Delivers sample n as the value n; may hold an upstream source, as a
// processor does, and says when it dies.
class CountingSource : public AudioSource {
public:
    CountingSource(int32_t rate, int channels, bool* gone = nullptr, Ref<AudioSource> upstream = nullptr)
        : AudioSource(rate, kFullScale16, channels), gone_(gone), upstream_(std::move(upstream)) {}
    ~CountingSource() override {
        if (gone_) *gone_ = true;
    }
    void Read(int32_t* buffer, int32_t frames) override {
        reads.push_back(frames);
        for (int32_t i = 0; i < frames * Channels(); ++i)
            buffer[i] = position_ * Channels() + i;
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return 1 << 30; }
    void Seek(int32_t position) override { position_ = position; }
    std::vector<int32_t> reads;

private:
    bool* gone_;
    Ref<AudioSource> upstream_;
    int32_t position_ = 0;
};

class RecordingSink : public AudioSink {
public:
    explicit RecordingSink(int channels) : AudioSink(44100, channels) {}
    ~RecordingSink() override { Close(); }
    std::vector<int32_t> samples;
    int truncations = 0;
    int finishes = 0;

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        samples.insert(samples.end(), buffer, buffer + static_cast<size_t>(frames) * Channels());
    }
    void TruncateTo(int32_t frames) override {
        ++truncations;
        samples.resize(static_cast<size_t>(frames) * Channels());
    }
    bool Finish() override { return ++finishes > 0; }
};

TEST(AudioSource, OutOfRangeFormatsAreRepairedAndMarkedUnusable) {
    EXPECT_EQ(CountingSource(0, 2).SampleRate(), 44100);
    EXPECT_EQ(CountingSource(-1, 2).Status(), kSourceUnusable);
    EXPECT_EQ(CountingSource(8000, 0).Channels(), 1);
    EXPECT_EQ(CountingSource(8000, 0).Status(), kSourceUnusable);
    EXPECT_TRUE(CountingSource(8000, 2).Ok());

    Ref<AudioSource> null = MakeNullSource(kSourceCannotOpen);
    EXPECT_EQ(null->Status(), kSourceCannotOpen);
    EXPECT_EQ(null->SampleRate(), 11025);
    EXPECT_EQ(null->Channels(), 1);
    EXPECT_EQ(null->Length(), 0);
    int32_t buffer[6] = {7, 7, 7, 7, 7, 7};
    null->Read(buffer, 5);
    EXPECT_EQ(std::count(buffer, buffer + 6, 0), 5);
}

TEST(AudioSource, ReadInPiecesKeepsEveryCallWithinTheTransferLimit) {
    CountingSource s(44100, 2);
    std::vector<int32_t> buffer(20000 * 2);
    ReadInPieces(s, buffer.data(), 20000);
    EXPECT_EQ(s.reads, (std::vector<int32_t>{8192, 8192, 3616}));
    for (size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], static_cast<int32_t>(i));
}

TEST(AudioSink, TruncateCutsBackButNeverExtends) {
    RecordingSink sink(2);
    std::vector<int32_t> frames(20);
    for (int i = 0; i < 20; ++i)
        frames[i] = i;
    sink.Write(frames.data(), 10);
    sink.Truncate(11);
    EXPECT_EQ(sink.FramesWritten(), 10);
    EXPECT_EQ(sink.truncations, 0);
    sink.Truncate(4);
    sink.Write(frames.data() + 16, 2);
    EXPECT_EQ(sink.FramesWritten(), 6);
    EXPECT_EQ(sink.samples, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19}));
    sink.Truncate(-3);
    EXPECT_EQ(sink.FramesWritten(), 0);
    EXPECT_TRUE(sink.samples.empty());
    EXPECT_TRUE(sink.Close());
    EXPECT_TRUE(sink.Close());
    EXPECT_EQ(sink.finishes, 1);

    RecordingSink noChannels(0);
    EXPECT_EQ(noChannels.Channels(), 1);
    EXPECT_FALSE(noChannels.Close());

    Ref<AudioSink> null = MakeNullSink();
    null->Write(frames.data(), 5);
    EXPECT_EQ(null->FramesWritten(), 0);
    EXPECT_FALSE(null->Close());
}

TEST(Ref, LastHandleDestroysTheProcessorAndReleasesUpstream) {
    bool upstreamGone = false;
    bool processorGone = false;
    Ref<AudioSource> chain;
    {
        Ref<CountingSource> upstream = MakeRef<CountingSource>(44100, 1, &upstreamGone);
        chain = MakeRef<CountingSource>(44100, 1, &processorGone, upstream);
        EXPECT_EQ(upstream->RefCount(), 2);
    }
    Ref<AudioSource> copy = chain;
    chain.Reset();
    Ref<AudioSource> moved = std::move(copy);
    EXPECT_FALSE(processorGone || upstreamGone);
    EXPECT_EQ(moved->RefCount(), 1);
    moved = nullptr;
    EXPECT_TRUE(processorGone && upstreamGone);
}

}  // namespace
}  // namespace sonitor
