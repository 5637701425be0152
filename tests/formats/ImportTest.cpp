#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ClipReader.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/import/ExternalDecoders.h"
#include "formats/import/ImportDispatcher.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/ProcessRunner.h"
#include "foundation/SettingsStore.h"
#include "support/Bytes.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

std::string Folder() {
    static const std::string folder = test::MakeTempFolder("import");
    return folder;
}

std::string Write(const std::string& name, const std::string& bytes, unsigned mode = 0644) {
    const std::string path = Folder() + "/" + name;
    EXPECT_TRUE(WriteFileAtomically(path, bytes, mode));
    return path;
}

// A 16-bit PCM WAV file holding samples (interleaved).
std::string WavBytes(uint32_t rate, uint16_t channels, const std::vector<int16_t>& samples) {
    return test::PcmWav(rate, channels, 16, test::Pcm16(samples));
}

std::vector<int16_t> Ramp(size_t n) {
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
    return v;
}

// Settings of our own, so that stored component paths can be staged.
struct Store {
    std::string folder = test::MakeTempFolder("store");
    SettingsStore store{SettingsLocation{folder + "/user.ini", folder + "/machine.ini"}};
};

// Runs work inside a task under a scripted host and returns its result.
int32_t InTask(test::ScriptedTaskHost& host, const std::function<int32_t(ProgressTask&)>& work) {
    FunctionTask task("Test", work);
    return RunTask(task, host);
}

TEST(ImportRoute, ExtensionsInTableOrderIgnoringCase) {
    const std::vector<std::pair<const char*, ImportRoute>> cases = {
        {"a.wav", ImportRoute::Wav},
        {"/x/A.WAV", ImportRoute::Wav},
        {"a.Mp3", ImportRoute::Mp3},
        {"a.aif", ImportRoute::Aiff},
        {"a.AIFF", ImportRoute::Aiff},
        {"a.au", ImportRoute::Au},
        {"a.gsm", ImportRoute::Gsm},
        {"a.vox", ImportRoute::Vox},
        {"a.raw", ImportRoute::Raw},
        {"a.snd", ImportRoute::Raw},
        {"a.dct", ImportRoute::Dct},
        {"a.aac", ImportRoute::Aac},
        {"a.m4a", ImportRoute::Aac},
        {"a.ogg", ImportRoute::Ogg},
        {"a.FLAC", ImportRoute::Flac},
        {"a.amr", ImportRoute::Amr},
        {"a.wma", ImportRoute::Wma},
        {"a.dss", ImportRoute::Dss},
        {"a.ra", ImportRoute::RealAudio},
        {"a.ram", ImportRoute::RealAudio},
        {"a.rm", ImportRoute::RealAudio},
        {"a.rmj", ImportRoute::RealAudio},
        {"a.sri", ImportRoute::Sri},
        {"a.act", ImportRoute::Record},
        {"a.rec", ImportRoute::Record},
        {"a.rcd", ImportRoute::Record},
        {"a.shn", ImportRoute::Shorten},
        // Unknown, none, or a dot that belongs to a folder: the catch-all.
        {"a.mp2", ImportRoute::Other},
        {"a.mpga", ImportRoute::Other},
        {"a", ImportRoute::Other},
        {"/x.wav/a", ImportRoute::Other},
        {"x.wav\\a", ImportRoute::Other},
        {"a.wav.bak", ImportRoute::Other},
        {"a.", ImportRoute::Other},
        {"a.wavx", ImportRoute::Other},
        {"a.w", ImportRoute::Other},
    };
    for (const auto& [path, route] : cases)
        EXPECT_EQ(ImportRouteFor(path), route) << path;
}

TEST(ImportMessages, ExactTexts) {
    EXPECT_EQ(AccessMessage("/a b"),
              "Cannot open the file \"/a b\". Check it exists and you have read access.");
    EXPECT_EQ(CorruptMessage("x"), "Cannot open the file \"x\" because it is corrupt.");
    EXPECT_EQ(WavStatusMessage("x", 3), CorruptMessage("x"));
    EXPECT_EQ(WavStatusMessage("x", 4), AccessMessage("x"));
    EXPECT_EQ(WavStatusMessage("x", 5).rfind("Cannot open the file \"x\" because the required ACM codec", 0),
              0u);
    EXPECT_EQ(WavStatusMessage("x", 1), "Cannot open the file \"x\".");
    EXPECT_EQ(Mp3StatusMessage("x", 4), AccessMessage("x"));
    EXPECT_EQ(Mp3StatusMessage("x", 3),
              "Cannot open the file \"x\". It is possibly either corrupt or not a true layer-3 MPEG file.");
    // A '%' in a path is text, not a format directive.
    EXPECT_EQ(CorruptMessage("%s%n"), "Cannot open the file \"%s%n\" because it is corrupt.");
}

