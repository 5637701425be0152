// The spectrum at the cursor and the spectrogram of a selection, with the
// spectrogram's cache file and the helpers the two windows draw with.
#include "effects/Spectrum.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <sys/stat.h>

#include "document/AudioClip.h"
#include "document/ClipReader.h"
#include "document/SoundDocument.h"
#include "document/WorkingFileTable.h"
#include "effects/Fft.h"
#include "foundation/AudioSource.h"
#include "foundation/FileUtil.h"
#include "foundation/Numbers.h"
#include "foundation/SettingsStore.h"
#include "foundation/UserPrompt.h"

namespace sonitor {

const char* const kSpectrogramQuestion =
    "The Temporal Analysis graph is usually only performed on short selections (of a few seconds or so) "
    "because it takes a long time to compute. Continue anyway?";
const char* const kSpectrogramWindowCaption = "Temporal Frequency Analysis";
const char* const kSpectrogramTaskTitle = "Calculating Temporal Frequency Data";
const char* const kSpectrogramTooLong =
    "The selection is too long for the Temporal Analysis graph. Please select a shorter area.";

namespace {

using Complex = std::complex<double>;

// The factor that turns |X[k]| of a Hamming-windowed transform into the
// RMS of the sine it stands for (see kAnalysisReference).
double CalibrationFor(const std::vector<double>& window) {
    double sum = 0;
    for (double w : window)
        sum += w;
    return std::sqrt(2.0) / sum;
}

}  // namespace

// --- Levels ----------------------------------------------------------------------

int AnalysisDecibels(double magnitude) {
    if (!(magnitude > 0)) return -127;
    double d = 20.0 * std::log10(magnitude / kAnalysisReference);
    d = magnitude >= kAnalysisReference ? d + 0.5 : d - 0.5;
    if (d <= -127) return -127;
    if (d >= 127) return 127;
    return static_cast<int>(d);
}

// --- Spectrum at the cursor ------------------------------------------------------

Spectrum ComputeSpectrum(AudioSource& source, int32_t cursor) {
    Spectrum result;
    result.sampleRate = source.SampleRate();
    const int channels = source.Channels();
    std::vector<int32_t> frames(static_cast<size_t>(kSpectrumFrames) * static_cast<size_t>(channels));
    source.Seek(cursor);
    ReadInPieces(source, frames.data(), kSpectrumFrames);

    static const Fft fft(kSpectrumFrames);
    static const std::vector<double> window = HammingWindow(kSpectrumFrames);
    static const double calibration = CalibrationFor(window);
    std::vector<Complex> data(kSpectrumFrames);
    result.curves.resize(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        for (size_t i = 0; i < data.size(); ++i)
            data[i] =
                Complex(window[i] * frames[i * static_cast<size_t>(channels) + static_cast<size_t>(c)], 0.0);
        fft.Forward(data);
        auto& curve = result.curves[static_cast<size_t>(c)];
        for (size_t k = 0; k < curve.size(); ++k)
            curve[k] = static_cast<int8_t>(AnalysisDecibels(std::sqrt(std::norm(data[k])) * calibration));
    }
    return result;
}

Spectrum ComputeSpectrum(const AudioClip& clip, int32_t cursor) {
    Ref<ClipReader> reader = OpenClipReader(clip);
    return ComputeSpectrum(*reader, cursor);
}

namespace {
const double kLogTopBin = std::log(static_cast<double>(kSpectrumBins - 1));
}

int32_t SpectrumAxisBin(double t) {
    if (!(t > 0)) return 1;
    if (t >= 1) return kSpectrumBins - 1;
    const auto bin = static_cast<int32_t>(std::exp(t * kLogTopBin));
    return std::clamp(bin, 1, kSpectrumBins - 1);
}

double SpectrumAxisPosition(int32_t bin) {
    if (bin <= 1) return 0.0;
    if (bin >= kSpectrumBins - 1) return 1.0;
    return std::log(static_cast<double>(bin)) / kLogTopBin;
}

int32_t SpectrumBinFrequency(int32_t bin, int32_t sampleRate) {
    return static_cast<int32_t>((int64_t{sampleRate} * bin) >> 12);
}

std::string SpectrumStatusText(int32_t hertz, int decibels) {
    char text[64];
    std::snprintf(text, sizeof text, "%d Hz, %d dB", hertz, decibels);
    return text;
}

// --- Spectrogram -----------------------------------------------------------------

SpectrogramLayout SpectrogramLayoutFor(int32_t sampleRate, int32_t length) {
    SpectrogramLayout layout;
    const auto target = static_cast<size_t>(std::max(0, sampleRate / 30));
    layout.fftSize = static_cast<int32_t>(std::min<size_t>(PowerOfTwoAtLeast(target, 5), size_t{1} << 15));
    layout.bins = layout.fftSize / 2;
    layout.columns =
        static_cast<int32_t>(std::max<int64_t>(1, 4 * int64_t{std::max(0, length)} / layout.bins));
    return layout;
}

int32_t SpectrogramColumnStart(int32_t start, int32_t length, int32_t columns, int32_t column) {
    if (columns <= 0) return start;
    const int64_t at = int64_t{start} + int64_t{column} * length / columns;
    return static_cast<int32_t>(std::clamp<int64_t>(at, INT32_MIN, INT32_MAX));
}

bool SpectrogramNeedsQuestion(int32_t sampleRate, int32_t length) {
    return int64_t{length} > 10 * int64_t{sampleRate};
}

bool ConfirmSpectrogramLength(UserPrompt& prompt, int32_t sampleRate, int32_t length) {
    if (!SpectrogramNeedsQuestion(sampleRate, length)) return true;
    return prompt.Ask(kSpectrogramWindowCaption, kSpectrogramQuestion, PromptIcon::Question,
                      PromptButtons::YesNoCancel) == PromptAnswer::Yes;
}

namespace {

// The frames the columns need, read once in order: columns overlap by
// three quarters, so each frame is read from the source only once.
class ColumnReader {
public:
    ColumnReader(AudioSource& source, int32_t fftSize)
        : source_(source),
          channels_(static_cast<size_t>(source.Channels())),
          capacity_(static_cast<size_t>(fftSize) + 2 * kMaxTransferFrames),
          samples_(capacity_ * channels_) {}

