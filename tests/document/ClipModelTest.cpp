// Clip operations against a flat model: every frame of the model says which
// file frame it shows and with what gain, and the operations are rebuilt on
// it straight from their definitions. A ClipReader over the clip must return
// exactly the model's samples.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <dirent.h>

#include <gtest/gtest.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/ClipWriter.h"
#include "foundation/FileUtil.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {
namespace {

constexpr int kChannels = 2;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

struct ModelFrame {
    uint16_t file = kSilenceFileId;
    int32_t fileFrame = 0;
    int32_t gain = kUnityGain;
};
using Model = std::vector<ModelFrame>;

// Samples of every working file the tests wrote, by id.
std::map<uint16_t, std::vector<int32_t>>& FileSamples() {
    static std::map<uint16_t, std::vector<int32_t>> files;
    return files;
}

int CountWorkingFiles() {
    int n = 0;
    DIR* dir = opendir(WorkingFolder().c_str());
    if (dir == nullptr) return -1;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && (name.ends_with(".aud") || name.ends_with(".grf"))) ++n;
    }
    closedir(dir);
    return n;
}

// Writes samples through a ClipWriter in uneven pieces; the model shows
// each file frame once at unity gain.
AudioClip WriteMaterial(std::mt19937& rng, int32_t frames, Model& model) {
    std::vector<int32_t> samples(static_cast<size_t>(frames) * kChannels);
    for (int32_t& s : samples) {
        // Mostly audio-sized values, some at the edges of the range so that
        // large gains saturate.
        const uint32_t r = rng();
        s = r % 16 == 0 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(r % 1048577) - 524288;
    }
    AudioClip clip;
    {
        Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, kChannels);
        int32_t done = 0;
        while (done < frames) {
            const int32_t k = std::min<int32_t>(frames - done, 1 + static_cast<int32_t>(rng() % 400));
            writer->Write(samples.data() + static_cast<size_t>(done) * kChannels, k);
            done += k;
        }
        EXPECT_TRUE(writer->Close());
    }
    const uint16_t id = clip.Segments().at(0).fileId;
    FileSamples()[id] = samples;
    model.clear();
    for (int32_t f = 0; f < frames; ++f)
        model.push_back({id, f, kUnityGain});
    return clip;
}

// --- The model operations, from their definitions -------------------------

Model Silence(int64_t n) {
    return Model(static_cast<size_t>(n));
}

void MDelete(Model& m, int64_t start, int64_t end) {
    if (start > end || end < 0) return;
    start = std::max<int64_t>(start, 0);
    end = std::min<int64_t>(end, static_cast<int64_t>(m.size()));
    if (start < end) m.erase(m.begin() + start, m.begin() + end);
}

void MInsert(Model& m, int64_t pos, const Model& other) {
    const int64_t len = static_cast<int64_t>(m.size());
    if (pos < 0) {
        Model out = other;
        const Model gap = Silence(-pos);
        out.insert(out.end(), gap.begin(), gap.end());
        out.insert(out.end(), m.begin(), m.end());
        m = out;
    } else if (pos >= len) {
        const Model gap = Silence(pos - len);
        m.insert(m.end(), gap.begin(), gap.end());
        m.insert(m.end(), other.begin(), other.end());
    } else {
        m.insert(m.begin() + pos, other.begin(), other.end());
    }
}

void MInsertSilence(Model& m, int64_t count, int64_t pos) {
    if (pos < 0) {
        count += pos;
        pos = 0;
    }
    if (count <= 0) return;
    MInsert(m, pos, Silence(count));
}

void MExtract(Model& dest, const Model& src, int64_t start, int64_t end) {
    if (start > end) return;
    Model out;
    for (int64_t f = start; f < end; ++f) {
        out.push_back(f >= 0 && f < static_cast<int64_t>(src.size()) ? src[static_cast<size_t>(f)]
                                                                     : ModelFrame{});
    }
    dest = out;
}

void MCut(Model& dest, Model& src, int64_t start, int64_t end) {
    MExtract(dest, src, start, end);
    MDelete(src, start, end);
}

void MCrop(Model& m, int64_t start, int64_t end) {
    if (start > 0) MDelete(m, 0, start);
    MDelete(m, end - start, static_cast<int64_t>(m.size()));
}

void MReplace(Model& m, int64_t start, int64_t end, const Model& other) {
    const Model copy = other;
    MDelete(m, start, end);
    MInsert(m, start, copy);
}

