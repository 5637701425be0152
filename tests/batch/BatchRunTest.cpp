#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/BatchRun.h"
#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "effects/EffectCatalogue.h"
#include "effects/EffectCommand.h"
#include "effects/PointRecord.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/Bytes.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using test::Le16;
using test::Le32;

struct Host final : DocumentHost {
    test::ScriptedPrompt prompt;
    UserPrompt& Prompt() override { return prompt; }
    void StartPlayback(SoundDocument&, int32_t) override {}
};

// Stereo 16-bit: silence, 0.4 s of two detuned tones with some hiss, silence.
std::string ToneWav() {
    std::vector<int16_t> samples;
    uint32_t noise = 1;
    for (int i = 0; i < 22050; ++i) {
        const bool sound = i >= 4000 && i < 4000 + 17640;
        noise = noise * 1103515245u + 12345u;
        const double hiss = static_cast<int32_t>(noise >> 16 & 0x3FF) - 512;
        const double a = sound ? 9000 * std::sin(i * 0.031) : 0;
        const double b = sound ? 7000 * std::sin(i * 0.047) : 0;
        samples.push_back(static_cast<int16_t>(a + b + hiss));
        samples.push_back(static_cast<int16_t>(a - b + hiss));
    }
    return test::PcmWav(44100, 2, 16, test::Pcm16(samples));
}

std::string Record(const std::vector<CurvePoint>& points) {
    std::string r(129, '\0');
    r[0] = static_cast<char>(points.size());
    for (size_t k = 0; k < points.size(); ++k) {
        r[1 + 2 * k] = static_cast<char>(points[k].position);
        r[2 + 2 * k] = static_cast<char>(points[k].level);
    }
    return r;
}

BatchCommand Command(BatchCommandId id, const std::string& block = "") {
    return {static_cast<uint32_t>(id), std::vector<uint8_t>(block.begin(), block.end())};
}

std::vector<int32_t> Samples(const SoundDocument& document) {
    Ref<ClipReader> reader = OpenClipReader(document.clip);
    return test::ReadToEnd(*reader);
}

struct RunTest : ::testing::Test {
    std::string folder = test::MakeTempFolder("batch");
    SettingsStore settings{{folder + "/user.ini", folder + "/machine.ini"}};
    Host host;
    test::ScriptedTaskHost tasks;
    EditContext ctx{host, tasks, settings};

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        EXPECT_TRUE(WriteFileAtomically(path, bytes));
        return path;
    }
    Ref<SoundDocument> Load(const std::string& path) {
        Ref<SoundDocument> document = MakeRef<SoundDocument>(44100u, uint8_t{1});
        uint8_t interact = 0;
        FunctionTask load("Load",
                          [&](ProgressTask& t) { return LoadAudioFile(t, *document, path, interact); });
        EXPECT_EQ(RunTask(load, tasks), kTaskDone);
        return document;
    }
};

