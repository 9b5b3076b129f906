#pragma once
// The look at every listed entry before 7zz runs: what 7zz may be given by
// name, what it must get another way (files beneath PATH_MAX), and what is
// left out here with its reason.
#include <string_view>
#include <vector>

#include "archive/left_out.h"

namespace sevenzip {

// The longest name kept from beneath PATH_MAX (see AddDeepFiles): each
// argument of the renaming call stays within the kernel's 128 KiB.
inline constexpr size_t kMaxDeepName = 64 * 1024;

struct CheckedEntries {
    std::vector<std::string_view> given;  // for 7zz by name, as listed, in list order
    std::vector<std::string_view> deep;   // files of PATH_MAX bytes or more (see AddDeepFiles)
    bool anyFolder = false;               // a listed folder, which goes to 7zz whole by its name
    std::vector<tessarine::LeftOutEntry> leftOut;
};

// Sorts the listed names (as on the command line, each once), looked at
// beneath the open base folder.
CheckedEntries CheckEntries(int baseFd, std::vector<std::string_view> names);

}  // namespace sevenzip
