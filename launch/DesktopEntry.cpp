#include "launch/DesktopEntry.h"

#include "engine/Common.h"

#include "engine/child_process.h"

namespace tessarine {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

bool IsOwnDesktopEntry(std::string_view handler) {
    // xdg-mime prints one entry; a list separated by ";" is read as the
    // desktop reads it, the first entry wins.
    handler = Trimmed(handler.substr(0, handler.find(';')));
    return handler == std::string(kDesktopFileId) + ".desktop" || handler == "tessarine.desktop";
}

bool MayHandFolderToDesktop(std::string_view folderHandler) { return !IsOwnDesktopEntry(folderHandler); }

std::string DefaultFolderHandler() {
    const std::string program = FindProgramOnPath("xdg-mime");
    if (program.empty()) return {};
    ChildCommand command;
    command.program = program;
    command.argv = {"xdg-mime", "query", "default", "inode/directory"};
    command.outLimit = 4096;
    command.errLimit = 0;
    // The question is asked after a job; a desktop that does not answer
    // must not hold the program up.
    command.timeout = std::chrono::seconds(10);
    const ChildResult run = RunChild(command);
    if (run.code() != 0) return {};
    return std::string(Trimmed(run.out));
}

}  // namespace tessarine
