#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "document/ProgressTask.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/ImportDispatcher.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

// One second of a 1 kHz tone, stereo.
class ToneSource final : public AudioSource {
public:
    ToneSource(int32_t rate, int channels, int32_t frames)
        : AudioSource(rate, kFullScale16, channels), frames_(frames) {}
    void Read(int32_t* buffer, int32_t frames) override {
        for (int32_t i = 0; i < frames; ++i) {
            const int64_t f = int64_t{position_} + i;
            const double v =
                f >= 0 && f < frames_ ? 0.5 * std::sin(2 * M_PI * 1000.0 * f / SampleRate()) : 0.0;
            for (int c = 0; c < Channels(); ++c)
                buffer[static_cast<size_t>(i) * Channels() + c] = static_cast<int32_t>(v * 524272);
        }
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return frames_; }
    void Seek(int32_t position) override { position_ = position; }

private:
    int32_t frames_;
    int32_t position_ = 0;
};

struct Expect {
    const char* extension;
    int32_t rate;
    int channels;
    double slackSeconds;  // encoder delay and padding, about one or two codec frames
};

class RealEncoderTest : public ::testing::TestWithParam<Expect> {};

TEST_P(RealEncoderTest, ToneSavedAndReadBack) {
    const Expect e = GetParam();
    const std::string folder = test::MakeTempFolder("export");
    SettingsStore store({folder + "/user.ini", folder + "/machine.ini"});
    ExportOptions options;
    options.settings = &store;
    const std::string target = folder + "/tone it's \"-1\"" + e.extension;
    ASSERT_TRUE(WriteFileAtomically(target, "old"));

    test::ScriptedTaskHost host;
    SaveOutcome outcome;
    FunctionTask task("Save", [&](ProgressTask& t) {
        outcome = SaveAudio(t, MakeRef<ToneSource>(44100, 2, 44100), target, nullptr, options);
        return outcome.result;
    });
    RunTask(task, host);
    ASSERT_EQ(outcome.result, kTaskDone) << outcome.message;

    uint8_t interact = 0;
    OpenAudioOptions open;
    open.settings = &store;
    const OpenAudioResult read = OpenAudioSource(target, interact, nullptr, open);
    ASSERT_EQ(read.result, 0) << read.message;
    EXPECT_EQ(read.source->SampleRate(), e.rate);
    EXPECT_EQ(read.source->Channels(), e.channels);
    const double seconds = static_cast<double>(read.source->Length()) / read.source->SampleRate();
    EXPECT_NEAR(seconds, 1.0, e.slackSeconds) << e.extension;
}

// Default settings: MP3 joint stereo at 44100 Hz, Ogg mixed to mono, FLAC
// mono at 44100 Hz, AMR 8000 Hz mono.
INSTANTIATE_TEST_SUITE_P(Formats, RealEncoderTest,
                         ::testing::Values(Expect{".mp3", 44100, 2, 0.06}, Expect{".ogg", 44100, 1, 0.03},
                                           Expect{".flac", 44100, 1, 0.0001}, Expect{".aac", 44100, 2, 0.05},
                                           Expect{".m4a", 44100, 2, 0.05}, Expect{".amr", 8000, 1, 0.03}),
                         [](const auto& info) { return std::string(info.param.extension + 1); });

}  // namespace
}  // namespace sonitor
