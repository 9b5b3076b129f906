#pragma once
// A job's file work: collecting the folders and files beneath the source
// folder with the hidden-item rules and the extension filter, re-creating
// the tree under the destination, copying files and writing list files.
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Common.h"
#include "engine/JobHost.h"
#include "engine/path_list.h"

namespace tessarine {

// The first failure of a copy's destination itself (full, read-only, gone):
// its errno and the destination path where it happened; error 0 when none.
struct WriteFailure {
    int error = 0;
    std::string path;
};

// True for the errors that say the destination as a whole cannot be written
// any more (full, over quota, read-only, failing, unmounted), not that one
// entry could not be made.
bool IsDestinationFailure(int error);

class TFileOperation {
public:
    TCommon CommonTools;
    // Extensions of the enabled extension rows of the loaded filter, in file
    // order, as stored (without the dot).
    std::vector<std::string> ExtensionList;
    // The raw lines of the loaded filter file.
    std::vector<std::string> FilterLines;
    // Folders that could not be read, folders that could not be created and
    // files that could not be copied. The work goes on past each of them;
    // the job tells the user at its end.
    std::vector<Problem> Problems;
    // Entries of a copy that lack an attribute their target's file system
    // cannot hold at all (permissions or extended attributes on a FAT
    // stick). They are counted, not recorded one by one.
    std::atomic<size_t> AttributesNotHeld{0};
    // Which kinds of metadata (NotHeldKind bits) the destination refused.
    std::atomic<unsigned> NotHeldKinds{0};
    // The destination accepts every mode and keeps none.
    std::atomic<bool> ModesIgnored{false};
    // Set by the owner (a signal, a cancel) or by a failure of the
    // destination itself: the copy stops at the next entry.
    std::atomic<bool> StopRequested{false};

    // Adds an entry to Problems; safe to call from several threads at once.
    void RecordProblem(const std::string& path, Message reason);

    // The destination itself failed at `path`: keeps the first such failure
    // and sets StopRequested, so that the copy ends instead of failing every
    // entry left. Safe to call from several threads at once.
    void RecordDestinationFailure(const std::string& path, int error);
    // The first failure recorded; error 0 when there was none.
    WriteFailure DestinationFailure() const;

    // Appends every folder beneath `folder` (which ends with the separator),
    // depth first in pre-order; does not clear the list and does not add
    // `folder` itself. A hidden subfolder is skipped with everything beneath
    // it unless includeHidden; a link is never entered.
    void CollectFolders(const std::string& folder, std::vector<std::string>& folderList, bool includeHidden);

    // Clears the file list and fills it from every folder of the folder list:
    // all files, or with the filter the files of each extension in turn, in
    // the order of ExtensionList (a file matching two rows is listed twice).
    // Folders already read by CollectFolders are not read again.
    void CollectFiles(const std::vector<std::string>& folderList, bool filter, bool includeHidden, PathList& fileList);

    // ClearFilter, then the lines of the filter file, then BuildExtensionList.
    // Raises "ファイル %s は開けません" when the file cannot be read.
    void LoadFilter(const std::string& path);
    void ClearFilter();
    void BuildExtensionList();

    // The path without the root at its front when it begins with the root
    // byte for byte; otherwise the path unchanged.
    static std::string StripRoot(std::string_view path, std::string_view root);

    // Creates the folder and every missing parent; one trailing separator is
    // allowed. A failure is recorded in Problems.
    void MakeFolder(const std::string& path);

    // Copies a file to the target, replacing an existing non-folder target
    // (a link there is replaced, never followed): content with its holes,
    // permission bits, times, extended attributes and, for root, the owner;
    // a link is copied as a link, a named pipe, device or socket as a new
    // one of its kind, never opened. The target's folder must exist. A
    // failure is recorded in Problems. Safe to call from several threads at
    // once. A copy job copies its tree with TreeCopy instead.
    void CopyOneFile(const std::string& source, const std::string& target);

private:
    // Names of the non-folder entries of each folder read by CollectFolders,
    // kept until CollectFiles has used them. One block of text per folder
    // keeps the reading threads from allocating once per name.
    struct FileNames {
        std::string names;           // all names, each followed by a NUL
        std::vector<uint32_t> ends;  // end offset of each name in `names`
    };
    std::unordered_map<std::string, FileNames> folderFiles_;
    mutable std::mutex problemsMutex_;
    WriteFailure destinationFailure_;

    bool MakeFolderPath(std::string path, int& error);
};

// The line a list file holds for `entry`: the entry itself, or, when it
// holds a CR or LF (which would split it), a backslash followed by the entry
// with "\\" for each backslash, "\n" for LF and "\r" for CR. A path never
// begins with a backslash, so such a line is told from a plain one. Returns
// `entry` or a view of `held`.
std::string_view ListFileLine(std::string_view entry, std::string& held);

// Writes a list file: every entry's line (ListFileLine) followed by CR LF, an
// empty list as a file of 0 bytes, an existing file replaced as a whole.
// Raises "ファイル %s を作成できません" when it cannot be written.
void SaveListFile(const std::string& path, const PathList& list);

}  // namespace tessarine
