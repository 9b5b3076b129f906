#pragma once
// The job host of the command-line program: the job's events as progress on
// standard error (a bar redrawn in place on a terminal, plain lines
// otherwise), each entry as it is handled in verbose mode, errors on
// standard error. The outcome is read from the worker afterwards.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/JobHost.h"

namespace tessarine {

// How much the command-line program tells while a job runs.
enum class Chattiness { Quiet, Normal, Verbose };

class CliHost : public JobHost {
public:
    CliHost(JobRequest request, std::FILE* out, bool terminal, Chattiness chattiness = Chattiness::Normal)
        : request_(std::move(request)), out_(out), terminal_(terminal), chattiness_(chattiness) {}

    void LoadJobRequest(JobRequest& request) override { request = request_; }
    void FinishJob() override;
    void ArmCloseTimer() override {}
    void OpenFolder(const std::string& path) override;
    int NoFileMsg() const override { return 1; }
    bool StartedFromCommandLine() const override { return false; }

    void JobStarted() override {}
    void PhaseStarted(JobPhase phase) override;
    void PhaseDone(JobPhase phase) override;
    void EntriesCollected(const std::vector<std::string>& folders, const PathList& files) override;
    void CopyStarted(int32_t folders, int32_t files) override;
    void MakingFolder(int32_t index, int32_t count) override;
    void CopyingFile(int32_t index, int32_t count) override;
    void CopyDone() override {}
    void NothingFound() override;
    void WorkDone() override;
    void ArchiverReport(const std::string& library, const std::string& report) override;
    void JobFailed(const Message& message) override;
    void JobEnded(const JobOutcome&) override {}

private:
    JobRequest request_;
    std::FILE* out_;
    bool terminal_;
    Chattiness chattiness_;
    // What the progress line shows: a status, a detail, and the share of
    // the job done, in thirds as the window's bar counts them.
    std::string status_, detail_;
    double done_ = 0;
    int32_t copySteps_ = 0;
    std::string lastLine_;
    bool barOnScreen_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    // Verbose copy: the collected lists, told one entry at a time.
    std::vector<std::string> folders_;
    PathList files_;

    void Show(const std::string& status, const std::string& detail, bool force);
    void Tell(std::string_view line);
    void ClearBar();
};

// Opens a folder in the desktop's file manager through xdg-open, started in
// the background and detached, so that the job's end never waits for it;
// not when the desktop's folder handler is this program. The one place the
// command-line program opens a folder.
void OpenFolderInFileManager(const std::string& path);

}  // namespace tessarine
