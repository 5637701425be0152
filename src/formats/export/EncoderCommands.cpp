#include "formats/export/EncoderCommands.h"

#include <algorithm>

#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

int ReadClamped(const SettingsStore& store, const char* section, const char* key, int defaultValue, int low,
                int high) {
    return std::clamp(store.ReadInt(section, key, defaultValue), low, high);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Number(long long value) {
    return std::to_string(value);
}

// The encoders read at most two channels; more are mixed down by the copy.
int FedChannels(int channels) {
    return std::clamp(channels, 1, 2);
}

// What ffmpeg needs to read our PCM from its standard input.
std::vector<std::string> FfmpegInput(const std::string& program, int32_t rate, int channels) {
    return {program, "-nostdin",   "-v",  "error",          "-y", "-f",    "s16le",
            "-ar",   Number(rate), "-ac", Number(channels), "-i", "pipe:0"};
}

// Bitrate ceiling, in kbps, that makes sense for the amount of PCM.
int BitRateCeiling(int channels, int32_t rate) {
    return static_cast<int>(channels * rate * 0.0045);
}

}  // namespace

Mp3EncoderSettings LoadMp3EncoderSettings(const SettingsStore& store) {
    const char* s = kMp3EncoderSection;
    Mp3EncoderSettings m;
    m.constantBitRate = store.ReadBool(s, "ConstantBitRate", true);
    m.cbrBitRate = static_cast<uint16_t>(ReadClamped(store, s, "CBRBitRate", 128, 8, 320));
    m.highQuality = store.ReadBool(s, "HighQuality", true);
    m.vbrMinBitRate = static_cast<uint16_t>(ReadClamped(store, s, "VBRMinBitRate", 32, 8, 320));
    m.vbrMaxBitRate = static_cast<uint16_t>(ReadClamped(store, s, "VBRMaxBitRate", 128, 8, 320));
    m.vbrQuality = static_cast<uint8_t>(ReadClamped(store, s, "VBRQuality", 4, 0, 9));
    m.errorProtection = store.ReadBool(s, "ErrorProtection", false);
    const int mode = store.ReadInt(s, "ChannelMode", 1);
    m.channelMode = static_cast<uint8_t>(mode < 0 || mode > 3 ? 1 : mode);
    // Above 160 kbps the encoder cannot go below 32.
    if (m.vbrMaxBitRate > 160 && m.vbrMinBitRate < 32) m.vbrMinBitRate = 32;
    return m;
}

OggEncoderSettings LoadOggEncoderSettings(const SettingsStore& store) {
    const char* s = kOggEncoderSection;
    OggEncoderSettings o;
    o.qualityMode = store.ReadBool(s, "Quality", true);
    o.vbrQuality = static_cast<uint8_t>(ReadClamped(store, s, "VBRQuality", 4, 0, 10));
    o.vbrMinBitRate = static_cast<uint16_t>(ReadClamped(store, s, "VBRMinBitRate", 96, 8, 500));
    o.vbrMaxBitRate = static_cast<uint16_t>(ReadClamped(store, s, "VBRMaxBitRate", 128, 8, 500));
    o.channels = static_cast<uint8_t>(ReadClamped(store, s, "Channels", 1, 1, 2));
    o.stripComments = store.ReadBool(s, "StripComments", false);
    return o;
}

FlacEncoderSettings LoadFlacEncoderSettings(const SettingsStore& store) {
    const char* s = kFlacEncoderSection;
    FlacEncoderSettings f;
    f.compression = static_cast<uint8_t>(ReadClamped(store, s, "Compression", 4, 0, 8));
    f.channels = static_cast<uint8_t>(ReadClamped(store, s, "Channels", 1, 1, 2));
    // flac takes 1..655350 Hz; nonsense falls back to the default.
    const int rate = store.ReadInt(s, "SampleRate", 44100);
    f.sampleRate = static_cast<uint32_t>(rate >= 1 && rate <= 655350 ? rate : 44100);
    return f;
}

AacEncoderSettings LoadAacEncoderSettings(const SettingsStore& store) {
    const char* s = kAacEncoderSection;
    AacEncoderSettings a;
    a.averageBitRate = store.ReadBool(s, "AverageBitRate", false);
    a.abrBitRate = static_cast<uint16_t>(ReadClamped(store, s, "ABRBitRate", 128, 8, 512));
    a.vbrQuality = static_cast<uint16_t>(ReadClamped(store, s, "VBRQuality", 100, 10, 500));
    a.forceMpeg2 = store.ReadBool(s, "ForceMPEG2", false);
    a.disableTns = store.ReadBool(s, "DisableTNS", false);
    return a;
}

