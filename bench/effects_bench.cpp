// Every effect of the catalogue applied to a whole clip, timed.
//
//   effects_bench [--wav IN.wav] [--seconds N] [--rounds R] [--only ID[,ID...]]
//
// The clip is IN.wav (16-bit PCM, as sox writes it) or, without --wav, N
// seconds (default 60) of 44.1 kHz stereo noise whose loudness changes every
// half second. Loading it into working storage is not timed. Each effect then
// runs as the editor runs it (its catalogue entry, default values, a task
// over the whole clip) on a fresh copy of the clip, R times (default 1), and
// the best time counts. One line per effect:
//
//   id=echo seconds=0.412 xrt=145.6
//
// xrt is the clip's duration over the time taken (times real time). Effects
// whose default values do not pass their own checks are reported as skipped.
// bench/run-effects puts these beside sox's nearest effects.
//
// Working files, settings and the user data folder (envelope.dat) live in a
// private folder below $SONITOR_BENCH_DIR, $TMPDIR or /tmp, removed at exit.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BenchLoad.h"
#include "document/AudioClip.h"
#include "document/ClipWriter.h"
#include "document/ProgressTask.h"
#include "effects/EffectCatalogue.h"
#include "foundation/AudioSource.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {
namespace {

using Clock = std::chrono::steady_clock;

// Noise in both channels at a loudness that changes every half second,
// from near silence to full scale, so the dynamics effects have work to do.
AudioClip MakeNoiseClip(int64_t seconds) {
    constexpr int32_t kRate = 44100;
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, kRate, 2);
    std::mt19937 rng(1);
    std::vector<int32_t> block(static_cast<size_t>(kRate / 2) * 2);
    for (int64_t half = 0; half < 2 * seconds; ++half) {
        const double amplitude = 524272.0 * std::pow(10.0, -static_cast<double>(rng() % 50) / 20.0);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<int32_t>(amplitude * (static_cast<double>(rng() % 20001) / 10000.0 - 1.0));
        writer->Write(block.data(), kRate / 2);
    }
    writer->Close();
    return clip;
}

bool Wanted(const std::vector<std::string>& only, const std::string& id) {
    return only.empty() || std::find(only.begin(), only.end(), id) != only.end();
}

int Run(const std::string& wav, int64_t seconds, int rounds, const std::vector<std::string>& only) {
    SilentTaskHost host{"effects_bench"};
    AudioClip original;
    if (!wav.empty()) {
        if (!LoadAudioIntoClip(wav, original, host)) {
            std::fprintf(stderr, "effects_bench: cannot read %s\n", wav.c_str());
            return 1;
        }
    } else {
        original = MakeNoiseClip(seconds);
    }
    const double duration = static_cast<double>(original.Length()) / original.SampleRate();
    for (const EffectDefinition& effect : EffectCatalogue()) {
        if (!Wanted(only, effect.id)) continue;
        EffectValues values = DefaultEffectValues(effect);
        // The noise-sample subtraction takes its sample from the first
        // second; the manual click repair only works on a millisecond.
        if (effect.id == "noise-reduction-sample") values["NoiseSample"] = "0:1000";
        if (effect.id == "click-pop-manual") {
            std::printf("id=%s skipped (works on one millisecond)\n", effect.id.c_str());
            continue;
        }
        if (effect.validate && effect.validate(values)) {
            std::printf("id=%s skipped (defaults refused)\n", effect.id.c_str());
            continue;
        }
        if (effect.stereoOnly && original.Channels() != 2) {
            std::printf("id=%s skipped (stereo only)\n", effect.id.c_str());
            continue;
        }
        double best = 0;
        int32_t result = kTaskDone;
        for (int r = 0; r < rounds && result == kTaskDone; ++r) {
            AudioClip clip = original;
            EffectRange range{clip, 0, clip.Length()};
            FunctionTask task(effect.name, [&](ProgressTask& t) { return effect.run(t, range, values); });
            const auto t0 = Clock::now();
            result = RunTask(task, host);
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            best = r == 0 ? s : std::min(best, s);
        }
        if (result != kTaskDone) {
            std::printf("id=%s failed (result %d)\n", effect.id.c_str(), result);
        } else {
            std::printf("id=%s seconds=%.3f xrt=%.1f\n", effect.id.c_str(), best,
                        duration / std::max(best, 1e-6));
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace
}  // namespace sonitor

int main(int argc, char** argv) {
    std::string wav;
    int64_t seconds = 60;
    int rounds = 1;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--wav" && i + 1 < argc) {
            wav = argv[++i];
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::max<int64_t>(1, std::atoll(argv[++i]));
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--only" && i + 1 < argc) {
            std::stringstream list(argv[++i]);
            for (std::string id; std::getline(list, id, ',');)
                only.push_back(id);
        } else {
            std::fprintf(stderr,
                         "usage: effects_bench [--wav IN.wav] [--seconds N] [--rounds R] [--only ID,...]\n");
            return 2;
        }
    }
    // Settings and envelope.dat go to a private folder, never the user's.
    std::string base = sonitor::BenchBase() + "/effects-bench.XXXXXX";
    if (::mkdtemp(base.data()) == nullptr) {
        std::fprintf(stderr, "effects_bench: cannot make a folder in %s\n", sonitor::BenchBase().c_str());
        return 2;
    }
    ::setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    ::setenv("SONITOR_CONFIG_HOME", (base + "/config").c_str(), 1);
    ::setenv("SONITOR_MACHINE_CONFIG", (base + "/machine").c_str(), 1);
    int status;
    {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private, base);
        status = session.Ok() ? sonitor::Run(wav, seconds, rounds, only) : 2;
    }
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return status;
}
