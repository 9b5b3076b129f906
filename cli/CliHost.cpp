#include "cli/CliHost.h"

#include <algorithm>


namespace tessarine {


void CliHost::ShowProgressAll(const JobProgress& progress) {
    shown_ = progress;
    Update(shown_, false);
}

void CliHost::ShowProgressPos(const JobProgress& progress) {
    shown_.ProgressPos = progress.ProgressPos;
    Update(shown_, false);
}

void CliHost::ShowProgressText(const JobProgress& progress) {
    shown_.StatusText = progress.StatusText;
    shown_.DetailText = progress.DetailText;
    Update(shown_, true);
}

void CliHost::FinishJob() {
    Update(shown_, true);
    ClearBar();
}

void CliHost::ShowMessage(const std::string& caption, const std::string& text) {
    ClearBar();
    std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
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
    if (!terminal_) {
        // Plain lines: one per change of the status lines, none per file.
        std::string line = p.StatusText;
        if (line.empty() && p.DetailText.empty()) return;
        if (p.StatusText.empty()) line = p.DetailText;
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
                 static_cast<int>(static_cast<int64_t>(std::clamp(p.ProgressPos, 0, max)) * 100 / max),
                 p.StatusText.c_str(), p.DetailText.c_str());
    std::fflush(out_);
    barOnScreen_ = true;
}

}  // namespace tessarine
