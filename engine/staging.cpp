#include "engine/staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Common.h"
#include "engine/errors.h"

namespace tessarine {

namespace {

constexpr char kNameAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// A staging folder without an owner record is left alone for this long: its
// job may be between making the folder and writing the record.
constexpr std::time_t kUnrecordedGrace = 10 * 60;

std::string ReadSmallFile(const char* path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// The owner record: who made the folder, on which boot of which host.
std::string OwnerRecord() {
    return "host=" + HostName() + "\nboot=" + ReadSmallFile("/proc/sys/kernel/random/boot_id") +
           "\npid=" + std::to_string(::getpid()) + "\n";
}

std::string RecordValue(const std::string& record, const std::string& key) {
    const std::string prefix = key + "=";
    size_t at = 0;
    while (at < record.size()) {
        const size_t end = std::min(record.find('\n', at), record.size());
        if (record.compare(at, prefix.size(), prefix) == 0)
            return record.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 1;
    }
    return {};
}

std::string ReadRecordAt(int folder) {
    UniqueFd fd(::openat(folder, kStagingOwnerFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 4096) return {};
    std::string text(static_cast<size_t>(st.st_size), '\0');
    const ssize_t n = ReadFullAt(fd.Get(), text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// The names in the folder `name` of `at` (".": `at` itself), "." and ".."
// left out, never through a link; nullopt when it cannot be read.
std::optional<std::vector<std::string>> NamesIn(int at, const char* name) {
    const int listFd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir))
        if (!IsDotOrDotDot(e->d_name)) names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
}

// Nothing in the folder but, perhaps, an owner record cut short.
bool IsEmptyFolder(int folder) {
    const auto names = NamesIn(folder, ".");
    return names &&
           std::all_of(names->begin(), names->end(), [](const std::string& n) { return n == kStagingOwnerFile; });
}

// The jobs that run in this process: their stop flags and staging folders,
// for AbandonRunningJob.
struct Registry {
    std::mutex mutex;
    std::atomic<bool>* stop = nullptr;
    // Each live staging folder: its owner, and its folder and name for the
    // abandon call.
    struct Place {
        const JobStaging* staging;
        int folder;
        std::string name;
    };
    std::vector<Place> places;
    bool abandoned = false;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

bool IsStagingName(std::string_view name) {
    if (name.size() != kStagingPrefix.size() + 6 || name.substr(0, kStagingPrefix.size()) != kStagingPrefix)
        return false;
    for (const char c : name.substr(kStagingPrefix.size())) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) return false;
    }
    return true;
}

bool RemoveTreeAt(int folder, const char* name) {
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(folder, name, 0) == 0 || errno == ENOENT;
    UniqueFd fd(::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened {};
    if (!fd || ::fstat(fd.Get(), &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino)
        return false;
    // A copied folder may have been given a mode without write or search
    // permission; its entries cannot go before it has them again.
    if ((opened.st_mode & 0700) != 0700) ::fchmod(fd.Get(), 0700);
    bool ok = true;
    // A folder whose entries are removed while it is read may skip some;
    // it is read again until it is empty or nothing more goes.
    for (int round = 0; round < 4; ++round) {
        const auto listed = NamesIn(fd.Get(), ".");
        if (!listed) return false;
        const std::vector<std::string>& names = *listed;
        if (names.empty()) break;
        ok = true;
        for (const auto& child : names) {
            struct stat cst {};
            // Never into another file system mounted beneath.
            if (::fstatat(fd.Get(), child.c_str(), &cst, AT_SYMLINK_NOFOLLOW) == 0 && cst.st_dev != st.st_dev) {
                ok = false;
                continue;
            }
            if (!RemoveTreeAt(fd.Get(), child.c_str())) ok = false;
        }
        if (!ok) break;
    }
    return ::unlinkat(folder, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

JobStaging::JobStaging(const std::string& destination) : destination_(WithTrailingSeparator(destination)) {
    auto cannotMake = [&](int error) {
        return TessarineError(MakeMessage(MessageId::kCannotMakeStaging, {destination_}, error));
    };
    destinationFd_.Reset(OpenLongPath(AT_FDCWD, destination_, O_PATH | O_DIRECTORY));
    if (!destinationFd_) throw cannotMake(errno);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (const int error = MakeLockedFolder(); error != EAGAIN) {
            if (error != 0) throw cannotMake(error);
            break;
        }
    }
    if (!folderFd_) throw cannotMake(EEXIST);
    folder_ = destination_ + name_ + "/";
    // The record is written only once the lock is held, so a folder with a
    // record and a free lock has lost its job.
    const std::string record = OwnerRecord();
    UniqueFd owner(
        ::openat(folderFd_.Get(), kStagingOwnerFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!owner || !WriteFullAt(owner.Get(), record.data(), record.size(), 0) || !owner.Close()) {
        const int error = errno;
        owner.Reset();
        Forget();  // the destructor does not run
        throw cannotMake(error);
    }
}

int JobStaging::MakeLockedFolder() {
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        for (auto& r : random) r = static_cast<unsigned char>(std::rand());
    }
    std::string name(kStagingPrefix);
    for (const unsigned char r : random) name += kNameAlphabet[r % (sizeof kNameAlphabet - 1)];
    {
        // Made and registered in one step, so that an abandoning signal
        // either comes first (and no folder is made) or finds the folder.
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        if (registry.abandoned) return ECANCELED;
        if (::mkdirat(destinationFd_.Get(), name.c_str(), 0700) != 0) return errno == EEXIST ? EAGAIN : errno;
        folderFd_.Reset(::openat(destinationFd_.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folderFd_) {
            const int error = errno;
            ::unlinkat(destinationFd_.Get(), name.c_str(), AT_REMOVEDIR);
            return error;
        }
        name_ = name;
        registry.places.push_back({this, destinationFd_.Get(), name_});
    }
    // The lock says the job lives. Another job's clean-up may have found the
    // new folder unlocked and without record: it holds the lock then, or
    // has removed the folder already; either way a new one is made. A file
    // system without locks (some network mounts) leaves the folder
    // unlocked, and a clean-up that cannot lock it leaves it alone.
    struct stat st {};
    const bool taken = ::flock(folderFd_.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (taken || (::fstat(folderFd_.Get(), &st) == 0 && st.st_nlink == 0)) {
        Forget(false);
        return EAGAIN;
    }
    return 0;
}

void JobStaging::Forget(bool remove) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::erase_if(registry.places, [this](const Registry::Place& p) { return p.staging == this; });
    if (remove && !name_.empty()) RemoveTreeAt(destinationFd_.Get(), name_.c_str());
    folderFd_.Reset();
    name_.clear();
}

JobStaging::~JobStaging() { Forget(); }

bool JobStaging::KeepsRenamedFolders() const {
    const int at = folderFd_.Get();
    bool kept = false;
    if (::mkdirat(at, "probe", 0700) == 0) {
        UniqueFd probe(::openat(at, "probe", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        UniqueFd file(probe ? ::openat(probe.Get(), "kept", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600) : -1);
        // The folder is read, not looked up: the kernel's cache would still
        // find the moved name where the file system lost it.
        if (file && file.Close() && ::renameat(at, "probe", at, "probed") == 0) {
            const auto names = NamesIn(at, "probed");
            kept = names && std::find(names->begin(), names->end(), "kept") != names->end();
        }
    }
    RemoveTreeAt(at, "probe");
    RemoveTreeAt(at, "probed");
    return kept;
}

std::optional<std::string> JobStaging::Publish(const std::string& name, const std::string& stem,
                                               const std::string& extension) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (registry.abandoned) {
        errno = ECANCELED;
        return std::nullopt;
    }
    for (int n = 1; n < 10000; ++n) {
        const std::string candidate = stem + (n > 1 ? "_" + std::to_string(n) : std::string()) + extension;
        if (::renameat2(folderFd_.Get(), name.c_str(), destinationFd_.Get(), candidate.c_str(), RENAME_NOREPLACE) == 0)
            return destination_ + candidate;
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return std::nullopt;
        // A file system that cannot rename without replacing: the name is
        // looked at first (another job could take it in between; a job of
        // this program takes names only this way, at most once per second).
        struct stat st {};
        if (::fstatat(destinationFd_.Get(), candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
        if (errno != ENOENT) return std::nullopt;
        if (::renameat(folderFd_.Get(), name.c_str(), destinationFd_.Get(), candidate.c_str()) == 0)
            return destination_ + candidate;
        return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

size_t RemoveAbandonedStaging(const std::string& destination) {
    UniqueFd folder(OpenLongPath(AT_FDCWD, destination, O_RDONLY | O_DIRECTORY));
    if (!folder) return 0;
    auto names = NamesIn(folder.Get(), ".");
    if (!names) return 0;
    std::erase_if(*names, [](const std::string& n) { return !IsStagingName(n); });
    const std::string host = HostName();
    const std::string boot = ReadSmallFile("/proc/sys/kernel/random/boot_id");
    size_t removed = 0;
    for (const auto& name : *names) {
        struct stat st {};
        if (::fstatat(folder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        UniqueFd staging(::openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!staging) continue;
        // Held: its job runs. Not to be had (no locks here): nobody can tell.
        if (::flock(staging.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        const std::string record = ReadRecordAt(staging.Get());
        if (record.empty()) {
            // Without a record and a lock: a job killed as it made the
            // folder (nothing in it yet), or a temporary of the archiver
            // library, which is given time to finish.
            if (!IsEmptyFolder(staging.Get()) && std::time(nullptr) - st.st_mtime < kUnrecordedGrace) continue;
        } else if (RecordValue(record, "host") != host) {
            continue;  // a job of another machine on a shared destination
        }
        // Same host: a free lock means its job died, another boot that it
        // ended with the machine.
        if (RemoveTreeAt(folder.Get(), name.c_str())) ++removed;
    }
    return removed;
}

void RegisterRunningJob(std::atomic<bool>* stop) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.stop = stop;
    if (stop) registry.abandoned = false;
}

void KillChildProcesses() {
    UniqueFd tasks(::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = tasks ? ::fdopendir(::dup(tasks.Get())) : nullptr;
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        if (IsDotOrDotDot(e->d_name)) continue;
        const std::string path = std::string("/proc/self/task/") + e->d_name + "/children";
        std::ifstream children(path);
        long pid = 0;
        while (children >> pid)
            if (pid > 1) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    ::closedir(dir);
}

void AbandonRunningJob() {
    Registry& registry = TheRegistry();
    {
        std::lock_guard lock(registry.mutex);
        registry.abandoned = true;
        if (registry.stop) registry.stop->store(true);
    }
    KillChildProcesses();
    // The copy stops at its next entry; its staging folder is removed once
    // nothing more is made in it, or after two seconds of trying.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (true) {
        bool gone = true;
        {
            std::lock_guard lock(registry.mutex);
            for (const auto& place : registry.places)
                if (!RemoveTreeAt(place.folder, place.name.c_str())) gone = false;
        }
        if (gone || std::chrono::steady_clock::now() >= until) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace tessarine
