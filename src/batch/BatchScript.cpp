// The batch commands: their names, parameter blocks and descriptions, and
// the ".snb" script files that hold a command list.
#include "batch/BatchScript.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "effects/EffectCatalogue.h"
#include "effects/PointRecord.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

const char* const kScriptVersionMessage =
    "This file does not have the same version with the current Sonitor version or it is corrupted.";
const char* const kScriptOpenMessage =
    "Sonitor cannot open this file. The file does not exist or may be corrupted.";
// A block that runs past the end of the file: the file was cut short or
// overwritten, and nothing after that point can be trusted.
const char* const kScriptDamagedMessage =
    "This batch script file is damaged: a command's settings run past the end of the file.";

namespace {

// One value of a parameter block: its width in bytes, whether it is signed,
// the key its default is stored under and the default when the key is
// missing.
struct BlockField {
    uint8_t bytes = 0;
    bool isSigned = true;
    const char* key = nullptr;
    int32_t fallback = 0;
};

// The curve commands carry a whole point record instead of fields.
enum class RecordKind { None, Equalizer, Envelope };

struct CommandSpec {
    const char* name;
    const char* description;  // printf text over the fields; null: no values to show
    std::array<BlockField, 3> fields;
    RecordKind record = RecordKind::None;
};

constexpr size_t kRecordBytes = 1 + 2 * kMaxCurvePoints;  // count byte and 64 points

// The table the ids index. The Reverb level's default is the one its effect
// applies (100), so that the list describes what a run does.
const std::array<CommandSpec, kBatchCommandCount> kCommands = {{
    {"Auto Trim", nullptr, {}},
    {"Insert Silence At The Start", "Silence Time (ms) = %d", {{{4, true, "SilenceTimes", 0}}}},
    {"Insert Silence At The End", "Silence Time (ms) = %d", {{{4, true, "SilenceTimes", 0}}}},
    {"Amplify", "Amplify Gain (%%) = %d", {{{2, true, "AmplifyGain", 100}}}},
    {"Normalize", "Normalize Peak Level (%%) = %d", {{{2, true, "NormalizePeakLevel", 100}}}},
    {"High-Pass Filter", "Frequency (Hz) = %d", {{{4, true, "LowCutFreq", 250}}}},
    {"Equalizer", "Click on Settings to view or change.", {}, RecordKind::Equalizer},
    {"Echo",
     "Echo Time (ms) = %d, Echo Gain (%%) = %d",
     {{{4, true, "EchoTime", 800}, {2, true, "EchoGain", 50}}}},
    {"Reverb",
     "Reverb Time (ms) = %d, Reverb Level (%%) = %d",
     {{{4, true, "ReverbTime", 50}, {2, true, "ReverbLevel", 100}}}},
    {"Envelope", "Click on Settings to view or change.", {}, RecordKind::Envelope},
    {"Automatic Gain Control", nullptr, {}},
    {"Noise Reduction (Auto Spectral Subtraction)", "Threshold %d", {{{1, true, "SSNoiseThreshold", 30}}}},
    {"Noise Reduction (Multi-band Noise Gating)",
     "Noise Gate Level (dB) = %d",
     {{{1, true, "NoiseGateLevel", -30}}}},
    {"Speed and Pitch Change", "Speed/Pitch Adjust (%%) = %d", {{{2, true, "SpSpeedPitch", 100}}}},
    {"Speed Change", "Speed Adjust (%%) = %d", {{{2, true, "ConstPitchSpeed", 100}}}},
    {"Pitch Change", "Pitch Adjust (%%) = %d", {{{2, true, "ConstSpeedPitch", 100}}}},
    {"Dynamic Range Compressor",
     "Threshold (db) = %d, Ratio = %s, Limit (db) = %d",
     {{{1, true, "CompressorThreshold", -20},
       {1, false, "CompressorRatio", 0},
       {1, true, "CompressorLimit", 3}}}},
    {"Convert Sample Rate", "Convert Sample Rate = %d", {{{4, true, "ConvertSampleRate", 44100}}}},
    {"Convert Channel (Mono <-> Stereo)", "Convert Channel = %d", {{{1, false, "ConvertChannel", 1}}}},
    {"Stereo Pan", "Stereo Pan = %d%%", {{{4, true, "StereoPan", 50}}}},
    {"Reduce Vocals", nullptr, {}},
}};

constexpr std::array<const char*, 7> kRatioNames = {"1:1", "3:2", "2:1", "3:1", "4:1", "5:1", "Limit"};

const CommandSpec* SpecOf(uint32_t id) {
    return id < kBatchCommandCount ? &kCommands[id] : nullptr;
}

size_t FieldCount(const CommandSpec& spec) {
    size_t n = 0;
    while (n < spec.fields.size() && spec.fields[n].bytes != 0)
        ++n;
    return n;
}

size_t LayoutBytes(const CommandSpec& spec) {
    if (spec.record != RecordKind::None) return kRecordBytes;
    size_t total = 0;
    for (size_t i = 0; i < FieldCount(spec); ++i)
        total += spec.fields[i].bytes;
    return total;
}

int32_t ReadField(const uint8_t* at, const BlockField& field) {
    uint32_t raw = 0;
    for (size_t i = 0; i < field.bytes; ++i)
        raw |= uint32_t{at[i]} << (8 * i);
    if (field.isSigned && field.bytes < 4) {
        const uint32_t sign = 1u << (8 * field.bytes - 1);
        if (raw & sign) raw |= ~((sign << 1) - 1);
    }
    return static_cast<int32_t>(raw);
}

void AppendField(std::vector<uint8_t>& block, const BlockField& field, int32_t value) {
    const auto raw = static_cast<uint32_t>(value);
    for (size_t i = 0; i < field.bytes; ++i)
        block.push_back(static_cast<uint8_t>(raw >> (8 * i)));
}

void AppendU32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t ReadU32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

std::string RecordPath(RecordKind kind) {
    return kind == RecordKind::Equalizer ? EqualizerFilePath() : EnvelopeFilePath();
}

std::vector<uint8_t> EncodeRecord(const std::vector<CurvePoint>& points) {
    std::vector<uint8_t> record(kRecordBytes, 0);
    const size_t count = std::min(points.size(), kMaxCurvePoints);
    record[0] = static_cast<uint8_t>(count);
    for (size_t k = 0; k < count; ++k) {
        record[1 + 2 * k] = points[k].position;
        record[2 + 2 * k] = points[k].level;
    }
    return record;
}

}  // namespace

