#include "formats/tags/Mp3Tags.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/tags/Id3v1.h"
#include "foundation/FileUtil.h"
#include "foundation/Paths.h"

namespace sonitor {

namespace {

constexpr int kOpenBudgetMs = 1000;
constexpr int64_t kV1Size = static_cast<int64_t>(kId3v1Size);

bool ReadExactly(int fd, std::string& out, size_t size, int64_t offset) {
    out.assign(size, '\0');
    return ReadAt(fd, out.data(), size, offset) == static_cast<int64_t>(size);
}

bool WriteAt(int fd, std::string_view data, int64_t offset) {
    return WriteAllAt(fd, data.data(), data.size(), offset);
}

// True when the last 128 bytes are an ID3v1 block that lies after the
// ID3v2 tag (a tiny file that is all ID3v2 tag has none).
bool HasId3v1(int fd, int64_t fileSize, int64_t notBefore, std::string& block) {
    if (fileSize - kV1Size < notBefore) return false;
    return ReadExactly(fd, block, kId3v1Size, fileSize - kV1Size) && IsId3v1Block(block);
}

// A start tag whose size runs past the end of the file is damaged; we read
// what it holds but never treat the file's bytes as its room.
bool FitsInFile(const Id3v2Location& location, int64_t fileSize) {
    return location.End() <= fileSize;
}

std::optional<Id3v2Tag> ReadTag(int fd, const Id3v2Location& location, int64_t fileSize) {
    const int64_t available = std::min(location.header.TagSize(), fileSize - location.offset);
    std::string bytes;
    if (available <= 0 || !ReadExactly(fd, bytes, static_cast<size_t>(available), location.offset))
        return std::nullopt;
    return ParseId3v2(bytes);
}

// Writes prefix and then the bytes [from, to) of fd into a new file beside
// path and renames it over path. The original is never changed; on any
// failure the temporary file is removed.
bool ReplaceFileWithPrefix(int fd, const std::string& path, std::string_view prefix, int64_t from,
                           int64_t to) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    // Replace the file a link points to, not the link.
    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        ::free(real);
    }
    std::string temp = JoinPath(DirectoryPart(target), "." + FileNamePart(target) + ".tags-XXXXXX");
    UniqueFd out(::mkostemp(temp.data(), O_CLOEXEC));
    if (!out) return false;
    bool ok =
        ::fchmod(out.Get(), st.st_mode & 07777) == 0 && WriteAll(out.Get(), prefix.data(), prefix.size());
    std::vector<char> buffer(1 << 20);
    for (int64_t pos = from; ok && pos < to;) {
        const size_t want =
            static_cast<size_t>(std::min<int64_t>(to - pos, static_cast<int64_t>(buffer.size())));
        const int64_t got = ReadAt(fd, buffer.data(), want, pos);
        // A short read means the file shrank under us: stop rather than
        // replace it with a partial copy.
        ok = got == static_cast<int64_t>(want) && WriteAll(out.Get(), buffer.data(), want);
        pos += static_cast<int64_t>(want);
    }
    ok = ok && ::fsync(out.Get()) == 0;
    const int closed = ::close(out.Release());
    ok = ok && closed == 0 && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool NeedsId3v2(const TagMap& tags, const std::optional<Id3v2Tag>& old) {
    for (const TagEntry& entry : tags.Entries()) {
        if (!IsStandardTagKey(entry.key)) return true;
    }
    return old && !Id3v2MatchesTags(*old, tags);
}

}  // namespace

std::optional<Id3v2Location> LocateId3v2(int fd, int64_t fileSize) {
    std::string bytes;
    if (fileSize >= static_cast<int64_t>(Id3v2Header::kSize) &&
        ReadExactly(fd, bytes, Id3v2Header::kSize, 0)) {
        if (const auto header = ParseId3v2Header(bytes)) return Id3v2Location{0, *header, false};
    }
    std::string block;
    int64_t ends[2] = {fileSize, -1};
    if (HasId3v1(fd, fileSize, 0, block)) ends[1] = fileSize - kV1Size;
    for (const int64_t end : ends) {
        if (end < 2 * static_cast<int64_t>(Id3v2Header::kSize)) continue;
        if (!ReadExactly(fd, bytes, Id3v2Header::kSize, end - static_cast<int64_t>(Id3v2Header::kSize)))
            continue;
        const auto footer = ParseId3v2Header(bytes, "3DI");
        if (!footer || !footer->HasFooter()) continue;
        const int64_t start = end - footer->TagSize();
        if (start < 0 || !ReadExactly(fd, bytes, Id3v2Header::kSize, start)) continue;
        const auto header = ParseId3v2Header(bytes);
        if (header && header->version == footer->version && header->size == footer->size &&
            header->HasFooter())
            return Id3v2Location{start, *header, true};
    }
    return std::nullopt;
}

