#pragma once
// The LHA archiver's command language, as the program's archive adapter
// speaks it:
//
//   a <switches> "<archive>" "<base folder>" "<name>" "<name>" ...
//
// Switches (tokens beginning with "-" between the command and the archive
// path) are the fixed set the adapter sends and change nothing here. Every
// token after the base folder is a file name relative to it, taken
// literally: "-x", "@list" or "*" name files, never switches or wildcards.
// A name listed twice is stored once.
#include <string>
#include <string_view>
#include <vector>

#include "archive/left_out.h"

namespace lha {

struct CommandResult {
    int status = 0;  // kArchiverDone, kArchiverLeftOut or kArchiverFailed (archive/archiver_status.h)
    // The count of files added, then of those left out; the word "Error"
    // only when no archive was made. No file or archive is named in it.
    std::string report;
    std::vector<tessarine::LeftOutEntry> leftOut;  // each with its reason
};

// Raises std::bad_alloc when memory runs out, also on a worker thread: no
// archive is made then, and no member is left out for it.
CommandResult RunCommand(std::string_view commandLine);

}  // namespace lha
