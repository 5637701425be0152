#include "formats/mp3/Mp3Source.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace sonitor {

namespace {

constexpr size_t kReadBlock = 65536;
constexpr size_t kSearchPositions = 65536;
// Largest Layer III frame: 144000 * 320 / 32000 + 1 padding byte.
constexpr size_t kMaxFrameBytes = 1441;

int32_t ClampFrames(double frames) {
    if (!(frames < static_cast<double>(INT32_MAX))) return INT32_MAX;
    return frames > 0 ? static_cast<int32_t>(frames) : 0;
}

int32_t ClampFrames(int64_t frames) {
    return static_cast<int32_t>(std::clamp<int64_t>(frames, 0, INT32_MAX));
}

// Size of an ID3v2 tag starting at p (10 bytes available), or 0.
int64_t Id3v2Size(const uint8_t* p) {
    if (std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF) return 0;
    int64_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] & 0x80) return 0;
        size = size << 7 | p[i];
    }
    return 10 + size + ((p[5] & 0x10) ? 10 : 0);
}

}  // namespace

Mp3Source::Mp3Source(UniqueFd fd, int64_t fileSize)
    : AudioSource(44100, kFullScaleHeadroom, 2), fd_(std::move(fd)), fileSize_(fileSize) {}

const uint8_t* Mp3Source::Bytes(int64_t offset, size_t n) {
    if (offset < 0 || n > kReadBlock + kMaxFrameBytes + 8 || offset > fileSize_ ||
        static_cast<int64_t>(n) > fileSize_ - offset)
        return nullptr;
    if (offset >= bufferStart_ &&
        offset + static_cast<int64_t>(n) <= bufferStart_ + static_cast<int64_t>(bufferBytes_))
        return buffer_.data() + (offset - bufferStart_);
    const size_t want = static_cast<size_t>(std::min<int64_t>(std::max(n, kReadBlock), fileSize_ - offset));
    buffer_.resize(std::max(buffer_.size(), want));
    const int64_t got = ReadAt(fd_.Get(), buffer_.data(), want, offset);
    bufferStart_ = offset;
    bufferBytes_ = got > 0 ? static_cast<size_t>(got) : 0;
    return bufferBytes_ >= n ? buffer_.data() : nullptr;
}

bool Mp3Source::FrameAt(int64_t offset, Mp3Header* header) {
    const uint8_t* p = Bytes(offset, 4);
    if (!p) return false;
    const auto h = ParseMp3Header(p);
    if (!h || !h->SameStream(first_) || offset + h->FrameBytes() > audioEnd_) return false;
    *header = *h;
    return true;
}

bool Mp3Source::Locate(int64_t index) {
    while (static_cast<int64_t>(offsets_.size()) <= index) {
        Mp3Header h;
        if (!FrameAt(scanEnd_, &h)) return false;
        offsets_.push_back(scanEnd_);
        scanEnd_ += h.FrameBytes();
    }
    return true;
}

bool Mp3Source::DecodeNext(int32_t* out) {
    if (!Locate(nextFrame_)) return false;
    const int64_t offset = offsets_[static_cast<size_t>(nextFrame_)];
    Mp3Header h;
    if (!FrameAt(offset, &h)) return false;
    const uint8_t* p = Bytes(offset, static_cast<size_t>(h.FrameBytes()));
    if (!p) return false;
    if (decoder_.DecodeFrame(h, p, static_cast<size_t>(h.FrameBytes()), out) ==
        Mp3FrameDecoder::Result::kDamaged)
        return false;
    ++nextFrame_;
    bytesLeft_ = std::max<int64_t>(0, audioEnd_ - (offset + h.FrameBytes()));
    return true;
}

