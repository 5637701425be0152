#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ProgressTask.h"
#include "formats/export/EncoderCommands.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/export/PipeEncoderSink.h"
#include "formats/export/SaveDocument.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/Bytes.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

using test::ToneSource;

const std::string kProgram = "/opt/enc/prog";
const std::string kOut = "/music/my song.out";

SettingsStore FreshStore() {
    const std::string folder = test::MakeTempFolder("settings");
    return SettingsStore({folder + "/user.ini", folder + "/machine.ini"});
}

std::string WriteScript(const std::string& folder, const std::string& name, const std::string& body) {
    const std::string path = folder + "/" + name;
    EXPECT_TRUE(WriteFileAtomically(path, "#!/bin/sh\n" + body + "\n", 0755));
    return path;
}

TEST(EncoderCommandTest, Mp3TextsForTheDocumentedCases) {
    Mp3EncoderSettings s;  // defaults: CBR 128, high quality, joint
    EncoderPlan p = PlanMp3Encoder(kProgram, s, 44100, 2, kOut);
    EXPECT_EQ(p.commandText, "\"/opt/enc/prog\" -m j -b 128 -h -r -x -s 44.100 -S - \"/music/my song.out\"");
    EXPECT_EQ(p.sampleRate, 44100);
    EXPECT_EQ(p.channels, 2);

    // 16 kbps CBR: mono at 22050 Hz.
    s.cbrBitRate = 16;
    p = PlanMp3Encoder(kProgram, s, 44100, 2, kOut);
    EXPECT_EQ(p.commandText, "\"/opt/enc/prog\" -m m -b 16 -h -r -x -s 22.050 -S - \"/music/my song.out\"");
    EXPECT_EQ(p.sampleRate, 22050);
    EXPECT_EQ(p.channels, 1);

    // Forced mono on a stereo document reads stereo and mixes it down.
    s = {};
    s.channelMode = 3;
    s.highQuality = false;
    s.errorProtection = true;
    p = PlanMp3Encoder(kProgram, s, 8000, 2, kOut);
    EXPECT_EQ(p.commandText,
              "\"/opt/enc/prog\" -a -m m -p -b 128 -r -x -s 8.000 -S - \"/music/my song.out\"");
    EXPECT_EQ(p.channels, 2);

    // VBR uses its range; the maximum above 160 lifts a 22050 Hz document.
    s = {};
    s.constantBitRate = false;
    s.channelMode = 0;
    s.vbrMinBitRate = 40;
    s.vbrMaxBitRate = 192;
    s.vbrQuality = 2;
    p = PlanMp3Encoder(kProgram, s, 22050, 1, kOut);
    EXPECT_EQ(p.commandText,
              "\"/opt/enc/prog\" -m m -v -b 40 -B 192 -V 2 -r -x -s 44.100 -S - \"/music/my song.out\"");
    p = PlanMp3Encoder(kProgram, s, 96000, 6, kOut);
    EXPECT_EQ(p.commandText,
              "\"/opt/enc/prog\" -m s -v -b 40 -B 192 -V 2 -r -x -s 48.000 -S - \"/music/my song.out\"");
    EXPECT_EQ(p.channels, 2) << "never more than two channels reach the encoder";
}

TEST(EncoderCommandTest, Mp3RateMapping) {
    struct Case {
        int32_t rate;
        int minRate, maxRate;
        int32_t expected;
    };
    const Case cases[] = {
        {12000, 128, 128, 11025}, {22050, 192, 192, 44100}, {44100, 16, 16, 22050},
        {47999, 128, 128, 44100}, {48000, 128, 128, 48000}, {96000, 128, 128, 48000},
        {32001, 128, 128, 44100}, {24001, 128, 128, 32000}, {24000, 128, 128, 24000},
        {22051, 128, 128, 22050}, {16001, 128, 128, 22050}, {16000, 128, 128, 16000},
        {11026, 128, 128, 11025}, {8001, 128, 128, 11025},  {7999, 128, 128, 8000},
        {1, 128, 128, 8000},      {31999, 192, 192, 44100}, {32000, 192, 192, 32000},
        {16000, 16, 16, 16000},   {44100, 8, 320, 22050},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Mp3EncodingRate(c.rate, c.minRate, c.maxRate), c.expected) << c.rate << " " << c.minRate;
}

