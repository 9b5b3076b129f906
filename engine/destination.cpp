#include "engine/destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "engine/Common.h"
#include "engine/TessarineThread.h"
#include "engine/errors.h"
#include "engine/job_mode.h"
#include "engine/unique_fd.h"
#include "engine/worker_threads.h"

namespace tessarine {

namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;
// What a copy takes besides its files' blocks: a folder's own block, and
// the entry of each name in its folder.
constexpr uint64_t kPerEntry = 256;

// Magic numbers of statfs' f_type.
constexpr long kMsdosMagic = 0x4d44;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kNtfsMagic = 0x5346544e;
constexpr long kNtfs3Magic = 0x7366746e;
constexpr long kCifsMagic = static_cast<long>(0xFF534D42);
constexpr long kSmb2Magic = static_cast<long>(0xFE534D42);
constexpr long kSmbMagic = 0x517B;
constexpr long kFuseMagic = 0x65735546;

// The names of FUSE drivers (the mount type's subtype) for the kinds that
// matter here.
std::string KindOfDriver(const std::string& driver) {
    if (driver == "fusefat" || driver == "vfat" || driver == "msdos" || driver == "fat") return "vfat";
    if (driver == "exfat" || driver == "exfat-fuse") return "exfat";
    if (driver == "ntfs-3g" || driver == "ntfs" || driver == "ntfs3" || driver == "lowntfs-3g") return "ntfs";
    if (driver == "smb3" || driver == "smb" || driver == "smbnetfs" || driver == "cifs") return "cifs";
    return driver;
}

// A block device's file system, read from its boot sector (a "fuseblk"
// mount names no driver); empty when the device cannot be read.
std::string KindOnDevice(const std::string& device) {
    UniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    char sector[512];
    if (!fd || ReadFull(fd.Get(), sector, sizeof sector) != static_cast<ssize_t>(sizeof sector)) return {};
    const std::string_view s(sector, sizeof sector);
    if (s.substr(3, 8) == "EXFAT   ") return "exfat";
    if (s.substr(3, 8) == "NTFS    ") return "ntfs";
    if (s.substr(54, 3) == "FAT" || s.substr(82, 5) == "FAT32") return "vfat";
    return {};
}

// Undoes the octal escapes (\040 for a blank) of a mount-table field.
std::string Unescaped(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

// The mount-table type of the mount with device number `dev`, and for a
// "fuseblk" mount without a subtype the kind found on its device.
std::string MountedKind(dev_t dev) {
    std::ifstream table("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, number, field;
        fields >> id >> parent >> number;
        if (number != wanted) continue;
        while (fields >> field && field != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        for (const std::string prefix : {"fuse.", "fuseblk."}) {
            if (type.compare(0, prefix.size(), prefix) == 0) return KindOfDriver(type.substr(prefix.size()));
        }
        if (type == "fuseblk") return KindOnDevice(Unescaped(source));
        return KindOfDriver(type);
    }
    return {};
}

// The path, or the nearest parent of it that exists (the copy makes the
// missing folders).
std::string ExistingFolder(std::string path) {
    struct stat st {};
    while (!path.empty() && ::stat(path.c_str(), &st) != 0) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        const size_t cut = path.rfind('/');
        path = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    }
    return path.empty() ? "." : path;
}

std::string WithSeparators(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string_view NameOfPath(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const size_t cut = path.rfind('/');
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string_view FolderOfPath(std::string_view path) { return path.substr(0, path.rfind('/') + 1); }

// What the one lstat pass over the files found.
struct Sizes {
    uint64_t blocks = 0;                             // bytes of whole blocks the files take
    std::vector<std::pair<size_t, uint64_t>> large;  // files of 4 GiB or more: index, blocks
};

// Reads the size of every regular file of `files`, each relative to a
// descriptor of its folder, on a few threads. Hard links count once.
Sizes ReadSizes(const PathList& files, uint64_t block) {
    constexpr size_t kChunk = 2048;
    std::atomic<size_t> next{0};
    std::mutex mutex;
    Sizes total;
    std::set<std::pair<dev_t, ino_t>> linked;
    std::atomic<bool> stop{false};  // a reading thread raised
    auto work = [&] {
        Sizes mine;
        UniqueFd folderFd;
        std::string_view folder;
        bool opened = false;
        std::string name;
        for (size_t first; !stop && (first = next.fetch_add(kChunk)) < files.size();) {
            const size_t last = std::min(files.size(), first + kChunk);
            for (size_t i = first; i < last; ++i) {
                const std::string_view path = files[i];
                const std::string_view here = FolderOfPath(path);
                if (!opened || here != folder) {
                    folder = here;
                    opened = true;
                    folderFd.Reset(OpenLongPath(AT_FDCWD, folder.empty() ? "." : folder, O_PATH | O_DIRECTORY));
                }
                name.assign(path.substr(here.size()));
                struct stat st {};
                // An entry that cannot be looked at is the copy's to report.
                if (!folderFd || ::fstatat(folderFd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                if (!S_ISREG(st.st_mode)) continue;
                const auto size = static_cast<uint64_t>(st.st_size);
                if (st.st_nlink > 1) {
                    std::lock_guard lock(mutex);
                    if (!linked.emplace(st.st_dev, st.st_ino).second) continue;
                }
                const uint64_t blocks = (size + block - 1) / block * block;
                mine.blocks += blocks;
                if (size >= k4GiB) mine.large.emplace_back(i, blocks);
            }
        }
        std::lock_guard lock(mutex);
        total.blocks += mine.blocks;
        total.large.insert(total.large.end(), mine.large.begin(), mine.large.end());
    };
    const unsigned helpers = files.size() > kChunk ? WorkerThreads(2, 8) - 1 : 0;
    WorkerGroup readers(stop);
    for (unsigned i = 0; i < helpers && !readers.Failed(); ++i) readers.Start(work);
    if (!readers.Failed()) readers.Run(work);
    readers.Finish();
    return total;
}

}  // namespace

bool RefusesWindowsNames(std::string_view fileSystem) {
    return fileSystem == "vfat" || fileSystem == "exfat" || fileSystem == "ntfs" || fileSystem == "cifs";
}

bool HoldsOnlySmallFiles(std::string_view fileSystem) { return fileSystem == "vfat"; }

bool IsWindowsRefusedName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        if ((c >= 0x01 && c <= 0x1F) || std::string_view("\"*:<>?\\|").find(c) != std::string_view::npos) return true;
    }
    return name.back() == '.' || name.back() == ' ';
}

std::string FileSystemOf(const std::string& path) {
    const std::string folder = ExistingFolder(path);
    struct statfs fs {};
    struct stat st {};
    if (::statfs(folder.c_str(), &fs) != 0 || ::stat(folder.c_str(), &st) != 0) return {};
    switch (static_cast<long>(fs.f_type)) {
        case kMsdosMagic: return "vfat";
        case kExfatMagic: return "exfat";
        case kNtfsMagic:
        case kNtfs3Magic: return "ntfs";
        case kCifsMagic:
        case kSmb2Magic:
        case kSmbMagic: return "cifs";
        default: break;
    }
    const std::string kind = MountedKind(st.st_dev);
    return kind.empty() && fs.f_type == kFuseMagic ? "fuse" : kind;
}

PreflightResult Preflight(const JobRequest& request, std::vector<std::string>& folders, PathList& files) {
    PreflightResult result;
    const JobModeInfo* mode = FindJobMode(request.JobMode);
    const bool copy = mode && mode->kind == ProductKind::kCopyFolder;
    const bool lha = mode && mode->format == ArchiveFormat::kLha;
    if (!copy && !lha) return result;  // an archive or a list is one file with a name of the job's own

    const std::string base = request.OutputBase;
    const size_t cut = base.rfind('/');
    result.destination = ExistingFolder(cut == std::string::npos ? "." : cut == 0 ? "/" : base.substr(0, cut));
    uint64_t block = 4096;
    if (copy) {
        result.fileSystem = FileSystemOf(result.destination);
        struct statvfs vfs {};
        // A file system without figures (ramfs, some FUSE mounts) tells no
        // free space: there is nothing to check against.
        if (::statvfs(result.destination.c_str(), &vfs) == 0 && vfs.f_blocks > 0) {
            block = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize ? vfs.f_bsize : block;
            result.available = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
            result.spaceChecked = true;
        }
    }
    const bool names = copy && RefusesWindowsNames(result.fileSystem);
    const bool smallFiles = copy && HoldsOnlySmallFiles(result.fileSystem);

    // Folders come in pre-order, so those beneath a folder left out for
    // its name follow it; each is left out with the topmost one named.
    std::unordered_map<std::string, std::string> leftOutFolders;  // folder -> topmost folder left out
    std::string cutFolder;
    std::vector<std::string> kept;
    kept.reserve(folders.size());
    std::vector<Problem> problems;
    for (size_t i = 0; i < folders.size(); ++i) {
        std::string& folder = folders[i];
        const bool root = i == 0 && folder == request.SourcePath;
        if (!cutFolder.empty() && folder.compare(0, cutFolder.size(), cutFolder) == 0) {
            problems.push_back({folder, MakeMessage(MessageId::kLeftOutWithFolder, {cutFolder})});
            leftOutFolders.emplace(std::move(folder), cutFolder);
        } else if (names && !root && IsWindowsRefusedName(NameOfPath(folder))) {
            problems.push_back({folder, MakeMessage(MessageId::kNameRefused, {result.fileSystem})});
            cutFolder = folder;
            leftOutFolders.emplace(std::move(folder), cutFolder);
        } else {
            kept.push_back(std::move(folder));
        }
    }
    folders = std::move(kept);

    // What the copy takes besides the files' blocks.
    const uint64_t overhead =
        static_cast<uint64_t>(folders.size()) * (block + kPerEntry) + static_cast<uint64_t>(files.size()) * kPerEntry;
    // Where everything stored on the source's file system would fit, the
    // tree fits too, and its sizes need not be read: one lstat per file
    // would cost as much as the collection. Only a destination that keeps
    // holes is judged so (a sparse file grows on FAT and exFAT); a source
    // that stores less than its files hold (compressed, deduplicated) may
    // still fill it, which then ends the copy with one message.
    bool fitsWhole = false;
    if (copy && result.spaceChecked && !RefusesWindowsNames(result.fileSystem)) {
        struct statvfs source {};
        if (::statvfs(request.SourcePath.c_str(), &source) == 0 && source.f_blocks > 0) {
            const uint64_t used = static_cast<uint64_t>(source.f_blocks - source.f_bfree) * source.f_frsize;
            fitsWhole = used + overhead <= result.available;
            if (fitsWhole) result.needed = used + overhead;
        }
    }
    const Sizes sizes = fitsWhole ? Sizes{} : ReadSizes(files, block);
    std::unordered_map<size_t, uint64_t> large(sizes.large.begin(), sizes.large.end());
    std::vector<bool> drop;
    uint64_t droppedBlocks = 0;
    auto leave = [&](size_t i, Message reason) {
        if (drop.empty()) drop.resize(files.size());
        drop[i] = true;
        if (const auto big = large.find(i); big != large.end()) droppedBlocks += big->second;
        problems.push_back({std::string(files[i]), std::move(reason)});
    };
    if (names || !leftOutFolders.empty() || !large.empty()) {
        std::string folderText;
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string_view path = files[i];
            const std::string_view folder = FolderOfPath(path);
            folderText.assign(folder);
            if (const auto holder = leftOutFolders.find(folderText); holder != leftOutFolders.end()) {
                leave(i, MakeMessage(MessageId::kLeftOutWithFolder, {holder->second}));
            } else if (names && IsWindowsRefusedName(path.substr(folder.size()))) {
                leave(i, MakeMessage(MessageId::kNameRefused, {result.fileSystem}));
            } else if (large.count(i) && (lha || smallFiles)) {
                leave(i, lha ? MakeMessage(MessageId::kTooLargeForLha)
                             : MakeMessage(MessageId::kTooLargeForFat, {result.fileSystem}));
            }
        }
    }
    if (!drop.empty()) {
        PathList keptFiles;
        for (size_t i = 0; i < files.size(); ++i)
            if (!drop[i]) keptFiles.push_back(files[i]);
        files = std::move(keptFiles);
    }

    if (copy && !fitsWhole) {
        // The blocks of the files kept (the small files left out are not
        // told apart: a slight overcount), a block per folder and a little
        // per name.
        result.needed = sizes.blocks - std::min(sizes.blocks, droppedBlocks) + overhead;
    }
    result.leftOut = std::move(problems);
    return result;
}

Message NotEnoughSpaceText(const PreflightResult& result) {
    return MakeMessage(MessageId::kNotEnoughSpace,
                       {WithSeparators(result.needed), WithSeparators(result.available), result.destination});
}

}  // namespace tessarine
