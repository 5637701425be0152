// Click and pop repair: detection on a high-passed copy of the signal,
// repair by a straight line across the click in the signal itself. The
// automatic restoration scans a whole selection; the manual repair works on
// a selection of at most a millisecond.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "document/AudioClip.h"
#include "document/ProgressTask.h"
#include "effects/AudioEffect.h"
#include "effects/EffectCatalogue.h"
#include "effects/Equalizer.h"
#include "effects/NoiseReduction.h"
#include "effects/Processor.h"

namespace sonitor {

void AddClickRepairEffects(std::vector<EffectDefinition>& catalogue);

const char* const kManualClickTooLongMessage =
    "Sonitor cannot do a manual reduction of an area this size. Please select a smaller area.";

namespace {

// The detection copy: clicks are short, so above this they stand out from
// most program material.
constexpr int32_t kDetectionCutoffHz = 1500;

struct ClickScan {
    int64_t factor = 50;     // sensitivity factor s: lower finds more
    int32_t span = 2;        // D, the distance of the jump test
    int32_t longest = 19;    // Lmax, frames a click may last
    int32_t block = 444;     // frames of statistics per block
    int32_t scanFrom = 0;    // where the scan starts in a block
    int32_t scanLength = 0;  // how far it runs; the next block starts this much later
    bool splitRounding = false;
};

// The straight line from x[first - 1] to x[last + 1] replaces the frames
// first..last. The manual repair rounds each half of the line on its own.
void Interpolate(int32_t* x, ptrdiff_t stride, int32_t first, int32_t last, bool splitRounding) {
    const int64_t a = x[(first - 1) * stride];
    const int64_t b = x[(last + 1) * stride];
    const int64_t inner = int64_t{last} - first + 1;
    for (int64_t k = 1; k <= inner; ++k) {
        const int64_t v = splitRounding ? a * (inner + 1 - k) / (inner + 1) + b * k / (inner + 1)
                                        : (a * (inner + 1 - k) + b * k) / (inner + 1);
        x[(first - 1 + k) * stride] = static_cast<int32_t>(v);
    }
}

// Where in a block the stream's audio lies: clicks may start from `first`
// on and their line must end before `end` (block frames).
struct BlockBounds {
    int64_t first = 0;
    int64_t end = 0;
};

// Detects and repairs the clicks of one channel in one block: h is the
// detection copy of the block, x the signal (frame -1 must be readable too;
// frames beyond the block are never touched). The scan starts at `from`
// when that lies beyond the block's scan start. Returns the block frame from
// which the next block may scan (past a repair's end).
int32_t RepairBlock(const ClickScan& scan, const int32_t* h, int32_t* x, ptrdiff_t stride, int32_t from,
                    const BlockBounds& bounds) {
    const int32_t n = scan.block;
    const int32_t d = scan.span;
    const auto mag = [&](int32_t i) { return std::llabs(int64_t{h[i * stride]}); };

    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i)
        sum += mag(i);
    const int64_t average = sum / n;
    const int32_t jumps = n - d;
    int64_t jumpSum = 0;
    for (int32_t i = 0; i < jumps; ++i)
        jumpSum += std::llabs(int64_t{h[(i + d) * stride]} - h[i * stride]);
    const int64_t jumpMean = jumpSum / jumps;
    // Squared deviations of 33-bit differences pass 64 bits.
    long double squares = 0;
    for (int32_t i = 0; i < jumps; ++i) {
        const auto dev =
            static_cast<long double>(std::llabs(int64_t{h[(i + d) * stride]} - h[i * stride]) - jumpMean);
        squares += dev * dev;
    }
    const auto deviation = static_cast<int64_t>(std::sqrt(squares / jumps));

    const int64_t s = scan.factor;
    int64_t level = (s * average) / 50 + jumpMean;
    int64_t jump = ((s * deviation) / 50 + 100 + jumpMean) * (s / 10);