    // Makes frames [first, first + count) available; false when the user
    // cancelled while it read.
    bool Fill(ProgressTask& task, int64_t first, int32_t count) {
        if (!started_ || first < first_ || first > first_ + static_cast<int64_t>(frames_)) {
            source_.Seek(static_cast<int32_t>(first));
            first_ = first;
            head_ = 0;
            frames_ = 0;
            started_ = true;
        }
        const auto drop = static_cast<size_t>(first - first_);
        head_ += drop;
        frames_ -= drop;
        first_ = first;
        while (frames_ < static_cast<size_t>(count)) {
            if (PumpTaskMessages(task)) return false;
            if (head_ + frames_ + kMaxTransferFrames > capacity_) {
                std::memmove(samples_.data(), samples_.data() + head_ * channels_,
                             frames_ * channels_ * sizeof(int32_t));
                head_ = 0;
            }
            source_.Read(samples_.data() + (head_ + frames_) * channels_, kMaxTransferFrames);
            frames_ += kMaxTransferFrames;
        }
        return true;
    }

    // Sample of channel c at frame first + i.
    int32_t At(size_t i, size_t c) const { return samples_[(head_ + i) * channels_ + c]; }

private:
    AudioSource& source_;
    size_t channels_;
    size_t capacity_;
    std::vector<int32_t> samples_;
    bool started_ = false;
    int64_t first_ = 0;  // frame at samples_[head_]
    size_t head_ = 0;
    size_t frames_ = 0;
};

uint16_t SaturatedValue(double value) {
    return value >= 65535.0 ? uint16_t{65535} : static_cast<uint16_t>(value);
}

}  // namespace

int32_t ComputeSpectrogram(ProgressTask& task, AudioSource& source, int32_t start, int32_t length,
                           Spectrogram& out) {
    out = Spectrogram();
    SetProgressText(task, 0, kSpectrogramTaskTitle);
    SetProgressText(task, 1, "Please wait...");
    SetProgressFraction(task, 0.0);
    if (!source.Ok()) return kTaskFailed;

    Spectrogram result;
    result.sampleRate = source.SampleRate();
    result.start = start;
    result.length = std::max(0, length);
    result.layout = SpectrogramLayoutFor(result.sampleRate, result.length);
    const SpectrogramLayout& layout = result.layout;
    const auto n = static_cast<size_t>(layout.fftSize);
    const auto bins = static_cast<size_t>(layout.bins);
    if (int64_t{layout.columns} * layout.bins > kMaxSpectrogramCells) {
        ShowTaskError(task, kSpectrogramTooLong);
        return kTaskFailed;
    }
    result.values.assign(static_cast<size_t>(layout.columns) * bins, 0);

    const Fft fft(n);
    const std::vector<double> window = HammingWindow(n);
    const size_t channels = static_cast<size_t>(source.Channels());
    // Calibrated magnitude, averaged over the channels, in 16-bit units.
    const double scale = CalibrationFor(window) / 16.0 / static_cast<double>(channels);
    std::vector<Complex> data(n);
    std::vector<double> sums(bins);
    ColumnReader reader(source, layout.fftSize);

    for (int32_t column = 0; column < layout.columns; ++column) {
        const int64_t first = SpectrogramColumnStart(start, result.length, layout.columns, column);
        if (!reader.Fill(task, first, layout.fftSize)) return kTaskCancelled;
        std::fill(sums.begin(), sums.end(), 0.0);
        // Two channels share one complex transform: the left in the real
        // part, the right in the imaginary part, separated afterwards by
        // the symmetry of real signals' spectra.
        for (size_t c = 0; c < channels; c += 2) {
            const bool pair = c + 1 < channels;
            for (size_t i = 0; i < n; ++i)
                data[i] = Complex(window[i] * reader.At(i, c), pair ? window[i] * reader.At(i, c + 1) : 0.0);
            fft.Forward(data);
            for (size_t k = 0; k < bins; ++k) {
                if (!pair) {
                    sums[k] += std::sqrt(std::norm(data[k]));
                    continue;
                }
                const Complex mirror = std::conj(data[(n - k) & (n - 1)]);
                sums[k] +=
                    0.5 * (std::sqrt(std::norm(data[k] + mirror)) + std::sqrt(std::norm(data[k] - mirror)));
            }
        }
        uint16_t* values = result.values.data() + static_cast<size_t>(column) * bins;
        for (size_t k = 0; k < bins; ++k)
            values[k] = SaturatedValue(sums[k] * scale);
        if ((column & 63) == 63) SetProgressFraction(task, static_cast<double>(column) / layout.columns);
    }
    out = std::move(result);
    return kTaskDone;
}

int32_t RunSpectrogramTask(TaskHost& host, const AudioClip& clip, int32_t start, int32_t length,
                           Spectrogram& out) {
    out = Spectrogram();
    const auto rate = static_cast<int32_t>(clip.SampleRate());
    const SpectrogramCacheKey cache = SpectrogramCacheFor(clip, start, length);
    if (ReadSpectrogramCache(cache, rate, start, length, out)) return kTaskDone;

    Ref<ClipReader> reader = OpenClipReader(clip);
    FunctionTask task(kSpectrogramTaskTitle,
                      [&](ProgressTask& t) { return ComputeSpectrogram(t, *reader, start, length, out); });
    const int32_t result = RunTask(task, host);
    if (result != kTaskDone) {
        out = Spectrogram();
        return result;
    }
    WriteSpectrogramCache(cache, out);  // a cache that cannot be written only costs time later
    return result;
}

int32_t AnalyseDocumentSpectrogram(const SoundDocument& document, UserPrompt& prompt, TaskHost& host,
                                   Spectrogram& out) {
    out = Spectrogram();
    const bool selected = document.HasSelection();
    const int32_t start = selected ? document.selectionStart : 0;
    const int32_t length = selected ? document.selectionEnd - document.selectionStart : document.Length();
    if (!ConfirmSpectrogramLength(prompt, static_cast<int32_t>(document.clip.SampleRate()), length))
        return kTaskCancelled;
    return RunSpectrogramTask(host, document.clip, start, length, out);
}

// --- Cache -----------------------------------------------------------------------

namespace {

constexpr size_t kCacheHeaderBytes = 5 * 4;

class Fnv1a {
public:
    template <class T>
    void Add(T value) {
        const auto v = static_cast<uint64_t>(value);
        for (int i = 0; i < 8; ++i) {
            hash_ ^= static_cast<uint8_t>(v >> (8 * i));
            hash_ *= 16777619u;
        }
    }
    uint32_t Value() const { return hash_; }

private:
    uint32_t hash_ = 2166136261u;
};

void PutU32(std::string& bytes, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>(v >> (8 * i)));
}

uint32_t GetU32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t{static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)])} << (8 * i);
    return v;
}

}  // namespace

