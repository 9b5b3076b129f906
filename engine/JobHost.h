#pragma once
// What a job tells its owner as it runs, and what it asks of it. The worker
// speaks only in these events; the window program turns them into the
// progress view's captions, bar values and boxes, the command-line program
// into its progress line and exit status.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/job_mode.h"
#include "engine/message.h"
#include "engine/path_list.h"
#include "engine/secrets.h"

namespace tessarine {

// The job description: filled by the launcher, copied by the worker once at
// its start and read-only afterwards.
struct JobRequest {
    std::string SourcePath;  // the source folder, ending with the separator
    // Named in full: the member takes the type's name.
    tessarine::JobMode JobMode = tessarine::JobMode::kCopy;
    std::string OutputBase;  // destination folder + base name + date stamp, no extension
    bool IncludeHiddenFolders = false;
    bool IncludeHiddenFiles = false;
    std::string Password;    // the password modes only
    std::string FilterFile;  // full path of the filter file; empty: no filter
    bool OpenFolderWhenDone = false;
    std::string FolderToOpen;
    bool Verify = false;  // read the product back once it is made

    // Every copy of the request (the launcher's, the worker's, the staged
    // one) takes its password's bytes with it when it goes.
    ~JobRequest() { WipeSecret(Password); }
};

// Kinds of metadata a copy's destination may be unable to hold at all (a
// FAT stick holds no permission bits, owners or extended attributes; some
// mounts refuse link times). Told once per job, never per entry.
enum NotHeldKind : unsigned {
    kNotHeldPermissions = 1u << 0,
    kNotHeldOwners = 1u << 1,
    kNotHeldLinkTimes = 1u << 2,
    kNotHeldExtendedAttributes = 1u << 3,
    kNotHeldAcls = 1u << 4,
};

// An entry the job could not read, create, copy or archive, and why.
struct Problem {
    std::string path;
    Message reason;
};

// How a job ended. Failed: no usable product (a step raised an error, the
// archiver reported one, or the product was not made). Done with problems:
// a product that lacks the listed entries. A job that found nothing is done.
enum class JobResult { Done, DoneWithProblems, Failed };

struct JobOutcome {
    JobResult result = JobResult::Done;
    std::string product;            // the copy folder, archive or list file
    bool nothingFound = false;      // no file collected: no copy or archive made
    std::vector<Problem> problems;  // what the product lacks, each with its reason
    // Entries of a copy whose permissions, owner or extended attributes the
    // destination's file system cannot hold at all (a FAT stick): told in
    // one line, not as problems.
    size_t attributesNotHeld = 0;
    unsigned notHeldKinds = 0;  // NotHeldKind bits: what the destination did not keep
    // Earlier products of this source and staging folders of other jobs
    // that the collection left out, as they stand in a destination inside
    // the source.
    size_t ownProductsLeftOut = 0;
};

// The stretches of a job that the owner shows.
enum class JobPhase {
    CollectingFolders,
    CollectingFiles,  // also ends, with nothing collected, in the folder-list mode
    CompressingZip,
    CompressingSevenZip,
    CompressingLha,
    Verifying,  // the product is read back
};

class JobHost {
public:
    virtual ~JobHost() = default;

    // --- what the job asks ----------------------------------------------
    // Copies the owner's prepared job description.
    virtual void LoadJobRequest(JobRequest& request) = 0;
    // The owner's end-of-job step; called exactly once per job, last but
    // for the close timer.
    virtual void FinishJob() = 0;
    // Arms the close timer after a job that came from the command line.
    virtual void ArmCloseTimer() = 0;
    // Opens a folder in the desktop's file manager.
    virtual void OpenFolder(const std::string& path) = 0;
    // Values of the owner read outside the synchronized calls; neither
    // changes while a job runs. NoFileMsg 1: "nothing found" is shown and
    // stays in view for a while.
    virtual int NoFileMsg() const = 0;
    virtual bool StartedFromCommandLine() const = 0;

    // --- what the job tells -----------------------------------------------
    virtual void JobStarted() = 0;
    virtual void PhaseStarted(JobPhase phase) = 0;
    virtual void PhaseDone(JobPhase phase) = 0;
    // The collected folders and files, once both walks are done (the lists
    // the job then works through, in order).
    virtual void EntriesCollected(const std::vector<std::string>& /*folders*/, const PathList& /*files*/) {}
    // A copy of `folders` folders and `files` files begins; then each folder
    // is announced before it is made and each file before it is copied,
    // counted from 1; then the copy is done.
    virtual void CopyStarted(int32_t folders, int32_t files) = 0;
    virtual void MakingFolder(int32_t index, int32_t count) = 0;
    virtual void CopyingFile(int32_t index, int32_t count) = 0;
    virtual void CopyDone() = 0;
    // No file was collected (only told when NoFileMsg is 1).
    virtual void NothingFound() = 0;
    // The work of the job's mode is over.
    virtual void WorkDone() = 0;
    // An archiver library's report that names an error; the owner shows it
    // and waits until it was seen.
    virtual void ArchiverReport(const std::string& library, const std::string& report) = 0;
    // A step failed; the job ends without a usable product.
    virtual void JobFailed(const Message& message) = 0;
    // The job's outcome, before FinishJob.
    virtual void JobEnded(const JobOutcome& outcome) = 0;
};

}  // namespace tessarine
