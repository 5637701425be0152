// The transport commands on a document whose every sample names its frame
// ((frame + 1) * 16), played on the null device.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_io/NullAudio.h"
#include "audio_io/Transport.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "foundation/SettingsStore.h"
#include "support/MemorySources.h"
#include "support/ScriptedPrompt.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;
constexpr int32_t kRate = 8000;
constexpr int32_t kLength = 16000;

Samples Ramp(int32_t frames) {
    Samples s(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        s[static_cast<size_t>(i)] = (i + 1) * 16;
    return s;
}

// What the device plays for frames [from, to) of the ramp.
std::vector<int16_t> Heard(int32_t from, int32_t to) {
    std::vector<int16_t> out;
    for (int32_t f = from; f < to; ++f)
        out.push_back(static_cast<int16_t>(f + 1));
    return out;
}

template <class Done>
bool PumpUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WaitAndPumpNotifications(2);
    }
    return true;
}

struct Host final : DocumentHost {
    test::ScriptedPrompt prompt;
    int changes = 0;
    UserPrompt& Prompt() override { return prompt; }
    void DocumentChanged(SoundDocument&) override { ++changes; }
};

struct Log final : PlayerListener {
    std::string events;
    std::vector<int32_t> positions;
    void PlayStarted() override { events += 'P'; }
    void PlayStopped() override { events += 'S'; }
    void PositionReport(int32_t ms) override { positions.push_back(ms); }
};

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        NullAudio().ResetForTesting();
        NullAudio().SetManualClock(true);
        Settings().WriteInt("Settings", "PlaySpeed", 1);
        Settings().WriteBool("Settings", "PlayRepeat", false);
        Settings().WriteBool("Settings", "ReduceVolWhenRewind", false);
        Ref<ClipWriter> writer = CreateClipWriter(&doc->clip, kRate, 1);
        const Samples s = Ramp(kLength);
        writer->Write(s.data(), kLength);
        ASSERT_TRUE(writer->Close());
        transport.SetDocument(doc.Get());
        transport.SetForward(&log);
    }
    void TearDown() override { NullAudio().ResetForTesting(); }

    // What the device plays on a fast clock until the player stops by
    // itself or `samples` have been played.
    std::vector<int16_t> Collect(size_t samples = SIZE_MAX) {
        NullAudio().TakePlayed();  // what an earlier session left behind
        NullAudio().SetManualClock(false);
        NullAudio().SetSpeed(100);
        std::vector<int16_t> played;
        EXPECT_TRUE(PumpUntil([&] {
            const bool idle = player.Idle();
            const std::vector<int16_t> more = NullAudio().TakePlayed();
            played.insert(played.end(), more.begin(), more.end());
            return idle || played.size() >= samples;
        }));
        NullAudio().SetManualClock(true);
        played.resize(std::min(played.size(), samples));
        return played;
    }

    Ref<SoundDocument> doc = MakeRef<SoundDocument>(kRate, 1);
    Host host;
    Log log;
    SoundPlayer player{NullAudio()};
    Transport transport{player, host, Settings()};
};

TEST_F(TransportTest, PlaysFromTheCursorOrTheSelectionToItsEnd) {
    doc->cursor = kLength - kRate + 1;  // within the last second: from the start
    ASSERT_TRUE(transport.Play());
    EXPECT_EQ(doc->cursor, 0);
    EXPECT_EQ(Collect(), Heard(0, kLength));
    EXPECT_EQ(log.positions.back(), 2000);
    EXPECT_EQ(log.events, "PS");

    SetSelection(*doc, 5000, 3000, 100, host);
    ASSERT_TRUE(transport.Play());
    EXPECT_EQ(doc->cursor, 3000);
    EXPECT_EQ(log.positions.back(), 375);  // document time from the start
    EXPECT_EQ(Collect(), Heard(3000, 5000));
    EXPECT_EQ(log.positions.back(), 625);
    EXPECT_EQ(transport.PlayPosition(), 3000);  // back at the cursor after the stop
}

