#pragma once
// One job, run on a worker thread: collect the folders and files beneath the
// source folder, then copy them, compress them or write a list.
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/FileOperation.h"

namespace tessarine {

// What a job does.
enum JobMode : int32_t {
    kModeCopy = 0,
    kModeZip = 1,
    kModeZipPassword = 2,
    kModeLha = 3,
    kModeSevenZip = 4,
    kModeSevenZipPassword = 5,
    kModeFileList = 11,
    kModeFolderList = 12,
};

// The job description: filled by the launcher, copied by the worker once at
// its start and read-only afterwards.
struct JobRequest {
    std::string SourcePath;  // the source folder, ending with the separator
    int32_t JobMode = kModeCopy;
    std::string OutputBase;  // destination folder + base name + date stamp, no extension
    bool IncludeHiddenFolders = false;
    bool IncludeHiddenFiles = false;
    std::string Password;    // modes 2 and 5 only
    std::string FilterFile;  // full path of the filter file; empty: no filter
    bool OpenFolderWhenDone = false;
    std::string FolderToOpen;
    bool Verify = false;  // read the product back once it is made
};

// The progress state the worker publishes.
struct JobProgress {
    int32_t ProgressMax = 0;
    int32_t ProgressPos = 0;
    std::string StatusText;
    std::string DetailText;
};

// Everything the worker asks of its owner. The window program runs each call
// on its main thread and returns when it has run there; the command-line
// program and the tests run them directly.
class JobHost {
public:
    virtual ~JobHost() = default;
    // Copies the owner's prepared job description.
    virtual void LoadJobRequest(JobRequest& request) = 0;
    // The three display updates of the progress view.
    virtual void ShowProgressAll(const JobProgress& progress) = 0;
    virtual void ShowProgressPos(const JobProgress& progress) = 0;
    virtual void ShowProgressText(const JobProgress& progress) = 0;
    // The owner's end-of-job step; called exactly once per job.
    virtual void FinishJob() = 0;
    // Arms the close timer after a job that came from the command line.
    virtual void ArmCloseTimer() = 0;
    // A box with one OK button: an archiver's report (caption: the library's
    // name), a job error (caption "エラー") or the end-of-job warning.
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // Opens a folder in the desktop's file manager.
    virtual void OpenFolder(const std::string& path) = 0;
    // Values of the owner read outside the synchronized calls; neither
    // changes while a job runs.
    virtual int NoFileMsg() const = 0;
    virtual bool StartedFromCommandLine() const = 0;
    // The collected folders and files, once both walks are done (the lists
    // the job then works through, in order).
    virtual void EntriesCollected(const std::vector<std::string>& /*folders*/,
                                  const std::vector<std::string>& /*files*/) {}
};

// Caption of the box that reports a job's error.
inline constexpr const char* kErrorCaption = "エラー";
// Caption of the box that tells about entries a job could not handle.
inline constexpr const char* kWarningCaption = "警告";

// The text of the end-of-job warning: how many entries could not be read,
// created or copied, and the first of them with its reason.
std::string ProblemsWarningText(const std::vector<Problem>& problems);

// The product a job makes: the copy folder, the archive or the list file.
std::string JobProductPath(const JobRequest& request);

class TTessarineThread {
public:
    explicit TTessarineThread(JobHost& host) : host_(host) {}
    // Waits for a started run to end.
    ~TTessarineThread();
    TTessarineThread(const TTessarineThread&) = delete;
    TTessarineThread& operator=(const TTessarineThread&) = delete;

    // Runs Execute on a new thread. The owner must not wait for the thread
    // inside a host call (the worker is waiting for that call to return).
    void Start();
    // Waits until a started run has ended.
    void Join();

    // The job, start to end, on the calling thread. FinishJob is called
    // exactly once, also when a step fails; a failure is shown first.
    void Execute();

    // After the run: the request as loaded, what could not be handled, and
    // whether a step failed (its message shown through the host).
    const JobRequest& Request() const { return request_; }
    const std::vector<Problem>& Problems() const { return problems_; }
    bool Failed() const { return failed_; }
    const std::string& FailureText() const { return failureText_; }

    // How long the "nothing found" message stays in view.
    std::chrono::milliseconds NothingFoundPause{3000};

private:
    JobHost& host_;
    std::thread thread_;
    JobRequest request_;
    JobProgress progress_;
    std::vector<Problem> problems_;
    bool failed_ = false;
    std::string failureText_;

    void RunSteps(TFileOperation& operation, bool& filter, std::vector<std::string>& folders,
                  std::vector<std::string>& files);
    void CopyTree(TFileOperation& operation, const std::vector<std::string>& folders,
                  const std::vector<std::string>& files);
    void PublishText(const std::string& status, const std::string& detail);
    void PublishPos(int32_t pos);
};

}  // namespace tessarine
