// The clip writer's files, byte for byte, and the clip reader's handling of
// gains, snapshots and damaged files.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "foundation/FileUtil.h"
#include "support/Bytes.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

const auto FileBytes = test::FileText;

std::string LittleEndian(const std::vector<int32_t>& samples) {
    std::string out;
    for (int32_t s : samples)
        out += test::Le32(static_cast<uint32_t>(s));
    return out;
}

// The overview worked out from the samples: per 256-frame block and channel,
// the positive and the negative peak, each >> 11 and limited to 255.
std::string OverviewOf(const std::vector<int32_t>& samples, int channels) {
    const size_t frames = samples.size() / static_cast<size_t>(channels);
    std::string out;
    for (size_t block = 0; block * 256 < frames; ++block) {
        for (int c = 0; c < channels; ++c) {
            int64_t hi = 0, lo = 0;
            for (size_t f = block * 256; f < std::min(frames, block * 256 + 256); ++f) {
                const int64_t v = samples[f * static_cast<size_t>(channels) + static_cast<size_t>(c)];
                hi = std::max(hi, v);
                lo = std::min(lo, v);
            }
            out.push_back(static_cast<char>(std::min<int64_t>(hi >> 11, 255)));
            out.push_back(static_cast<char>(std::min<int64_t>(-lo >> 11, 255)));
        }
    }
    return out;
}

std::vector<int32_t> RandomSamples(std::mt19937& rng, size_t count) {
    std::vector<int32_t> s(count);
    for (int32_t& v : s)
        v = rng() % 8 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 1200001) - 600000;
    return s;
}

std::vector<int32_t> ReadAll(const AudioClip& clip, int32_t from, int32_t frames) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    reader->Seek(from);
    std::vector<int32_t> out(static_cast<size_t>(frames) * static_cast<size_t>(reader->Channels()));
    ReadInPieces(*reader, out.data(), frames);
    return out;
}

AudioClip WriteClip(const std::vector<int32_t>& samples, int channels) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, channels);
    writer->Write(samples.data(), static_cast<int32_t>(samples.size() / static_cast<size_t>(channels)));
    EXPECT_TRUE(writer->Close());
    return clip;
}

TEST(ClipWriter, WritesRawSamplesAndTheOverview) {
    std::mt19937 rng(7);
    const std::vector<int32_t> samples = RandomSamples(rng, 2000);
    AudioClip target = WriteClip({1, 2, 3}, 1);
    const uint16_t oldId = target.Segments()[0].fileId;

    Ref<ClipWriter> writer = CreateClipWriter(&target, 48000, 2);
    const uint16_t id = writer->FileId();
    ASSERT_NE(id, kSilenceFileId);
    // Pieces that cross block boundaries at odd places.
    int32_t done = 0;
    for (int32_t k : {1, 255, 300, 444}) {
        writer->Write(samples.data() + done * 2, k);
        done += k;
    }
    EXPECT_EQ(writer->FramesWritten(), 1000);
    ASSERT_TRUE(writer->Close());
    writer.Reset();

    EXPECT_EQ(FileBytes(WorkingFileTable::AudioPath(id)), LittleEndian(samples));
    const std::string overview = FileBytes(WorkingFileTable::OverviewPath(id));
    EXPECT_EQ(overview.size(), 16u);
    EXPECT_EQ(overview, OverviewOf(samples, 2));

    EXPECT_EQ(target.Segments(), (std::vector<ClipSegment>{{id, 1000, kUnityGain, 0}}));
    EXPECT_EQ(target.SampleRate(), 48000u);
    EXPECT_EQ(target.Channels(), 2);
    EXPECT_EQ(WorkingFileTable::Instance().Count(id), 1);
    // The target's old contents were let go.
    EXPECT_EQ(WorkingFileTable::Instance().Count(oldId), 0);
    EXPECT_EQ(ReadAll(target, 0, 1000), samples);
}

