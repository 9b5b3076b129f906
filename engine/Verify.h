#pragma once
// Reads a job's product back after it was made and tells whether it holds
// what the job meant to put into it:
// - a copy: every collected folder is a folder with its source's permission
//   bits, every collected file has its source's content and kept metadata
//   (permission bits, owner when copied by root, modification time,
//   extended attributes and ACLs of files, link text and time, kind of
//   special file);
// - a ZIP or 7z archive: tested by 7-Zip (7zz t), the password handed over
//   on its standard input; a ZIP's central-directory names are compared
//   with the collected files;
// - an LHA archive: every member decoded, its size and CRC-16 checked;
// - a list file: its lines are the collected list.
#include <optional>
#include <string>
#include <vector>

#include "engine/TessarineThread.h"

namespace tessarine {

// The first entry that does not read back as it should.
struct VerifyDefect {
    std::string entry;  // the product's path, or the entry's path inside it
    Message reason;
};

// Entries the job itself reported as not handled (their copies are absent
// or partial by design) are passed as `skipped`, by source path or by path
// in the product. `notHeld` (NotHeldKind bits) names what the destination
// did not keep; that is not compared. Every entry is reached relative to an
// open folder, so paths longer than PATH_MAX are compared too.
std::optional<VerifyDefect> VerifyCopy(const std::string& sourceRoot, const std::string& product,
                                       const std::vector<std::string>& folders, const PathList& files,
                                       const std::vector<std::string>& skipped = {}, unsigned notHeld = 0);
std::optional<VerifyDefect> VerifySevenZipArchive(const std::string& archive, const std::string& password);
// The names of a ZIP archive's central directory against the collected
// entries: every collected file that was not `skipped` is there once under
// its name relative to `sourceRoot`, and every other name is a collected
// file or folder ("name/", which 7-Zip adds for folders handed over whole).
// Skipped entries without a name (counted only) excuse as many missing files.
std::optional<VerifyDefect> VerifyZipNames(const std::string& archive, const std::string& sourceRoot,
                                           const std::vector<std::string>& folders, const PathList& files,
                                           const std::vector<std::string>& skipped = {});
std::optional<VerifyDefect> VerifyLhaArchive(const std::string& archive);
std::optional<VerifyDefect> VerifyListFile(const std::string& listFile, const PathList& entries);

// The check that fits the request's mode, on `product` (which may still lie
// in the job's staging folder). Raises TessarineError naming the first bad
// entry and why.
void VerifyProduct(const JobRequest& request, const std::string& product, const std::vector<std::string>& folders,
                   const PathList& files, const std::vector<Problem>& problems, unsigned notHeld = 0);

}  // namespace tessarine
