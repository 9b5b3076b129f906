#include "cli/CliHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "archive/Archive.h"
#include "cli/Messages.h"

namespace tessarine {

namespace {

// The program on the executable search path, or empty.
std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        folders = colon == std::string_view::npos ? std::string_view{} : folders.substr(colon + 1);
        if (folder.empty()) folder = ".";
        const std::string candidate = folder + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

void OpenFolderInFileManager(const std::string& path) {
    const std::string program = FindOnPath("xdg-open");
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
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void CliHost::ShowProgressAll(const JobProgress& progress) {
    shown_ = progress;
    TellCopiedEntries(shown_);
    Update(shown_, false);
}

void CliHost::ShowProgressPos(const JobProgress& progress) {
    shown_.ProgressPos = progress.ProgressPos;
    Update(shown_, false);
}

void CliHost::ShowProgressText(const JobProgress& progress) {
    shown_.StatusText = progress.StatusText;
    shown_.DetailText = progress.DetailText;
    if (progress.DetailText == "ファイルが見つかりませんでした") nothingFound_ = true;
    Update(shown_, true);
}

void CliHost::FinishJob() {
    Update(shown_, true);
    ClearBar();
}

void CliHost::ShowMessage(const std::string& caption, const std::string& text) {
    const bool error = caption == kErrorCaption || (caption != kWarningCaption && ReportMentionsError(text));
    if (caption != kErrorCaption && caption != kWarningCaption && ReportMentionsError(text)) archiverError_ = true;
    // Quiet: errors only; the entries left out are listed at the end.
    if (chattiness_ == Chattiness::Quiet && !error) return;
    ClearBar();
    std::fprintf(out_, "%s: %s\n", cli::FromEngine(caption).c_str(), cli::FromEngine(text).c_str());
    std::fflush(out_);
}

void CliHost::OpenFolder(const std::string& path) { OpenFolderInFileManager(path); }

void CliHost::EntriesCollected(const std::vector<std::string>& folders, const std::vector<std::string>& files) {
    if (chattiness_ != Chattiness::Verbose) return;
    if (request_.JobMode == kModeCopy) {
        // Told one by one as the copy reaches them.
        folders_ = folders;
        files_ = files;
        entriesTold_ = 0;
        return;
    }
    // The other jobs hand the whole list over at once.
    ClearBar();
    for (const auto& entry : request_.JobMode == kModeFolderList ? folders : files) {
        std::fprintf(out_, "%s\n", entry.c_str());
    }
    std::fflush(out_);
}

// While copying, the bar runs from 2(F+N) to 3(F+N): position 2(F+N) + k
// stands for the k-th entry, the folders first, then the files.
void CliHost::TellCopiedEntries(const JobProgress& p) {
    const size_t total = folders_.size() + files_.size();
    if (chattiness_ != Chattiness::Verbose || total == 0 || p.ProgressMax != static_cast<int64_t>(3 * total)) return;
    const int64_t k = int64_t{p.ProgressPos} - static_cast<int64_t>(2 * total);
    if (k <= 0 || k > static_cast<int64_t>(total)) return;
    ClearBar();
    for (; entriesTold_ < static_cast<size_t>(k); ++entriesTold_) {
        const size_t i = entriesTold_;
        std::fprintf(out_, "%s\n", (i < folders_.size() ? folders_[i] : files_[i - folders_.size()]).c_str());
    }
    std::fflush(out_);
}

void CliHost::ClearBar() {
    if (terminal_ && barOnScreen_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        barOnScreen_ = false;
    }
}

void CliHost::Update(const JobProgress& p, bool force) {
    if (chattiness_ == Chattiness::Quiet) return;
    const std::string status = cli::FromEngine(p.StatusText);
    const std::string detail = cli::FromEngine(p.DetailText);
    if (!terminal_ || chattiness_ == Chattiness::Verbose) {
        // Plain lines: one per change of the status lines, none per file.
        std::string line = status;
        if (line.empty() && detail.empty()) return;
        if (status.empty()) line = detail;
        else if (p.DetailText == "しばらくお待ちください") line += " ...";
        if (line == lastLine_) return;
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
    const int max = std::max(p.ProgressMax, 1);
    const int filled = static_cast<int>(static_cast<int64_t>(std::clamp(p.ProgressPos, 0, max)) * kWidth / max);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    std::fprintf(out_, "\r\033[K[%s] %3d%% %s %s", bar.c_str(),
                 static_cast<int>(static_cast<int64_t>(std::clamp(p.ProgressPos, 0, max)) * 100 / max), status.c_str(),
                 detail.c_str());
    std::fflush(out_);
    barOnScreen_ = true;
}

}  // namespace tessarine