void MRepeat(Model& m, int64_t start, int64_t end, int times) {
    if (times <= 0 || start >= end) return;
    Model piece;
    MExtract(piece, m, start, end);
    for (int t = 0; t < times; ++t)
        MInsert(m, start, piece);
}

void MScale(Model& m, int64_t start, int64_t end, int32_t percent) {
    if (percent == 100 || start > end) return;
    start = std::max<int64_t>(start, 0);
    end = std::min<int64_t>(end, static_cast<int64_t>(m.size()));
    if (start >= end) return;
    Model piece;
    MCut(piece, m, start, end);
    for (ModelFrame& f : piece)
        f.gain = ScaledGain(f.gain, percent);
    MInsert(m, start, piece);
}

// --- Checking ----------------------------------------------------------------

std::vector<int32_t> Expected(const Model& m, int64_t from, int32_t frames) {
    std::vector<int32_t> out(static_cast<size_t>(frames) * kChannels, 0);
    for (int32_t i = 0; i < frames; ++i) {
        const int64_t f = from + i;
        if (f < 0 || f >= static_cast<int64_t>(m.size())) continue;
        const ModelFrame& mf = m[static_cast<size_t>(f)];
        if (mf.file == kSilenceFileId) continue;
        const std::vector<int32_t>& data = FileSamples().at(mf.file);
        for (int c = 0; c < kChannels; ++c) {
            out[static_cast<size_t>(i) * kChannels + c] =
                ApplyReaderGain(data[static_cast<size_t>(mf.fileFrame) * kChannels + c], mf.gain >> 15);
        }
    }
    return out;
}

// Reads the whole clip in random pieces from a negative start, then at a
// few random places.
void CheckSamples(std::mt19937& rng, const AudioClip& clip, const Model& model, const std::string& log) {
    const int32_t len = static_cast<int32_t>(model.size());
    Ref<ClipReader> reader = OpenClipReader(clip);
    ASSERT_EQ(reader->Length(), len) << log;
    ASSERT_EQ(reader->Channels(), kChannels);
    std::vector<int32_t> buffer;
    auto readAndCompare = [&](int32_t from, int32_t to) {
        int32_t pos = from;
        while (pos < to) {
            const int32_t k = std::min<int32_t>(to - pos, 1 + static_cast<int32_t>(rng() % 3000));
            buffer.assign(static_cast<size_t>(k) * kChannels, 0x5A5A5A5A);
            reader->Read(buffer.data(), k);
            ASSERT_EQ(buffer, Expected(model, pos, k)) << "reading " << k << " at " << pos << "\n" << log;
            pos += k;
            ASSERT_EQ(reader->Position(), pos);
        }
    };
    const int32_t lead = -static_cast<int32_t>(rng() % 300);
    reader->Seek(lead);
    readAndCompare(lead, len + 100);
    for (int i = 0; i < 4; ++i) {
        const int32_t at = static_cast<int32_t>(rng() % static_cast<uint32_t>(len + 400)) - 200;
        reader->Seek(at);
        ASSERT_EQ(reader->Position(), at);
        readAndCompare(at, at + 1 + static_cast<int32_t>(rng() % 2000));
    }
}

void CheckStructure(const AudioClip& clip, const Model& model, const std::string& log) {
    ASSERT_EQ(clip.Length(), static_cast<int32_t>(model.size())) << log;
    ASSERT_EQ(ClipLength(clip), clip.Length());
    int64_t sum = 0;
    for (const ClipSegment& seg : clip.Segments()) {
        ASSERT_GE(seg.frames, 1) << log;
        sum += seg.frames;
    }
    ASSERT_EQ(sum, clip.Length()) << log;
}

// --- The random sequences ------------------------------------------------------

struct Tracked {
    AudioClip clip;
    Model model;
};

int32_t PickPosition(std::mt19937& rng, const AudioClip& clip) {
    const int32_t len = clip.Length();
    auto upTo = [&](int32_t n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n + 1)); };
    switch (rng() % 7) {
        case 0:
        case 1:
            return upTo(len);
        case 2: {
            // A segment boundary, or one frame either side of it.
            if (clip.Segments().empty()) return 0;
            const size_t index = rng() % clip.Segments().size();
            int32_t p = 0;
            for (size_t i = 0; i < index; ++i)
                p += clip.Segments()[i].frames;
            return p + static_cast<int32_t>(rng() % 3) - 1;
        }
        case 3:
            return -1 - upTo(300);
        case 4:
            return len + 1 + upTo(300);
        case 5:
            return rng() % 2 ? 0 : len;
        default:
            return upTo(len + 100) - 50;
    }
}

