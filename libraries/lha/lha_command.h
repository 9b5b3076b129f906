#pragma once
// The LHA archiver's command language, as the program's archive adapter
// speaks it:
//
//   a <switches> "<archive>" "<base folder>" "<name>" "<name>" ...
//
// read into a request by ParseArchiveRequest (archive/archive_request.h).
// The switches are the fixed set the adapter sends and change nothing here.
// Every name is a file name relative to the base folder, taken literally:
// "-x", "@list" or "*" name files, never switches or wildcards. A name
// listed twice is stored once.
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_request.h"
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
// The same for a request already read; the request's names are the ones
// listed after the base folder.
CommandResult WriteArchive(tessarine::ArchiveRequest request);

}  // namespace lha
