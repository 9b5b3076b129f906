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
#include <string>

namespace lha {

struct CommandResult {
    int status = 0;      // 0 all added, 1 some files left out, 2 nothing done
    std::string report;  // lines of text; failures carry the word "Error"
};

CommandResult RunCommand(const std::string& commandLine);

}  // namespace lha