TEST(EncoderCommandTest, OggFlacAacAmrTexts) {
    OggEncoderSettings ogg;
    EncoderPlan p = PlanOggEncoder(kProgram, ogg, 44100, 2, kOut);
    EXPECT_EQ(p.commandText, "\"/opt/enc/prog\" -C 2 -R 44100 --downmix -q 4 -Q - -o \"/music/my song.out\"");
    EXPECT_EQ(p.channels, 2);
    ogg.qualityMode = false;
    ogg.stripComments = true;
    // trunc(1 * 8000 * 0.0045) = 36 caps both ends of the range.
    p = PlanOggEncoder(kProgram, ogg, 8000, 1, kOut);
    EXPECT_EQ(p.commandText,
              "\"/opt/enc/prog\" -C 1 -R 8000 -m 36 -M 36 --discard-comments -Q - -o \"/music/my song.out\"");
    ogg.channels = 2;
    ogg.stripComments = false;
    p = PlanOggEncoder(kProgram, ogg, 44100, 2, kOut);
    EXPECT_EQ(p.commandText, "\"/opt/enc/prog\" -C 2 -R 44100 -m 96 -M 128 -Q - -o \"/music/my song.out\"");

    FlacEncoderSettings flac;
    p = PlanFlacEncoder(kProgram, flac, kOut);
    EXPECT_EQ(
        p.commandText,
        "\"/opt/enc/prog\" --channels=1 --sample-rate=44100 --compression-level-4 --endian=little --bps=16 "
        "--sign=signed -f - -o \"/music/my song.out\"");
    EXPECT_EQ(p.sampleRate, 44100);
    EXPECT_EQ(p.channels, 1);

    AacEncoderSettings aac;
    p = PlanAacEncoder(kProgram, aac, 44100, 2, false, kOut);
    EXPECT_EQ(p.commandText, "\"/opt/enc/prog\" -C 2 -R 44100 -q 100 -X - -o \"/music/my song.out\"");
    aac.averageBitRate = true;
    aac.forceMpeg2 = true;
    aac.disableTns = true;
    // trunc(1 * 22050 * 0.0045) = 99 is below the 128 asked for.
    p = PlanAacEncoder(kProgram, aac, 22050, 1, true, kOut);
    EXPECT_EQ(p.commandText,
              "\"/opt/enc/prog\" -C 1 -R 22050 -b 99 --mpeg-vers 2 --no-tns -X - -o \"/music/my song.out\"");

    AmrEncoderSettings amr;
    p = PlanAmrEncoder(kProgram, amr, kOut);
    EXPECT_EQ(p.commandText, "\"/opt/enc/prog\" MR74 - \"/music/my song.out\"");
    EXPECT_EQ(p.sampleRate, 8000);
    EXPECT_EQ(p.channels, 1);
    amr.modeRateSelection = 7;
    EXPECT_EQ(PlanAmrEncoder(kProgram, amr, kOut).commandText,
              "\"/opt/enc/prog\" MR122 - \"/music/my song.out\"");
}

TEST(EncoderCommandTest, ArgumentVectorsCarryAwkwardNamesWhole) {
    const std::string out = "/tmp/-x \"quoted\"\nline.out";
    const std::vector<std::string> lame = PlanMp3Encoder(kProgram, {}, 44100, 2, out).arguments;
    ASSERT_GE(lame.size(), 3u);
    EXPECT_EQ(lame.front(), kProgram);
    EXPECT_EQ(lame[lame.size() - 2], "-");
    EXPECT_EQ(lame.back(), out);

    const std::vector<std::string> ogg = PlanOggEncoder(kProgram, {}, 44100, 2, out).arguments;
    EXPECT_EQ(ogg[ogg.size() - 2], out);
    const std::vector<std::string> flac = PlanFlacEncoder(kProgram, {}, out).arguments;
    EXPECT_EQ(flac[flac.size() - 2], out);

    const std::vector<std::string> aac = PlanAacEncoder(kProgram, {}, 32000, 2, true, out).arguments;
    const std::vector<std::string> head = {kProgram, "-nostdin", "-v",  "error", "-y", "-f",    "s16le",
                                           "-ar",    "32000",    "-ac", "2",     "-i", "pipe:0"};
    EXPECT_EQ(std::vector<std::string>(aac.begin(), aac.begin() + 13), head);
    EXPECT_EQ(aac.back(), "file:" + out);
    EXPECT_EQ(aac[aac.size() - 2], "ipod");
    const std::vector<std::string> amr = PlanAmrEncoder(kProgram, {}, out).arguments;
    EXPECT_EQ(amr[8], "8000");
    EXPECT_EQ(amr[10], "1");
    EXPECT_EQ(amr.back(), "file:" + out);
}

