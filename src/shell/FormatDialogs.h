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
// options return true at once. OK stores the record; false on Cancel.
bool ShowFormatOptionsDialog(QWidget* parent, const std::string& extension, int32_t rate, int channels,
                             const SettingsStore& settings, UserPrompt& prompt);

// "Codec Settings" for "VoxAudio" or "RawAudio": false on Cancel.
bool ShowCodecSettingsDialog(QWidget* parent, const std::string& section, const SettingsStore& settings);

// The wave format chooser window ("Select Wave File Format"): the picked
// format or nothing on Cancel. Used as ChooseWaveFormat's picker.
std::optional<WaveFormat> PickWaveFormat(QWidget* parent, const std::string& title,
                                         const std::vector<WaveFormatChoice>& choices, const WaveFormat& initial);

}  // namespace sonitor
