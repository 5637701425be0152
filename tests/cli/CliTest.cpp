#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <string>

#include "support/TestEnvironment.h"
#include "foundation/FileUtil.h"
#include "foundation/Text.h"

namespace sonitor {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Runs sonitor-cli with its own data folder, so that what it leaves behind
// can be inspected.
CliRun RunCli(const std::string& args, const std::string& dataHome) {
    const std::string folder = test::MakeTempFolder("cli");
    const std::string out = folder + "/out.txt";
    const std::string err = folder + "/err.txt";
    const int status = test::RunShell("XDG_DATA_HOME='" + dataHome + "' '" SONITOR_CLI "' " + args + " >'" + out +
                                      "' 2>'" + err + "'");
    return {status, ReadWholeFile(out).value_or(""), ReadWholeFile(err).value_or("")};
}

int CountEntries(const std::string& folder) {
    int n = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
        }
        closedir(dir);
    }
    return n;
}

TEST(CliTest, HelpVersionAndUsageErrors) {
    const std::string data = test::MakeTempFolder("data");
    CliRun r = RunCli("--help", data);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: sonitor-cli"), std::string::npos);
    EXPECT_NE(r.out.find("demo"), std::string::npos);

    r = RunCli("--version", data);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("sonitor-cli ", 0), 0u);

    r = RunCli("", data);
    EXPECT_EQ(r.status, 2);
    r = RunCli("frobnicate", data);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
    r = RunCli("demo --seconds 0", data);
    EXPECT_EQ(r.status, 2);
}