TEST(EncoderSettingsTest, DefaultsRoundTripAndRepairs) {
    SettingsStore store = FreshStore();
    const Mp3EncoderSettings m = LoadMp3EncoderSettings(store);
    EXPECT_TRUE(m.constantBitRate);
    EXPECT_EQ(m.cbrBitRate, 128);
    EXPECT_EQ(m.vbrMinBitRate, 32);
    EXPECT_EQ(m.channelMode, 1);
    EXPECT_EQ(LoadOggEncoderSettings(store).vbrMinBitRate, 96);
    EXPECT_EQ(LoadFlacEncoderSettings(store).sampleRate, 44100u);
    EXPECT_EQ(LoadAacEncoderSettings(store).vbrQuality, 100);
    EXPECT_EQ(LoadAmrEncoderSettings(store).modeRateSelection, 4);

    store.WriteInt("MP3Encoder", "VBRMaxBitRate", 192);
    store.WriteInt("MP3Encoder", "VBRMinBitRate", 8);
    store.WriteInt("MP3Encoder", "ChannelMode", 9);
    store.WriteInt("AMREncoder", "ModeRateSelection", 12);
    store.WriteInt("FlacEncoder", "SampleRate", -5);
    EXPECT_EQ(LoadMp3EncoderSettings(store).vbrMinBitRate, 32);
    EXPECT_EQ(LoadMp3EncoderSettings(store).channelMode, 1);
    EXPECT_EQ(LoadAmrEncoderSettings(store).modeRateSelection, 4);
    EXPECT_EQ(LoadFlacEncoderSettings(store).sampleRate, 44100u);

    OggEncoderSettings o;
    o.qualityMode = false;
    o.vbrQuality = 9;
    o.channels = 2;
    o.stripComments = true;
    ASSERT_TRUE(StoreOggEncoderSettings(store, o));
    const OggEncoderSettings back = LoadOggEncoderSettings(store);
    EXPECT_FALSE(back.qualityMode);
    EXPECT_EQ(back.vbrQuality, 9);
    EXPECT_EQ(back.channels, 2);
    EXPECT_TRUE(back.stripComments);
    EXPECT_EQ(store.ReadString("OggEncoder", "Quality"), "0");
}

TEST(ExportDispatcherTest, ExtensionTable) {
    EXPECT_EQ(ExportFormatFor("/a/b.WAV")->route, ExportRoute::Wav);
    EXPECT_EQ(ExportFormatFor("x.aiff")->route, ExportRoute::Aiff);
    EXPECT_EQ(ExportFormatFor("x.m4a")->encoder, EncoderKind::M4a);
    EXPECT_EQ(ExportFormatFor("x.Pls")->route, ExportRoute::Playlist);
    EXPECT_FALSE(ExportFormatFor("x.ra"));
    EXPECT_FALSE(ExportFormatFor("x.mp3/noext"));
    EXPECT_FALSE(ExportFormatFor("x"));

    SettingsStore store = FreshStore();
    const std::string folder = test::MakeTempFolder("canSave");
    EXPECT_TRUE(CanSaveAs(".gsm", store));
    EXPECT_FALSE(CanSaveAs(".wma", store));
    // With no program on PATH only a stored component path helps.
    const test::ScopedEnv path("PATH", folder);
    EXPECT_FALSE(CanSaveAs(".flac", store));
    EXPECT_TRUE(CanSaveAs(".m3u", store));
    store.WriteString("Components\\flacenc", "Path", WriteScript(folder, "enc", "cat >/dev/null"));
    EXPECT_TRUE(CanSaveAs(".FLAC", store));
}

