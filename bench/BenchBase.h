#pragma once

#include <cstdlib>
#include <string>

namespace sonitor {

// Where a benchmark puts its working files: $SONITOR_BENCH_DIR, else
// $TMPDIR, else /tmp.
inline std::string BenchBase() {
    for (const char* name : {"SONITOR_BENCH_DIR", "TMPDIR"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0') return v;
    }
    return "/tmp";
}

}  // namespace sonitor
