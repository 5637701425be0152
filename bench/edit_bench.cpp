// The Edit menu's commands on long documents.
//
//   edit_bench [--seconds N] [--rounds R] [--passes P] A.wav B.wav
//
// Editing: Cut, Paste and Delete of one second at random places, each
// followed by Undo, through the commands themselves (undo state, task,
// FinishEdit included), R times each (default 200) on a document of N
// seconds (default 3600) of 44.1 kHz stereo written through a ClipWriter,
// and for comparison on a document of one minute. Prints the median, the
// 99th percentile and the worst time of each; none may grow with the
// document's length.
//
// Passes: A.wav and B.wav are loaded into working clips (not timed); then,
// P times (default 3), Reverse of the whole of A and Paste Mix of B over the
// whole of A. Prints frames per second; bench/run-edit puts sox beside them.
//
// The working folder is a private one below $SONITOR_BENCH_DIR, $TMPDIR or
// /tmp, removed at exit; the settings are private to it too.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchBase.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "foundation/SettingsStore.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {
namespace {

constexpr int32_t kRate = 44100;
constexpr int kChannels = 2;
constexpr int32_t kBlockFrames = 8192;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The value below which `share` of the samples lie.
double Quantile(std::vector<double> v, double share) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(share * static_cast<double>(v.size())))];
}

double Median(const std::vector<double>& v) {
    return Quantile(v, 0.5);
}

struct Bench {
    HeadlessDocumentHost host;
    SilentTaskHost tasks{"edit_bench"};
    EditContext ctx{host, tasks, SettingsStore::Default()};
};

// A document of `seconds` of a stereo sweep, written in 8192-frame blocks.
Ref<SoundDocument> WrittenDocument(int64_t seconds) {
    std::vector<std::vector<int32_t>> blocks(8, std::vector<int32_t>(size_t{kBlockFrames} * kChannels));
    for (size_t b = 0; b < blocks.size(); ++b) {
        for (int32_t f = 0; f < kBlockFrames; ++f) {
            const double v = 400000.0 * std::sin(0.001 * f * static_cast<double>(b + 1));
            blocks[b][size_t(f) * 2] = static_cast<int32_t>(v);
            blocks[b][size_t(f) * 2 + 1] = static_cast<int32_t>(-v / 2);
        }
    }
    auto document = MakeRef<SoundDocument>(kRate, kChannels);
    Ref<ClipWriter> writer = CreateClipWriter(&document->clip, kRate, kChannels);
    const int64_t frames = seconds * kRate;
    int64_t done = 0;
    for (size_t b = 0; done < frames; ++b) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(kBlockFrames, frames - done));
        writer->Write(blocks[b % blocks.size()].data(), n);
        done += n;
    }
    if (!writer->Close()) return {};
    return document;
}

struct Timing {
    std::vector<double> cut, paste, del, undo;
};

template <class Op>
double Microseconds(Op op) {
    const auto t0 = Clock::now();
    op();
    return Seconds(Clock::now() - t0) * 1e6;
}

Timing TimeEdits(Bench& bench, SoundDocument& doc, int rounds) {
    Timing t;
    std::mt19937 rng(1);
    AudioClip clipboard;
    const auto place = [&] {
        return static_cast<int32_t>(rng() % static_cast<uint32_t>(doc.Length() - kRate));
    };
    for (int r = 0; r < rounds; ++r) {
        int32_t at = place();
        SelectFrames(doc, at, at + kRate, bench.host);
        t.cut.push_back(Microseconds([&] { EditCut(doc, clipboard, bench.ctx); }));
        t.undo.push_back(Microseconds([&] { UndoEdit(doc, bench.host); }));

        at = place();
        SetCursor(doc, at, bench.host);
        t.paste.push_back(Microseconds([&] { EditPaste(doc, clipboard, bench.ctx); }));
        t.undo.push_back(Microseconds([&] { UndoEdit(doc, bench.host); }));

        at = place();
        SelectFrames(doc, at, at + kRate, bench.host);
        t.del.push_back(Microseconds([&] { EditDelete(doc, bench.ctx); }));
        t.undo.push_back(Microseconds([&] { UndoEdit(doc, bench.host); }));
    }
    return t;
}

