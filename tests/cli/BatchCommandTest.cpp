// sonitor-cli batch end to end on files made by sox: scripts written from the
// command line, every exit status, one file at a time against several at
// once, failures in the middle of a run, Ctrl-C, and sources left alone.
#include <gtest/gtest.h>

#include <dirent.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/Text.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

struct CliRun {
    int status;
    std::string err;
};

struct Batch {
    std::string dir = test::MakeTempFolder("batch");
    std::string config = test::MakeTempFolder("batchconfig");

    // A WAV file from a sox synth expression.
    std::string Make(const std::string& name, const std::string& synth, int channels = 1) const {
        const std::string path = dir + "/" + name;
        EXPECT_EQ(test::RunShell("sox -R -n -r 44100 -c " + std::to_string(channels) + " -b 16 '" + path +
                                 "' synth " + synth),
                  0);
        return path;
    }

    CliRun operator()(const std::string& args, const std::string& wrapper = "") const {
        const std::string err = config + "/stderr.txt";
        const int status =
            test::RunShell("cd '" + dir + "' && SONITOR_CONFIG_HOME='" + config + "' " + wrapper +
                           " '" SONITOR_CLI "' " + args + " 2>'" + err + "' >/dev/null");
        return {status, ReadWholeFile(err).value_or("")};
    }

    std::string Bytes(const std::string& name) const {
        return ReadWholeFile(dir + "/" + name).value_or("<none>");
    }
};

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Bytes by hand: version 0, then id, length and block for each command.
std::string Entry(uint32_t id, const std::string& block) {
    return test::Le32(id) + test::Le32(static_cast<uint32_t>(block.size())) + block;
}

// The bytes of every value layout, values that the dialogs refuse, and the
// committed examples, which must be what --write-script writes today.
TEST(BatchCommandTest, WritesScriptsByteForByte) {
    const Batch batch;
    CliRun r = batch(
        "batch --write-script all.snb auto-trim insert-silence-start:250 insert-silence-end:1000 "
        "amplify:150 normalize:95 high-pass-filter:300 echo:400,-40 reverb:500,75 "
        "automatic-gain-control noise-reduction-auto:20 noise-gate:-30 speed-and-pitch:120 "
        "speed:80 pitch:150 compressor:-10,1,4 convert-sample-rate:22050 convert-channels:2 "
        "stereo-pan:30 reduce-vocals EQUALIZER envelope");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected =
        std::string(1, '\0') + Entry(0, "") + Entry(1, test::Le32(250)) + Entry(2, test::Le32(1000)) +
        Entry(3, test::Le16(150)) + Entry(4, test::Le16(95)) + Entry(5, test::Le32(300)) +
        Entry(7, test::Le32(400) + test::Le16(static_cast<uint16_t>(-40))) +
        Entry(8, test::Le32(500) + test::Le16(75)) + Entry(10, "") + Entry(11, "\x14") + Entry(12, "\xE2") +
        Entry(13, test::Le16(120)) + Entry(14, test::Le16(80)) + Entry(15, test::Le16(150)) +
        Entry(16, std::string("\xF6\x01\x04", 3)) + Entry(17, test::Le32(22050)) + Entry(18, "\x02") +
        Entry(19, test::Le32(30)) + Entry(20, "") + Entry(6, "") + Entry(9, "");
    EXPECT_EQ(batch.Bytes("all.snb"), expected);

    // A settings record passes through whole.
    std::string record(129, '\0');
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/eq.dat", record));
    r = batch("batch --write-script eq.snb equalizer:@eq.dat");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(batch.Bytes("eq.snb"), std::string(1, '\0') + Entry(6, record));

    for (const char* refused : {"normalize:101", "speed:0", "convert-channels:0", "convert-sample-rate:0",
                                "compressor:-10,7,4", "echo:400", "amplify:70000", "insert-silence-end:0",
                                "reduce-vocals:1", "equalizer:@all.snb", "tremolo"}) {
        r = batch(std::string("batch --write-script bad.snb ") + refused);
        EXPECT_EQ(r.status, 2) << refused;
        EXPECT_FALSE(FileExists(batch.dir + "/bad.snb")) << refused;
    }
    EXPECT_TRUE(Contains(batch("batch --write-script bad.snb normalize:101").err, "Invalid value"));

    r = batch("batch --write-script spoken.snb noise-gate:-30 normalize:95 compressor:-10,1,4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(batch.Bytes("spoken.snb"), ReadWholeFile(SONITOR_SOURCE_DIR "/examples/spoken-word.snb"));
    r = batch("batch --write-script plain.snb");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(batch.Bytes("plain.snb"), std::string(1, '\0'));
    EXPECT_EQ(batch.Bytes("plain.snb"), ReadWholeFile(SONITOR_SOURCE_DIR "/examples/plain-conversion.snb"));
    EXPECT_EQ(batch("batch --show-script '" SONITOR_SOURCE_DIR "/examples/spoken-word.snb'").status, 0);
}

// Everything that stops a run before the first file exits with 2 and writes
// nothing: usage, damaged and wrong-version scripts, values out of range,
// unknown formats, missing sources, collisions and existing outputs.
TEST(BatchCommandTest, RefusesBeforeAnyFile) {
    const Batch batch;
    batch.Make("a.wav", "1 sine 440 vol 0.3");
    batch.Make("b.wav", "1 sine 660 vol 0.3");
    ASSERT_EQ(test::RunShell("cp '" + batch.dir + "/b.wav' '" + batch.dir + "/a.au'"), 0);
    const std::string a = batch.Bytes("a.wav");

    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/ok.snb", std::string(1, '\0') + Entry(3, test::Le16(50))));
    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/v1.snb", std::string(1, '\1')));
    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/cut.snb",
                                    std::string(1, '\0') + test::Le32(3) + test::Le32(2) + "\x96"));
    ASSERT_TRUE(
        WriteFileAtomically(batch.dir + "/speed0.snb", std::string(1, '\0') + Entry(14, test::Le16(0))));
    ASSERT_TRUE(
        WriteFileAtomically(batch.dir + "/rate0.snb", std::string(1, '\0') + Entry(17, test::Le32(0))));
    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/id99.snb", std::string(1, '\0') + Entry(99, "")));
    const std::set<std::string> scripts = Listing(batch.dir);

    struct Case {
        std::string args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"--same-format --same-folder a.wav", "a script is needed"},
        {"-s ok.snb --same-folder a.wav", "--format"},
        {"-s ok.snb --format mp3 --same-folder", "no files"},
        {"-s ok.snb --format mp3 --same-folder --jobs 0 a.wav", "--jobs"},
        {"-s ok.snb --same-format --format mp3 --same-folder a.wav", "exclude"},
        {"-s missing.snb --format au --same-folder b.wav", "cannot open"},
        {"-s v1.snb --format au --same-folder b.wav", "same version"},
        {"-s cut.snb --format au --same-folder b.wav", "damaged"},
        {"-s speed0.snb --format au --same-folder b.wav", "Speed"},
        {"-s rate0.snb --format au --same-folder b.wav", "Convert Sample Rate"},
        {"-s id99.snb --format au --same-folder b.wav", "unknown id 99"},
        {"-s ok.snb --format xyz --same-folder b.wav", "unknown output format"},
        {"-s ok.snb --format au --same-folder b.wav nothere.wav", "nothere.wav"},
        // a.wav and a.au both to a.mp3; one source twice.
        {"-s ok.snb --format mp3 --same-folder a.wav b.wav a.au", "same output"},
        {"-s ok.snb --format mp3 -o out b.wav ./b.wav", "same output"},
        // a.wav to a.au, which exists; b.wav onto itself.
        {"-s ok.snb --format au --same-folder b.wav a.wav", "exists"},
        {"-s ok.snb --same-format --same-folder b.wav", "it is the source"},
    };
    for (const Case& c : cases) {
        const CliRun r = batch("batch " + c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.err;
        EXPECT_TRUE(Contains(ToLowerAscii(r.err), ToLowerAscii(c.says))) << c.args << "\n" << r.err;
        EXPECT_EQ(Listing(batch.dir), scripts) << c.args;
    }
    EXPECT_TRUE(batch.Bytes("a.wav") == a);
    EXPECT_FALSE(IsFolder(batch.dir + "/out"));
}

