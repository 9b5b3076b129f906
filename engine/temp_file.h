#pragma once
// Files written under a temporary name beside their final place and renamed
// over it once complete, so that a failure or an interruption never leaves
// a torn file under the final name.
#include <sys/types.h>

#include <string>
#include <string_view>

#include "engine/unique_fd.h"

namespace tessarine {

// What follows the final name in a temporary file's name; mkstemp adds six
// characters: "<name>.tmp-XXXXXX".
inline constexpr std::string_view kTempSuffix = ".tmp-";

// The process's file-creation mask, read without changing it: umask() would
// have to set it for a moment, which other threads could see.
mode_t CurrentUmask();

// A new file beside `target`, made with mkstemp (O_EXCL: never a file that
// is there, never through a link), mode 0600 until changed. Removed when it
// goes out of scope without having been renamed into place.
class TempFileBeside {
public:
    explicit TempFileBeside(const std::string& target);
    ~TempFileBeside();
    TempFileBeside(const TempFileBeside&) = delete;
    TempFileBeside& operator=(const TempFileBeside&) = delete;

    // False, with errno as mkstemp left it, when the file could not be made.
    bool Valid() const { return fd_.Valid(); }
    int Get() const { return fd_.Get(); }
    // Closes the file; false, with errno set, when the close reports a
    // failed write.
    bool Close() { return fd_.Close(); }
    // Moves the closed file over the target; false, with errno set, when
    // the rename fails (the file is removed when this goes out of scope).
    bool RenameIntoPlace();

private:
    std::string target_;
    std::string path_;
    UniqueFd fd_;
    bool made_ = false;
    bool renamed_ = false;
};

}  // namespace tessarine
