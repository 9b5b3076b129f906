#pragma once
// The window program's progress view as the job's events move it: two status
// lines and a bar, updated by three display calls, and boxes with one OK
// button. Every caption and bar value of a job is decided here, once, so
// that the window only draws; the texts are the window's, in Japanese.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/JobHost.h"

namespace tessarine {

// The progress state of the view.
struct JobProgress {
    int32_t ProgressMax = 0;
    int32_t ProgressPos = 0;
    std::string StatusText;
    std::string DetailText;
};

// Caption of the box that reports a job's error.
std::string ErrorCaption();
// Caption of the box that tells about entries a job could not handle.
std::string WarningCaption();

// The text of the end-of-job warning: how many entries could not be read,
// created, copied or archived, and the first of them with its reason.
std::string ProblemsWarningText(const std::vector<Problem>& problems);

// The one line that tells how many entries of a copy kept fewer attributes
// because the destination cannot hold them, and which kinds (NotHeldKind
// bits) it did not keep.
std::string AttributesNotHeldText(size_t count, unsigned kinds);
// The line that tells how many earlier products and staging folders in a
// destination inside the source were not collected.
std::string OwnProductsLeftOutText(size_t count);

// A job host that shows the job in a progress view. The owner implements
// the display calls and the services; the events are turned into display
// calls here.
class DisplayJobHost : public JobHost {
public:
    // The three display updates of the progress view: both lines and the
    // bar; the bar's position; both lines.
    virtual void ShowProgressAll(const JobProgress& progress) = 0;
    virtual void ShowProgressPos(const JobProgress& progress) = 0;
    virtual void ShowProgressText(const JobProgress& progress) = 0;
    // A box with one OK button, shown until it is closed: an archiver's
    // report (caption: the library's name), a job error (caption "エラー")
    // or the end-of-job warning (caption "警告").
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;

    void JobStarted() override;
    void PhaseStarted(JobPhase phase) override;
    void PhaseDone(JobPhase phase) override;
    void CopyStarted(int32_t folders, int32_t files) override;
    void MakingFolder(int32_t index, int32_t count) override;
    void CopyingFile(int32_t index, int32_t count) override;
    void CopyDone() override;
    void NothingFound() override;
    void WorkDone() override;
    void ArchiverReport(const std::string& library, const std::string& report) override;
    void JobFailed(const Message& message) override;
    void JobEnded(const JobOutcome& outcome) override;

private:
    JobProgress progress_;

    void PublishText(const std::string& status, const std::string& detail);
    void PublishPos(int32_t pos);
    void PublishAll(int32_t max, int32_t pos, const std::string& status, const std::string& detail);
};

}  // namespace tessarine