// The values a command runs with, in its block's order: from the block when
// it holds the whole layout, otherwise the stored values. Shared with the
// run, which maps them onto the effects' own keys.
std::vector<int32_t> BatchCommandValues(const BatchCommand& command, const SettingsStore& settings) {
    std::vector<int32_t> values;
    const CommandSpec* spec = SpecOf(command.id);
    if (spec == nullptr || spec->record != RecordKind::None) return values;
    const bool fromBlock = command.block.size() >= LayoutBytes(*spec);
    size_t offset = 0;
    for (size_t i = 0; i < FieldCount(*spec); ++i) {
        const BlockField& field = spec->fields[i];
        values.push_back(fromBlock ? ReadField(command.block.data() + offset, field)
                                   : settings.ReadInt("StoredValues", field.key, field.fallback));
        offset += field.bytes;
    }
    return values;
}

// The point record of an Equalizer or Envelope command: the block's when it
// is a whole record, else the user's curve file. Points are cleaned the way
// the curve files are (at most 64, positions non-decreasing, none at all
// meaning flat).
std::vector<CurvePoint> BatchCommandCurve(const BatchCommand& command) {
    const CommandSpec* spec = SpecOf(command.id);
    if (spec == nullptr || spec->record == RecordKind::None) return {};
    if (command.block.size() < kRecordBytes) return LoadCurveFile(RecordPath(spec->record));
    std::vector<CurvePoint> points;
    const size_t count = std::min<size_t>(command.block[0], kMaxCurvePoints);
    for (size_t k = 0; k < count; ++k) {
        CurvePoint point{command.block[1 + 2 * k], command.block[2 + 2 * k]};
        if (!points.empty() && point.position < points.back().position)
            point.position = points.back().position;
        points.push_back(point);
    }
    return points.empty() ? FlatCurve() : points;
}

std::string BatchCommandName(uint32_t id) {
    const CommandSpec* spec = SpecOf(id);
    return spec ? spec->name : std::string();
}

