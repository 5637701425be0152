#include "formats/tags/RiffInfo.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "formats/Endian.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr int kOpenBudgetMs = 1000;
// Blocks stepped over before the RIFF header; real files have one or two.
constexpr int kMaxLeadingBlocks = 4096;
// Chunks walked in one run; real files have a handful. A hostile file of
// millions of tiny chunks ends the walk instead of taking minutes.
constexpr int kMaxChunks = 65536;
// A value is at most 259 bytes; more is read only to find where it ends.
constexpr size_t kMaxTextRead = 2048;
constexpr uint32_t kDispText = 1;  // the clipboard's plain-text format
constexpr std::string_view kBlank = "    ";

struct InfoId {
    std::string_view key;
    std::string_view id;
};
// Read ids; every one but the title's is also what we write.
constexpr InfoId kInfoIds[] = {
    {kTagTitle, "IPRD"},   {kTagArtist, "IART"},      {kTagAlbum, "INAM"}, {kTagDate, "ICOP"},
    {kTagComment, "ICMT"}, {kTagTrackNumber, "ITRK"}, {kTagGenre, "IGNR"},
};

std::string_view KeyForInfoId(std::string_view id) {
    for (const InfoId& info : kInfoIds) {
        if (info.id == id) return info.key;
    }
    return {};
}

std::string_view InfoIdForKey(std::string_view key) {
    if (key == kTagTitle) return {};
    for (const InfoId& info : kInfoIds) {
        if (info.key == key) return info.id;
    }
    return {};
}

struct Chunk {
    int64_t offset = 0;
    std::string id;
    uint32_t size = 0;

    int64_t DataOffset() const { return offset + 8; }
    int64_t End() const { return offset + 8 + size; }
};

bool ReadChunkHeader(int fd, int64_t offset, Chunk& chunk) {
    char header[8];
    if (ReadAt(fd, header, 8, offset) != 8) return false;
    chunk.offset = offset;
    chunk.id.assign(header, 4);
    chunk.size = LoadLE32(header + 4);
    return true;
}

std::optional<uint32_t> ReadLE32At(int fd, int64_t offset) {
    char b[4];
    if (ReadAt(fd, b, 4, offset) != 4) return std::nullopt;
    return LoadLE32(b);
}

// The offset of the RIFF/WAVE header.
std::optional<int64_t> FindRiffForm(int fd) {
    int64_t pos = 0;
    for (int step = 0; step < kMaxLeadingBlocks; ++step) {
        char header[12];
        if (ReadAt(fd, header, 12, pos) != 12) return std::nullopt;
        if (std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0) return pos;
        const int64_t size = (int64_t{LoadLE32(header + 4)} + 1) & ~int64_t{1};
        if (size <= 4) return std::nullopt;
        pos += 8 + size;
    }
    return std::nullopt;
}

// How a walk over a run of chunks ended: clean when the last chunk ends at
// the end of its container, missing at most its pad byte.
struct WalkEnd {
    int64_t pos = 0;
    bool clean = false;
    bool padMissing = false;
};

// Calls visit for every whole chunk in [begin, end); a chunk that claims to
// run past end stops the walk.
template <typename Visit>
WalkEnd WalkChunks(int fd, int64_t begin, int64_t end, Visit&& visit) {
    int64_t pos = begin;
    Chunk chunk;
    for (int count = 0; end - pos >= 8 && ReadChunkHeader(fd, pos, chunk); ++count) {
        if (chunk.End() > end || count == kMaxChunks) return WalkEnd{pos, false, false};
        visit(chunk);
        pos = chunk.End() + (chunk.size & 1);
    }
    if (pos == end) return WalkEnd{pos, true, false};
    if (pos == end + 1) return WalkEnd{end, true, true};
    return WalkEnd{pos, false, false};
}

// The text of a chunk's data: up to its first zero byte, taken as UTF-8
// when valid, else as code page 1252.
std::string ReadText(int fd, int64_t offset, uint32_t size) {
    const size_t want = std::min<size_t>(size, kMaxTextRead);
    std::string bytes(want, '\0');
    const int64_t got = ReadAt(fd, bytes.data(), want, offset);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) {
        bytes.resize(zero);
    } else if (want < size) {
        // Cut short by us: do not leave half a character at the end.
        bytes = BoundedCopy(bytes, want - 8);
    }
    return AnsiToUtf8(bytes);
}

bool IsListOfType(int fd, const Chunk& chunk, std::string_view type) {
    if (chunk.id != "LIST" || chunk.size < 4) return false;
    char b[4];
    return ReadAt(fd, b, 4, chunk.DataOffset()) == 4 && std::string_view(b, 4) == type;
}

bool IsTextDisp(int fd, const Chunk& chunk) {
    if (chunk.id != "DISP") return false;
    if (chunk.size < 4) return true;  // no room for a type: broken, ours to clear
    const auto type = ReadLE32At(fd, chunk.DataOffset());
    return type && *type == kDispText;
}

bool WriteAt(int fd, std::string_view data, int64_t offset) {
    return WriteAllAt(fd, data.data(), data.size(), offset);
}

void AppendLE32(std::string& out, uint32_t v) {
    char b[4];
    StoreLE32(b, v);
    out.append(b, 4);
}

// A chunk with its pad byte.
std::string MakeChunk(std::string_view id, std::string_view data) {
    std::string out(id);
    AppendLE32(out, static_cast<uint32_t>(data.size()));
    out += data;
    if (data.size() & 1) out += '\0';
    return out;
}