uint8_t Mp3Source::Open() {
    audioEnd_ = fileSize_;
    if (fileSize_ >= 128) {
        const uint8_t* tail = Bytes(fileSize_ - 128, 3);
        if (tail && std::memcmp(tail, "TAG", 3) == 0) audioEnd_ = fileSize_ - 128;
    }

    // ID3v2 tags (often large with pictures) come before the first frame.
    int64_t start = 0;
    for (;;) {
        const uint8_t* p = Bytes(start, 10);
        const int64_t tag = p ? Id3v2Size(p) : 0;
        if (tag == 0 || tag > audioEnd_ - start) break;
        start += tag;
    }

    // The search window, plus room to see the frame after a candidate.
    const size_t window = static_cast<size_t>(std::min<int64_t>(kSearchPositions + 3 + kMaxFrameBytes + 4,
                                                                std::max<int64_t>(0, audioEnd_ - start)));
    const uint8_t* p = Bytes(start, window);
    const int64_t found = p ? FindMp3FrameHeader(p, window, kSearchPositions, true) : -1;
    if (found < 0) return kSourceUnusable;
    const int64_t firstOffset = start + found;
    first_ = *ParseMp3Header(p + found);
    samplesPerFrame_ = first_.SamplesPerFrame();
    SetFormat(first_.SampleRate(), first_.Channels());
    frame_.assign(static_cast<size_t>(samplesPerFrame_) * first_.Channels(), 0);

    // An information frame describes the stream and is skipped.
    scanEnd_ = firstOffset;
    const size_t firstBytes = static_cast<size_t>(first_.FrameBytes());
    if (const uint8_t* f = firstOffset + static_cast<int64_t>(firstBytes) <= audioEnd_
                               ? Bytes(firstOffset, firstBytes)
                               : nullptr) {
        const Mp3InfoFrame info = ParseMp3InfoFrame(first_, f, firstBytes);
        if (info.present) {
            infoFrame_ = true;
            frameCount_ = info.frameCount;  // 0 gives no count and no division by it
            scanEnd_ = firstOffset + static_cast<int64_t>(firstBytes);
        }
    }

    // The audio data run from the first audio frame to the end of the file
    // or to an ID3v1 tag. Taking 128 bytes off for a tag that is not there
    // would end short streams a frame early.
    dataBytes_ = std::max<int64_t>(0, audioEnd_ - scanEnd_);
    bytesLeft_ = dataBytes_;
    if (frameCount_ > 0) {
        averageBitrate_ = first_.BitrateKbps() * 1000.0;
        averageFrameBytes_ = static_cast<double>(dataBytes_) / frameCount_;
        length_ = ClampFrames(static_cast<int64_t>(frameCount_) * samplesPerFrame_);
    } else {
        Locate(7);
        double sum = 0;
        Mp3Header h;
        for (int64_t offset : offsets_)
            if (FrameAt(offset, &h)) sum += h.BitrateKbps() * 1000.0;
        averageBitrate_ =
            offsets_.empty() ? first_.BitrateKbps() * 1000.0 : sum / static_cast<double>(offsets_.size());
        averageFrameBytes_ = (first_.Lsf() ? 72 : 144) * averageBitrate_ / first_.SampleRate();
        length_ =
            ClampFrames(static_cast<double>(static_cast<int64_t>(dataBytes_ / averageFrameBytes_ + 0.9)) *
                        samplesPerFrame_);
    }
    return kSourceOk;
}

void Mp3Source::Reestimate(int64_t frameStart) {
    int64_t rest = static_cast<int64_t>(static_cast<double>(bytesLeft_) / averageFrameBytes_ + 0.9);
    // Bytes left count as one more frame at least: a short last frame of a
    // stream whose first frames were long would otherwise never be read. If
    // they hold no frame, decoding fails there and the length comes back.
    if (bytesLeft_ > 0) rest = std::max<int64_t>(rest, 1);
    length_ = ClampFrames(static_cast<double>(frameStart) + static_cast<double>(rest + 1) * samplesPerFrame_);
}

