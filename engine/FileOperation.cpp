#include "engine/FileOperation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <thread>

#include "engine/datafile.h"
#include "engine/text_process.h"
#include "engine/tree_copy.h"
#include "engine/unique_fd.h"
#include "engine/wildcard.h"
#include "engine/worker_threads.h"
#include "filters/filterfile.h"

namespace tessarine {

namespace {

Message SystemError(int error) { return MakeMessage(MessageId::kSystemError, {}, error); }

}  // namespace

bool IsDestinationFailure(int error) {
    return error == ENOSPC || error == EDQUOT || error == EROFS || error == EIO || error == ENOTCONN || error == ESTALE;
}

void TFileOperation::RecordProblem(const std::string& path, Message reason) {
    std::lock_guard lock(problemsMutex_);
    Problems.push_back(Problem{path, std::move(reason)});
}

void TFileOperation::RecordDestinationFailure(const std::string& path, int error) {
    {
        std::lock_guard lock(problemsMutex_);
        if (destinationFailure_.error == 0) destinationFailure_ = WriteFailure{error, path};
    }
    StopRequested = true;
}

WriteFailure TFileOperation::DestinationFailure() const {
    std::lock_guard lock(problemsMutex_);
    return destinationFailure_;
}

// ---------------------------------------------------------------------------
// Collection

namespace {

// One folder of the tree below a walk's start.
struct FolderNode {
    std::string path;                // ends with the separator
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
    bool failed = false;  // a reader raised; the others end too
    std::mutex mutex;
    std::condition_variable changed;

    auto readFolders = [&] {
        std::unique_lock lock(mutex);
        while (true) {
            changed.wait(lock, [&] { return failed || !pending.empty() || busy == 0; });
            if (failed || pending.empty()) return;  // nothing left and nobody reading
            const size_t index = pending.back();
            pending.pop_back();
            FolderNode& node = nodes[index];
            ++busy;
            lock.unlock();
            try {
                std::vector<std::string> subfolders;
                FileNames files;
                int error = 0;
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
                    &error);
                if (!ok) RecordProblem(node.path, SystemError(error));

                lock.lock();
                folderFiles_.insert_or_assign(node.path, std::move(files));
                for (auto& sub : subfolders) {
                    node.subfolders.push_back(nodes.size());
                    pending.push_back(nodes.size());
                    nodes.push_back(FolderNode{std::move(sub), {}});
                }
            } catch (...) {
                // Memory ran out: the walk cannot be whole, and the readers
                // waiting for this one must not wait for ever.
                if (!lock.owns_lock()) lock.lock();
                --busy;
                failed = true;
                changed.notify_all();
                throw;
            }
            --busy;
            changed.notify_all();
        }
    };

    WorkerGroup readers(StopRequested);
    for (unsigned i = 1; i < WorkerThreads(2, 8) && !readers.Failed(); ++i) readers.Start(readFolders);
    if (!readers.Failed()) readers.Run(readFolders);
    if (readers.Failed()) {
        std::lock_guard lock(mutex);
        failed = true;
        changed.notify_all();
    }
    readers.Finish();

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
                                  PathList& fileList) {
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
        // Room for every path: each folder's path once per name in it, and
        // the names (their NULs stand in for the separators not needed).
        size_t count = 0;
        size_t bytes = 0;
        for (const auto& [folder, names] : folderFiles_) {
            count += names.ends.size();
            bytes += folder.size() * names.ends.size() + names.names.size();
        }
        fileList.reserve(count, bytes);
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
            int error = 0;
            const bool ok = ReadFolder(
                folder,
                [&](const FolderEntry& e) {
                    if (e.isFolder || IsDotOrDotDot(e.name)) return;
                    unread.names.append(e.name).push_back('\0');
                    unread.ends.push_back(static_cast<uint32_t>(unread.names.size() - 1));
                },
                &error);
            if (!ok) RecordProblem(folder, SystemError(error));
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
        auto add = [&](std::string_view name) { fileList.Append(folder, name); };
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
#ifdef __GLIBC__
    // The blocks of names were made on the reading threads, whose heaps keep
    // the freed memory for those threads; it goes back to the system here,
    // before the job's long phase.
    ::malloc_trim(0);
#endif
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
    for (const auto& line : FilterLines) {
        ExtensionRow row;
        if (ParseExtensionRow(line, row) && row.Enabled) ExtensionList.push_back(std::move(row.Extension));
    }
}

// ---------------------------------------------------------------------------
// Output

std::string TFileOperation::StripRoot(std::string_view path, std::string_view root) {
    if (path.compare(0, root.size(), root) == 0 && path.size() >= root.size())
        return std::string(path.substr(root.size()));
    return std::string(path);
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
    if (!MakeFolderPath(path, error)) RecordProblem(path, SystemError(error));
}

void TFileOperation::CopyOneFile(const std::string& source, const std::string& target) {
    // The folders are the caller's paths, links and all; the entries
    // themselves are never followed.
    auto split = [](const std::string& path) {
        const size_t cut = path.rfind(kPathSeparator);
        if (cut == std::string::npos) return std::pair<std::string, std::string>(".", path);
        return std::pair<std::string, std::string>(cut == 0 ? "/" : path.substr(0, cut), path.substr(cut + 1));
    };
    const auto [sourceFolder, sourceName] = split(source);
    const auto [targetFolder, targetName] = split(target);
    const UniqueFd from(OpenLongPath(AT_FDCWD, sourceFolder, O_PATH | O_DIRECTORY));
    if (!from) return RecordProblem(source, SystemError(errno));
    const UniqueFd to(OpenLongPath(AT_FDCWD, targetFolder, O_PATH | O_DIRECTORY));
    if (!to) return RecordProblem(target, SystemError(errno));
    CopyEntryAt(*this, from.Get(), sourceName.c_str(), to.Get(), targetName.c_str(), source, target);
}

std::string_view ListFileLine(std::string_view entry, std::string& held) {
    if (entry.find_first_of("\r\n") == std::string_view::npos) return entry;
    held.assign(1, '\\');
    for (const char c : entry) {
        switch (c) {
            case '\\': held += "\\\\"; break;
            case '\n': held += "\\n"; break;
            case '\r': held += "\\r"; break;
            default: held += c;
        }
    }
    return held;
}

void SaveListFile(const std::string& path, const PathList& list) {
    std::string held;
    WriteLinesAtomically(path, list.size(), [&list, &held](size_t k) { return ListFileLine(list[k], held); });
}

}  // namespace tessarine