AmrEncoderSettings LoadAmrEncoderSettings(const SettingsStore& store) {
    const int index = store.ReadInt(kAmrEncoderSection, "ModeRateSelection", 4);
    AmrEncoderSettings a;
    a.modeRateSelection = static_cast<uint8_t>(index >= 0 && index < 8 ? index : 4);
    return a;
}

bool StoreMp3EncoderSettings(const SettingsStore& store, const Mp3EncoderSettings& m) {
    const char* s = kMp3EncoderSection;
    bool ok = store.WriteBool(s, "ConstantBitRate", m.constantBitRate);
    ok &= store.WriteInt(s, "CBRBitRate", m.cbrBitRate);
    ok &= store.WriteBool(s, "HighQuality", m.highQuality);
    ok &= store.WriteInt(s, "VBRMinBitRate", m.vbrMinBitRate);
    ok &= store.WriteInt(s, "VBRMaxBitRate", m.vbrMaxBitRate);
    ok &= store.WriteInt(s, "VBRQuality", m.vbrQuality);
    ok &= store.WriteBool(s, "ErrorProtection", m.errorProtection);
    ok &= store.WriteInt(s, "ChannelMode", m.channelMode);
    return ok;
}

bool StoreOggEncoderSettings(const SettingsStore& store, const OggEncoderSettings& o) {
    const char* s = kOggEncoderSection;
    bool ok = store.WriteBool(s, "Quality", o.qualityMode);
    ok &= store.WriteInt(s, "VBRQuality", o.vbrQuality);
    ok &= store.WriteInt(s, "VBRMinBitRate", o.vbrMinBitRate);
    ok &= store.WriteInt(s, "VBRMaxBitRate", o.vbrMaxBitRate);
    ok &= store.WriteInt(s, "Channels", o.channels);
    ok &= store.WriteBool(s, "StripComments", o.stripComments);
    return ok;
}

bool StoreFlacEncoderSettings(const SettingsStore& store, const FlacEncoderSettings& f) {
    const char* s = kFlacEncoderSection;
    bool ok = store.WriteInt(s, "Compression", f.compression);
    ok &= store.WriteInt(s, "Channels", f.channels);
    ok &= store.WriteInt(s, "SampleRate", static_cast<int>(f.sampleRate));
    return ok;
}

bool StoreAacEncoderSettings(const SettingsStore& store, const AacEncoderSettings& a) {
    const char* s = kAacEncoderSection;
    bool ok = store.WriteBool(s, "AverageBitRate", a.averageBitRate);
    ok &= store.WriteInt(s, "ABRBitRate", a.abrBitRate);
    ok &= store.WriteInt(s, "VBRQuality", a.vbrQuality);
    ok &= store.WriteBool(s, "ForceMPEG2", a.forceMpeg2);
    ok &= store.WriteBool(s, "DisableTNS", a.disableTns);
    return ok;
}

bool StoreAmrEncoderSettings(const SettingsStore& store, const AmrEncoderSettings& a) {
    return store.WriteInt(kAmrEncoderSection, "ModeRateSelection", a.modeRateSelection);
}

const ExternalDecoder& EncoderComponent(EncoderKind kind) {
    static const ExternalDecoder mp3{"mp3el", "lame", "lame", "Encoding MP3 file", DecoderKind::Ffmpeg};
    static const ExternalDecoder ogg{"oggenc", "oggenc", "vorbis-tools", "Encoding Ogg file",
                                     DecoderKind::Ffmpeg};
    static const ExternalDecoder flac{"flacenc", "flac", "flac", "Encoding FLAC file", DecoderKind::Ffmpeg};
    static const ExternalDecoder aac{"aacenc", "ffmpeg", "ffmpeg", "Encoding AAC file", DecoderKind::Ffmpeg};
    static const ExternalDecoder amr{"amrenc", "ffmpeg", "ffmpeg", "Encoding AMR file", DecoderKind::Ffmpeg};
    switch (kind) {
        case EncoderKind::Mp3:
            return mp3;
        case EncoderKind::Ogg:
            return ogg;
        case EncoderKind::Flac:
            return flac;
        case EncoderKind::Aac:
        case EncoderKind::M4a:
            return aac;
        case EncoderKind::Amr:
            break;
    }
    return amr;
}