// Missing and damaged files of the formats we read ourselves, each with the
// message its loader gives.
TEST(OpenAudioSource, DirectLoaderFailuresGiveTheirMessages) {
    const std::string garbage(600, 'x');
    const std::string missing = Folder() + "/missing";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {missing + ".wav", AccessMessage(missing + ".wav")},
        {Write("bad.wav", garbage), CorruptMessage(Folder() + "/bad.wav")},
        {missing + ".mp3", AccessMessage(missing + ".mp3")},
        {Write("bad.mp3", std::string(70000, '\0')), Mp3StatusMessage(Folder() + "/bad.mp3", 3)},
        {missing + ".aiff", AccessMessage(missing + ".aiff")},
        {Write("bad.AIF", garbage), CorruptMessage(Folder() + "/bad.AIF")},
        {missing + ".au", AccessMessage(missing + ".au")},
        {Write("bad.au", garbage), CorruptMessage(Folder() + "/bad.au")},
        {missing + ".gsm", AccessMessage(missing + ".gsm")},
    };
    Store s;
    for (const auto& [path, message] : cases) {
        uint8_t interact = 0;
        OpenAudioOptions options;
        options.settings = &s.store;
        const OpenAudioResult r = OpenAudioSource(path, interact, nullptr, options);
        EXPECT_EQ(r.result, 2) << path;
        EXPECT_FALSE(r.source) << path;
        EXPECT_EQ(r.message, message) << path;
    }
}

TEST(OpenAudioSource, InteractionFlagShowsOneMessageThenClears) {
    const std::string path = Folder() + "/absent.wav";
    test::ScriptedTaskHost host;
    uint8_t interact = 1;
    EXPECT_EQ(InTask(host,
                     [&](ProgressTask& task) {
                         EXPECT_EQ(OpenAudioSource(path, interact, &task).result, 2);
                         return OpenAudioSource(path, interact, &task).result;
                     }),
              2);
    EXPECT_EQ(interact, 0);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], AccessMessage(path));

    // Batch callers (flag 0) get the message back but see nothing.
    test::ScriptedTaskHost quiet;
    uint8_t none = 0;
    InTask(quiet, [&](ProgressTask& task) { return OpenAudioSource(path, none, &task).result; });
    EXPECT_TRUE(quiet.errors.empty());
}

TEST(OpenAudioSource, RawDialogSpendsTheInteraction) {
    Store s;
    ASSERT_TRUE(StoreRawSettings(s.store, kRawAudioSection, RawSettings{16000, 2, 3}));
    const std::string path = Write("pcm.snd", std::string(400, '\x01'));
    OpenAudioOptions options;
    options.settings = &s.store;
    std::vector<std::string> asked;
    bool answer = false;
    options.askRawSettings = [&](const std::string& section, RawSettings& settings) {
        asked.push_back(section);
        if (section == kRawAudioSection) {
            EXPECT_EQ(settings.sampleRate, 16000);  // the stored settings are offered
        }
        settings.channels = 1;
        return answer;
    };

    uint8_t interact = 1;
    EXPECT_EQ(OpenAudioSource(path, interact, nullptr, options).result, 1);  // cancelled dialog
    EXPECT_EQ(interact, 0);

    answer = true;
    interact = 1;
    OpenAudioResult r = OpenAudioSource(path, interact, nullptr, options);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.source->Channels(), 1);  // the dialog's choice is used
    EXPECT_EQ(r.source->Length(), 200);

    interact = 0;  // no dialog: the stored settings
    r = OpenAudioSource(path, interact, nullptr, options);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.source->Channels(), 2);
    EXPECT_EQ(asked, (std::vector<std::string>{"RawAudio", "RawAudio"}));

    // A failure after the dialog stays silent.
    interact = 1;
    test::ScriptedTaskHost host;
    EXPECT_EQ(InTask(host,
                     [&](ProgressTask& task) {
                         return OpenAudioSource(Folder() + "/none.vox", interact, &task, options).result;
                     }),
              2);
    EXPECT_EQ(asked.back(), "VoxAudio");
    EXPECT_TRUE(host.errors.empty());
}

