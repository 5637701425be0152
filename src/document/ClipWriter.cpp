#include "document/ClipWriter.h"

#include <algorithm>
#include <bit>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace sonitor {

static_assert(std::endian::native == std::endian::little);

namespace {

constexpr int32_t kBlockFrames = 256;
constexpr size_t kAudioBufferBytes = size_t{1} << 20;
constexpr size_t kOverviewBufferBytes = 4096;

UniqueFd CreateWorkingFile(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0600));
}

// Cuts a file back to `bytes` and continues writing there.
bool CutFile(UniqueFd& fd, int64_t bytes) {
    return ::ftruncate(fd.Get(), bytes) == 0 && ::lseek(fd.Get(), bytes, SEEK_SET) == bytes;
}

// Whole blocks of 1, 2 or 4 channels are scanned four samples at a time,
// lane i % 4 belonging to channel i % channels; with the fixed trip count the
// compiler turns this into vector max/min.
template <int Channels>
void ScanWholeBlock(const int32_t* s, int32_t* maxima, int32_t* minima) {
    constexpr int kLanes = 4;
    int32_t hi[kLanes] = {};
    int32_t lo[kLanes] = {};
    for (int i = 0; i < kBlockFrames * Channels; i += kLanes) {
        for (int l = 0; l < kLanes; ++l) {
            // Plain selects: std::max's references keep GCC from vectorising.
            const int32_t v = s[i + l];
            hi[l] = v > hi[l] ? v : hi[l];
            lo[l] = v < lo[l] ? v : lo[l];
        }
    }
    for (int l = 0; l < kLanes; ++l) {
        maxima[l % Channels] = std::max(maxima[l % Channels], hi[l]);
        minima[l % Channels] = std::min(minima[l % Channels], lo[l]);
    }
}

void ScanPeaks(const int32_t* s, int32_t frames, int channels, int32_t* maxima, int32_t* minima) {
    if (frames == kBlockFrames) {
        switch (channels) {
            case 1:
                return ScanWholeBlock<1>(s, maxima, minima);
            case 2:
                return ScanWholeBlock<2>(s, maxima, minima);
            case 4:
                return ScanWholeBlock<4>(s, maxima, minima);
            default:
                break;
        }
    }
    for (int32_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const int32_t v =
                s[static_cast<size_t>(f) * static_cast<size_t>(channels) + static_cast<size_t>(c)];
            maxima[c] = std::max(maxima[c], v);
            minima[c] = std::min(minima[c], v);
        }
    }
}

}  // namespace

ClipWriter::ClipWriter(AudioClip* target, int32_t sampleRate, int channels)
    : AudioSink(sampleRate, channels),
      target_(target),
      id_(WorkingFileTable::Instance().TakeId()),
      channels_(Channels()),
      maxima_(static_cast<size_t>(channels_), 0),
      minima_(static_cast<size_t>(channels_), 0) {
    if (id_ == kSilenceFileId) {
        SetFailed();
        return;
    }
    audio_ = CreateWorkingFile(WorkingFileTable::AudioPath(id_));
    overview_ = CreateWorkingFile(WorkingFileTable::OverviewPath(id_));
    if (!audio_ || !overview_) SetFailed();
    const size_t frameBytes = static_cast<size_t>(channels_) * sizeof(int32_t);
    audioBuffer_.reserve(std::max<size_t>(1, kAudioBufferBytes / frameBytes) *
                         static_cast<size_t>(channels_));
    overviewBuffer_.reserve(kOverviewBufferBytes + 2 * static_cast<size_t>(channels_));
}

ClipWriter::~ClipWriter() {
    Close();
}

void ClipWriter::WriteFrames(const int32_t* buffer, int32_t frames) {
    FeedOverview(buffer, frames);
    if (!audio_) return;
    size_t samples = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
    const size_t capacity = audioBuffer_.capacity();
    while (samples > 0) {
        if (audioBuffer_.empty() && samples >= capacity) {
            // Large writes go out from the caller's buffer directly.
            if (!WriteAll(audio_.Get(), buffer, samples * sizeof(int32_t))) {
                SetFailed();
                audio_.Reset();
                return;
            }
            audioFileFrames_ += static_cast<int64_t>(samples / static_cast<size_t>(channels_));
            return;
        }
        const size_t k = std::min(samples, capacity - audioBuffer_.size());
        audioBuffer_.insert(audioBuffer_.end(), buffer, buffer + k);
        buffer += k;
        samples -= k;
        if (audioBuffer_.size() == capacity && !FlushAudio()) return;
    }
}

