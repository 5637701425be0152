// `sonitor-cli play`, `record` and `devices`: the transport, the recorder
// and the device lists of the editor without its windows. Playing and
// recording run on the same engines and notifications as in the editor; the
// wait loop here pumps the notifications and draws a meter on stderr.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "audio_io/AudioDevice.h"
#include "audio_io/RecordMixer.h"
#include "audio_io/RecordTake.h"
#include "audio_io/SoundPlayer.h"
#include "audio_io/SoundRecorder.h"
#include "audio_io/Transport.h"
#include "cli/CliCommands.h"
#include "cli/TerminalTaskHost.h"
#include "document/ClipReader.h"
#include "document/DocumentHost.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "edit/TimeText.h"
#include "formats/export/ExportDispatcher.h"
#include "formats/export/SaveDocument.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/FileUtil.h"
#include "foundation/Notifier.h"
#include "foundation/Numbers.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"
#include "foundation/WorkingFolder.h"

namespace sonitor::cli {
namespace {

// ---------------------------------------------------------------------------
// Ctrl-C: the first one ends playing or recording the normal way, a second
// one ends the program at once.

volatile sig_atomic_t gInterrupted = 0;
struct sigaction gPreviousAction;

void OnInterrupt(int signalNumber) {
    if (gInterrupted) {
        sigaction(signalNumber, &gPreviousAction, nullptr);
        raise(signalNumber);
        return;
    }
    gInterrupted = 1;
}

class InterruptGuard {
public:
    InterruptGuard() {
        gInterrupted = 0;
        struct sigaction ours;
        std::memset(&ours, 0, sizeof ours);
        ours.sa_handler = OnInterrupt;
        sigemptyset(&ours.sa_mask);
        installed_ = sigaction(SIGINT, &ours, &gPreviousAction) == 0;
    }
    ~InterruptGuard() {
        if (installed_) sigaction(SIGINT, &gPreviousAction, nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    bool Interrupted() const { return gInterrupted != 0; }

private:
    bool installed_ = false;
};

// ---------------------------------------------------------------------------
// Parsing

bool ParseLong(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end != text.c_str() && *end == '\0' && value >= low && value <= high;
}

bool ParseDouble(const std::string& text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && std::isfinite(value) && value >= low && value <= high;
}

// ---------------------------------------------------------------------------
// The meter on stderr: one line redrawn in place on a terminal; otherwise a
// line for every whole second passed and one at the end, so that logs stay
// short.

std::string TimeText(int32_t milliseconds) {
    return FormatTimeText(milliseconds, 1000);
}

// A level as a bar from `low` (empty) to `high` (full).
std::string Bar(int level, int low, int high) {
    constexpr int kWidth = 20;
    const int filled = std::clamp((level - low) * kWidth / (high - low), 0, kWidth);
    return std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kWidth - filled), '.');
}

class Meter {
public:
    Meter() : terminal_(isatty(STDERR_FILENO) == 1) {}

    void Show(const std::string& what, int32_t milliseconds, const std::vector<int>& levels, int low,
              int high) {
        if (terminal_) {
            const auto now = std::chrono::steady_clock::now();
            if (now - drawn_ < std::chrono::milliseconds(50)) return;
            drawn_ = now;
            std::string line = "\r\033[K" + what + " " + TimeText(milliseconds);
            const char* names[] = {"L", "R"};
            for (size_t c = 0; c < levels.size() && c < 2; ++c) {
                const char* name = levels.size() == 1 ? "" : names[c];
                line += Format("  %s%4d dB [%s]", name, levels[c], Bar(levels[c], low, high).c_str());
            }
            std::fputs(line.c_str(), stderr);
            std::fflush(stderr);
            dirty_ = true;
            return;
        }
        if (milliseconds / 1000 != lastSecond_) {
            lastSecond_ = milliseconds / 1000;
            Line(what + " " + TimeText(milliseconds));
        }
    }

    void Line(const std::string& text) {
        if (terminal_ && dirty_) std::fputs("\r\033[K", stderr);
        dirty_ = false;
        std::fprintf(stderr, "%s\n", text.c_str());
    }

private:
    bool terminal_;
    bool dirty_ = false;
    int32_t lastSecond_ = 0;
    std::chrono::steady_clock::time_point drawn_{};
};

// ---------------------------------------------------------------------------
// play

class PlayMeter final : public PlayerListener {
public:
    explicit PlayMeter(Meter& meter) : meter_(meter) {}
    bool stopped = false;
    int32_t position = 0;

