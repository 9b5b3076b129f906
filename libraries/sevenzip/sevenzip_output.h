#pragma once
// Reading what 7zz printed: the files it added, the entries it warned
// about, and the text of a failure.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/left_out.h"

namespace sevenzip {

// The paths the library gave 7zz, each with the word that stands for it in
// a failure's text: ("/out/.tessarine-x/a.7z", "(archive)").
using PathWords = std::vector<std::pair<std::string, std::string>>;

// What one run of 7zz that ended by itself came to.
struct RunReading {
    int status = 0;  // kArchiverDone, kArchiverLeftOut, kArchiverFailed or kArchiverOutOfMemory
    size_t filesAdded = 0;
    std::vector<tessarine::LeftOutEntry> warned;  // at exit code 1, under the names given
    std::string failure;                          // English, when no archive was made
};

// `exitCode` and the two outputs of 7zz run with the names `given` (as
// listed, in order); a failure's text names none of `paths` but by its word.
RunReading ReadSevenZipRun(int exitCode, const std::string& out, const std::string& err,
                           const std::vector<std::string_view>& given, const PathWords& paths);

// The parts of it, for runs that need only one.
size_t FilesAdded(const std::string& out);
std::vector<tessarine::LeftOutEntry> WarnedEntries(const std::string& out, const std::vector<std::string_view>& given);
const char* ExitMeaning(int code);
std::string WithoutPaths(std::string text, const PathWords& paths);
bool HoldsErrorWord(std::string_view text);

}  // namespace sevenzip
