#include "engine/FileOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

#include "engine/datafile.h"
#include "engine/text_process.h"
#include "engine/wildcard.h"

namespace tessarine {

namespace {

bool IsDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace

void TFileOperation::RecordProblem(const std::string& path, const std::string& reason) {
    std::lock_guard lock(problemsMutex_);
    Problems.push_back(Problem{path, reason});
}

// ---------------------------------------------------------------------------
// Collection

namespace {

// One folder of the tree below a walk's start.
struct FolderNode {
    std::string path;               // ends with the separator
    std::vector<size_t> subfolders;  // nodes of the kept subfolders, in listing order
};

}  // namespace

void TFileOperation::CollectFolders(const std::string& folder, std::vector<std::string>& folderList,
                                    bool includeHidden) {
    // The folders are read by a few threads at once: reading a folder is the
    // file system's work, and on a disk as on memory several folders can be
    // read in parallel. Each read gives both the folder's subfolders (walked
    // next) and its files (kept for CollectFiles), so a job reads every folder
    // once. The walk order comes from the tree afterwards, so it does not
    // depend on which thread read what first.
    std::deque<FolderNode> nodes;  // references stay valid while it grows
    nodes.push_back(FolderNode{folder, {}});
    std::vector<size_t> pending{0};
    size_t busy = 0;
    std::mutex mutex;
    std::condition_variable changed;

    auto readFolders = [&] {
        std::unique_lock lock(mutex);
        while (true) {
            changed.wait(lock, [&] { return !pending.empty() || busy == 0; });
            if (pending.empty()) return;  // nothing left and nobody reading
            const size_t index = pending.back();
            pending.pop_back();
            FolderNode& node = nodes[index];
            ++busy;
            lock.unlock();

            std::vector<std::string> subfolders;
            FileNames files;
            std::string reason;
            const bool ok = ReadFolder(
                node.path,
                [&](const FolderEntry& e) {
                    if (IsDotOrDotDot(e.name)) return;
                    if (e.isFolder) {
                        if (!includeHidden && IsHiddenName(e.name)) return;
                        std::string path;
                        path.reserve(node.path.size() + e.name.size() + 1);
                        path.append(node.path).append(e.name).push_back(kPathSeparator);
                        subfolders.push_back(std::move(path));
                    } else {
                        files.names.append(e.name).push_back('\0');
                        files.ends.push_back(static_cast<uint32_t>(files.names.size() - 1));
                    }
                },
                &reason);
            if (!ok) RecordProblem(node.path, reason);

            lock.lock();
            folderFiles_.insert_or_assign(node.path, std::move(files));
            for (auto& sub : subfolders) {
                node.subfolders.push_back(nodes.size());
                pending.push_back(nodes.size());
                nodes.push_back(FolderNode{std::move(sub), {}});
            }
            --busy;
            changed.notify_all();
        }
    };

    const unsigned helpers = std::clamp(std::thread::hardware_concurrency(), 2u, 8u) - 1;
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < helpers; ++i) threads.emplace_back(readFolders);
    readFolders();
    for (auto& t : threads) t.join();