std::string BatchCommandDescription(const BatchCommand& command, const SettingsStore& settings) {
    const CommandSpec* spec = SpecOf(command.id);
    if (spec == nullptr || spec->description == nullptr) return {};
    if (spec->record != RecordKind::None) return spec->description;
    const std::vector<int32_t> v = BatchCommandValues(command, settings);
    if (command.id == static_cast<uint32_t>(BatchCommandId::Compressor)) {
        const auto ratio = static_cast<uint32_t>(v[1]);
        if (ratio >= kRatioNames.size()) return {};
        return Format(spec->description, v[0], kRatioNames[ratio], v[2]);
    }
    if (v.size() == 2) return Format(spec->description, v[0], v[1]);
    return Format(spec->description, v[0]);
}

std::vector<BatchField> BatchCommandFields(uint32_t id) {
    std::vector<BatchField> fields;
    if (const CommandSpec* spec = SpecOf(id)) {
        for (size_t i = 0; i < FieldCount(*spec); ++i)
            fields.push_back({spec->fields[i].bytes, spec->fields[i].isSigned});
    }
    return fields;
}

bool BatchCommandTakesRecord(uint32_t id) {
    const CommandSpec* spec = SpecOf(id);
    return spec != nullptr && spec->record != RecordKind::None;
}

std::vector<uint8_t> EncodeBatchBlock(uint32_t id, const std::vector<int32_t>& values) {
    std::vector<uint8_t> block;
    const CommandSpec* spec = SpecOf(id);
    if (spec == nullptr) return block;
    for (size_t i = 0; i < FieldCount(*spec) && i < values.size(); ++i)
        AppendField(block, spec->fields[i], values[i]);
    return block;
}

std::vector<uint8_t> DefaultBatchBlock(uint32_t id, const SettingsStore& settings) {
    const CommandSpec* spec = SpecOf(id);
    if (spec == nullptr) return {};
    if (spec->record != RecordKind::None) return EncodeRecord(LoadCurveFile(RecordPath(spec->record)));
    return EncodeBatchBlock(id, BatchCommandValues(BatchCommand{id, {}}, settings));
}

ScriptReadResult ReadBatchScript(const std::string& path) {
    ScriptReadResult out;
    const std::optional<std::string> contents = ReadWholeFile(path);
    if (!contents) {
        out.error = ScriptReadError::CannotOpen;
        return out;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(contents->data());
    const size_t size = contents->size();
    if (size < 1 || bytes[0] != 0) {
        out.error = ScriptReadError::WrongVersion;
        return out;
    }
    // Reading ends where an id and length no longer fit; a block longer
    // than what is left means the file was cut, and a half-read list is not
    // offered as if it were the whole one.
    size_t at = 1;
    while (size - at >= 8) {
        BatchCommand command;
        command.id = ReadU32(bytes + at);
        const uint32_t length = ReadU32(bytes + at + 4);
        at += 8;
        if (length > size - at) {
            out.error = ScriptReadError::Damaged;
            out.commands.clear();
            return out;
        }
        command.block.assign(bytes + at, bytes + at + length);
        at += length;
        out.commands.push_back(std::move(command));
    }
    return out;
}

std::vector<uint8_t> EncodeBatchScript(const std::vector<BatchCommand>& commands) {
    std::vector<uint8_t> bytes{0};
    for (const BatchCommand& command : commands) {
        AppendU32(bytes, command.id);
        AppendU32(bytes, static_cast<uint32_t>(command.block.size()));
        bytes.insert(bytes.end(), command.block.begin(), command.block.end());
    }
    return bytes;
}

bool WriteBatchScript(const std::string& path, const std::vector<BatchCommand>& commands) {
    const std::vector<uint8_t> bytes = EncodeBatchScript(commands);
    return WriteFileAtomically(path,
                               std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

const std::vector<std::string>& BatchOutputFormats() {
    static const std::vector<std::string> formats = {".wav", ".mp3", ".au",   ".aiff", ".gsm", ".vox",
                                                     ".raw", ".ogg", ".flac", ".aac",  ".m4a", ".rss",
                                                     ".m3u", ".pls", ".wpl",  ".amr",  ""};
    return formats;
}

}  // namespace sonitor
