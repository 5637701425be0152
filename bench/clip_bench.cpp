// Clip editing and clip file throughput.
//
//   clip_bench [benchmark flags]
//       Cut, paste, delete and undo snapshots on a one-hour stereo document
//       made of 1,000 or 10,000 segments.
//   clip_bench --io DIR [--seconds N] [--read-rounds R] [--pause]
//       Writes N seconds (default 3600) of 44.1 kHz stereo through a
//       ClipWriter in 8192-frame blocks into a working folder below DIR, then
//       reads it back R times (default 1) through a ClipReader. With --pause
//       it waits for a line
//       on stdin after each phase, so that a script can run peer tools on
//       the same disk in between (see run-clip-io).
//
// The working folder is a private one below $SONITOR_BENCH_DIR, $TMPDIR or
// /tmp (or DIR), removed at exit.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchBase.h"
#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {
namespace {

constexpr int32_t kRate = 44100;
constexpr int kChannels = 2;
constexpr int32_t kHourFrames = 3600 * kRate;  // 158,760,000
constexpr int32_t kBlockFrames = 8192;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// --- Editing ------------------------------------------------------------------

// A few real working files, long enough for the longest segment. Made in
// main() so that they go before the working folder does.
std::vector<AudioClip>* gFiles = nullptr;

std::vector<AudioClip> MakeFiles() {
    std::vector<AudioClip> files;
    const int32_t frames = kHourFrames / 1000;
    std::vector<int32_t> s(static_cast<size_t>(frames) * kChannels);
    for (uint32_t f = 0; f < 4; ++f) {
        for (size_t i = 0; i < s.size(); ++i) {
            s[i] = static_cast<int32_t>((i * 2654435761u + f) % 1048576) - 524288;
        }
        AudioClip clip;
        Ref<ClipWriter> writer = CreateClipWriter(&clip, kRate, kChannels);
        for (int32_t done = 0; done < frames; done += kBlockFrames) {
            writer->Write(s.data() + static_cast<size_t>(done) * kChannels,
                          std::min(kBlockFrames, frames - done));
        }
        writer->Close();
        files.push_back(clip);
    }
    return files;
}

// One hour in `segments` equal segments spread over the files.
AudioClip HourDocument(int32_t segments) {
    const std::vector<AudioClip>& files = *gFiles;
    const int32_t each = kHourFrames / segments;
    AudioClip doc(kRate, kChannels);
    for (int32_t i = 0; i < segments; ++i) {
        const ClipSegment& file = files[static_cast<size_t>(i) % files.size()].Segments()[0];
        const int32_t room = file.frames - each;
        WorkingFileTable::Instance().AddRef(file.fileId);
        doc.AppendOwnedSegment(
            {file.fileId, each, kUnityGain, room > 0 ? static_cast<int32_t>((i * 7919LL) % room) : 0});
    }
    return doc;
}

// Runs `op` on a fresh copy of the document at random one-second ranges;
// only the operation is timed.
template <class Op>
void TimeEdit(benchmark::State& state, Op op) {
    const AudioClip pristine = HourDocument(static_cast<int32_t>(state.range(0)));
    std::mt19937 rng(1);
    AudioClip doc = pristine;
    for (auto _ : state) {
        const int32_t start = static_cast<int32_t>(rng() % static_cast<uint32_t>(kHourFrames - kRate));
        const auto t0 = Clock::now();
        op(doc, start, start + kRate);
        state.SetIterationTime(Seconds(Clock::now() - t0));
        doc = pristine;
    }
    state.counters["segments"] = static_cast<double>(pristine.Segments().size());
}

void BM_Cut(benchmark::State& state) {
    AudioClip clipboard;
    TimeEdit(state, [&](AudioClip& doc, int32_t a, int32_t b) { ClipCut(clipboard, doc, a, b); });
}

void BM_Paste(benchmark::State& state) {
    AudioClip clipboard;
    {
        const AudioClip source = HourDocument(static_cast<int32_t>(state.range(0)));
        ClipExtract(clipboard, source, kHourFrames / 3, kHourFrames / 3 + kRate);
    }
    TimeEdit(state, [&](AudioClip& doc, int32_t a, int32_t) { ClipInsert(doc, a, clipboard); });
}

void BM_Delete(benchmark::State& state) {
    TimeEdit(state, [](AudioClip& doc, int32_t a, int32_t b) { ClipDeleteRange(doc, a, b); });
}

// What saving an undo state costs: a copy of the segment list.
void BM_UndoSnapshot(benchmark::State& state) {
    const AudioClip doc = HourDocument(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        const auto t0 = Clock::now();
        AudioClip snapshot = doc;
        state.SetIterationTime(Seconds(Clock::now() - t0));
        benchmark::DoNotOptimize(snapshot);
    }
}

// And dropping it again when the undo ring moves on.
void BM_UndoDrop(benchmark::State& state) {
    const AudioClip doc = HourDocument(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        auto snapshot = std::make_unique<AudioClip>(doc);
        const auto t0 = Clock::now();
        snapshot.reset();
        state.SetIterationTime(Seconds(Clock::now() - t0));
    }
}

BENCHMARK(BM_Cut)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Paste)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Delete)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoSnapshot)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UndoDrop)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// --- Throughput ---------------------------------------------------------------