int32_t Mp3EncodingRate(int32_t documentRate, int minBitRate, int maxBitRate) {
    int32_t r = std::min(documentRate, 48000);
    if (maxBitRate > 160 && documentRate < 32000) {
        r = 44100;
    } else if (minBitRate < 32 && r > 22050) {
        r = 22050;
    }
    // MPEG audio knows only these rates; others go to the nearest one the
    // bitrate allows, rounding up except above 44100.
    if (r > 44100 && r < 48000) return 44100;
    if (r > 32000 && r < 44100) return 44100;
    if (r > 24000 && r < 32000) return 32000;
    if (r > 22050 && r < 24000) return 22050;
    if (r > 16000 && r < 22050) return 22050;
    if (r > 11025 && r < 16000) return 11025;
    if (r > 8000 && r < 11025) return 11025;
    if (r < 8000) return 8000;
    return r;
}

EncoderPlan PlanMp3Encoder(const std::string& program, const Mp3EncoderSettings& s, int32_t rate,
                           int channels, const std::string& output) {
    const int minRate = s.constantBitRate ? s.cbrBitRate : s.vbrMinBitRate;
    const int maxRate = s.constantBitRate ? s.cbrBitRate : s.vbrMaxBitRate;
    EncoderPlan plan;
    plan.sampleRate = Mp3EncodingRate(rate, minRate, maxRate);
    plan.channels = minRate < 24 ? 1 : FedChannels(channels);
    static constexpr char kLetters[] = "sjfm";
    char mode = kLetters[s.channelMode > 3 ? 1 : s.channelMode];
    if (maxRate < 24 || plan.channels == 1) mode = 'm';
    const std::string letter(1, mode);
    const std::string kHz = Format("%d.%.3d", plan.sampleRate / 1000, plan.sampleRate % 1000);

    std::string& t = plan.commandText;
    // lame reads little-endian raw PCM as we write it, so the classic byte
    // swap (-x) has no counterpart; -a makes it read stereo and mix to mono;
    // --quiet also keeps its banner off our progress display.
    std::vector<std::string>& a = plan.arguments;
    t = Quoted(program);
    a = {program, "-r", "--little-endian", "--signed", "--bitwidth", "16", "-s", kHz};
    if (mode == 'm' && plan.channels == 2) {
        t += " -a";
        a.push_back("-a");
    }
    t += " -m " + letter;
    a.insert(a.end(), {"-m", letter});
    if (s.errorProtection) {
        t += " -p";
        a.push_back("-p");
    }
    if (!s.constantBitRate) {
        t += Format(" -v -b %d -B %d -V %d", s.vbrMinBitRate, s.vbrMaxBitRate, s.vbrQuality);
        a.insert(a.end(), {"-v", "-b", Number(s.vbrMinBitRate), "-B", Number(s.vbrMaxBitRate), "-V",
                           Number(s.vbrQuality)});
    } else {
        t += Format(" -b %d", s.cbrBitRate);
        a.insert(a.end(), {"-b", Number(s.cbrBitRate)});
        if (s.highQuality) {
            t += " -h";
            a.push_back("-h");
        }
    }
    t += " -r -x -s " + kHz + " -S - " + Quoted(output);
    // lame would pick its own output rate for low bitrates; the file gets
    // the rate we feed.
    a.insert(a.end(), {"--resample", kHz, "--quiet", "-", output});
    return plan;
}

EncoderPlan PlanOggEncoder(const std::string& program, const OggEncoderSettings& s, int32_t rate,
                           int channels, const std::string& output) {
    EncoderPlan plan;
    plan.sampleRate = rate;
    plan.channels = FedChannels(channels);
    const int c = std::clamp<int>(s.channels, 1, 2);
    std::string& t = plan.commandText;
    std::vector<std::string>& a = plan.arguments;
    t = Quoted(program) + Format(" -C %d -R %d", plan.channels, rate);
    a = {program, "-r", "-B", "16", "--raw-endianness", "0", "-C", Number(plan.channels), "-R", Number(rate)};
    if (plan.channels == 2 && c == 1) {
        t += " --downmix";
        a.push_back("--downmix");
    }
    if (s.qualityMode) {
        t += Format(" -q %d", s.vbrQuality);
        a.insert(a.end(), {"-q", Number(s.vbrQuality)});
    } else {
        const int maxRate = std::min<int>(s.vbrMaxBitRate, BitRateCeiling(std::min(c, plan.channels), rate));
        const int minRate = std::min<int>(s.vbrMinBitRate, maxRate);
        t += Format(" -m %d -M %d", minRate, maxRate);
        a.insert(a.end(), {"-m", Number(minRate), "-M", Number(maxRate)});
    }
    if (s.stripComments) {
        t += " --discard-comments";
        a.push_back("--discard-comments");
    }
    t += " -Q - -o " + Quoted(output);
    a.insert(a.end(), {"-Q", "-o", output, "-"});
    return plan;
}

