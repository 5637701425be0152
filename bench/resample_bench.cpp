// Rate conversion of a 16-bit WAV file with ResampleStream, and the helpers
// bench/run-resample needs to compare it with sox:
//
//   resample_bench IN.wav OUT.wav RATE      convert; prints the conversion time
//   resample_bench --tones OUT.wav RATE SECONDS AMPLITUDE FREQ...
//                                           write a 16-bit stereo sum of sines
//   resample_bench --measure IN.wav FREQ... level (dBFS) of each frequency in
//                                           channel 0
//
// The WAV handling is the bare minimum for 16-bit PCM files as sox writes them.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "foundation/AudioSource.h"
#include "foundation/ResampleStream.h"

namespace {

using sonitor::AudioSource;
using sonitor::Ref;

struct Wav {
    int32_t rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
    int64_t Frames() const { return static_cast<int64_t>(samples.size()) / channels; }
};

uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

struct File {
    explicit File(const std::string& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {}
    ~File() {
        if (f) std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    std::FILE* f;
};

// Reads the header of a 16-bit PCM file and leaves the file at the first
// sample; sets rate, channels and frames.
bool OpenWav(std::FILE* f, int32_t& rate, int& channels, int64_t& frames) {
    unsigned char head[12];
    if (!f || std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    bool haveFormat = false;
    unsigned char chunk[8];
    while (std::fread(chunk, 1, 8, f) == 8) {
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0 && haveFormat) {
            frames = size / (2 * channels);
            return true;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && size < 1024) {
            unsigned char body[1024];
            if (std::fread(body, 1, size + (size & 1), f) != size + (size & 1)) return false;
            const uint16_t format = Le16(body);
            channels = Le16(body + 2);
            rate = static_cast<int32_t>(Le32(body + 4));
            if ((format != 1 && format != 0xFFFE) || Le16(body + 14) != 16 || channels == 0) return false;
            haveFormat = true;
        } else if (std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            return false;
        }
    }
    return false;
}

// Samples are little-endian on disk, as on every machine this runs on.
bool ReadWav(const std::string& path, Wav& wav) {
    File file(path, "rb");
    int64_t frames = 0;
    if (!OpenWav(file.f, wav.rate, wav.channels, frames)) return false;
    wav.samples.resize(static_cast<size_t>(frames) * wav.channels);
    wav.samples.resize(std::fread(wav.samples.data(), 2, wav.samples.size(), file.f) / wav.channels *
                       wav.channels);
    return true;
}

bool WriteWavHeader(std::FILE* f, int32_t rate, int channels, int64_t frames) {
    const auto data = static_cast<uint32_t>(frames * channels * 2);
    unsigned char h[44];
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    auto put16 = [&](size_t at, uint32_t v) {
        h[at] = static_cast<unsigned char>(v);
        h[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    std::memcpy(&h[0], "RIFF", 4);
    put32(4, 36 + data);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, static_cast<uint32_t>(channels));
    put32(24, static_cast<uint32_t>(rate));
    put32(28, static_cast<uint32_t>(rate * channels * 2));
    put16(32, static_cast<uint32_t>(channels * 2));
    put16(34, 16);
    std::memcpy(&h[36], "data", 4);
    put32(40, data);
    return f && std::fwrite(h, 1, 44, f) == 44;
}

// A file reader as the editor's would be: reads the file as asked, samples
// on the internal scale, silence outside the file.
class WavFileSource final : public AudioSource {
public:
    WavFileSource(std::FILE* f, int32_t rate, int channels, int64_t frames)
        : AudioSource(rate, sonitor::kFullScale16, channels),
          file_(f),
          start_(std::ftell(f)),
          frames_(static_cast<int32_t>(frames)),
          raw_(static_cast<size_t>(sonitor::kMaxTransferFrames) * channels) {}
    void Read(int32_t* buffer, int32_t frames) override {
        const int c = Channels();
        const int64_t from = std::clamp<int64_t>(position_, 0, frames_);
        const int64_t to = std::clamp<int64_t>(int64_t{position_} + frames, 0, frames_);
        std::fill(buffer, buffer + static_cast<size_t>(frames) * c, 0);
        if (from < to) {
            if (filePosition_ != from) std::fseek(file_, static_cast<long>(start_ + from * 2 * c), SEEK_SET);
            const size_t n = std::fread(raw_.data(), 2 * c, static_cast<size_t>(to - from), file_);
            filePosition_ = from + static_cast<int64_t>(n);
            int32_t* out = buffer + (from - position_) * c;
            for (size_t i = 0; i < n * c; ++i)
                out[i] = 16 * raw_[i];
        }
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return frames_; }
    void Seek(int32_t position) override { position_ = position; }

private:
    std::FILE* file_;
    long start_;
    int32_t frames_;
    std::vector<int16_t> raw_;
    int32_t position_ = 0;
    int64_t filePosition_ = 0;
};

// Streams the conversion from file to file in transfer-sized pieces; the
// time reported is spent in the converter's Read, input reading included.
int Convert(const std::string& inPath, const std::string& outPath, int32_t rate) {
    File in(inPath, "rb");
    int32_t inRate = 0;
    int channels = 0;
    int64_t inFrames = 0;
    if (!OpenWav(in.f, inRate, channels, inFrames)) {
        std::fprintf(stderr, "resample_bench: cannot read %s as 16-bit PCM WAV\n", inPath.c_str());
        return 1;
    }
    Ref<AudioSource> stream =
        sonitor::ResampleStream(sonitor::MakeRef<WavFileSource>(in.f, inRate, channels, inFrames), rate);
    const int64_t frames = stream->Length();
    File out(outPath, "wb");
    if (!WriteWavHeader(out.f, rate, channels, frames)) {
        std::fprintf(stderr, "resample_bench: cannot write %s\n", outPath.c_str());
        return 1;
    }
    std::vector<int32_t> block(static_cast<size_t>(sonitor::kMaxTransferFrames) * channels);
    std::vector<int16_t> pcm(block.size());
    std::chrono::steady_clock::duration spent{};
    for (int64_t done = 0; done < frames;) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(frames - done, sonitor::kMaxTransferFrames));
        const auto t0 = std::chrono::steady_clock::now();
        stream->Read(block.data(), n);
        spent += std::chrono::steady_clock::now() - t0;
        // Back to 16 bits as they come: the output keeps the converter's gain.
        for (size_t i = 0; i < static_cast<size_t>(n) * channels; ++i)
            pcm[i] = static_cast<int16_t>(std::clamp((block[i] + 8) >> 4, -32768, 32767));
        if (std::fwrite(pcm.data(), 2 * channels, static_cast<size_t>(n), out.f) != static_cast<size_t>(n)) {
            std::fprintf(stderr, "resample_bench: cannot write %s\n", outPath.c_str());
            return 1;
        }
        done += n;
    }
    std::printf("frames_in=%lld frames_out=%lld seconds=%.3f\n", static_cast<long long>(inFrames),
                static_cast<long long>(frames), std::chrono::duration<double>(spent).count());
    return 0;
}

int Tones(const std::string& outPath, int32_t rate, double seconds, double amplitude,
          const std::vector<double>& freqs) {
    const auto frames = static_cast<size_t>(seconds * rate);
    Wav out{rate, 2, std::vector<int16_t>(2 * frames)};
    for (size_t n = 0; n < frames; ++n) {
        double v = 0;
        for (double f : freqs)
            v += std::sin(2 * std::numbers::pi * f * static_cast<double>(n) / rate);
        out.samples[2 * n] = out.samples[2 * n + 1] =
            static_cast<int16_t>(std::lround(32767 * amplitude * v));
    }
    File file(outPath, "wb");
    return WriteWavHeader(file.f, rate, 2, static_cast<int64_t>(frames)) &&
                   std::fwrite(out.samples.data(), 2, out.samples.size(), file.f) == out.samples.size()
               ? 0
               : 1;
}

// Blackman-Harris windowed DFT of channel 0 without the first and last 5%.
// A converter whose step only approximates the ratio shifts every frequency
// a little, so the largest value within 0.05% (and 1 Hz) of each frequency
// counts. Meant for files of a few seconds.
int Measure(const std::string& inPath, const std::vector<double>& freqs) {
    Wav in;
    if (!ReadWav(inPath, in)) {
        std::fprintf(stderr, "resample_bench: cannot read %s as 16-bit PCM WAV\n", inPath.c_str());
        return 1;
    }
    const size_t skip = static_cast<size_t>(in.Frames() / 20);
    const size_t n = static_cast<size_t>(in.Frames()) - 2 * skip;
    std::vector<double> x(n);
    double wsum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double a = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1);
        const double w =
            0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
        x[i] = w * in.samples[(skip + i) * in.channels] / 32768.0;
        wsum += w;
    }
    for (double f : freqs) {
        const double span = f * 0.0005 + 1;
        double best = 0;
        // An eighth of a bin apart: the window's main lobe is eight bins wide.
        for (double g = f - span; g <= f + span; g += in.rate / (8.0 * static_cast<double>(n))) {
            const std::complex<double> turn = std::polar(1.0, -2 * std::numbers::pi * g / in.rate);
            std::complex<double> rot = 1, acc = 0;
            for (size_t i = 0; i < n; ++i) {
                acc += x[i] * rot;
                rot *= turn;
            }
            best = std::max(best, 2 * std::abs(acc) / wsum);
        }
        std::printf("%g %.2f\n", f, 20 * std::log10(std::max(best, 1e-12)));
    }
    return 0;
}

std::vector<double> Numbers(char** first, char** last) {
    std::vector<double> v;
    for (; first != last; ++first)
        v.push_back(std::atof(*first));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--tones" && argc >= 7)
        return Tones(argv[2], std::atoi(argv[3]), std::atof(argv[4]), std::atof(argv[5]),
                     Numbers(argv + 6, argv + argc));
    if (mode == "--measure" && argc >= 4) return Measure(argv[2], Numbers(argv + 3, argv + argc));
    if (argc == 4 && mode.rfind("--", 0) != 0) return Convert(argv[1], argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: resample_bench IN.wav OUT.wav RATE\n"
                 "       resample_bench --tones OUT.wav RATE SECONDS AMPLITUDE FREQ...\n"
                 "       resample_bench --measure IN.wav FREQ...\n");
    return 2;
}
