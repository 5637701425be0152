// The analysis windows' core: layouts, the calibration of both views against
// sines of known level, the spectrogram's columns against a long-double DFT,
// the cache file, the question, the colours, and PNG output decoded by
// python's zlib and by ffmpeg.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "document/ClipWriter.h"
#include "document/SoundDocument.h"
#include "document/WorkingFileTable.h"
#include "effects/PngWriter.h"
#include "effects/Spectrum.h"
#include "foundation/FileUtil.h"
#include "support/MemorySources.h"
#include "support/ScriptedPrompt.h"
#include "support/ScriptedTaskHost.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

AudioClip MakeClip(const std::vector<int32_t>& samples, int channels, int32_t rate) {
    AudioClip clip;
    Ref<ClipWriter> writer = CreateClipWriter(&clip, rate, channels);
    writer->Write(samples.data(), static_cast<int32_t>(samples.size() / static_cast<size_t>(channels)));
    EXPECT_TRUE(writer->Close());
    return clip;
}

// Sines of the given peaks, each at a whole number of cycles per n frames,
// so that it sits on the centre of a bin of an n-point transform.
std::vector<int32_t> BinSines(int32_t frames, const std::vector<std::pair<int, double>>& binAndPeak, int n) {
    const size_t channels = binAndPeak.size();
    std::vector<int32_t> s(static_cast<size_t>(frames) * channels);
    for (int32_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < channels; ++c)
            s[static_cast<size_t>(i) * channels + c] = static_cast<int32_t>(
                std::lround(binAndPeak[c].second *
                            std::sin(2 * M_PI * binAndPeak[c].first * i / static_cast<double>(n))));
    return s;
}

// A spectrogram value from its definition: the channels' windowed DFT
// magnitudes in long double, averaged, scaled so that a sine of peak A
// reads A / sqrt(2), in 16-bit units, truncated and saturated.
int64_t ReferenceValue(const std::vector<int32_t>& s, int channels, int64_t first, int n, int bin) {
    long double sum = 0;
    long double windowSum = 0;
    for (int c = 0; c < channels; ++c) {
        long double re = 0;
        long double im = 0;
        windowSum = 0;
        for (int i = 0; i < n; ++i) {
            const long double w = 0.54L - 0.46L * std::cos(2 * M_PIl * i / n);
            windowSum += w;
            const int64_t at = (first + i) * channels + c;
            const long double x = at < static_cast<int64_t>(s.size()) ? s[static_cast<size_t>(at)] : 0;
            re += w * x * std::cos(2 * M_PIl * bin * i / n);
            im -= w * x * std::sin(2 * M_PIl * bin * i / n);
        }
        sum += std::sqrt(re * re + im * im);
    }
    const long double value = sum / channels * std::sqrt(2.0L) / windowSum / 16;
    return std::min<int64_t>(65535, static_cast<int64_t>(value));
}

std::string CachePathOf(const AudioClip& clip) {
    const std::string audio = WorkingFileTable::AudioPath(clip.Segments().front().fileId);
    return audio.substr(0, audio.size() - 4) + ".wbm";
}

}  // namespace

TEST(SpectrogramLayoutTest, SizesColumnsAndColumnStarts) {
    struct Case {
        int32_t rate, length, n, columns;
    };
    for (const Case& c :
         {Case{44100, 5 * 44100, 2048, 861}, Case{8000, 8000, 512, 125}, Case{960, 100, 32, 25},
          Case{22050, 10, 1024, 1}, Case{44100, 0, 2048, 1}, Case{2000000, 40000, 32768, 9}}) {
        const SpectrogramLayout layout = SpectrogramLayoutFor(c.rate, c.length);
        EXPECT_EQ(layout.fftSize, c.n) << c.rate;
        EXPECT_EQ(layout.bins, c.n / 2) << c.rate;
        EXPECT_EQ(layout.columns, c.columns) << c.rate << " " << c.length;
    }
    // An hour at 44100 Hz: column * length passes 2^31 from the first few
    // columns on; the last column must still start one step before the end.
    const int32_t length = 3600 * 44100;
    const SpectrogramLayout layout = SpectrogramLayoutFor(44100, length);
    int32_t previous = -1;
    for (const int32_t column : {0, 1, 16, layout.columns / 2, layout.columns - 1}) {
        const int32_t at = SpectrogramColumnStart(1000, length, layout.columns, column);
        EXPECT_GT(at, previous);
        previous = at;
    }
    EXPECT_GE(previous, 1000 + length - length / layout.columns - 1);
    EXPECT_LT(previous, 1000 + length);
}