TEST(ClipWriter, OverviewBytes) {
    EXPECT_EQ(OverviewPeakByte(524288), 255);
    EXPECT_EQ(OverviewPeakByte(2047), 0);
    EXPECT_EQ(OverviewPeakByte(2048), 1);
    EXPECT_EQ(OverviewPeakByte(-5), 0);
    EXPECT_EQ(OverviewPeakByte(-int64_t{kMin32}), 255);

    // Mono blocks: positive only; just below one step; the most negative
    // sample; a short last block.
    std::vector<int32_t> s(256 * 3 + 10, 0);
    s[17] = 524288;
    s[256] = 2047;
    s[300] = -2047;
    s[512] = kMin32;
    s[600] = 6144;
    s[768] = -4096;
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, 1);
    writer->Write(s.data(), static_cast<int32_t>(s.size()));
    writer->Close();
    EXPECT_EQ(FileBytes(WorkingFileTable::OverviewPath(writer->FileId())), std::string("\xFF\x00"
                                                                                       "\x00\x00"
                                                                                       "\x03\xFF"
                                                                                       "\x00\x02",
                                                                                       8));
}

TEST(ClipWriter, TruncateCutsBackFilesAndOverview) {
    // Random writes and cuts, the overview checked against the samples that
    // stay, whatever block the cut lands in.
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        const int channels = 1 + static_cast<int>(seed % 4);
        std::vector<int32_t> model;
        AudioClip clip;
        Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, channels);
        for (int step = 0; step < 12; ++step) {
            const int32_t written = static_cast<int32_t>(model.size()) / channels;
            if (rng() % 3 == 0) {
                int32_t to = static_cast<int32_t>(rng() % static_cast<uint32_t>(written + 20)) - 10;
                if (rng() % 4 == 0) to = to / 256 * 256;
                writer->Truncate(to);
                if (to <= written) model.resize(static_cast<size_t>(std::max(to, 0)) * channels);
            } else {
                const int32_t k = 1 + static_cast<int32_t>(rng() % 700);
                const std::vector<int32_t> more = RandomSamples(rng, static_cast<size_t>(k) * channels);
                writer->Write(more.data(), k);
                model.insert(model.end(), more.begin(), more.end());
            }
            ASSERT_EQ(writer->FramesWritten() * channels, static_cast<int32_t>(model.size()));
        }
        ASSERT_TRUE(writer->Close());
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(clip.Length() * channels, static_cast<int32_t>(model.size()));
        if (model.empty()) {
            EXPECT_TRUE(clip.Empty());
            continue;
        }
        EXPECT_EQ(FileBytes(WorkingFileTable::AudioPath(writer->FileId())), LittleEndian(model));
        EXPECT_EQ(FileBytes(WorkingFileTable::OverviewPath(writer->FileId())), OverviewOf(model, channels));
    }
}

TEST(ClipWriter, NothingWrittenGivesAnEmptyClip) {
    const size_t inUse = WorkingFileTable::Instance().IdsInUse();
    for (bool truncated : {false, true}) {
        AudioClip clip = WriteClip({5, 6}, 1);
        Ref<ClipWriter> writer = CreateClipWriter(&clip, 8000, 2);
        const uint16_t id = writer->FileId();
        if (truncated) {
            const int32_t s[4] = {1, 2, 3, 4};
            writer->Write(s, 2);
            writer->Truncate(0);
        }
        EXPECT_TRUE(writer->Close());
        EXPECT_TRUE(clip.Empty());
        EXPECT_EQ(clip.SampleRate(), 8000u);
        EXPECT_EQ(clip.Channels(), 2);
        EXPECT_EQ(WorkingFileTable::Instance().Count(id), 0);
        EXPECT_FALSE(FileExists(WorkingFileTable::AudioPath(id)));
    }
    EXPECT_EQ(WorkingFileTable::Instance().IdsInUse(), inUse);

    // Without a target the result stays with the writer.
    Ref<ClipWriter> writer = CreateClipWriter(nullptr, 44100, 1);
    const int32_t s[3] = {7, 8, 9};
    writer->Write(s, 3);
    writer->Close();
    EXPECT_EQ(ReadAll(writer->ResultClip(), 0, 3), (std::vector<int32_t>{7, 8, 9}));
}

