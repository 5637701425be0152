// MP3 decoding speed of Mp3Source:
//
//   mp3_bench FILE.mp3
//
// Opens the file with OpenMp3Source, reads it to the end in blocks of
// kMaxTransferFrames and prints one line:
//   seconds=S frames=N rate=R channels=C
// where S is the wall time of opening and decoding. bench/run-mp3 times
// mpg123 on the same file beside it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "formats/mp3/Mp3Source.h"
#include "foundation/AudioSource.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mp3_bench FILE.mp3\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    sonitor::Ref<sonitor::AudioSource> source = sonitor::OpenMp3Source(argv[1]);
    if (!source->Ok()) {
        std::fprintf(stderr, "mp3_bench: %s: status %d\n", argv[1], source->Status());
        return 1;
    }
    std::vector<int32_t> buffer(static_cast<size_t>(sonitor::kMaxTransferFrames) * source->Channels());
    int64_t frames = 0;
    // Sum a sample per block so the decoding cannot be optimised away.
    int64_t check = 0;
    while (source->Position() < source->Length()) {
        source->Read(buffer.data(), sonitor::kMaxTransferFrames);
        frames += sonitor::kMaxTransferFrames;
        check += buffer[0];
    }
    frames = source->Length();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("seconds=%.3f frames=%lld rate=%d channels=%d check=%lld\n", seconds,
                static_cast<long long>(frames), source->SampleRate(), source->Channels(),
                static_cast<long long>(check));
    return 0;
}