// The run against a peer, `sonitor-cli apply` with the same values, and
// several files at once against one at a time (the same bytes, for WAV and
// for MP3 with its encoder).
TEST(BatchCommandTest, MatchesApplyAndParallelRuns) {
    const Batch batch;
    const std::vector<std::string> names = {"m", "s", "t", "u"};
    batch.Make("m.wav", "2 sine 300 vol 0.2");
    batch.Make("s.wav", "2 pinknoise vol 0.3", 2);
    batch.Make("t.wav", "1.5 square 200 vol 0.1");
    batch.Make("u.wav", "3 sine 880 vol 0.5", 2);
    std::vector<std::string> sources;
    for (const std::string& n : names)
        sources.push_back(batch.Bytes(n + ".wav"));
    CliRun r = batch("batch --write-script fx.snb normalize:95 echo:400,40 amplify:80");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string files = " m.wav s.wav t.wav u.wav";

    for (const char* format : {"wav", "mp3"}) {
        const std::string ext = std::string(".") + format;
        r = batch(std::string("batch -s fx.snb --format ") + format + " -o one --jobs 1" + files);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(Contains(r.err, "[2/4] s.wav -> one/s" + ext)) << r.err;
        r = batch(std::string("batch -s fx.snb --format ") + format + " -o two --jobs 2" + files);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& n : names) {
            EXPECT_TRUE(batch.Bytes("one/" + n + ext) == batch.Bytes("two/" + n + ext)) << n << ext;
            EXPECT_NE(batch.Bytes("one/" + n + ext), "<none>");
        }
    }
    // Each command's block reaches the effect as the values apply is given.
    // (A chain is not compared: apply rounds to the file's samples between
    // steps, a batch does not.)
    const std::vector<std::pair<std::string, std::string>> peers = {
        {"normalize:95", "normalize NormalizePeakLevel=95"},
        {"echo:400,-40", "echo EchoTime=400 EchoGain=-40"},
        {"amplify:80", "amplify AmplifyGain=80"},
        {"high-pass-filter:300", "high-pass-filter LowCutFreq=300"},
        {"compressor:-10,1,4", "compressor CompressorThreshold=-10 CompressorRatio=1 CompressorLimit=4"}};
    for (size_t p = 0; p < peers.size(); ++p) {
        const std::string out = "peer" + std::to_string(p);
        ASSERT_EQ(batch("batch --write-script one.snb " + peers[p].first).status, 0) << peers[p].first;
        r = batch("batch -s one.snb --format wav -o " + out + " --jobs 2" + files);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& n : names) {
            r = batch("apply " + peers[p].second + " " + n + ".wav " + n + "-applied.wav");
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(batch.Bytes(out + "/" + n + ".wav") == batch.Bytes(n + "-applied.wav"))
                << peers[p].first << " " << n;
        }
    }
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_TRUE(batch.Bytes(names[i] + ".wav") == sources[i]) << names[i];
}

