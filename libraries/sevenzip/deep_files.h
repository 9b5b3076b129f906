#pragma once
// Files whose names are PATH_MAX bytes or more, which 7zz cannot open by
// name: added through descriptors of their folders and renamed in the
// archive afterwards.
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_request.h"
#include "archive/left_out.h"
#include "libraries/sevenzip/run_7zz.h"

namespace sevenzip {

// Adds the files whose names are PATH_MAX bytes or more (relative to the
// base folder) to the archive at `partial`. 7zz opens every name it is given
// as one path and stops there ("File name too long"), so each folder holding
// such files is opened here, beneath the base folder without following a
// link, and handed to 7zz as an open descriptor, which the read guard lets
// it reach under a short alias: 7zz is given "ALIAS/name", and the entries
// are then renamed in the archive to their own names (7zz rn, which copies
// the packed data as it is). A file whose folder cannot be reached so, or
// that 7zz warns about, is added to `leftOut` under its own name. Returns
// the failure text, empty on success.
std::string AddDeepFiles(const std::string& program, const std::vector<std::string>& env, const std::string& input,
                         const tessarine::ArchiveRequest& request, const std::string& partial,
                         const ReadGuard& baseGuard, const std::vector<std::string_view>& given,
                         const std::vector<std::string_view>& deep, std::vector<tessarine::LeftOutEntry>& leftOut);

}  // namespace sevenzip
