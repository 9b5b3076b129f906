#pragma once
// A job host that records every call of the worker as one line of text, so
// tests can compare a job's calls with the expected sequence.
#include <string>
#include <vector>

#include "launch/ProgressDisplay.h"
#include "engine/TessarineThread.h"

namespace testsupport {

class RecordingHost : public tessarine::DisplayJobHost {
public:
    tessarine::JobRequest request;
    int noFileMsg = 0;
    bool fromCommandLine = false;
    std::vector<std::string> calls;

    void LoadJobRequest(tessarine::JobRequest& r) override {
        calls.push_back("Load");
        r = request;
    }
    void ShowProgressAll(const tessarine::JobProgress& p) override {
        calls.push_back("All " + std::to_string(p.ProgressMax) + " " + std::to_string(p.ProgressPos) + " [" +
                        p.StatusText + "] [" + p.DetailText + "]");
    }
    void ShowProgressPos(const tessarine::JobProgress& p) override {
        calls.push_back("Pos " + std::to_string(p.ProgressPos));
    }
    void ShowProgressText(const tessarine::JobProgress& p) override {
        calls.push_back("Text [" + p.StatusText + "] [" + p.DetailText + "]");
    }
    void FinishJob() override { calls.push_back("Finish"); }
    void ArmCloseTimer() override { calls.push_back("CloseTimer"); }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        calls.push_back("Message " + caption + ": " + text);
    }
    void OpenFolder(const std::string& path) override { calls.push_back("Open " + path); }
    int NoFileMsg() const override { return noFileMsg; }
    bool StartedFromCommandLine() const override { return fromCommandLine; }
};

}  // namespace testsupport
