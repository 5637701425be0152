#include "formats/tags/Id3v2.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "formats/Endian.h"
#include "formats/tags/Genres.h"
#include "formats/tags/TagText.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr uint32_t kMaxSynchsafe = 0x0FFFFFFF;
// Real tags have a few dozen frames. The bounds keep a hostile tag of tiny
// frames from costing time and memory out of all proportion.
constexpr size_t kMaxFrames = 65536;
constexpr size_t kMaxKeys = 1024;

// Frame header flags, second byte.
constexpr uint8_t kV3Compressed = 0x80;
constexpr uint8_t kV3Encrypted = 0x40;
constexpr uint8_t kV3Grouped = 0x20;
constexpr uint8_t kV4Grouped = 0x40;
constexpr uint8_t kV4Compressed = 0x08;
constexpr uint8_t kV4Encrypted = 0x04;
constexpr uint8_t kV4Unsynchronised = 0x02;
constexpr uint8_t kV4DataLength = 0x01;
// First byte: the frame asks to be dropped when the tag is altered.
constexpr uint8_t kV3DropOnTagChange = 0x80;
constexpr uint8_t kV4DropOnTagChange = 0x40;

struct KeyFrame {
    std::string_view key;
    std::string_view frame;
};
constexpr KeyFrame kKeyFrames[] = {
    {kTagTitle, "TIT2"},   {kTagArtist, "TPE1"},      {kTagAlbum, "TALB"}, {kTagDate, "TYER"},
    {kTagComment, "COMM"}, {kTagTrackNumber, "TRCK"}, {kTagGenre, "TCON"},
};

