#include "audio_io/Transport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "foundation/ConvertStream.h"
#include "foundation/Numbers.h"
#include "foundation/SettingsStore.h"

namespace sonitor {
namespace {

constexpr char kSection[] = "Settings";
constexpr char kTitle[] = "Sonitor";
// A loop shorter than this is played this long before it starts again, so
// that a tiny or empty loop cannot make Read spin.
constexpr int64_t kShortestLoop = 256;
constexpr int32_t kCueRampMs = 8000;
constexpr int kCueVolumeDrop = 8;

int32_t ClampToFrames(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

class LoopSource final : public AudioSource {
public:
    LoopSource(Ref<AudioSource> inner, int32_t start, int32_t end)
        : AudioSource(inner->SampleRate(), inner->FullScale(), inner->Channels(), inner->Status()),
          inner_(std::move(inner)),
          start_(std::min(start, end)),
          end_(std::max(start, end)),
          playedEnd_(std::max<int64_t>(end_, int64_t{start_} + kShortestLoop)) {}

    void Read(int32_t* buffer, int32_t frames) override {
        const size_t channels = static_cast<size_t>(Channels());
        while (frames > 0) {
            int64_t remaining = playedEnd_ - inner_->Position();
            if (remaining <= 0) {
                inner_->Seek(start_);
                remaining = playedEnd_ - start_;
            }
            const int32_t n = static_cast<int32_t>(std::min<int64_t>(frames, remaining));
            inner_->Read(buffer, n);
            buffer += static_cast<size_t>(n) * channels;
            frames -= n;
            if (n == remaining) inner_->Seek(start_);
        }
    }
    int32_t Position() const override { return inner_->Position(); }
    // Far enough beyond the loop that a player never reaches it.
    int32_t Length() const override { return ClampToFrames(playedEnd_ + 8 * int64_t{SampleRate()}); }
    // A frame beyond the loop folds back into it, as reading there would
    // have gone on.
    void Seek(int32_t position) override {
        int64_t p = position;
        if (p >= end_) p = end_ > start_ ? start_ + (p - end_) % (int64_t{end_} - start_) : start_;
        inner_->Seek(static_cast<int32_t>(p));
    }

private:
    Ref<AudioSource> inner_;
    int32_t start_;
    int32_t end_;
    int64_t playedEnd_;
};

// Plays short grains of the inner source, each forwards, while the walk
// from grain to grain goes faster or backwards: the sound of tape cueing.
// Each grain crossfades into the one before it over half its length.
class CueSource final : public AudioSource {
public:
    CueSource(Ref<AudioSource> inner, double s0, double s1, int32_t rampMs)
        : AudioSource(inner->SampleRate(), inner->FullScale(), inner->Channels(), inner->Status()),
          inner_(std::move(inner)),
          grain_(std::clamp(SampleRate() / 90, 20, 2730)),
          fade_(grain_ / 2),
          hop_(s0 * grain_),
          targetHop_(s1 * grain_),
          rampLeft_(FramesFromMilliseconds(std::max(rampMs, 0), SampleRate())),
          walk_(inner_->Position()),
          material_(static_cast<size_t>(grain_ + fade_) * Channels()),
          tail_(static_cast<size_t>(fade_) * Channels()),
          fall_(static_cast<size_t>(fade_)) {
        if (rampLeft_ <= 0) hop_ = targetHop_;
        for (int32_t j = 0; j < fade_; ++j) {
            const double w = 0.5 * (1.0 + std::cos(std::numbers::pi * j / fade_));
            fall_[static_cast<size_t>(j)] = static_cast<int32_t>(std::lround(w * kUnity));
        }
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const size_t ch = static_cast<size_t>(Channels());
        while (frames > 0) {
            if (offset_ == grain_) NextGrain();
            const int32_t n = std::min(frames, grain_ - offset_);
            for (int32_t j = offset_; j < offset_ + n; ++j) {
                const int32_t* cur = &material_[static_cast<size_t>(j) * ch];
                if (haveTail_ && j < fade_) {
                    const int64_t w = fall_[static_cast<size_t>(j)];
                    const int32_t* old = &tail_[static_cast<size_t>(j) * ch];
                    for (size_t c = 0; c < ch; ++c)
                        buffer[c] = static_cast<int32_t>((old[c] * w + cur[c] * (kUnity - w)) >> 24);
                } else {
                    std::copy(cur, cur + ch, buffer);
                }
                buffer += ch;
            }
            offset_ += n;
            frames -= n;
        }
    }

    // Where the walk has got to: the grain playing, advanced by the share of
    // it already delivered.
    int32_t Position() const override {
        if (!started_) return ClampToFrames(std::llround(walk_));
        return ClampToFrames(std::llround(walk_ + hop_ * offset_ / grain_));
    }
    int32_t Length() const override { return inner_->Length(); }
    void Seek(int32_t position) override {
        walk_ = position;
        started_ = false;
        haveTail_ = false;
        offset_ = grain_;
    }

private:
    static constexpr int64_t kUnity = int64_t{1} << 24;

    void NextGrain() {
        const size_t ch = static_cast<size_t>(Channels());
        if (started_) {
            // What follows the old grain fades out under the new one.
            std::copy(material_.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(grain_) * ch),
                      material_.end(), tail_.begin());
            haveTail_ = true;
            walk_ += hop_;
            if (rampLeft_ > 0) {
                hop_ += (targetHop_ - hop_) * grain_ / static_cast<double>(rampLeft_);
                rampLeft_ -= grain_;
                if (rampLeft_ <= 0) hop_ = targetHop_;
            }
            // Beyond either end there is only silence: stop walking there.
            walk_ = std::clamp(walk_, -static_cast<double>(grain_ + fade_),
                               static_cast<double>(std::max(inner_->Length(), 0)));
        }
        started_ = true;
        inner_->Seek(ClampToFrames(std::llround(walk_)));
        inner_->Read(material_.data(), grain_ + fade_);
        offset_ = 0;
    }

    Ref<AudioSource> inner_;
    const int32_t grain_;  // frames per grain
    const int32_t fade_;   // frames of crossfade at the start of each grain
    double hop_;           // frames from one grain's start to the next
    double targetHop_;
    int32_t rampLeft_;  // output frames until the hop reaches its target
    double walk_;       // inner frame at which the current grain starts
    bool started_ = false;
    bool haveTail_ = false;
    int32_t offset_ = grain_;  // frames of the current grain delivered
    std::vector<int32_t> material_;
    std::vector<int32_t> tail_;
    std::vector<int32_t> fall_;  // 8.24, from unity down towards 0
};

int32_t DocumentRate(const SoundDocument& document) {
    return static_cast<int32_t>(std::min<uint32_t>(document.clip.SampleRate(), INT32_MAX));
}

}  // namespace

Ref<AudioSource> MakeLoopSource(Ref<AudioSource> inner, int32_t start, int32_t end) {
    if (!inner) return MakeNullSource(kSourceUnusable);
    return MakeRef<LoopSource>(std::move(inner), start, end);
}

Ref<AudioSource> MakeCueSource(Ref<AudioSource> inner, double s0, double s1, int32_t rampMs) {
    if (!inner || !std::isfinite(s0) || !std::isfinite(s1)) return MakeNullSource(kSourceUnusable);
    return MakeRef<CueSource>(std::move(inner), s0, s1, rampMs);
}

const char* const kPlayFailedMessage =
    "Please check that you have selected the correct sound player device using Options. Open Options "
    "using Tools -> Options";

Transport::Transport(SoundPlayer& player, DocumentHost& host, const SettingsStore& settings)
    : player_(player), host_(host), settings_(settings) {
    player_.SetListener(this);
}

Transport::~Transport() {
    if (volumeLowered_) player_.SetOutputVolume(savedVolume_);
    player_.SetListener(nullptr);
    player_.StopPlayback();
}

void Transport::SetDocument(SoundDocument* document) {
    if (document == document_) return;
    // The chain playing belongs to the old document.
    if (document_ && !player_.Idle()) player_.StopPlayback();
    document_ = document;
    rewinding_ = forwarding_ = false;
    resumeMode_ = 0;
    playPosition_ = document_ ? document_->cursor : 0;
}

bool Transport::Play() {
    if (!document_) return false;
    if (player_.Scrubbing()) {
        player_.LeaveScrub();
        return true;
    }
    player_.StopPlayback();
    SoundDocument& doc = *document_;
    const int32_t rate = DocumentRate(doc);
    const int32_t length = doc.Length();

    int32_t cursor = std::clamp(doc.cursor, 0, length);
    if (int64_t{length} - rate < cursor) cursor = 0;
    // A selection left over from a longer version of the document plays
    // only what still exists.
    const int32_t selectionEnd = std::clamp(doc.selectionEnd, 0, length);
    const int32_t selectionStart = std::clamp(doc.selectionStart, 0, selectionEnd);
    const bool selection = doc.HasSelection() && selectionStart < selectionEnd;
    Ref<AudioSource> chain;
    if (selection) {
        cursor = selectionStart;
        // Only [0, end) of the document: playback stops at the selection's
        // end while positions stay those of the document.
        AudioClip part;
        ClipExtract(part, doc.clip, 0, selectionEnd);
        chain = OpenClipReader(part);
    } else {
        chain = OpenClipReader(doc.clip);
    }
    if (cursor != doc.cursor) {
        doc.cursor = cursor;
        host_.DocumentChanged(doc);
    }
    const int64_t baseFrames = chain->Length();
    chain->Seek(cursor);

    int speed = settings_.ReadInt(kSection, "PlaySpeed", 1);
    if (speed < 0 || speed > 2) speed = 1;
    if (speed != 1) chain = Varispeed(chain, (speed + 1) * 0.5);
    chainFrames_ = chain->Length();
    documentFrames_ = baseFrames;
    // The rate converter starts at its own beginning; place it where the
    // reader was placed.
    if (speed != 1)
        chain->Seek(ClampToFrames(chainFrames_ == 0 || documentFrames_ == 0
                                      ? 0
                                      : int64_t{cursor} * chainFrames_ / documentFrames_));

    player_.SetDevice(settings_.ReadInt(kSection, "SoundOutDevice", 0));
    if (LoopPlayOn()) {
        // Bounds in frames of the chain, so that they hold at any speed.
        const int64_t loopStart =
            selection && documentFrames_ > 0 ? int64_t{selectionStart} * chainFrames_ / documentFrames_ : 0;
        chain = MakeLoopSource(chain, ClampToFrames(loopStart), ClampToFrames(chainFrames_));
    }
    playPosition_ = cursor;
    if (player_.StartPlayback(chain)) return true;
    chainFrames_ = documentFrames_ = 0;
    host_.Prompt().Tell(kTitle, kPlayFailedMessage, PromptIcon::Information);
    return false;
}

bool Transport::PlayAtSpeed(PlaySpeed speed) {
    if (!document_) return false;
    settings_.WriteInt(kSection, "PlaySpeed", static_cast<int>(speed));
    return Play();
}

void Transport::ToggleLoopPlay() {
    settings_.WriteBool(kSection, "PlayRepeat", !LoopPlayOn());
}

bool Transport::LoopPlayOn() const {
    return settings_.ReadBool(kSection, "PlayRepeat", false);
}

void Transport::Stop() {
    if (!document_) return;
    player_.StopPlayback();
}

void Transport::GoToStart() {
    if (!document_) return;
    if (!player_.Idle()) {
        player_.SeekPlayback(0);
        return;
    }
    document_->cursor = 0;
    playPosition_ = 0;
    host_.DocumentChanged(*document_);
}

void Transport::GoToEnd() {
    if (!document_) return;
    if (!player_.Idle()) {
        const Ref<AudioSource> source = player_.Source();
        int64_t target = source->Length();
        if (!player_.Scrubbing()) target = std::max<int64_t>(target - source->SampleRate(), 0);
        player_.SeekPlayback(ClampToFrames(target));
        return;
    }
    document_->cursor = document_->Length();
    playPosition_ = document_->cursor;
    host_.DocumentChanged(*document_);
}

void Transport::StartCue(bool forward) {
    if (!document_) return;
    if (forward ? forwarding_ : rewinding_) return;
    if (forward ? rewinding_ : forwarding_) EndCue();
    SoundDocument& doc = *document_;
    const int32_t rate = DocumentRate(doc);

    resumeMode_ = player_.Scrubbing() ? 1 : player_.Idle() ? 0 : 2;
    // Cueing goes on from what is being heard, or from the cursor.
    const int32_t from = resumeMode_ != 0 ? playPosition_ : doc.cursor;
    player_.StopPlayback();
    const int32_t step = resumeMode_ == 1 ? rate / 10 : rate / 5;
    doc.cursor = ClampToFrames(
        std::clamp<int64_t>(int64_t{from} + (forward ? step : -int64_t{step}), 0, doc.Length()));
    host_.DocumentChanged(doc);

    Ref<AudioSource> reader = OpenClipReader(doc.clip);
    reader->Seek(doc.cursor);
    const bool gentle = resumeMode_ == 1;
    const double s0 = gentle ? 0.1 : 0.5;
    const double s1 = gentle ? 3.0 : 7.0;
    Ref<AudioSource> chain =
        forward ? MakeCueSource(reader, s0, s1, kCueRampMs) : MakeCueSource(reader, -s0, -s1, kCueRampMs);
    chainFrames_ = documentFrames_ = 0;  // the cue source walks in document frames

    player_.SetDevice(settings_.ReadInt(kSection, "SoundOutDevice", 0));
    if (settings_.ReadBool(kSection, "ReduceVolWhenRewind", false) && !volumeLowered_) {
        savedVolume_ = player_.GetOutputVolume();
        player_.SetOutputVolume(std::clamp(savedVolume_ - kCueVolumeDrop, -127, 127));
        volumeLowered_ = true;
    }
    playPosition_ = doc.cursor;
    // Cueing is a gesture, not a command: a device that will not open is
    // not worth a message here.
    player_.StartPlayback(chain);
    (forward ? forwarding_ : rewinding_) = true;
}

void Transport::EndCue() {
    if (!document_ || (!rewinding_ && !forwarding_)) return;
    const int32_t reached = playPosition_;
    // Put back exactly what was there: lowering and raising through the
    // device's steps would drift at the bottom of the range.
    if (volumeLowered_) player_.SetOutputVolume(savedVolume_);
    volumeLowered_ = false;
    player_.StopPlayback();
    rewinding_ = forwarding_ = false;
    // Playing on after cueing starts where the cueing got to.
    document_->cursor = std::clamp(reached, 0, document_->Length());
    playPosition_ = document_->cursor;
    host_.DocumentChanged(*document_);
    const int resume = std::exchange(resumeMode_, 0);
    if (resume == 1) {
        if (player_.Idle() && !Play()) return;
        player_.EnterScrub();
    } else if (resume == 2) {
        Play();
    }
}

void Transport::Scrub() {
    if (!document_) return;
    if (player_.Scrubbing()) {
        Play();
        return;
    }
    if (player_.Idle() && !Play()) return;
    player_.EnterScrub();
}

void Transport::PlayStarted() {
    if (forward_) forward_->PlayStarted();
}

void Transport::PlayStopped() {
    chainFrames_ = documentFrames_ = 0;
    if (document_) playPosition_ = document_->cursor;
    if (forward_) forward_->PlayStopped();
}

void Transport::ScrubStarted() {
    if (forward_) forward_->ScrubStarted();
}

void Transport::PositionReport(int32_t milliseconds) {
    if (!document_) {
        if (forward_) forward_->PositionReport(milliseconds);
        return;
    }
    // The player counts frames of its chain; at slow or fast speed those
    // are not the document's.
    int64_t frames =
        player_.Idle() ? FramesFromMilliseconds(milliseconds, DocumentRate(*document_)) : player_.Position();
    if (chainFrames_ > 0 && documentFrames_ > 0 && chainFrames_ != documentFrames_)
        frames = frames * documentFrames_ / chainFrames_;
    playPosition_ = ClampToFrames(std::clamp<int64_t>(frames, 0, document_->Length()));
    if (forward_) forward_->PositionReport(MillisecondsFromFrames(playPosition_, DocumentRate(*document_)));
}

void Transport::LevelsChanged(const LevelSet& levels) {
    if (forward_) forward_->LevelsChanged(levels);
}

}  // namespace sonitor
