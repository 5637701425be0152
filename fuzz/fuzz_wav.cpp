// The WAV reader with its codec layer.
#include "FuzzSupport.h"
#include "formats/WavSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonitor::fuzz::MemoryFile file(data, size);
    auto source = sonitor::OpenWavSource(file.Path());
    sonitor::fuzz::Exercise(*source, data, size);
    return 0;
}