// The editor's way to the same command: the whole document selected, then
// the menu command with the same values.
int32_t EditorApply(SoundDocument& document, const BatchCommand& c, EditContext& ctx,
                    const std::vector<CurvePoint>& curve) {
    SelectAll(document, ctx.host);
    const auto effect = [&](const char* id, EffectValues values = {}) {
        return ApplyEffectCommand(document, *FindEffect(id), values, ctx);
    };
    switch (static_cast<BatchCommandId>(c.id)) {
        case BatchCommandId::AutoTrim:
            return EditAutoTrim(document, AutoTrimSettings::Load(ctx.settings), ctx);
        case BatchCommandId::InsertSilenceStart:
            return EditInsertSilence(document, InsertPosition::Begin, {100}, ctx) ? kTaskDone : kTaskFailed;
        case BatchCommandId::InsertSilenceEnd:
            return EditInsertSilence(document, InsertPosition::End, {50}, ctx) ? kTaskDone : kTaskFailed;
        case BatchCommandId::Amplify:
            return effect("amplify", {{"AmplifyGain", "150"}});
        case BatchCommandId::Normalize:
            return effect("normalize", {{"NormalizePeakLevel", "90"}});
        case BatchCommandId::HighPassFilter:
            return effect("high-pass-filter", {{"LowCutFreq", "300"}});
        case BatchCommandId::Equalizer:
            SaveCurveFile(EqualizerFilePath(), curve);
            return effect("equalizer");
        case BatchCommandId::Echo:
            return effect("echo", {{"EchoTime", "120"}, {"EchoGain", "40"}});
        case BatchCommandId::Reverb:
            return effect("reverb", {{"ReverbTime", "80"}, {"ReverbLevel", "60"}});
        case BatchCommandId::Envelope:
            SaveCurveFile(EnvelopeFilePath(), curve);
            return effect("envelope");
        case BatchCommandId::AutomaticGainControl:
            return effect("automatic-gain-control");
        case BatchCommandId::NoiseReductionAuto:
            return effect("noise-reduction-auto", {{"SSNoiseThreshold", "20"}});
        case BatchCommandId::NoiseGate:
            return effect("noise-gate", {{"NoiseGateLevel", "-40"}});
        case BatchCommandId::SpeedAndPitch:
            return effect("speed-and-pitch", {{"SpSpeedPitch", "110"}});
        case BatchCommandId::Speed:
            return effect("speed", {{"ConstPitchSpeed", "90"}});
        case BatchCommandId::Pitch:
            return effect("pitch", {{"ConstSpeedPitch", "105"}});
        case BatchCommandId::Compressor:
            return effect(
                "compressor",
                {{"CompressorThreshold", "-10"}, {"CompressorRatio", "2"}, {"CompressorLimit", "4"}});
        case BatchCommandId::ConvertSampleRate:
            return effect("convert-sample-rate", {{"SampleRate", "22050"}});
        case BatchCommandId::ConvertChannels:
            return effect("convert-channels", {{"Channels", "1"}});
        case BatchCommandId::StereoPan:
            return effect("stereo-pan", {{"StereoPan", "30"}});
        case BatchCommandId::ReduceVocals:
            return effect("reduce-vocals");
    }
    return kTaskFailed;
}

// Every command, one after the other on one clip, against the editor doing
// the same to the same file: the samples agree after each step. Commands
// that change the length come early, so a later command left on part of
// the clip shows.
TEST_F(RunTest, EveryCommandMatchesTheEditor) {
    const std::string source = Write("tone.wav", ToneWav());
    const std::vector<CurvePoint> eq = {{0, 100}, {128, 200}, {255, 128}};
    const std::vector<CurvePoint> env = {{0, 128}, {200, 60}, {255, 128}};
    const std::vector<std::pair<BatchCommand, std::vector<CurvePoint>>> chain = {
        {Command(BatchCommandId::AutoTrim), {}},
        {Command(BatchCommandId::InsertSilenceStart, Le32(100)), {}},
        {Command(BatchCommandId::SpeedAndPitch, Le16(110)), {}},
        {Command(BatchCommandId::InsertSilenceEnd, Le32(50)), {}},
        {Command(BatchCommandId::Amplify, Le16(150)), {}},
        {Command(BatchCommandId::Normalize, Le16(90)), {}},
        {Command(BatchCommandId::HighPassFilter, Le32(300)), {}},
        {Command(BatchCommandId::Equalizer, Record(eq)), eq},
        {Command(BatchCommandId::Echo, Le32(120) + Le16(40)), {}},
        {Command(BatchCommandId::Reverb, Le32(80) + Le16(60)), {}},
        {Command(BatchCommandId::Envelope, Record(env)), env},
        {Command(BatchCommandId::AutomaticGainControl), {}},
        {Command(BatchCommandId::NoiseReductionAuto, "\x14"), {}},
        {Command(BatchCommandId::NoiseGate, "\xd8"), {}},
        {Command(BatchCommandId::Speed, Le16(90)), {}},
        {Command(BatchCommandId::Pitch, Le16(105)), {}},
        {Command(BatchCommandId::Compressor, std::string("\xf6\x02\x04", 3)), {}},
        {Command(BatchCommandId::StereoPan, Le32(30)), {}},
        {Command(BatchCommandId::ReduceVocals), {}},
        {Command(BatchCommandId::ConvertSampleRate, Le32(22050)), {}},
        {Command(BatchCommandId::ConvertChannels, "\x01"), {}},
    };
    Ref<SoundDocument> batch = Load(source);
    Ref<SoundDocument> editor = Load(source);
    for (const auto& [command, curve] : chain) {
        FunctionTask step("Step",
                          [&](ProgressTask& t) { return ApplyBatchCommand(t, *batch, command, settings); });
        ASSERT_EQ(RunTask(step, tasks), kTaskDone) << BatchCommandName(command.id);
        ASSERT_EQ(EditorApply(*editor, command, ctx, curve), kTaskDone) << BatchCommandName(command.id);
        ASSERT_EQ(batch->clip.SampleRate(), editor->clip.SampleRate());
        ASSERT_EQ(batch->clip.Channels(), editor->clip.Channels());
        ASSERT_EQ(Samples(*batch), Samples(*editor)) << BatchCommandName(command.id);
    }
    EXPECT_EQ(batch->clip.SampleRate(), 22050u);
    EXPECT_EQ(batch->clip.Channels(), 1);
}

