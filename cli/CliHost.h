#pragma once
// The job host of the command-line program: progress on standard error (a
// bar redrawn in place on a terminal, plain lines otherwise), messages on
// standard error, each entry as it is handled in verbose mode.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/TessarineThread.h"

namespace tessarine {

// How much the command-line program tells while a job runs.
enum class Chattiness { Quiet, Normal, Verbose };

class CliHost : public JobHost {
public:
    CliHost(JobRequest request, std::FILE* out, bool terminal, Chattiness chattiness = Chattiness::Normal)
        : request_(std::move(request)), out_(out), terminal_(terminal), chattiness_(chattiness) {}

    void LoadJobRequest(JobRequest& request) override { request = request_; }
    void ShowProgressAll(const JobProgress& progress) override;
    void ShowProgressPos(const JobProgress& progress) override;
    void ShowProgressText(const JobProgress& progress) override;
    void FinishJob() override;
    void ArmCloseTimer() override {}
    void ShowMessage(const std::string& caption, const std::string& text) override;
    void OpenFolder(const std::string& path) override;
    int NoFileMsg() const override { return 1; }
    bool StartedFromCommandLine() const override { return false; }
    void EntriesCollected(const std::vector<std::string>& folders, const std::vector<std::string>& files) override;

    // An archiver report that names an error was shown.
    bool ArchiverReportedError() const { return archiverError_; }
    // The job found no file.
    bool NothingFound() const { return nothingFound_; }

private:
    JobRequest request_;
    std::FILE* out_;
    bool terminal_;
    Chattiness chattiness_;
    JobProgress shown_;
    std::string lastLine_;
    bool barOnScreen_ = false;
    bool archiverError_ = false;
    bool nothingFound_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    // Verbose copy: the collected lists and how many of their entries were
    // told so far.
    std::vector<std::string> folders_, files_;
    size_t entriesTold_ = 0;

    void Update(const JobProgress& progress, bool force);
    void TellCopiedEntries(const JobProgress& progress);
    void ClearBar();
};

// Opens a folder in the desktop's file manager through xdg-open, started in
// the background and detached, so that the job's end never waits for it.
// The one place the command-line program opens a folder.
void OpenFolderInFileManager(const std::string& path);

}  // namespace tessarine
