#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "document/ProgressTask.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/ImportDispatcher.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using test::ToneSource;

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