TEST_F(RunTest, BlockValuesAreCheckedAsTheDialogsCheckThem) {
    Ref<SoundDocument> document = Load(Write("tone.wav", ToneWav()));
    const std::vector<int32_t> before = Samples(*document);
    for (const BatchCommand& bad : {Command(BatchCommandId::ConvertSampleRate, Le32(0)),
                                    Command(BatchCommandId::ConvertChannels, std::string(1, '\0')),
                                    Command(BatchCommandId::Speed, Le16(0)),
                                    Command(BatchCommandId::InsertSilenceStart, Le32(0xFFFFFFFF)),
                                    Command(BatchCommandId::Echo, Le32(5) + Le16(40))}) {
        tasks.errors.clear();
        FunctionTask step("Step",
                          [&](ProgressTask& t) { return ApplyBatchCommand(t, *document, bad, settings); });
        EXPECT_EQ(RunTask(step, tasks), kTaskFailed) << BatchCommandName(bad.id);
        EXPECT_EQ(tasks.errors.size(), 1u) << BatchCommandName(bad.id);
        EXPECT_EQ(Samples(*document), before);
    }
    // A ratio index past the list is skipped, not refused.
    const BatchCommand skipped = Command(BatchCommandId::Compressor, std::string("\xf6\x07\x04", 3));
    FunctionTask step("Step",
                      [&](ProgressTask& t) { return ApplyBatchCommand(t, *document, skipped, settings); });
    EXPECT_EQ(RunTask(step, tasks), kTaskDone);
    EXPECT_EQ(Samples(*document), before);
}

TEST_F(RunTest, OutputPathsAndCollisions) {
    BatchOutput same;
    EXPECT_EQ(BatchOutputPath("/m/a.mp3", same), "/m/a.mp3");
    BatchOutput other{false, 2, false, "/out"};
    EXPECT_EQ(BatchOutputPath("/m/b.c.wav", other), "/out/b.c.au");
    other.formatIndex = 16;
    EXPECT_EQ(BatchOutputPath("/m/a.wav", other), "/out/a");
    other.formatIndex = 17;
    EXPECT_EQ(BatchOutputPath("/m/a.wav", other), std::nullopt);

    // a.wav would land on the source a.au; b twice claims one output.
    const BatchOutput toAu{false, 2, true, ""};
    EXPECT_EQ(BatchOutputCollisions({"/m/a.wav", "/m/a.au", "/m/b.wav", "/m/b.aiff"}, toAu),
              (std::vector<std::string>{"/m/a.wav", "/m/b.aiff"}));
    EXPECT_TRUE(BatchOutputCollisions({"/m/a.wav", "/m/a.au"}, same).empty());

    settings.WriteString("BatchConverter", "OutputFolder", "/x");
    settings.WriteBool("BatchConverter", "SaveSameFileFormat", false);
    const BatchOutput loaded = BatchOutput::Load(settings);
    EXPECT_FALSE(loaded.sameFormat);
    EXPECT_TRUE(loaded.sameFolder);
    EXPECT_EQ(loaded.folder, "/x");

    const std::vector<BatchCommand> convert = {Command(BatchCommandId::Echo),
                                               Command(BatchCommandId::ConvertSampleRate),
                                               Command(BatchCommandId::ConvertSampleRate)};
    EXPECT_TRUE(BatchNeedsConvertWarning(convert, {false, 0, true, ""}));
    EXPECT_TRUE(BatchNeedsConvertWarning(convert, {false, 6, true, ""}));
    EXPECT_FALSE(BatchNeedsConvertWarning(convert, {false, 2, true, ""}));
    EXPECT_FALSE(BatchNeedsConvertWarning({Command(BatchCommandId::Echo)}, {false, 0, true, ""}));
}

struct Report {
    size_t index;
    std::string source, output;
    int32_t result;
    std::string message;
};