TEST(ClipWriter, FilesThatCannotBeCreatedFail) {
    // The next id to be handed out, with a folder in the way of its file.
    const uint16_t next = WorkingFileTable::Instance().TakeId();
    WorkingFileTable::Instance().Release(next);
    const std::string blocker = WorkingFileTable::AudioPath(next);
    ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);

    AudioClip clip;
    {
        Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, 1);
        EXPECT_EQ(writer->FileId(), next);
        EXPECT_TRUE(writer->Failed());
        const std::vector<int32_t> s(100, 1000);
        writer->Write(s.data(), 100);
        EXPECT_FALSE(writer->Close());
    }
    // The length is kept; the samples read as silence.
    EXPECT_EQ(clip.Length(), 100);
    EXPECT_EQ(ReadAll(clip, 0, 100), std::vector<int32_t>(100, 0));
    clip = AudioClip();
    EXPECT_EQ(::rmdir(blocker.c_str()), 0);

    // Every id taken: the writer has no file at all.
    std::vector<uint16_t> all(kSilenceFileId);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint16_t>(i);
    WorkingFileTable::Instance().AddRefs(all.data(), all.size());
    {
        Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, 1);
        EXPECT_EQ(writer->FileId(), kSilenceFileId);
        const std::vector<int32_t> s(50, 1000);
        writer->Write(s.data(), 50);
        EXPECT_FALSE(writer->Close());
    }
    WorkingFileTable::Instance().Releases(all.data(), all.size());
    EXPECT_EQ(clip.Segments(), (std::vector<ClipSegment>{{kSilenceFileId, 50, kUnityGain, 0}}));
}

// A full disk, by a file size limit in a child process: every write past the
// limit fails with EFBIG, and the writer must say so.
TEST(ClipWriter, FullDiskSetsFailed) {
    const int code = test::InChild(
        [] {
            AudioClip clip;
            std::vector<int32_t> s(8192 * 2);
            for (size_t i = 0; i < s.size(); ++i)
                s[i] = static_cast<int32_t>(i) + 1;
            Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, 2);
            for (int i = 0; i < 40; ++i)
                writer->Write(s.data(), 8192);
            const bool closed = writer->Close();
            writer.Reset();
            int code = 0;
            if (closed || clip.Length() != 40 * 8192) code = 1;
            // What reached the disk reads back; the rest is silence.
            const std::vector<int32_t> head = ReadAll(clip, 0, 16);
            const std::vector<int32_t> tail = ReadAll(clip, 40 * 8192 - 16, 16);
            if (head != std::vector<int32_t>(s.begin(), s.begin() + 32)) code = 2;
            if (tail != std::vector<int32_t>(32, 0)) code = 3;
            clip = AudioClip();
            return code;
        },
        64 * 1024);
    EXPECT_EQ(code, 0);
}

TEST(ClipReader, GainMultiplier) {
    const std::vector<int32_t> s = {1000, -1000, 3, -3, 524272, kMax32, kMin32, 0};
    const AudioClip plain = WriteClip(s, 2);
    const uint16_t id = plain.Segments()[0].fileId;
    auto withGain = [&](int32_t gain) {
        AudioClip clip(44100, 2);
        WorkingFileTable::Instance().AddRef(id);
        clip.AppendOwnedSegment({id, 4, gain, 0});
        return ReadAll(clip, 0, 4);
    };
    // 0.5: multiplier 256, then >> 9 (rounding toward minus infinity).
    EXPECT_EQ(withGain(0x800000),
              (std::vector<int32_t>{500, -500, 1, -2, 262136, kMax32 / 2, kMin32 / 2, 0}));
    // Far above 8.0 the products saturate.
    EXPECT_EQ(withGain(kMaxGain),
              (std::vector<int32_t>{127998, -127999, 383, -384, 67105792, kMax32, kMin32, 0}));
    // The smallest non-zero multiplier.
    EXPECT_EQ(withGain(0x8000), (std::vector<int32_t>{1, -2, 0, -1, 1023, 4194303, -4194304, 0}));
}