// The demo edits a real document; its figures are fixed by the edits, and it
// leaves nothing behind in the working folder.
TEST(CliTest, DemoEditsUndoesAndCleansUp) {
    const std::string data = test::MakeTempFolder("data");
    const CliRun r = RunCli("demo --seconds 2", data);
    ASSERT_EQ(r.status, 0) << r.err;
    // 2 s = 88200 frames; cut 10 %, paste it back, repeat the first 5 % three
    // times: 88200 + 3 * 4410.
    EXPECT_NE(r.out.find("Generated tones:         length 0:00:02.000 (88200 frames), 1 segments"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Cut 20%..30%:            length 0:00:01.800 (79380 frames)"), std::string::npos);
    EXPECT_NE(r.out.find("(101430 frames)"), std::string::npos);
    EXPECT_NE(r.out.find("Menu:                    Undo Amplify"), std::string::npos);
    EXPECT_NE(r.out.find("Menu:                    Redo Amplify"), std::string::npos);
    // 50 % of unity is 0x7FFFF8 (the division comes first), which the reader
    // applies as 255/512: 6.06 dB below the -6.02 dB tones.
    EXPECT_NE(r.out.find("outside the amplified range: -6.0 dB / -6.0 dB; inside: -12.1 dB / -12.1 dB"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("0.aud"), std::string::npos);
    EXPECT_NE(r.out.find("705600 bytes"), std::string::npos);  // 88200 frames * 2 channels * 4

    const std::string working = data + "/Orvelsoft/Sonitor";
    EXPECT_TRUE(IsFolder(working));
    EXPECT_EQ(CountEntries(working), 0) << "the private working folder must be removed at exit";
}

// Tones made at 48 kHz reach the 44.1 kHz document through the rate
// converter at the same level, and the length follows the converter's
// 37/34 step.
TEST(CliTest, DemoConvertsTheRateWithoutChangingTheLevel) {
    const std::string data = test::MakeTempFolder("data");
    const CliRun r = RunCli("demo --seconds 2 --rate 48000", data);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(88217 frames), 1 segments"), std::string::npos) << r.out;  // ceil(96000 * 34 / 37)
    EXPECT_NE(r.out.find("outside the amplified range: -6.0 dB / -6.0 dB; inside: -12.1 dB / -12.1 dB"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("Generating 2 s of tones at 48000 Hz: done"), std::string::npos) << r.err;
}

// info reads files the way the editor does: our own readers, an external
// decoder for FLAC, tags, the program's message for a damaged file, and a
// JSON form that a real JSON parser accepts.
TEST(CliTest, InfoReportsFormatsTagsAndFailures) {
    const std::string dir = test::MakeTempFolder("info");
    ASSERT_EQ(test::RunShell("sox -n -r 22050 -c 2 -b 16 '" + dir + "/a.wav' synth 1.5 sine 440 2>/dev/null"), 0);
    ASSERT_EQ(test::RunShell("lame --quiet -b 64 --tt 'A \"q\" & title' --ta Me '" + dir + "/a.wav' '" + dir +
                             "/b.mp3'"),
              0);
    ASSERT_EQ(test::RunShell("flac -s '" + dir + "/a.wav' -o '" + dir + "/c.flac'"), 0);
    ASSERT_TRUE(WriteFileAtomically(dir + "/d.wav", "RIFF junk"));

    const std::string data = test::MakeTempFolder("data");
    CliRun r = RunCli("info '" + dir + "/a.wav' '" + dir + "/c.flac'", data);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("format:   WAV\n  rate:     22050 Hz\n  channels: 2\n  length:   0:00:01.500 (33075 frames)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("format:   FLAC\n  rate:     22050 Hz\n  channels: 2\n  length:   0:00:01.500 (33075 frames)"),
              std::string::npos)
        << r.out;

    r = RunCli("info '" + dir + "/d.wav' '" + dir + "/a.wav'", data);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open the file \"" + dir + "/d.wav\" because it is corrupt."), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("a.wav"), std::string::npos) << "the other files are still reported";

    r = RunCli("info --json '" + dir + "/b.mp3' > '" + dir + "/out.json' && python3 -c 'import json,sys; "
               "d=json.load(open(sys.argv[1])); print(d[0][\"tags\"][\"TITLE\"], d[0][\"sampleRate\"])' '" +
                   dir + "/out.json'",
               data);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("A \"q\" & title 22050"), std::string::npos) << r.out;

    EXPECT_EQ(RunCli("info", data).status, 2);
    EXPECT_EQ(CountEntries(data + "/Orvelsoft/Sonitor"), 0);
}

// convert streams any readable format into any writable one: an MP3 with
// tags becomes a WAV (tags carried over) and, with --rate and --channels, a
// smaller WAV; a failed conversion leaves an existing target as it was.
TEST(CliTest, ConvertBetweenFormatsAndKeepsTargetsOnFailure) {
    const std::string dir = test::MakeTempFolder("convert");
    ASSERT_EQ(test::RunShell("sox -n -r 44100 -c 2 -b 16 '" + dir + "/a.wav' synth 1 sine 1000 vol 0.5 2>/dev/null"),
              0);
    ASSERT_EQ(test::RunShell("lame --quiet -b 128 --tt Tone --ta Me '" + dir + "/a.wav' '" + dir + "/in.mp3'"), 0);
    const std::string data = test::MakeTempFolder("data");

    CliRun r = RunCli("convert '" + dir + "/in.mp3' '" + dir + "/out.wav'", data);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli("convert --rate 22050 --channels 1 '" + dir + "/out.wav' '" + dir + "/small.aiff'", data);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCli("info '" + dir + "/out.wav' '" + dir + "/small.aiff'", data);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("out.wav\n  format:   WAV\n  rate:     44100 Hz\n  channels: 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TITLE:    Tone"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("small.aiff\n  format:   AIFF\n  rate:     22050 Hz\n  channels: 1"), std::string::npos)
        << r.out;

    ASSERT_TRUE(WriteFileAtomically(dir + "/bad.wav", "RIFF\x10\0\0\0WAVEjunk"));
    const std::string before = ReadWholeFile(dir + "/out.wav").value_or("");
    r = RunCli("convert '" + dir + "/bad.wav' '" + dir + "/out.wav'", data);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("because it is corrupt"), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(dir + "/out.wav").value_or(""), before);

    EXPECT_EQ(RunCli("convert '" + dir + "/in.mp3'", data).status, 2);
    EXPECT_EQ(RunCli("convert --channels 3 a b", data).status, 2);
    EXPECT_EQ(CountEntries(data + "/Orvelsoft/Sonitor"), 0);
}

// Ctrl-C in the middle of a long load cancels it: exit status 130, nothing
// left in the working folder.
TEST(CliTest, InterruptCancelsTheRunningTask) {
    const std::string data = test::MakeTempFolder("data");
    const std::string err = test::MakeTempFolder("err") + "/err.txt";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        signal(SIGINT, SIG_DFL);
        execl(SONITOR_CLI, SONITOR_CLI, "demo", "--seconds", "3600", "--rate", "48000", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Loading an hour takes many seconds; a second in, the load is under way.
    usleep(1000000);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(ReadWholeFile(err).value_or("").find("cancelled"), std::string::npos);
    EXPECT_EQ(CountEntries(data + "/Orvelsoft/Sonitor"), 0);
}

}  // namespace
}  // namespace sonitor
