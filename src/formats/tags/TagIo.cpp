#include "formats/tags/TagIo.h"

#include "formats/tags/Mp3Tags.h"
#include "formats/tags/RiffInfo.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

enum class TagFormat { None, Mp3, Wav };

TagFormat FormatOf(std::string_view path) {
    const std::string extension = ExtensionPart(path);
    if (EqualsIgnoreCase(extension, ".mp3")) return TagFormat::Mp3;
    if (EqualsIgnoreCase(extension, ".wav")) return TagFormat::Wav;
    return TagFormat::None;
}

}  // namespace

bool FileCanHoldTags(std::string_view path) {
    return FormatOf(path) != TagFormat::None;
}

bool ReadTags(const std::string& path, TagMap& tags) {
    switch (FormatOf(path)) {
        case TagFormat::Mp3:
            return ReadMp3Tags(path, tags);
        case TagFormat::Wav:
            return ReadWavTags(path, tags);
        case TagFormat::None:
            break;
    }
    return false;
}

bool ReadTags(const std::string& path, std::vector<TagEntry>& tags) {
    TagMap map(tags);
    const bool ok = ReadTags(path, map);
    tags = map.Entries();
    return ok;
}

bool WriteTags(const std::string& path, const TagMap& tags) {
    switch (FormatOf(path)) {
        case TagFormat::Mp3:
            return WriteMp3Tags(path, tags);
        case TagFormat::Wav:
            return WriteWavTags(path, tags);
        case TagFormat::None:
            break;
    }
    return false;
}

bool WriteTags(const std::string& path, const std::vector<TagEntry>& tags) {
    return WriteTags(path, TagMap(tags));
}

}  // namespace sonitor