SpectrogramCacheKey SpectrogramCacheFor(const AudioClip& clip, int32_t start, int32_t length) {
    SpectrogramCacheKey cache;
    length = std::max(0, length);
    const SpectrogramLayout layout = SpectrogramLayoutFor(static_cast<int32_t>(clip.SampleRate()), length);
    const int64_t end =
        int64_t{SpectrogramColumnStart(start, length, layout.columns, layout.columns - 1)} + layout.fftSize;
    AudioClip span;
    if (!ClipExtract(span, clip, start, static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX))))
        return cache;

    Fnv1a hash;
    hash.Add(clip.SampleRate());
    hash.Add(clip.Channels());
    hash.Add(end - start);
    uint16_t firstFile = kSilenceFileId;
    for (const ClipSegment& segment : span.Segments()) {
        hash.Add(segment.fileId);
        hash.Add(segment.firstFrame);
        hash.Add(segment.frames);
        hash.Add(segment.gain);
        if (segment.IsSilence()) continue;
        struct stat info {};
        if (::stat(WorkingFileTable::AudioPath(segment.fileId).c_str(), &info) != 0) return cache;
        hash.Add(info.st_dev);
        hash.Add(info.st_ino);
        hash.Add(info.st_size);
        hash.Add(info.st_mtim.tv_sec);
        hash.Add(info.st_mtim.tv_nsec);
        if (firstFile == kSilenceFileId) firstFile = segment.fileId;
    }
    if (firstFile == kSilenceFileId) return cache;
    std::string path = WorkingFileTable::AudioPath(firstFile);
    const size_t dot = path.rfind('.');
    cache.path = (dot == std::string::npos ? path : path.substr(0, dot)) + ".wbm";
    cache.key = hash.Value();
    return cache;
}