TEST(ExportDispatcherTest, SinksDeclareWhatTheyWrite) {
    SettingsStore store = FreshStore();
    const std::string folder = test::MakeTempFolder("sinks");
    ExportOptions options;
    options.settings = &store;
    store.WriteString("Components\\amrenc", "Path", WriteScript(folder, "enc", "cat >/dev/null"));
    ExportSink amr = CreateExportSink(folder + "/a.amr", 44100, 2, options);
    EXPECT_EQ(amr.sink->SampleRate(), 8000);
    EXPECT_EQ(amr.sink->Channels(), 1);
    ExportSink gsm = CreateExportSink(folder + "/a.gsm", 44100, 2, options);
    EXPECT_EQ(gsm.sink->SampleRate(), 8000);
    EXPECT_EQ(gsm.sink->Channels(), 1);
    ExportSink wav = CreateExportSink(folder + "/a.wav", 32000, 3, options);
    EXPECT_FALSE(wav.sink->Failed());
    EXPECT_EQ(wav.sink->SampleRate(), 32000);
    EXPECT_EQ(wav.sink->Channels(), 3);
    EXPECT_TRUE(CreateExportSink(folder + "/a.xyz", 44100, 2, options).sink->Failed());
    EXPECT_TRUE(CreateExportSink("relative.amr", 44100, 2, options).sink->Failed());
}

TEST(PipeEncoderSinkTest, FeedsRoundedSaturatedLittleEndianPcm) {
    const std::string folder = test::MakeTempFolder("pipe");
    const std::string script = WriteScript(folder, "enc", "cat > \"$1\"");
    const std::string out = folder + "/out.pcm";
    auto sink = MakeRef<PipeEncoderSink>(std::vector<std::string>{script, out}, out, 8000, 2);
    const std::vector<int32_t> samples = {0,      7,       8,       -8,        -9,        524272,
                                          524280, -524288, -524296, INT32_MAX, INT32_MIN, 16};
    sink->Write(samples.data(), 6);
    ASSERT_TRUE(sink->Close());
    EXPECT_EQ(sink->ExitCode(), 0);
    EXPECT_EQ(test::FileText(out),
              test::Pcm16({0, 0, 1, 0, -1, 32767, 32767, -32768, -32768, 32767, -32768, 1}));
}

TEST(PipeEncoderSinkTest, BadEndingsFailTheSink) {
    const std::string folder = test::MakeTempFolder("pipebad");
    const std::string out = folder + "/out";
    std::vector<int32_t> block(8192 * 2 * 8, 1000);
    struct Case {
        const char* name;
        const char* body;
    };
    const Case cases[] = {
        {"exitsAtOnce", "echo data > \"$1\"; exit 0"},   // never reads: output cut short
        {"exitCode", "cat > \"$1\"; exit 3"},            // read everything, reported an error
        {"noOutput", "cat > /dev/null"},                 // clean exit, nothing written
        {"killed", "head -c 100 > \"$1\"; kill -9 $$"},  // dies half-way
    };
    for (const Case& c : cases) {
        unlink(out.c_str());
        const std::string script = WriteScript(folder, c.name, c.body);
        auto sink = MakeRef<PipeEncoderSink>(std::vector<std::string>{script, out}, out, 44100, 2);
        for (int i = 0; i < 4; ++i)
            sink->Write(block.data(), static_cast<int32_t>(block.size() / 2));
        EXPECT_FALSE(sink->Close()) << c.name;
        EXPECT_TRUE(sink->Failed()) << c.name;
    }
    auto missing =
        MakeRef<PipeEncoderSink>(std::vector<std::string>{folder + "/nothing-here", out}, out, 44100, 2);
    EXPECT_TRUE(missing->Failed());
    EXPECT_NE(missing->StartError(), 0);
}