// Version 2.2 frames that have a later form with the same data layout (and
// the picture frame, whose layout is converted).
struct OldId {
    std::string_view v22;
    std::string_view v23;
};
constexpr OldId kOldIds[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"}, {"EQU", "EQUA"},
    {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"PIC", "APIC"}, {"POP", "POPM"},
    {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"},
    {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCP", "TCMP"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"},
    {"TEN", "TENC"}, {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"},
    {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"},
    {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"},
    {"TRC", "TSRC"}, {"TRD", "TRDA"}, {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"},
    {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"},
    {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"},
    {"WPB", "WPUB"}, {"WXX", "WXXX"},
};

bool IsIdChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsFrameId(std::string_view id, size_t length) {
    return id.size() == length && std::all_of(id.begin(), id.end(), IsIdChar);
}

// The frame a key is written as; empty when it has none.
std::string FrameIdForKey(std::string_view key, uint8_t version) {
    if (key == kTagDate && version == 4) return "TDRC";
    for (const KeyFrame& kf : kKeyFrames) {
        if (kf.key == key) return std::string(kf.frame);
    }
    if (!IsFrameId(key, 4)) return std::string();
    // Only frames that hold one text, one URL or a comment can be made from
    // a value; the user-defined text frame needs a description we lack.
    if (key == "TXXX") return std::string();
    if (key[0] == 'T' || key[0] == 'W' || key == "COMM") return std::string(key);
    return std::string();
}

std::string KeyForFrame(std::string_view id, uint8_t version) {
    if (version == 4 && id == "TDRC") return std::string(kTagDate);
    if (version == 4 && id == "TYER") return std::string(id);
    for (const KeyFrame& kf : kKeyFrames) {
        if (kf.frame == id) return std::string(kf.key);
    }
    return std::string(id);
}

std::string Resynchronise(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        out += data[i];
        if (static_cast<uint8_t>(data[i]) == 0xFF && i + 1 < data.size() && data[i + 1] == '\0') ++i;
    }
    return out;
}

bool IsWideEncoding(uint8_t encoding) {
    return encoding == 1 || encoding == 2;
}

// Where the first string of an encoded text ends, and where the next begins.
struct StringSpan {
    size_t end;
    size_t next;
};
StringSpan FindTerminator(std::string_view data, uint8_t encoding) {
    if (IsWideEncoding(encoding)) {
        for (size_t i = 0; i + 1 < data.size(); i += 2) {
            if (data[i] == '\0' && data[i + 1] == '\0') return {i, i + 2};
        }
        return {data.size(), data.size()};
    }
    const size_t zero = data.find('\0');
    if (zero == std::string_view::npos) return {data.size(), data.size()};
    return {zero, zero + 1};
}

std::string DecodeString(std::string_view bytes, uint8_t encoding) {
    switch (encoding) {
        case 0:
            return Cp1252ToUtf8(bytes);
        case 3:
            return IsValidUtf8(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
        default: {
            // A byte-order mark decides; without one the text is big-endian,
            // as encoding 2 always is.
            bool bigEndian = true;
            if (bytes.size() >= 2) {
                const auto b0 = static_cast<uint8_t>(bytes[0]);
                const auto b1 = static_cast<uint8_t>(bytes[1]);
                if (b0 == 0xFF && b1 == 0xFE) {
                    bigEndian = false;
                    bytes.remove_prefix(2);
                } else if (b0 == 0xFE && b1 == 0xFF) {
                    bytes.remove_prefix(2);
                }
            }
            return Utf16ToUtf8(bytes, bigEndian);
        }
    }
}

// Takes the first string off data.
std::string TakeString(std::string_view& data, uint8_t encoding) {
    const StringSpan span = FindTerminator(data, encoding);
    std::string text = DecodeString(data.substr(0, span.end), encoding);
    data.remove_prefix(span.next);
    return text;
}

// What a frame's data says, when we understand it.
struct Reading {
    bool understood = false;
    std::string value;
    bool hasDescription = false;  // comments only
};

Reading ReadFrameData(std::string_view id, std::string_view data) {
    Reading r;
    if (id == "COMM") {
        if (data.size() < 4) return r;
        const auto encoding = static_cast<uint8_t>(data[0]);
        if (encoding > 3) return r;
        data.remove_prefix(4);  // encoding and language
        r.hasDescription = !TakeString(data, encoding).empty();
        r.value = TakeString(data, encoding);
        r.understood = true;
    } else if (id == "WXXX") {
        if (data.empty()) return r;
        const auto encoding = static_cast<uint8_t>(data[0]);
        if (encoding > 3) return r;
        data.remove_prefix(1);
        TakeString(data, encoding);
        r.value = TakeString(data, 0);  // the link itself is always ISO-8859-1
        r.understood = true;
    } else if (id[0] == 'W') {
        r.value = TakeString(data, 0);
        r.understood = true;
    } else if (id[0] == 'T' && id != "TXXX") {
        if (data.empty()) return r;
        const auto encoding = static_cast<uint8_t>(data[0]);
        if (encoding > 3) return r;
        data.remove_prefix(1);
        r.value = TakeString(data, encoding);
        if (id == "TCON") r.value = ResolveGenreText(r.value);
        r.understood = true;
    }
    r.value = CutTagValue(r.value);
    return r;
}

void AppendBE32(std::string& out, uint32_t v) {
    char b[4];
    StoreBE32(b, v);
    out.append(b, 4);
}

std::string FrameHeader(std::string_view id, size_t dataSize, uint8_t version, uint8_t flags0 = 0,
                        uint8_t flags1 = 0) {
    std::string out(id);
    if (version == 4) {
        AppendSynchsafe(out, static_cast<uint32_t>(dataSize));
    } else {
        AppendBE32(out, static_cast<uint32_t>(dataSize));
    }
    out += static_cast<char>(flags0);
    out += static_cast<char>(flags1);
    return out;
}

// A picture frame of version 2.2 (three-letter image format) in the later
// layout (MIME type); empty when it is too short to be one.
std::string ConvertOldPicture(std::string_view data) {
    if (data.size() < 5) return std::string();
    const std::string format = ToLowerAscii(data.substr(1, 3));
    std::string mime;
    if (format == "jpg") {
        mime = "image/jpeg";
    } else if (format == "-->") {
        mime = "-->";
    } else {
        mime = "image/" + format;
    }
    std::string out;
    out += data[0];
    out += mime;
    out += '\0';
    out.append(data.substr(4));
    return out;
}

// The frame's data in a tag that may need a size of its own kind: for
// version 2.4 a size whose bytes are not seven-bit, or one that does not
// land on the next frame when the plain 32-bit reading does (a known
// mistake of some writers), is read as a plain 32-bit number.
uint32_t FrameSizeV4(std::string_view body, size_t pos) {
    const std::string_view bytes = body.substr(pos + 4, 4);
    const uint32_t plain = LoadBE32(bytes.data());
    if ((plain & 0x80808080u) != 0) return plain;
    const uint32_t safe = DecodeSynchsafe(bytes);
    if (safe == plain) return safe;
    auto lands = [&](uint32_t size) {
        const size_t room = body.size() - pos - 10;
        if (size > room) return false;
        const size_t next = pos + 10 + size;
        if (next == body.size() || body[next] == '\0') return true;
        return body.size() - next >= 4 && IsFrameId(body.substr(next, 4), 4);
    };
    return !lands(safe) && lands(plain) ? plain : safe;
}

struct Candidate {
    size_t frameIndex;
    bool hasDescription;
};

}  // namespace

uint32_t DecodeSynchsafe(std::string_view fourBytes) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < fourBytes.size(); ++i)
        v = (v << 7) | (static_cast<uint8_t>(fourBytes[i]) & 0x7F);
    return v;
}

void AppendSynchsafe(std::string& out, uint32_t value) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out += static_cast<char>((value >> shift) & 0x7F);
}

std::optional<Id3v2Header> ParseId3v2Header(std::string_view bytes, std::string_view magic) {
    if (bytes.size() < Id3v2Header::kSize || bytes.substr(0, 3) != magic) return std::nullopt;
    Id3v2Header h;
    h.version = static_cast<uint8_t>(bytes[3]);
    h.revision = static_cast<uint8_t>(bytes[4]);
    h.flags = static_cast<uint8_t>(bytes[5]);
    if (h.version < 2 || h.version > 4 || h.revision == 0xFF) return std::nullopt;
    for (size_t i = 6; i < 10; ++i) {
        if (static_cast<uint8_t>(bytes[i]) >= 0x80) return std::nullopt;
    }
    h.size = DecodeSynchsafe(bytes.substr(6, 4));
    return h;
}

std::optional<Id3v2Tag> ParseId3v2(std::string_view bytes) {
    const auto header = ParseId3v2Header(bytes);
    if (!header) return std::nullopt;
    Id3v2Tag tag;
    tag.header = *header;
    const uint8_t version = header->version;
    const size_t end = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(bytes.size()), int64_t{Id3v2Header::kSize} + header->size));
    std::string_view body = bytes.substr(Id3v2Header::kSize, end - Id3v2Header::kSize);
    // Before 2.4 unsynchronisation covers the whole tag, frame headers too.
    std::string resynchronised;
    const bool unsynchronised = (header->flags & Id3v2Header::kUnsynchronised) != 0;
    if (unsynchronised && version < 4) {
        resynchronised = Resynchronise(body);
        body = resynchronised;
    }

    size_t pos = 0;
    if (header->flags & Id3v2Header::kExtendedHeader) {
        // In 2.2 this flag means a compressed tag, which nobody defined.
        if (version == 2 || body.size() < 4) return tag;
        const uint64_t extended = version == 3 ? uint64_t{LoadBE32(body.data())} + 4 : DecodeSynchsafe(body);
        if (extended < 6 || extended > body.size()) return tag;
        pos = static_cast<size_t>(extended);
    }

    const size_t headerSize = version == 2 ? 6 : 10;
    std::unordered_map<std::string, Candidate> chosen;  // per key
    while (body.size() - pos >= headerSize) {
        if (tag.frames.size() == kMaxFrames) {
            tag.complete = false;
            break;
        }
        if (body[pos] == '\0') break;  // padding
        const std::string_view fileId = body.substr(pos, version == 2 ? 3 : 4);
        if (!IsFrameId(fileId, fileId.size())) break;
        uint32_t size;
        if (version == 2) {
            size = LoadBE32(body.data() + pos + 2) & 0xFFFFFF;
        } else if (version == 3) {
            size = LoadBE32(body.data() + pos + 4);
        } else {
            size = FrameSizeV4(body, pos);
        }
        if (size > body.size() - pos - headerSize) break;
        const size_t at = pos;
        const std::string_view data = body.substr(at + headerSize, size);
        const std::string_view rawFrame = body.substr(at, headerSize + size);
        pos += headerSize + size;
        if (size == 0) continue;  // not a frame the format allows; nothing to keep

        Id3v2Frame frame;
        std::string_view content = data;  // what the frame's own flags leave of the data
        std::string contentStore;
        bool readable = true;
        if (version == 2) {
            frame.id = std::string(fileId);
            for (const OldId& old : kOldIds) {
                if (old.v22 == fileId) frame.id = std::string(old.v23);
            }
            if (frame.id.size() == 4) {
                const std::string newData = frame.id == "APIC" ? ConvertOldPicture(data) : std::string(data);
                if (!newData.empty()) frame.raw = FrameHeader(frame.id, newData.size(), 3) + newData;
            } else {
                readable = false;  // no later form: neither read nor carried over
            }
        } else {
            frame.id = std::string(fileId);
            frame.raw = std::string(rawFrame);
            const auto flags0 = static_cast<uint8_t>(body[at + 8]);
            const auto flags1 = static_cast<uint8_t>(body[at + 9]);
            size_t skip = 0;
            if (version == 3) {
                if (flags0 & kV3DropOnTagChange) frame.raw.clear();
                readable = (flags1 & (kV3Compressed | kV3Encrypted)) == 0;
                skip = (flags1 & kV3Grouped) ? 1 : 0;
            } else {
                if (flags0 & kV4DropOnTagChange) frame.raw.clear();
                readable = (flags1 & (kV4Compressed | kV4Encrypted)) == 0;
                skip = ((flags1 & kV4Grouped) ? 1 : 0) + ((flags1 & kV4DataLength) ? 4 : 0);
                const bool frameUnsynchronised = (flags1 & kV4Unsynchronised) || unsynchronised;
                if (unsynchronised && !(flags1 & kV4Unsynchronised) && !frame.raw.empty()) {
                    // Our tags have no tag-wide flag: the frame must say it.
                    frame.raw[9] = static_cast<char>(flags1 | kV4Unsynchronised);
                }
                if (readable && frameUnsynchronised) {
                    // Covers everything after the frame header, the group
                    // and length bytes included.
                    contentStore = Resynchronise(content);
                    content = contentStore;
                }
            }
            content = content.substr(std::min(skip, content.size()));
        }

        if (readable && frame.id.size() == 4) {
            Reading r = ReadFrameData(frame.id, content);
            if (r.understood) {
                const std::string key = KeyForFrame(frame.id, version == 4 ? 4 : 3);
                const auto it = chosen.find(key);
                if (it == chosen.end() && chosen.size() < kMaxKeys) {
                    chosen.emplace(key, Candidate{tag.frames.size(), r.hasDescription});
                    frame.key = key;
                    frame.value = std::move(r.value);
                } else if (it != chosen.end() && it->second.hasDescription && !r.hasDescription) {
                    Candidate& c = it->second;
                    // A plain comment wins over one that names a purpose
                    // (players keep their own data in those).
                    tag.frames[c.frameIndex].key.clear();
                    tag.frames[c.frameIndex].value.clear();
                    c = {tag.frames.size(), false};
                    frame.key = key;
                    frame.value = std::move(r.value);
                }
            }
        }
        tag.frames.push_back(std::move(frame));
    }
    return tag;
}

void Id3v2ToTags(const Id3v2Tag& tag, TagMap& tags) {
    for (const Id3v2Frame& frame : tag.frames) {
        if (!frame.key.empty()) tags.Set(frame.key, frame.value);
    }
}

bool Id3v2MatchesTags(const Id3v2Tag& tag, const TagMap& tags) {
    TagMap current;
    Id3v2ToTags(tag, current);
    for (const std::string_view key : kStandardTagKeys) {
        const std::string* wanted = tags.Find(key);
        if (wanted && *wanted != current.Get(key)) return false;
    }
    return true;
}

namespace {

std::string EncodedText(std::string_view text, uint8_t encoding) {
    if (encoding == 0) return Utf8ToLatin1(text).value_or(std::string());
    if (encoding == 1) return Utf8ToUtf16(text, false, true);
    return std::string(text);
}

std::string Terminator(uint8_t encoding) {
    return IsWideEncoding(encoding) ? std::string(2, '\0') : std::string(1, '\0');
}

std::string NewFrame(std::string_view key, std::string_view value, uint8_t version) {
    const std::string id = FrameIdForKey(key, version);
    if (id.empty()) return std::string();
    const uint8_t encoding = Utf8ToLatin1(value) ? 0 : (version == 4 ? 3 : 1);
    std::string data;
    if (id == "COMM") {
        data += static_cast<char>(encoding);
        data.append(3, '\0');  // no language
        data += EncodedText("", encoding) + Terminator(encoding);
        data += EncodedText(value, encoding) + Terminator(encoding);
    } else if (id == "WXXX") {
        data += '\0';
        data += '\0';  // no description
        data += Utf8ToCp1252(value);
        data += '\0';
    } else if (id[0] == 'W') {
        data = Utf8ToCp1252(value);
    } else {
        data += static_cast<char>(encoding);
        data += EncodedText(value, encoding) + Terminator(encoding);
    }
    return FrameHeader(id, data.size(), version) + data;
}

// True when a standard key of tags is written as this frame, so that an
// entry named by the frame id itself must give way.
bool StandardKeyOwnsFrame(const TagMap& tags, std::string_view id, uint8_t version) {
    for (const std::string_view key : kStandardTagKeys) {
        if (tags.Contains(key) && FrameIdForKey(key, version) == id) return true;
    }
    return false;
}

bool IsSingleTextFrame(std::string_view id) {
    return id.size() == 4 && id[0] == 'T' && id != "TXXX";
}

}  // namespace

std::optional<std::string> BuildId3v2(const TagMap& tags, const Id3v2Tag* old,
                                      const Id3v2BuildOptions& options) {
    const uint8_t version = options.version == 4 ? 4 : 3;
    std::string body;
    std::unordered_set<std::string> written;
    std::unordered_set<std::string> framesOfTags;
    for (const TagEntry& entry : tags.Entries())
        framesOfTags.insert(FrameIdForKey(entry.key, version));
    auto isWritten = [&](const std::string& key) { return written.count(key) != 0; };
    auto writesFrame = [&](const std::string& id) { return framesOfTags.count(id) != 0; };
    if (old) {
        for (const Id3v2Frame& frame : old->frames) {
            if (frame.key.empty()) {
                // A second copy of a text frame we write would shadow or
                // contradict the new value.
                if (IsSingleTextFrame(frame.id) && writesFrame(frame.id)) continue;
                body += frame.raw;
                continue;
            }
            const std::string* value = tags.Find(frame.key);
            if (!value) {
                body += frame.raw;
                continue;
            }
            written.insert(frame.key);
            if (value->empty()) continue;
            if (*value == frame.value && !frame.raw.empty()) {
                body += frame.raw;  // keeps what the value cannot hold: full text, encoding, flags
            } else {
                body += NewFrame(frame.key, *value, version);
            }
        }
    }
    for (const TagEntry& entry : tags.Entries()) {
        if (entry.value.empty() || isWritten(entry.key)) continue;
        if (!IsStandardTagKey(entry.key) && StandardKeyOwnsFrame(tags, entry.key, version)) continue;
        written.insert(entry.key);
        body += NewFrame(entry.key, entry.value, version);
    }

    const bool footer = options.footer && version == 4;
    const int64_t fixed = int64_t{Id3v2Header::kSize} * (footer ? 2 : 1);
    if (body.empty() && options.minSize <= fixed) return std::string();
    if (!footer && options.minSize > fixed + static_cast<int64_t>(body.size())) {
        body.append(static_cast<size_t>(options.minSize - fixed) - body.size(), '\0');
    }
    if (body.size() > kMaxSynchsafe) return std::nullopt;

    std::string tag = "ID3";
    tag += static_cast<char>(version);
    tag += '\0';
    tag += static_cast<char>(footer ? Id3v2Header::kFooter : 0);
    AppendSynchsafe(tag, static_cast<uint32_t>(body.size()));
    tag += body;
    if (footer) {
        std::string closing = tag.substr(0, Id3v2Header::kSize);
        closing.replace(0, 3, "3DI");
        tag += closing;
    }
    return tag;
}

}  // namespace sonitor