bool ReadMp3Tags(const std::string& path, TagMap& tags) {
    const UniqueFd fd = OpenFileWithRetry(path, FileAccess::Read, FileShare::ReadWrite,
                                          FileDisposition::OpenExisting, kOpenBudgetMs);
    if (!fd) return false;
    const auto fileSize = FileSize(fd.Get());
    if (!fileSize) return false;
    const auto location = LocateId3v2(fd.Get(), *fileSize);
    int64_t tagEnd = 0;
    if (location) {
        if (const auto tag = ReadTag(fd.Get(), *location, *fileSize)) Id3v2ToTags(*tag, tags);
        tagEnd = std::min(location->End(), *fileSize);
    }
    std::string block;
    if (HasId3v1(fd.Get(), *fileSize, tagEnd, block)) ReadId3v1(block, tags);
    return true;
}

bool WriteMp3Tags(const std::string& path, const TagMap& tags) {
    const UniqueFd fd = OpenFileWithRetry(path, FileAccess::ReadWrite, FileShare::ReadWrite,
                                          FileDisposition::OpenExisting, kOpenBudgetMs);
    if (!fd) return false;
    const auto fileSize = FileSize(fd.Get());
    if (!fileSize) return false;

    auto location = LocateId3v2(fd.Get(), *fileSize);
    if (location && !location->appended && !FitsInFile(*location, *fileSize)) location.reset();
    std::optional<Id3v2Tag> old;
    if (location) old = ReadTag(fd.Get(), *location, *fileSize);
    if (location && !old) return false;
    const bool needsId3v2 = NeedsId3v2(tags, old);
    // A tag we could not walk to its end cannot be rebuilt without loss.
    if (needsId3v2 && old && !old->complete) return false;

    // ID3v1 first: a rebuilt ID3v2 tag below copies the file with it.
    const int64_t v1NotBefore = location ? location->End() : 0;
    std::string oldBlock;
    const bool hasV1 = HasId3v1(fd.Get(), *fileSize, v1NotBefore, oldBlock);
    const Id3v1Block block = BuildId3v1(tags, hasV1 ? std::string_view(oldBlock) : std::string_view());
    const int64_t v1At = hasV1 ? *fileSize - kV1Size : *fileSize;
    if (!WriteAt(fd.Get(), std::string_view(reinterpret_cast<const char*>(block.data()), block.size()), v1At))
        return false;
    const int64_t newSize = v1At + kV1Size;

    if (!needsId3v2) return true;

    if (location && location->appended) {
        // Rewrite from the old tag on: only the ID3v1 block follows it.
        std::string tail;
        if (!ReadExactly(fd.Get(), tail, static_cast<size_t>(newSize - location->End()), location->End()))
            return false;
        const auto tag = BuildId3v2(tags, &*old, Id3v2BuildOptions{4, true, 0});
        if (!tag) return false;
        const std::string rewritten = *tag + tail;
        const int64_t end = location->offset + static_cast<int64_t>(rewritten.size());
        return WriteAt(fd.Get(), rewritten, location->offset) &&
               ::ftruncate(fd.Get(), static_cast<off_t>(end)) == 0;
    }

    const int64_t room = location ? location->header.TagSize() : 0;
    const uint8_t version = old ? old->WriteVersion() : 3;
    const auto tag = BuildId3v2(tags, old ? &*old : nullptr, Id3v2BuildOptions{version, false, room});
    if (!tag) return false;
    if (location && static_cast<int64_t>(tag->size()) == room) return WriteAt(fd.Get(), *tag, 0);
    if (tag->empty() && room == 0) return true;
    return ReplaceFileWithPrefix(fd.Get(), path, *tag, room, newSize);
}

}  // namespace sonitor