void Mp3Source::Read(int32_t* buffer, int32_t frames) {
    if (frames <= 0) return;
    const int channels = Channels();
    int64_t pos = position_;
    position_ = static_cast<int32_t>(std::clamp<int64_t>(pos + frames, INT32_MIN, INT32_MAX));
    int64_t owed = frames;
    int32_t* out = buffer;
    auto zero = [&](int64_t n) {
        std::fill(out, out + n * channels, 0);
        out += n * channels;
        pos += n;
        owed -= n;
    };
    if (pos < 0) zero(std::min(owed, -pos));
    while (owed > 0) {
        if (pos >= length_) {
            zero(owed);
            break;
        }
        if (readIndex_ < frameFill_) {
            const int64_t n = std::min({owed, static_cast<int64_t>(frameFill_ - readIndex_), length_ - pos});
            std::memcpy(out, frame_.data() + static_cast<size_t>(readIndex_) * channels,
                        static_cast<size_t>(n) * channels * sizeof(int32_t));
            out += n * channels;
            readIndex_ += static_cast<int32_t>(n);
            pos += n;
            owed -= n;
            continue;
        }
        // Whole frames that fit go straight into the caller's buffer.
        const bool direct = owed >= samplesPerFrame_ && length_ - pos >= samplesPerFrame_;
        frameFill_ = readIndex_ = 0;
        if (!DecodeNext(direct ? out : frame_.data())) {
            // The stream ends here.
            length_ = static_cast<int32_t>(pos);
            zero(owed);
            break;
        }
        if (frameCount_ == 0) Reestimate(pos);
        if (direct) {
            out += static_cast<size_t>(samplesPerFrame_) * channels;
            pos += samplesPerFrame_;
            owed -= samplesPerFrame_;
        } else {
            frameFill_ = samplesPerFrame_;
        }
    }
}

bool Mp3Source::MainData(int64_t index, int* bytes, int* reach) {
    Mp3Header h;
    if (!Locate(index) || !FrameAt(offsets_[static_cast<size_t>(index)], &h)) return false;
    const uint8_t* p = Bytes(offsets_[static_cast<size_t>(index)] + h.HeaderBytes(), 2);
    if (!p) return false;
    *bytes = h.FrameBytes() - h.HeaderBytes() - h.SideInfoBytes();
    *reach = h.Lsf() ? p[0] : (p[0] << 1 | p[1] >> 7);  // main_data_begin
    return true;
}

int64_t Mp3Source::FirstPrerollFrame(int64_t index) {
    int64_t first = index - Mp3SeekPreroll(index);
    // The target's output also carries the IMDCT overlap and filter history
    // of the two frames before it, which must find their bit-reservoir data
    // among the frames decoded first. At low bitrates that data lie more
    // than four frames back.
    const int64_t anchor = index - 2;
    int anchorBytes = 0, need = 0;
    if (anchor <= first || !MainData(anchor, &anchorBytes, &need)) return first;
    int64_t available = 0;
    int bytes = 0, reach = 0;
    for (int64_t i = first; i < anchor; ++i) {
        if (!MainData(i, &bytes, &reach)) return first;
        available += bytes;
    }
    while (first > 0 && available < need && MainData(first - 1, &bytes, &reach)) {
        --first;
        available += bytes;
    }
    return first;
}

void Mp3Source::Seek(int32_t position) {
    position_ = position;
    const int64_t target = std::clamp<int64_t>(position, 0, length_);
    const int64_t index = target / samplesPerFrame_;
    decoder_.Reset();
    frameFill_ = readIndex_ = 0;
    // The frame index gives the exact frame, where an estimate from the
    // average frame size would land on a neighbour in VBR streams.
    nextFrame_ = FirstPrerollFrame(index);
    lastPreroll_ = index - nextFrame_;
    while (nextFrame_ < index)
        if (!DecodeNext(frame_.data())) return;
    if (!DecodeNext(frame_.data())) return;
    frameFill_ = samplesPerFrame_;
    readIndex_ = static_cast<int32_t>(target % samplesPerFrame_);
}

Ref<AudioSource> OpenMp3Source(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return MakeNullSource(kSourceCannotOpen);
    Ref<Mp3Source> source = MakeRef<Mp3Source>(std::move(fd), static_cast<int64_t>(st.st_size));
    const uint8_t status = source->Open();
    if (status != kSourceOk) return MakeNullSource(status);
    return source;
}

}  // namespace sonitor
