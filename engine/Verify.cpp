#include "engine/Verify.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "engine/Common.h"
#include "engine/FileOperation.h"
#include "engine/child_process.h"
#include "engine/datafile.h"
#include "engine/errors.h"
#include "engine/job_mode.h"
#include "libraries/lha/lha_reader.h"
#include "engine/secrets.h"
#include "engine/tree_copy.h"
#include "engine/unique_fd.h"
#include "engine/worker_threads.h"
#include "engine/zip_directory.h"

extern char** environ;

namespace tessarine {

namespace {

bool SameTime(const timespec& source, const timespec& target) {
    if (source.tv_sec == target.tv_sec && source.tv_nsec == target.tv_nsec) return true;
    // A file system with coarser time stamps keeps the time rounded down.
    const int64_t s = int64_t{source.tv_sec} * 1000000000 + source.tv_nsec;
    const int64_t t = int64_t{target.tv_sec} * 1000000000 + target.tv_nsec;
    return t <= s && s - t < 2000000000 && target.tv_nsec % 1000 == 0;
}

// Compares the content of two open regular files of equal size.
std::optional<Message> SameContent(int a, int b, off_t size, std::vector<char>& bufA, std::vector<char>& bufB) {
    off_t at = 0;
    while (at < size) {
        const size_t want = static_cast<size_t>(std::min<off_t>(size - at, static_cast<off_t>(bufA.size())));
        const ssize_t gotA = ReadFullAt(a, bufA.data(), want, at);
        if (gotA < 0) return MakeMessage(MessageId::kDefectSourceUnreadable, {}, errno);
        if (static_cast<size_t>(gotA) < want) return MakeMessage(MessageId::kDefectSourceShorter);
        const ssize_t gotB = ReadFullAt(b, bufB.data(), want, at);
        if (gotB < 0) return MakeMessage(MessageId::kDefectCopyUnreadable, {}, errno);
        if (static_cast<size_t>(gotB) < want) return MakeMessage(MessageId::kDefectCopyShorter);
        if (std::memcmp(bufA.data(), bufB.data(), want) != 0) {
            const auto end = bufA.begin() + static_cast<std::ptrdiff_t>(want);
            const auto diff = std::mismatch(bufA.begin(), end, bufB.begin());
            return MakeMessage(MessageId::kDefectContentDiffers, {std::to_string(at + (diff.first - bufA.begin()))});
        }
        at += static_cast<off_t>(want);
    }
    return std::nullopt;
}

std::string LinkText(int folder, const char* name, size_t hint, bool& ok) {
    std::string text(std::max<size_t>(hint, 255) + 1, '\0');
    const ssize_t n = ::readlinkat(folder, name, text.data(), text.size());
    ok = n >= 0;
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

// The extended attributes of an open file: name and value.
std::optional<std::map<std::string, std::string>> ExtendedAttributes(int fd) {
    std::vector<char> names(1024);
    ssize_t listed;
    while ((listed = ::flistxattr(fd, names.data(), names.size())) < 0 && errno == ERANGE)
        names.resize(names.size() * 4);
    std::map<std::string, std::string> attributes;
    if (listed < 0) {
        if (errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS) return attributes;
        return std::nullopt;
    }
    for (const char* name = names.data(); name < names.data() + listed; name += std::strlen(name) + 1) {
        std::string value(256, '\0');
        ssize_t size;
        while ((size = ::fgetxattr(fd, name, value.data(), value.size())) < 0 && errno == ERANGE)
            value.resize(value.size() * 4);
        if (size < 0) {
            if (errno == ENODATA) continue;  // removed meanwhile
            return std::nullopt;
        }
        value.resize(static_cast<size_t>(size));
        attributes.emplace(name, std::move(value));
    }
    return attributes;
}

// Every extended attribute of the source is on the copy with its value,
// but for what the destination did not keep. ACLs are the
// system.posix_acl_* ones; the security label is the system's to give
// (a copy is labelled by the policy of where it lies).
std::optional<Message> SameExtendedAttributes(int source, int copy, unsigned notHeld) {
    const bool acls = !(notHeld & kNotHeldAcls), others = !(notHeld & kNotHeldExtendedAttributes);
    if (!acls && !others) return std::nullopt;
    const auto a = ExtendedAttributes(source);
    if (!a) return MakeMessage(MessageId::kDefectSourceAttributesUnreadable, {}, errno);
    if (a->empty()) return std::nullopt;
    const auto b = ExtendedAttributes(copy);
    if (!b) return MakeMessage(MessageId::kDefectCopyAttributesUnreadable, {}, errno);
    for (const auto& [name, value] : *a) {
        if (name == "security.selinux") continue;
        if (!(name.rfind("system.posix_acl_", 0) == 0 ? acls : others)) continue;
        const auto hit = b->find(name);
        if (hit == b->end()) return MakeMessage(MessageId::kDefectAttributeMissing, {name});
        if (hit->second != value) return MakeMessage(MessageId::kDefectAttributeDiffers, {name});
    }
    return std::nullopt;
}

// One collected entry `name` of the source folder against its copy in the
// target folder; what the destination did not keep (`notHeld`) is not held
// against the copy.
std::optional<Message> CompareEntry(int sourceFolder, int targetFolder, const char* name, unsigned notHeld,
                                    std::vector<char>& bufA, std::vector<char>& bufB) {
    struct stat s {
    }, t{};
    if (::fstatat(sourceFolder, name, &s, AT_SYMLINK_NOFOLLOW) != 0)
        return MakeMessage(MessageId::kDefectSourceUnreadable, {}, errno);
    if (::fstatat(targetFolder, name, &t, AT_SYMLINK_NOFOLLOW) != 0)
        return MakeMessage(MessageId::kDefectCopyMissing, {}, errno);
    if ((s.st_mode & S_IFMT) != (t.st_mode & S_IFMT)) return MakeMessage(MessageId::kDefectOtherKind);
    if (::geteuid() == 0 && !(notHeld & kNotHeldOwners) && (s.st_uid != t.st_uid || s.st_gid != t.st_gid)) {
        return MakeMessage(MessageId::kDefectOwnerDiffers);
    }
    if (S_ISLNK(s.st_mode)) {
        bool okS = false, okT = false;
        const std::string a = LinkText(sourceFolder, name, static_cast<size_t>(s.st_size), okS);
        const std::string b = LinkText(targetFolder, name, static_cast<size_t>(t.st_size), okT);
        if (!okS || !okT) return MakeMessage(MessageId::kDefectLinkUnreadable, {}, errno);
        if (a != b) return MakeMessage(MessageId::kDefectLinkElsewhere);
        if (!(notHeld & kNotHeldLinkTimes) && !SameTime(s.st_mtim, t.st_mtim)) {
            return MakeMessage(MessageId::kDefectLinkTimeDiffers);
        }
        return std::nullopt;
    }
    if (!(notHeld & kNotHeldPermissions) && (s.st_mode & 07777) != (t.st_mode & 07777)) {
        return MakeMessage(MessageId::kDefectModeDiffers);
    }
    if (!SameTime(s.st_mtim, t.st_mtim)) return MakeMessage(MessageId::kDefectTimeDiffers);
    if (!S_ISREG(s.st_mode)) {
        if ((S_ISCHR(s.st_mode) || S_ISBLK(s.st_mode)) && s.st_rdev != t.st_rdev) {
            return MakeMessage(MessageId::kDefectDeviceDiffers);
        }
        return std::nullopt;
    }
    if (s.st_size != t.st_size) return MakeMessage(MessageId::kDefectSizeDiffers);
    const UniqueFd a(::openat(sourceFolder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!a) return MakeMessage(MessageId::kDefectSourceUnreadable, {}, errno);
    const UniqueFd b(::openat(targetFolder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!b) return MakeMessage(MessageId::kDefectCopyUnreadable, {}, errno);
    if (auto why = SameExtendedAttributes(a.Get(), b.Get(), notHeld)) return why;
    ::posix_fadvise(a.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(b.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return SameContent(a.Get(), b.Get(), s.st_size, bufA, bufB);
}

// The source and product folders one comparing thread is in; files come
// folder by folder, so one pair serves a run of them.
struct FolderPair {
    bool open = false;
    std::string rel;  // relative to both roots, with its trailing separator
    UniqueFd source, target;
    int sourceError = 0, targetError = 0;
};

// Entries the job reported, relative to the source root: by source path,
// or by path in the product. An entry reported without a name is counted.
struct SkippedEntries {
    std::unordered_set<std::string> rel;
    size_t unnamed = 0;
    SkippedEntries(const std::vector<std::string>& skipped, const std::string& sourceRoot, const std::string& product) {
        const std::string inProduct = product + kPathSeparator;
        for (const auto& path : skipped) {
            if (path.size() <= sourceRoot.size() && sourceRoot.compare(0, path.size(), path) == 0) {
                ++unnamed;  // the source root itself: an entry the archiver counted but did not name
            } else if (path.compare(0, sourceRoot.size(), sourceRoot) == 0) {
                rel.insert(path.substr(sourceRoot.size()));
            } else if (path.compare(0, inProduct.size(), inProduct) == 0) {
                rel.insert(path.substr(inProduct.size()));
            }
        }
    }
    bool Holds(const std::string& relative) const {
        if (rel.count(relative)) return true;
        // A folder may be reported with or without its closing separator.
        if (!relative.empty() && relative.back() == kPathSeparator)
            return rel.count(relative.substr(0, relative.size() - 1)) > 0;
        return rel.count(relative + kPathSeparator) > 0;
    }
};

// 7zz beside the program, else in an absolute folder of the search path.
std::string FindSevenZip() {
    const std::string beside = ExecutableFolder() + "7zz";
    if (::access(beside.c_str(), X_OK) == 0) return beside;
    return FindProgramOnPath("7zz");
}

}  // namespace

std::optional<VerifyDefect> VerifyCopy(const std::string& sourceRoot, const std::string& product,
                                       const std::vector<std::string>& folders, const PathList& files,
                                       const std::vector<std::string>& skipped, unsigned notHeld) {
    const SkippedEntries skip(skipped, sourceRoot, product);
    const auto shown = [&](const std::string& rel) { return rel.empty() ? product : product + kPathSeparator + rel; };
    // Both roots are opened once and everything beneath them is reached
    // relative to an open folder, without following links.
    const UniqueFd sourceRootFd(OpenLongPath(AT_FDCWD, sourceRoot, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!sourceRootFd) return VerifyDefect{sourceRoot, MakeMessage(MessageId::kDefectSourceUnreadable, {}, errno)};
    const UniqueFd productFd(OpenLongPath(AT_FDCWD, product, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!productFd) return VerifyDefect{product, MakeMessage(MessageId::kDefectFolderMissing, {}, errno)};
    for (const auto& folder : folders) {
        const std::string rel = TFileOperation::StripRoot(folder, sourceRoot);
        if (skip.Holds(rel)) continue;
        const UniqueFd fd(OpenBeneath(productFd.Get(), rel, O_PATH));
        if (!fd && (errno == ENOTDIR || errno == ELOOP))
            return VerifyDefect{shown(rel), MakeMessage(MessageId::kDefectNotFolder)};
        if (!fd) return VerifyDefect{shown(rel), MakeMessage(MessageId::kDefectFolderMissing, {}, errno)};
        if (notHeld & kNotHeldPermissions) continue;
        const UniqueFd source(OpenBeneath(sourceRootFd.Get(), rel, O_PATH));
        struct stat s {
        }, t{};
        if (!source || ::fstat(source.Get(), &s) != 0)
            return VerifyDefect{folder, MakeMessage(MessageId::kDefectSourceUnreadable, {}, errno)};
        if (::fstat(fd.Get(), &t) != 0)
            return VerifyDefect{shown(rel), MakeMessage(MessageId::kDefectFolderUnreadable, {}, errno)};
        if ((s.st_mode & 07777) != (t.st_mode & 07777))
            return VerifyDefect{shown(rel), MakeMessage(MessageId::kDefectModeDiffers)};
    }

    // Files are compared on a few threads, as they were copied; the first
    // bad one in list order is reported.
    std::atomic<size_t> next{0};
    std::mutex mutex;
    size_t firstBad = files.size();
    VerifyDefect defect;
    std::atomic<bool> stop{false};  // a comparing thread raised
    auto work = [&] {
        std::vector<char> bufA(1 << 20), bufB(1 << 20);
        FolderPair place;
        while (!stop) {
            const size_t i = next.fetch_add(1);
            if (i >= files.size()) return;
            {
                std::lock_guard lock(mutex);
                if (i > firstBad) return;
            }
            const std::string rel = TFileOperation::StripRoot(files[i], sourceRoot);
            if (rel.empty() || skip.Holds(rel)) continue;
            const size_t cut = rel.rfind(kPathSeparator);
            const std::string folder = cut == std::string::npos ? std::string() : rel.substr(0, cut + 1);
            const std::string name = rel.substr(cut == std::string::npos ? 0 : cut + 1);
            if (!place.open || place.rel != folder) {
                place.source.Reset(OpenBeneath(sourceRootFd.Get(), folder, O_PATH));
                place.sourceError = place.source ? 0 : errno;
                place.target.Reset(OpenBeneath(productFd.Get(), folder, O_PATH));
                place.targetError = place.target ? 0 : errno;
                place.rel = folder;
                place.open = true;
            }
            std::optional<Message> why;
            if (!place.source) {
                why = MakeMessage(MessageId::kDefectSourceUnreadable, {}, place.sourceError);
            } else if (!place.target) {
                why = MakeMessage(MessageId::kDefectCopyMissing, {}, place.targetError);
            } else {
                why = CompareEntry(place.source.Get(), place.target.Get(), name.c_str(), notHeld, bufA, bufB);
            }
            if (why) {
                std::lock_guard lock(mutex);
                if (i < firstBad) {
                    firstBad = i;
                    defect = {shown(rel), std::move(*why)};
                }
            }
        }
    };
    const unsigned count = WorkerThreads(2, 4);
    WorkerGroup comparers(stop);
    for (unsigned k = 1; k < count && !comparers.Failed(); ++k) comparers.Start(work);
    if (!comparers.Failed()) comparers.Run(work);
    comparers.Finish();
    if (firstBad < files.size()) return defect;
    return std::nullopt;
}

std::optional<VerifyDefect> VerifySevenZipArchive(const std::string& archive, const std::string& password) {
    const std::string program = FindSevenZip();
    if (program.empty()) return VerifyDefect{archive, MakeMessage(MessageId::kDefectNo7zz)};
    std::vector<std::string> args{program, "t", "-bd", "-sccUTF-8", "-scsUTF-8"};
    // Without -p, 7zz asks for the password of an encrypted archive and
    // reads it from its standard input ("t -p" would mean an empty one). No
    // password: the question finds the input's end and the test fails.
    std::string input = password.empty() ? std::string() : password + "\n";
    args.emplace_back("--");
    args.emplace_back(archive);
    // The tester dies with this process, so an interrupted job leaves none
    // behind; its messages are read in the order they came.
    ChildCommand command;
    command.program = program;
    command.argv = args;
    command.env.emplace();
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0) command.env->emplace_back(*e);
    command.env->emplace_back("LC_ALL=C.UTF-8");
    command.input = input;
    command.errToOut = true;
    const ChildResult run = RunChild(command);
    WipeSecret(input);
    if (!run.started) return VerifyDefect{archive, MakeMessage(MessageId::kDefect7zzNotStarted)};
    if (run.code() == 0) return std::nullopt;

    // "ERROR: CRC Failed : sub/c.txt" names the member; other errors are
    // about the archive as a whole.
    std::string firstLine;
    size_t at = 0;
    while (at < run.out.size()) {
        size_t end = run.out.find('\n', at);
        if (end == std::string::npos) end = run.out.size();
        std::string line = run.out.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("ERROR: ", 0) == 0) {
            const size_t sep = line.rfind(" : ");
            if (sep != std::string::npos && sep > 7) {
                return VerifyDefect{archive + kPathSeparator + line.substr(sep + 3),
                                    MakeMessage(MessageId::kText, {line.substr(7, sep - 7)})};
            }
        }
        if (firstLine.empty() && line.find("rror") != std::string::npos) firstLine = line;
    }
    // 7-Zip's own words where it gave any.
    if (!firstLine.empty()) return VerifyDefect{archive, MakeMessage(MessageId::kText, {firstLine})};
    return VerifyDefect{archive, WIFEXITED(run.status) ? MakeMessage(MessageId::kDefect7zzStatus,
                                                                     {std::to_string(WEXITSTATUS(run.status))})
                                                       : MakeMessage(MessageId::kDefect7zzSignal)};
}

std::optional<VerifyDefect> VerifyZipNames(const std::string& archive, const std::string& sourceRoot,
                                           const std::vector<std::string>& folders, const PathList& files,
                                           const std::vector<std::string>& skipped) {
    const ZipDirectory directory = ReadZipDirectory(archive);
    if (directory.error) return VerifyDefect{archive, directory.error};
    const SkippedEntries skip(skipped, sourceRoot, archive);
    // Each collected file (a file listed twice goes in once) maps to whether
    // the archive holds it.
    std::unordered_map<std::string, bool> expected;
    expected.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::string rel = TFileOperation::StripRoot(files[i], sourceRoot);
        if (!rel.empty()) expected.emplace(std::move(rel), false);
    }
    std::unordered_set<std::string> collectedFolders;
    for (const auto& folder : folders) {
        const std::string rel = TFileOperation::StripRoot(folder, sourceRoot);
        if (!rel.empty()) collectedFolders.insert(rel);
    }
    // The entries left out are not expected. One that 7-Zip reported under
    // a name of its own (control characters replaced) names no collected
    // entry; it excuses one missing file.
    size_t excused = skip.unnamed;
    for (const auto& rel : skip.rel) {
        if (expected.erase(rel) == 0 && !collectedFolders.count(rel) && !collectedFolders.count(rel + kPathSeparator))
            ++excused;
    }
    for (const auto& entry : directory.entries) {
        const std::string shown = archive + kPathSeparator + entry.name;
        if (!entry.name.empty() && entry.name.back() == '/') {
            if (!collectedFolders.count(entry.name))
                return VerifyDefect{shown, MakeMessage(MessageId::kDefectNotCollectedFolder)};
            continue;
        }
        // The flag tells extractors how to read the name: 7-Zip sets it for
        // every name in UTF-8 beyond ASCII and for no other.
        const bool ascii = std::all_of(entry.name.begin(), entry.name.end(),
                                       [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
        if (!ascii && entry.utf8 != IsValidUtf8(entry.name)) {
            return VerifyDefect{shown, entry.utf8 ? MakeMessage(MessageId::kDefectFalseUtf8Mark)
                                                  : MakeMessage(MessageId::kDefectMissingUtf8Mark)};
        }
        const auto hit = expected.find(entry.name);
        if (hit == expected.end()) {
            if (skip.Holds(entry.name)) continue;  // reported as left out, yet there
            return VerifyDefect{shown, MakeMessage(MessageId::kDefectNotCollectedFile)};
        }
        if (hit->second) return VerifyDefect{shown, MakeMessage(MessageId::kDefectTwiceInArchive)};
        hit->second = true;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string rel = TFileOperation::StripRoot(files[i], sourceRoot);
        const auto hit = expected.find(rel);
        if (hit == expected.end() || hit->second) continue;
        if (excused > 0) {
            --excused;
            hit->second = true;
            continue;
        }
        return VerifyDefect{std::string(files[i]), MakeMessage(MessageId::kDefectMissingFromArchive)};
    }
    return std::nullopt;
}

std::optional<VerifyDefect> VerifyLhaArchive(const std::string& archive) {
    if (auto defect = CheckLhaArchive(archive)) {
        return VerifyDefect{defect->entry.empty() ? archive : archive + kPathSeparator + defect->entry, defect->reason};
    }
    return std::nullopt;
}

std::optional<VerifyDefect> VerifyListFile(const std::string& listFile, const PathList& entries) {
    const UniqueFd fd(OpenLongPath(AT_FDCWD, listFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return VerifyDefect{listFile, MakeMessage(MessageId::kDefectUnreadable, {}, errno)};
    // The file is compared with the lines it should hold a piece at a time.
    std::string pending;
    std::string held;
    size_t line = 0;
    std::vector<char> buffer(1 << 20);
    while (true) {
        const ssize_t n = ::read(fd.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return VerifyDefect{listFile, MakeMessage(MessageId::kDefectUnreadable, {}, errno)};
        if (n == 0) break;
        pending.append(buffer.data(), static_cast<size_t>(n));
        size_t at = 0;
        while (true) {
            const size_t end = pending.find("\r\n", at);
            if (end == std::string::npos) break;
            if (line >= entries.size()) return VerifyDefect{listFile, MakeMessage(MessageId::kDefectMoreLines)};
            if (pending.compare(at, end - at, ListFileLine(entries[line], held)) != 0) {
                return VerifyDefect{std::string(entries[line]),
                                    MakeMessage(MessageId::kDefectLineDiffers, {std::to_string(line + 1)})};
            }
            ++line;
            at = end + 2;
        }
        pending.erase(0, at);
    }
    if (!pending.empty()) return VerifyDefect{listFile, MakeMessage(MessageId::kDefectEndsInsideLine)};
    if (line < entries.size())
        return VerifyDefect{std::string(entries[line]), MakeMessage(MessageId::kDefectMissingFromList)};
    return std::nullopt;
}

void VerifyProduct(const JobRequest& request, const std::string& product, const std::vector<std::string>& folders,
                   const PathList& files, const std::vector<Problem>& problems, unsigned notHeld) {
    // A problem may name an entry by its place under the product's final
    // name while the product is read back elsewhere (a staging folder): it
    // is taken by its source path then.
    const std::string finalPlace = JobProductPath(request) + kPathSeparator;
    std::vector<std::string> skipped;
    skipped.reserve(problems.size());
    for (const auto& p : problems) {
        skipped.push_back(p.path.compare(0, finalPlace.size(), finalPlace) == 0
                              ? request.SourcePath + p.path.substr(finalPlace.size())
                              : p.path);
    }
    const JobModeInfo* mode = FindJobMode(request.JobMode);
    if (mode == nullptr) return;
    // Taken by reference: no copy of the password is left behind.
    static const std::string kNoPassword;
    const std::string& password = mode->password ? request.Password : kNoPassword;
    std::optional<VerifyDefect> defect;
    switch (mode->verification) {
        case Verification::kCopyTree:
            defect = VerifyCopy(request.SourcePath, product, folders, files, skipped, notHeld);
            break;
        case Verification::kSevenZipTestAndZipNames:
            defect = VerifySevenZipArchive(product, password);
            if (!defect) defect = VerifyZipNames(product, request.SourcePath, folders, files, skipped);
            break;
        case Verification::kSevenZipTest: defect = VerifySevenZipArchive(product, password); break;
        case Verification::kLhaTest: defect = VerifyLhaArchive(product); break;
        case Verification::kListFile:
            defect = VerifyListFile(product, mode->entries == ProductEntries::kFolders ? PathList(folders) : files);
            break;
    }
    if (defect) throw TessarineError(Because(MessageId::kVerifyFailed, defect->reason, {defect->entry}));
}

}  // namespace tessarine
