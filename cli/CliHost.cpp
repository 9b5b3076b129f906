#include "cli/CliHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "cli/Messages.h"
#include "engine/Common.h"
#include "launch/DesktopEntry.h"
#include "engine/TessarineThread.h"
#include "engine/job_mode.h"

namespace tessarine {

namespace {}  // namespace

void OpenFolderInFileManager(const std::string& path) {
    if (!MayHandFolderToDesktop(DefaultFolderHandler())) return;
    const std::string program = FindProgramOnPath("xdg-open");
    if (program.empty()) return;
    const char* argv[] = {program.c_str(), path.c_str(), nullptr};
    // Twice forked: the opener belongs to no one here, holds none of our
    // descriptors (standard output included, so a reader of our output
    // sees its end when we end) and is never waited for beyond the first,
    // immediate exit.
    const pid_t child = ::fork();
    if (child < 0) return;
    if (child == 0) {
        ::setsid();
        const pid_t opener = ::fork();
        if (opener == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            ::close_range(3, ~0u, 0);
            ::execv(argv[0], const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    WaitForChild(child, status);
}

using cli::Msg;

void CliHost::PhaseStarted(JobPhase phase) {
    Msg status = Msg::CollectingFolders;
    switch (phase) {
        case JobPhase::CollectingFolders: status = Msg::CollectingFolders; break;
        case JobPhase::CollectingFiles: status = Msg::CollectingFiles; break;
        case JobPhase::CompressingZip: status = Msg::CompressingZip; break;
        case JobPhase::CompressingSevenZip: status = Msg::CompressingSevenZip; break;
        case JobPhase::CompressingLha: status = Msg::CompressingLha; break;
        case JobPhase::Verifying: status = Msg::Verifying; break;
    }
    Show(cli::Text(status), "...", true);
}

void CliHost::PhaseDone(JobPhase phase) {
    done_ = phase == JobPhase::CollectingFolders ? 1.0 / 3 : 2.0 / 3;
    Show(status_, detail_, false);
}

void CliHost::EntriesCollected(const std::vector<std::string>& folders, const PathList& files) {
    if (chattiness_ != Chattiness::Verbose) return;
    const JobModeInfo* mode = FindJobMode(request_.JobMode);
    if (mode && mode->kind == ProductKind::kCopyFolder) {
        // Told one by one as the copy reaches them.
        folders_ = folders;
        files_ = files;
        return;
    }
    // The other jobs hand the whole list over at once.
    if (mode && mode->entries == ProductEntries::kFolders) {
        for (const auto& entry : folders) Tell(entry);
    } else {
        for (const auto entry : files) Tell(entry);
    }
}

void CliHost::CopyStarted(int32_t folders, int32_t files) { copySteps_ = folders + files; }

void CliHost::MakingFolder(int32_t index, int32_t count) {
    done_ = (2.0 * copySteps_ + index) / (3.0 * std::max(copySteps_, 1));
    if (static_cast<size_t>(index) <= folders_.size()) Tell(folders_[static_cast<size_t>(index) - 1]);
    Show(cli::Text(Msg::MakingFolders), std::to_string(index) + "/" + std::to_string(count), false);
}

void CliHost::CopyingFile(int32_t index, int32_t count) {
    done_ = (2.0 * copySteps_ + (copySteps_ - count) + index) / (3.0 * std::max(copySteps_, 1));
    if (static_cast<size_t>(index) <= files_.size()) Tell(files_[static_cast<size_t>(index) - 1]);
    Show(cli::Text(Msg::CopyingFiles), std::to_string(index) + "/" + std::to_string(count), false);
}

void CliHost::NothingFound() {
    done_ = 1;
    Show("", cli::Text(Msg::NothingFound), true);
}

void CliHost::WorkDone() {
    done_ = 1;
    Show(status_, detail_, false);
}

void CliHost::ArchiverReport(const std::string& library, const std::string& report) {
    ClearBar();
    std::fprintf(out_, "%s: %s\n", library.c_str(), report.c_str());
    std::fflush(out_);
}

void CliHost::JobFailed(const Message& message) {
    ClearBar();
    std::fprintf(out_, "%s: %s\n", cli::Text(Msg::ErrorCaption).c_str(), cli::Render(message).c_str());
    std::fflush(out_);
}

void CliHost::FinishJob() {
    Show(status_, detail_, true);
    ClearBar();
}

void CliHost::OpenFolder(const std::string& path) { OpenFolderInFileManager(path); }

void CliHost::Tell(std::string_view line) {
    ClearBar();
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void CliHost::ClearBar() {
    if (terminal_ && barOnScreen_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        barOnScreen_ = false;
    }
}

void CliHost::Show(const std::string& status, const std::string& detail, bool force) {
    status_ = status;
    detail_ = detail;
    if (chattiness_ == Chattiness::Quiet) return;
    if (!terminal_ || chattiness_ == Chattiness::Verbose) {
        // Plain lines: one per change of status, none per file.
        const std::string line = status.empty() ? detail : detail == "..." ? status + " ..." : status;
        if (line.empty() || line == lastLine_) return;
        lastLine_ = line;
        std::fprintf(out_, "%s\n", line.c_str());
        std::fflush(out_);
        return;
    }
    // On a terminal the bar is redrawn at most ten times a second.
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    constexpr int kWidth = 30;
    const double share = std::clamp(done_, 0.0, 1.0);
    const int filled = static_cast<int>(share * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    std::fprintf(out_, "\r\033[K[%s] %3d%% %s %s", bar.c_str(), static_cast<int>(share * 100), status.c_str(),
                 detail.c_str());
    std::fflush(out_);
    barOnScreen_ = true;
}

}  // namespace tessarine
