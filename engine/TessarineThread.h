#pragma once
// One job, run on a worker thread: collect the folders and files beneath the
// source folder, then copy them, compress them or write a list.
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/FileOperation.h"
#include "engine/JobHost.h"
#include "engine/staging.h"

namespace tessarine {

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
    // exactly once, also when a step fails; a failure is shown first. A
    // step's error, memory that runs out included, never leaves this call:
    // it fails the job, so a thread that runs it needs no guard of its own.
    void Execute();

    // After the run: the request as loaded, what could not be handled, and
    // whether a step failed (its message shown through the host).
    const JobRequest& Request() const { return request_; }
    const JobOutcome& Outcome() const { return outcome_; }
    const std::vector<Problem>& Problems() const { return outcome_.problems; }
    bool Failed() const { return outcome_.result == JobResult::Failed; }
    const Message& Failure() const { return failure_; }
    // The failure as the window shows it.
    std::string FailureText() const { return RenderMessage(failure_); }
    JobResult Result() const { return outcome_.result; }
    // No file was collected (in the folder-list mode never any), so no copy
    // or archive was made.
    bool NothingFound() const { return outcome_.nothingFound; }

    // How long the "nothing found" message stays in view.
    std::chrono::milliseconds NothingFoundPause{3000};

private:
    JobHost& host_;
    std::thread thread_;
    JobRequest request_;
    JobOutcome outcome_;
    bool failed_ = false;
    Message failure_;
    // Where the product is made, from the first write of the job on.
    std::optional<JobStaging> staging_;

    // Ends the job as failed with the text of `error`, or with the memory
    // message when memory ran out (also while the text was made or shown).
    void Fail(const std::exception_ptr& error, std::vector<std::string>& folders, PathList& files);
    void RunSteps(TFileOperation& operation, bool& filter, std::vector<std::string>& folders, PathList& files);
    void CopyTree(TFileOperation& operation, const std::vector<std::string>& folders, const PathList& files);
    void Compress(TFileOperation& operation, const PathList& files);
    // The product's path inside the staging folder, which is made on the
    // first call.
    std::string Staged();
    // Renames the finished product to its dated name (the next free one).
    void Publish(TFileOperation& operation);
    void RestampCopyRoot(int folder);
    // A text with the staged product's path as the user knows it: the
    // product's final path (or the dated one, before it has it).
    std::string Shown(std::string text) const;
    // The same for every argument of a message and of its causes.
    Message Shown(Message message) const;
};

}  // namespace tessarine
