// The player on the null device with a clock the test moves: what reaches
// the device, what the listener hears and when, scrub, seek and stop.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_io/NullAudio.h"
#include "audio_io/SoundPlayer.h"
#include "support/MemorySources.h"

namespace sonitor {
namespace {

using test::VectorSource;
using Samples = std::vector<int32_t>;

struct Log final : PlayerListener {
    std::string events;  // P started, S stopped, C scrub, R position
    std::vector<int32_t> positions;
    std::vector<LevelSet> levels;
    void PlayStarted() override { events += 'P'; }
    void PlayStopped() override { events += 'S'; }
    void ScrubStarted() override { events += 'C'; }
    void PositionReport(int32_t ms) override {
        events += 'R';
        positions.push_back(ms);
    }
    void LevelsChanged(const LevelSet& set) override { levels.push_back(set); }
};

template <class Done>
bool PumpUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WaitAndPumpNotifications(2);
    }
    return true;
}

std::vector<int16_t> Model(const Samples& s, size_t from = 0, size_t to = SIZE_MAX) {
    std::vector<int16_t> out;
    for (size_t i = from; i < std::min(to, s.size()); ++i)
        out.push_back(static_cast<int16_t>(std::clamp<int64_t>((int64_t{s[i]} + 8) >> 4, -32768, 32767)));
    return out;
}

// (i + 1) * 16 at frame i: every played value names its frame.
Samples Ramp(int32_t frames) {
    Samples s(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        s[static_cast<size_t>(i)] = (i + 1) * 16;
    return s;
}

class SoundPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        NullAudio().ResetForTesting();
        NullAudio().SetManualClock(true);
        player.SetListener(&log);
    }
    void TearDown() override { NullAudio().ResetForTesting(); }
    bool Queued(int64_t buffers) {
        return PumpUntil([&] { return NullAudio().BuffersWritten() >= buffers; });
    }

    Log log;
    SoundPlayer player{NullAudio()};
};

TEST(PlayerFunctions, BufferSizesLevelsAndVolumeMapping) {
    EXPECT_EQ(PlayerBufferFrames(8000), 800);
    EXPECT_EQ(PlayerBufferFrames(100), 20);
    EXPECT_EQ(PlayerBufferFrames(96000), 8192);

    // Levels against an exact 128-bit mean, over blocks whose squares
    // overflow any 64-bit sum.
    std::mt19937 rng(5);
    for (int32_t frames : {1, 3, 4410, 8192}) {
        Samples s(static_cast<size_t>(frames) * 2);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = i % 7 == 0 ? INT32_MIN : i % 5 == 0 ? INT32_MAX : static_cast<int32_t>(rng());
        for (int c = 0; c < 2; ++c) {
            __extension__ unsigned __int128 sum = 0;
            for (int32_t f = 0; f < frames; ++f) {
                const int64_t q = s[static_cast<size_t>(f) * 2 + c] >> 5;
                sum += static_cast<uint64_t>(q * q);
            }
            const double mean =
                static_cast<double>(static_cast<uint64_t>(sum / static_cast<unsigned>(frames)));
            const double level = 10 * std::log10(mean / 8388626.0);
            EXPECT_EQ(ChannelLevel(s.data(), frames, 2, c),
                      static_cast<int>(level + (level >= 0 ? 0.5 : -0.5)));
        }
    }
    const Samples square{524272, -524272, 524272, -524272};
    const Samples tiny{32, 32, 63, -32};
    EXPECT_EQ(ChannelLevel(square.data(), 4, 1, 0), 15);
    EXPECT_EQ(ChannelLevel(tiny.data(), 4, 1, 0), -69);  // a mean square of 1
    EXPECT_EQ(ChannelLevel(Samples(8, 31).data(), 8, 1, 0), -127);
    for (int db = -35; db <= 10; ++db)
        EXPECT_EQ(DecibelsFromVolumeLevel(VolumeLevelFromDecibels(db)), db);
    EXPECT_EQ(VolumeLevelFromDecibels(-36), 0u);
    EXPECT_EQ(VolumeLevelFromDecibels(INT32_MAX), 65535u);
    EXPECT_EQ(DecibelsFromVolumeLevel(65535), 10);
}

