// The edit dialogs' remembered values and the time text of Select Specified
// Time.
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "edit/EditSettings.h"
#include "edit/TimeText.h"
#include "foundation/SettingsStore.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

SettingsStore FreshStore() {
    const std::string folder = test::MakeTempFolder("editsettings");
    return SettingsStore(SettingsLocation{folder + "/user.ini", folder + "/machine.ini"});
}

TEST(EditSettings, KeysDefaultsAndLimits) {
    const SettingsStore store = FreshStore();
    const MixSettings mix = MixSettings::Load(store);
    EXPECT_EQ(std::tuple(mix.volume, mix.overflowMode, mix.fadeOutFrames, mix.pan),
              std::tuple(100, 0, 250, 50));
    EXPECT_EQ(
        std::tuple(SilenceSettings::Load(store).milliseconds, RepeatSettings::Load(store).times,
                   AutoTrimSettings::Load(store).thresholdDb, AutoSplitSettings::Load(store).thresholdDb,
                   AutoSplitSettings::Load(store).durationMs),
        std::tuple(0, 1, -20, -36, 0));

    // The fade length is stored only when fading was chosen; the pan never.
    MixSettings{80, MixSettings::kIncreaseSelection, 999, 10}.Store(store);
    EXPECT_FALSE(store.ReadUserValue("StoredValues", "FadeOutTime"));
    MixSettings{80, MixSettings::kFadeOutMix, 999, 10}.Store(store);
    SilenceSettings{1500}.Store(store);
    RepeatSettings{7}.Store(store);
    AutoTrimSettings{-40}.Store(store);
    AutoSplitSettings{-50, 300}.Store(store);
    NewFileSettings{true, 8000, 2}.Store(store);
    NewFileSettings{false, 22050, 1}.Store(store);
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"StoredValues", "PasteMixVolume"}, {"StoredValues", "LongerSelection"},
        {"StoredValues", "FadeOutTime"},    {"StoredValues", "SilenceTimes"},
        {"StoredValues", "RepeatNumTimes"}, {"Settings", "AutoTrimThreshold"},
        {"AutoSplit", "Threshold"},         {"AutoSplit", "Duration"},
        {"Settings", "DefaultSampleRate"},  {"Settings", "DefaultChannels"},
        {"Settings", "SelectedSampleRate"}, {"Settings", "SelectedChannels"}};
    std::vector<std::string> stored;
    for (const auto& [section, key] : keys)
        stored.push_back(store.ReadString(section, key));
    EXPECT_EQ(stored, (std::vector<std::string>{"80", "2", "999", "1500", "7", "-40", "-50", "300", "8000",
                                                "2", "22050", "1"}));
    EXPECT_EQ(MixSettings::Load(store).pan, 50);
    EXPECT_EQ(NewFileSettings::Load(store, true).sampleRate, 8000);
    EXPECT_TRUE(IsSetDefaultsTitle("SET defaults"));
    EXPECT_FALSE(IsSetDefaultsTitle("New File"));

    // Damaged values read back within their ranges.
    store.WriteInt("StoredValues", "LongerSelection", 3);
    store.WriteInt("StoredValues", "FadeOutTime", -5);
    store.WriteInt("Settings", "AutoTrimThreshold", -500);
    store.WriteInt("AutoSplit", "Threshold", 128);
    store.WriteInt("Settings", "SelectedChannels", 0);
    EXPECT_EQ(
        std::tuple(MixSettings::Load(store).overflowMode, MixSettings::Load(store).fadeOutFrames,
                   AutoTrimSettings::Load(store).thresholdDb, AutoSplitSettings::Load(store).thresholdDb,
                   NewFileSettings::Load(store, false).channels),
        std::tuple(0, 0, -127, 127, 1));
}