bool WriteSpectrogramCache(const SpectrogramCacheKey& cache, const Spectrogram& spectrogram) {
    if (cache.path.empty() || spectrogram.Empty()) return false;
    std::string bytes;
    bytes.reserve(kCacheHeaderBytes + spectrogram.values.size() * 2);
    PutU32(bytes, static_cast<uint32_t>(spectrogram.start));
    PutU32(bytes, static_cast<uint32_t>(spectrogram.length));
    PutU32(bytes, static_cast<uint32_t>(spectrogram.layout.fftSize));
    PutU32(bytes, static_cast<uint32_t>(spectrogram.layout.columns));
    PutU32(bytes, cache.key);
    for (uint16_t v : spectrogram.values) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8));
    }
    return WriteFileAtomically(cache.path, bytes);
}

bool ReadSpectrogramCache(const SpectrogramCacheKey& cache, int32_t sampleRate, int32_t start, int32_t length,
                          Spectrogram& out) {
    if (cache.path.empty()) return false;
    length = std::max(0, length);
    const SpectrogramLayout layout = SpectrogramLayoutFor(sampleRate, length);
    const auto cells = static_cast<size_t>(layout.columns) * static_cast<size_t>(layout.bins);
    // The size first, so a stale file of another shape is never read whole.
    const std::optional<int64_t> size = FileSize(cache.path);
    if (!size || *size != static_cast<int64_t>(kCacheHeaderBytes + 2 * cells)) return false;
    const std::optional<std::string> bytes = ReadWholeFile(cache.path);
    if (!bytes || bytes->size() != kCacheHeaderBytes + 2 * cells) return false;
    if (GetU32(*bytes, 0) != static_cast<uint32_t>(start) ||
        GetU32(*bytes, 4) != static_cast<uint32_t>(length) ||
        GetU32(*bytes, 8) != static_cast<uint32_t>(layout.fftSize) ||
        GetU32(*bytes, 12) != static_cast<uint32_t>(layout.columns) || GetU32(*bytes, 16) != cache.key)
        return false;

    Spectrogram result;
    result.sampleRate = sampleRate;
    result.start = start;
    result.length = length;
    result.layout = layout;
    result.values.resize(cells);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes->data() + kCacheHeaderBytes);
    for (size_t i = 0; i < cells; ++i)
        result.values[i] = static_cast<uint16_t>(p[2 * i] | p[2 * i + 1] << 8);
    out = std::move(result);
    return true;
}