    const int32_t end = scan.scanFrom + scan.scanLength;
    int32_t i = std::max(scan.scanFrom, from);
    while (i < end) {
        const int64_t a = mag(i);
        if (a > level && a - mag(i - d) > jump) {
            // The click lasts until the detection copy falls below a third
            // of where it started.
            const int64_t below = a / 3;
            int32_t j = i + 1;
            while (j <= i + scan.longest && mag(j) >= below)
                ++j;
            if (j > i + scan.longest) {
                // Too long for a click: loud material, so the rest of the
                // block is judged more strictly.
                level += level / 2;
                jump += jump / 2;
            } else if (i >= bounds.first && j + 1 < bounds.end) {
                // (The edges of the audio are steps from and to silence,
                // not clicks, and there is nothing to draw the line to.)
                Interpolate(x, stride, i - d, j, scan.splitRounding);
                i = j + d;
                continue;
            }
        }
        ++i;
    }
    return i;
}

// Hands the frames it is given to the high-pass filter, which reads them
// as its upstream.
class FrameFeed final : public AudioSource {
public:
    FrameFeed(int32_t rate, int channels) : AudioSource(rate, kFullScaleHeadroom, channels) {}
    void Set(const int32_t* frames) { next_ = frames; }
    void Read(int32_t* buffer, int32_t frames) override {
        const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(Channels());
        std::copy_n(next_, count, buffer);
        next_ += count;
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return INT32_MAX; }
    void Seek(int32_t position) override { position_ = position; }

private:
    const int32_t* next_ = nullptr;
    int32_t position_ = 0;
};

// Streams the repaired signal. It keeps the signal and its detection copy
// from just before the block being scanned on, scans blocks whose scan
// parts follow one another, and delivers each frame once no later block can
// repair it any more. The first block is placed so that its scan part
// starts `lead` frames before the first frame delivered; frames before the
// delivered range are read as context only.
class ClickRepairer final : public Processor {
public:
    ClickRepairer(Ref<AudioSource> upstream, const ClickScan& scan, int32_t lead)
        : Processor(std::move(upstream)),
          scan_(scan),
          lead_(lead),
          settle_(std::max(16, SampleRate() / 100)),
          feed_(MakeRef<FrameFeed>(SampleRate(), Channels())),
          highPass_(CreateHighPassFilter(feed_, kDetectionCutoffHz)),
          resume_(static_cast<size_t>(Channels())),
          position_(upstream_->Position()) {}

    int32_t Position() const override { return static_cast<int32_t>(position_); }

    void Seek(int32_t position) override {
        started_ = false;
        position_ = position;
    }

    void Read(int32_t* buffer, int32_t frames) override {
        const size_t channels = static_cast<size_t>(Channels());
        while (frames > 0) {
            if (!started_) Start();
            if (position_ >= final_) {
                ScanBlock();
                continue;
            }
            const auto n = static_cast<int32_t>(std::min<int64_t>(frames, final_ - position_));
            Fill(position_ + n);
            const auto at = static_cast<size_t>(position_ - bufferStart_) * channels;
            std::copy_n(x_.begin() + static_cast<ptrdiff_t>(at), static_cast<size_t>(n) * channels, buffer);
            buffer += static_cast<size_t>(n) * channels;
            position_ += n;
            frames -= n;
        }
    }

private:
    int64_t BufferEnd() const {
        return bufferStart_ + static_cast<int64_t>(x_.size() / static_cast<size_t>(Channels()));
    }

    void Start() {
        const int64_t firstBlock = position_ - lead_ - scan_.scanFrom;
        // The filter settles before the first block; one more frame for the
        // line's left end.
        bufferStart_ = std::max<int64_t>(INT32_MIN, firstBlock - 1 - settle_);
        upstream_->Seek(static_cast<int32_t>(bufferStart_));
        highPass_->Seek(0);
        x_.clear();
        h_.clear();
        blockStart_ = firstBlock;
        final_ = blockStart_ + scan_.scanFrom - scan_.span;
        std::fill(resume_.begin(), resume_.end(), blockStart_);
        started_ = true;
    }

