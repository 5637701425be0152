#pragma once

// The two analysis windows' core: the spectrum at the cursor and the
// spectrogram of a selection, their axes, colours, status texts, view
// settings and the spectrogram's cache file. The windows themselves only
// draw what these functions give them.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "document/ProgressTask.h"

namespace sonitor {

class AudioClip;
class AudioSource;
class SettingsStore;
class SoundDocument;
class UserPrompt;

// --- Levels ----------------------------------------------------------------------

// The magnitude that reads 0 dB in both windows: the RMS of a sine whose
// peak is 131072, the level the meters call 0 dB. Magnitudes are therefore
// calibrated rather than raw transform output: |X[k]| * sqrt(2) / sum(w)
// with w the Hamming window, so a sine of peak A centred on a bin reads
// A / sqrt(2) there whatever the transform size.
inline constexpr double kAnalysisReference = 92682.0;

// Whole decibels of a calibrated magnitude against kAnalysisReference,
// rounded half away from zero, -127 for 0, limited to -127..127.
int AnalysisDecibels(double magnitude);

// --- Spectrum at the cursor ------------------------------------------------------

inline constexpr int32_t kSpectrumFrames = 4096;
inline constexpr int32_t kSpectrumBins = kSpectrumFrames / 2;

struct Spectrum {
    int32_t sampleRate = 44100;
    // One curve per channel (left, right), kSpectrumBins levels each.
    std::vector<std::array<int8_t, kSpectrumBins>> curves;
};

// The 4096 frames from cursor on (silence past the end), each channel
// windowed and transformed on its own.
Spectrum ComputeSpectrum(AudioSource& source, int32_t cursor);
Spectrum ComputeSpectrum(const AudioClip& clip, int32_t cursor);

// The horizontal axis. A position t from 0 (left edge of the whole, possibly
// zoomed and scrolled, curve) to 1 (right edge) shows bin
// trunc(2047^t): a true logarithmic axis from bin 1 to bin 2047, so the
// octaves get equal room. Zooming widens the curve and scrolling moves t;
// no bin offset is needed.
int32_t SpectrumAxisBin(double t);
// The inverse, for grid lines and labels: where bin (1..2047) lies on 0..1.
double SpectrumAxisPosition(int32_t bin);
// (rate * bin) >> 12 Hz.
int32_t SpectrumBinFrequency(int32_t bin, int32_t sampleRate);
// "%d Hz, %d dB".
std::string SpectrumStatusText(int32_t hertz, int decibels);

// --- Spectrogram of a selection --------------------------------------------------

struct SpectrogramLayout {
    int32_t fftSize = 32;  // N: the smallest 2^k, k in 5..15, with 2^k >= rate / 30
    int32_t bins = 16;     // B = N / 2
    int32_t columns = 1;   // max(1, 4 * length / B): a column about every B / 4 frames
};

SpectrogramLayout SpectrogramLayoutFor(int32_t sampleRate, int32_t length);
// First frame of a column: start + column * length / columns, in 64 bits
// (the product passes 2^31 beyond about 16 seconds at 44100 Hz).
int32_t SpectrogramColumnStart(int32_t start, int32_t length, int32_t columns, int32_t column);

// Column-major 16-bit magnitudes: values[column * bins + bin]. A value is
// the calibrated magnitude in 16-bit sample units (the internal scale / 16),
// averaged over the channels and truncated, so a full-scale 16-bit sine
// centred on a bin gives 23170; material with headroom saturates at 65535
// instead of wrapping. The mean rather than the sum keeps a centred mono
// source as bright in stereo as in mono.
struct Spectrogram {
    int32_t sampleRate = 0;
    int32_t start = 0;
    int32_t length = 0;
    SpectrogramLayout layout;
    std::vector<uint16_t> values;

