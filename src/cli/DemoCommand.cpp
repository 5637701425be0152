// The demo job: a real round trip through the document core without any
// input files, so that a fresh checkout has something to run.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "document/CopySourceToSink.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "document/WorkingFileTable.h"
#include "foundation/AudioSource.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"

namespace sonitor::cli {
namespace {

constexpr int32_t kRate = 44100;
constexpr int kChannels = 2;

std::string TimeText(int64_t frames, int32_t rate) {
    const int64_t ms = frames * 1000 / rate;
    return Format("%ld:%.2ld:%.2ld.%.3ld", static_cast<long>(ms / 3600000),
                  static_cast<long>(ms / 60000 % 60), static_cast<long>(ms / 1000 % 60),
                  static_cast<long>(ms % 1000));
}

// Two tones, 440 Hz left and 660 Hz right, at half of 16-bit full scale,
// computed at any rate.
class ToneSource final : public AudioSource {
public:
    ToneSource(int32_t rate, int32_t frames) : AudioSource(rate, kFullScale16, kChannels), length_(frames) {}

    void Read(int32_t* buffer, int32_t frames) override {
        const double amplitude = kFullScale16 / 2.0;
        for (int32_t i = 0; i < frames; ++i) {
            const int64_t f = int64_t{position_} + i;
            const bool inside = f >= 0 && f < length_;
            const double t = static_cast<double>(f) / SampleRate();
            buffer[2 * i] =
                inside ? static_cast<int32_t>(std::lround(amplitude * std::sin(2 * M_PI * 440.0 * t))) : 0;
            buffer[2 * i + 1] =
                inside ? static_cast<int32_t>(std::lround(amplitude * std::sin(2 * M_PI * 660.0 * t))) : 0;
        }
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return length_; }
    void Seek(int32_t position) override { position_ = position; }

private:
    int32_t length_;
    int32_t position_ = 0;
};

// Loads the tones into the document through the copy loop, converting them
// from their own rate to the document's.
int32_t GenerateTones(SoundDocument& doc, int32_t sourceRate, double seconds, TaskHost& host) {
    auto source = MakeRef<ToneSource>(sourceRate, static_cast<int32_t>(seconds * sourceRate));
    FunctionTask task("Generating tones", [&](ProgressTask& t) {
        AudioClip clip;
        int32_t result;
        {
            auto writer = CreateClipWriter(&clip, kRate, kChannels);
            result = CopySourceToSink(t, Format("Generating %.0f s of tones at %d Hz", seconds, sourceRate),
                                      source, writer);
            if (!writer->Close() && result == kTaskDone) result = kTaskFailed;
        }
        // A cancelled or failed load leaves the document as it was; the
        // partial working file goes with the clip.
        if (result == kTaskDone) doc.clip = std::move(clip);
        return result;
    });
    return RunTask(task, host);
}

// Peak of each channel over [start, end), in dB relative to 16-bit full scale.
std::vector<double> PeakDecibels(const AudioClip& clip, int32_t start, int32_t end) {
    auto reader = OpenClipReader(clip);
    reader->Seek(start);
    const int channels = reader->Channels();
    std::vector<int64_t> peak(channels, 0);
    std::vector<int32_t> block(static_cast<size_t>(kMaxTransferFrames) * channels);
    for (int32_t pos = start; pos < end;) {
        const int32_t n = std::min(kMaxTransferFrames, end - pos);
        reader->Read(block.data(), n);
        for (int32_t i = 0; i < n * channels; ++i) {
            peak[i % channels] = std::max<int64_t>(peak[i % channels], std::llabs(block[i]));
        }
        pos += n;
    }
    std::vector<double> db;
    for (int64_t p : peak)
        db.push_back(p > 0 ? 20.0 * std::log10(static_cast<double>(p) / kFullScale16) : -INFINITY);
    return db;
}

void PrintState(const char* what, const SoundDocument& doc) {
    std::printf("%-24s length %s (%d frames), %zu segments\n", what, TimeText(doc.Length(), kRate).c_str(),
                doc.Length(), doc.clip.Segments().size());
}

void PrintSegments(const SoundDocument& doc) {
    std::printf("\nSegments of \"%s\" (%u Hz, %u channels):\n", doc.fileName.c_str(), doc.clip.SampleRate(),
                static_cast<unsigned>(doc.clip.Channels()));
    std::printf("  %-13s %10s  %-9s %11s  %s\n", "start", "frames", "file", "first frame", "gain");
    int64_t start = 0;
    for (const ClipSegment& s : doc.clip.Segments()) {
        const std::string file =
            s.IsSilence() ? "(silence)" : Format("%u.aud", static_cast<unsigned>(s.fileId));
        std::printf("  %-13s %10d  %-9s %11d  %.3f\n", TimeText(start, kRate).c_str(), s.frames, file.c_str(),
                    s.firstFrame, static_cast<double>(s.gain) / kUnityGain);
        start += s.frames;
    }
    std::printf("Length: %s (%d frames)\n", TimeText(doc.Length(), kRate).c_str(), doc.Length());
}

void PrintWorkingFiles() {
    const std::string& folder = WorkingFolder();
    std::printf("\nWorking files in %s:\n", folder.c_str());
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat st {};
        stat(JoinPath(folder, name).c_str(), &st);
        const unsigned id = static_cast<unsigned>(std::strtoul(name.c_str(), nullptr, 10));
        std::printf("  %-10s %12lld bytes  %u references\n", name.c_str(), static_cast<long long>(st.st_size),
                    static_cast<unsigned>(WorkingFileTable::Instance().Count(static_cast<uint16_t>(id))));
    }
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
    double seconds = 5;
    int32_t sourceRate = kRate;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size()) {
            char* end = nullptr;
            seconds = std::strtod(args[++i].c_str(), &end);
            if (end == args[i].c_str() || *end != '\0' || !(seconds >= 1 && seconds <= 3600)) {
                std::fprintf(stderr, "sonitor-cli demo: --seconds takes a number from 1 to 3600\n");
                return kExitUsage;
            }
        } else if (args[i] == "--rate" && i + 1 < args.size()) {
            char* end = nullptr;
            const long rate = std::strtol(args[++i].c_str(), &end, 10);
            if (end == args[i].c_str() || *end != '\0' || rate < 1000 || rate > 384000) {
                std::fprintf(stderr, "sonitor-cli demo: --rate takes a rate from 1000 to 384000 Hz\n");
                return kExitUsage;
            }
            sourceRate = static_cast<int32_t>(rate);
        } else {
            std::fprintf(stderr, "sonitor-cli demo: unknown option '%s'\n", args[i].c_str());
            return kExitUsage;
        }
    }

    HeadlessDocumentHost host;
    TerminalTaskHost tasks;
    auto doc = MakeRef<SoundDocument>(kRate, kChannels);
    doc->fileName = UntitledName(NextUntitledNumber({}));
    switch (GenerateTones(*doc, sourceRate, seconds, tasks)) {
        case kTaskDone:
            break;
        case kTaskCancelled:
            return kExitCancelled;
        default:
            std::fprintf(stderr, "sonitor-cli demo: could not write the working files in %s\n",
                         WorkingFolder().c_str());
            return kExitFailed;
    }
    const int32_t total = doc->Length();
    PrintState("Generated tones:", *doc);

    const auto at = [&](double fraction) { return static_cast<int32_t>(total * fraction); };
    AudioClip clipboard;

    BeginEdit(*doc, "Cut", host);
    ClipCut(clipboard, doc->clip, at(0.2), at(0.3));
    PrintState("Cut 20%..30%:", *doc);

    BeginEdit(*doc, "Paste", host);
    ClipInsert(doc->clip, at(0.6), clipboard);
    PrintState("Paste at 60%:", *doc);

    BeginEdit(*doc, "Repeat Loop", host);
    ClipRepeat(doc->clip, 0, at(0.05), 3);
    PrintState("Repeat 0..5% 3 times:", *doc);

    const int32_t gainStart = at(0.4);
    const int32_t gainEnd = at(0.8);
    BeginEdit(*doc, "Amplify", host);
    ClipScaleRange(doc->clip, gainStart, gainEnd, 50);
    PrintState("Amplify 40%..80% by 50%:", *doc);

    std::string item = doc->undo.UndoMenuText();
    std::printf("%-24s %s\n", "Menu:", item.substr(0, item.find('\t')).c_str());
    UndoEdit(*doc, host);
    PrintState("After undo:", *doc);
    item = doc->undo.RedoMenuText();
    std::printf("%-24s %s\n", "Menu:", item.substr(0, item.find('\t')).c_str());
    RedoEdit(*doc, host);
    PrintState("After redo:", *doc);

    const auto inside = PeakDecibels(doc->clip, gainStart, gainEnd);
    const auto outside = PeakDecibels(doc->clip, 0, gainStart);
    std::printf("Peak outside the amplified range: %.1f dB / %.1f dB; inside: %.1f dB / %.1f dB\n",
                outside[0], outside[1], inside[0], inside[1]);

    PrintSegments(*doc);
    PrintWorkingFiles();
    return kExitOk;
}

}  // namespace sonitor::cli