// The spectrum reads 0 dB for a sine of peak 131072 (the meters' 0 dB),
// one curve per channel, -127 everywhere for silence and past the end.
TEST(SpectrumTest, LevelsOfSinesAndSilence) {
    const AudioClip stereo = MakeClip(BinSines(8192, {{100, 131072.0}, {300, 131072.0 / 4}}, 4096), 2, 44100);
    const Spectrum s = ComputeSpectrum(stereo, 1000);
    ASSERT_EQ(s.curves.size(), 2u);
    EXPECT_EQ(s.sampleRate, 44100);
    const auto peak = [](const std::array<int8_t, kSpectrumBins>& curve) {
        return static_cast<int>(std::max_element(curve.begin(), curve.end()) - curve.begin());
    };
    EXPECT_EQ(peak(s.curves[0]), 100);
    EXPECT_EQ(s.curves[0][100], 0);
    EXPECT_EQ(peak(s.curves[1]), 300);
    EXPECT_EQ(s.curves[1][300], -12);
    EXPECT_LT(s.curves[0][300], -60);  // the channels stay apart

    const AudioClip mono = MakeClip(std::vector<int32_t>(5000, 0), 1, 22050);
    for (const int32_t cursor : {0, 4000, 100000}) {
        const Spectrum silent = ComputeSpectrum(mono, cursor);
        ASSERT_EQ(silent.curves.size(), 1u);
        EXPECT_TRUE(std::all_of(silent.curves[0].begin(), silent.curves[0].end(),
                                [](int8_t v) { return v == -127; }));
    }
    EXPECT_EQ(AnalysisDecibels(0.0), -127);
    EXPECT_EQ(AnalysisDecibels(92682.0 * 1e7), 127);
    // Rounded half away from zero: truncation after adding or taking 0.5.
    EXPECT_EQ(AnalysisDecibels(92682.0 * std::pow(10.0, -2.4 / 20)), -2);
    EXPECT_EQ(AnalysisDecibels(92682.0 * std::pow(10.0, -2.6 / 20)), -3);
    EXPECT_EQ(AnalysisDecibels(92682.0 * std::pow(10.0, 2.6 / 20)), 3);
}

// Every column against the definition, on stereo noise, with the last
// columns reaching past the selection into the rest of the clip.
TEST(SpectrogramTest, ColumnsMatchALongDoubleDft) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> noise(-500000, 500000);
    std::vector<int32_t> s(2 * 6000);
    for (int32_t& v : s)
        v = noise(rng);
    const AudioClip clip = MakeClip(s, 2, 8000);
    test::ScriptedTaskHost host;
    Spectrogram g;
    ASSERT_EQ(RunSpectrogramTask(host, clip, 700, 4000, g), kTaskDone);
    ASSERT_EQ(g.layout.fftSize, 512);
    ASSERT_EQ(g.layout.columns, 62);
    EXPECT_EQ(host.texts.front(), std::make_pair(0, std::string("Calculating Temporal Frequency Data")));
    for (const int32_t column : {0, 1, 30, 61}) {
        const int64_t first = 700 + int64_t{column} * 4000 / 62;
        for (const int bin : {0, 1, 57, 200, 255})
            EXPECT_NEAR(g.At(column, bin), ReferenceValue(s, 2, first, 512, bin), 1) << column << " " << bin;
    }
}

