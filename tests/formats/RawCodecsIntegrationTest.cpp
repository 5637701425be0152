// Files made by sox at test time, read by us and compared with sox's own
// reading of them; and files we write, read back by sox.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/Endian.h"
#include "formats/G711.h"
#include "formats/raw/AiffFile.h"
#include "formats/raw/AuFile.h"
#include "formats/raw/GsmFile.h"
#include "formats/raw/RawCodings.h"
#include "formats/raw/RawFile.h"
#include "formats/raw/Vox.h"
#include "foundation/FileUtil.h"
#include "support/Bytes.h"
#include "support/SourceReading.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Samples = std::vector<int32_t>;

const std::string& Folder() {
    static const std::string folder = test::MakeTempFolder("rawsox");
    return folder;
}
std::string PathOf(const std::string& name) {
    return Folder() + "/" + name;
}

// Runs sox quietly on files of our folder; dither is off so that sox's
// conversions are deterministic.
void Sox(const std::string& args) {
    ASSERT_EQ(test::RunShell("cd '" + Folder() + "' && sox -V1 -D " + args), 0) << "sox " << args;
}

std::string Get(const std::string& path) {
    return ReadWholeFile(path).value_or("");
}

// Native 16-bit raw files, the form sox decodes to and encodes from.
void PutPcm16(const std::string& name, const std::vector<int16_t>& v) {
    ASSERT_TRUE(WriteFileAtomically(PathOf(name), test::Pcm16(v)));
}
std::vector<int16_t> GetPcm16(const std::string& name) {
    const std::string bytes = Get(PathOf(name));
    std::vector<int16_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(LoadLE16(&bytes[2 * i]));
    return v;
}
// What sox makes of a file: 16-bit samples on the internal scale.
Samples SoxDecode(const std::string& input, const std::string& name) {
    Sox(input + " -t raw -e signed -b 16 -L " + name);
    Samples s;
    for (int16_t v : GetPcm16(name))
        s.push_back(v * 16);
    return s;
}

Samples ReadAllFrames(AudioSource& source) {
    return test::ReadFrames(source, source.Length());
}

// Tones and noise on the 16-bit grid, reaching both ends of the range.
std::vector<int16_t> TestSignal(size_t samples, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 600);
    std::vector<int16_t> v(samples);
    for (size_t i = 0; i < samples; ++i) {
        const double x = 20000 * std::sin(0.031 * i) + 9000 * std::sin(0.37 * i + 1) + noise(rng);
        v[i] = static_cast<int16_t>(std::clamp(std::lround(x * 1.2), -32768L, 32767L));
    }
    return v;
}
// Telephone-band tones for VOX, whose leaky predictor removes the lowest
// frequencies.
std::vector<int16_t> VoxSignal(size_t samples, double amplitude) {
    std::vector<int16_t> v(samples);
    for (size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / 8000;
        v[i] = static_cast<int16_t>(std::lround(
            amplitude * (0.6 * std::sin(2 * M_PI * 440 * t) + 0.4 * std::sin(2 * M_PI * 1230 * t + 1))));
    }
    return v;
}
Samples Internal(const std::vector<int16_t>& v) {
    Samples s;
    for (int16_t x : v)
        s.push_back(x * 16);
    return s;
}

const char kPcmIn[] = "-t raw -e signed -b 16 -L";