    bool Empty() const { return values.empty(); }
    uint16_t At(int32_t column, int32_t bin) const {
        return values[static_cast<size_t>(column) * static_cast<size_t>(layout.bins) +
                      static_cast<size_t>(bin)];
    }
};

// The range analysed when nothing is selected is the whole clip; the
// question comes first when it is longer than ten seconds.
bool SpectrogramNeedsQuestion(int32_t sampleRate, int32_t length);
extern const char* const kSpectrogramQuestion;
extern const char* const kSpectrogramWindowCaption;  // the question's title
// Asks when SpectrogramNeedsQuestion; true when the work should go on
// (always without the question, only on Yes with it).
bool ConfirmSpectrogramLength(UserPrompt& prompt, int32_t sampleRate, int32_t length);

extern const char* const kSpectrogramTaskTitle;  // "Calculating Temporal Frequency Data"
// Longest matrix we build (cells); a selection that needs more (about 25
// minutes at 44100 Hz) is refused with kSpectrogramTooLong.
inline constexpr int64_t kMaxSpectrogramCells = int64_t{1} << 28;
extern const char* const kSpectrogramTooLong;

// Task work: the spectrogram of [start, start + length) of source. Column c
// is computed from the N frames at SpectrogramColumnStart(c), which may
// reach past the range. Cancel (1) and failure (2) leave out empty.
int32_t ComputeSpectrogram(ProgressTask& task, AudioSource& source, int32_t start, int32_t length,
                           Spectrogram& out);

// The command's path: reloads the cache file when it matches, else runs
// ComputeSpectrogram as the task "Calculating Temporal Frequency Data" and
// writes the cache. The result as a TaskResult; out is empty unless 0.
int32_t RunSpectrogramTask(TaskHost& host, const AudioClip& clip, int32_t start, int32_t length,
                           Spectrogram& out);

// The temporal analysis command's work: the document's selection, or the
// whole clip when nothing is selected; the question first when that is
// long (No or Cancel: 1, nothing computed); then RunSpectrogramTask.
int32_t AnalyseDocumentSpectrogram(const SoundDocument& document, UserPrompt& prompt, TaskHost& host,
                                   Spectrogram& out);

// --- The ".wbm" cache ------------------------------------------------------------
//
// Kept beside the first working file the analysed frames come from
// ("<id>.wbm" next to "<id>.aud"), so there is at most one per working file
// and it goes with the working folder. Layout, all little-endian:
//   uint32 start, uint32 length, uint32 fftSize, uint32 columns, uint32 key
//   columns * fftSize / 2 uint16 values, column by column.
// The key is a hash of the audio the columns read: rate, channels and the
// piece list of the frames from start to the last column's end, with the
// identity (device, inode, size, modification time) of each working file,
// so a file number used again for other samples does not match. A cache
// matches when its size and all five values equal those of the request.

struct SpectrogramCacheKey {
    std::string path;  // empty: no working file in the range, nothing to cache
    uint32_t key = 0;
};

SpectrogramCacheKey SpectrogramCacheFor(const AudioClip& clip, int32_t start, int32_t length);
bool WriteSpectrogramCache(const SpectrogramCacheKey& cache, const Spectrogram& spectrogram);
// Fills out and returns true when the file matches the request.
bool ReadSpectrogramCache(const SpectrogramCacheKey& cache, int32_t sampleRate, int32_t start, int32_t length,
                          Spectrogram& out);

// --- Drawing ---------------------------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Black through blue, purple, red and orange to yellow and white.
const std::array<Rgb, 256>& SpectrogramPalette();

// Brightness scales the linear magnitudes onto the palette; at 64 a sine
// about 19 dB below 16-bit full scale (2720) reaches the top colour.
inline constexpr int32_t kMinSpectrogramBrightness = 1;
inline constexpr int32_t kMaxSpectrogramBrightness = 65535;
inline constexpr int32_t kDefaultSpectrogramBrightness = 64;

// min(255, (value * brightness * 96) >> 16), in 64 bits.
uint8_t SpectrogramColourIndex(uint16_t value, int32_t brightness);

// Bins firstBin .. firstBin + binCount - 1 of every column as palette
// indices, one byte per pixel, row by row from the top: the highest bin on
// the first row, so low frequencies are at the bottom. With grid, a line
// every 1000 Hz and every whole second of the range, drawn in the colour
// half the palette away from the one beneath so it shows on any content.
std::vector<uint8_t> SpectrogramPicture(const Spectrogram& spectrogram, int32_t brightness, int32_t firstBin,
                                        int32_t binCount, bool grid);

// Frequency of a spectrogram bin: bin * rate / N Hz.
int32_t SpectrogramBinFrequency(const Spectrogram& spectrogram, int32_t bin);
// "%d:%.2d:%.2d.%.1d": hours, minutes, seconds, tenths.
std::string FormatSpectrogramTime(int32_t milliseconds);
// "Time: %s    Frequency: %d Hz    Volume: %d dB" for a cell: the column's
// first frame as a time, the bin's frequency, the value's level.
std::string SpectrogramStatusText(const Spectrogram& spectrogram, int32_t column, int32_t bin);

// --- View settings ("Settings") --------------------------------------------------

struct SpectrogramView {
    bool fullZoom = true;  // "TFFTFullZoomOn": every bin, else a quarter of them
    int32_t vScroll = 0;   // "TFFTVScroll": first bin shown when zoomed
    bool grid = false;     // "GridToggle"
};

SpectrogramView LoadSpectrogramView(const SettingsStore& settings);
void StoreSpectrogramView(const SettingsStore& settings, const SpectrogramView& view);

struct BinRange {
    int32_t first = 0;
    int32_t count = 0;
};
// The bins the view shows: all of them, or when zoomed a quarter starting at
// the scroll position, kept inside 0..bins.
BinRange SpectrogramVisibleBins(const SpectrogramView& view, int32_t bins);

}  // namespace sonitor
