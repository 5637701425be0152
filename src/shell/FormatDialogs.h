#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/WaveFormat.h"

class QWidget;

namespace sonitor {

class SettingsStore;
class UserPrompt;

// The options dialog of an export format before a Save As, by extension
// (without or with the dot, any case): "MP3 Encoder Settings", "Ogg Encoder
// Settings", "Flac Encoder Settings", "AAC / M4A Encoder Settings", "AMR
// Encoder Settings", "Codec Settings" for .vox/.raw, the wave format chooser
// for .wav, the playlist settings for .m3u/.pls/.wpl/.rss. Formats without
// options return true at once. OK stores the record; false on Cancel. For
// .wav the pick is written to SavedWaveFormatPath(); when that fails the
// user is told and false is returned, so no file is written in a format
// other than the one chosen.
bool ShowFormatOptionsDialog(QWidget* parent, const std::string& extension, int32_t rate, int channels,
                             const SettingsStore& settings, UserPrompt& prompt);

// "Codec Settings" for "VoxAudio" or "RawAudio": false on Cancel. A rate
// outside 6000..196000 keeps the dialog open with the rate selected.
bool ShowCodecSettingsDialog(QWidget* parent, const std::string& section, const SettingsStore& settings);

// The wave format chooser window ("Select Wave File Format"): a coding list
// and the attributes of the chosen coding. PCM (8 to 32 bits) is offered
// first, since the choices name only the compressed formats; an initial
// format found in neither list is offered as it is. The picked format or
// nothing on Cancel. Used as ChooseWaveFormat's picker.
std::optional<WaveFormat> PickWaveFormat(QWidget* parent, const std::string& title,
                                         const std::vector<WaveFormatChoice>& choices,
                                         const WaveFormat& initial);

}  // namespace sonitor
