#include "audio_io/RecordMixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>

#include "audio_io/AudioDevice.h"
#include "audio_io/SoundPlayer.h"

namespace sonitor {

bool RecordMixer::SetVolume(int decibels) {
    return SetLevel(VolumeLevelFromDecibels(decibels));
}

NullRecordMixer::NullRecordMixer(std::vector<std::string> lines) : lines_(std::move(lines)) {
    if (lines_.size() > static_cast<size_t>(kMaxLines)) lines_.resize(kMaxLines);
}

bool NullRecordMixer::SelectLine(int line) {
    if (line == kKeepCurrentLine) return true;
    if (line < 0 || line >= static_cast<int>(lines_.size())) return false;
    selected_ = line;
    return true;
}

bool NullRecordMixer::SetLevel(uint32_t level) {
    level_ = level > 65535 ? 65535 : level;
    return true;
}

namespace {

// ALSA reports a missing card on stderr before it returns the error; a
// machine without sound is normal for us, so the open is quiet.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

class AlsaRecordMixer final : public RecordMixer {
public:
    explicit AlsaRecordMixer(const std::string& card) {
        snd_lib_error_set_handler(QuietAlsaError);
        bool ok = snd_mixer_open(&mixer_, 0) == 0;
        ok = ok && snd_mixer_attach(mixer_, card.c_str()) == 0;
        ok = ok && snd_mixer_selem_register(mixer_, nullptr, nullptr) == 0;
        ok = ok && snd_mixer_load(mixer_) == 0;
        snd_lib_error_set_handler(nullptr);
        if (!ok) {
            if (mixer_) snd_mixer_close(mixer_);
            mixer_ = nullptr;
            return;
        }
        Scan();
    }

    ~AlsaRecordMixer() override {
        if (mixer_) snd_mixer_close(mixer_);
    }

    std::vector<std::string> Lines() override { return names_; }

    bool SelectLine(int line) override {
        if (line == kKeepCurrentLine) return true;
        if (!mixer_ || line < 0 || line >= static_cast<int>(names_.size())) return false;
        if (source_) {
            // Channel 0 always exists; the others only on stereo sources.
            bool ok = snd_mixer_selem_set_enum_item(source_, SND_MIXER_SCHN_FRONT_LEFT,
                                                    static_cast<unsigned>(line)) == 0;
            for (int c = SND_MIXER_SCHN_FRONT_RIGHT; c <= SND_MIXER_SCHN_LAST; ++c)
                snd_mixer_selem_set_enum_item(source_, static_cast<snd_mixer_selem_channel_id_t>(c),
                                              static_cast<unsigned>(line));
            return ok;
        }
        snd_mixer_elem_t* elem = lines_[static_cast<size_t>(line)];
        selected_ = elem;
        if (snd_mixer_selem_has_capture_switch(elem))
            return snd_mixer_selem_set_capture_switch_all(elem, 1) == 0;
        return true;
    }

    bool SetLevel(uint32_t level) override {
        snd_mixer_elem_t* elem =
            selected_ && snd_mixer_selem_has_capture_volume(selected_) ? selected_ : volume_;
        if (!elem) return false;
        long low = 0;
        long high = 0;
        if (snd_mixer_selem_get_capture_volume_range(elem, &low, &high) != 0 || high < low) return false;
        const long value =
            low +
            static_cast<long>((static_cast<int64_t>(high - low) * std::min<uint32_t>(level, 65535)) / 65535);
        return snd_mixer_selem_set_capture_volume_all(elem, value) == 0;
    }

private:
    static std::string ElementName(snd_mixer_elem_t* elem) {
        std::string name = snd_mixer_selem_get_name(elem);
        if (const unsigned index = snd_mixer_selem_get_index(elem); index > 0)
            name += " " + std::to_string(index);
        return name;
    }

    void Scan() {
        std::vector<snd_mixer_elem_t*> switches;
        std::vector<snd_mixer_elem_t*> volumes;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer_); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e)) continue;
            if (!source_ && snd_mixer_selem_is_enum_capture(e)) source_ = e;
            if (snd_mixer_selem_has_capture_switch(e)) switches.push_back(e);
            if (snd_mixer_selem_has_capture_volume(e)) {
                volumes.push_back(e);
                // The card's master capture volume, when it has one, is the
                // one to turn; else the first there is.
                const std::string name = snd_mixer_selem_get_name(e);
                if (!volume_ || name == "Capture") volume_ = e;
            }
        }
        if (source_) {
            const int items = snd_mixer_selem_get_enum_items(source_);
            for (int i = 0; i < items && i < kMaxLines; ++i) {
                char name[64] = {};
                if (snd_mixer_selem_get_enum_item_name(source_, static_cast<unsigned>(i), sizeof name - 1,
                                                       name) != 0)
                    name[0] = '\0';
                names_.emplace_back(name);
            }
            return;
        }
        lines_ = switches.empty() ? volumes : switches;
        if (lines_.size() > static_cast<size_t>(kMaxLines)) lines_.resize(kMaxLines);
        for (snd_mixer_elem_t* e : lines_)
            names_.push_back(ElementName(e));
    }

    snd_mixer_t* mixer_ = nullptr;
    snd_mixer_elem_t* source_ = nullptr;  // enumerated capture source, if any
    snd_mixer_elem_t* volume_ = nullptr;
    snd_mixer_elem_t* selected_ = nullptr;
    std::vector<snd_mixer_elem_t*> lines_;
    std::vector<std::string> names_;
};

// "hw:N" from a device name that ends in "(hw:N,M)".
std::string CardOfDeviceName(const std::string& name) {
    const size_t at = name.find("(hw:");
    if (at == std::string::npos) return "default";
    size_t end = at + 4;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])))
        ++end;
    if (end == at + 4) return "default";
    return name.substr(at + 1, end - at - 1);
}

}  // namespace

std::unique_ptr<RecordMixer> OpenAlsaRecordMixer(const std::string& card) {
    return std::make_unique<AlsaRecordMixer>(card);
}

std::unique_ptr<RecordMixer> OpenRecordMixer(AudioBackend& backend, int device) {
    if (backend.Name() == "null") return std::make_unique<NullRecordMixer>();
    std::string card = "default";
    if (device >= 1) {
        const std::vector<std::string> names = backend.InputDevices();
        if (static_cast<size_t>(device) <= names.size())
            card = CardOfDeviceName(names[static_cast<size_t>(device) - 1]);
    }
    return OpenAlsaRecordMixer(card);
}

}  // namespace sonitor
