// WAV reading and writing through the program's own path: OpenWavSource,
// the copy loop (converter and limiter included) and the PCM writer.
//
//   wav_bench read IN.wav         reads every frame, prints seconds
//   wav_bench copy IN.wav OUT.wav copies to a 16-bit WAV, prints seconds
//   wav_bench load IN.wav         opens the file into a document (the load
//                                 task writing working files), syncs them to
//                                 disk, prints seconds
//
// bench/run-wav times read and copy beside `sox IN OUT`, `cp` and `cat` in
// one run; bench/run-convert times load beside `cp`.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchBase.h"
#include "document/CopySourceToSink.h"
#include "document/ProgressTask.h"
#include "document/SoundDocument.h"
#include "formats/WavSink.h"
#include "formats/WavSource.h"
#include "formats/import/LoadAudioFile.h"
#include "foundation/WorkingFolder.h"

namespace {

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sonitor;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "read" && argc == 3) || (mode == "load" && argc == 3) || (mode == "copy" && argc == 4))) {
        std::fprintf(
            stderr, "usage: wav_bench read IN.wav | wav_bench load IN.wav | wav_bench copy IN.wav OUT.wav\n");
        return 2;
    }
    WorkingFolderSession session(WorkingFolderMode::Private);
    const auto t0 = std::chrono::steady_clock::now();
    if (mode == "load") {
        Ref<SoundDocument> document = MakeRef<SoundDocument>();
        sonitor::SilentTaskHost host;
        uint8_t interact = 0;
        FunctionTask task("Open",
                          [&](ProgressTask& t) { return LoadAudioFile(t, *document, argv[2], interact); });
        const int32_t result = RunTask(task, host);
        sync();
        std::printf("seconds=%.3f frames=%d result=%d\n", Since(t0), document->Length(), result);
        return result == kTaskDone ? 0 : 1;
    }
    Ref<AudioSource> source = OpenWavSource(argv[2]);
    if (source->Status() != kSourceOk) {
        std::fprintf(stderr, "wav_bench: cannot read %s (status %d)\n", argv[2], source->Status());
        return 1;
    }
    if (mode == "read") {
        std::vector<int32_t> buffer(static_cast<size_t>(kMaxTransferFrames) * source->Channels());
        int64_t sum = 0;
        for (int32_t done = 0; done < source->Length(); done += kMaxTransferFrames) {
            source->Read(buffer.data(), kMaxTransferFrames);
            sum += buffer[0];
        }
        std::printf("seconds=%.3f frames=%d check=%lld\n", Since(t0), source->Length(),
                    static_cast<long long>(sum));
        return 0;
    }
    Ref<AudioSink> sink = CreatePcmWavSink(argv[3], source->SampleRate(), 16, source->Channels());
    sonitor::SilentTaskHost host;
    FunctionTask task("Copy", [&](ProgressTask& t) { return CopySourceToSink(t, "Copying", source, sink); });
    const int32_t result = RunTask(task, host);
    const bool closed = sink->Close();
    std::printf("seconds=%.3f frames=%d result=%d\n", Since(t0), sink->FramesWritten(), result);
    return result == kTaskDone && closed ? 0 : 1;
}
