#include "foundation/TempFolder.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/WorkingFolder.h"

namespace sonitor {

TempFolder::TempFolder(std::string_view prefix) : TempFolder(prefix, WorkingFolder()) {}

TempFolder::TempFolder(std::string_view prefix, const std::string& baseFolder) {
    if (baseFolder.empty()) return;
    std::string pattern = baseFolder;
    if (pattern.back() != '/') pattern += '/';
    // A '/' in the prefix would place the folder elsewhere.
    for (char c : prefix)
        pattern += c == '/' ? '_' : c;
    pattern += "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkdtemp makes the folder with mode 0700 whatever the umask.
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempFolder::~TempFolder() {
    Remove();
}

TempFolder::TempFolder(TempFolder&& other) noexcept : path_(std::exchange(other.path_, {})) {}

TempFolder& TempFolder::operator=(TempFolder&& other) noexcept {
    if (this != &other) {
        Remove();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

std::string TempFolder::File(std::string_view name) const {
    std::string out = path_;
    out += '/';
    out += name;
    return out;
}

bool TempFolder::Remove() {
    if (path_.empty()) return true;
    const bool gone = RemoveFolderTreeFully(path_.c_str());
    path_.clear();
    return gone;
}

}  // namespace sonitor