TEST_F(SoundPlayerTest, DeviceGetsSaturatedSamplesAndListenerHearsToTheEnd) {
    // Stereo, 8 kHz (800-frame buffers), 2.35 buffers. Left: silence, then a
    // full-scale square, then values at and beyond every edge; right: noise
    // over the whole 32-bit range.
    const Samples edges{7, 8, -8, -9, 524264, 524272, 524280, 600000, -600000, INT32_MAX, INT32_MIN};
    Samples s(1880 * 2);
    std::mt19937 rng(9);
    for (size_t f = 0; f < 1880; ++f) {
        s[2 * f] = f < 800 ? 0 : f < 1600 ? (f % 2 ? 524272 : -524272) : edges[f % edges.size()];
        s[2 * f + 1] = static_cast<int32_t>(rng());
    }
    ASSERT_TRUE(player.StartPlayback(MakeRef<VectorSource>(s, 8000, 2)));
    EXPECT_EQ(NullAudio().LastOutFormat().sampleRate, 8000);
    EXPECT_EQ(NullAudio().LastOutFormat().channels, 2);
    ASSERT_TRUE(Queued(3));

    NullAudio().Advance(800);
    ASSERT_TRUE(PumpUntil([&] { return log.levels.size() == 1; }));
    EXPECT_EQ(log.levels[0].channels, 2);
    EXPECT_EQ(log.levels[0].levels[0], -127);
    NullAudio().Advance(800);
    ASSERT_TRUE(PumpUntil([&] { return log.levels.size() == 2; }));
    EXPECT_EQ(log.levels[1].levels[0], 15);
    EXPECT_EQ(player.Position(), 1600);
    NullAudio().Advance(1000);
    ASSERT_TRUE(PumpUntil([&] { return player.Idle(); }));

    EXPECT_EQ(NullAudio().TakePlayed(), Model(s));
    // Reports start at 0, never go back, end at the length; then the stop.
    ASSERT_GE(log.positions.size(), 4u);
    EXPECT_EQ(log.positions.front(), 0);
    EXPECT_TRUE(std::is_sorted(log.positions.begin(), log.positions.end()));
    EXPECT_EQ(log.positions.back(), 235);
    EXPECT_EQ(log.events.substr(0, 2), "PR");
    EXPECT_EQ(log.events.substr(log.events.size() - 2), "RS");
    EXPECT_EQ(player.Position(), 0);
    EXPECT_FALSE(player.Source());
}

TEST_F(SoundPlayerTest, OpenFailuresLeaveThePlayerIdleAndVolumeNeedsADevice) {
    const Samples s(1000, 16);
    uint32_t level = 0;
    EXPECT_TRUE(player.SetOutputVolume(0));
    ASSERT_TRUE(NullAudio().GetOutVolume(0, level));
    EXPECT_EQ(level, 51264u * 65537u);  // both channels
    EXPECT_EQ(player.GetOutputVolume(), 0);

    EXPECT_FALSE(player.StartPlayback(MakeRef<VectorSource>(s, 0, 1)));  // unusable rate
    NullAudio().FailNextOpens(1, 0);
    EXPECT_TRUE(player.StartPlayback(MakeRef<VectorSource>(s, 8000, 1)));  // the mapped retry
    NullAudio().FailNextOpens(2, 0);
    EXPECT_FALSE(player.StartPlayback(MakeRef<VectorSource>(s, 8000, 1)));
    EXPECT_TRUE(player.Idle());
    EXPECT_FALSE(player.Source());
    player.SetDevice(7);  // no such device
    EXPECT_FALSE(player.StartPlayback(MakeRef<VectorSource>(s, 8000, 1)));
    EXPECT_EQ(log.events, "PRS");  // the failed starts told nobody anything
    EXPECT_FALSE(player.SetOutputVolume(3));
    EXPECT_EQ(player.GetOutputVolume(), 32768 / 1424 - 36);  // the fallback level
}