// A full-scale 16-bit sine on a bin reads 23170 (its RMS in 16-bit units);
// with a silent right channel the mean halves it; samples with headroom
// saturate at 65535 instead of wrapping.
TEST(SpectrogramTest, CalibrationStereoMeanAndSaturation) {
    const int32_t frames = 3 * 44100;
    const AudioClip tone = MakeClip(BinSines(frames, {{93, 524272.0}, {93, 0.0}}, 2048), 2, 44100);
    test::ScriptedTaskHost host;
    Spectrogram g;
    ASSERT_EQ(RunSpectrogramTask(host, tone, 0, 2 * 44100, g), kTaskDone);
    ASSERT_EQ(g.layout.columns, 344);
    for (int32_t column = 0; column < g.layout.columns; ++column) {
        const auto first = g.values.begin() + static_cast<ptrdiff_t>(column) * g.layout.bins;
        ASSERT_EQ(std::max_element(first, first + g.layout.bins) - first, 93) << column;
        ASSERT_NEAR(g.At(column, 93), 23170 / 2, 2) << column;
    }
    EXPECT_EQ(SpectrogramStatusText(g, 172, 93), "Time: 0:00:01.0    Frequency: 2002 Hz    Volume: 6 dB");

    const AudioClip loud = MakeClip(BinSines(8192, {{93, 2000000.0}}, 2048), 1, 44100);
    ASSERT_EQ(RunSpectrogramTask(host, loud, 0, 4096, g), kTaskDone);
    EXPECT_EQ(g.At(0, 93), 65535);
    EXPECT_EQ(g.At(0, 600), 0);

    const AudioClip silent = MakeClip(std::vector<int32_t>(2 * 3000, 0), 2, 44100);
    ASSERT_EQ(RunSpectrogramTask(host, silent, 0, 3000, g), kTaskDone);
    EXPECT_TRUE(std::all_of(g.values.begin(), g.values.end(), [](uint16_t v) { return v == 0; }));
    EXPECT_EQ(SpectrogramStatusText(g, 0, 5), "Time: 0:00:00.0    Frequency: 107 Hz    Volume: -127 dB");
}

// The cache is written beside the working file, reloaded without a task
// when everything matches, and ignored when the range, the file's shape or
// the working file's samples differ. Cancel leaves nothing behind.
TEST(SpectrogramTest, CacheRoundTripAndMismatch) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int32_t> noise(-300000, 300000);
    std::vector<int32_t> s(44100);
    for (int32_t& v : s)
        v = noise(rng);
    const AudioClip clip = MakeClip(s, 1, 44100);
    const std::string path = CachePathOf(clip);

    // Earlier tests' clips may have used this file number and left their
    // cache behind; it must neither match nor be touched by a cancel.
    const std::optional<std::string> before = ReadWholeFile(path);
    test::ScriptedTaskHost cancelling;
    cancelling.cancelAfterPumps = 1;
    Spectrogram g;
    EXPECT_EQ(RunSpectrogramTask(cancelling, clip, 0, 30000, g), kTaskCancelled);
    EXPECT_TRUE(g.Empty());
    EXPECT_EQ(ReadWholeFile(path), before);

    test::ScriptedTaskHost host;
    Spectrogram first;
    ASSERT_EQ(RunSpectrogramTask(host, clip, 100, 30000, first), kTaskDone);
    EXPECT_EQ(host.opens, 1);
    EXPECT_EQ(FileSize(path).value_or(0), 20 + 2 * int64_t{first.layout.columns} * first.layout.bins);

    Spectrogram again;
    ASSERT_EQ(RunSpectrogramTask(host, clip, 100, 30000, again), kTaskDone);
    EXPECT_EQ(host.opens, 1);  // reloaded
    EXPECT_EQ(again.values, first.values);
    EXPECT_EQ(again.start, 100);
    EXPECT_EQ(again.layout.columns, first.layout.columns);

    ASSERT_EQ(RunSpectrogramTask(host, clip, 101, 30000, again), kTaskDone);
    EXPECT_EQ(host.opens, 2);  // another range

    const std::string audio = WorkingFileTable::AudioPath(clip.Segments().front().fileId);
    ASSERT_TRUE(WriteFileAtomically(path, ReadWholeFile(path)->substr(2)));
    ASSERT_EQ(RunSpectrogramTask(host, clip, 101, 30000, again), kTaskDone);
    EXPECT_EQ(host.opens, 3);  // a damaged file

    // Other samples under the same file number, as when a number is used
    // again: the file's identity changes, so the cache no longer matches.
    std::string bytes = *ReadWholeFile(audio);
    std::reverse(bytes.begin(), bytes.end());
    ASSERT_TRUE(WriteFileAtomically(audio, bytes));
    ASSERT_EQ(RunSpectrogramTask(host, clip, 101, 30000, again), kTaskDone);
    EXPECT_EQ(host.opens, 4);
    EXPECT_NE(again.values, first.values);
}

