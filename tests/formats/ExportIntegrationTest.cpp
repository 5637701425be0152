#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ProgressTask.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/ImportDispatcher.h"
#include "formats/playlists/PlaylistFile.h"
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
    double levelSlackDb = 1.0;
    bool probed = true;  // headerless formats say nothing to ffprobe
};

// Frequency from rising zero crossings and level in dB of full scale, over
// the middle of channel 0 (away from codec start-up and padding).
struct ToneMeasure {
    double hertz = 0;
    double decibels = -200;
};

ToneMeasure MeasureTone(AudioSource& source) {
    const int channels = source.Channels();
    std::vector<int32_t> all(static_cast<size_t>(source.Length()) * static_cast<size_t>(channels));
    source.Seek(0);
    source.Read(all.data(), source.Length());
    const size_t frames = all.size() / static_cast<size_t>(channels);
    const size_t from = frames / 5;
    const size_t to = frames - frames / 5;
    int crossings = 0;
    size_t first = 0;
    size_t last = 0;
    double energy = 0;
    for (size_t i = from; i < to; ++i) {
        const double v = static_cast<double>(all[i * static_cast<size_t>(channels)]) /
                         kFullScale16;  // FullScale() is a peak bound, not the scale
        energy += v * v;
        if (i > from && all[(i - 1) * static_cast<size_t>(channels)] < 0 &&
            all[i * static_cast<size_t>(channels)] >= 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    ToneMeasure m;
    if (crossings > 1)
        m.hertz =
            (crossings - 1) * static_cast<double>(source.SampleRate()) / static_cast<double>(last - first);
    m.decibels = 10 * std::log10(energy / static_cast<double>(to - from) + 1e-20);
    return m;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A field of ffprobe's stream report, e.g. "sample_rate".
std::string Probe(const std::string& path, const std::string& field) {
    const std::string out = test::MakeTempFolder("probe") + "/out";
    test::RunShell("ffprobe -v error -select_streams a:0 -show_entries stream=" + field +
                   " -of default=noprint_wrappers=1:nokey=1 " + ShellQuoted(path) + " > " + ShellQuoted(out) +
                   " 2>/dev/null");
    std::string text = ReadWholeFile(out).value_or("");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Saves `seconds` of a stereo 1000 Hz tone at 44100 Hz to target.
SaveOutcome SaveTone(SettingsStore& store, const std::string& target, int seconds) {
    ExportOptions options;
    options.settings = &store;
    test::ScriptedTaskHost host;
    SaveOutcome outcome;
    FunctionTask task("Save", [&](ProgressTask& t) {
        outcome = SaveAudio(t, MakeRef<ToneSource>(44100, 2, seconds * 44100), target, nullptr, options);
        return outcome.result;
    });
    RunTask(task, host);
    return outcome;
}

class RealEncoderTest : public ::testing::TestWithParam<Expect> {};

TEST_P(RealEncoderTest, ToneSavedAndReadBack) {
    const Expect e = GetParam();
    const std::string folder = test::MakeTempFolder("export");
    SettingsStore store({folder + "/user.ini", folder + "/machine.ini"});
    const std::string target = folder + "/tone it's " + e.extension;
    ASSERT_TRUE(WriteFileAtomically(target, "old"));
    const SaveOutcome outcome = SaveTone(store, target, 1);
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

    // The tone keeps its pitch and its level (half scale: -9.03 dB).
    const ToneMeasure tone = MeasureTone(*read.source);
    EXPECT_NEAR(tone.hertz, 1000.0, 5.0) << e.extension;
    EXPECT_NEAR(tone.decibels, -9.03, e.levelSlackDb) << e.extension;

    // An independent reader agrees on the format wherever the file says it.
    if (e.probed) {
        EXPECT_EQ(Probe(target, "sample_rate"), std::to_string(e.rate)) << e.extension;
        EXPECT_EQ(Probe(target, "channels"), std::to_string(e.channels)) << e.extension;
    }
}

// Default settings: MP3 joint stereo at 44100 Hz, Ogg mixed to mono, FLAC
// mono at 44100 Hz, AMR 8000 Hz mono; our own writers keep the document's
// format except GSM (8000 Hz mono), VOX (8000 Hz mono ADPCM) and raw (the
// "RawAudio" settings: 44100 Hz mono).
INSTANTIATE_TEST_SUITE_P(Formats, RealEncoderTest,
                         ::testing::Values(Expect{".wav", 44100, 2, 0.0001},
                                           Expect{".aiff", 44100, 2, 0.0001}, Expect{".au", 44100, 2, 0.0001},
                                           Expect{".gsm", 8000, 1, 0.03, 2.0},
                                           Expect{".vox", 8000, 1, 0.001, 2.0, false},
                                           Expect{".raw", 44100, 1, 0.0001, 1.0, false},
                                           Expect{".mp3", 44100, 2, 0.06}, Expect{".ogg", 44100, 1, 0.03},
                                           Expect{".flac", 44100, 1, 0.0001}, Expect{".aac", 44100, 2, 0.05},
                                           Expect{".m4a", 44100, 2, 0.05},
                                           Expect{".amr", 8000, 1, 0.03, 2.0}),
                         [](const auto& info) { return std::string(info.param.extension + 1); });

// A playlist target: the MP3 beside it encoded by the real lame, and the
// playlist naming it with the length of what was encoded.
TEST(RealPlaylistTest, M3uWritesTheMp3AndThePlaylist) {
    const std::string folder = test::MakeTempFolder("playlist");
    SettingsStore store({folder + "/user.ini", folder + "/machine.ini"});
    const std::string target = folder + "/show.m3u";
    const SaveOutcome outcome = SaveTone(store, target, 3);
    ASSERT_EQ(outcome.result, kTaskDone) << outcome.message;
    const std::string mp3 = Mp3PathForPlaylist(target);
    EXPECT_EQ(Probe(mp3, "codec_name"), "mp3");
    const std::string playlist = ReadWholeFile(target).value_or("");
    EXPECT_NE(playlist.find("show.mp3"), std::string::npos) << playlist;
    EXPECT_NE(playlist.find("#EXTINF:3,"), std::string::npos) << playlist;
}

// CBR 16 kbps: lame is fed stereo, mixes it to mono itself (-a) and encodes
// at 22050 Hz.
TEST(RealMp3Test, LowBitRateGivesMonoAt22050) {
    const std::string folder = test::MakeTempFolder("mp3low");
    SettingsStore store({folder + "/user.ini", folder + "/machine.ini"});
    store.WriteInt("MP3Encoder", "CBRBitRate", 16);
    const std::string target = folder + "/-low.mp3";
    const SaveOutcome outcome = SaveTone(store, target, 1);
    ASSERT_EQ(outcome.result, kTaskDone) << outcome.message;
    EXPECT_EQ(Probe(target, "sample_rate"), "22050");
    EXPECT_EQ(Probe(target, "channels"), "1");
}

}  // namespace
}  // namespace sonitor