TEST(ExternalDecoders, ArgumentVectorsKeepOddNamesWhole) {
    const std::string in = "/d ir/-x \"q\"\n.ogg";
    const std::string out = "/t/Temp1.wav";
    ExternalDecoder d{"oggdec", "oggdec", "vorbis-tools", "", DecoderKind::Oggdec};
    EXPECT_EQ(DecoderArguments(d, "/p/oggdec", in, out),
              (std::vector<std::string>{"/p/oggdec", "-Q", "-o", out, in}));
    d.kind = DecoderKind::Flac;
    EXPECT_EQ(DecoderArguments(d, "/p/flac", in, out),
              (std::vector<std::string>{"/p/flac", "-d", "-f", "-s", "-o", out, in}));
    d.kind = DecoderKind::Ffmpeg;
    EXPECT_EQ(DecoderArguments(d, "ff", in, out),
              (std::vector<std::string>{"ff", "-nostdin", "-v", "error", "-y", "-i", "file:" + in, "-f",
                                        "wav", "-acodec", "pcm_s16le", "file:" + out}));
    EXPECT_EQ(
        MissingComponentMessage({"oggdec", "oggdec", "vorbis-tools", "", DecoderKind::Oggdec}),
        "Sonitor cannot install the required install-on-demand component \"oggdec\".\n\n"
        "Please install the Debian package \"vorbis-tools\" (it provides the program \"oggdec\") and try "
        "again.");
}

TEST(ExternalDecoders, StoredPathMachineHiveFirstThenUserThenPath) {
    Store s;
    const std::string machine = Write("machine-dec", "#!/bin/sh\n", 0755);
    const std::string user = Write("user-dec", "#!/bin/sh\n", 0755);
    const std::string notExecutable = Write("plain-dec", "#!/bin/sh\n", 0644);
    const ExternalDecoder d{"zzdec", "sh", "pkg", "", DecoderKind::Ffmpeg};
    const std::string section = "Components\\zzdec";
    // Writes the machine hive alone (WriteStringAllUsers writes both).
    const SettingsStore machineHive{SettingsLocation{s.folder + "/machine.ini", s.folder + "/unused.ini"}};

    EXPECT_EQ(FindComponent(d, s.store), FindProgram("sh"));  // nothing stored
    ASSERT_TRUE(s.store.WriteString(section, "Path", user));
    EXPECT_EQ(FindComponent(d, s.store), user);
    ASSERT_TRUE(machineHive.WriteString(section, "Path", machine));
    EXPECT_EQ(FindComponent(d, s.store), machine);
    ASSERT_TRUE(machineHive.WriteString(section, "Path", notExecutable));
    EXPECT_EQ(FindComponent(d, s.store), user);                   // unusable entries are passed over
    ASSERT_TRUE(s.store.WriteString(section, "Path", Folder()));  // a folder is no program
    EXPECT_EQ(FindComponent(d, s.store), FindProgram("sh"));

    const ExternalDecoder none{"zzdec2", "no-such-program-here", "pkg", "", DecoderKind::Ffmpeg};
    EXPECT_EQ(FindComponent(none, s.store), "");
}

// A shell script stands in for a decoder: it gets the output path as $1.
DecodeOutcome RunScript(const std::string& body, test::ScriptedTaskHost* host = nullptr) {
    const std::string folder = test::MakeTempFolder("run");
    const std::string out = folder + "/out.wav";
    const std::vector<std::string> argv = {"/bin/sh", "-c", body, "sh", out};
    if (host == nullptr) return RunDecoder(nullptr, argv, out);
    DecodeOutcome outcome;
    InTask(*host, [&](ProgressTask& task) {
        outcome = RunDecoder(&task, argv, out, folder + "/log");
        return outcome.result;
    });
    return outcome;
}

TEST(ExternalDecoders, ExitStatusAndOutputBothDecide) {
    EXPECT_EQ(RunScript("echo data > \"$1\"").result, 0);
    DecodeOutcome failed = RunScript("echo data > \"$1\"; exit 3");  // output, yet a failure
    EXPECT_EQ(failed.result, 2);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_EQ(RunScript(": > \"$1\"").result, 2);  // exit 0, empty output
    EXPECT_EQ(RunScript("exit 0").result, 2);      // exit 0, no output
    EXPECT_EQ(RunScript("kill -9 $$").result, 2);
    const DecodeOutcome notStarted =
        RunDecoder(nullptr, {Folder() + "/no-such-program"}, Folder() + "/o.wav");
    EXPECT_FALSE(notStarted.started);
    EXPECT_EQ(notStarted.result, 2);
}