TEST(SpectrogramTest, LongSelectionQuestion) {
    EXPECT_FALSE(SpectrogramNeedsQuestion(44100, 441000));
    EXPECT_TRUE(SpectrogramNeedsQuestion(44100, 441001));
    test::ScriptedPrompt prompt;
    EXPECT_TRUE(ConfirmSpectrogramLength(prompt, 44100, 441000));
    EXPECT_TRUE(prompt.History().empty());
    prompt.QueueAnswer(PromptAnswer::No);
    prompt.QueueAnswer(PromptAnswer::Cancel);
    prompt.QueueAnswer(PromptAnswer::Yes);
    EXPECT_FALSE(ConfirmSpectrogramLength(prompt, 44100, 11 * 44100));
    EXPECT_FALSE(ConfirmSpectrogramLength(prompt, 44100, 11 * 44100));
    EXPECT_TRUE(ConfirmSpectrogramLength(prompt, 44100, 11 * 44100));
    ASSERT_EQ(prompt.History().size(), 3u);
    EXPECT_EQ(
        prompt.History()[0].text,
        "The Temporal Analysis graph is usually only performed on short selections (of a few seconds or so) "
        "because it takes a long time to compute. Continue anyway?");
    EXPECT_EQ(prompt.History()[0].buttons, PromptButtons::YesNoCancel);

    // The command: the whole clip without a selection (and the question
    // for 11 seconds, where No computes nothing), else the selection.
    SoundDocument document;
    document.clip = MakeClip(std::vector<int32_t>(11 * 8000, 1000), 1, 8000);
    test::ScriptedTaskHost documentHost;
    Spectrogram analysed;
    prompt.QueueAnswer(PromptAnswer::No);
    EXPECT_EQ(AnalyseDocumentSpectrogram(document, prompt, documentHost, analysed), kTaskCancelled);
    EXPECT_EQ(prompt.History().size(), 4u);
    EXPECT_EQ(documentHost.opens, 0);
    document.selectionStart = 8000;
    document.selectionEnd = 16000;
    ASSERT_EQ(AnalyseDocumentSpectrogram(document, prompt, documentHost, analysed), kTaskDone);
    EXPECT_EQ(prompt.History().size(), 4u);
    EXPECT_EQ(analysed.start, 8000);
    EXPECT_EQ(analysed.length, 8000);

    // Past what the matrix may hold (about 25 minutes at 44100 Hz) the task
    // refuses before allocating anything.
    Ref<test::ToneSource> tone = MakeRef<test::ToneSource>(44100, 2, 1000);
    test::ScriptedTaskHost host;
    Spectrogram g;
    FunctionTask task(kSpectrogramTaskTitle,
                      [&](ProgressTask& t) { return ComputeSpectrogram(t, *tone, 0, INT32_MAX, g); });
    EXPECT_EQ(RunTask(task, host), kTaskFailed);
    EXPECT_EQ(host.errors, std::vector<std::string>{kSpectrogramTooLong});
    EXPECT_TRUE(g.Empty());
}

