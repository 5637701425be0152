#include <dirent.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "document/ProgressTask.h"
#include "formats/Endian.h"
#include "formats/WavSource.h"
#include "formats/import/ImportDispatcher.h"
#include "foundation/FileUtil.h"
#include "foundation/ProcessRunner.h"
#include "foundation/SettingsStore.h"
#include "support/ScriptedTaskHost.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

// Quoted for /bin/sh: the peers that make test files run through the shell.
std::string Sh(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// 1.5 s of a stereo tone with a ramp as a 16-bit WAV, made by sox.
std::string MakeReference(const std::string& folder) {
    const std::string path = folder + "/reference.wav";
    EXPECT_EQ(test::RunShell("sox -n -r 44100 -c 2 -b 16 " + Sh(path) +
                             " synth 1.5 sine 440 sine 660 vol 0.5 2>/dev/null"),
              0);
    return path;
}

std::vector<int32_t> ReadAll(AudioSource& source) {
    return test::ReadFrames(source, source.Length());
}

bool FolderIsEmpty(const std::string& folder) {
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return false;
    int entries = 0;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) ++entries;
    }
    closedir(d);
    return entries == 0;
}

struct ImportIntegration : ::testing::Test {
    std::string folder = test::MakeTempFolder("import it");
    std::string temp = test::MakeTempFolder("import-temp");
    SettingsStore store{SettingsLocation{folder + "/user.ini", folder + "/machine.ini"}};
    OpenAudioOptions options;
    void SetUp() override {
        options.settings = &store;
        options.tempBase = temp;
    }
    OpenAudioResult Open(const std::string& path, test::ScriptedTaskHost& host, uint8_t interact = 1) {
        OpenAudioResult r;
        FunctionTask task("Open", [&](ProgressTask& t) {
            r = OpenAudioSource(path, interact, &t, options);
            return r.result;
        });
        RunTask(task, host);
        return r;
    }
};

// Lossless routes give back the reference exactly; the names carry quotes,
// blanks, a leading '-' and a newline.
TEST_F(ImportIntegration, LosslessDecodersGiveTheExactSamples) {
    const std::string reference = MakeReference(folder);
    Ref<AudioSource> expected = OpenWavSource(reference);
    ASSERT_TRUE(expected->Ok());
    const std::vector<int32_t> want = ReadAll(*expected);

    const std::string flac = folder + "/-n \"odd\" 'x'\nname.FLAC";
    ASSERT_EQ(test::RunShell("flac -s -f -o " + Sh(flac) + " " + Sh(reference)), 0);
    const std::string w64 = folder + "/-v:catch all.w64";  // no loader of ours: ffmpeg
    ASSERT_EQ(
        test::RunShell("ffmpeg -nostdin -v error -y -i " + Sh(reference) + " -c:a pcm_s16le file:" + Sh(w64)),
        0);
    for (const std::string& path : {flac, w64}) {
        test::ScriptedTaskHost host;
        const OpenAudioResult r = Open(path, host);
        ASSERT_EQ(r.result, 0) << path << " " << r.message;
        EXPECT_EQ(r.source->SampleRate(), 44100);
        EXPECT_EQ(r.source->Channels(), 2);
        EXPECT_EQ(ReadAll(*r.source), want) << path;
        EXPECT_TRUE(host.errors.empty());
        // The source keeps the decoded file open; nothing is left behind.
        EXPECT_TRUE(FolderIsEmpty(temp));
    }
}