    // Reads upstream until the buffers reach frame `until`.
    void Fill(int64_t until) {
        const size_t channels = static_cast<size_t>(Channels());
        while (BufferEnd() < until) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(kMaxTransferFrames, until - BufferEnd()));
            const size_t count = static_cast<size_t>(n) * channels;
            const size_t at = x_.size();
            x_.resize(at + count);
            h_.resize(at + count);
            upstream_->Read(x_.data() + at, n);
            feed_->Set(x_.data() + at);
            highPass_->Read(h_.data() + at, n);
        }
    }

    void ScanBlock() {
        const size_t channels = static_cast<size_t>(Channels());
        Fill(blockStart_ + scan_.block);
        const auto offset = static_cast<size_t>(blockStart_ - bufferStart_) * channels;
        // The detection copy rings for about a millisecond after the step
        // from the silence before the audio.
        const BlockBounds bounds{SampleRate() / 1000 + scan_.span + 1 - blockStart_,
                                 int64_t{upstream_->Length()} - blockStart_};
        for (size_t c = 0; c < channels; ++c) {
            const auto from =
                static_cast<int32_t>(std::clamp<int64_t>(resume_[c] - blockStart_, 0, scan_.block));
            const int32_t next = RepairBlock(scan_, h_.data() + offset + c, x_.data() + offset + c,
                                             static_cast<ptrdiff_t>(channels), from, bounds);
            resume_[c] = blockStart_ + next;
        }
        blockStart_ += scan_.scanLength;
        // The next block repairs from D frames before its scan part on.
        final_ = blockStart_ + scan_.scanFrom - scan_.span;
        Compact();
    }

    // Drops what neither the output nor the next block's line ends need.
    void Compact() {
        const int64_t keep = std::min(position_, blockStart_ - 1);
        const int64_t drop = keep - bufferStart_;
        if (drop < 4 * int64_t{scan_.block} + kMaxTransferFrames) return;
        const auto count = static_cast<ptrdiff_t>(drop * Channels());
        x_.erase(x_.begin(), x_.begin() + count);
        h_.erase(h_.begin(), h_.begin() + count);
        bufferStart_ = keep;
    }

    ClickScan scan_;
    int32_t lead_;
    int32_t settle_;
    Ref<FrameFeed> feed_;
    Ref<AudioSource> highPass_;
    std::vector<int32_t> x_;  // the signal from bufferStart_ on, interleaved
    std::vector<int32_t> h_;  // its detection copy
    int64_t bufferStart_ = 0;
    int64_t blockStart_ = 0;
    int64_t final_ = 0;            // frames below this will not change any more
    std::vector<int64_t> resume_;  // per channel, where scanning may go on
    int64_t position_;
    bool started_ = false;
};

// Automatic restoration: s = 100 - sensitivity, D = R / 44100 + 1, Lmax
// from the length in microseconds. Blocks of about R / 100 frames (a
// multiple of 4) advance by half a block, and the middle half is scanned.
// The block grows with Lmax so that a click's walk and the line's right end
// stay inside it.
ClickScan AutoScan(int32_t rate, int sensitivity, int32_t maxClickLength) {
    ClickScan scan;
    scan.factor = std::max(1, 100 - std::clamp(sensitivity, 0, 100));
    scan.span = rate / 44100 + 1;
    const int64_t micro = std::clamp(maxClickLength, 1, kMaxClickLengthLimit);
    scan.longest = static_cast<int32_t>(std::max<int64_t>(1, int64_t{rate} * micro / 1000000));
    const int32_t usual = (rate / 100 + 4) / 4 * 4;
    scan.block = std::max(usual, 4 * (scan.longest + scan.span + 1));
    scan.scanFrom = scan.block / 4 + scan.span;
    scan.scanLength = scan.block / 2;
    return scan;
}

