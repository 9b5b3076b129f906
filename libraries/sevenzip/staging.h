#pragma once
// Where 7zz makes the archive: a hidden folder of our own beside the final
// name, from which the finished archive is renamed over that name, so that
// whatever was there before is replaced whole, never added to.
#include <string>

namespace sevenzip {

// `path` made absolute against the process's current folder.
std::string AbsolutePath(const std::string& path);

// A folder of our own beside the archive's final place, in which 7zz makes
// the archive. Removed, with whatever 7zz left in it, when it goes.
class TempFolder {
public:
    // The folder for the archive at the absolute path `archive`.
    explicit TempFolder(const std::string& archive);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool Made() const { return !path_.empty(); }
    int Error() const { return error_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int error_ = 0;
};

// Puts the finished archive at `partial` in its final place in one step,
// replacing whatever file or link was there. Empty on success, else the
// failure's text.
std::string PlaceArchive(const std::string& partial, const std::string& archive);

}  // namespace sevenzip
