// Throughput of the peak limiter and the channel converter against a plain
// copy of the same frames.
//
//   stream_bench [benchmark flags]
//
// Every case reads ten seconds of 44.1 kHz material held in memory, in
// 8192-frame blocks, starting over at the end; items_per_second counts
// frames.
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "foundation/ConvertStream.h"
#include "foundation/PeakLimiter.h"

namespace sonitor {
namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kFrames = 10 * kRate;
constexpr int32_t kBlock = kMaxTransferFrames;

class MemorySource final : public AudioSource {
public:
    MemorySource(const std::vector<int32_t>& samples, int channels)
        : AudioSource(kRate, kFullScaleHeadroom, channels), samples_(samples) {}
    void Read(int32_t* buffer, int32_t frames) override {
        const int ch = Channels();
        const int32_t inside = std::clamp(Length() - position_, 0, frames);
        if (position_ >= 0 && inside > 0)
            std::memcpy(buffer, samples_.data() + static_cast<size_t>(position_) * ch,
                        static_cast<size_t>(inside) * ch * sizeof(int32_t));
        else
            std::memset(buffer, 0, static_cast<size_t>(frames) * ch * sizeof(int32_t));
        if (position_ >= 0 && inside < frames)
            std::memset(buffer + static_cast<size_t>(inside) * ch, 0,
                        static_cast<size_t>(frames - inside) * ch * sizeof(int32_t));
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return static_cast<int32_t>(samples_.size() / Channels()); }
    void Seek(int32_t position) override { position_ = position; }

private:
    const std::vector<int32_t>& samples_;
    int32_t position_ = 0;
};

// Noise of the given peak level.
const std::vector<int32_t>& Noise(int channels, int32_t level) {
    static std::vector<std::vector<int32_t>> made;
    static std::vector<std::pair<int, int32_t>> keys;
    for (size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == std::pair(channels, level)) return made[i];
    std::mt19937 rng(static_cast<uint32_t>(channels * 7919 + level));
    std::uniform_int_distribution<int32_t> value(-level, level);
    std::vector<int32_t> v(static_cast<size_t>(kFrames) * channels);
    for (auto& s : v)
        s = value(rng);
    keys.emplace_back(channels, level);
    made.push_back(std::move(v));
    return made.back();
}

void Pump(benchmark::State& state, const Ref<AudioSource>& source) {
    std::vector<int32_t> buffer(static_cast<size_t>(kBlock) * source->Channels());
    int64_t frames = 0;
    for (auto _ : state) {
        if (source->Position() >= source->Length()) source->Seek(0);
        source->Read(buffer.data(), kBlock);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
        frames += kBlock;
    }
    state.SetItemsProcessed(frames);
}

constexpr int32_t kLoud = 4 * kFullScale16;   // the gain works on every block
constexpr int32_t kQuiet = kFullScale16 / 2;  // copied through

void BM_PlainCopyStereo(benchmark::State& state) {
    Pump(state, MakeRef<MemorySource>(Noise(2, kLoud), 2));
}
void BM_PlainCopyMono(benchmark::State& state) {
    Pump(state, MakeRef<MemorySource>(Noise(1, kLoud), 1));
}
void BM_LimiterLoudStereo(benchmark::State& state) {
    Pump(state, LimitPeaks(MakeRef<MemorySource>(Noise(2, kLoud), 2)));
}
void BM_LimiterQuietStereo(benchmark::State& state) {
    Pump(state, LimitPeaks(MakeRef<MemorySource>(Noise(2, kQuiet), 2)));
}
void BM_StereoToMono(benchmark::State& state) {
    Pump(state, ConvertChannels(MakeRef<MemorySource>(Noise(2, kLoud), 2), 1));
}
void BM_MonoToStereo(benchmark::State& state) {
    Pump(state, ConvertChannels(MakeRef<MemorySource>(Noise(1, kLoud), 1), 2));
}

BENCHMARK(BM_PlainCopyStereo);
BENCHMARK(BM_PlainCopyMono);
BENCHMARK(BM_LimiterLoudStereo);
BENCHMARK(BM_LimiterQuietStereo);
BENCHMARK(BM_StereoToMono);
BENCHMARK(BM_MonoToStereo);

}  // namespace
}  // namespace sonitor

BENCHMARK_MAIN();