std::pair<int32_t, int32_t> PickRange(std::mt19937& rng, const AudioClip& clip) {
    int32_t a = PickPosition(rng, clip);
    int32_t b = PickPosition(rng, clip);
    if (rng() % 8 != 0 && a > b) std::swap(a, b);
    return {a, b};
}

constexpr int32_t kPercents[] = {0, 1, 50, 99, 100, 101, 150, 200, 333, 1000, -100};

// Single-segment clips of lengths around the 256-frame block, and a
// composite of two files with silence between and a quieter part.
std::vector<Tracked> MakeMaterials() {
    std::mt19937 rng(20240611);
    std::vector<Tracked> materials;
    for (int32_t frames : {1, 255, 256, 700, 1500}) {
        Tracked t;
        t.clip = WriteMaterial(rng, frames, t.model);
        materials.push_back(std::move(t));
    }
    Tracked mixed = materials[3];
    EXPECT_TRUE(ClipInsertSilence(mixed.clip, 37, 500));
    MInsertSilence(mixed.model, 37, 500);
    EXPECT_TRUE(ClipInsert(mixed.clip, 100, materials[4].clip));
    MInsert(mixed.model, 100, materials[4].model);
    ClipScaleRange(mixed.clip, 50, 400, 60);
    MScale(mixed.model, 50, 400, 60);
    materials.push_back(std::move(mixed));
    return materials;
}

// Every file's count equals the segments naming it across the live clips.
void CheckCounts(const std::vector<const AudioClip*>& live, const std::string& log) {
    std::map<uint16_t, int> expected;
    for (const auto& [id, samples] : FileSamples())
        expected[id] = 0;
    for (const AudioClip* clip : live) {
        for (const ClipSegment& seg : clip->Segments()) {
            if (!seg.IsSilence()) ++expected[seg.fileId];
        }
    }
    for (const auto& [id, n] : expected) {
        ASSERT_EQ(WorkingFileTable::Instance().Count(id), n) << "file " << id << "\n" << log;
    }
}

void RunSequences(const std::vector<Tracked>& materials) {
    constexpr int kSequences = 3000;
    constexpr int kSteps = 40;
    constexpr size_t kLengthCap = 9000;
    for (int seed = 1; seed <= kSequences; ++seed) {
        std::mt19937 rng(static_cast<uint32_t>(seed));
        Tracked a = materials[rng() % materials.size()];
        Tracked b{AudioClip(44100, kChannels), {}};
        std::string log = "seed " + std::to_string(seed) + ":";
        for (int step = 0; step < kSteps; ++step) {
            if (rng() % 3 == 0) std::swap(a, b);
            const Tracked& material = materials[rng() % materials.size()];
            // The clip inserted: a material, the other working clip, or the
            // clip itself.
            const uint32_t pick = rng() % 4;
            const Tracked& other = pick == 0 ? b : pick == 1 ? a : material;
            const bool tooLong = a.model.size() + other.model.size() > kLengthCap;
            auto [start, end] = PickRange(rng, a.clip);
            const int32_t pos = PickPosition(rng, a.clip);
            bool ok = true;
            std::string op;
            switch (rng() % 15) {
                case 0:
                    op = "delete";
                    ClipDeleteRange(a.clip, start, end);
                    MDelete(a.model, start, end);
                    break;
                case 1:
                    op = "trimstart";
                    ClipTrimStart(a.clip, start);
                    if (start > 0) MDelete(a.model, 0, start);
                    break;
                case 2:
                    op = "trimend";
                    ClipTrimEnd(a.clip, start);
                    MDelete(a.model, start, static_cast<int64_t>(a.model.size()));
                    break;
                case 3:
                    op = "crop";
                    ClipCrop(a.clip, start, end);
                    MCrop(a.model, start, end);
                    break;
                case 4: {
                    if (end - start > static_cast<int64_t>(kLengthCap)) continue;
                    // Now and then from the destination itself.
                    const Tracked& src = rng() % 4 == 0 ? b : a;
                    op = "extract";
                    ok = ClipExtract(b.clip, src.clip, start, end);
                    MExtract(b.model, src.model, start, end);
                    break;
                }
                case 6:
                    if (end - start > static_cast<int64_t>(kLengthCap)) continue;
                    op = "cut";
                    ok = ClipCut(b.clip, a.clip, start, end);
                    MCut(b.model, a.model, start, end);
                    break;
                case 5:
                case 7:
                case 13:
                case 14:
                    if (tooLong) continue;
                    op = "insert";
                    ok = ClipInsert(a.clip, pos, other.clip);
                    MInsert(a.model, pos, Model(other.model));
                    break;
                case 8: {
                    const int32_t count = static_cast<int32_t>(rng() % 600) - 100;
                    if (tooLong) continue;
                    op = "silence " + std::to_string(count);
                    ok = ClipInsertSilence(a.clip, count, pos);
                    MInsertSilence(a.model, count, pos);
                    break;
                }
                case 9:
                    if (tooLong) continue;
                    op = "replace";
                    ok = ClipReplaceRange(a.clip, start, end, other.clip);
                    MReplace(a.model, start, end, other.model);
                    break;
                case 10: {
                    const int times = static_cast<int>(rng() % 4);
                    if (a.model.size() + static_cast<size_t>(std::max(0, end - start) + 300) * times >
                        kLengthCap) {
                        continue;
                    }
                    op = "repeat x" + std::to_string(times);
                    ok = ClipRepeat(a.clip, start, end, times);
                    MRepeat(a.model, start, end, times);
                    break;
                }
                case 11: {
                    if (tooLong || end - start > static_cast<int64_t>(kLengthCap)) continue;
                    const int32_t percent = kPercents[rng() % std::size(kPercents)];
                    op = "scale " + std::to_string(percent);
                    ClipScaleRange(a.clip, start, end, percent);
                    MScale(a.model, start, end, percent);
                    break;
                }
                default:
                    if (rng() % 4 == 0) {
                        op = "clear";
                        ClipClear(a.clip);
                        a.model.clear();
                    } else {
                        op = "copy";
                        ClipCopy(a.clip, material.clip);
                        a.model = material.model;
                    }
                    break;
            }
            log += " " + op + "(" + std::to_string(start) + "," + std::to_string(end) + "," +
                   std::to_string(pos) + ")";
            ASSERT_TRUE(ok) << log;
            ASSERT_NO_FATAL_FAILURE(CheckStructure(a.clip, a.model, log));
            ASSERT_NO_FATAL_FAILURE(CheckStructure(b.clip, b.model, log));
            std::vector<const AudioClip*> live = {&a.clip, &b.clip};
            for (const Tracked& m : materials)
                live.push_back(&m.clip);
            ASSERT_NO_FATAL_FAILURE(CheckCounts(live, log));
        }
        ASSERT_NO_FATAL_FAILURE(CheckSamples(rng, a.clip, a.model, log));
        ASSERT_NO_FATAL_FAILURE(CheckSamples(rng, b.clip, b.model, log));
    }
}

