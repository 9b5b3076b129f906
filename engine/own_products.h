#pragma once
// A destination inside the source folder holds the job's earlier products
// and the staging folders of running jobs; collected, each run would hold
// all runs before it. They are left out of the collected lists.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/path_list.h"

namespace tessarine {

// The base name in a product's name without extension: the name without
// its date stamp (yyyymmddhhnnss or yymmdd_hhnn_ss) and the "_" before it.
// A name without a stamp comes back whole.
std::string BaseNameOfStem(std::string_view stem);

// True when `name` is the name of a product of `base` with `extension`
// (empty for a copy folder): the base name, an optional "_", a date stamp
// of either pattern, an optional "_2"-style suffix and the extension.
bool IsProductName(std::string_view name, std::string_view base, std::string_view extension);

class OwnProductFilter {
public:
    // `source` and `destination` are folder paths; `stem` is the product's
    // name without extension (base name and stamp). Does nothing when the
    // destination does not lie inside the source.
    OwnProductFilter(const std::string& source, const std::string& destination, std::string_view stem,
                     std::string extension, bool folderProduct);

    // Removes from the folder list the staging folders and product folders
    // that stand in the destination, with everything beneath them, and from
    // the file list the products that stand there. Each returns how many
    // products and staging folders it left out.
    size_t LeaveOutFolders(std::vector<std::string>& folders) const;
    size_t LeaveOutFiles(PathList& files) const;

private:
    std::string inSource_;  // the destination as the collection spells it; empty: not inside
    std::string base_;
    std::string extension_;
    bool folderProduct_;

    std::string_view NameInDestination(std::string_view path, bool folder) const;
};

}  // namespace tessarine
