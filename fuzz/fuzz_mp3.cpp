// The MP3 file source: frame search, information frames, decoding, seeking.
#include "FuzzSupport.h"
#include "formats/mp3/Mp3Source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonitor::fuzz::MemoryFile file(data, size);
    auto source = sonitor::OpenMp3Source(file.Path());
    sonitor::fuzz::Exercise(*source, data, size);
    return 0;
}
