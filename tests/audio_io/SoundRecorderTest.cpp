// The recorder on the null backend with a clock the test moves one buffer at
// a time, waiting for the capture thread's report after each: every run is
// deterministic. Takes are checked against the input passed through a
// double-precision model of the DC filter, cut where the level rules say.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio_io/NullAudio.h"
#include "audio_io/SoundRecorder.h"
#include "foundation/AudioSink.h"
#include "foundation/Notifier.h"

namespace sonitor {
namespace {

class MemorySink final : public AudioSink {
public:
    MemorySink(int32_t rate, int channels) : AudioSink(rate, channels) {}
    ~MemorySink() override { Close(); }
    std::vector<int32_t> samples;

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        samples.insert(samples.end(), buffer, buffer + static_cast<size_t>(frames) * Channels());
    }
    void TruncateTo(int32_t frames) override { samples.resize(static_cast<size_t>(frames) * Channels()); }
};

struct Log final : RecorderListener {
    std::vector<std::string> events;
    std::vector<int8_t> firstChannelLevels;
    void Writing() override { events.push_back("writing"); }
    void Armed() override { events.push_back("armed"); }
    void RecordingStopped() override { events.push_back("stopped"); }
    void RecordLevels(const int8_t* levels, int channels) override {
        if (channels > 0) firstChannelLevels.push_back(levels[0]);
    }
};

using Signal = std::function<int16_t(int64_t frame, int channel)>;

// A 1 kHz tone at half of full scale (+6 dB on the record meter) in the
// given frame range, digital silence elsewhere.
Signal ToneBetween(std::vector<std::pair<int64_t, int64_t>> ranges, int32_t rate) {
    return [ranges, rate](int64_t frame, int) -> int16_t {
        for (const auto& [from, to] : ranges)
            if (frame >= from && frame < to)
                return static_cast<int16_t>(std::lround(16384 * std::sin(2 * M_PI * 1000.0 * frame / rate)));
        return 0;
    };
}

// The high-pass in floating point: a follows the input by k / 4096 per
// sample, the output is the input minus a.
std::vector<double> Filtered(const Signal& signal, int64_t frames, int channels, int32_t rate) {
    const double alpha = (192000 / rate + 1) / 4096.0;
    std::vector<double> a(static_cast<size_t>(channels), 0.0);
    std::vector<double> out;
    for (int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            const double y = signal(f, c) * 16.0 - a[static_cast<size_t>(c)];
            a[static_cast<size_t>(c)] += y * alpha;
            out.push_back(y);
        }
    return out;
}

// Asserts that take[at...] matches reference[from...] for `frames` frames
// (the integer filter floors where the model does not: a few units).
void ExpectStretch(const std::vector<int32_t>& take, size_t at, const std::vector<double>& reference,
                   size_t from, size_t frames, int channels, const char* what) {
    const size_t n = frames * static_cast<size_t>(channels);
    ASSERT_LE((at * channels) + n, take.size()) << what;
    ASSERT_LE((from * channels) + n, reference.size()) << what;
    for (size_t i = 0; i < n; ++i) {
        const double want = reference[from * channels + i];
        const int32_t got = take[at * channels + i];
        if (std::abs(got - want) > 3.0) {
            FAIL() << what << ": sample " << i << " of the stretch is " << got << ", expected " << want;
        }
    }
}

class SoundRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        NullAudio().ResetForTesting();
        NullAudio().SetManualClock(true);
        recorder.SetListener(&log);
    }
    void TearDown() override {
        recorder.StopRecording();
        while (PumpNotifications() > 0) {
        }
        NullAudio().ResetForTesting();
    }

    bool Start(int32_t rate, int channels, const Signal& signal, int threshold,
               int32_t silenceLimitMs = 216000000, int32_t timeLimitMs = 0) {
        this->rate = rate;
        this->channels = channels;
        frames = RecorderBufferFrames(rate);
        NullAudio().SetInputGenerator(signal);
        sink = MakeRef<MemorySink>(rate, channels);
        return recorder.StartRecording(sink, timeLimitMs, threshold, silenceLimitMs);
    }

    // Runs the input clock through `count` whole buffers, each one taken by
    // the capture thread before the next is filled.
    void Feed(int count) {
        for (int i = 0; i < count; ++i) {
            NullAudio().Advance(frames);
            ASSERT_GT(WaitAndPumpNotifications(10000), 0) << "buffer " << i << " was not reported";
        }
    }

    size_t TakeFrames() const { return sink->samples.size() / static_cast<size_t>(channels); }

    SoundRecorder recorder{NullAudio()};
    Log log;
    Ref<MemorySink> sink;
    int32_t rate = 0;
    int channels = 1;
    int32_t frames = 0;
};

