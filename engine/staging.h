#pragma once
// The private folder in which a job makes its product.
//
// A product stands under its final name only when it is complete: every
// job makes its product inside a hidden folder ".tessarine-XXXXXX" of the
// destination and renames it to its dated name at the end, never over an
// entry that is there. The folder is locked (flock) by the job for as long
// as it runs and records the host and boot it runs in, so that the next job
// in that destination removes what a killed job left there and never
// touches the folder of a job that still runs.
#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/unique_fd.h"

namespace tessarine {

// The name every staging folder begins with; six characters follow.
inline constexpr std::string_view kStagingPrefix = ".tessarine-";
// The owner record inside a staging folder.
inline constexpr const char* kStagingOwnerFile = ".owner";

// True when `name` is a staging folder's name (the prefix and six
// characters of mkdtemp's alphabet).
bool IsStagingName(std::string_view name);

class JobStaging {
public:
    // Makes a new staging folder in `destination` (a folder path; the
    // folder may be reached through links, it is the user's choice), locks
    // it and records its owner. Raises TessarineError when it cannot be made.
    explicit JobStaging(const std::string& destination);
    // Removes the folder with everything in it.
    ~JobStaging();
    JobStaging(const JobStaging&) = delete;
    JobStaging& operator=(const JobStaging&) = delete;

    // The staging folder's path, ending with the separator.
    const std::string& Folder() const { return folder_; }

    // True when a folder renamed on this destination keeps what it holds.
    // fusefat, for one, renames a folder as an empty one and loses its
    // content: a copy cannot be made complete under a temporary name there.
    bool KeepsRenamedFolders() const;

    // Moves the staged entry `name` into the destination as `stem` +
    // `extension`; when that name is taken, as `stem` + "_2" + `extension`,
    // "_3" and so on: an entry that is there is never replaced. Returns the
    // final path, or nothing with errno set (also when the job was
    // abandoned meanwhile).
    std::optional<std::string> Publish(const std::string& name, const std::string& stem, const std::string& extension);

private:
    // Makes, registers and locks a folder of a new name; 0, EAGAIN to try
    // another name, or the error.
    int MakeLockedFolder();
    // Unregisters the folder and (with `remove`) removes it.
    void Forget(bool remove = true);

    std::string destination_;  // ends with the separator
    std::string folder_;       // ends with the separator
    std::string name_;         // the staging folder's own name
    UniqueFd destinationFd_;
    UniqueFd folderFd_;  // holds the lock
};

// Removes the staging folders in `destination` whose job is gone: folders
// of this user whose lock is free and whose owner record names this host
// (on a boot that ended, or a job that died). Folders of a job still
// running, of another host or of another user stay. Returns how many were
// removed.
size_t RemoveAbandonedStaging(const std::string& destination);

// Removes the entry `name` of the folder `folder` with everything beneath
// it, never following a link and never leaving the file system it is on.
bool RemoveTreeAt(int folder, const char* name);

// The stop flag of the running job, which AbandonRunningJob sets; a job
// registers it for as long as it runs (nullptr: none).
void RegisterRunningJob(std::atomic<bool>* stop);

// Stops the running job, if any, at its next entry, ends the programs it
// started and removes its staging folder. Called from a front end's signal
// watcher (any thread but the worker's); returns within about two seconds
// even when the worker does not answer, so that the caller can exit.
void AbandonRunningJob();

// Ends every child process of this process at once (the archiver a job
// runs); they would die with it, but not before its staging is removed.
void KillChildProcesses();

}  // namespace tessarine
