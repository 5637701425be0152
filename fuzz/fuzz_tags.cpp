// The tag readers: ID3v2 and ID3v1 as in MP3 files, RIFF INFO and DISP as in
// WAV files, and the ID3v2 parser on the bare bytes.
#include <string_view>

#include "FuzzSupport.h"
#include "formats/tags/Id3v2.h"
#include "formats/tags/Mp3Tags.h"
#include "formats/tags/RiffInfo.h"
#include "formats/tags/TagMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonitor::fuzz::MemoryFile file(data, size);
    sonitor::TagMap mp3;
    sonitor::ReadMp3Tags(file.Path(), mp3);
    sonitor::TagMap wav;
    sonitor::ReadWavTags(file.Path(), wav);
    if (auto tag = sonitor::ParseId3v2(std::string_view(reinterpret_cast<const char*>(data), size))) {
        sonitor::TagMap parsed;
        sonitor::Id3v2ToTags(*tag, parsed);
    }
    return 0;
}
