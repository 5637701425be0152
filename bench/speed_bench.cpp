// Speed change, pitch change, speed and pitch together, and automatic noise
// reduction applied to a whole clip, timed.
//
//   speed_bench --wav IN.wav [--percent P] [--rounds R]
//
// IN.wav is 16-bit PCM (as sox writes it). Loading it into working storage
// is not timed. Each effect runs as the editor runs it (its catalogue entry,
// a task over the whole clip) on a fresh copy of the clip, R times (default
// 1), and the best time counts. The three speed effects run at P percent
// (default 150), noise reduction with its default threshold. One line per
// effect:
//
//   id=speed percent=150 seconds=1.234 xrt=48.6
//
// xrt is the clip's duration over the time taken (times real time). An
// effect missing from the catalogue is reported as skipped. bench/run-speed
// puts these beside sox tempo, pitch, speed and noisered.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

int Run(const std::string& wav, int percent, int rounds) {
    SilentTaskHost host{"speed_bench"};
    AudioClip original;
    if (!LoadAudioIntoClip(wav, original, host)) {
        std::fprintf(stderr, "speed_bench: cannot read %s\n", wav.c_str());
        return 1;
    }
    const double duration = static_cast<double>(original.Length()) / original.SampleRate();
    for (const char* id : {"speed", "pitch", "speed-and-pitch", "noise-reduction-auto"}) {
        const EffectDefinition* effect = FindEffect(id);
        if (effect == nullptr) {
            std::printf("id=%s skipped (not in the catalogue)\n", id);
            continue;
        }
        EffectValues values = DefaultEffectValues(*effect);
        const bool speed = std::strcmp(id, "noise-reduction-auto") != 0;
        if (speed) values[effect->parameters.at(0).key] = std::to_string(percent);
        if (effect->validate && effect->validate(values)) {
            std::printf("id=%s skipped (values refused)\n", id);
            continue;
        }
        double best = 0;
        int32_t result = kTaskDone;
        for (int r = 0; r < rounds && result == kTaskDone; ++r) {
            AudioClip clip = original;
            EffectRange range{clip, 0, clip.Length()};
            FunctionTask task(effect->name, [&](ProgressTask& t) { return effect->run(t, range, values); });
            const auto t0 = Clock::now();
            result = RunTask(task, host);
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            best = r == 0 ? s : std::min(best, s);
        }
        if (result != kTaskDone) {
            std::printf("id=%s failed (result %d)\n", id, result);
        } else {
            std::printf("id=%s percent=%d seconds=%.3f xrt=%.1f\n", id, speed ? percent : 0, best,
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
    int percent = 150;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--wav" && i + 1 < argc) {
            wav = argv[++i];
        } else if (arg == "--percent" && i + 1 < argc) {
            percent = std::atoi(argv[++i]);
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            wav.clear();
            break;
        }
    }
    if (wav.empty()) {
        std::fprintf(stderr, "usage: speed_bench --wav IN.wav [--percent P] [--rounds R]\n");
        return 2;
    }
    // Settings and working files go to a private folder, never the user's.
    std::string base = sonitor::BenchBase() + "/speed-bench.XXXXXX";
    if (::mkdtemp(base.data()) == nullptr) {
        std::fprintf(stderr, "speed_bench: cannot make a folder in %s\n", sonitor::BenchBase().c_str());
        return 2;
    }
    ::setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    ::setenv("SONITOR_CONFIG_HOME", (base + "/config").c_str(), 1);
    ::setenv("SONITOR_MACHINE_CONFIG", (base + "/machine").c_str(), 1);
    int status;
    {
        sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private, base);
        status = session.Ok() ? sonitor::Run(wav, percent, rounds) : 2;
    }
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return status;
}