// Manual repair: more sensitive (s = 35), a wider jump, clicks up to 450
// microseconds, and blocks whose scan part leaves room for the jump before
// it and the walk after it.
ClickScan ManualScan(int32_t rate) {
    ClickScan scan;
    scan.factor = 35;
    scan.span = rate / 22050 + 1;
    scan.longest = std::max(4, static_cast<int32_t>(rate * 450.0 * 0.000001));
    scan.block = std::max(rate / 100, 2 * scan.longest);
    scan.scanFrom = scan.span;
    scan.scanLength = std::max(1, scan.block - 2 * scan.span - scan.longest);
    scan.block = scan.scanFrom + scan.scanLength + scan.longest + scan.span;
    scan.splitRounding = true;
    return scan;
}

std::optional<InvalidValue> ValidateAuto(const EffectValues& values) {
    const int32_t sensitivity = IntValue(values, "ClickSensitivity");
    if (sensitivity < 0 || sensitivity > 100)
        return InvalidEffectValue("Click sensitivity must be between 0 and 100. Please try again.");
    const int32_t length = IntValue(values, "MaxClickLength");
    if (length < 1 || length > kMaxClickLengthLimit)
        return InvalidEffectValue("Maximum click length must be between 1 and " +
                                  std::to_string(kMaxClickLengthLimit) + ". Please try again.");
    return std::nullopt;
}

EffectDefinition AutoClickEffect() {
    EffectDefinition e;
    e.id = "click-pop-auto";
    e.name = "&Auto Click/Pop Restoration";
    e.caption = "Click Detecting";
    e.section = "Settings";
    e.parameters = {{"ClickSensitivity", "50", "Sensitivity (higher finds more clicks)", "0..100"},
                    {"MaxClickLength", "450", "Maximum click length (microseconds)",
                     "1.." + std::to_string(kMaxClickLengthLimit)}};
    e.validate = ValidateAuto;
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues& values) {
        if (range.end <= range.start) return static_cast<int32_t>(kTaskFailed);
        SetProgressText(task, 1, "Please wait...");
        const int sensitivity = IntValue(values, "ClickSensitivity");
        const int32_t length = IntValue(values, "MaxClickLength");
        return ApplyProcessorEffect(task, range, "Click Detecting", [=](Ref<AudioSource> source) {
            return CreateAutoClickRepair(std::move(source), sensitivity, length);
        });
    };
    return e;
}

EffectDefinition ManualClickEffect() {
    EffectDefinition e;
    e.id = "click-pop-manual";
    e.name = "&Manual Click/Pop Repair";
    e.run = [](ProgressTask& task, EffectRange& range, const EffectValues&) {
        const int32_t frames = range.end - range.start;
        if (frames > ManualClickRepairLimit(static_cast<int32_t>(range.clip.SampleRate()))) {
            ShowTaskError(task, kManualClickTooLongMessage);
            return static_cast<int32_t>(kTaskFailed);
        }
        return ApplyProcessorEffect(
            task, range, "&Manual Click/Pop Repair",
            [frames](Ref<AudioSource> source) { return CreateManualClickRepair(std::move(source), frames); });
    };
    return e;
}

}  // namespace

Ref<AudioSource> CreateAutoClickRepair(Ref<AudioSource> source, int sensitivity, int32_t maxClickLength) {
    const ClickScan scan = AutoScan(source->SampleRate(), sensitivity, maxClickLength);
    return MakeRef<ClickRepairer>(std::move(source), scan, 0);
}

// The selection sits in the middle of the first block's scan part, so the
// statistics see signal on both sides of it.
Ref<AudioSource> CreateManualClickRepair(Ref<AudioSource> source, int32_t selectionFrames) {
    const ClickScan scan = ManualScan(source->SampleRate());
    const int32_t lead = std::max(0, (scan.scanLength - std::max(0, selectionFrames)) / 2);
    return MakeRef<ClickRepairer>(std::move(source), scan, lead);
}

int32_t ManualClickRepairLimit(int32_t sampleRate) {
    return sampleRate / 1000;
}

void AddClickRepairEffects(std::vector<EffectDefinition>& catalogue) {
    catalogue.push_back(AutoClickEffect());
    catalogue.push_back(ManualClickEffect());
}

}  // namespace sonitor
