// Runs a fuzz target over files and folders of inputs, as the test suite
// does with the committed corpora (and as one replays a crash found by the
// fuzzer), without the fuzzing engine.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') Collect(path + "/" + e->d_name, files);
    }
    closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) Collect(argv[i], files);
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    for (const std::string& file : files) {
        const auto bytes = sonitor::ReadWholeFile(file);
        if (!bytes) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