EncoderPlan PlanFlacEncoder(const std::string& program, const FlacEncoderSettings& s,
                            const std::string& output) {
    EncoderPlan plan;
    plan.sampleRate = static_cast<int32_t>(s.sampleRate);
    plan.channels = std::clamp<int>(s.channels, 1, 2);
    const int level = std::clamp<int>(s.compression, 0, 8);
    const std::string channelsOption = Format("--channels=%d", plan.channels);
    const std::string rateOption = Format("--sample-rate=%d", plan.sampleRate);
    const std::string levelOption = Format("--compression-level-%d", level);
    plan.commandText = Quoted(program) + " " + channelsOption + " " + rateOption + " " + levelOption +
                       " --endian=little --bps=16 --sign=signed -f - -o " + Quoted(output);
    plan.arguments = {
        program,    "--force-raw-format", channelsOption, rateOption, levelOption, "--endian=little",
        "--bps=16", "--sign=signed",      "-f",           "-s",       "-o",        output,
        "-"};
    return plan;
}

EncoderPlan PlanAacEncoder(const std::string& program, const AacEncoderSettings& s, int32_t rate,
                           int channels, bool m4a, const std::string& output) {
    EncoderPlan plan;
    plan.sampleRate = rate;
    plan.channels = FedChannels(channels);
    std::string& t = plan.commandText;
    std::vector<std::string>& a = plan.arguments;
    t = Quoted(program) + Format(" -C %d -R %d", plan.channels, rate);
    a = FfmpegInput(program, rate, plan.channels);
    a.insert(a.end(), {"-c:a", "aac"});
    if (s.averageBitRate) {
        const int bitRate = std::min<int>(s.abrBitRate, BitRateCeiling(plan.channels, rate));
        t += Format(" -b %d", bitRate);
        a.insert(a.end(), {"-b:a", Format("%dk", bitRate)});
    } else {
        // ffmpeg's quality scale runs from 0.1 to 2; 100 percent is 1.
        const double q = std::clamp(s.vbrQuality / 100.0, 0.1, 2.0);
        t += Format(" -q %d", s.vbrQuality);
        a.insert(a.end(), {"-q:a", Format("%.2f", q)});
    }
    // ffmpeg has no switch for the MPEG-2 stream id; the flag only shows in
    // the command text.
    if (s.forceMpeg2) t += " --mpeg-vers 2";
    if (s.disableTns) {
        t += " --no-tns";
        a.insert(a.end(), {"-aac_tns", "0"});
    }
    t += " -X - -o " + Quoted(output);
    // "file:" keeps a ':' in the name from being read as a protocol.
    a.insert(a.end(), {"-f", m4a ? "ipod" : "adts", "file:" + output});
    return plan;
}

EncoderPlan PlanAmrEncoder(const std::string& program, const AmrEncoderSettings& s,
                           const std::string& output) {
    const size_t index = s.modeRateSelection < kAmrModes.size() ? s.modeRateSelection : 4;
    EncoderPlan plan;
    plan.sampleRate = 8000;
    plan.channels = 1;
    plan.commandText = Quoted(program) + " " + kAmrModes[index] + " - " + Quoted(output);
    plan.arguments = FfmpegInput(program, 8000, 1);
    plan.arguments.insert(plan.arguments.end(), {"-c:a", "libopencore_amrnb", "-b:a",
                                                 Number(kAmrBitRates[index]), "-f", "amr", "file:" + output});
    return plan;
}

EncoderPlan PlanEncoder(EncoderKind kind, const std::string& program, const SettingsStore& store,
                        int32_t rate, int channels, const std::string& output) {
    switch (kind) {
        case EncoderKind::Mp3:
            return PlanMp3Encoder(program, LoadMp3EncoderSettings(store), rate, channels, output);
        case EncoderKind::Ogg:
            return PlanOggEncoder(program, LoadOggEncoderSettings(store), rate, channels, output);
        case EncoderKind::Flac:
            return PlanFlacEncoder(program, LoadFlacEncoderSettings(store), output);
        case EncoderKind::Aac:
        case EncoderKind::M4a:
            return PlanAacEncoder(program, LoadAacEncoderSettings(store), rate, channels,
                                  kind == EncoderKind::M4a, output);
        case EncoderKind::Amr:
            break;
    }
    return PlanAmrEncoder(program, LoadAmrEncoderSettings(store), output);
}

}  // namespace sonitor