void ClipWriter::FeedOverview(const int32_t* frames, int32_t count) {
    while (count > 0) {
        const int32_t k = std::min(kBlockFrames - blockCount_, count);
        ScanPeaks(frames, k, channels_, maxima_.data(), minima_.data());
        frames += static_cast<size_t>(k) * static_cast<size_t>(channels_);
        count -= k;
        blockCount_ += k;
        if (blockCount_ == kBlockFrames) FlushBlock();
    }
}

void ClipWriter::FlushBlock() {
    for (int c = 0; c < channels_; ++c) {
        overviewBuffer_.push_back(OverviewPeakByte(maxima_[c]));
        overviewBuffer_.push_back(OverviewPeakByte(-int64_t{minima_[c]}));
        maxima_[c] = 0;
        minima_[c] = 0;
    }
    blockCount_ = 0;
    if (overviewBuffer_.size() >= kOverviewBufferBytes) FlushOverview();
}

bool ClipWriter::FlushAudio() {
    bool ok = true;
    if (audio_ && !audioBuffer_.empty()) {
        ok = WriteAll(audio_.Get(), audioBuffer_.data(), audioBuffer_.size() * sizeof(int32_t));
        if (ok) {
            audioFileFrames_ += static_cast<int64_t>(audioBuffer_.size() / static_cast<size_t>(channels_));
        } else {
            // Disk full, most likely: what reached the disk stays readable,
            // the rest of the segment reads as silence.
            SetFailed();
            audio_.Reset();
        }
    }
    audioBuffer_.clear();
    return ok;
}

bool ClipWriter::FlushOverview() {
    bool ok = true;
    if (overview_ && !overviewBuffer_.empty()) {
        ok = WriteAll(overview_.Get(), overviewBuffer_.data(), overviewBuffer_.size());
        if (ok) {
            overviewFileBytes_ += static_cast<int64_t>(overviewBuffer_.size());
        } else {
            SetFailed();
            overview_.Reset();
        }
    }
    overviewBuffer_.clear();
    return ok;
}

void ClipWriter::TruncateTo(int32_t frames) {
    FlushAudio();
    FlushOverview();
    const int64_t channels = channels_;
    if (audio_) {
        const int64_t bytes = int64_t{frames} * channels * int64_t{sizeof(int32_t)};
        if (CutFile(audio_, bytes)) {
            audioFileFrames_ = std::min<int64_t>(audioFileFrames_, frames);
        } else {
            SetFailed();
            audio_.Reset();
        }
    }
    if (overview_) {
        const int64_t bytes = int64_t{frames / kBlockFrames} * channels * 2;
        if (CutFile(overview_, bytes)) {
            overviewFileBytes_ = std::min(overviewFileBytes_, bytes);
        } else {
            SetFailed();
            overview_.Reset();
        }
    }
    ReseedBlock(frames % kBlockFrames);
}

// After a cut inside a block, the peaks of the block's remaining frames are
// taken from the file again, so the block's overview entry still describes
// exactly the samples that stay.
void ClipWriter::ReseedBlock(int32_t framesInBlock) {
    std::fill(maxima_.begin(), maxima_.end(), 0);
    std::fill(minima_.begin(), minima_.end(), 0);
    blockCount_ = 0;
    if (framesInBlock == 0) return;
    std::vector<int32_t> block(static_cast<size_t>(framesInBlock) * static_cast<size_t>(channels_), 0);
    if (audio_) {
        const size_t bytes = block.size() * sizeof(int32_t);
        const int64_t offset = (audioFileFrames_ - framesInBlock) * channels_ * int64_t{sizeof(int32_t)};
        const int64_t got = ReadAt(audio_.Get(), block.data(), bytes, offset);
        if (got != static_cast<int64_t>(bytes)) SetFailed();
    }
    FeedOverview(block.data(), framesInBlock);
}

bool ClipWriter::Finish() {
    if (blockCount_ > 0) FlushBlock();
    bool ok = FlushAudio();
    ok = FlushOverview() && ok;
    audio_.Reset();
    overview_.Reset();
    maxima_.clear();
    minima_.clear();
    std::vector<int32_t>().swap(audioBuffer_);

    const int32_t frames = FramesWritten();
    AudioClip clip(static_cast<uint32_t>(SampleRate()), static_cast<uint8_t>(channels_));
    if (frames > 0) {
        // The writer's own reference passes to the segment. Without an id the
        // written length is kept as silence.
        clip.AppendOwnedSegment(ClipSegment{id_, frames, kUnityGain, 0});
    } else {
        WorkingFileTable::Instance().Release(id_);
    }
    if (target_ != nullptr) {
        *target_ = std::move(clip);
    } else {
        result_ = std::move(clip);
    }
    return ok;
}

Ref<ClipWriter> CreateClipWriter(AudioClip* target, int32_t sampleRate, int channels) {
    return MakeRef<ClipWriter>(target, sampleRate, channels);
}

}  // namespace sonitor
