#include "FuzzSupport.h"
#include "formats/raw/AuFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonitor::fuzz::MemoryFile file(data, size);
    auto source = sonitor::OpenAuSource(file.Path());
    sonitor::fuzz::Exercise(*source, data, size);
    return 0;
}
