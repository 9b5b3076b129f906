#include "engine/DesktopEntry.h"

#include "engine/Common.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "engine/unique_fd.h"

extern char** environ;

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
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {};
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("xdg-mime"), const_cast<char*>("query"), const_cast<char*>("default"),
                    const_cast<char*>("inode/directory"), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Reset();
    if (spawned != 0) return {};

    std::string answer;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(readEnd.Get(), buffer, sizeof buffer);
        if (n > 0 && answer.size() < 4096) answer.append(buffer, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    int status = 0;
    WaitForChild(pid, status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return std::string(Trimmed(answer));
}

}  // namespace tessarine