TEST(RawCodecsWithSox, FilesSoxMakesReadAsSoxReadsThem) {
    PutPcm16("in.raw", TestSignal(2 * 11025, 1));
    const auto aiff = [](const std::string& p) { return OpenAiffSource(p); };
    const auto au = [](const std::string& p) { return OpenAuSource(p); };
    const auto raw = [](int32_t coding) {
        return [coding](const std::string& p) { return OpenRawSource(RawSettings{11025, 2, coding}, p); };
    };
    const struct {
        std::string output;  // sox's output options and file
        std::function<Ref<AudioSource>(const std::string&)> open;
        int32_t fullScale;
    } cases[] = {
        {"-b 8 s.aiff", aiff, 524272},
        {"-b 16 s.aiff", aiff, 524272},
        {"-e mu-law s.au", au, kG711FullScale},
        {"-e a-law s.au", au, kG711FullScale},
        {"-e signed -b 16 s.au", au, 524272},
        {"-e signed -b 8 s.au", au, 524272},
        {"-t ul s.dat", raw(kRawMuLaw), kG711FullScale},
        {"-t al s.dat", raw(kRawALaw), kG711FullScale},
        {"-t sb s.dat", raw(kRawPcm8Signed), 524272},
        {"-t ub s.dat", raw(kRawPcm8Unsigned), 524272},
        {"-t sw s.dat", raw(kRawPcm16LE), 524272},
        {"-t raw -e signed -b 16 -B s.dat", raw(kRawPcm16BE), 524272},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        Sox(std::string(kPcmIn) + " -r 11025 -c 2 in.raw " + c.output);
        const std::string file = c.output.substr(c.output.rfind(' ') + 1);
        Ref<AudioSource> source = c.open(PathOf(file));
        ASSERT_EQ(source->Status(), kSourceOk);
        EXPECT_EQ(source->SampleRate(), 11025);
        EXPECT_EQ(source->Channels(), 2);
        EXPECT_EQ(source->FullScale(), c.fullScale);
        EXPECT_EQ(source->Length(), 11025);
        // Headerless files are described to sox as they were made.
        const std::string input =
            file == "s.dat" ? c.output.substr(0, c.output.rfind(' ')) + " -r 11025 -c 2 " + file : file;
        EXPECT_EQ(ReadAllFrames(*source), SoxDecode(input, "ref.raw"));
    }
    Sox(std::string(kPcmIn) + " -r 11025 -c 2 in.raw -b 24 s24.aiff");
    EXPECT_EQ(OpenAiffSource(PathOf("s24.aiff"))->Status(), kSourceNoCodec);
}

TEST(RawCodecsWithSox, OurEncodersAgreeWithSoxWhereBothAreExact) {
    // Every 16-bit value. sox first rounds to the 14-bit (µ-law) or 13-bit
    // (A-law) grid and then applies the decision values; on that grid the
    // two must agree, elsewhere we apply the decision values directly.
    std::vector<int16_t> all;
    for (int v = -32768; v < 32768; ++v)
        all.push_back(static_cast<int16_t>(v));
    PutPcm16("all.raw", all);
    const Samples x = Internal(all);
    const struct {
        const char* type;
        int32_t coding;
        int grid;
    } cases[] = {
        {"ul", kRawMuLaw, 4},
        {"al", kRawALaw, 8},
        {"sb", kRawPcm8Signed, 1},
        {"ub", kRawPcm8Unsigned, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Sox(std::string(kPcmIn) + " -r 8000 -c 1 all.raw -t " + c.type + " sox." + c.type);
        const std::string theirs = Get(PathOf(std::string("sox.") + c.type));
        ASSERT_EQ(theirs.size(), all.size());
        std::string ours(all.size(), '\0');
        EncodeRawSamples(c.coding, x.data(), x.size(), reinterpret_cast<uint8_t*>(ours.data()));
        int differences = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i] % c.grid == 0 && ours[i] != theirs[i] && ++differences < 5) {
                ADD_FAILURE() << "value " << all[i] << " ours " << int(uint8_t(ours[i])) << " sox "
                              << int(uint8_t(theirs[i]));
            }
        }
    }
}

double Correlation(const Samples& a, const Samples& b, size_t from, double* ratio) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = from; i < std::min(a.size(), b.size()); ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    *ratio = std::sqrt(aa / bb);
    return ab / std::sqrt(aa * bb);
}

