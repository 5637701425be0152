// Damaged files: every size field of small real files set to hostile values,
// and the files cut short at every offset. No reader may crash, report a
// length beyond what the bytes can hold, or take unbounded time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"
#include "formats/WavSource.h"
#include "formats/mp3/Mp3Source.h"
#include "formats/raw/AiffFile.h"
#include "formats/raw/AuFile.h"
#include "formats/raw/GsmFile.h"
#include "formats/raw/RawFile.h"
#include "formats/raw/RawSettings.h"
#include "formats/tags/Mp3Tags.h"
#include "formats/tags/RiffInfo.h"
#include "formats/tags/TagMap.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Opener = std::function<Ref<AudioSource>(const std::string&)>;

std::string Seed(const std::string& name) {
    const auto bytes = ReadWholeFile(std::string(SONITOR_SOURCE_DIR) + "/fuzz/corpus/" + name);
    EXPECT_TRUE(bytes.has_value()) << name;
    return bytes.value_or("");
}

// Plain rewrite of the test file; no fsync, there are thousands of variants.
bool Overwrite(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Opens the file, reads a little from the middle and past the end, then
// reads from the start until the stream ends. Compressed files estimate
// their length from header fields until the data runs out, so the length
// that must be bounded is the one known once everything has been read.
int64_t Workout(const Opener& open, const std::string& path) {
    Ref<AudioSource> source = open(path);
    if (source->Status() != kSourceOk) return 0;
    std::vector<int32_t> buffer(static_cast<size_t>(kMaxTransferFrames) * source->Channels());
    EXPECT_GE(source->Length(), 0);
    source->Seek(source->Length() / 2);
    source->Read(buffer.data(), 4096);
    source->Seek(source->Length() + 10);
    source->Read(buffer.data(), 16);
    source->Seek(0);
    for (int i = 0; i < 400 && source->Position() < source->Length(); ++i) {
        source->Read(buffer.data(), kMaxTransferFrames);
    }
    return source->Length();
}

// Every variant of one seed: each 4-byte window of the header area set to
// 0, 1, an odd size, 0x7FFFFFFF, 0x80000000 and 0xFFFFFFFF in both byte
// orders, and the file cut at every `step`-th offset.
void Torture(const std::string& seedName, const Opener& open, int64_t maxFramesPerByte, size_t headerArea,
             size_t step = 1) {
    const std::string seed = Seed(seedName);
    ASSERT_FALSE(seed.empty());
    const std::string path = test::MakeTempFolder("hostile") + "/f";
    const auto start = std::chrono::steady_clock::now();
    const auto check = [&](const std::string& bytes, const std::string& what) {
        ASSERT_TRUE(Overwrite(path, bytes));
        const int64_t length = Workout(open, path);
        EXPECT_GE(length, 0) << what;
        EXPECT_LE(length, maxFramesPerByte * static_cast<int64_t>(bytes.size()) + 4608) << seedName << " " << what;
    };
    const uint32_t values[] = {0, 1, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (size_t at = 0; at + 4 <= std::min(headerArea, seed.size()); ++at) {
        for (uint32_t v : values) {
            for (bool bigEndian : {false, true}) {
                std::string bytes = seed;
                for (int i = 0; i < 4; ++i) {
                    const int shift = bigEndian ? 24 - 8 * i : 8 * i;
                    bytes[at + i] = static_cast<char>(v >> shift);
                }
                check(bytes, "size field at " + std::to_string(at));
            }
        }
    }
    for (size_t cut = 0; cut < seed.size(); cut += step) check(seed.substr(0, cut), "cut at " + std::to_string(cut));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0) << seedName;
}

TEST(HostileFiles, Wav) {
    const Opener open = [](const std::string& p) { return OpenWavSource(p); };
    // PCM: at most one frame per byte; compressed codings expand (IMA 2
    // samples per byte, GSM 320 per 65 bytes, MP3 1152 per frame of >= 24).
    for (const char* seed : {"fuzz_wav/pcm16.wav", "fuzz_wav/pcm8.wav", "fuzz_wav/pcm24-stereo.wav",
                             "fuzz_wav/float.wav", "fuzz_wav/ext24.wav", "fuzz_wav/alaw.wav"}) {
        Torture(seed, open, 1, 80);
    }
    for (const char* seed : {"fuzz_wav/ima.wav", "fuzz_wav/msadpcm.wav", "fuzz_wav/gsm.wav"}) {
        Torture(seed, open, 8, 80);
    }
    Torture("fuzz_wav/mp3-in-wav.wav", open, 64, 100, 3);
}

TEST(HostileFiles, AiffAuRawGsm) {
    Torture("fuzz_aiff/pcm16.aiff", [](const std::string& p) { return OpenAiffSource(p); }, 1, 80);
    Torture("fuzz_aiff/pcm8.aiff", [](const std::string& p) { return OpenAiffSource(p); }, 1, 80);
    Torture("fuzz_au/pcm16.au", [](const std::string& p) { return OpenAuSource(p); }, 1, 32);
    Torture("fuzz_au/ulaw.au", [](const std::string& p) { return OpenAuSource(p); }, 1, 32);
    Torture("fuzz_gsm/tone.gsm", [](const std::string& p) { return OpenGsmSource(p); }, 5, 0);
    RawSettings vox;
    vox.codec = 0;
    vox.sampleRate = 8000;
    Torture("fuzz_raw/vox", [&](const std::string& p) { return OpenRawSource(vox, p); }, 2, 0);
}

TEST(HostileFiles, Mp3) {
    // Every Layer III frame is at least 24 bytes for at most 1152 frames.
    const Opener open = [](const std::string& p) { return OpenMp3Source(p); };
    for (const char* seed : {"fuzz_mp3/cbr64.mp3", "fuzz_mp3/vbr.mp3", "fuzz_mp3/mpeg2-mono.mp3"}) {
        Torture(seed, open, 48, 64, 5);
    }
}

TEST(HostileFiles, Tags) {
    for (const char* seed : {"fuzz_tags/id3.mp3", "fuzz_tags/info.wav"}) {
        const Opener open = [](const std::string& p) {
            TagMap mp3, wav;
            ReadMp3Tags(p, mp3);
            ReadWavTags(p, wav);
            return MakeNullSource(kSourceUnusable);
        };
        Torture(seed, open, 0, 64);
    }
}

}  // namespace
}  // namespace sonitor
