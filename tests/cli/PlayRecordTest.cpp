// sonitor-cli play, record and devices on the null backend: what is played
// goes to a WAV file (SONITOR_NULL_OUT), what is recorded comes from one
// (SONITOR_NULL_IN), on a clock that runs many times faster than real time.
// The files are made and read back by sox.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

struct CliRun {
    int status;
    std::string err;
    std::string out;
};

struct Folder {
    std::string dir = test::MakeTempFolder("playrecord");

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    // env: extra "NAME=value" words; wrapper: a program that runs ours.
    CliRun Run(const std::string& env, const std::string& args, const std::string& wrapper = "") const {
        const std::string out = Path("stdout.txt");
        const std::string err = Path("stderr.txt");
        const int status =
            test::RunShell("cd '" + dir + "' && env SONITOR_NULL_SPEED=20 " + env + " " + wrapper +
                           " '" SONITOR_CLI "' " + args + " >'" + out + "' 2>'" + err + "'");
        return {status, ReadWholeFile(err).value_or(""), ReadWholeFile(out).value_or("")};
    }

    void Sox(const std::string& args) const {
        ASSERT_EQ(test::RunShell("cd '" + dir + "' && sox " + args), 0) << args;
    }

    std::vector<int16_t> Samples(const std::string& name) const {
        const std::string raw = Path(name + ".raw");
        EXPECT_EQ(test::RunShell("sox '" + Path(name) + "' -t raw -e signed -b 16 -L '" + raw + "'"), 0);
        const std::string bytes = ReadWholeFile(raw).value_or("");
        std::vector<int16_t> s(bytes.size() / 2);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                        static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
        return s;
    }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<int16_t> Slice(const std::vector<int16_t>& s, size_t from, size_t to) {
    return {s.begin() + static_cast<ptrdiff_t>(from), s.begin() + static_cast<ptrdiff_t>(to)};
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// A range plays exactly its samples and reports its end; the whole file
// plays whole; slow and fast change the length by 2 and 2/3.
TEST(PlayRecordTest, PlaysFilesAndRanges) {
    const Folder f;
    f.Sox("-R -n -r 44100 -c 2 -b 16 in.wav synth 1 sine 440 sine 660 vol 0.5");
    const std::vector<int16_t> in = f.Samples("in.wav");
    ASSERT_EQ(in.size(), 88200u);

    CliRun r = f.Run("SONITOR_NULL_OUT=range.wav", "play in.wav --from 250 --to 750");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(f.Samples("range.wav"), Slice(in, 2 * 11025, 2 * 33075));
    EXPECT_TRUE(Contains(r.err, "played to 0:00:00.75")) << r.err;

    r = f.Run("SONITOR_NULL_OUT=all.wav", "play in.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(f.Samples("all.wav"), in);

    r = f.Run("SONITOR_NULL_OUT=slow.wav", "play in.wav --to 500 --speed slow");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(static_cast<double>(f.Samples("slow.wav").size()), 2 * 44100.0, 2 * 500);
    r = f.Run("SONITOR_NULL_OUT=fast.wav", "play in.wav --speed fast");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(static_cast<double>(f.Samples("fast.wav").size()), 2 * 29400.0, 2 * 500);
}

// Loop play repeats the range until Ctrl-C, which stops cleanly (the device
// is closed, so its file is complete) with status 130.
TEST(PlayRecordTest, LoopsUntilInterrupted) {
    const Folder f;
    f.Sox("-R -n -r 8000 -c 1 -b 16 in.wav synth 1 sine 300 vol 0.5");
    const std::vector<int16_t> in = f.Samples("in.wav");
    const CliRun r = f.Run("SONITOR_NULL_OUT=loop.wav", "play in.wav --loop --from 100 --to 200",
                           "timeout --preserve-status -s INT 1");
    EXPECT_EQ(r.status, 130) << r.err;
    const std::vector<int16_t> out = f.Samples("loop.wav");
    ASSERT_GT(out.size(), 4 * 800u);
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], in[800 + i % 800]) << "sample " << i;
    }
}

// Recording from silence, a tone and silence again (1 s each): everything
// for as long as asked; with --autostart from half a buffer before the tone
// to 50 ms after its last buffer. The DC filter passes silence as zeros.
TEST(PlayRecordTest, RecordsTakes) {
    const Folder f;
    f.Sox("-D -n -r 44100 -c 1 -b 16 silence.wav trim 0 1");
    f.Sox("-R -n -r 44100 -c 1 -b 16 tone.wav synth 1 sine 440 vol 0.25");
    f.Sox("silence.wav tone.wav silence.wav input.wav");
    const std::vector<int16_t> tone = f.Samples("tone.wav");

    CliRun r = f.Run("SONITOR_NULL_IN=input.wav", "record all.wav --seconds 2");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<int16_t> take = f.Samples("all.wav");
    ASSERT_EQ(take.size(), 88200u);
    EXPECT_EQ(Slice(take, 0, 44100), std::vector<int16_t>(44100, 0));
    EXPECT_NEAR(Rms(take, 44100, 88200), Rms(tone, 0, 44100), 0.02 * Rms(tone, 0, 44100));

    r = f.Run("SONITOR_NULL_IN=input.wav", "record trimmed.wav --seconds 10 --autostart --threshold -24");
    ASSERT_EQ(r.status, 0) << r.err;
    take = f.Samples("trimmed.wav");
    ASSERT_EQ(take.size(), 2205u + 44100u + 2205u);
    EXPECT_EQ(Slice(take, 0, 2205), std::vector<int16_t>(2205, 0));
    EXPECT_NEAR(Rms(take, 2205, 2205 + 44100), Rms(tone, 0, 44100), 0.02 * Rms(tone, 0, 44100));
}

TEST(PlayRecordTest, DevicesFailuresAndUsage) {
    const Folder f;
    CliRun r = f.Run("", "devices");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "  1  Null Output\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "  1  Null Input\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "  0  Null Line In\n")) << r.out;

    r = f.Run("", "record never.wav --seconds 1 --device 7");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "input device 7 could not be opened")) << r.err;
    EXPECT_FALSE(ReadWholeFile(f.Path("never.wav")).has_value());

    f.Sox("-R -n -r 8000 -c 1 -b 16 in.wav synth 0.2 sine 300");
    r = f.Run("", "play in.wav --device 7");
    EXPECT_EQ(r.status, 1);
    for (const char* args : {"play", "play in.wav --speed warp", "play in.wav --from 500 --to 100", "record",
                             "record x.wav --threshold 300", "record x.xyz", "devices extra"}) {
        EXPECT_EQ(f.Run("", args).status, 2) << args;
    }
}

}  // namespace
}  // namespace sonitor