TEST(RawCodecsWithSox, VoxFilesFromSox) {
    PutPcm16("in.raw", VoxSignal(16001, 16000));
    Sox(std::string(kPcmIn) + " -r 8000 -c 1 in.raw -t vox sox.vox");
    const std::string bytes = Get(PathOf("sox.vox"));
    ASSERT_EQ(bytes.size(), 8001u);
    Ref<AudioSource> source = OpenRawSource(RawSettings{8000, 1, kRawVox}, PathOf("sox.vox"));
    ASSERT_EQ(source->Length(), 16002);
    // (Our decoder is held to the described one, code for code, in RawCodecsTest.)
    const Samples ours = ReadAllFrames(*source);

    // sox's decoder keeps no leak in its predictor and scales its 12-bit
    // samples to 16 bits; ours leaks 1/64 per sample (a high-pass near
    // 20 Hz at 8 kHz) and runs at half that level. The same codes must still
    // give the same waveform.
    double ratio = 0;
    const double correlation = Correlation(ours, SoxDecode("-t vox -r 8000 sox.vox", "ref.raw"), 100, &ratio);
    EXPECT_GT(correlation, 0.99);
    EXPECT_NEAR(ratio, 0.5, 0.03);
}

TEST(RawCodecsWithSox, GsmFilesBothWays) {
    const std::vector<int16_t> in = TestSignal(8000 + 77, 5);
    PutPcm16("in.raw", in);
    Sox(std::string(kPcmIn) + " -r 8000 -c 1 in.raw sox.gsm");
    Ref<AudioSource> source = OpenGsmSource(PathOf("sox.gsm"));
    ASSERT_EQ(source->Status(), kSourceOk);
    EXPECT_EQ(source->Length(), 51 * 160);
    EXPECT_EQ(ReadAllFrames(*source), SoxDecode("sox.gsm", "ref.raw"));

    // Our encoder gives the same frames for the same 16-bit samples.
    {
        Ref<AudioSink> sink = CreateGsmSink(PathOf("ours.gsm"));
        const Samples x = Internal(in);
        for (size_t done = 0; done < x.size(); done += 1000) {
            sink->Write(x.data() + done, static_cast<int32_t>(std::min<size_t>(1000, x.size() - done)));
        }
        ASSERT_TRUE(sink->Close());
    }
    EXPECT_EQ(Get(PathOf("ours.gsm")), Get(PathOf("sox.gsm")));
}

TEST(RawCodecsWithSox, SoxReadsWhatWeWrite) {
    const std::vector<int16_t> in = TestSignal(2 * 22050, 6);
    const Samples x = Internal(in);
    for (const char* name : {"ours.aiff", "ours.au"}) {
        SCOPED_TRACE(name);
        const bool aiff = std::string(name) == "ours.aiff";
        {
            Ref<AudioSink> sink =
                aiff ? CreateAiffSink(PathOf(name), 22050, 2) : CreateAuSink(PathOf(name), 22050, 2);
            sink->Write(x.data(), 8192);
            sink->Write(x.data() + 2 * 8192, 22050 - 8192);
            ASSERT_TRUE(sink->Close());
        }
        EXPECT_EQ(SoxDecode(name, "back.raw"), x);
        EXPECT_EQ(test::RunShell("test \"$(soxi -r '" + PathOf(name) + "' 2>/dev/null)\" = 22050"), 0);
    }

    // VOX from us, read by sox: the same waveform at twice our level.
    const Samples quiet = Internal(VoxSignal(16000, 8000));
    {
        Ref<AudioSink> sink = CreateRawSink(RawSettings{8000, 1, kRawVox}, PathOf("ours.vox"));
        sink->Write(quiet.data(), 8000);
        sink->Write(quiet.data() + 8000, 8000);
        ASSERT_TRUE(sink->Close());
    }
    double ratio = 0;
    const double correlation =
        Correlation(quiet, SoxDecode("-t vox -r 8000 ours.vox", "ref.raw"), 100, &ratio);
    EXPECT_GT(correlation, 0.98);
    EXPECT_NEAR(ratio, 0.5, 0.05);
}

}  // namespace
}  // namespace sonitor