TEST(EditSettings, RefusalsShowTheDialogsTexts) {
    const auto refusal = [](const std::optional<InvalidValue>& v) {
        return v ? v->title + " | " + v->text : std::string("accepted");
    };
    EXPECT_EQ(refusal(MixSettings{100, 0, 250, 50}.Validate()), "accepted");
    EXPECT_EQ(refusal(MixSettings{101, 0, 250, 50}.Validate()),
              "Invalid value | Mix Volume must be less than 100%. Please try again.");
    EXPECT_NE(refusal(MixSettings{100, 0, 250, 101}.Validate()), "accepted");
    EXPECT_EQ(refusal(SilenceSettings{1}.Validate()), "accepted");
    EXPECT_EQ(refusal(SilenceSettings{0}.Validate()),
              "Invalid Silence Time | The specified silence time is not valid. Please try again.");
    EXPECT_EQ(refusal(RepeatSettings{1}.Validate()), "accepted");
    EXPECT_EQ(RepeatSettings{0}.Validate().value_or(InvalidValue{}).title, "Invalid value");
    EXPECT_EQ(refusal(AutoSplitSettings{-36, 0}.Validate()), "accepted");
    EXPECT_EQ(refusal(AutoSplitSettings{-36, -1}.Validate()),
              "Invalid Silence Time | The specified duration is not valid. Please try again.");
    const std::string badRate = "Sonitor | Sample rates must be between 6000 and 96000 samples per second.";
    EXPECT_EQ(refusal(NewFileSettings{false, 6000, 1}.Validate()), "accepted");
    EXPECT_EQ(refusal(NewFileSettings{false, 96000, 2}.Validate()), "accepted");
    EXPECT_EQ(refusal(NewFileSettings{false, 5999, 1}.Validate()), badRate);
    EXPECT_EQ(refusal(NewFileSettings{false, 96001, 1}.Validate()), badRate);
    EXPECT_NE(refusal(NewFileSettings{false, 44100, 3}.Validate()), "accepted");
}

TEST(TimeText, FormatsRoundedHundredths) {
    EXPECT_EQ(FormatTimeText(0, 44100), "0:00:00.00");
    EXPECT_EQ(FormatTimeText(44100 * 61 + 22050, 44100), "0:01:01.50");
    EXPECT_EQ(FormatTimeText(1000 * 3723 + 456, 1000), "1:02:03.46");  // 456 ms rounds up
    EXPECT_EQ(FormatTimeText(1000 * 59 + 995, 1000), "0:01:00.00");    // carries into the minutes
    EXPECT_EQ(FormatTimeText(-1500, 1000), "-0:00:01.50");
    EXPECT_EQ(FormatTimeText(std::numeric_limits<int32_t>::max(), 8000), "74:33:55.46");
    EXPECT_EQ(FormatTimeText(100, 0), "0:00:00.00");
}

TEST(TimeText, ParsesFieldsFractionAndSign) {
    EXPECT_EQ(ParseTimeText("0:01:01.50", 44100), 44100 * 61 + 22050);
    EXPECT_EQ(ParseTimeText("90", 1000), 90000);
    EXPECT_EQ(ParseTimeText("1:30", 1000), 90000);
    EXPECT_EQ(ParseTimeText("1:75", 1000), 135000);  // fields are not limited to 59
    EXPECT_EQ(ParseTimeText("2:00:00", 8000), 2 * 3600 * 8000);
    EXPECT_EQ(ParseTimeText(" 1.5 ", 44100), 66150);
    EXPECT_EQ(ParseTimeText("0.333333333333", 3), 0);  // fractions truncate to whole frames
    EXPECT_EQ(ParseTimeText("0.999", 1000), 999);
    EXPECT_EQ(ParseTimeText("-0:00:02.25", 1000), -2250);
    EXPECT_EQ(ParseTimeText("99999:00:00", 96000), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ParseTimeText("99999999999999999999999", 44100), std::numeric_limits<int32_t>::max());
    for (const char* bad :
         {"", "-", "abc", "1:", ":5", "1::2", "1.2.3", "1.5:20", "1.", ".5", "1:2x", "--1", "+1"})
        EXPECT_FALSE(ParseTimeText(bad, 44100)) << bad;

    // What the dialog shows reads back to within the hundredth it rounds to.
    for (int32_t frames : {0, 1, 12345, 441000, 7654321}) {
        const auto back = ParseTimeText(FormatTimeText(frames, 44100), 44100);
        ASSERT_TRUE(back);
        EXPECT_LE(std::abs(*back - frames), 441) << frames;
    }
}

}  // namespace
}  // namespace sonitor