    // Pre-order: a folder, then its whole subtree, then its next sibling.
    std::vector<std::pair<size_t, size_t>> stack{{0, 0}};  // node, next subfolder
    while (!stack.empty()) {
        auto& [index, next] = stack.back();
        const FolderNode& node = nodes[index];
        if (next == node.subfolders.size()) {
            stack.pop_back();
            continue;
        }
        const size_t child = node.subfolders[next++];
        folderList.push_back(std::move(nodes[child].path));
        // The path moved out is not needed again: the child's own
        // subfolders carry their full paths.
        stack.emplace_back(child, 0);
    }
}

void TFileOperation::CollectFiles(const std::vector<std::string>& folderList, bool filter, bool includeHidden,
                                  std::vector<std::string>& fileList) {
    fileList.clear();

    // The patterns of the filter, each "*." + the trimmed extension.
    std::vector<std::string> patterns;
    if (filter) {
        for (const auto& ext : ExtensionList) {
            const std::string_view trimmed = TrimBlanks(ext);
            if (!trimmed.empty()) patterns.push_back("*." + std::string(trimmed));
        }
    }

    if (!filter) {
        size_t total = 0;
        for (const auto& entry : folderFiles_) total += entry.second.ends.size();
        fileList.reserve(total);
    }
    FileNames unread;
    for (const auto& folder : folderList) {
        // The names CollectFolders kept for this folder, taken out of the
        // cache so that their memory is given back as the list grows.
        FileNames taken;
        const FileNames* names;
        if (auto cached = folderFiles_.extract(folder)) {
            taken = std::move(cached.mapped());
            names = &taken;
        } else {
            // A folder that CollectFolders did not read (for example the
            // source folder of a caller that did not walk it).
            unread = FileNames{};
            std::string reason;
            const bool ok = ReadFolder(
                folder,
                [&](const FolderEntry& e) {
                    if (e.isFolder || IsDotOrDotDot(e.name)) return;
                    unread.names.append(e.name).push_back('\0');
                    unread.ends.push_back(static_cast<uint32_t>(unread.names.size() - 1));
                },
                &reason);
            if (!ok) RecordProblem(folder, reason);
            names = &unread;
        }

        auto forEachName = [&](auto&& take) {
            uint32_t start = 0;
            for (const uint32_t end : names->ends) {
                const std::string_view name(names->names.data() + start, end - start);
                start = end + 1;
                if (!includeHidden && IsHiddenName(name)) continue;
                take(name);
            }
        };
        auto add = [&](std::string_view name) {
            std::string& path = fileList.emplace_back();
            path.reserve(folder.size() + name.size());
            path.append(folder).append(name);
        };
        if (!filter) {
            forEachName(add);
        } else {
            for (const auto& pattern : patterns) {
                forEachName([&](std::string_view name) {
                    if (MatchesWildcard(name, pattern)) add(name);
                });
            }
        }
    }
    folderFiles_.clear();
}

void TFileOperation::ClearFilter() {
    FilterLines.clear();
    ExtensionList.clear();
}

void TFileOperation::LoadFilter(const std::string& path) {
    ClearFilter();
    FilterLines = ReadDataLines(path);
    BuildExtensionList();
}

void TFileOperation::BuildExtensionList() {
    ExtensionList.clear();
    for (const auto& raw : FilterLines) {
        const std::string_view line = TrimBlanks(raw);
        if (ReadField(1, line) != "1") continue;
        if (ReadField(2, line) != "1") continue;
        ExtensionList.push_back(ReadField(4, line));
    }
}

// ---------------------------------------------------------------------------
// Output

std::string TFileOperation::StripRoot(const std::string& path, const std::string& root) {
    if (path.compare(0, root.size(), root) == 0 && path.size() >= root.size()) return path.substr(root.size());
    return path;
}

bool TFileOperation::MakeFolderPath(std::string path, int& error) {
    if (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
    if (path.empty()) return true;
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    if (errno == EEXIST) {
        if (FolderExists(path)) return true;
        error = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) {
        error = errno;
        return false;
    }
    // A parent is missing: make it first, then this folder.
    const size_t cut = path.rfind(kPathSeparator);
    if (cut == std::string::npos || cut == 0) {
        error = ENOENT;
        return false;
    }
    if (!MakeFolderPath(path.substr(0, cut + 1), error)) return false;
    if (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && FolderExists(path))) return true;
    error = errno;
    return false;
}

void TFileOperation::MakeFolder(const std::string& path) {
    int error = 0;
    if (!MakeFolderPath(path, error)) RecordProblem(path, ErrorText(error));
}

namespace {

// Opens the target for writing, replacing what is there: a link at the
// target is replaced, never written through, and a read-only file is
// replaced as the platform's copy does.
int OpenTarget(const std::string& target, mode_t mode) {
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    int out = ::open(target.c_str(), flags, mode);
    if (out < 0 && (errno == ELOOP || errno == EACCES || errno == ETXTBSY || errno == EPERM)) {
        const int first = errno;
        if (::unlink(target.c_str()) == 0) {
            out = ::open(target.c_str(), flags | O_EXCL, mode);
        } else {
            errno = first;
        }
    }
    return out;
}

bool CopyContent(int in, int out, off_t size) {
    off_t done = 0;
    bool kernelCopy = true;
    while (done < size) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
            if (n > 0) { done += n; continue; }
            if (n == 0) return true;  // the source became shorter meanwhile
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
            kernelCopy = false;
        }
        char buffer[1 << 16];
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::write(out, buffer + put, static_cast<size_t>(got - put));
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            put += n;
        }
        done += got;
    }
    return true;
}

// Removes whatever is at the target so that a new entry can take its name.
void ClearTarget(const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(target.c_str());
}

}  // namespace

void TFileOperation::CopyOneFile(const std::string& source, const std::string& target) {
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    const int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (in < 0) {
        const int error = errno;
        if (::lstat(source.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            // A link stays a link: same text, same time stamps.
            std::string linkText(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
            const ssize_t len = ::readlink(source.c_str(), linkText.data(), linkText.size());
            if (len < 0) { RecordProblem(source, ErrorText(errno)); return; }
            linkText.resize(static_cast<size_t>(len));
            ClearTarget(target);
            if (::symlink(linkText.c_str(), target.c_str()) != 0) { RecordProblem(target, ErrorText(errno)); return; }
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
            return;
        }
        RecordProblem(source, ErrorText(error));
        return;
    }
    if (::fstat(in, &st) != 0) {
        RecordProblem(source, ErrorText(errno));
        ::close(in);
        return;
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    const mode_t mode = st.st_mode & 07777;
    if (!S_ISREG(st.st_mode)) {
        ::close(in);
        // Named pipes and devices are made anew, as `cp -a` does; their
        // content is not a file's content. A socket cannot be made.
        if (S_ISSOCK(st.st_mode)) { RecordProblem(source, ErrorText(EOPNOTSUPP)); return; }
        ClearTarget(target);
        const int rc = S_ISFIFO(st.st_mode) ? ::mkfifo(target.c_str(), mode)
                                            : ::mknod(target.c_str(), st.st_mode, st.st_rdev);
        if (rc != 0) { RecordProblem(target, ErrorText(errno)); return; }
        ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return;
    }

    const int out = OpenTarget(target, mode);
    if (out < 0) {
        RecordProblem(target, ErrorText(errno));
        ::close(in);
        return;
    }
    bool ok = CopyContent(in, out, st.st_size);
    int error = ok ? 0 : errno;
    if (ok && (::fchmod(out, mode) != 0 || ::futimens(out, times) != 0)) { ok = false; error = errno; }
    if (::close(out) != 0 && ok) { ok = false; error = errno; }
    ::close(in);
    if (!ok) RecordProblem(target, ErrorText(error));
}

void SaveListFile(const std::string& path, const std::vector<std::string>& list) {
    WriteLinesAtomically(path, list);
}

}  // namespace tessarine
