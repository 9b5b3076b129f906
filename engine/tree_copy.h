#pragma once
// Re-creating a collected tree in the product folder of a copy job.
//
// Every entry of the product is made relative to a descriptor of the folder
// that holds it, and folders are reached without following any link, so a
// symbolic link at or inside the product is never written through: it is
// replaced by the real entry. A copy keeps what `cp -a` keeps for the user
// running it: permission bits, modification times (folders are stamped once
// they are filled), links as links, special files as new ones of their kind,
// ownership when running as root, extended attributes (ACLs included), holes
// of sparse files and hard links between the copied files.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/FileOperation.h"
#include "engine/unique_fd.h"
#include "engine/worker_threads.h"

namespace tessarine {

// Copies the entry `sourceName` of the folder `sourceFolder` to `targetName`
// in `targetFolder`, replacing a non-folder that is there (a link there is
// removed, never followed). Regular files are copied with their holes;
// links, named pipes, devices and sockets are made anew and never opened for
// reading. Failures are recorded in the operation's Problems under the shown
// paths. True when the target was made.
bool CopyEntryAt(TFileOperation& operation, int sourceFolder, const char* sourceName, int targetFolder,
                 const char* targetName, const std::string& sourceShown, const std::string& targetShown);

// Who makes the copy. Only root gives entries their owners, as `cp -a`
// does; an entry that already belongs to the user and the user's group
// needs no change (the folders are made without the set-group-ID bit while
// they are filled, so new entries take the user's group).
struct CopyingUser {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    bool ChangesOwner(const struct stat& st) const { return uid == 0 && (st.st_uid != uid || st.st_gid != gid); }
};

// The source and target folders one copier thread is working in. Files come
// folder by folder, so one pair serves a run of consecutive files.
struct CopyPlace {
    bool open = false;
    std::string rel;  // the folder, relative to both roots, with its trailing separator
    UniqueFd source, target;
    int sourceError = 0, targetError = 0;
    // The source path of the folder left out that holds this one, if any.
    const std::string* leftOutWith = nullptr;
};

class TreeCopy {
public:
    // Opens the product folder `outputBase`, making it when it is missing.
    // The folder that holds it may be reached through links (the user chose
    // it); a link or other non-folder at the product's own name is removed
    // and a real folder made. Raises TessarineError, with nothing written,
    // when that entry cannot be removed (another user's link in a shared
    // folder), when an existing folder there belongs to another user, when
    // the folder cannot be made, or when the product would be the source
    // itself or would land inside the source tree through a link.
    TreeCopy(TFileOperation& operation, std::string sourceRoot, std::string outputBase);

    // Makes the folder `rel` of the product (relative to the source root,
    // ending with the separator; empty: the product folder itself). Folders
    // must come parent first, all before the first CopyEntry. A link in its
    // place is replaced; a failure is recorded. A folder whose name is
    // taken by one made before (a destination that folds letter case, with
    // "Docs" and "docs") is left out with everything beneath it, each entry
    // recorded.
    void MakeFolder(const std::string& rel);

    // Copies the collected entry at `rel` (relative to the source root) into
    // the product. Safe to call from several threads, each with its own
    // place. A file that is a hard link of one copied before becomes a hard
    // link of that copy. An entry whose name is taken by one copied before
    // ("A.txt" and "a.txt" where case is folded) is left out and recorded
    // with both source paths; nothing made is replaced. Returns the size of
    // the file found there (0 for other entries and for one that could not
    // be looked at). Does nothing once the operation's StopRequested is set;
    // a failure of the destination itself (full, read-only, gone) sets it.
    uint64_t CopyEntry(CopyPlace& place, const std::string& rel);

    // Gives every folder made its source folder's permission bits, owner,
    // extended attributes and times, deepest first; called when every file
    // has been copied. Ends early once StopRequested is set.
    void FinishFolders();

    const std::string& SourceRoot() const { return sourceRoot_; }
    bool Stopped() const { return operation_.StopRequested.load(std::memory_order_relaxed); }
    std::atomic<bool>& StopFlag() { return operation_.StopRequested; }

private:
    struct FirstLink {
        std::string rel;    // where the first copy of the file is
        bool done = false;  // the first copy has been attempted
        bool made = false;  // and it exists
    };