TEST_F(TransportTest, LoopPlayRepeatsTheSelectionWithoutEnd) {
    transport.ToggleLoopPlay();
    ASSERT_TRUE(transport.LoopPlayOn());
    const auto expectLoop = [&](int32_t start, int32_t end, size_t period) {
        SetSelection(*doc, start, end, 0, host);
        ASSERT_TRUE(transport.Play());
        std::vector<int16_t> cycle = Heard(start, end);
        cycle.resize(period);  // a loop shorter than 256 frames lasts 256, the rest silence
        const std::vector<int16_t> played = Collect(2200);
        ASSERT_EQ(played.size(), 2200u);
        for (size_t i = 0; i < played.size(); ++i)
            ASSERT_EQ(played[i], cycle[i % period]) << i;
    };
    expectLoop(1000, 1500, 500);
    expectLoop(1000, 1100, 256);
    EXPECT_FALSE(player.Idle());
    transport.ToggleLoopPlay();
    EXPECT_FALSE(transport.LoopPlayOn());

    // Seeks fold back into the loop; an empty loop neither spins nor divides by zero.
    Ref<AudioSource> loop = MakeLoopSource(MakeRef<test::VectorSource>(Ramp(1000), kRate, 1), 300, 100);
    loop->Seek(350);
    EXPECT_EQ(loop->Position(), 150);
    Ref<AudioSource> empty = MakeLoopSource(MakeRef<test::VectorSource>(Ramp(1000), kRate, 1), 50, 50);
    empty->Seek(1000000);
    EXPECT_EQ(empty->Position(), 50);
    Samples out(600);
    empty->Read(out.data(), 600);
    EXPECT_EQ(out[0], 51 * 16);
    EXPECT_EQ(out[256], 51 * 16);
}

TEST_F(TransportTest, SlowAndFastSpeedsKeepDocumentPositions) {
    ASSERT_TRUE(transport.PlayAtSpeed(PlaySpeed::Slow));
    EXPECT_EQ(Settings().ReadInt("Settings", "PlaySpeed", 1), 0);
    std::vector<int16_t> played = Collect();
    EXPECT_NEAR(static_cast<double>(played.size()), 2.0 * kLength, 40);
    EXPECT_NEAR(played[8000], 4001, 2);  // frame k of the output is frame k/2 of the document
    EXPECT_NEAR(log.positions.back(), 2000, 1);

    doc->cursor = 4000;
    ASSERT_TRUE(transport.PlayAtSpeed(PlaySpeed::Fast));
    EXPECT_NEAR(log.positions.back(), 500, 1);
    played = Collect();
    EXPECT_NEAR(static_cast<double>(played.size()), (kLength - 4000) / 1.5, 40);
    EXPECT_NEAR(played[2000], 4001 + 3000, 2);
    EXPECT_NEAR(log.positions.back(), 2000, 1);
}

TEST_F(TransportTest, FailedPlayShowsTheDeviceMessageOnce) {
    EXPECT_STREQ(kPlayFailedMessage,
                 "Please check that you have selected the correct sound player device using Options. Open "
                 "Options using Tools -> Options");
    NullAudio().FailNextOpens(2, 0);
    EXPECT_FALSE(transport.Play());
    ASSERT_EQ(host.prompt.History().size(), 1u);
    EXPECT_EQ(host.prompt.History()[0].title, "Sonitor");
    EXPECT_EQ(host.prompt.History()[0].text, kPlayFailedMessage);
    EXPECT_EQ(host.prompt.History()[0].icon, PromptIcon::Information);

    NullAudio().FailNextOpens(2, 0);
    transport.StartCue(true);  // cueing says nothing
    transport.EndCue();
    transport.SetDocument(nullptr);
    EXPECT_FALSE(transport.Play());
    EXPECT_EQ(host.prompt.History().size(), 1u);
}