TEST_F(ImportIntegration, OggDecodesToTheRightFormatAndLength) {
    if (FindProgram("oggenc").empty()) GTEST_SKIP() << "oggenc (vorbis-tools) is not installed";
    const std::string reference = MakeReference(folder);
    const std::string ogg = folder + "/tone.ogg";
    ASSERT_EQ(test::RunShell("oggenc -Q -q 4 -o " + Sh(ogg) + " " + Sh(reference)), 0);
    test::ScriptedTaskHost host;
    const OpenAudioResult r = Open(ogg, host);
    ASSERT_EQ(r.result, 0) << r.message;
    EXPECT_EQ(r.source->SampleRate(), 44100);
    EXPECT_EQ(r.source->Channels(), 2);
    EXPECT_EQ(r.source->Length(), 66150);
    ASSERT_FALSE(host.texts.empty());
    EXPECT_EQ(host.texts[0], (std::pair<int, std::string>{0, "Decoding Ogg file"}));
}

TEST_F(ImportIntegration, MissingProgramNamesThePackage) {
    const std::string ogg = folder + "/a.ogg";
    ASSERT_TRUE(WriteFileAtomically(ogg, "OggS"));
    test::ScriptedTaskHost host;
    const OpenAudioResult r = [&] {
        const test::ScopedEnv path("PATH", test::MakeTempFolder("empty-path"));
        return Open(ogg, host, 0);  // shown even to batch callers
    }();
    EXPECT_EQ(r.result, 2);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(host.errors[0].find("component \"oggdec\""), std::string::npos) << host.errors[0];
    EXPECT_NE(host.errors[0].find("\"vorbis-tools\""), std::string::npos) << host.errors[0];
}

TEST_F(ImportIntegration, FailingDecoderGivesFailureAndLeavesNoFiles) {
    // Writes a plausible output, then reports failure: the output is not used.
    const std::string script = folder + "/bad-flac";
    ASSERT_TRUE(WriteFileAtomically(script,
                                    "#!/bin/sh\n"
                                    "cp \"$0\" \"$5\"; exit 4\n",
                                    0755));
    ASSERT_TRUE(store.WriteString("Components\\flacdec", "Path", script));
    const std::string flac = folder + "/a.flac";
    ASSERT_TRUE(WriteFileAtomically(flac, "fLaC"));
    test::ScriptedTaskHost host;
    const OpenAudioResult r = Open(flac, host);
    EXPECT_EQ(r.result, 2);
    EXPECT_FALSE(r.source);
    EXPECT_TRUE(host.errors.empty());  // a decoder failure is silent
    EXPECT_TRUE(FolderIsEmpty(temp));
}

TEST_F(ImportIntegration, CatchAllMessages) {
    test::ScriptedTaskHost host;
    const std::string missing = folder + "/none.mp2";
    EXPECT_EQ(Open(missing, host).result, 2);
    const std::string junk = folder + "/junk.xyz";
    ASSERT_TRUE(WriteFileAtomically(junk, std::string(2000, 'j')));
    EXPECT_EQ(Open(junk, host).result, 2);
    const std::string wma = folder + "/junk.wma";
    ASSERT_TRUE(WriteFileAtomically(wma, std::string(2000, 'j')));
    EXPECT_EQ(Open(wma, host).result, 2);
    ASSERT_EQ(host.errors.size(), 3u);
    EXPECT_EQ(host.errors[0], AccessMessage(missing));
    EXPECT_EQ(host.errors[1], UnsupportedFileMessage(junk));
    EXPECT_EQ(host.errors[2], WmaFailedMessage(wma));
    EXPECT_TRUE(FolderIsEmpty(temp));
}

TEST_F(ImportIntegration, CancelDuringDecodeReturnsOne) {
    const std::string script = folder + "/slow";
    ASSERT_TRUE(WriteFileAtomically(script, "#!/bin/sh\nexec sleep 30\n", 0755));
    ASSERT_TRUE(store.WriteString("Components\\shndec", "Path", script));
    const std::string shn = folder + "/a.shn";
    ASSERT_TRUE(WriteFileAtomically(shn, "ajkg"));
    test::ScriptedTaskHost host;
    host.cancelAfterPumps = 3;
    const OpenAudioResult r = Open(shn, host);
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(host.errors.empty());
    EXPECT_TRUE(FolderIsEmpty(temp));
}

}  // namespace
}  // namespace sonitor