    void PlayStopped() override { stopped = true; }
    void PositionReport(int32_t milliseconds) override {
        position = milliseconds;
        meter_.Show("playing", position, levels_, -45, 15);
    }
    // The player's levels are mean powers: a full-scale square wave is +15.
    void LevelsChanged(const LevelSet& levels) override {
        levels_.assign(levels.levels.begin(), levels.levels.begin() + levels.channels);
        meter_.Show("playing", position, levels_, -45, 15);
    }

private:
    Meter& meter_;
    std::vector<int> levels_;
};

const char kPlayUsage[] =
    "usage: sonitor-cli play FILE [--from MS] [--to MS] [--loop] [--speed slow|normal|fast] [--device N]\n";

// ---------------------------------------------------------------------------
// record

class RecordMeter final : public RecorderListener {
public:
    RecordMeter(Meter& meter, int threshold) : meter_(meter), threshold_(threshold) {}
    bool stopped = false;

    void Writing() override { meter_.Line("recording"); }
    void Armed() override {
        if (threshold_ > -127) meter_.Line(Format("waiting for sound at %d dB", threshold_));
    }
    void RecordingStopped() override { stopped = true; }
    void RecordedTime(int32_t milliseconds) override { time_ = milliseconds; }
    // The recorder's levels are peaks against a quarter of full scale: full
    // scale is +12.
    void RecordLevels(const int8_t* levels, int channels) override {
        levels_.assign(levels, levels + channels);
        meter_.Show("recorded", time_, levels_, -60, 12);
    }

private:
    Meter& meter_;
    int threshold_;
    int32_t time_ = 0;
    std::vector<int> levels_;
};

const char kRecordUsage[] =
    "usage: sonitor-cli record OUT [--seconds N] [--autostart] [--threshold DB] [--device N]\n";

std::string DeviceLabel(int number, const std::string& name) {
    return Format("%3d  %s", number, name.c_str());
}

}  // namespace

int RunPlay(const std::vector<std::string>& args) {
    std::string file;
    std::optional<long> from;
    std::optional<long> to;
    bool loop = false;
    int speed = 1;
    std::optional<long> device;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        long value = 0;
        if ((arg == "--from" || arg == "--to") && hasValue) {
            if (!ParseLong(args[++i], 0, INT32_MAX, value)) {
                std::fprintf(stderr, "sonitor-cli play: %s takes milliseconds from 0 on\n", arg.c_str());
                return kExitUsage;
            }
            (arg == "--from" ? from : to) = value;
        } else if (arg == "--loop") {
            loop = true;
        } else if (arg == "--speed" && hasValue) {
            const std::string& name = args[++i];
            if (name == "slow") {
                speed = 0;
            } else if (name == "normal") {
                speed = 1;
            } else if (name == "fast") {
                speed = 2;
            } else {
                std::fprintf(stderr, "sonitor-cli play: --speed takes slow, normal or fast\n");
                return kExitUsage;
            }
        } else if (arg == "--device" && hasValue) {
            if (!ParseLong(args[++i], 0, 1000, value)) {
                std::fprintf(
                    stderr, "sonitor-cli play: --device takes a device number (see 'sonitor-cli devices')\n");
                return kExitUsage;
            }
            device = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "sonitor-cli play: unknown option '%s'\n%s", arg.c_str(), kPlayUsage);
            return kExitUsage;
        } else if (file.empty()) {
            file = arg;
        } else {
            std::fputs(kPlayUsage, stderr);
            return kExitUsage;
        }
    }
    if (file.empty()) {
        std::fputs(kPlayUsage, stderr);
        return kExitUsage;
    }
    if (from && to && *from >= *to) {
        std::fprintf(stderr, "sonitor-cli play: --from must lie before --to\n");
        return kExitUsage;
    }

    const SettingsStore settings = PrivateSettingsCopy("play-settings.ini");
    settings.WriteInt("Settings", "PlaySpeed", speed);
    settings.WriteBool("Settings", "PlayRepeat", loop);
    if (device) settings.WriteInt("Settings", "SoundOutDevice", static_cast<int>(*device));

    TerminalTaskHost tasks;
    Ref<SoundDocument> document = MakeRef<SoundDocument>();
    const int32_t loaded = LoadDocument("play", file, *document, tasks);
    if (loaded == kTaskCancelled || tasks.Interrupted()) return kExitCancelled;
    if (loaded != kTaskDone) return kExitFailed;

    const int32_t rate = static_cast<int32_t>(std::max<uint32_t>(1, document->clip.SampleRate()));
    const int32_t length = document->Length();
    const int32_t start = from ? FramesFromMilliseconds(*from, rate) : 0;
    const int32_t end = to ? std::min(FramesFromMilliseconds(*to, rate), length) : length;
    if (start >= end) {
        std::fprintf(stderr, "sonitor-cli play: nothing to play between %s and %s\n",
                     TimeText(MillisecondsFromFrames(start, rate)).c_str(),
                     TimeText(MillisecondsFromFrames(end, rate)).c_str());
        return kExitFailed;
    }
    HeadlessDocumentHost host(true);
    // A range is played as the editor plays a selection: from its start to
    // its end, and over and over with --loop.
    if (from || to) {
        SetSelection(*document, start, end, start, host);
    } else {
        document->cursor = 0;
    }

    AudioBackend& backend = CurrentAudioBackend(settings);
    SoundPlayer player(backend);
    Transport transport(player, host, settings);
    Meter meter;
    PlayMeter listener(meter);
    transport.SetDocument(document.Get());
    transport.SetForward(&listener);

    InterruptGuard interrupt;
    if (!transport.Play()) {
        std::fprintf(stderr, "sonitor-cli play: no output device could be opened\n");
        return kExitFailed;
    }
    while (!listener.stopped && !interrupt.Interrupted())
        WaitAndPumpNotifications(100);
    if (!listener.stopped) {
        transport.Stop();
        PumpNotifications();
        meter.Line("stopped at " + TimeText(listener.position));
        return kExitCancelled;
    }
    meter.Line("played to " + TimeText(listener.position));
    return kExitOk;
}