void WaitForGo(bool pause) {
    if (!pause) return;
    std::string line;
    std::getline(std::cin, line);
}

int RunIo(const std::string& dir, int64_t seconds, bool pause, int readRounds) {
    WorkingFolderSession session(WorkingFolderMode::Private, dir);
    if (!session.Ok()) {
        std::fprintf(stderr, "clip_bench: cannot make a working folder in %s\n", dir.c_str());
        return 2;
    }
    const int64_t frames = seconds * kRate;
    const double bytes = static_cast<double>(frames) * kChannels * 4;

    // A few blocks of a sweep, cycled: realistic peaks, no cost to speak of.
    std::vector<std::vector<int32_t>> blocks(
        8, std::vector<int32_t>(static_cast<size_t>(kBlockFrames) * kChannels));
    for (size_t b = 0; b < blocks.size(); ++b) {
        for (int32_t f = 0; f < kBlockFrames; ++f) {
            const double v = 400000.0 * std::sin(0.001 * static_cast<double>(f) * static_cast<double>(b + 1));
            blocks[b][static_cast<size_t>(f) * 2] = static_cast<int32_t>(v);
            blocks[b][static_cast<size_t>(f) * 2 + 1] = static_cast<int32_t>(-v / 2);
        }
    }

    AudioClip clip;
    auto t0 = Clock::now();
    {
        Ref<ClipWriter> writer = CreateClipWriter(&clip, kRate, kChannels);
        int64_t done = 0;
        for (size_t b = 0; done < frames; ++b) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(kBlockFrames, frames - done));
            writer->Write(blocks[b % blocks.size()].data(), n);
            done += n;
        }
        if (!writer->Close()) {
            std::fprintf(stderr, "clip_bench: writing failed\n");
            return 1;
        }
    }
    double s = Seconds(Clock::now() - t0);
    const std::string path = WorkingFileTable::AudioPath(clip.Segments().at(0).fileId);
    std::printf("clip-writer bytes=%.0f seconds=%.3f MBps=%.1f file=%s\n", bytes, s, bytes / s / 1e6,
                path.c_str());
    std::fflush(stdout);
    WaitForGo(pause);

    std::vector<int32_t> buffer(static_cast<size_t>(kBlockFrames) * kChannels);
    for (int round = 0; round < readRounds; ++round) {
        int64_t sum = 0;
        t0 = Clock::now();
        {
            Ref<ClipReader> reader = OpenClipReader(clip);
            for (int64_t done = 0; done < frames; done += kBlockFrames) {
                reader->Read(buffer.data(),
                             static_cast<int32_t>(std::min<int64_t>(kBlockFrames, frames - done)));
                sum += buffer[0];
            }
        }
        s = Seconds(Clock::now() - t0);
        std::printf("clip-reader bytes=%.0f seconds=%.3f MBps=%.1f check=%lld\n", bytes, s, bytes / s / 1e6,
                    static_cast<long long>(sum));
        std::fflush(stdout);
        WaitForGo(pause);
    }
    return 0;
}

}  // namespace
}  // namespace sonitor

int main(int argc, char** argv) {
    std::string ioDir;
    int64_t seconds = 3600;
    bool pause = false;
    int readRounds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--io" && i + 1 < argc) {
            ioDir = argv[++i];
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atoll(argv[++i]);
        } else if (arg == "--read-rounds" && i + 1 < argc) {
            readRounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--pause") {
            pause = true;
        }
    }
    if (!ioDir.empty()) return sonitor::RunIo(ioDir, seconds, pause, readRounds);

    sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private, sonitor::BenchBase());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::vector<sonitor::AudioClip> files = sonitor::MakeFiles();
    sonitor::gFiles = &files;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