TEST(ClipModel, RandomSequencesMatchFlatModel) {
    const size_t idsBefore = WorkingFileTable::Instance().IdsInUse();
    const int filesBefore = CountWorkingFiles();
    ASSERT_NO_FATAL_FAILURE(RunSequences(MakeMaterials()));
    FileSamples().clear();
    // With every clip dropped, everything the test wrote is gone again.
    EXPECT_EQ(WorkingFileTable::Instance().IdsInUse(), idsBefore);
    EXPECT_EQ(CountWorkingFiles(), filesBefore);
}

// A mono clip of `frames` frames over a new working file.
AudioClip Written(int32_t frames) {
    std::vector<int32_t> samples(static_cast<size_t>(frames));
    for (int32_t f = 0; f < frames; ++f)
        samples[static_cast<size_t>(f)] = (f + 1) * 16;
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, 44100, 1);
    writer->Write(samples.data(), frames);
    EXPECT_TRUE(writer->Close());
    return clip;
}

ClipSegment Seg(uint16_t id, int32_t frames, int32_t firstFrame = 0, int32_t gain = kUnityGain) {
    return ClipSegment{id, frames, gain, firstFrame};
}
ClipSegment Gap(int32_t frames) {
    return Seg(kSilenceFileId, frames);
}

using Layout = std::vector<ClipSegment>;

TEST(ClipOperations, DeletingEverythingFreesFilesWithTheLastHolder) {
    AudioClip clip = Written(1000);
    const uint16_t id = clip.Segments()[0].fileId;
    AudioClip undo = clip;
    ClipDeleteRange(clip, 0, 1000);
    EXPECT_TRUE(clip.Segments().empty());
    EXPECT_EQ(clip.Length(), 0);
    EXPECT_TRUE(FileExists(WorkingFileTable::AudioPath(id)));
    EXPECT_EQ(WorkingFileTable::Instance().Count(id), 1);
    undo = AudioClip();
    EXPECT_EQ(WorkingFileTable::Instance().Count(id), 0);
    EXPECT_FALSE(FileExists(WorkingFileTable::AudioPath(id)));
    EXPECT_FALSE(FileExists(WorkingFileTable::OverviewPath(id)));
}