// The colour rule in 64 bits, a palette that only grows brighter, and a
// picture of some bins, highest on top, with grid lines where 1000 Hz and
// whole seconds are crossed.
TEST(SpectrogramTest, ColoursAndPicture) {
    EXPECT_EQ(SpectrogramColourIndex(65535, 65535), 255);  // 2^38 before the shift
    EXPECT_EQ(SpectrogramColourIndex(1000, 100), 146);
    const auto& palette = SpectrogramPalette();
    EXPECT_EQ(palette[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(palette[255], (Rgb{255, 255, 255}));
    for (size_t i = 1; i < 256; ++i)
        EXPECT_GE(299 * palette[i].r + 587 * palette[i].g + 114 * palette[i].b,
                  299 * palette[i - 1].r + 587 * palette[i - 1].g + 114 * palette[i - 1].b)
            << i;

    Spectrogram g;
    g.sampleRate = 8000;
    g.start = 7000;
    g.length = 2000;
    g.layout = SpectrogramLayoutFor(8000, 2000);  // N 512, 31 columns, a column every 64.5 frames
    g.values.assign(static_cast<size_t>(g.layout.columns) * g.layout.bins, 0);
    for (int32_t column = 0; column < g.layout.columns; ++column)
        g.values[static_cast<size_t>(column) * g.layout.bins + 3] = 2730;  // index 3 at brightness 1
    const std::vector<uint8_t> zoomed = SpectrogramPicture(g, 4, 2, 3, false);
    ASSERT_EQ(zoomed.size(), 3u * g.layout.columns);
    // Rows: bins 4, 3, 2.
    EXPECT_EQ(zoomed[1], 0);
    EXPECT_EQ(zoomed[static_cast<size_t>(g.layout.columns) + 1], 15);
    EXPECT_EQ(zoomed[2 * static_cast<size_t>(g.layout.columns) + 1], 0);

    const std::vector<uint8_t> grid = SpectrogramPicture(g, 1, 0, g.layout.bins, true);
    std::vector<int32_t> gridRows;
    for (int32_t row = 0; row < g.layout.bins; ++row)
        if (grid[static_cast<size_t>(row) * g.layout.columns + 5] >= 128)
            gridRows.push_back(g.layout.bins - 1 - row);
    EXPECT_EQ(gridRows, (std::vector<int32_t>{192, 128, 64}));  // 3000, 2000 and 1000 Hz, from the top
    // 8000 frames is crossed between columns 15 (7967) and 16 (8032).
    EXPECT_GE(grid[16], 128);
    EXPECT_LT(grid[15], 128);
}

TEST(SpectrumTest, AxesTextsAndVisibleBins) {
    EXPECT_EQ(SpectrumAxisBin(0.0), 1);
    EXPECT_EQ(SpectrumAxisBin(0.5), 45);
    EXPECT_EQ(SpectrumAxisBin(1.0), 2047);
    for (int32_t bin = 1; bin < kSpectrumBins; ++bin)
        ASSERT_EQ(SpectrumAxisBin(SpectrumAxisPosition(bin) + 1e-12), bin);
    EXPECT_EQ(SpectrumBinFrequency(2047, 44100), 22039);
    EXPECT_EQ(SpectrumStatusText(1000, -12), "1000 Hz, -12 dB");
    EXPECT_EQ(FormatSpectrogramTime(3723450), "1:02:03.4");
    EXPECT_EQ(FormatSpectrogramTime(59999), "0:00:59.9");

    const BinRange zoomed = SpectrogramVisibleBins({false, 5000, true}, 1024);
    EXPECT_EQ(zoomed.first, 768);
    EXPECT_EQ(zoomed.count, 256);
    EXPECT_EQ(SpectrogramVisibleBins({}, 1024).count, 1024);
}

// PNG and zlib output --------------------------------------------------------------

TEST(PngWriterTest, ChecksumsAndZlibStreamsDecodeInPython) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32("6789", Crc32("12345")), 0xCBF43926u);
    EXPECT_EQ(Adler32("Wikipedia"), 0x11E60398u);
    if (test::RunShell("python3 -c 'import zlib' 2>/dev/null") != 0) GTEST_SKIP() << "python3 missing";

    std::mt19937 rng(11);
    std::string random(90000, '\0');
    for (char& c : random)
        c = static_cast<char>(rng());
    std::string mixed = random.substr(0, 70000) + std::string(70000, '\0');
    for (int i = 0; i < 20000; ++i)
        mixed += "abcdefg"[i % 7];
    for (int i = 0; i < 3000; ++i)
        mixed += std::to_string(i * i) + " ";
    mixed += std::string(1, 'x');

    const std::string folder = test::MakeTempFolder("zlib");
    for (const auto& [name, data] : std::vector<std::pair<std::string, std::string>>{
             {"empty", ""}, {"random", random}, {"mixed", mixed}}) {
        const std::string compressed = ZlibCompress(data);
        ASSERT_TRUE(WriteFileAtomically(folder + "/" + name, data));
        ASSERT_TRUE(WriteFileAtomically(folder + "/" + name + ".z", compressed));
        EXPECT_EQ(test::RunShell("python3 -c 'import zlib,sys; d=open(sys.argv[1],\"rb\").read(); "
                                 "sys.exit(zlib.decompress(open(sys.argv[2],\"rb\").read()) != d)' '" +
                                 folder + "/" + name + "' '" + folder + "/" + name + ".z'"),
                  0)
            << name;
        if (name == "random") {
            EXPECT_LE(compressed.size(), data.size() + 5 * 2 + 6);
        }
    }
    // Runs cost about 13 bits per 258 bytes.
    EXPECT_LT(ZlibCompress(std::string(200000, '\0')).size(), 1400u);
}

