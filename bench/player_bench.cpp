// The player on the null device.
//
//   player_bench [--starts N] [--seconds S] [--speed X]
//
// Start-up: N times (default 200) StartPlayback of a 44.1 kHz stereo tone
// that declares headroom (so the peak limiter is in the chain, as for a
// document), timing until the first buffer has been handed to the device,
// then StopPlayback. Prints the median, the 99th percentile and the worst.
//
// Running cost: S seconds (default 60) of the same tone played on the null
// device's clock running X times real time (default 50), with the
// notifications pumped as the editor would. Prints the process's CPU time
// per second of audio played, which includes the null device's own copying
// of what it plays.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "audio_io/NullAudio.h"
#include "audio_io/SoundPlayer.h"
#include "foundation/Notifier.h"

namespace sonitor {
namespace {

constexpr int32_t kRate = 44100;
constexpr int kChannels = 2;

// One second of a 441 Hz sine repeated, from a table so that the source
// costs next to nothing beside the player.
class Tone final : public AudioSource {
public:
    explicit Tone(int32_t frames) : AudioSource(kRate, kFullScaleHeadroom, kChannels), frames_(frames) {
        static const std::vector<int32_t> table = [] {
            std::vector<int32_t> t(kRate);
            for (int32_t i = 0; i < kRate; ++i)
                t[i] = static_cast<int32_t>(400000 * std::sin(2 * M_PI * 441 * i / kRate));
            return t;
        }();
        table_ = &table;
    }
    void Read(int32_t* buffer, int32_t frames) override {
        for (int32_t i = 0; i < frames; ++i) {
            const int32_t v = (*table_)[static_cast<size_t>((position_ + i) % kRate + kRate) % kRate];
            buffer[2 * i] = v;
            buffer[2 * i + 1] = -v;
        }
        position_ += frames;
    }
    int32_t Position() const override { return position_; }
    int32_t Length() const override { return frames_; }
    void Seek(int32_t position) override { position_ = position; }

private:
    const std::vector<int32_t>* table_;
    int32_t frames_;
    int32_t position_ = 0;
};

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int Run(int starts, int seconds, double speed) {
    NullAudioBackend& null = NullAudio();
    SoundPlayer player(null);

    null.SetManualClock(true);
    std::vector<double> micros;
    for (int i = 0; i < starts; ++i) {
        const int64_t before = null.BuffersWritten();
        const auto t0 = std::chrono::steady_clock::now();
        if (!player.StartPlayback(MakeRef<Tone>(kRate * 10))) {
            std::fprintf(stderr, "player_bench: the null device did not open\n");
            return 1;
        }
        // Sleeping keeps this loop from taking a core and the device's lock
        // from the feeder; it adds at most some tens of microseconds.
        while (null.BuffersWritten() == before)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
        player.StopPlayback();
        PumpNotifications();
        null.TakePlayed();
    }
    std::sort(micros.begin(), micros.end());
    std::printf("start to first buffer: median %.1f us, p99 %.1f us, worst %.1f us (%d starts)\n",
                micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back(), starts);

    null.SetManualClock(false);
    null.SetSpeed(speed);
    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    player.StartPlayback(MakeRef<Tone>(kRate * seconds));
    while (!player.Idle()) {
        WaitAndPumpNotifications(50);
        null.TakePlayed();  // keeps the device's record of what it played small
    }
    const double cpu = CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    std::printf("playback: %.3f ms CPU per second of audio (%d s of 44.1 kHz stereo in %.2f s at %gx)\n",
                cpu * 1000 / seconds, seconds, wall, speed);
    return 0;
}

}  // namespace
}  // namespace sonitor

int main(int argc, char** argv) {
    int starts = 200;
    int seconds = 60;
    double speed = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--starts") == 0) starts = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--speed") == 0) speed = std::max(1.0, std::atof(argv[i + 1]));
    }
    return sonitor::Run(starts, seconds, speed);
}
