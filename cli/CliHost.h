#pragma once
// The job host of the command-line program: progress on standard error (a
// bar redrawn in place on a terminal, plain lines otherwise), messages on
// standard error, nothing opened.
#include <chrono>
#include <cstdio>
#include <string>

#include "engine/ProgressDisplay.h"
#include "engine/TessarineThread.h"

namespace tessarine {

class CliHost : public DisplayJobHost {
public:
    CliHost(JobRequest request, std::FILE* out, bool terminal) : request_(std::move(request)), out_(out), terminal_(terminal) {}

    void LoadJobRequest(JobRequest& request) override { request = request_; }
    void ShowProgressAll(const JobProgress& progress) override;
    void ShowProgressPos(const JobProgress& progress) override;
    void ShowProgressText(const JobProgress& progress) override;
    void FinishJob() override;
    void ArmCloseTimer() override {}
    void ShowMessage(const std::string& caption, const std::string& text) override;
    void OpenFolder(const std::string&) override {}
    int NoFileMsg() const override { return 1; }
    bool StartedFromCommandLine() const override { return false; }

private:
    JobRequest request_;
    std::FILE* out_;
    bool terminal_;
    JobProgress shown_;
    std::string lastLine_;
    bool barOnScreen_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};

    void Update(const JobProgress& progress, bool force);
    void ClearBar();
};

}  // namespace tessarine
