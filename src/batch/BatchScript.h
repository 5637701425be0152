#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "effects/PointRecord.h"

namespace sonitor {

class SettingsStore;

// The 21 commands a batch script can hold, by the id the file stores.
enum class BatchCommandId : uint32_t {
    AutoTrim = 0,
    InsertSilenceStart = 1,
    InsertSilenceEnd = 2,
    Amplify = 3,
    Normalize = 4,
    HighPassFilter = 5,
    Equalizer = 6,
    Echo = 7,
    Reverb = 8,
    Envelope = 9,
    AutomaticGainControl = 10,
    NoiseReductionAuto = 11,
    NoiseGate = 12,
    SpeedAndPitch = 13,
    Speed = 14,
    Pitch = 15,
    Compressor = 16,
    ConvertSampleRate = 17,
    ConvertChannels = 18,
    StereoPan = 19,
    ReduceVocals = 20,
};
inline constexpr uint32_t kBatchCommandCount = 21;

// One entry of a command list: the id and its parameter block, little-endian
// in the layout of the command (may be shorter: the missing values then
// come from the stored defaults).
struct BatchCommand {
    uint32_t id = 0;
    std::vector<uint8_t> block;
    friend bool operator==(const BatchCommand&, const BatchCommand&) = default;
};

// The list's name of a command ("Auto Trim", ...); empty for unknown ids.
std::string BatchCommandName(uint32_t id);
// The description column: the values of the block (or the defaults from
// settings) in the command's text; empty for commands without values and
// for a compressor ratio index of 7 or more.
std::string BatchCommandDescription(const BatchCommand& command, const SettingsStore& settings);
// The parameter block of a command filled from the stored values (what a
// newly added command carries).
std::vector<uint8_t> DefaultBatchBlock(uint32_t id, const SettingsStore& settings);

// The layout of a command's parameter block: its values in order, each a
// little-endian integer of `bytes` bytes. Empty for commands without values
// and for the two that carry a point record instead.
struct BatchField {
    uint8_t bytes = 0;
    bool isSigned = true;
};
std::vector<BatchField> BatchCommandFields(uint32_t id);
// Equalizer and Envelope carry a 129-byte point record.
bool BatchCommandTakesRecord(uint32_t id);
inline constexpr size_t kBatchRecordBytes = 129;
// A block holding values (in the layout's order, each cut to its width).
std::vector<uint8_t> EncodeBatchBlock(uint32_t id, const std::vector<int32_t>& values);

// The command's values from its block, each taken only when the block holds
// the command's whole layout, else from the stored values; in the layout's
// order.
std::vector<int32_t> BatchCommandValues(const BatchCommand& command, const SettingsStore& settings);
// The point record of an Equalizer or Envelope command: its 129-byte block,
// or "equalizer.dat" / "envelope.dat".
std::vector<CurvePoint> BatchCommandCurve(const BatchCommand& command);

// ".snb" files: a version byte 0, then id (u32), length (u32) and block per
// command to the end of the file.
enum class ScriptReadError { None, CannotOpen, WrongVersion, Damaged };
struct ScriptReadResult {
    ScriptReadError error = ScriptReadError::None;
    std::vector<BatchCommand> commands;
};
ScriptReadResult ReadBatchScript(const std::string& path);
std::vector<uint8_t> EncodeBatchScript(const std::vector<BatchCommand>& commands);
bool WriteBatchScript(const std::string& path, const std::vector<BatchCommand>& commands);

// Messages of the script operations.
extern const char* const kScriptVersionMessage;  // title "File Error"
extern const char* const kScriptOpenMessage;     // title "File Error"
extern const char* const kScriptDamagedMessage;  // title "File Error"

// Output formats by "SaveFileFormat" index (0 ".wav" ... 15 ".amr", 16 "").
const std::vector<std::string>& BatchOutputFormats();

}  // namespace sonitor