TEST(RecorderFiguresTest, BufferSizesAndPeakLevels) {
    EXPECT_EQ(RecorderBufferFrames(44100), 4410);
    EXPECT_EQ(RecorderBufferFrames(8000), 800);
    EXPECT_EQ(RecorderBufferFrames(96000), 8192);
    EXPECT_EQ(RecorderBufferFrames(100), 32);
    EXPECT_EQ(RecorderBufferFrames(0), 32);

    EXPECT_EQ(PeakLevel(0), -127);
    EXPECT_EQ(PeakLevel(131072), 0);   // a quarter of full scale
    EXPECT_EQ(PeakLevel(524272), 12);  // full scale
    EXPECT_EQ(PeakLevel(1), -102);     // -102.35 rounds towards zero
    EXPECT_EQ(PeakLevel(INT32_MAX), 84);
    // Half-way cases round away from zero on both sides of 0 dB.
    EXPECT_EQ(PeakLevel(static_cast<int32_t>(131072 * std::pow(10.0, 0.5 / 20) + 1)), 1);
    EXPECT_EQ(PeakLevel(static_cast<int32_t>(131072 * std::pow(10.0, -0.5 / 20))), -1);
}

// Without a threshold everything is written from the first buffer on,
// silence included; a stereo input with a DC offset on one side comes out
// filtered; stopping keeps all of the part-filled buffer the device hands
// back (more than the 50 ms the stop keeps after the last loud buffer).
TEST_F(SoundRecorderTest, RecordsEverythingWithoutThresholdAndDrainsOnStop) {
    const Signal tone = ToneBetween({{11025, 1 << 30}}, 44100);
    const Signal signal = [&](int64_t f, int c) -> int16_t { return c == 0 ? tone(f, 0) : int16_t{8000}; };
    ASSERT_TRUE(Start(44100, 2, signal, -127));
    Feed(20);
    NullAudio().Advance(frames * 3 / 4);
    recorder.StopRecording();
    EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Idle);

    const size_t expected = 20 * static_cast<size_t>(frames) + frames * 3 / 4;
    ASSERT_EQ(TakeFrames(), expected);
    ExpectStretch(sink->samples, 0, Filtered(signal, static_cast<int64_t>(expected), 2, 44100), 0, expected,
                  2, "take");
    // The offset is gone within a second (about 8 Hz): the last buffer's
    // right channel is near zero.
    EXPECT_LT(std::abs(sink->samples.back()), 200);
    EXPECT_EQ(log.events, (std::vector<std::string>{"armed", "writing", "stopped"}));
    ASSERT_EQ(log.firstChannelLevels.size(), 20u);
    EXPECT_EQ(log.firstChannelLevels[0], -127);  // the first quarter second is silent
    EXPECT_EQ(log.firstChannelLevels[19], 6);
}

// A threshold of -24 dB: the take begins at the first loud buffer, with the
// second half of the buffer before it when the sound starts in the first
// half, and ends 50 ms after the last buffer at or above -28 dB. A burst
// within one buffer must survive the stop cut as well as a long tone does.
TEST_F(SoundRecorderTest, AutomaticStartAndTrimAtThreshold) {
    const int32_t f = RecorderBufferFrames(44100);
    const int64_t onset = 45423;                   // 1.03 s: first half of buffer 10
    const int64_t preroll = 10 * f - (f - f / 2);  // the second half of buffer 9
    struct Case {
        int64_t toneFrames;
        int loudBuffers;  // buffers 10 ... 10 + loudBuffers - 1 reach the threshold
    };
    for (const Case c : {Case{44100, 11}, Case{2205, 1}}) {
        SCOPED_TRACE(c.toneFrames);
        log.events.clear();
        const Signal signal = ToneBetween({{onset, onset + c.toneFrames}}, 44100);
        ASSERT_TRUE(Start(44100, 1, signal, -24));
        Feed(10);
        EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Armed);
        EXPECT_EQ(TakeFrames(), 0u);
        Feed(20);
        recorder.StopRecording();

        const int32_t lastLoudEnd = (f - f / 2) + c.loudBuffers * f;
        const size_t expected = static_cast<size_t>(lastLoudEnd + 2205);  // + 50 ms
        ASSERT_EQ(TakeFrames(), expected);
        ExpectStretch(sink->samples, 0, Filtered(signal, 30 * f, 1, 44100), static_cast<size_t>(preroll),
                      expected, 1, "take");
        EXPECT_EQ(log.events, (std::vector<std::string>{"armed", "writing", "stopped"}));
    }
}