TEST_F(SoundPlayerTest, LouderSourcesAreLimitedNotClipped) {
    // Half of 16-bit full scale, then twice full scale, in a source with headroom.
    Samples s(8000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = (i % 2 ? 1 : -1) * (i < 4000 ? 262144 : 1048544);
    ASSERT_TRUE(player.StartPlayback(MakeRef<VectorSource>(s, 8000, 1, kFullScaleHeadroom)));
    ASSERT_TRUE(Queued(10));
    NullAudio().Advance(8000);
    const std::vector<int16_t> played = NullAudio().TakePlayed();
    ASSERT_EQ(played.size(), s.size());
    EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + 3000), Model(s, 0, 3000));
    for (size_t i = 5000; i < s.size(); ++i)
        ASSERT_NEAR(played[i], s[i] / 32, 40) << i;  // halved
}

TEST_F(SoundPlayerTest, ScrubLoopsASnippetAndSeekMovesIt) {
    // 8100 Hz: 810-frame buffers, snippets of 203 frames, the fourth copy cut to 201.
    const Samples s = Ramp(20000);
    const auto snippet = [&](size_t at) {
        std::vector<int16_t> one = Model(s, at, at + 203), four;
        for (int k = 0; k < 3; ++k)
            four.insert(four.end(), one.begin(), one.end());
        four.insert(four.end(), one.begin(), one.begin() + 201);
        return four;
    };
    ASSERT_TRUE(player.StartPlayback(MakeRef<VectorSource>(s, 8100, 1)));
    ASSERT_TRUE(Queued(25));
    NullAudio().Advance(900);
    ASSERT_TRUE(PumpUntil([&] { return player.Position() == 810; }));
    NullAudio().TakePlayed();

    player.EnterScrub();  // back to what was heard last
    EXPECT_TRUE(player.Scrubbing());
    NullAudio().Advance(1620);
    const std::vector<int16_t> loop = snippet(810);
    std::vector<int16_t> twice = loop;
    twice.insert(twice.end(), loop.begin(), loop.end());
    EXPECT_EQ(NullAudio().TakePlayed(), twice);

    player.SeekPlayback(5000);
    EXPECT_EQ(log.positions.back(), 617);
    NullAudio().Advance(810);
    EXPECT_EQ(NullAudio().TakePlayed(), snippet(5000));

    const int64_t before = NullAudio().BuffersWritten();
    player.LeaveScrub();  // on from just after the snippet
    EXPECT_FALSE(player.Scrubbing());
    ASSERT_TRUE(Queued(before + 19));  // all the rest
    NullAudio().Advance(810);
    EXPECT_EQ(NullAudio().TakePlayed(), Model(s, 5203, 6013));

    player.SeekPlayback(15000);
    ASSERT_TRUE(Queued(before + 19 + 7));
    NullAudio().Advance(810);
    EXPECT_EQ(NullAudio().TakePlayed(), Model(s, 15000, 15810));
    EXPECT_EQ(log.events.substr(0, 2), "PR");
    EXPECT_NE(log.events.find("CR"), std::string::npos);
}

// Run under ThreadSanitizer too: stops at every stage of playback, on the
// manual and on a fast real-time clock, and players destroyed while playing.
TEST_F(SoundPlayerTest, ThousandStartStopCycles) {
    const Samples s = Ramp(3000);
    int started = 0;
    for (int i = 0; i < 1000; ++i) {
        if (i == 500) {
            NullAudio().SetManualClock(false);
            NullAudio().SetSpeed(200);
        }
        auto local = std::make_unique<SoundPlayer>(NullAudio());
        SoundPlayer& p = i % 100 == 99 ? *local : player;
        ASSERT_TRUE(p.StartPlayback(MakeRef<VectorSource>(s, 8000, 1)));
        ++started;
        if (i % 3 == 0) NullAudio().Advance(900);
        if (i % 4 == 0) WaitAndPumpNotifications(1);
        if (i % 5 == 0) p.SeekPlayback(i);
        if (i % 7 == 0) p.EnterScrub();
        if (i % 11 == 0) p.LeaveScrub();
        if (&p == &player) player.StopPlayback();
    }
    PumpNotifications();
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), 'S'), started - 10);
    EXPECT_TRUE(player.Idle());
}

}  // namespace
}  // namespace sonitor
