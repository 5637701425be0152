#pragma once

#include <string>
#include <string_view>

namespace sonitor {

// A private folder (mode 0700, made with mkdtemp) for the temporary files of
// one job, inside this process's working folder unless another base folder
// is given. It is removed with everything in it when the object goes.
class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "tmp");
    TempFolder(std::string_view prefix, const std::string& baseFolder);
    ~TempFolder();
    TempFolder(TempFolder&& other) noexcept;
    TempFolder& operator=(TempFolder&& other) noexcept;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // False when the folder could not be made (errno was set then).
    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    // The path of a file called name inside the folder.
    std::string File(std::string_view name) const;
    // Removes the folder now; true when it is gone.
    bool Remove();

private:
    std::string path_;
};

}  // namespace sonitor