// ffmpeg decodes both kinds of picture to the colours that went in.
TEST(PngWriterTest, PicturesDecodeInFfmpeg) {
    if (test::RunShell("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
    const int32_t width = 37;
    const int32_t height = 5;
    std::vector<uint8_t> indices(static_cast<size_t>(width * height));
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i)
        palette.insert(palette.end(),
                       {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)});
    std::vector<uint8_t> expected;
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = static_cast<uint8_t>(i * 13 % 256);
        expected.insert(expected.end(), palette.begin() + indices[i] * 3,
                        palette.begin() + indices[i] * 3 + 3);
    }
    const std::string folder = test::MakeTempFolder("png");
    const auto decode = [&](const std::string& png, const std::string& name) {
        EXPECT_TRUE(WriteFileAtomically(folder + "/" + name + ".png", png));
        EXPECT_EQ(test::RunShell("ffmpeg -v error -i '" + folder + "/" + name +
                                 ".png' -f rawvideo -pix_fmt rgb24 -y '" + folder + "/" + name + ".rgb'"),
                  0);
        const std::string raw = ReadWholeFile(folder + "/" + name + ".rgb").value_or("");
        return std::vector<uint8_t>(raw.begin(), raw.end());
    };
    EXPECT_EQ(decode(EncodePalettePng(width, height, indices.data(), palette.data(), 256), "palette"),
              expected);
    EXPECT_EQ(decode(EncodeRgbPng(width, height, expected.data()), "rgb"), expected);
    EXPECT_TRUE(EncodePalettePng(0, 5, indices.data(), palette.data(), 256).empty());
    EXPECT_TRUE(EncodePalettePng(width, height, indices.data(), palette.data(), 257).empty());
}

}  // namespace sonitor