// A file that cannot be read stops the run there (earlier outputs stay) or,
// with --keep-going, only itself; the status is 1 either way. In place with
// --overwrite the source is replaced and nothing else appears beside it.
TEST(BatchCommandTest, FailureInTheMiddleAndInPlace) {
    const Batch batch;
    batch.Make("a.wav", "1 sine 440 vol 0.4");
    batch.Make("c.wav", "1 sine 550 vol 0.4", 2);
    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/bad.wav", "RIFF this is not a sound file at all"));
    const std::string a = batch.Bytes("a.wav");
    const std::string c = batch.Bytes("c.wav");
    ASSERT_EQ(batch("batch --write-script half.snb amplify:50").status, 0);
    const std::string files = " a.wav bad.wav c.wav";

    struct Case {
        std::string options;
        std::set<std::string> outputs;
    };
    const std::vector<Case> cases = {
        {"--jobs 1", {"a.au"}},
        {"--jobs 2", {"a.au"}},
        {"--jobs 1 --keep-going", {"a.au", "c.au"}},
        {"--jobs 2 --keep-going", {"a.au", "c.au"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string out = "out" + std::to_string(i);
        const CliRun r = batch("batch -s half.snb --format au -o " + out + " " + cases[i].options + files);
        EXPECT_EQ(r.status, 1) << cases[i].options << "\n" << r.err;
        EXPECT_TRUE(Contains(r.err, "[2/3] bad.wav: failed")) << r.err;
        std::set<std::string> listed = Listing(batch.dir + "/" + out);
        // With two jobs a later file may finish before the failure is seen;
        // its output is then complete and stays.
        if (i == 1 && listed.count("c.au") == 1) {
            EXPECT_EQ(batch.Bytes(out + "/c.au").substr(0, 4), ".snd");
            listed.erase("c.au");
        }
        EXPECT_EQ(listed, cases[i].outputs) << cases[i].options;
        EXPECT_TRUE(batch.Bytes(out + "/a.au") == batch.Bytes("out0/a.au"));
        if (i == 3) {
            EXPECT_TRUE(batch.Bytes(out + "/c.au") == batch.Bytes("out2/c.au"));
        }
    }
    EXPECT_TRUE(batch.Bytes("a.wav") == a);
    EXPECT_TRUE(batch.Bytes("c.wav") == c);

    const std::set<std::string> before = Listing(batch.dir);
    CliRun r = batch("batch -s half.snb --same-format --same-folder --overwrite a.wav c.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Listing(batch.dir), before);
    ASSERT_TRUE(WriteFileAtomically(batch.dir + "/c0.wav", c));
    r = batch("apply amplify AmplifyGain=50 c0.wav c-half.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(batch.Bytes("c.wav") == batch.Bytes("c-half.wav"));
}

// Ctrl-C during a run, one file at a time or several: status 130, and every
// output that exists is whole (the bytes of an uninterrupted run).
TEST(BatchCommandTest, InterruptLeavesNoPartialOutputs) {
    const Batch batch;
    std::string files;
    for (int i = 1; i <= 3; ++i) {
        batch.Make("l" + std::to_string(i) + ".wav", "20 pinknoise vol 0.3", 2);
        files += " l" + std::to_string(i) + ".wav";
    }
    ASSERT_EQ(batch("batch --write-script slow.snb reverb:500,50 normalize:90").status, 0);
    CliRun r = batch("batch -s slow.snb --format mp3 -o ref --jobs 2" + files);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* jobs : {"1", "2"}) {
        const std::string out = std::string("int") + jobs;
        r = batch("batch -s slow.snb --format mp3 -o " + out + " --jobs " + jobs + files,
                  "timeout --preserve-status -s INT 0.6");
        EXPECT_EQ(r.status, 130) << jobs << "\n" << r.err;
        const std::set<std::string> written = Listing(batch.dir + "/" + out);
        EXPECT_LT(written.size(), 3u) << jobs;
        for (const std::string& name : written)
            EXPECT_TRUE(batch.Bytes(out + "/" + name) == batch.Bytes("ref/" + name)) << jobs << " " << name;
    }
}

}  // namespace
}  // namespace sonitor