// --- Drawing ---------------------------------------------------------------------

const std::array<Rgb, 256>& SpectrogramPalette() {
    static const std::array<Rgb, 256> palette = [] {
        struct Stop {
            int index;
            Rgb colour;
        };
        // Each stop brighter than the one before, so louder always looks
        // brighter, also in grey.
        const Stop stops[] = {{0, {0, 0, 0}},       {64, {40, 0, 140}},    {128, {190, 20, 90}},
                              {176, {240, 100, 0}}, {224, {255, 220, 40}}, {255, {255, 255, 255}}};
        std::array<Rgb, 256> p{};
        for (size_t s = 0; s + 1 < std::size(stops); ++s) {
            const Stop& a = stops[s];
            const Stop& b = stops[s + 1];
            const int span = b.index - a.index;
            for (int i = a.index; i <= b.index; ++i) {
                const int t = i - a.index;
                const auto mix = [&](uint8_t x, uint8_t y) {
                    return static_cast<uint8_t>((x * (span - t) + y * t + span / 2) / span);
                };
                p[static_cast<size_t>(i)] = {mix(a.colour.r, b.colour.r), mix(a.colour.g, b.colour.g),
                                             mix(a.colour.b, b.colour.b)};
            }
        }
        return p;
    }();
    return palette;
}

uint8_t SpectrogramColourIndex(uint16_t value, int32_t brightness) {
    const int64_t index = (int64_t{value} * std::max(0, brightness) * 96) >> 16;
    return static_cast<uint8_t>(std::min<int64_t>(255, index));
}

int32_t SpectrogramBinFrequency(const Spectrogram& spectrogram, int32_t bin) {
    return static_cast<int32_t>(int64_t{bin} * spectrogram.sampleRate / spectrogram.layout.fftSize);
}

