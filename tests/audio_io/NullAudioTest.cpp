// The null device layer that every other audio test stands on: buffers
// played in order by a clock the test drives, loops, resets, recorded input
// from a generator or a WAV file, failing opens, and the backend choice.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "audio_io/AudioDevice.h"
#include "audio_io/NullAudio.h"
#include "formats/WavSink.h"
#include "formats/WavSource.h"
#include "foundation/SettingsStore.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

// A device buffer with its own storage.
struct Buffer {
    std::vector<int16_t> samples;
    WaveHeader header;

    Buffer(size_t count, int16_t first = 0) : samples(count) {
        std::iota(samples.begin(), samples.end(), first);
        header.data = samples.data();
        header.bufferBytes = header.bytes = static_cast<uint32_t>(count * 2);
    }
    bool Done() const { return (header.flags.load() & kHeaderDone) != 0; }
    bool Queued() const { return (header.flags.load() & kHeaderQueued) != 0; }
};

std::vector<int16_t> Ramp(int16_t first, size_t count) {
    std::vector<int16_t> ramp(count);
    std::iota(ramp.begin(), ramp.end(), first);
    return ramp;
}

std::vector<int16_t> Concat(std::vector<int16_t> a, const std::vector<int16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class NullAudioTest : public testing::Test {
protected:
    void SetUp() override {
        NullAudio().ResetForTesting();
        NullAudio().SetManualClock(true);
    }
    void TearDown() override { NullAudio().ResetForTesting(); }
    NullAudioBackend& null = NullAudio();
    ManualResetEvent done;
};

TEST_F(NullAudioTest, PlaysBuffersInOrderAsTheClockMoves) {
    auto out = null.OpenOut(0, {1000, 2}, done, false);
    ASSERT_TRUE(out);
    EXPECT_EQ(null.LastOutFormat().sampleRate, 1000);
    Buffer a(200, 0), b(200, 1000), c(200, 2000);  // 100 stereo frames each
    ASSERT_TRUE(out->Write(a.header));
    ASSERT_TRUE(out->Write(b.header));
    ASSERT_TRUE(out->Write(c.header));
    EXPECT_EQ(null.BuffersWritten(), 3);
    EXPECT_TRUE(a.Queued());

    null.Advance(150);
    EXPECT_TRUE(a.Done() && !a.Queued());
    EXPECT_FALSE(b.Done());
    EXPECT_TRUE(done.IsSet());
    EXPECT_EQ(null.TakePlayed(), Concat(Ramp(0, 200), Ramp(1000, 100)));

    done.Reset();
    null.Advance(49);
    EXPECT_FALSE(b.Done());
    EXPECT_FALSE(done.IsSet());
    null.Advance(1000);  // runs dry: only what was queued is played
    EXPECT_TRUE(b.Done() && c.Done());
    EXPECT_EQ(null.TakePlayed(), Concat(Ramp(1100, 100), Ramp(2000, 200)));

    // Written again after it was done (the player's ring): played again.
    ASSERT_TRUE(out->Write(a.header));
    EXPECT_FALSE(a.Done());
    null.Advance(100);
    EXPECT_TRUE(a.Done());
    EXPECT_EQ(null.TakePlayed(), Ramp(0, 200));
}

TEST_F(NullAudioTest, LoopedBuffersRepeatAndResetReturnsEverything) {
    auto out = null.OpenOut(1, {8000, 1}, done, false);
    ASSERT_TRUE(out);
    Buffer loop(10, 0), after(10, 100);
    loop.header.flags = kHeaderBeginLoop | kHeaderEndLoop;
    loop.header.loops = 3;
    out->Write(loop.header);
    out->Write(after.header);
    null.Advance(25);
    EXPECT_FALSE(loop.Done());
    null.Advance(10);  // the third pass ends and the next buffer starts
    EXPECT_TRUE(loop.Done());
    EXPECT_FALSE(after.Done());
    EXPECT_EQ(null.TakePlayed(), Concat(Concat(Concat(Ramp(0, 10), Ramp(0, 10)), Ramp(0, 10)), Ramp(100, 5)));
    null.Advance(5);
    EXPECT_TRUE(after.Done());
    null.TakePlayed();

    // A scrub snippet: repeated until reset, which hands back it and what
    // was queued behind it, and the device then plays nothing.
    Buffer snippet(10, 50), behind(10, 0);
    snippet.header.flags = kHeaderBeginLoop | kHeaderEndLoop;
    snippet.header.loops = 0x7FFFFFFF;
    out->Write(snippet.header);
    out->Write(behind.header);
    null.Advance(100003);
    EXPECT_FALSE(snippet.Done());
    const std::vector<int16_t> played = null.TakePlayed();
    ASSERT_EQ(played.size(), 100003u);
    EXPECT_EQ(played[100002], 52);
    done.Reset();
    out->Reset();
    EXPECT_TRUE(snippet.Done() && behind.Done() && !snippet.Queued());
    EXPECT_TRUE(done.IsSet());
    null.Advance(100);
    EXPECT_TRUE(null.TakePlayed().empty());

    // Empty buffers, looped or not, finish without hanging the clock.
    Buffer empty(0), emptyLoop(0);
    emptyLoop.header.flags = kHeaderBeginLoop | kHeaderEndLoop;
    emptyLoop.header.loops = 0x7FFFFFFF;
    out->Write(emptyLoop.header);
    out->Write(empty.header);
    null.Advance(1);
    EXPECT_TRUE(emptyLoop.Done() && empty.Done());
}

TEST_F(NullAudioTest, FailedOpensCountPlainAndMappedAlike) {
    null.FailNextOpens(2, 1);
    EXPECT_FALSE(null.OpenOut(0, {44100, 2}, done, false));
    EXPECT_FALSE(null.OpenOut(0, {44100, 2}, done, true));
    EXPECT_TRUE(null.OpenOut(0, {44100, 2}, done, false));
    EXPECT_FALSE(null.OpenIn(0, {44100, 2}, done, false));
    EXPECT_TRUE(null.OpenIn(0, {44100, 2}, done, true));
    // Devices that do not exist, and formats no device takes.
    EXPECT_FALSE(null.OpenOut(2, {44100, 2}, done, false));
    EXPECT_FALSE(null.OpenOut(-1, {44100, 2}, done, false));
    EXPECT_FALSE(null.OpenOut(0, {0, 2}, done, false));
    EXPECT_FALSE(null.OpenIn(0, {44100, 0}, done, false));
    EXPECT_EQ(null.OutputDevices(), std::vector<std::string>{"Null Output"});
    EXPECT_EQ(null.InputDevices(), std::vector<std::string>{"Null Input"});

    uint32_t level = 0;
    EXPECT_TRUE(null.SetOutVolume(1, 0x1234ABCD));
    EXPECT_TRUE(null.GetOutVolume(0, level));  // the default device is the same one
    EXPECT_EQ(level, 0x1234ABCDu);
    EXPECT_FALSE(null.SetOutVolume(5, 0));
}

TEST_F(NullAudioTest, RecordsTheGeneratorOnlyWhileStarted) {
    null.SetInputGenerator(
        [](int64_t frame, int channel) { return static_cast<int16_t>(frame * 2 + channel); });
    auto in = null.OpenIn(0, {8000, 2}, done, false);
    ASSERT_TRUE(in);
    Buffer first(200), second(200), third(200);  // 100 frames each
    ASSERT_TRUE(in->AddBuffer(first.header));
    ASSERT_TRUE(in->AddBuffer(second.header));
    ASSERT_TRUE(in->AddBuffer(third.header));
    EXPECT_EQ(first.header.bytes, 0u);
    null.Advance(50);
    EXPECT_EQ(first.header.bytes, 0u);  // not started yet

    ASSERT_TRUE(in->Start());
    null.Advance(130);
    ASSERT_TRUE(first.Done());
    EXPECT_TRUE(done.IsSet());
    EXPECT_EQ(first.header.bytes, 400u);
    EXPECT_EQ(first.samples, Ramp(0, 200));
    EXPECT_FALSE(second.Done());

    // Stop hands back the partly filled buffer; empty ones stay queued.
    in->Stop();
    ASSERT_TRUE(second.Done());
    EXPECT_EQ(second.header.bytes, 120u);
    EXPECT_EQ(std::vector<int16_t>(second.samples.begin(), second.samples.begin() + 60), Ramp(200, 60));
    null.Advance(100);
    EXPECT_EQ(third.header.bytes, 0u);
    in->Start();
    null.Advance(10);
    in->Reset();
    EXPECT_TRUE(third.Done());
    EXPECT_EQ(third.header.bytes, 40u);
    EXPECT_EQ(third.samples[0], 260);  // continues where the stopped input left off
}

TEST_F(NullAudioTest, WavFilesInAndOut) {
    const std::string folder = test::MakeTempFolder("null");
    const std::string inPath = folder + "/in.wav", outPath = folder + "/out.wav";
    {
        // Mono file, full-scale values beyond 16 bits on the way back saturate.
        Ref<AudioSink> sink = CreatePcmWavSink(inPath, 8000, 16, 1);
        const int32_t samples[] = {16, -16, 32767 * 16, -32768 * 16, 100 * 16};
        sink->Write(samples, 5);
        ASSERT_TRUE(sink->Close());
    }
    setenv("SONITOR_NULL_IN", inPath.c_str(), 1);
    setenv("SONITOR_NULL_OUT", outPath.c_str(), 1);
    auto in = null.OpenIn(0, {8000, 2}, done, false);
    unsetenv("SONITOR_NULL_IN");
    ASSERT_TRUE(in);
    Buffer recorded(16);
    in->AddBuffer(recorded.header);
    in->Start();
    null.Advance(8);
    ASSERT_TRUE(recorded.Done());
    // Both device channels take the file's one; past its end, silence.
    EXPECT_EQ(recorded.samples,
              (std::vector<int16_t>{1, 1, -1, -1, 32767, 32767, -32768, -32768, 100, 100, 0, 0, 0, 0, 0, 0}));
    in.reset();

    auto out = null.OpenOut(0, {22050, 2}, done, false);
    unsetenv("SONITOR_NULL_OUT");
    ASSERT_TRUE(out);
    Buffer a(20000, -10000), b(6, 7);
    out->Write(a.header);
    out->Write(b.header);
    null.Advance(10003);
    out.reset();  // the file is complete when the device closes

    Ref<AudioSource> written = OpenWavSource(outPath);
    ASSERT_TRUE(written->Ok());
    EXPECT_EQ(written->SampleRate(), 22050);
    EXPECT_EQ(written->Channels(), 2);
    ASSERT_EQ(written->Length(), 10003);
    std::vector<int32_t> back(20006);
    ReadInPieces(*written, back.data(), 10003);
    const std::vector<int16_t> expected = Concat(Ramp(-10000, 20000), Ramp(7, 6));
    for (size_t i = 0; i < back.size(); ++i)
        ASSERT_EQ(back[i], expected[i] * 16) << i;
}

TEST_F(NullAudioTest, RealTimeClockAtSpeed) {
    null.SetManualClock(false);
    null.SetSpeed(20);
    auto out = null.OpenOut(0, {8000, 1}, done, false);
    ASSERT_TRUE(out);
    Buffer second(8000);  // one second of audio: 50 ms at twenty times
    out->Write(second.header);
    ASSERT_TRUE(done.WaitFor(10000));
    EXPECT_TRUE(second.Done());
    EXPECT_EQ(null.TakePlayed().size(), 8000u);
}

// PortAudio keeps the device list it found at its first use, so each test
// of it runs in a child process of its own.
TEST(AudioBackendTest, EnvironmentThenSettingThenPortAudio) {
    EXPECT_EQ(CurrentAudioBackend().Name(), "null");  // every test runs with SONITOR_AUDIO=null
    const int result = test::InChild([] {
        unsetenv("SONITOR_AUDIO");
        Settings().WriteString("Settings", "AudioBackend", "null");
        if (CurrentAudioBackend().Name() != "null") return 1;
        Settings().DeleteValue("Settings", "AudioBackend");
        AudioBackend& portAudio = CurrentAudioBackend();
        if (portAudio.Name() != "portaudio") return 2;
        // With or without a sound card (CI has none) the PortAudio backend
        // lists and opens without crashing or hanging.
        const auto outputs = static_cast<int>(portAudio.OutputDevices().size());
        portAudio.InputDevices();
        ManualResetEvent done;
        if (portAudio.OpenOut(outputs + 1, {44100, 2}, done, false)) return 3;
        if (portAudio.OpenIn(-1, {44100, 2}, done, true)) return 4;
        portAudio.OpenOut(0, {44100, 2}, done, true);
        return 0;
    });
    EXPECT_EQ(result, 0);
}

// ALSA devices that write what they play to a file and record from one,
// without sound hardware: the PortAudio backend's queue, loop, gain and
// reset handling checked on the bytes that reach the device.
TEST(AudioBackendTest, PortAudioStreamsThroughAlsaFileDevices) {
    const std::string folder = test::MakeTempFolder("alsa");
    const std::string played = folder + "/played.raw", recordFrom = folder + "/input.raw";
    {
        std::vector<int16_t> input(4000);
        std::iota(input.begin(), input.end(), int16_t{-2000});
        FILE* file = std::fopen(recordFrom.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(input.data(), 2, input.size(), file);
        std::fclose(file);
        file = std::fopen((folder + "/.asoundrc").c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file,
                     "pcm.sonitorout { type file slave.pcm sonitornull file \"%s\" format raw }\n"
                     "pcm.sonitorin { type file slave.pcm sonitornull file \"/dev/null\" infile \"%s\" }\n"
                     "pcm.sonitornull { type null }\n",
                     played.c_str(), recordFrom.c_str());
        std::fclose(file);
    }
    const int result = test::InChild([&] {
        setenv("HOME", folder.c_str(), 1);
        setenv("SONITOR_AUDIO", "portaudio", 1);
        AudioBackend& portAudio = CurrentAudioBackend();
        const std::vector<std::string> outputs = portAudio.OutputDevices();
        const auto found = std::find(outputs.begin(), outputs.end(), "sonitorout");
        if (found == outputs.end()) return 1;
        const int device = static_cast<int>(found - outputs.begin()) + 1;

        // A ramp, a buffer played three times, a second ramp; the right
        // channel at half level.
        ManualResetEvent done;
        if (!portAudio.SetOutVolume(device, 0x7FFFFFFF)) return 2;
        auto out = portAudio.OpenOut(device, {8000, 2}, done, false);
        if (!out) return 3;
        Buffer a(2000, 1), loop(600, 3000), b(2000, 5000);
        loop.header.flags = kHeaderBeginLoop | kHeaderEndLoop;
        loop.header.loops = 3;
        for (Buffer* buffer : {&a, &loop, &b}) {
            if (!out->Write(buffer->header)) return 4;
        }
        for (int waited = 0; !b.Done(); waited += 10) {
            if (waited > 20000) return 5;
            done.WaitFor(10);
            done.Reset();
        }
        if (!a.Done() || !loop.Done()) return 6;
        // Reset hands back what is still queued.
        Buffer endless(200);
        std::fill(endless.samples.begin(), endless.samples.end(),
                  int16_t{0});  // silent: not in the comparison
        endless.header.flags = kHeaderBeginLoop | kHeaderEndLoop;
        endless.header.loops = 0x7FFFFFFF;
        out->Write(endless.header);
        out->Reset();
        if (!endless.Done()) return 7;
        out.reset();

        // Recording: the input file's samples, in buffer order.
        const std::vector<std::string> inputs = portAudio.InputDevices();
        const auto input = std::find(inputs.begin(), inputs.end(), "sonitorin");
        if (input == inputs.end()) return 8;
        auto in = portAudio.OpenIn(static_cast<int>(input - inputs.begin()) + 1, {8000, 2}, done, false);
        if (!in) return 9;
        Buffer first(1200), second(1200), third(1200);
        for (Buffer* buffer : {&first, &second, &third})
            in->AddBuffer(buffer->header);
        if (!in->Start()) return 10;
        for (int waited = 0; !third.Done(); waited += 10) {
            if (waited > 20000) return 11;
            done.WaitFor(10);
            done.Reset();
        }
        in->Reset();
        std::vector<int16_t> recorded = first.samples;
        recorded.insert(recorded.end(), second.samples.begin(), second.samples.end());
        recorded.insert(recorded.end(), third.samples.begin(), third.samples.end());
        return recorded == Ramp(-2000, 3600) ? 0 : 12;
    });
    ASSERT_EQ(result, 0);

    std::vector<int16_t> expected;
    for (const auto& [first, count, times] : {std::tuple{1, 2000, 1}, {3000, 600, 3}, {5000, 2000, 1}}) {
        for (int t = 0; t < times; ++t) {
            for (int i = 0; i < count; ++i) {
                const auto s = static_cast<int16_t>(first + i);
                expected.push_back(i % 2 == 0 ? s : static_cast<int16_t>(s * 32767 / 65535));
            }
        }
    }
    // The ALSA null device runs as fast as it is fed, so the stream may
    // underrun between our writes: the silent frames it then plays are left
    // out (every frame of ours has a non-zero left sample).
    std::vector<int16_t> heard;
    FILE* file = std::fopen(played.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    int16_t frame[2];
    while (std::fread(frame, 2, 2, file) == 2) {
        if (frame[0] != 0 || frame[1] != 0) heard.insert(heard.end(), frame, frame + 2);
    }
    std::fclose(file);
    EXPECT_EQ(heard, expected);
}

}  // namespace
}  // namespace sonitor
