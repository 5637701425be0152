// sonitor-cli edit end to end on WAV files made by sox, checked against a
// flat model of the samples read straight from the files' data chunks.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

struct CliRun {
    int status;
    std::string err;
};

CliRun RunEdit(const std::string& args, const std::string& dataHome) {
    const std::string err = test::MakeTempFolder("edit") + "/err.txt";
    const int status = test::RunShell("XDG_DATA_HOME='" + dataHome + "' '" SONITOR_CLI "' edit " + args +
                                      " >/dev/null 2>'" + err + "'");
    return {status, ReadWholeFile(err).value_or("")};
}

bool FolderEmpty(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return true;
    int n = 0;
    while (const dirent* e = readdir(dir))
        n += e->d_name[0] != '.';
    closedir(dir);
    return n == 0;
}

// A flat model of a 16-bit PCM file: its frames as vectors of samples.
using Frame = std::vector<int16_t>;
using Model = std::vector<Frame>;

std::optional<Model> ReadPcm16(const std::string& path, int channels) {
    const std::optional<std::string> bytes = ReadWholeFile(path);
    if (!bytes) return std::nullopt;
    const size_t data = bytes->find("data");
    if (data == std::string::npos) return std::nullopt;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>((*bytes)[i]); };
    const size_t size =
        byte(data + 4) | byte(data + 5) << 8 | byte(data + 6) << 16 | size_t{byte(data + 7)} << 24;
    Model model(size / 2 / channels, Frame(channels));
    for (size_t i = 0; i < model.size() * channels; ++i) {
        const size_t at = data + 8 + 2 * i;
        model[i / channels][i % channels] = static_cast<int16_t>(byte(at) | byte(at + 1) << 8);
    }
    return model;
}