// Voice activation at 8000 Hz (buffers of 100 ms): a 6 s pause is cut back
// to 450 ms after the last loud buffer, plus the 50 ms lead-in of the sound
// that follows; a 4 s pause stays whole.
TEST_F(SoundRecorderTest, VoiceActivationCutsLongPausesOnly) {
    const int64_t b = 800;
    const Signal signal = ToneBetween({{0, 10 * b}, {70 * b, 80 * b}, {120 * b, 130 * b}}, 8000);
    ASSERT_TRUE(Start(8000, 1, signal, -24, 5000));
    Feed(61);  // tone 1 s, then silence until 5.1 s of it are written
    EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Armed);
    Feed(74);
    recorder.StopRecording();

    const std::vector<double> reference = Filtered(signal, 135 * b, 1, 8000);
    ASSERT_EQ(TakeFrames(), 60400u);
    ExpectStretch(sink->samples, 0, reference, 0, 11600, 1, "tone and 450 ms");
    ExpectStretch(sink->samples, 11600, reference, 69 * b + 400, 400, 1, "lead-in");
    ExpectStretch(sink->samples, 12000, reference, 70 * b, 48400, 1, "tone, 4 s pause, tone, 50 ms");
    EXPECT_EQ(log.events, (std::vector<std::string>{"armed", "writing", "armed", "writing", "stopped"}));
}

// The time limit ends the take from the notification handler, without the
// owner's help.
TEST_F(SoundRecorderTest, TimeLimitStopsTheRecording) {
    ASSERT_TRUE(Start(8000, 1, ToneBetween({{0, 1 << 30}}, 8000), -127, 216000000, 1000));
    Feed(11);  // 1.1 s is the first length beyond the limit
    EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Idle);
    EXPECT_EQ(log.events.back(), "stopped");
    EXPECT_EQ(TakeFrames(), 8800u);
}

// Start refuses unusable sinks and devices that open in neither mode, and
// lets go of the sink. Restart empties the take and records afresh; a
// restart whose device fails to reopen says so and stops.
TEST_F(SoundRecorderTest, StartAndRestartFailures) {
    EXPECT_FALSE(recorder.StartRecording(MakeNullSink(), 0, -127, 5000));

    NullAudio().FailNextOpens(0, 2);
    Ref<MemorySink> refused = MakeRef<MemorySink>(8000, 1);
    EXPECT_FALSE(recorder.StartRecording(refused, 0, -127, 5000));
    EXPECT_EQ(refused->RefCount(), 1);
    EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Idle);
    EXPECT_TRUE(log.events.empty());

    const Signal signal = ToneBetween({{0, 1 << 30}}, 8000);
    ASSERT_TRUE(Start(8000, 1, signal, -127));
    Feed(5);
    ASSERT_TRUE(recorder.RestartRecording());
    EXPECT_EQ(TakeFrames(), 0u);
    Feed(3);
    // The reopened device starts its input afresh, and so does the filter.
    ExpectStretch(sink->samples, 0, Filtered(signal, 3 * 800, 1, 8000), 0, 3 * 800, 1, "after restart");

    log.events.clear();
    NullAudio().FailNextOpens(0, 2);
    EXPECT_FALSE(recorder.RestartRecording());
    EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Idle);
    EXPECT_EQ(log.events, (std::vector<std::string>{"stopped"}));
    EXPECT_EQ(sink->RefCount(), 1);
    EXPECT_FALSE(recorder.RestartRecording());
}

// Starts, restarts and stops in a row on a fast real-time clock, for the
// thread sanitizer and for the joins.
TEST_F(SoundRecorderTest, ManyStartsAndStops) {
    NullAudio().SetManualClock(false);
    NullAudio().SetSpeed(200);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(Start(8000, 2, ToneBetween({{0, 1 << 30}}, 8000), i % 2 ? -127 : -24, 5000));
        PumpNotifications();
        if (i % 7 == 0) {
            ASSERT_TRUE(recorder.RestartRecording());
        }
        recorder.StopRecording();
    }
    EXPECT_EQ(recorder.CurrentState(), SoundRecorder::State::Idle);
}

}  // namespace
}  // namespace sonitor
