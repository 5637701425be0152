#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "document/ProgressTask.h"

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

// Nobody watches a benchmark: no display, never cancelled; errors go to
// stderr under the program's name.
class SilentTaskHost final : public TaskHost {
public:
    explicit SilentTaskHost(const char* program = "bench") : program_(program) {}
    bool OpenProgress(ProgressTask&) override { return true; }
    void CloseProgress(ProgressTask&) override {}
    void SetProgressText(ProgressTask&, int, const std::string&) override {}
    void SetProgressPercent(ProgressTask&, int) override {}
    bool Pump(ProgressTask&) override { return false; }
    void ShowTaskError(ProgressTask&, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", program_, text.c_str());
    }

private:
    const char* program_;
};

}  // namespace sonitor