int RunEdits(Bench& bench, int64_t seconds, int rounds) {
    std::printf("writing a %lld s 44.1 kHz stereo document\n", static_cast<long long>(seconds));
    std::fflush(stdout);
    Ref<SoundDocument> longDoc = WrittenDocument(seconds);
    Ref<SoundDocument> shortDoc = WrittenDocument(60);
    if (!longDoc || !shortDoc) {
        std::fprintf(stderr, "edit_bench: cannot write the documents\n");
        return 1;
    }
    const Timing longT = TimeEdits(bench, *longDoc, rounds);
    const Timing shortT = TimeEdits(bench, *shortDoc, rounds);
    // The worst single time is mostly the scheduler's doing on a busy
    // machine; the verdict goes by the 99th percentile.
    bool fast = true;
    std::printf("%-6s %15s %15s %15s %15s\n", "edit", "60s median us", "long median us", "long p99 us",
                "long worst us");
    const auto row = [&](const char* name, const std::vector<double>& s, const std::vector<double>& l) {
        const double p99 = Quantile(l, 0.99);
        fast = fast && p99 < 1000.0;
        std::printf("%-6s %15.1f %15.1f %15.1f %15.1f\n", name, Median(s), Median(l), p99,
                    *std::max_element(l.begin(), l.end()));
    };
    row("cut", shortT.cut, longT.cut);
    row("paste", shortT.paste, longT.paste);
    row("delete", shortT.del, longT.del);
    row("undo", shortT.undo, longT.undo);
    std::printf("edits under 1 ms on the %lld s document: %s\n", static_cast<long long>(seconds),
                fast ? "yes" : "NO");
    return 0;
}

bool Load(Bench& bench, const std::string& path, AudioClip& clip) {
    FunctionTask load("Loading Audio File Source",
                      [&](ProgressTask& t) { return LoadFileIntoClip(t, path, clip); });
    if (RunTask(load, bench.tasks) == kTaskDone) return true;
    std::fprintf(stderr, "edit_bench: cannot load %s\n", path.c_str());
    return false;
}

int RunPasses(Bench& bench, const std::string& pathA, const std::string& pathB, int passes) {
    AudioClip a, b;
    if (!Load(bench, pathA, a) || !Load(bench, pathB, b)) return 1;
    std::vector<double> reverse, mix;
    for (int p = 0; p < passes; ++p) {
        auto doc = MakeRef<SoundDocument>(a.SampleRate(), a.Channels());
        doc->clip = a;
        auto t0 = Clock::now();
        if (EditReverse(*doc, bench.ctx) != kTaskDone) return 1;
        reverse.push_back(static_cast<double>(a.Length()) / Seconds(Clock::now() - t0));

        doc->clip = a;
        SelectAll(*doc, bench.host);
        MixSettings settings;
        settings.overflowMode = MixSettings::kIncreaseSelection;
        t0 = Clock::now();
        if (EditPasteMix(*doc, b, settings, bench.ctx) != kTaskDone) return 1;
        mix.push_back(static_cast<double>(std::max(a.Length(), b.Length())) / Seconds(Clock::now() - t0));
        std::printf("pass %d: reverse %.0f frames/s, paste mix %.0f frames/s\n", p + 1, reverse.back(),
                    mix.back());
        std::fflush(stdout);
    }
    std::printf("reverse frames=%d fps=%.0f\n", a.Length(), Median(reverse));
    std::printf("pastemix frames=%d fps=%.0f\n", std::max(a.Length(), b.Length()), Median(mix));
    return 0;
}

}  // namespace
}  // namespace sonitor

int main(int argc, char** argv) {
    int64_t seconds = 3600;
    int rounds = 200;
    int passes = 3;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::max<int64_t>(60, std::atoll(argv[++i]));
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--passes" && i + 1 < argc) {
            passes = std::max(1, std::atoi(argv[++i]));
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "usage: edit_bench [--seconds N] [--rounds R] [--passes P] A.wav B.wav\n");
        return 2;
    }

    sonitor::WorkingFolderSession session(sonitor::WorkingFolderMode::Private, sonitor::BenchBase());
    if (!session.Ok()) {
        std::fprintf(stderr, "edit_bench: cannot make a working folder\n");
        return 2;
    }
    // Defaults only: the user's own settings must not start playback or
    // change the stored mix values.
    const std::string config = session.Path() + "/config";
    setenv("SONITOR_CONFIG_HOME", config.c_str(), 1);
    setenv("SONITOR_MACHINE_CONFIG", config.c_str(), 1);

    sonitor::Bench bench;
    if (const int rc = sonitor::RunEdits(bench, seconds, rounds)) return rc;
    return sonitor::RunPasses(bench, files[0], files[1], passes);
}