TEST(ExternalDecoders, CancelEndsTheProgramPromptly) {
    test::ScriptedTaskHost host;
    host.cancelAfterPumps = 2;
    const auto start = std::chrono::steady_clock::now();
    const DecodeOutcome outcome = RunScript("exec sleep 30", &host);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(host.percents.empty());  // the bar moved while it ran
}

TEST(LoadAudioFile, LoadsIntoTheDocument) {
    const std::vector<int16_t> samples = Ramp(3000);
    const std::string path = Write("load.WAV", WavBytes(8000, 1, samples));
    SoundDocument document;
    document.modified = true;
    document.tags.push_back({"TITLE", "old"});
    test::ScriptedTaskHost host;
    uint8_t interact = 1;
    EXPECT_EQ(InTask(host, [&](ProgressTask& task) { return LoadAudioFile(task, document, path, interact); }),
              0);
    EXPECT_EQ(interact, 1);  // nothing was shown
    EXPECT_EQ(document.fileName, path);
    EXPECT_FALSE(document.modified);
    EXPECT_TRUE(document.tags.empty());
    ASSERT_EQ(document.Length(), 3000);
    EXPECT_EQ(document.clip.SampleRate(), 8000u);
    ASSERT_GE(host.texts.size(), 2u);
    EXPECT_EQ(host.texts[0], (std::pair<int, std::string>{0, "Loading file load.WAV"}));
    EXPECT_EQ(host.texts[1], (std::pair<int, std::string>{1, "Please wait..."}));

    Ref<ClipReader> reader = OpenClipReader(document.clip);
    std::vector<int32_t> got(3000);
    reader->Read(got.data(), 3000);
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(got[i], samples[i] * 16) << i;
}

TEST(LoadAudioFile, CancelAndFailureLeaveTheDocumentAlone) {
    const std::string good = Write("long.wav", WavBytes(8000, 1, Ramp(40000)));
    const std::string bad = Write("broken.wav", std::string(100, 'z'));
    SoundDocument document(11025, 1);
    document.fileName = "Untitled 1";
    document.modified = true;

    test::ScriptedTaskHost cancelling;
    cancelling.cancelAfterPumps = 1;  // during the copy
    uint8_t interact = 0;
    EXPECT_EQ(
        InTask(cancelling, [&](ProgressTask& task) { return LoadAudioFile(task, document, good, interact); }),
        1);
    test::ScriptedTaskHost failing;
    EXPECT_EQ(
        InTask(failing, [&](ProgressTask& task) { return LoadAudioFile(task, document, bad, interact); }), 2);
    EXPECT_EQ(document.fileName, "Untitled 1");
    EXPECT_TRUE(document.modified);
    EXPECT_EQ(document.Length(), 0);
    EXPECT_EQ(document.clip.SampleRate(), 11025u);
}

TEST(LoadAudioFileConverted, ConvertsOnlyWhenNeeded) {
    uint8_t interact = 0;
    OpenAudioResult r = OpenAudioSource(Write("conv.wav", WavBytes(8000, 1, Ramp(8000))), interact, nullptr);
    ASSERT_EQ(r.result, 0);
    Ref<AudioSource> source = r.source;
    test::ScriptedTaskHost host;
    EXPECT_EQ(InTask(host, [&](ProgressTask& task) { return LoadAudioFileConverted(task, source, 8000, 1); }),
              0);
    EXPECT_EQ(source.Get(), r.source.Get());
    EXPECT_TRUE(host.texts.empty());

    EXPECT_EQ(
        InTask(host, [&](ProgressTask& task) { return LoadAudioFileConverted(task, source, 16000, 2); }), 0);
    EXPECT_NE(source.Get(), r.source.Get());
    EXPECT_EQ(source->SampleRate(), 16000);
    EXPECT_EQ(source->Channels(), 2);
    EXPECT_NEAR(source->Length(), 16000, 2);
    ASSERT_FALSE(host.texts.empty());
    EXPECT_EQ(host.texts[0].second, "Converting rate or channels...");

    test::ScriptedTaskHost cancelling;
    cancelling.cancelAfterPumps = 0;
    Ref<AudioSource> kept = r.source;
    EXPECT_EQ(
        InTask(cancelling, [&](ProgressTask& task) { return LoadAudioFileConverted(task, kept, 22050, 1); }),
        1);
    EXPECT_EQ(kept.Get(), r.source.Get());
}

}  // namespace
}  // namespace sonitor