int RunRecord(const std::vector<std::string>& args) {
    std::string out;
    double seconds = 0;
    bool autostart = false;
    RecorderSettings stored = RecorderSettings::Load(Settings());
    int threshold = stored.threshold;
    int device = stored.device;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        long value = 0;
        if (arg == "--seconds" && hasValue) {
            if (!ParseDouble(args[++i], 0.001, 2000000, seconds)) {
                std::fprintf(stderr, "sonitor-cli record: --seconds takes a positive number of seconds\n");
                return kExitUsage;
            }
        } else if (arg == "--autostart") {
            autostart = true;
        } else if (arg == "--threshold" && hasValue) {
            if (!ParseLong(args[++i], -127, 127, value)) {
                std::fprintf(stderr, "sonitor-cli record: --threshold takes decibels from -127 to 127\n");
                return kExitUsage;
            }
            threshold = static_cast<int>(value);
        } else if (arg == "--device" && hasValue) {
            if (!ParseLong(args[++i], 0, 1000, value)) {
                std::fprintf(
                    stderr,
                    "sonitor-cli record: --device takes a device number (see 'sonitor-cli devices')\n");
                return kExitUsage;
            }
            device = static_cast<int>(value);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "sonitor-cli record: unknown option '%s'\n%s", arg.c_str(), kRecordUsage);
            return kExitUsage;
        } else if (out.empty()) {
            out = arg;
        } else {
            std::fputs(kRecordUsage, stderr);
            return kExitUsage;
        }
    }
    if (out.empty()) {
        std::fputs(kRecordUsage, stderr);
        return kExitUsage;
    }
    if (!ExportFormatFor(out)) {
        std::fprintf(stderr, "sonitor-cli record: cannot write files of the type of \"%s\"\n", out.c_str());
        return kExitUsage;
    }

    // The take goes into a new document, as the editor's Record does with
    // no document open: rate and channels from the new-file settings.
    HeadlessDocumentHost host(true);
    Ref<SoundDocument> document = NewUntitledDocument({}, Settings());
    const int32_t rate = static_cast<int32_t>(std::max<uint32_t>(1, document->clip.SampleRate()));
    const int32_t limitMs = static_cast<int32_t>(std::lround(seconds * 1000));
    const int engineThreshold = autostart ? threshold : -127;

    AudioClip take;
    Ref<ClipWriter> writer = CreateTakeWriter(*document, &take);
    {
        SoundRecorder recorder(CurrentAudioBackend());
        Meter meter;
        RecordMeter listener(meter, engineThreshold);
        recorder.SetDevice(device);
        recorder.SetListener(&listener);
        InterruptGuard interrupt;
        if (!recorder.StartRecording(writer, limitMs, engineThreshold, RecorderSettings{}.SilenceLimitMs())) {
            std::fprintf(stderr, "sonitor-cli record: input device %d could not be opened\n", device);
            return kExitFailed;
        }
        while (!listener.stopped && !interrupt.Interrupted())
            WaitAndPumpNotifications(100);
        recorder.StopRecording();
        recorder.SetListener(nullptr);
    }
    // The recorder stops one buffer after the limit has passed.
    if (limitMs > 0) writer->Truncate(FramesFromMilliseconds(limitMs, rate));
    const int32_t recorded = writer->FramesWritten();
    if (!writer->Close()) {
        std::fprintf(stderr, "sonitor-cli record: the take could not be written to the working folder\n");
        return kExitFailed;
    }
    if (recorded == 0 || !InsertTake(*document, take, host)) {
        std::fprintf(stderr, "sonitor-cli record: nothing was recorded%s; nothing was written\n",
                     autostart ? " (no sound reached the threshold)" : "");
        return kExitFailed;
    }
    std::fprintf(stderr, "recorded %s\n", TimeText(MillisecondsFromFrames(take.Length(), rate)).c_str());

    TerminalTaskHost tasks;
    std::string message;
    FunctionTask save("Saving " + FileNamePart(out), [&](ProgressTask& t) {
        ExportOptions options;
        options.cancelled = [&t] { return PumpTaskMessages(t); };
        const SaveOutcome saved = SaveAudio(t, OpenClipReader(document->clip), out, nullptr, options);
        message = saved.message;
        return saved.result;
    });
    const int32_t result = RunTask(save, tasks);
    if (result == kTaskCancelled || tasks.Interrupted()) return kExitCancelled;
    if (result != kTaskDone) {
        std::fprintf(
            stderr, "sonitor-cli record: %s\n",
            message.empty() ? Format("could not write \"%s\"", out.c_str()).c_str() : message.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

int RunDevices(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fputs("usage: sonitor-cli devices\n", stderr);
        return kExitUsage;
    }
    AudioBackend& backend = CurrentAudioBackend();
    std::printf("Audio backend: %s\n\nOutput devices:\n", backend.Name().c_str());
    std::printf("%s\n", DeviceLabel(0, "[Default Sound Out]").c_str());
    const std::vector<std::string> outputs = backend.OutputDevices();
    for (size_t i = 0; i < outputs.size(); ++i)
        std::printf("%s\n", DeviceLabel(static_cast<int>(i + 1), outputs[i]).c_str());

    std::printf("\nInput devices:\n%s\n", DeviceLabel(0, "[Default Sound In]").c_str());
    const std::vector<std::string> inputs = backend.InputDevices();
    for (size_t i = 0; i < inputs.size(); ++i)
        std::printf("%s\n", DeviceLabel(static_cast<int>(i + 1), inputs[i]).c_str());

    for (size_t n = 0; n <= inputs.size(); ++n) {
        const std::vector<std::string> lines = OpenRecordMixer(backend, static_cast<int>(n))->Lines();
        std::printf("\nCapture lines of input device %zu:\n", n);
        if (lines.empty()) {
            std::printf("     (no record mixer)\n");
            continue;
        }
        std::printf("%s\n", DeviceLabel(RecordMixer::kKeepCurrentLine, "[the mixer's current line]").c_str());
        for (size_t i = 0; i < lines.size(); ++i)
            std::printf("%s\n", DeviceLabel(static_cast<int>(i), lines[i]).c_str());
    }
    return kExitOk;
}

}  // namespace sonitor::cli
