// The wave picture on a one-hour 44.1 kHz stereo document (written into
// working files once, about 1.3 GB): a full-width (1600 columns) computation
// of the whole document from the overview files, called directly, and the
// same through the worker (a new span, then waiting until it is idle), which
// adds the wake-up and the hand-over. The goal for the first is under 20 ms
// with the overview files in the page cache.
//
//   wave_bench [benchmark flags]
//
// The working folder is a private one below $SONITOR_BENCH_DIR, $TMPDIR or
// /tmp, removed at exit.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchBase.h"
#include "document/AudioClip.h"
#include "document/ClipWriter.h"
#include "document/SoundDocument.h"
#include "document/WavePicture.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {
namespace {

constexpr int32_t kRate = 44100;
constexpr int kChannels = 2;
constexpr int32_t kHourFrames = 3600 * kRate;
constexpr int32_t kBlockFrames = 8192;
constexpr int kColumns = 1600;

SoundDocument* gDocument = nullptr;

// Noise whose level changes every block, so that the overview is not flat.
AudioClip WriteHour() {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, kRate, kChannels);
    std::vector<int32_t> block(static_cast<size_t>(kBlockFrames) * kChannels);
    uint32_t x = 12345;
    for (int32_t done = 0; done < kHourFrames; done += kBlockFrames) {
        const int32_t level =
            static_cast<int32_t>((static_cast<uint32_t>(done) / kBlockFrames * 7919u) % 524272u) + 1;
        for (int32_t& s : block) {
            x = x * 1664525u + 1013904223u;
            s = static_cast<int32_t>(x % (2u * static_cast<uint32_t>(level))) - level;
        }
        writer->Write(block.data(), std::min(kBlockFrames, kHourFrames - done));
    }
    writer->Close();
    return clip;
}

void AttachWhole(WavePicture& picture) {
    picture.Resize(kColumns + 2, 200);
    picture.Attach(*gDocument, WavePicture::kCombined, false);
    picture.SetView(0, gDocument->Length());
    picture.WaitIdle(60000);
}

void BM_ComputeFromPeaks(benchmark::State& state) {
    WavePicture picture;
    AttachWhole(picture);
    for (auto _ : state) {
        picture.ComputeFromPeaks(0, kColumns);
    }
}
BENCHMARK(BM_ComputeFromPeaks)->Unit(benchmark::kMillisecond)->UseRealTime();

// Two spans one frame apart, so that every request is a full recompute.
void BM_RecomputeThroughWorker(benchmark::State& state) {
    WavePicture picture;
    AttachWhole(picture);
    int32_t trim = 0;
    for (auto _ : state) {
        trim ^= 1;
        picture.SetView(0, gDocument->Length() - trim);
        if (!picture.WaitIdle(60000)) state.SkipWithError("the worker did not finish");
    }
}
BENCHMARK(BM_RecomputeThroughWorker)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace sonitor

int main(int argc, char** argv) {
    sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private, sonitor::BenchBase());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    {
        sonitor::SoundDocument document;
        const auto t0 = std::chrono::steady_clock::now();
        document.clip = sonitor::WriteHour();
        std::printf("wrote one hour of stereo in %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        std::fflush(stdout);
        sonitor::gDocument = &document;
        benchmark::RunSpecifiedBenchmarks();
        sonitor::gDocument = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
