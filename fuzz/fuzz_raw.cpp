// Headerless files in every raw coding and VOX; the first byte picks the
// coding and the channel count, the rest is the file.
#include "FuzzSupport.h"
#include "formats/raw/RawFile.h"
#include "formats/raw/RawSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    sonitor::RawSettings settings;
    settings.codec = data[0] % 8;  // 7 is outside the list: a null source
    settings.channels = static_cast<uint8_t>(1 + (data[0] >> 3) % 2);
    settings.sampleRate = 8000;
    sonitor::fuzz::MemoryFile file(data + 1, size - 1);
    auto source = sonitor::OpenRawSource(settings, file.Path());
    sonitor::fuzz::Exercise(*source, data, size);
    return 0;
}
