#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonitor {

class AudioBackend;

// The capture side of an input device's mixer: the lines that can feed a
// recording (microphone, line in, ...), which of them is recorded, and the
// capture volume. Line numbers count from 0 in the order Lines() gives;
// -1 leaves the mixer's current choice alone.
class RecordMixer {
public:
    static constexpr int kMaxLines = 127;
    static constexpr int kKeepCurrentLine = -1;

    virtual ~RecordMixer() = default;

    // At most kMaxLines names; empty when the device has no mixer.
    virtual std::vector<std::string> Lines() = 0;
    // Makes the line the recording source. True for kKeepCurrentLine.
    virtual bool SelectLine(int line) = 0;
    // The capture volume, 0..65535 (the scale of the output volume).
    virtual bool SetLevel(uint32_t level) = 0;

    // The capture volume in decibels, mapped like the output volume:
    // (dB + 36) * 1424, 0 at -36 dB and below, at most 65535.
    bool SetVolume(int decibels);
};

// A mixer with fixed lines that remembers what it is told: the mixer of the
// null backend, and of tests.
class NullRecordMixer final : public RecordMixer {
public:
    explicit NullRecordMixer(std::vector<std::string> lines = {"Null Line In", "Null Microphone"});
    std::vector<std::string> Lines() override { return lines_; }
    bool SelectLine(int line) override;
    bool SetLevel(uint32_t level) override;

    int SelectedLine() const { return selected_; }
    uint32_t Level() const { return level_; }

private:
    std::vector<std::string> lines_;
    int selected_ = 0;
    uint32_t level_ = 51264;
};

// The capture elements of an ALSA mixer ("default", "hw:0", ...): an
// enumerated capture source when the card has one (its items are the
// lines), else the elements with a capture switch or volume. A card that
// cannot be opened gives a mixer without lines.
std::unique_ptr<RecordMixer> OpenAlsaRecordMixer(const std::string& card);

// The mixer behind input device `device` of backend (0 = the default
// device): the null mixer for the null backend; otherwise the ALSA mixer of
// the card the device's name points at ("... (hw:1,0)"), else "default".
std::unique_ptr<RecordMixer> OpenRecordMixer(AudioBackend& backend, int device);

}  // namespace sonitor