Model Range(const Model& m, size_t start, size_t end) {
    return Model(m.begin() + static_cast<long>(start), m.begin() + static_cast<long>(end));
}
Model Join(std::initializer_list<Model> parts) {
    Model out;
    for (const Model& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Files {
    std::string dir = test::MakeTempFolder("editfiles");
    std::string data = test::MakeTempFolder("data");
    std::string in = dir + "/in.wav";
    std::string out = dir + "/out.wav";
    Model source;

    // 3 s at 8000 Hz: noise left and a tone right, so that every frame is
    // told apart and a swapped channel shows.
    Files() {
        EXPECT_EQ(
            test::RunShell("sox -n -r 8000 -c 2 -b 16 '" + in + "' synth 3 whitenoise sine 500 vol 0.5"), 0);
        source = ReadPcm16(in, 2).value_or(Model{});
        EXPECT_EQ(source.size(), 24000u);
    }
    CliRun Edit(const std::string& commands) const {
        return RunEdit("'" + in + "' '" + out + "' " + commands, data);
    }
    Model Out(const std::string& path) const { return ReadPcm16(path, 2).value_or(Model{}); }
};

TEST(EditCommand, EditsMatchTheFlatModel) {
    Files f;
    // Cut [1 s, 2 s) and paste it at the start.
    CliRun r = f.Edit("select 1000:2000 cut cursor 0 paste");
    ASSERT_EQ(r.status, 0) << r.err;
    const Model& s = f.source;
    const Model afterCut = Join({Range(s, 0, 8000), Range(s, 16000, 24000)});
    EXPECT_EQ(f.Out(f.out), Join({Range(s, 8000, 16000), afterCut}));

    // Undo twice goes back before the cut; redo brings the cut back.
    r = f.Edit("select 1000:2000 cut cursor 0 paste undo undo redo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(f.Out(f.out), afterCut);

    // Delete the first half second, insert a quarter second of silence at
    // the start, reverse [250 ms, 750 ms), add two copies of [0, 100 ms).
    r = f.Edit("select 0:500 delete insert-silence begin 250 select 250:750 reverse select 0:100 repeat 2");
    ASSERT_EQ(r.status, 0) << r.err;
    Model m = Join({Model(2000, Frame{0, 0}), Range(s, 4000, 24000)});
    std::reverse(m.begin() + 2000, m.begin() + 6000);
    m = Join({Range(m, 0, 800), Range(m, 0, 800), m});
    EXPECT_EQ(f.Out(f.out), m);
    EXPECT_TRUE(FolderEmpty(f.data + "/Orvelsoft/Sonitor"));
}

TEST(EditCommand, NewDocumentsAreSavedBesideOut) {
    Files f;
    CliRun r = f.Edit("select 0:500 copy-to-new cursor 2000 split");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(f.Out(f.out), Range(f.source, 0, 16000));
    EXPECT_EQ(f.Out(f.dir + "/out (1).wav"), Range(f.source, 0, 4000));
    EXPECT_EQ(f.Out(f.dir + "/out (2).wav"), Range(f.source, 16000, 24000));

    // Three bursts of tone: the first goes to OUT, the others beside it,
    // each part holding one whole burst of 2400 frames.
    const std::string bursts = f.dir + "/bursts.wav";
    ASSERT_EQ(
        test::RunShell("sox -n -r 8000 -c 1 -b 16 '" + bursts + "' synth 0.3 sine 440 pad 0.5 0.5 repeat 2"),
        0);
    const std::string out = f.dir + "/part.wav";
    r = RunEdit("'" + bursts + "' '" + out + "' auto-split -36 100", f.data);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"/part.wav", "/part (1).wav", "/part (2).wav"}) {
        const Model part = ReadPcm16(f.dir + name, 1).value_or(Model{});
        const auto loud = [](const Frame& x) { return x[0] > 2000 || x[0] < -2000; };
        const auto first = std::find_if(part.begin(), part.end(), loud);
        const auto last = std::find_if(part.rbegin(), part.rend(), loud).base();
        ASSERT_NE(first, part.end()) << name;
        EXPECT_NEAR(last - first, 2400, 10) << name;
        EXPECT_LT(part.size(), 2400u + 8000u) << name << " holds one burst only";
    }
    EXPECT_FALSE(FileExists(f.dir + "/part (3).wav"));

    // One burst: nothing to split, said so, and the file is saved as it is.
    r = RunEdit("'" + bursts + "' '" + out + "' select 0:1000 trim auto-split -36 100", f.data);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Auto Split Complete: Sonitor cannot find any region to split."), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadPcm16(out, 1).value_or(Model{}).size(), 8000u);
}

TEST(EditCommand, BadUsageAndFailuresWriteNothing) {
    Files f;
    ASSERT_TRUE(WriteFileAtomically(f.out, "previous"));
    struct Bad {
        const char* commands;
        const char* message;
    };
    for (const Bad& bad :
         {Bad{"frobnicate", "unknown command 'frobnicate'"}, Bad{"select 5", "select: takes START:END"},
          Bad{"insert-silence end 0", "The specified silence time is not valid."},
          Bad{"insert-silence middle 10", "takes begin, cursor or end"},
          Bad{"paste-mix 101", "Mix Volume must be less than 100%."},
          Bad{"paste-mix 50 sideways", "'sideways' is not insert, extend, fade"},
          Bad{"auto-split -36 -5", "The specified duration is not valid."},
          Bad{"auto-trim 200", "from -127 to 127"}, Bad{"repeat", "takes a number of copies"}}) {
        const CliRun r = f.Edit(bad.commands);
        EXPECT_EQ(r.status, 2) << bad.commands;
        EXPECT_NE(r.err.find(bad.message), std::string::npos) << bad.commands << ": " << r.err;
    }
    EXPECT_EQ(RunEdit("'" + f.in + "'", f.data).status, 2);
    EXPECT_EQ(RunEdit("'" + f.in + "' '" + f.dir + "/out.xyz' cut", f.data).status, 2);

    // A command that fails stops everything.
    CliRun r = f.Edit("cut insert-file end '" + f.dir + "/missing.wav'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'insert-file end " + f.dir + "/missing.wav' failed; nothing was written"),
              std::string::npos)
        << r.err;

    // A damaged input says why.
    ASSERT_TRUE(WriteFileAtomically(f.dir + "/bad.wav", std::string("RIFF\x10\0\0\0WAVEjunk", 16)));
    r = RunEdit("'" + f.dir + "/bad.wav' '" + f.out + "' select-all", f.data);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("because it is corrupt"), std::string::npos) << r.err;
    EXPECT_EQ(ReadWholeFile(f.out).value_or(""), "previous");
    EXPECT_FALSE(FileExists(f.dir + "/out (1).wav"));
    EXPECT_TRUE(FolderEmpty(f.data + "/Orvelsoft/Sonitor"));
}

}  // namespace
}  // namespace sonitor