TEST(PipeEncoderSinkTest, AStuckEncoderIsCancelled) {
    const std::string folder = test::MakeTempFolder("pipestuck");
    const std::string script = WriteScript(folder, "enc", "exec sleep 60");
    const std::string out = folder + "/out";
    int asked = 0;
    auto sink = MakeRef<PipeEncoderSink>(std::vector<std::string>{script, out}, out, 44100, 2,
                                         [&asked] { return ++asked > 3; });
    std::vector<int32_t> block(8192 * 2, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 64 && !sink->Failed(); ++i)
        sink->Write(block.data(), 8192);
    EXPECT_TRUE(sink->Failed());
    EXPECT_FALSE(sink->Close());
    EXPECT_TRUE(sink->Cancelled());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

struct SaveFixture {
    SettingsStore store = FreshStore();
    std::string folder = test::MakeTempFolder("save");
    test::ScriptedTaskHost host;
    ExportOptions options;
    SaveFixture() { options.settings = &store; }

    SaveOutcome Save(const std::string& target, int32_t frames = 44100) {
        SaveOutcome outcome;
        FunctionTask task("Save", [&](ProgressTask& t) {
            outcome = SaveAudio(t, MakeRef<ToneSource>(44100, 2, frames), target, nullptr, options);
            return outcome.result;
        });
        RunTask(task, host);
        return outcome;
    }
    // Temporary files ("." + "~" + name ...) still in the folder.
    size_t FilesInFolder() const {
        return static_cast<size_t>(test::RunShell("ls -A '" + folder + "' | grep -q '^\\.~'") == 0);
    }
};

TEST(SaveAudioTest, FailedEncoderLeavesTheOldFileAndSaysSo) {
    SaveFixture f;
    const std::string target = f.folder + "/song.mp3";
    ASSERT_TRUE(WriteFileAtomically(target, "old contents"));
    for (const char* body :
         {"exit 0", "cat > /dev/null; echo 'lots of chatter' >&2; echo 'cannot write frame' >&2; exit 1",
          "exec sleep 0.2"}) {
        f.store.WriteString("Components\\mp3el", "Path", WriteScript(f.folder, "enc", body));
        const SaveOutcome outcome = f.Save(target);
        EXPECT_EQ(outcome.result, kTaskFailed) << body;
        EXPECT_NE(outcome.message.find("left unchanged"), std::string::npos) << outcome.message;
        // What the encoder said goes into the message, not onto our stderr.
        if (std::string(body).find("frame") != std::string::npos) {
            EXPECT_NE(outcome.message.find("lots of chatter\ncannot write frame"), std::string::npos)
                << outcome.message;
        }
        EXPECT_EQ(ReadWholeFile(target).value_or(""), "old contents") << body;
        EXPECT_EQ(f.FilesInFolder(), 0u) << "temporary file left behind";
    }
    EXPECT_FALSE(f.host.errors.empty());
}

TEST(SaveAudioTest, MissingProgramNamesTheDebianPackage) {
    SaveFixture f;
    const SaveOutcome outcome = [&] {
        const test::ScopedEnv path("PATH", f.folder);
        return f.Save(f.folder + "/song.ogg");
    }();
    EXPECT_EQ(outcome.result, kTaskFailed);
    EXPECT_NE(outcome.message.find("Unable to create file \"" + f.folder + "/song.ogg\"for saving."),
              std::string::npos);
    EXPECT_NE(outcome.message.find("\"vorbis-tools\""), std::string::npos) << outcome.message;
    EXPECT_FALSE(FileExists(f.folder + "/song.ogg"));
}

TEST(SaveAudioTest, GoodSaveReplacesTheTarget) {
    SaveFixture f;
    const std::string target = f.folder + "/tone.wav";
    ASSERT_TRUE(WriteFileAtomically(target, "old contents"));
    ASSERT_EQ(f.Save(target, 1000).result, kTaskDone);
    // 46-byte header, 1000 stereo 16-bit frames.
    EXPECT_EQ(FileSize(target).value_or(0), 46 + 4000);
    EXPECT_EQ(f.FilesInFolder(), 0u);

    // An encoder script that copies its input counts as a clean run.
    f.store.WriteString("Components\\flacenc", "Path",
                        WriteScript(f.folder, "enc", "cat > \"$(eval echo \\${$(($#-1))})\""));
    const SaveOutcome flac = f.Save(f.folder + "/tone.flac", 1000);
    EXPECT_EQ(flac.result, kTaskDone) << flac.message;
    // Default FLAC settings: mono 44100 Hz, so 1000 frames of 2 bytes.
    EXPECT_EQ(FileSize(f.folder + "/tone.flac").value_or(0), 2000);
}

TEST(SaveAudioTest, CancelledSaveKeepsNothing) {
    SaveFixture f;
    f.host.cancelAfterPumps = 3;
    const std::string target = f.folder + "/long.raw";
    const SaveOutcome outcome = f.Save(target, 44100 * 30);
    EXPECT_EQ(outcome.result, kTaskCancelled);
    EXPECT_FALSE(FileExists(target));
    EXPECT_EQ(f.FilesInFolder(), 0u);
}

}  // namespace
}  // namespace sonitor