std::vector<uint8_t> SpectrogramPicture(const Spectrogram& spectrogram, int32_t brightness, int32_t firstBin,
                                        int32_t binCount, bool grid) {
    const SpectrogramLayout& layout = spectrogram.layout;
    firstBin = std::clamp(firstBin, 0, layout.bins);
    binCount = std::clamp(binCount, 0, layout.bins - firstBin);
    if (spectrogram.Empty() || binCount == 0) return {};
    const auto width = static_cast<size_t>(layout.columns);
    std::vector<uint8_t> pixels(width * static_cast<size_t>(binCount));
    for (int32_t row = 0; row < binCount; ++row) {
        const int32_t bin = firstBin + binCount - 1 - row;
        uint8_t* line = pixels.data() + static_cast<size_t>(row) * width;
        for (size_t column = 0; column < width; ++column)
            line[column] =
                SpectrogramColourIndex(spectrogram.At(static_cast<int32_t>(column), bin), brightness);
        if (grid && bin > 0 &&
            SpectrogramBinFrequency(spectrogram, bin) / 1000 !=
                SpectrogramBinFrequency(spectrogram, bin - 1) / 1000) {
            for (size_t column = 0; column < width; ++column)
                line[column] = static_cast<uint8_t>(line[column] + 128);
        }
    }
    if (grid && spectrogram.sampleRate > 0) {
        const auto second = [&](int32_t column) {
            return SpectrogramColumnStart(spectrogram.start, spectrogram.length, layout.columns, column) /
                   spectrogram.sampleRate;
        };
        for (int32_t column = 1; column < layout.columns; ++column) {
            if (second(column) == second(column - 1)) continue;
            for (int32_t row = 0; row < binCount; ++row) {
                uint8_t& pixel = pixels[static_cast<size_t>(row) * width + static_cast<size_t>(column)];
                pixel = static_cast<uint8_t>(pixel + 128);
            }
        }
    }
    return pixels;
}

std::string FormatSpectrogramTime(int32_t milliseconds) {
    const int32_t ms = std::max(0, milliseconds);
    char text[48];
    std::snprintf(text, sizeof text, "%d:%.2d:%.2d.%.1d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms / 100 % 10);
    return text;
}

std::string SpectrogramStatusText(const Spectrogram& spectrogram, int32_t column, int32_t bin) {
    const SpectrogramLayout& layout = spectrogram.layout;
    column = std::clamp(column, 0, layout.columns - 1);
    bin = std::clamp(bin, 0, layout.bins - 1);
    const int32_t frame =
        SpectrogramColumnStart(spectrogram.start, spectrogram.length, layout.columns, column);
    const int level = spectrogram.Empty() ? -127 : AnalysisDecibels(spectrogram.At(column, bin) * 16.0);
    char text[128];
    std::snprintf(text, sizeof text, "Time: %s    Frequency: %d Hz    Volume: %d dB",
                  FormatSpectrogramTime(MillisecondsFromFrames(frame, spectrogram.sampleRate)).c_str(),
                  SpectrogramBinFrequency(spectrogram, bin), level);
    return text;
}

// --- View settings ---------------------------------------------------------------

SpectrogramView LoadSpectrogramView(const SettingsStore& settings) {
    SpectrogramView view;
    view.fullZoom = settings.ReadBool("Settings", "TFFTFullZoomOn", view.fullZoom);
    view.vScroll = settings.ReadInt("Settings", "TFFTVScroll", view.vScroll);
    view.grid = settings.ReadBool("Settings", "GridToggle", view.grid);
    return view;
}

void StoreSpectrogramView(const SettingsStore& settings, const SpectrogramView& view) {
    settings.WriteBool("Settings", "TFFTFullZoomOn", view.fullZoom);
    settings.WriteInt("Settings", "TFFTVScroll", view.vScroll);
    settings.WriteBool("Settings", "GridToggle", view.grid);
}

BinRange SpectrogramVisibleBins(const SpectrogramView& view, int32_t bins) {
    if (view.fullZoom || bins < 4) return {0, std::max(0, bins)};
    const int32_t count = bins / 4;
    return {std::clamp(view.vScroll, 0, bins - count), count};
}

}  // namespace sonitor
