#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/BatchScript.h"
#include "effects/PointRecord.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using test::Le16;
using test::Le32;

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

std::string Text(const std::vector<uint8_t>& b) {
    return {b.begin(), b.end()};
}

// The flat curve as a whole record: two points, then zeros to 129 bytes.
std::string FlatRecord() {
    std::string r = std::string("\x02\x00\x80\xff\x80", 5);
    r.resize(129, '\0');
    return r;
}

struct ScriptTest : ::testing::Test {
    std::string folder = test::MakeTempFolder("snb");
    SettingsStore settings{{folder + "/user.ini", folder + "/machine.ini"}};
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        EXPECT_TRUE(WriteFileAtomically(path, bytes));
        return path;
    }
};

// Every command as a newly added one carries it, written by hand from the
// block layouts and the documented defaults.
TEST_F(ScriptTest, DefaultBlocksOfEveryCommandInFileBytes) {
    ASSERT_TRUE(SaveCurveFile(EqualizerFilePath(), FlatCurve()));
    ASSERT_TRUE(SaveCurveFile(EnvelopeFilePath(), FlatCurve()));
    const std::vector<std::string> expected = {
        "",                    // Auto Trim
        Le32(0),               // silence at the start
        Le32(0),               // silence at the end
        Le16(100),             // amplify
        Le16(100),             // normalize
        Le32(250),             // high-pass
        FlatRecord(),          // equalizer
        Le32(800) + Le16(50),  // echo
        Le32(50) + Le16(100),  // reverb
        FlatRecord(),          // envelope
        "",                    // AGC
        "\x1e",                // spectral subtraction 30
        "\xe2",                // gate -30
        Le16(100),
        Le16(100),
        Le16(100),                       // speed and pitch, speed, pitch
        std::string("\xec\x00\x03", 3),  // compressor -20, 1:1, 3
        Le32(44100),                     // sample rate
        "\x01",                          // channels
        Le32(50),                        // pan
        "",                              // reduce vocals
    };
    ASSERT_EQ(expected.size(), kBatchCommandCount);
    std::vector<BatchCommand> list;
    std::string file(1, '\0');
    for (uint32_t id = 0; id < kBatchCommandCount; ++id) {
        list.push_back({id, DefaultBatchBlock(id, settings)});
        EXPECT_EQ(Text(list.back().block), expected[id]) << BatchCommandName(id);
        file += Le32(id) + Le32(static_cast<uint32_t>(expected[id].size())) + expected[id];
    }
    EXPECT_EQ(Text(EncodeBatchScript(list)), file);

    const std::string path = folder + "/all.snb";
    ASSERT_TRUE(WriteBatchScript(path, list));
    EXPECT_EQ(test::FileText(path), file);
    const ScriptReadResult read = ReadBatchScript(path);
    EXPECT_EQ(read.error, ScriptReadError::None);
    EXPECT_EQ(read.commands, list);

    // Stored values are what a new command takes.
    settings.WriteInt("StoredValues", "AmplifyGain", 150);
    settings.WriteInt("StoredValues", "NoiseGateLevel", -100);
    EXPECT_EQ(Text(DefaultBatchBlock(3, settings)), std::string("\x96\x00", 2));
    EXPECT_EQ(Text(DefaultBatchBlock(12, settings)), "\x9c");
    EXPECT_TRUE(DefaultBatchBlock(21, settings).empty());
}

TEST_F(ScriptTest, DescriptionsReadTheBlockOrTheStoredValues) {
    settings.WriteInt("StoredValues", "AmplifyGain", 75);
    const auto describe = [&](uint32_t id, const std::string& block) {
        return BatchCommandDescription({id, Bytes(block)}, settings);
    };
    EXPECT_EQ(describe(3, std::string("\x96\x00", 2)), "Amplify Gain (%) = 150");
    // Too short for the value: the stored one; longer: read from the start.
    EXPECT_EQ(describe(3, ""), "Amplify Gain (%) = 75");
    EXPECT_EQ(describe(3, "\x96"), "Amplify Gain (%) = 75");
    EXPECT_EQ(describe(3, std::string("\x96\x00\x01\x02", 4)), "Amplify Gain (%) = 150");
    // Echo's two values are taken together: five bytes are not enough.
    EXPECT_EQ(describe(7, Le32(120) + Le16(static_cast<uint16_t>(-40))),
              "Echo Time (ms) = 120, Echo Gain (%) = -40");
    EXPECT_EQ(describe(7, Le32(120) + "\x28"), "Echo Time (ms) = 800, Echo Gain (%) = 50");
    // The reverb level shown is the one a run applies.
    EXPECT_EQ(describe(8, ""), "Reverb Time (ms) = 50, Reverb Level (%) = 100");
    EXPECT_EQ(describe(12, "\xd8"), "Noise Gate Level (dB) = -40");
    EXPECT_EQ(describe(11, ""), "Threshold 30");
    EXPECT_EQ(describe(16, std::string("\xf6\x06\x04", 3)),
              "Threshold (db) = -10, Ratio = Limit, Limit (db) = 4");
    EXPECT_EQ(describe(16, std::string("\xf6\x07\x04", 3)), "");
    EXPECT_EQ(describe(18, "\x02"), "Convert Channel = 2");
    EXPECT_EQ(describe(19, Le32(30)), "Stereo Pan = 30%");
    EXPECT_EQ(describe(6, ""), "Click on Settings to view or change.");
    EXPECT_EQ(describe(0, ""), "");
    EXPECT_EQ(describe(99, ""), "");
    EXPECT_EQ(BatchCommandName(18), "Convert Channel (Mono <-> Stereo)");
    EXPECT_EQ(BatchCommandName(21), "");
}

TEST_F(ScriptTest, DamagedAndForeignScripts) {
    EXPECT_EQ(ReadBatchScript(folder + "/missing.snb").error, ScriptReadError::CannotOpen);
    EXPECT_EQ(ReadBatchScript(Write("v1.snb", std::string("\x01", 1))).error, ScriptReadError::WrongVersion);
    EXPECT_EQ(ReadBatchScript(Write("empty.snb", "")).error, ScriptReadError::WrongVersion);

    const ScriptReadResult onlyVersion = ReadBatchScript(Write("v0.snb", std::string(1, '\0')));
    EXPECT_EQ(onlyVersion.error, ScriptReadError::None);
    EXPECT_TRUE(onlyVersion.commands.empty());

    // A header cut short ends the list; unknown ids are kept as they are.
    const std::string amplify = Le32(3) + Le32(2) + Le16(150);
    const ScriptReadResult tail =
        ReadBatchScript(Write("tail.snb", std::string(1, '\0') + amplify + Le32(40) + Le32(0) + Le32(7)));
    EXPECT_EQ(tail.error, ScriptReadError::None);
    EXPECT_EQ(tail.commands, (std::vector<BatchCommand>{{3, {0x96, 0}}, {40, {}}}));

    // A block longer than what is left: damaged, nothing offered.
    for (uint32_t length : {5u, 0xFFFFFFFFu}) {
        const ScriptReadResult cut = ReadBatchScript(
            Write("cut.snb", std::string(1, '\0') + amplify + Le32(7) + Le32(length) + Le32(800)));
        EXPECT_EQ(cut.error, ScriptReadError::Damaged) << length;
        EXPECT_TRUE(cut.commands.empty());
    }

    EXPECT_FALSE(WriteBatchScript(folder + "/no/such/folder/x.snb", {}));
}

}  // namespace
}  // namespace sonitor
