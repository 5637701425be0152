// `sonitor-cli spectrogram`: the temporal frequency analysis of a file, or
// of part of it, saved as a PNG picture: one pixel column per analysis
// column, one row per frequency bin, low frequencies at the bottom.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "effects/PngWriter.h"
#include "effects/Spectrum.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Numbers.h"
#include "foundation/Paths.h"

namespace sonitor::cli {
namespace {

const char kSpectrogramUsage[] =
    "usage: sonitor-cli spectrogram IN OUT.png [--selection START:END] [--brightness N] [--grid]\n";

int UsageError(const std::string& text) {
    std::fprintf(stderr, "sonitor-cli spectrogram: %s\n%s", text.c_str(), kSpectrogramUsage);
    return kExitUsage;
}

// A whole decimal number, nothing else.
bool ParseNumber(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    char* stop = nullptr;
    value = std::strtoll(text.c_str(), &stop, 10);
    return *stop == '\0';
}

}  // namespace

int RunSpectrogram(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kSpectrogramUsage, stdout);
        return kExitOk;
    }
    std::vector<std::string> positional;
    bool hasSelection = false;
    int64_t selectionStart = 0;
    int64_t selectionEnd = 0;
    int64_t brightness = kDefaultSpectrogramBrightness;
    bool grid = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--selection" && i + 1 < args.size()) {
            if (!ParseMillisecondRange(args[++i], selectionStart, selectionEnd))
                return UsageError("--selection takes START:END in milliseconds, START below END");
            hasSelection = true;
        } else if (arg == "--brightness" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], brightness) || brightness < kMinSpectrogramBrightness ||
                brightness > kMaxSpectrogramBrightness)
                return UsageError("--brightness takes a whole number from 1 to 65535");
        } else if (arg == "--grid") {
            grid = true;
        } else if (arg == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return UsageError("IN and OUT are needed");
    const std::string& in = positional[0];
    const std::string& out = positional[1];

    TerminalTaskHost tasks;
    Ref<SoundDocument> document = MakeRef<SoundDocument>();
    const int32_t loaded = LoadDocument("spectrogram", in, *document, tasks);
    if (loaded != kTaskDone) return ExitForTaskResult(loaded);

    const AudioClip& clip = document->clip;
    const auto rate = static_cast<int32_t>(clip.SampleRate());
    const int32_t length = clip.Length();
    int32_t start = 0;
    int32_t end = length;
    if (hasSelection) {
        start = std::min(FramesFromMilliseconds(selectionStart, rate), length);
        end = std::min(FramesFromMilliseconds(selectionEnd, rate), length);
    }
    if (start >= end) {
        if (length == 0) {
            std::fprintf(stderr, "sonitor-cli spectrogram: \"%s\" holds no audio\n", in.c_str());
        } else {
            std::fprintf(stderr,
                         "sonitor-cli spectrogram: the selection lies beyond the end of \"%s\" (%d ms)\n",
                         in.c_str(), MillisecondsFromFrames(length, rate));
        }
        return kExitFailed;
    }

    // Asking whether to go on with a long range is for the window; here the
    // command line already said so.
    Spectrogram spectrogram;
    const int32_t computed = RunSpectrogramTask(tasks, clip, start, end - start, spectrogram);
    if (computed != kTaskDone) return ExitForTaskResult(computed);

    const SpectrogramLayout& layout = spectrogram.layout;
    const std::vector<uint8_t> pixels =
        SpectrogramPicture(spectrogram, static_cast<int32_t>(brightness), 0, layout.bins, grid);
    std::vector<uint8_t> palette;
    for (const Rgb& colour : SpectrogramPalette())
        palette.insert(palette.end(), {colour.r, colour.g, colour.b});
    const std::string png = EncodePalettePng(layout.columns, layout.bins, pixels.data(), palette.data(), 256);
    if (png.empty() || !WriteFileAtomically(out, png)) {
        std::fprintf(stderr, "sonitor-cli spectrogram: cannot write \"%s\"\n", out.c_str());
        return kExitFailed;
    }
    std::printf("%s: %d x %d pixels, %d-point transform, %d Hz, %s to %s\n", out.c_str(), layout.columns,
                layout.bins, layout.fftSize, rate,
                FormatSpectrogramTime(MillisecondsFromFrames(start, rate)).c_str(),
                FormatSpectrogramTime(MillisecondsFromFrames(end, rate)).c_str());
    return kExitOk;
}

}  // namespace sonitor::cli