// The text as stored: up to a zero byte, with one added.
std::string StoredText(std::string_view value) {
    std::string text(value.substr(0, value.find('\0')));
    text += '\0';
    return text;
}

struct Pending {
    std::string_view id;
    std::string text;  // with its zero byte
    bool written = false;
};

struct Slot {
    int64_t offset;
    uint32_t size;
    bool used;
};

}  // namespace

bool ReadWavTags(const std::string& path, TagMap& tags) {
    const UniqueFd fd = OpenFileWithRetry(path, FileAccess::Read, FileShare::ReadWrite,
                                          FileDisposition::OpenExisting, kOpenBudgetMs);
    if (!fd) return false;
    const auto fileSize = FileSize(fd.Get());
    const auto form = FindRiffForm(fd.Get());
    if (!fileSize || !form) return false;
    const int file = fd.Get();
    WalkChunks(file, *form + 12, *fileSize, [&](const Chunk& chunk) {
        if (IsListOfType(file, chunk, "INFO")) {
            WalkChunks(file, chunk.DataOffset() + 4, chunk.End(), [&](const Chunk& item) {
                const std::string_view key = KeyForInfoId(item.id);
                if (!key.empty())
                    tags.Set(key, ReadText(file, item.DataOffset(), item.size), TagSetMode::FillOnly);
            });
        } else if (chunk.id == "DISP" && chunk.size > 4 && IsTextDisp(file, chunk)) {
            tags.Set(kTagTitle, ReadText(file, chunk.DataOffset() + 4, chunk.size - 4), TagSetMode::FillOnly);
        }
    });
    return true;
}

bool WriteWavTags(const std::string& path, const TagMap& tags) {
    const UniqueFd fd = OpenFileWithRetry(path, FileAccess::ReadWrite, FileShare::ReadWrite,
                                          FileDisposition::OpenExisting, kOpenBudgetMs);
    if (!fd) return false;
    const int file = fd.Get();
    const auto fileSize = FileSize(file);
    const auto form = FindRiffForm(file);
    if (!fileSize || !form) return false;

    std::vector<Pending> pending;
    for (const TagEntry& entry : tags.Entries()) {
        const std::string_view id = InfoIdForKey(entry.key);
        if (!id.empty() && !entry.value.empty())
            pending.push_back(Pending{id, StoredText(entry.value), false});
    }
    std::string disp;
    if (const std::string title = tags.Get(kTagTitle); !title.empty()) {
        std::string data;
        AppendLE32(data, kDispText);
        data += StoredText(title);
        disp = MakeChunk("DISP", data);
    }
    const uint32_t dispSize = disp.empty() ? 0 : LoadLE32(disp.data() + 4);
    bool dispWritten = disp.empty();

    // Plan every change first, so that a file we cannot append to is left
    // exactly as it was.
    std::vector<std::pair<int64_t, std::string>> edits;
    const WalkEnd walk = WalkChunks(file, *form + 12, *fileSize, [&](const Chunk& chunk) {
        if (IsListOfType(file, chunk, "INFO")) {
            std::vector<Slot> slots;
            WalkChunks(file, chunk.DataOffset() + 4, chunk.End(), [&](const Chunk& item) {
                const bool ours = !KeyForInfoId(item.id).empty();
                if (!ours && item.id != kBlank) return;
                if (ours) edits.emplace_back(item.offset, std::string(kBlank));
                slots.push_back(Slot{item.offset, item.size, false});
            });
            for (Pending& p : pending) {
                if (p.written) continue;
                for (Slot& slot : slots) {
                    if (slot.used || slot.size != p.text.size()) continue;
                    std::string item(p.id);
                    AppendLE32(item, slot.size);
                    edits.emplace_back(slot.offset, item + p.text);
                    slot.used = p.written = true;
                    break;
                }
            }
        } else if (chunk.id == kBlank || IsTextDisp(file, chunk)) {
            if (!dispWritten && chunk.size == dispSize) {
                // Same size, same pad byte: the chunk is replaced whole.
                edits.emplace_back(chunk.offset, disp.substr(0, 8 + dispSize));
                dispWritten = true;
            } else if (chunk.id != kBlank) {
                edits.emplace_back(chunk.offset, std::string(kBlank));
            }
        }
    });

    std::string appendix;
    std::string info = "INFO";
    for (const Pending& p : pending) {
        if (!p.written) info += MakeChunk(p.id, p.text);
    }
    if (info.size() > 4) appendix += MakeChunk("LIST", info);
    if (!dispWritten) appendix += disp;
    if (!appendix.empty()) {
        if (!walk.clean) return false;
        if (walk.padMissing) appendix.insert(appendix.begin(), '\0');
        const int64_t newFormSize = *fileSize + static_cast<int64_t>(appendix.size()) - *form - 8;
        if (newFormSize > int64_t{UINT32_MAX}) return false;
        std::string riffSize;
        AppendLE32(riffSize, static_cast<uint32_t>(newFormSize));
        // The new chunks go first and the header last: until then readers
        // still see the old form whole.
        if (!WriteAt(file, appendix, *fileSize) || !WriteAt(file, riffSize, *form + 4)) return false;
    }
    for (const auto& [offset, bytes] : edits) {
        if (!WriteAt(file, bytes, offset)) return false;
    }
    return true;
}

}  // namespace sonitor