// A broken file between two good ones: the run stops there and keeps what
// it wrote; with keepGoing the rest is done and the run still fails. The
// sources, one converted in place, are never left damaged.
TEST_F(RunTest, FailingFileStopsTheRunUnlessKeepGoing) {
    const std::string tone = ToneWav();
    const std::vector<std::string> sources = {Write("one.wav", tone), Write("bad.wav", "RIFF....WAVEjunk"),
                                              Write("two.wav", tone)};
    const std::vector<BatchCommand> commands = {Command(BatchCommandId::Amplify, Le16(150))};
    const BatchOutput out{false, 2, false, folder + "/out"};
    ASSERT_TRUE(MakeFolders(out.folder));
    for (bool keepGoing : {false, true}) {
        std::vector<Report> reports;
        const int32_t result = RunBatch(
            tasks, sources, commands, out, settings, keepGoing,
            [&](size_t i, const std::string& s, const std::string& o, int32_t r, const std::string& m) {
                reports.push_back({i, s, o, r, m});
            });
        EXPECT_EQ(result, kTaskFailed);
        ASSERT_EQ(reports.size(), keepGoing ? 3u : 2u);
        EXPECT_EQ(reports[0].result, kTaskDone);
        EXPECT_EQ(reports[0].output, out.folder + "/one.au");
        EXPECT_EQ(reports[1].result, kTaskFailed);
        EXPECT_FALSE(reports[1].message.empty());
        EXPECT_TRUE(FileExists(out.folder + "/one.au"));
        EXPECT_EQ(FileExists(out.folder + "/two.au"), keepGoing);
    }
    EXPECT_EQ(test::FileText(sources[0]), tone);
    EXPECT_EQ(test::FileText(sources[1]), "RIFF....WAVEjunk");

    // In place: a failing command leaves the source as it was; a good run
    // replaces it with what the editor would save.
    const std::vector<BatchCommand> failing = {Command(BatchCommandId::Amplify, Le16(150)),
                                               Command(BatchCommandId::ConvertChannels, "\x05")};
    EXPECT_EQ(RunBatch(tasks, {sources[0]}, failing, {}, settings, false, nullptr), kTaskFailed);
    EXPECT_EQ(test::FileText(sources[0]), tone);
    EXPECT_EQ(RunBatch(tasks, {sources[0]}, commands, {}, settings, false, nullptr), kTaskDone);

    Ref<SoundDocument> editor = Load(sources[2]);
    ASSERT_EQ(EditorApply(*editor, commands[0], ctx, {}), kTaskDone);
    const std::string expected = folder + "/expected.wav";
    FunctionTask save(
        "Save", [&](ProgressTask& t) { return SaveAudio(t, OpenClipReader(editor->clip), expected).result; });
    ASSERT_EQ(RunTask(save, tasks), kTaskDone);
    EXPECT_EQ(test::FileText(sources[0]), test::FileText(expected));
}

// Every output format: what can be written is written and reads back with
// the processed length; what cannot (no encoder here) fails cleanly, leaving
// the source and no stray files.
TEST_F(RunTest, EveryOutputFormat) {
    const std::string tone = ToneWav();
    const std::string source = Write("tone.wav", tone);
    const std::vector<BatchCommand> commands = {Command(BatchCommandId::InsertSilenceEnd, Le32(500))};
    for (int32_t index = 0; index < 17; ++index) {
        const std::string outFolder = test::MakeTempFolder("fmt");
        const BatchOutput out{false, index, false, outFolder};
        std::string written;
        int32_t got = kTaskFailed;
        const int32_t result = RunBatch(tasks, {source}, commands, out, settings, false,
                                        [&](size_t, const std::string&, const std::string& o, int32_t r,
                                            const std::string&) { written = o, got = r; });
        EXPECT_EQ(result, got);
        EXPECT_EQ(test::FileText(source), tone);
        const std::string extension = BatchOutputFormats()[static_cast<size_t>(index)];
        if (result == kTaskDone && (extension == ".wav" || extension == ".au" || extension == ".aiff")) {
            Ref<SoundDocument> back = Load(written);
            EXPECT_EQ(back->Length(), 22050 + 22050) << extension;
        }
        if (result != kTaskDone) {
            EXPECT_FALSE(FileExists(written)) << extension;
        }
    }
}

}  // namespace
}  // namespace sonitor
