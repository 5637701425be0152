#include "formats/raw/Vox.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "formats/raw/RawIo.h"
#include "foundation/FileUtil.h"

namespace sonitor {

namespace {

// The Dialogic step sizes and index adjustments (by code magnitude).
constexpr std::array<int32_t, 49> kSteps = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,   45,   50,   55,   60,  66,  73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209,  230,  253,  279,  307, 337, 371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr std::array<int32_t, 8> kIndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};

inline int32_t Step(VoxState& state) {
    state.stepIndex = std::clamp(state.stepIndex, 0, 48);
    return kSteps[static_cast<size_t>(state.stepIndex)];
}

// The update shared by decoder and encoder, from the leaked predictor.
inline int32_t Apply(VoxState& state, int32_t leaked, int32_t step, unsigned code) {
    const unsigned m = code & 7;
    const int32_t delta = step * static_cast<int32_t>(2 * m + 1) * 16;
    state.predictor = (code & 8) ? leaked - delta : leaked + delta;
    state.stepIndex += kIndexAdjust[m];
    return state.predictor;
}

constexpr size_t kByteChunk = 4096;
// Decoder states are kept every this many samples (an even number), so a
// seek backwards decodes at most this many samples again.
constexpr int64_t kCheckpointSpacing = 65536;

class VoxSource final : public AudioSource {
public:
    VoxSource(UniqueFd file, int32_t sampleRate)
        : AudioSource(sampleRate, kVoxFullScale, 1), file_(std::move(file)) {
        checkpoints_.push_back(state_);
    }

    void Read(int32_t* buffer, int32_t frames) override {
        if (frames <= 0) return;
        const int64_t start = position_;
        position_ += frames;
        std::memset(buffer, 0, static_cast<size_t>(frames) * sizeof(int32_t));
        const int64_t first = std::max<int64_t>(start, 0);
        const int64_t last = std::min<int64_t>(start + frames, Length());
        if (first >= last) return;
        SyncTo(first);
        if (decoded_ != first) return;  // the file was cut short meanwhile
        Decode(buffer + (first - start), last - first);
    }