// (Splits, ranges outside the clip and inserts beyond either end are held
// to the flat model above.)

TEST(ClipOperations, ExtractPadsWithSilence) {
    AudioClip src = Written(15);
    src.SetFormat(22050, 1);
    const uint16_t id = src.Segments()[0].fileId;
    AudioClip dest(48000, 2);
    ASSERT_TRUE(ClipExtract(dest, src, -10, 20));
    EXPECT_EQ(dest.Length(), 30);
    EXPECT_EQ(dest.Segments(), (Layout{Gap(10), Seg(id, 15), Gap(5)}));
    EXPECT_EQ(dest.SampleRate(), 22050u);
    EXPECT_EQ(dest.Channels(), 1);
}

TEST(ClipOperations, ScalingGain) {
    AudioClip clip = Written(300);
    const uint16_t id = clip.Segments()[0].fileId;
    const Layout unscaled = clip.Segments();
    ClipScaleRange(clip, 100, 200, 100);
    EXPECT_EQ(clip.Segments(), unscaled);
    ClipScaleRange(clip, 100, 200, 200);
    EXPECT_EQ(clip.Segments(), (Layout{Seg(id, 100), Seg(id, 100, 100, 33554400), Seg(id, 100, 200)}));

    EXPECT_EQ(ScaledGain(kUnityGain, 200), 33554400);
    EXPECT_EQ(ScaledGain(kUnityGain, 50), 8388600);
    EXPECT_EQ(ScaledGain(kUnityGain, -100), -16777200);
    EXPECT_EQ(ScaledGain(kUnityGain, 0), 0);
    EXPECT_EQ(ScaledGain(kMaxGain, 0), kMaxGain);
    // At 300 % the limit is 0x7FFFFFFF / 300 * 100 = 715,827,800.
    EXPECT_EQ(ScaledGain(715827800, 300), kMaxGain);
    EXPECT_EQ(ScaledGain(715827799, 300), 2147483100);
    // Below 100 % the limit lies beyond the 32-bit range: every gain scales.
    EXPECT_EQ(ScaledGain(kMaxGain, 50), 1073741800);
    EXPECT_EQ(ScaledGain(kMaxGain, 1), 21474836);
}

TEST(ClipOperations, RefusesToPassTheLargestLength) {
    AudioClip clip;
    ASSERT_TRUE(ClipInsertSilence(clip, kMax - 10, 0));
    const AudioClip small = Written(20);
    const Layout before = clip.Segments();
    EXPECT_FALSE(ClipInsert(clip, 5, small));
    EXPECT_FALSE(ClipInsert(clip, kMax - 10, small));
    EXPECT_FALSE(ClipInsert(clip, -11, AudioClip()));  // 11 frames of silence in front
    EXPECT_FALSE(ClipInsert(clip, std::numeric_limits<int32_t>::min(), small));
    EXPECT_FALSE(ClipInsertSilence(clip, 11, 3));
    EXPECT_FALSE(ClipRepeat(clip, 0, 11, 1));
    EXPECT_FALSE(ClipRepeat(clip, -6, 0, 1));
    EXPECT_FALSE(ClipReplaceRange(clip, 0, 5, small));
    ClipScaleRange(clip, -6, 5, 50);  // only [0, 5) has sound to scale
    EXPECT_EQ(clip.Length(), kMax - 10);
    ClipScaleRange(clip, 0, 5, 200);

    AudioClip dest;
    EXPECT_FALSE(ClipExtract(dest, clip, -1, kMax));
    EXPECT_FALSE(ClipCut(dest, clip, -1, kMax));
    EXPECT_EQ(clip.Length(), kMax - 10);

    EXPECT_TRUE(ClipReplaceRange(clip, 0, 10, small));
    EXPECT_EQ(clip.Length(), kMax);
    EXPECT_FALSE(ClipInsertSilence(clip, 1, kMax));
    EXPECT_TRUE(ClipRepeat(clip, 0, 1, 0));

    // An owned segment that does not fit is let go.
    AudioClip full = clip;
    const uint16_t id = small.Segments()[0].fileId;
    const uint16_t count = WorkingFileTable::Instance().Count(id);
    WorkingFileTable::Instance().AddRef(id);
    EXPECT_FALSE(full.AppendOwnedSegment(Seg(id, 1)));
    EXPECT_EQ(WorkingFileTable::Instance().Count(id), count);
}

}  // namespace
}  // namespace sonitor
