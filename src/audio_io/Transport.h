#pragma once

#include <cstdint>

#include "audio_io/SoundPlayer.h"
#include "foundation/AudioSource.h"

namespace sonitor {

class DocumentHost;
class SettingsStore;
class SoundDocument;

// Plays inner from start to end over and over: Length() is end + 8 seconds
// so that a player never reaches its end; the bounds are put in order.
Ref<AudioSource> MakeLoopSource(Ref<AudioSource> inner, int32_t start, int32_t end);
// Rewind / fast-forward cueing: grains played forwards while the hop
// between them moves from s0 to s1 (times the grain) over rampMs.
Ref<AudioSource> MakeCueSource(Ref<AudioSource> inner, double s0, double s1, int32_t rampMs);

// "Please check that you have selected the correct sound player device ..."
extern const char* const kPlayFailedMessage;

enum class PlaySpeed { Slow = 0, Normal = 1, Fast = 2 };

// The transport commands of the main window on one document: they build a
// source chain from the document (selection, loop, speed, cueing) and drive
// a SoundPlayer. "PlaySpeed", "PlayRepeat" and "SoundOutDevice" ("Settings")
// are read on every Play. The transport is the player's listener; it moves
// the document's play position and passes every report on to `forward`
// (the window, or sonitor-cli's meter).
class Transport final : public PlayerListener {
public:
    Transport(SoundPlayer& player, DocumentHost& host, const SettingsStore& settings);
    ~Transport() override;

    void SetDocument(SoundDocument* document);
    void SetForward(PlayerListener* forward) { forward_ = forward; }

    // Play (F9): leaves scrub, or plays from the cursor (from 0 within the
    // last second), the selection when there is one, looped when "PlayRepeat"
    // is set, slow or fast by "PlaySpeed". False when playback could not
    // start (the message has been shown).
    bool Play();
    bool PlayAtSpeed(PlaySpeed speed);  // stores "PlaySpeed", then Play
    void ToggleLoopPlay();              // flips "PlayRepeat"
    bool LoopPlayOn() const;
    void Stop();
    void GoToStart();
    void GoToEnd();
    void StartCue(bool forward);  // Rewind / Fast Forward pressed
    void EndCue();                // ... released
    void Scrub();
    // The document frame heard last while playing; the cursor otherwise.
    int32_t PlayPosition() const { return playPosition_; }

    // PlayerListener
    void PlayStarted() override;
    void PlayStopped() override;
    void ScrubStarted() override;
    void PositionReport(int32_t milliseconds) override;
    void LevelsChanged(const LevelSet& levels) override;

private:
    SoundPlayer& player_;
    DocumentHost& host_;
    const SettingsStore& settings_;
    SoundDocument* document_ = nullptr;
    PlayerListener* forward_ = nullptr;
    int resumeMode_ = 0;  // 0 none, 1 scrub, 2 play
    bool rewinding_ = false;
    bool forwarding_ = false;
    int32_t playPosition_ = 0;
    // The playing chain's length and the document frames it stands for:
    // they differ at slow and fast speed.
    int64_t chainFrames_ = 0;
    int64_t documentFrames_ = 0;
    // The volume before cueing lowered it, put back exactly afterwards.
    int savedVolume_ = 0;
    bool volumeLowered_ = false;
};

}  // namespace sonitor