TEST_F(TransportTest, GoToStartAndEndIdlePlayingAndScrubbing) {
    transport.GoToEnd();
    EXPECT_EQ(doc->cursor, kLength);
    transport.GoToStart();
    EXPECT_EQ(doc->cursor, 0);
    EXPECT_EQ(host.changes, 2);

    ASSERT_TRUE(transport.Play());
    transport.GoToEnd();  // a second before the end
    EXPECT_EQ(log.positions.back(), 1000);
    EXPECT_EQ(transport.PlayPosition(), kLength - kRate);
    transport.Scrub();
    EXPECT_TRUE(player.Scrubbing());
    transport.GoToEnd();  // the end itself
    EXPECT_EQ(log.positions.back(), 2000);
    transport.GoToStart();
    EXPECT_EQ(log.positions.back(), 0);
    transport.Scrub();  // plays on
    EXPECT_FALSE(player.Scrubbing());
    EXPECT_FALSE(player.Idle());
    EXPECT_EQ(doc->cursor, 0);
}

TEST_F(TransportTest, CueingMovesTheCursorAndPutsTheVolumeBack) {
    Settings().WriteBool("Settings", "ReduceVolWhenRewind", true);
    player.SetOutputVolume(-30);
    doc->cursor = 6000;
    transport.StartCue(false);
    EXPECT_EQ(doc->cursor, 6000 - kRate / 5);
    EXPECT_EQ(player.GetOutputVolume(), -36);  // -38 is silence
    ASSERT_TRUE(PumpUntil([&] { return NullAudio().BuffersWritten() >= 10; }));
    for (int i = 0; i < 20 && transport.PlayPosition() >= 3600; ++i) {
        NullAudio().Advance(800);
        WaitAndPumpNotifications(50);
    }
    ASSERT_LT(transport.PlayPosition(), 3600);
    const int32_t reached = transport.PlayPosition();
    transport.EndCue();
    EXPECT_EQ(player.GetOutputVolume(), -30);  // exactly, not -28
    EXPECT_TRUE(player.Idle());
    EXPECT_EQ(doc->cursor, reached);

    // Fast-forward while playing resumes playing from where it got to.
    ASSERT_TRUE(transport.Play());
    transport.StartCue(true);
    EXPECT_EQ(doc->cursor, reached + kRate / 5);
    transport.EndCue();
    EXPECT_FALSE(player.Idle());
    EXPECT_EQ(transport.PlayPosition(), reached + kRate / 5);
}

TEST(CueSource, GrainsPlayForwardsWhileTheWalkGoesEitherWay) {
    // 8 kHz: grains of 88 frames whose first 44 crossfade with the last one.
    for (const double speed : {2.0, -1.0}) {
        Ref<AudioSource> inner = MakeRef<test::VectorSource>(Ramp(20000), kRate, 1);
        inner->Seek(10000);
        Ref<AudioSource> cue = MakeCueSource(inner, speed, speed, 0);
        Samples out(88 * 20);
        cue->Read(out.data(), 88 * 20);
        for (int g = 0; g < 20; ++g) {
            const int32_t start = 10000 + static_cast<int32_t>(speed * 88 * g);
            for (int j = g == 0 ? 0 : 44; j < 88; ++j)
                ASSERT_EQ(out[g * 88 + j], (start + j + 1) * 16) << g;
        }
        EXPECT_EQ(cue->Position(), 10000 + static_cast<int32_t>(speed * 88 * 20));
    }
    // From one grain to the next the sound crossfades: a sine never jumps,
    // however fast the walk.
    Samples sine(120000);
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<int32_t>(400000 * std::sin(i * 0.05));
    Ref<AudioSource> cue = MakeCueSource(MakeRef<test::VectorSource>(sine, kRate, 1), 0.5, 7.0, 500);
    Samples out(16000);
    cue->Read(out.data(), 16000);
    for (size_t i = 1; i < out.size(); ++i)
        ASSERT_LT(std::abs(out[i] - out[i - 1]), 400000 * 0.15) << i;
}

}  // namespace
}  // namespace sonitor