    int32_t Position() const override {
        return static_cast<int32_t>(std::clamp<int64_t>(position_, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    }

    int32_t Length() const override { return rawio::ClampFrames(rawio::SizeOf(file_.Get()) * 2); }

    // The decoder catches up lazily at the next Read.
    void Seek(int32_t position) override { position_ = position; }

private:
    // Brings the decoder to sample `target`. The state depends on every
    // earlier code, so the decoder starts from the last checkpoint at or
    // before the target when that is behind it or ahead of where it is, and
    // decodes the samples in between: the samples at a position never
    // depend on how the reader got there.
    void SyncTo(int64_t target) {
        const size_t i = std::min(static_cast<size_t>(target / kCheckpointSpacing), checkpoints_.size() - 1);
        const int64_t checkpoint = static_cast<int64_t>(i) * kCheckpointSpacing;
        if (target < decoded_ || checkpoint > decoded_) {
            state_ = checkpoints_[i];
            decoded_ = checkpoint;
            pending_ = false;
        }
        if (target > decoded_) Decode(nullptr, target - decoded_);
    }

    // Decodes up to count samples from the decoder's place into out (or
    // nowhere when out is null). Stops early at the end of the file.
    void Decode(int32_t* out, int64_t count) {
        int64_t done = 0;
        if (pending_ && count > 0) {
            const int32_t v = VoxDecode(state_, pendingByte_ & 0x0F);
            if (out) out[done] = v;
            pending_ = false;
            ++done;
            ++decoded_;
        }
        while (done < count) {
            const int64_t wanted = std::min<int64_t>((count - done + 1) / 2, kByteChunk);
            const int64_t got = ReadAt(file_.Get(), bytes_.data(), static_cast<size_t>(wanted), decoded_ / 2);
            if (got <= 0) return;
            for (int64_t i = 0; i < got; ++i) {
                const uint8_t b = bytes_[static_cast<size_t>(i)];
                const int32_t hi = VoxDecode(state_, b >> 4);
                if (out) out[done] = hi;
                ++done;
                ++decoded_;
                if (done == count) {
                    // An odd count ends inside this byte; its second code waits.
                    pending_ = true;
                    pendingByte_ = b;
                    return;
                }
                const int32_t lo = VoxDecode(state_, b & 0x0F);
                if (out) out[done] = lo;
                ++done;
                ++decoded_;
                if (decoded_ % kCheckpointSpacing == 0 &&
                    decoded_ / kCheckpointSpacing == static_cast<int64_t>(checkpoints_.size())) {
                    checkpoints_.push_back(state_);
                }
            }
        }
    }

    UniqueFd file_;
    VoxState state_;
    int64_t position_ = 0;
    int64_t decoded_ = 0;  // index of the next sample the decoder yields
    bool pending_ = false;
    uint8_t pendingByte_ = 0;
    std::vector<VoxState> checkpoints_;  // state at sample i * kCheckpointSpacing
    std::array<uint8_t, kByteChunk> bytes_{};
};

class VoxSink final : public AudioSink {
public:
    VoxSink(const std::string& path, int32_t sampleRate) : AudioSink(sampleRate, 1) {
        file_ = rawio::CreateForWriting(path, true);
        if (!file_) SetFailed();
    }
    ~VoxSink() override { Close(); }

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        if (!file_ || Failed()) return;
        size_t fill = 0;
        for (int32_t i = 0; i < frames; ++i) {
            const unsigned code = VoxEncode(state_, buffer[i]);
            ++samples_;
            if (!pending_) {
                pendingCode_ = code;
                pending_ = true;
                continue;
            }
            bytes_[fill++] = static_cast<uint8_t>(pendingCode_ << 4 | code);
            pending_ = false;
            if (fill == bytes_.size() && !Flush(fill)) return;
        }
        Flush(fill);
    }

    void TruncateTo(int32_t frames) override {
        if (!file_ || Failed() || frames >= samples_) return;
        // The encoder state is what a decoder reaches over the kept codes,
        // so decoding them again restores it exactly.
        const int64_t keepBytes = frames / 2;
        const bool odd = (frames & 1) != 0;
        state_ = VoxState{};
        pending_ = false;
        for (int64_t at = 0; at < keepBytes + (odd ? 1 : 0);) {
            const int64_t n = std::min<int64_t>(keepBytes + (odd ? 1 : 0) - at, kByteChunk);
            if (ReadAt(file_.Get(), bytes_.data(), static_cast<size_t>(n), at) != n) {
                SetFailed();
                return;
            }
            for (int64_t i = 0; i < n; ++i) {
                const uint8_t b = bytes_[static_cast<size_t>(i)];
                VoxDecode(state_, b >> 4);
                if (at + i == keepBytes) {
                    pendingCode_ = b >> 4;
                    pending_ = true;
                } else {
                    VoxDecode(state_, b & 0x0F);
                }
            }
            at += n;
        }
        if (::ftruncate(file_.Get(), static_cast<off_t>(keepBytes)) != 0) SetFailed();
        bytesWritten_ = keepBytes;
        samples_ = frames;
    }

    bool Finish() override {
        // A pending odd sample has no byte of its own and is dropped.
        return rawio::CloseChecked(file_) && !Failed();
    }

private:
    bool Flush(size_t& fill) {
        if (fill == 0) return true;
        if (!rawio::WriteAllAt(file_.Get(), bytes_.data(), fill, bytesWritten_)) {
            SetFailed();
            fill = 0;
            return false;
        }
        bytesWritten_ += static_cast<int64_t>(fill);
        fill = 0;
        return true;
    }

    UniqueFd file_;
    VoxState state_;
    bool pending_ = false;
    unsigned pendingCode_ = 0;
    int64_t bytesWritten_ = 0;
    int64_t samples_ = 0;
    std::array<uint8_t, kByteChunk> bytes_{};
};

}  // namespace

int32_t VoxDecode(VoxState& state, unsigned code) {
    const int32_t step = Step(state);
    return Apply(state, state.predictor - (state.predictor >> 6), step, code);
}

unsigned VoxEncode(VoxState& state, int32_t sample) {
    const int32_t step = Step(state);
    const int32_t leaked = state.predictor - (state.predictor >> 6);
    // 64 bits: the difference of two 32-bit values may not fit in 32.
    int64_t d = (static_cast<int64_t>(sample) - leaked) / step;
    unsigned code = 0;
    if (d < 0) {
        code = 8;
        d = -d;
    }
    if (d >= 132) {
        code |= 4;
        d -= 132;
    }
    if (d >= 66) {
        code |= 2;
        d -= 66;
    }
    if (d >= 33) code |= 1;
    Apply(state, leaked, step, code);
    return code;
}

Ref<AudioSource> OpenVoxSource(const std::string& path, int32_t sampleRate) {
    UniqueFd file = rawio::OpenForReading(path);
    if (!file) return MakeNullSource(kSourceCannotOpen);
    return MakeRef<VoxSource>(std::move(file), sampleRate);
}

Ref<AudioSink> CreateVoxSink(const std::string& path, int32_t sampleRate) {
    return MakeRef<VoxSink>(path, sampleRate);
}

}  // namespace sonitor