TEST(ClipReader, BufferGainMatchesTheSampleRule) {
    std::mt19937 rng(11);
    std::vector<int32_t> input = {0,    1,   -1,     511,    512,          -511,
                                  -512, 513, kMax32, kMin32, kMax32 - 511, kMin32 + 511};
    while (input.size() < 203)
        input.push_back(static_cast<int32_t>(rng()));
    for (int32_t m : {-65536, -1024, -513, -512, -511, -1, 0, 1, 255, 256, 511, 512, 513, 4096, 65535}) {
        std::vector<int32_t> buffer = input;
        ApplyReaderGain(buffer.data(), buffer.size(), m);
        for (size_t i = 0; i < input.size(); ++i) {
            ASSERT_EQ(buffer[i], ApplyReaderGain(input[i], m))
                << "sample " << input[i] << " multiplier " << m;
        }
    }
}

TEST(ClipReader, ReadsASnapshotAndSurvivesDamagedFiles) {
    std::mt19937 rng(5);
    const std::vector<int32_t> samples = RandomSamples(rng, 1000);
    AudioClip clip = WriteClip(samples, 1);
    clip.SetFormat(22050, 1);
    const uint16_t id = clip.Segments()[0].fileId;

    Ref<ClipReader> reader = OpenClipReader(clip);
    EXPECT_EQ(reader->SampleRate(), 22050);
    EXPECT_EQ(reader->FullScale(), 2097152);
    ClipClear(clip);
    EXPECT_EQ(reader->Length(), 1000);
    EXPECT_TRUE(FileExists(WorkingFileTable::AudioPath(id)));
    std::vector<int32_t> got(1000);
    reader->Read(got.data(), 1000);
    EXPECT_EQ(got, samples);

    // A file cut short reads as silence past its end; a missing one reads
    // as silence throughout.
    const AudioClip copy = WriteClip(samples, 1);
    const std::string path = WorkingFileTable::AudioPath(copy.Segments()[0].fileId);
    ASSERT_EQ(::truncate(path.c_str(), 600 * 4 + 2), 0);
    std::vector<int32_t> expected = samples;
    std::fill(expected.begin() + 600, expected.end(), 0);
    EXPECT_EQ(ReadAll(copy, 0, 1000), expected);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(ReadAll(copy, 0, 1000), std::vector<int32_t>(1000, 0));
}

// Writers, copies and releases from several threads at once: every thread
// reads back exactly what it wrote, and the table ends where it began.
TEST(ClipIo, ConcurrentWritersAndReleases) {
    const size_t inUse = WorkingFileTable::Instance().IdsInUse();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches] {
            std::mt19937 rng(static_cast<uint32_t>(100 + t));
            std::vector<AudioClip> kept;
            for (int i = 0; i < 150; ++i) {
                const std::vector<int32_t> s = RandomSamples(rng, 2 * (1 + rng() % 600));
                AudioClip clip = WriteClip(s, 2);
                AudioClip copy = clip;
                ClipInsert(copy, 0, clip);
                if (ReadAll(copy, clip.Length(), clip.Length()) != s) ++mismatches;
                kept.push_back(std::move(clip));
                if (kept.size() > 5) kept.erase(kept.begin() + static_cast<ptrdiff_t>(rng() % kept.size()));
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(WorkingFileTable::Instance().IdsInUse(), inUse);
}

}  // namespace
}  // namespace sonitor
