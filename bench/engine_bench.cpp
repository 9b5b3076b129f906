// Runs one job of the engine without a window, for the benchmarks:
//   engine_bench list SRC OUTBASE [FILTER.dat]   file list job (OUTBASE.txt)
//   engine_bench copy SRC OUTBASE [FILTER.dat]   copy job (folder OUTBASE)
// Progress calls go to a host that ignores them, so the figures are those
// of the work itself.
#include <cstdio>
#include <cstring>
#include <string>

#include "launch/ProgressDisplay.h"
#include "engine/TessarineThread.h"

namespace {

class QuietHost : public tessarine::DisplayJobHost {
public:
    tessarine::JobRequest request;
    void LoadJobRequest(tessarine::JobRequest& r) override { r = request; }
    void ShowProgressAll(const tessarine::JobProgress&) override {}
    void ShowProgressPos(const tessarine::JobProgress&) override {}
    void ShowProgressText(const tessarine::JobProgress&) override {}
    void FinishJob() override {}
    void ArmCloseTimer() override {}
    void ShowMessage(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    void OpenFolder(const std::string&) override {}
    int NoFileMsg() const override { return 0; }
    bool StartedFromCommandLine() const override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (std::strcmp(argv[1], "list") != 0 && std::strcmp(argv[1], "copy") != 0)) {
        std::fprintf(stderr, "usage: engine_bench list|copy SRC OUTBASE [FILTER.dat]\n");
        return 2;
    }
    QuietHost host;
    host.request.JobMode =
        std::strcmp(argv[1], "list") == 0 ? tessarine::JobMode::kFileList : tessarine::JobMode::kCopy;
    host.request.SourcePath = argv[2];
    if (host.request.SourcePath.back() != '/') host.request.SourcePath += '/';
    host.request.OutputBase = argv[3];
    if (argc > 4) host.request.FilterFile = argv[4];
    host.request.IncludeHiddenFiles = true;
    host.request.IncludeHiddenFolders = true;
    tessarine::TTessarineThread worker(host);
    worker.Execute();
    return worker.Failed() ? 1 : (worker.Problems().empty() ? 0 : 3);
}
