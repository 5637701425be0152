#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "document/CopySourceToSink.h"
#include "document/ProgressTask.h"
#include "foundation/ManualResetEvent.h"
#include "support/MemorySources.h"
#include "support/ScriptedTaskHost.h"

namespace sonitor {
namespace {

using test::VectorSource;

// Keeps what it is given; fails once it holds failAfterFrames frames.
class VectorSink final : public AudioSink {
public:
    VectorSink(int32_t rate, int channels) : AudioSink(rate, channels) {}
    std::vector<int32_t> samples;
    int64_t failAfterFrames = -1;

protected:
    void WriteFrames(const int32_t* buffer, int32_t frames) override {
        samples.insert(samples.end(), buffer, buffer + static_cast<size_t>(frames) * Channels());
        if (failAfterFrames >= 0 && static_cast<int64_t>(samples.size() / Channels()) >= failAfterFrames) {
            SetFailed();
        }
    }
    void TruncateTo(int32_t frames) override { samples.resize(static_cast<size_t>(frames) * Channels()); }
};

std::vector<int32_t> Ramp(int32_t frames, int channels) {
    std::vector<int32_t> v(static_cast<size_t>(frames) * channels);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int32_t>(i % 1000) * 16 - 8000;
    return v;
}

int32_t Copy(test::ScriptedTaskHost& host, const Ref<AudioSource>& source, const Ref<AudioSink>& sink) {
    FunctionTask task("Copy", [&](ProgressTask& t) { return CopySourceToSink(t, "Copying", source, sink); });
    return RunTask(task, host);
}

TEST(TaskTest, RunRefusesARunningTaskAndSurvivesAFailedDisplay) {
    test::ScriptedTaskHost host;
    int runs = 0;
    bool innerRan = true;
    FunctionTask task("Outer", [&](ProgressTask& self) {
        ++runs;
        innerRan = RunTaskWithProgress(self, host);  // already running
        return int32_t{kTaskDone};
    });
    EXPECT_TRUE(RunTaskWithProgress(task, host));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(innerRan);
    EXPECT_EQ(task.Result(), kTaskDone);
    EXPECT_FALSE(task.Running());
    EXPECT_EQ(host.opens, 1);
    EXPECT_EQ(host.closes, 1);

    // A finished task can run again.
    EXPECT_EQ(RunTask(task, host), kTaskDone);
    EXPECT_EQ(runs, 2);

    test::ScriptedTaskHost broken;
    broken.failToOpen = true;
    EXPECT_FALSE(RunTaskWithProgress(task, broken));
    EXPECT_EQ(RunTask(task, broken), kTaskFailed);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(broken.closes, 0);
}

TEST(TaskTest, BarLagsOneBlockAndNeverShowsHundred) {
    test::ScriptedTaskHost host;
    auto source = MakeRef<VectorSource>(Ramp(16384, 2), 44100, 2);
    auto sink = MakeRef<VectorSink>(44100, 2);
    EXPECT_EQ(Copy(host, source, sink), kTaskDone);
    EXPECT_EQ(sink->samples, Ramp(16384, 2));
    // Opening sets 0, the copy loop sets 0, then 0 after the first block and
    // 50 after the second.
    EXPECT_EQ(host.percents, (std::vector<int>{0, 0, 0, 50}));
    ASSERT_EQ(host.texts.size(), 2u);
    EXPECT_EQ(host.texts[0], std::make_pair(0, std::string("Copying")));
    EXPECT_EQ(host.texts[1], std::make_pair(1, std::string("Please wait...")));
    EXPECT_EQ(host.pumps, 2);
    EXPECT_EQ(host.closes, 1);
}

TEST(TaskTest, CancelStopsWithinOneBlock) {
    for (int pumpsBeforeCancel : {0, 1, 3}) {
        test::ScriptedTaskHost host;
        host.cancelAfterPumps = pumpsBeforeCancel;
        auto source = MakeRef<VectorSource>(Ramp(100000, 1), 8000, 1);
        auto sink = MakeRef<VectorSink>(8000, 1);
        EXPECT_EQ(Copy(host, source, sink), kTaskCancelled);
        EXPECT_EQ(sink->FramesWritten(), pumpsBeforeCancel * kMaxTransferFrames);
        EXPECT_EQ(host.closes, 1) << "the display is taken down after a cancel too";
        EXPECT_LT(*std::max_element(host.percents.begin(), host.percents.end()), 100);
    }
}

TEST(TaskTest, EmptySourceFinishesAtOnce) {
    test::ScriptedTaskHost host;
    auto source = MakeRef<VectorSource>(std::vector<int32_t>{}, 44100, 1);
    auto sink = MakeRef<VectorSink>(44100, 1);
    EXPECT_EQ(Copy(host, source, sink), kTaskDone);
    EXPECT_EQ(sink->FramesWritten(), 0);
    EXPECT_EQ(host.pumps, 0);
    EXPECT_EQ(host.percents, (std::vector<int>{0, 0}));
}

TEST(TaskTest, FailuresOfSourceOrSinkAreFailures) {
    {  // a sink that fills up half-way
        test::ScriptedTaskHost host;
        auto source = MakeRef<VectorSource>(Ramp(50000, 2), 44100, 2);
        auto sink = MakeRef<VectorSink>(44100, 2);
        sink->failAfterFrames = 20000;
        EXPECT_EQ(Copy(host, source, sink), kTaskFailed);
        EXPECT_EQ(sink->FramesWritten(), 3 * kMaxTransferFrames);
    }
    {  // a source that turns bad half-way
        test::ScriptedTaskHost host;
        auto source = MakeRef<VectorSource>(Ramp(50000, 2), 44100, 2);
        source->failAfterReads = 2;
        auto sink = MakeRef<VectorSink>(44100, 2);
        EXPECT_EQ(Copy(host, source, sink), kTaskFailed);
        EXPECT_EQ(sink->FramesWritten(), kMaxTransferFrames);
    }
    {  // unusable from the start, either side
        test::ScriptedTaskHost host;
        auto sink = MakeRef<VectorSink>(44100, 1);
        EXPECT_EQ(Copy(host, MakeNullSource(kSourceCannotOpen), sink), kTaskFailed);
        EXPECT_EQ(Copy(host, MakeRef<VectorSource>(Ramp(10, 1), 44100, 1), MakeNullSink()), kTaskFailed);
        EXPECT_EQ(host.pumps, 0);
    }
}

TEST(TaskTest, CopyLimitsLoudSources) {
    test::ScriptedTaskHost host;
    std::vector<int32_t> loud(44100);
    for (size_t i = 0; i < loud.size(); ++i)
        loud[i] = (i % 100 < 50 ? 1 : -1) * 3 * kFullScale16;
    auto source = MakeRef<VectorSource>(loud, 44100, 1, 4 * kFullScale16);
    auto sink = MakeRef<VectorSink>(44100, 1);
    EXPECT_EQ(Copy(host, source, sink), kTaskDone);
    ASSERT_EQ(sink->samples.size(), loud.size());
    int64_t peak = 0;
    for (int32_t s : sink->samples)
        peak = std::max<int64_t>(peak, std::abs(int64_t{s}));
    EXPECT_LE(peak, kFullScale16 + kFullScale16 / 100);
    EXPECT_GT(peak, kFullScale16 * 9 / 10);
}

TEST(TaskTest, WaitsPumpAndSeeCancelAndEvents) {
    using namespace std::chrono;
    test::ScriptedTaskHost host;
    int waited = -1;
    FunctionTask task("Wait", [&](ProgressTask& t) {
        waited = WaitWhilePumping(t, 30);
        return int32_t{kTaskDone};
    });
    auto start = steady_clock::now();
    RunTask(task, host);
    EXPECT_EQ(waited, 0);
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - start).count(), 30);
    EXPECT_GE(host.pumps, 2);

