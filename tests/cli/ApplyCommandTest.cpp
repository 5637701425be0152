// sonitor-cli apply end to end on WAV files made by sox; the results are read
// back through sox as raw 16-bit samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

// Each run gets its own settings folder, so stored values can be set and
// checked.
struct Apply {
    std::string dir = test::MakeTempFolder("apply");
    std::string config = test::MakeTempFolder("applyconfig");
    std::string in = dir + "/in.wav";

    explicit Apply(const std::string& synth) {
        EXPECT_EQ(test::RunShell("sox -R -n -r 44100 -c 1 -b 16 '" + in + "' synth 1 " + synth), 0);
    }

    CliRun operator()(const std::string& args) const {
        const std::string out = dir + "/stdout.txt";
        const std::string err = dir + "/stderr.txt";
        const int status = test::RunShell("SONITOR_CONFIG_HOME='" + config + "' '" SONITOR_CLI "' apply " +
                                          args + " >'" + out + "' 2>'" + err + "'");
        return {status, ReadWholeFile(out).value_or(""), ReadWholeFile(err).value_or("")};
    }

    SettingsStore Settings() const {
        return SettingsStore({config + "/settings.ini", config + "/machine.ini"});
    }
};

std::vector<int16_t> Samples(const std::string& wav) {
    const std::string raw = wav + ".raw";
    EXPECT_EQ(test::RunShell("sox '" + wav + "' -t raw -e signed -b 16 -L '" + raw + "'"), 0);
    const std::string bytes = ReadWholeFile(raw).value_or("");
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return s;
}

// The gains themselves are the amplify effect's (a gain field whose steps
// are not exact multiples); the plumbing is what is tested here.
double Slack(int16_t sample) {
    return 1 + std::abs(sample) / 256.0;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Keys in any case; a missing key takes the stored value; a preset and a
// selection in milliseconds, outside which the file is unchanged to the bit;
// nothing given on the command line is stored.
TEST(ApplyCommandTest, AmplifiesFilesAndSelections) {
    const Apply apply("sine 440 vol 0.25");
    const std::vector<int16_t> in = Samples(apply.in);
    ASSERT_EQ(in.size(), 44100u);

    CliRun r = apply("amplify AMPLIFYGAIN=200 '" + apply.in + "' '" + apply.dir + "/double.wav'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<int16_t> out = Samples(apply.dir + "/double.wav");
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(out[i], 2 * in[i], Slack(in[i])) << i;
    EXPECT_FALSE(apply.Settings().ReadUserValue("StoredValues", "AmplifyGain"));

    apply.Settings().WriteString("StoredValues", "AmplifyGain", "300");
    r = apply("amplify --preset 'half volume' --selection 250:750 '" + apply.in + "' '" + apply.dir +
              "/sel.wav'");
    ASSERT_EQ(r.status, 0) << r.err;
    out = Samples(apply.dir + "/sel.wav");
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const bool inside = i >= 11025 && i < 33075;
        if (inside) {
            ASSERT_NEAR(out[i], in[i] / 2.0, Slack(in[i])) << i;
        } else {
            ASSERT_EQ(out[i], in[i]) << i;
        }
    }
    EXPECT_EQ(apply.Settings().ReadString("StoredValues", "AmplifyGain"), "300");

    r = apply("amplify '" + apply.in + "' '" + apply.dir + "/stored.wav'");
    ASSERT_EQ(r.status, 0) << r.err;
    out = Samples(apply.dir + "/stored.wav");
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(out[i], 3 * in[i], Slack(in[i])) << i;
}

TEST(ApplyCommandTest, ListLimitsAndUsage) {
    const Apply apply("sine 440 vol 0.25");
    CliRun r = apply("--list");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "high-pass-filter (High-Pass Filter)\n  LowCutFreq=250 ")) << r.out;
    EXPECT_TRUE(Contains(r.out, "--preset \"General Audio Cleanup\": LowCutFreq=200\n"));
    EXPECT_TRUE(Contains(r.out, "equalizer (Equalizer)\n"));
    EXPECT_TRUE(Contains(r.out, "EchoTime=800"));

    const std::string out = apply.dir + "/out.wav";
    const std::string files = " '" + apply.in + "' '" + out + "'";
    r = apply("amplify AmplifyGain=401" + files);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "Amplify Gain must be less than 400%. Please try again.")) << r.err;
    r = apply("amplify --selection 2000:3000" + files);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(FileExists(out));

    for (const std::string& bad : {"frobnicate" + files, "amplify Gain=2" + files, "amplify " + apply.in,
                                   "amplify --selection 500:400" + files, "amplify --preset Loud" + files,
                                   "amplify --volume 3" + files}) {
        r = apply(bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_TRUE(Contains(r.err, "usage: sonitor-cli apply")) << bad;
    }
    EXPECT_FALSE(FileExists(out));
}

}  // namespace
}  // namespace sonitor