    TFileOperation& operation_;
    const CopyingUser user_;
    std::string sourceRoot_;  // ends with the separator
    UniqueFd sourceFd_;       // the source root
    std::string outputBase_;  // no trailing separator
    UniqueFd root_;
    std::vector<std::string> folders_;  // made (or found), in the order made
    std::mutex linksMutex_;
    std::condition_variable linkMade_;
    std::map<std::pair<dev_t, ino_t>, FirstLink> links_;
    // Folders left out (relative), each with the source path of the topmost
    // folder left out that holds it. Filled by MakeFolder before the
    // copiers start, only read by them.
    std::unordered_map<std::string, std::string> leftOut_;

    // 0 when the hard link was made, else the errno.
    int LinkToFirstCopy(CopyPlace& place, const char* name, const std::string& firstRel);
    // Records that the entry `name` of the folder `folderRel` was left out
    // since its name is taken in the product's `targetFolder`.
    void NameTaken(int targetFolder, const std::string& folderRel, const std::string& name, bool folder = false);
};

// Copies the files of a copy job on copier threads. The owner releases the
// files in list order; each copier takes released files in runs of one
// folder. Two copiers that create entries in one folder wait on each
// other's hold of it (the kernel makes each new entry, inode and all,
// under the folder's lock), so a copier takes a folder no other copier is
// in when one is released. A file listed twice (a filter naming its
// extension twice) is copied once: a second copy would write the same bytes
// to the same target.
class ParallelCopier {
public:
    ParallelCopier(TreeCopy& tree, const PathList& files);
    // Without Finish (the owner is leaving by an exception) the files not
    // yet claimed are not copied.
    ~ParallelCopier();

    // Files 1 .. count may now be copied. Waits while more released files
    // are not yet copied than Lead() allows, so that the progress shown
    // never runs far ahead of the copying.
    void Release(size_t count);

    // Copies what was released and waits for the copiers to end. An
    // exception a copier raised (memory that cannot be had) is raised here
    // again; it has set StopRequested, so the files after it were passed
    // over.
    void Finish();

private:
    // Released files not yet claimed: consecutive files of one folder.
    struct FolderRun {
        size_t first = 0;
        size_t count = 0;
        std::string_view folder;  // the path up to its last separator
    };

    TreeCopy& tree_;
    const PathList& files_;
    const unsigned copiers_;
    WorkerGroup group_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable copied_;
    // How far the release may run ahead of the copying: about kAheadBytes
    // of the files' sizes as far seen, between kLeastAhead and kMostAhead
    // files. Small files need the wide window to span more than one
    // folder; large ones keep the progress close to the copying. A copier
    // takes up to kBatch files per turn of the lock, and looks for a free
    // folder among the first kLookAt runs.
    static constexpr uint64_t kAheadBytes = 32u << 20;
    static constexpr size_t kLeastAhead = 16;
    static constexpr size_t kMostAhead = 256;
    static constexpr size_t kBatch = 8;
    static constexpr size_t kLookAt = 8;
    size_t released_ = 0;
    size_t claimed_ = 0;
    size_t finished_ = 0;
    uint64_t finishedBytes_ = 0;
    size_t idle_ = 0;  // copiers waiting for a file
    bool ownerWaiting_ = false;
    bool done_ = false;
    bool abandoned_ = false;  // a copier failed, or the owner left without Finish
    std::deque<FolderRun> pending_;
    std::vector<std::string_view> working_;  // the folder each copier is in, empty when none
    std::unordered_set<std::string_view> seen_;

    size_t Lead() const;
    // Ends the copying: no file is claimed any more, and an owner waiting in
    // Release goes on.
    void Abandon();
    // Claims up to kBatch files for copier `self`, whose folder is cleared,
    // and puts those not claimed before into `batch`; returns how many.
    size_t Claim(unsigned self, std::vector<size_t>& batch);
    void Run(unsigned self);
};

}  // namespace tessarine