    test::ScriptedTaskHost cancelling;
    cancelling.cancelAfterPumps = 1;
    FunctionTask longWait("Wait", [&](ProgressTask& t) {
        waited = WaitWhilePumping(t, 10000);
        ShowTaskError(t, "stopped");
        return int32_t{kTaskCancelled};
    });
    start = steady_clock::now();
    EXPECT_EQ(RunTask(longWait, cancelling), kTaskCancelled);
    EXPECT_EQ(waited, 1);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 2000);
    EXPECT_EQ(cancelling.errors, std::vector<std::string>{"stopped"});

    ManualResetEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(milliseconds(30));
        event.Set();
    });
    FunctionTask eventWait("Event", [&](ProgressTask& t) {
        waited = WaitWhilePumping(t, event, 10000);
        return int32_t{kTaskDone};
    });
    test::ScriptedTaskHost quiet;
    RunTask(eventWait, quiet);
    setter.join();
    EXPECT_EQ(waited, 0);

    event.Reset();
    FunctionTask timeout("Event", [&](ProgressTask& t) {
        waited = WaitWhilePumping(t, event, 25);
        return int32_t{kTaskDone};
    });
    RunTask(timeout, quiet);
    EXPECT_EQ(waited, 2);

    test::ScriptedTaskHost cancelNow;
    cancelNow.cancelAfterPumps = 0;
    RunTask(timeout, cancelNow);
    EXPECT_EQ(waited, 1);
}

}  // namespace
}  // namespace sonitor
