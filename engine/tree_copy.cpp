#include "engine/tree_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwctype>

#include "engine/Common.h"
#include "engine/destination.h"
#include "engine/errors.h"
#include "engine/worker_threads.h"

namespace tessarine {

namespace {

Message ErrorText(int error) { return MakeMessage(MessageId::kSystemError, {}, error); }

// Why a source folder could not be reached beneath the root: a link or
// something other than a folder stands where the collection found one.
Message SourceErrorText(int error) {
    return error == ELOOP || error == ENOTDIR || error == EXDEV ? MakeMessage(MessageId::kReplacedWhileRead)
                                                                : ErrorText(error);
}

// The attribute is one the target's file system cannot hold at all (a FAT
// stick holds no permissions, owners or extended attributes; a FUSE mount
// may refuse any of them, some with EPERM, some with ENOSYS).
bool NotHeld(int error) { return error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS || error == EPERM; }

// A failure to make or write the target entry: the end of the copy when the
// destination itself failed, else a problem of that entry.
void TargetFailed(TFileOperation& operation, const std::string& targetShown, int error) {
    if (IsDestinationFailure(error))
        operation.RecordDestinationFailure(targetShown, error);
    else
        operation.RecordProblem(targetShown, ErrorText(error));
}

// Where copying a file's content failed: the error, and whether it was
// writing the target (not reading the source) that failed.
struct ContentFailure {
    int error = 0;
    bool target = false;
    bool Set(int e, bool atTarget) {
        error = e;
        target = atTarget;
        return false;
    }
};

std::string_view WithoutTrailingSeparators(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    return path;
}

}  // namespace

// ---------------------------------------------------------------------------
// One entry

namespace {

// Copies the bytes from..to of `in` to the same offsets of `out`.
bool CopyRange(int in, int out, off_t from, off_t to, ContentFailure& failure) {
    off_t inPos = from, outPos = from;
    bool kernelCopy = true;
    while (inPos < to) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, &inPos, out, &outPos, static_cast<size_t>(to - inPos), 0);
            if (n > 0) continue;
            if (n == 0) return true;  // the source became shorter meanwhile
            if (errno == EINTR) continue;
            // Whatever else failed, the rest goes by reading and writing:
            // those tell whether the source or the target failed (an EIO
            // of the kernel copy may be either).
            kernelCopy = false;
        }
        char buffer[1 << 16];
        const ssize_t got = ::pread(in, buffer, std::min<off_t>(sizeof buffer, to - inPos), inPos);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return failure.Set(errno, false);
        }
        if (!WriteFullAt(out, buffer, static_cast<size_t>(got), outPos)) return failure.Set(errno, true);
        outPos += got;
        inPos += got;
    }
    return true;
}

// Copies a file's content; the holes of a sparse file stay holes.
bool CopyContent(int in, int out, const struct stat& st, ContentFailure& failure) {
    if (st.st_size == 0) return true;
    // Fewer blocks than bytes: the file may have holes. Only then are its
    // data runs looked up; an ordinary file is copied in one go.
    if (st.st_blocks * 512 >= st.st_size) return CopyRange(in, out, 0, st.st_size, failure);
    off_t pos = 0;
    while (pos < st.st_size) {
        const off_t data = ::lseek(in, pos, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // nothing but a hole up to the end
            if (errno == EINVAL || errno == EOPNOTSUPP) return CopyRange(in, out, pos, st.st_size, failure);
            return failure.Set(errno, false);
        }
        if (data >= st.st_size) break;
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || hole > st.st_size) hole = st.st_size;
        if (!CopyRange(in, out, data, hole, failure)) return false;
        pos = hole;
    }
    return ::ftruncate(out, st.st_size) == 0 || failure.Set(errno, true);
}

// Calls `get(buffer, size)` with a buffer that grows until the value fits.
template <typename Get>
ssize_t GrowingRead(std::vector<char>& buffer, Get&& get) {
    while (true) {
        const ssize_t n = get(buffer.data(), buffer.size());
        if (n >= 0 || errno != ERANGE) return n;
        const ssize_t needed = get(nullptr, 0);
        if (needed < 0) return needed;
        buffer.resize(static_cast<size_t>(needed) + 1);
    }
}

// What became of one entry's attributes. Each attribute is tried on its
// own; the kinds that the target's file system cannot hold at all are
// counted once for the entry and told once for the job, of the other
// failures the first is recorded.
class AttributeOutcome {
public:
    AttributeOutcome(TFileOperation& operation, const std::string& targetShown)
        : operation_(operation), targetShown_(targetShown) {}
    // The target refused an attribute of the NotHeldKind `kind` (0: one
    // that every destination holds, such as a file's times).
    void Refused(int error, unsigned kind) {
        if (kind != 0 && NotHeld(error)) {
            kinds_ |= kind;
        } else if (error_ == 0) {
            error_ = error;
        }
    }
    // The owner of a new entry is refused an owner or a mode (EPERM, or
    // EINVAL for an owner the file system cannot name) only where the file
    // system has none.
    void RefusedOwnerOrMode(int error, unsigned kind) { Refused(error == EINVAL ? ENOTSUP : error, kind); }
    // Reading an attribute of the source failed.
    void ReadFailed(int error) {
        if (error_ == 0) error_ = error;
    }
    bool Finish() {
        if (kinds_ != 0) {
            ++operation_.AttributesNotHeld;
            operation_.NotHeldKinds.fetch_or(kinds_, std::memory_order_relaxed);
        }
        if (error_ != 0) TargetFailed(operation_, targetShown_, error_);
        return error_ == 0;
    }

private:
    TFileOperation& operation_;
    const std::string& targetShown_;
    unsigned kinds_ = 0;
    int error_ = 0;
};

// ACLs are kept as the system.posix_acl_* extended attributes.
unsigned KindOfAttribute(const char* name) {
    return std::strncmp(name, "system.posix_acl_", 17) == 0 ? kNotHeldAcls : kNotHeldExtendedAttributes;
}

// Copies every extended attribute (ACLs are the system.posix_acl_* ones).
void CopyExtendedAttributes(int in, int out, AttributeOutcome& outcome) {
    char small[1024];
    ssize_t listed = ::flistxattr(in, small, sizeof small);
    std::vector<char> large;
    const char* names = small;
    if (listed < 0 && errno == ERANGE) {
        large.resize(sizeof small * 4);
        listed = GrowingRead(large, [&](char* b, size_t n) { return ::flistxattr(in, b, n); });
        names = large.data();
    }
    if (listed < 0 && !NotHeld(errno)) outcome.ReadFailed(errno);
    if (listed <= 0) return;
    std::vector<char> value(256);
    for (const char* name = names; name < names + listed; name += std::strlen(name) + 1) {
        const ssize_t size = GrowingRead(value, [&](char* b, size_t n) { return ::fgetxattr(in, name, b, n); });
        if (size < 0) {
            if (errno != ENODATA) outcome.ReadFailed(errno);  // ENODATA: removed meanwhile
            continue;
        }
        if (::fsetxattr(out, name, value.data(), static_cast<size_t>(size), 0) != 0)
            outcome.Refused(errno, KindOfAttribute(name));
    }
}

// Owner, extended attributes, permission bits and times of `in` onto `out`,
// in that order: a change of owner clears set-id bits and capabilities, so
// those come after it, and the times come last. `in` < 0: no extended
// attributes.
bool KeepAttributes(TFileOperation& operation, const CopyingUser& user, int in, int out, const struct stat& st,
                    const std::string& targetShown) {
    AttributeOutcome outcome(operation, targetShown);
    if (user.ChangesOwner(st) && ::fchown(out, st.st_uid, st.st_gid) != 0)
        outcome.RefusedOwnerOrMode(errno, kNotHeldOwners);
    if (in >= 0) CopyExtendedAttributes(in, out, outcome);
    if (::fchmod(out, st.st_mode & 07777) != 0) {
        outcome.RefusedOwnerOrMode(errno, kNotHeldPermissions);
    } else if (operation.ModesIgnored) {
        outcome.Refused(ENOTSUP, kNotHeldPermissions);
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out, times) != 0) outcome.Refused(errno, 0);
    return outcome.Finish();
}

// Removes the non-folder entry `name` so that a new entry can take its place.
bool RemoveEntry(int folder, const char* name) { return ::unlinkat(folder, name, 0) == 0 || errno == ENOENT; }

// Makes an entry with `make`, replacing a non-folder that stands at its name.
template <typename Make>
bool MakeReplacing(int folder, const char* name, Make&& make) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (make() == 0) return true;
        if (errno != EEXIST || !RemoveEntry(folder, name)) return false;
    }
    errno = EEXIST;
    return false;
}

// What making one target entry came to. kNameTaken: the entry was to be
// made beside what stands at its name, and something does; nothing was
// written and nothing recorded.
enum class Made { kYes, kNo, kNameTaken };

// How an entry is made: replacing what stands at its name, or never
// touching it.
enum class AtName { kReplace, kKeep };

template <typename Make>
Made MakeAt(int folder, const char* name, AtName atName, Make&& make) {
    if (atName == AtName::kReplace) return MakeReplacing(folder, name, make) ? Made::kYes : Made::kNo;
    if (make() == 0) return Made::kYes;
    return errno == EEXIST ? Made::kNameTaken : Made::kNo;
}

Made CopyRegularFile(TFileOperation& operation, const CopyingUser& user, int in, const struct stat& st,
                     int targetFolder, const char* name, AtName atName, const std::string& sourceShown,
                     const std::string& targetShown) {
    // Made new with O_EXCL: whatever stood at the name (a link, an older
    // copy) is removed first or left alone, never opened.
    int outFd = -1;
    const Made made = MakeAt(targetFolder, name, atName, [&] {
        outFd = ::openat(targetFolder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        return outFd < 0 ? -1 : 0;
    });
    UniqueFd out(outFd);
    if (made != Made::kYes) {
        if (made == Made::kNo) TargetFailed(operation, targetShown, errno);
        return made;
    }
    // A copy cut short is removed: no file stands under its name with
    // less than its content.
    ContentFailure failure;
    if (!CopyContent(in, out.Get(), st, failure)) {
        ::unlinkat(targetFolder, name, 0);
        if (failure.target)
            TargetFailed(operation, targetShown, failure.error);
        else
            operation.RecordProblem(sourceShown, ErrorText(failure.error));
        return Made::kNo;
    }
    bool ok = KeepAttributes(operation, user, in, out.Get(), st, targetShown);
    if (!out.Close()) {
        // Written data the file system could not keep (a network mount
        // tells only here).
        const int error = errno;
        ::unlinkat(targetFolder, name, 0);
        if (ok) TargetFailed(operation, targetShown, error);
        ok = false;
    }
    return ok ? Made::kYes : Made::kNo;
}

// Owner, permission bits and times of an entry that is not opened: a link
// or a special file, never followed.
Made KeepAttributesAt(TFileOperation& operation, const CopyingUser& user, int folder, const char* name,
                      const struct stat& st, const std::string& targetShown) {
    AttributeOutcome outcome(operation, targetShown);
    if (user.ChangesOwner(st) && ::fchownat(folder, name, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        outcome.RefusedOwnerOrMode(errno, kNotHeldOwners);
    }
    // A link has no permission bits of its own.
    if (!S_ISLNK(st.st_mode) && ::fchmodat(folder, name, st.st_mode & 07777, AT_SYMLINK_NOFOLLOW) != 0) {
        outcome.RefusedOwnerOrMode(errno, kNotHeldPermissions);
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::utimensat(folder, name, times, AT_SYMLINK_NOFOLLOW) != 0)
        outcome.Refused(errno, S_ISLNK(st.st_mode) ? unsigned{kNotHeldLinkTimes} : 0u);
    return outcome.Finish() ? Made::kYes : Made::kNo;
}

Made CopyLink(TFileOperation& operation, const CopyingUser& user, int sourceFolder, const char* sourceName,
              int targetFolder, const char* name, const struct stat& st, AtName atName, const std::string& sourceShown,
              const std::string& targetShown) {
    std::string text(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t len = ::readlinkat(sourceFolder, sourceName, text.data(), text.size());
    if (len < 0) {
        operation.RecordProblem(sourceShown, ErrorText(errno));
        return Made::kNo;
    }
    text.resize(static_cast<size_t>(len));
    const Made made = MakeAt(targetFolder, name, atName, [&] { return ::symlinkat(text.c_str(), targetFolder, name); });
    if (made != Made::kYes) {
        // A FAT stick has no links (EPERM, ENOSYS): this link is left out.
        if (made == Made::kNo) TargetFailed(operation, targetShown, errno);
        return made;
    }
    return KeepAttributesAt(operation, user, targetFolder, name, st, targetShown);
}

// Named pipes, devices and sockets are made anew, as `cp -a` does: their
// content is not a file's content and they are never opened.
Made CopySpecial(TFileOperation& operation, const CopyingUser& user, int targetFolder, const char* name,
                 const struct stat& st, AtName atName, const std::string& targetShown) {
    const mode_t type = st.st_mode & S_IFMT;
    const Made made =
        MakeAt(targetFolder, name, atName, [&] { return ::mknodat(targetFolder, name, type | 0600, st.st_rdev); });
    if (made != Made::kYes) {
        // The FUSE drivers of FAT and exFAT answer EIO to a special file
        // they cannot hold, the file system itself being well, and leave
        // an empty file at its name; in a new product that file is the
        // failed attempt's own.
        const int error = errno;
        if (made == Made::kNo && error == EIO) {
            struct stat left {};
            if (atName == AtName::kKeep && ::fstatat(targetFolder, name, &left, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(left.st_mode) && left.st_size == 0) {
                ::unlinkat(targetFolder, name, 0);
            }
            operation.RecordProblem(targetShown, ErrorText(error));
        } else if (made == Made::kNo) {
            TargetFailed(operation, targetShown, error);
        }
        return made;
    }
    return KeepAttributesAt(operation, user, targetFolder, name, st, targetShown);
}

// CopyEntryAt for an entry whose lstat is known.
Made CopyStatted(TFileOperation& operation, const CopyingUser& user, int sourceFolder, const char* sourceName,
                 int targetFolder, const char* name, struct stat st, AtName atName, const std::string& sourceShown,
                 const std::string& targetShown) {
    if (S_ISREG(st.st_mode)) {
        // O_NONBLOCK and the second look: should the entry have become a
        // pipe or device meanwhile, opening it does not wait and it is not read.
        UniqueFd in(::openat(sourceFolder, sourceName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!in || ::fstat(in.Get(), &st) != 0) {
            operation.RecordProblem(sourceShown, ErrorText(errno));
            return Made::kNo;
        }
        if (S_ISREG(st.st_mode))
            return CopyRegularFile(operation, user, in.Get(), st, targetFolder, name, atName, sourceShown, targetShown);
    }
    if (S_ISLNK(st.st_mode)) {
        return CopyLink(operation, user, sourceFolder, sourceName, targetFolder, name, st, atName, sourceShown,
                        targetShown);
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)) {
        return CopySpecial(operation, user, targetFolder, name, st, atName, targetShown);
    }
    operation.RecordProblem(sourceShown, ErrorText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
    return Made::kNo;
}

}  // namespace

bool CopyEntryAt(TFileOperation& operation, int sourceFolder, const char* sourceName, int targetFolder,
                 const char* targetName, const std::string& sourceShown, const std::string& targetShown) {
    struct stat st {};
    if (::fstatat(sourceFolder, sourceName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        operation.RecordProblem(sourceShown, ErrorText(errno));
        return false;
    }
    return CopyStatted(operation, CopyingUser(), sourceFolder, sourceName, targetFolder, targetName, st,
                       AtName::kReplace, sourceShown, targetShown) == Made::kYes;
}

// ---------------------------------------------------------------------------
// The tree

namespace {

struct Identity {
    dev_t dev;
    ino_t ino;
    bool operator==(const Identity&) const = default;
};

bool IdentityOf(int fd, Identity& id) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    id = Identity{st.st_dev, st.st_ino};
    return true;
}

// True when the folder `fd` is `folder` or lies beneath it.
bool IsWithin(int fd, const Identity& folder) {
    UniqueFd at(::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    Identity here{};
    for (int depth = 0; at && depth < 100000 && IdentityOf(at.Get(), here); ++depth) {
        if (here == folder) return true;
        UniqueFd up(::openat(at.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        Identity parent{};
        if (!up || !IdentityOf(up.Get(), parent) || parent == here) return false;  // the top
        at = std::move(up);
    }
    return false;
}

std::string ParentOf(const std::string& rel) {
    const std::string_view path = WithoutTrailingSeparators(rel);
    const size_t cut = path.rfind('/');
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string NameOf(const std::string& rel) {
    const std::string_view path = WithoutTrailingSeparators(rel);
    const size_t cut = path.rfind('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

// The next code point of UTF-8 text; a byte that begins no valid sequence
// stands for itself.
char32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    const int more = lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (more == 0 || i + more > text.size()) return lead;
    char32_t c = lead & (0x3F >> more);
    for (int k = 0; k < more; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return lead;
        c = (c << 6) | (next & 0x3F);
    }
    i += more;
    return c;
}

// The two names are the same but for letter case, as a file system that
// folds case (FAT, exFAT, NTFS, SMB, ext4 with casefold) compares them.
bool SameIgnoringCase(std::string_view a, std::string_view b) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    auto upper = [](char32_t c) -> char32_t {
        if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        return utf8 ? static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), utf8)) : c;
    };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (upper(NextCodePoint(a, i)) != upper(NextCodePoint(b, j))) return false;
    }
    return i == a.size() && j == b.size();
}

// The entry of `folder` other than `name` that stands at `name` for this
// file system; empty when none is found.
std::string NameHeldAsSame(int folder, const std::string& name) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {};
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return {};
    }
    std::string found;
    while (const dirent* e = ::readdir(listing)) {
        if (e->d_name != name && !IsDotOrDotDot(e->d_name) && SameIgnoringCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(listing);
    return found;
}

}  // namespace

void TreeCopy::NameTaken(int targetFolder, const std::string& folderRel, const std::string& name, bool folder) {
    // The product was empty when the job began, so what stands at the name
    // was made by this job from another entry of the source whose name the
    // destination holds as the same: neither replaced nor merged into.
    const std::string other = NameHeldAsSame(targetFolder, name);
    struct stat st {};
    const bool otherIsFolder =
        !other.empty() && ::fstatat(targetFolder, other.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    const std::string otherShown = sourceRoot_ + folderRel + other + (otherIsFolder ? "/" : "");
    operation_.RecordProblem(
        sourceRoot_ + folderRel + name + (folder ? "/" : ""),
        other.empty() ? MakeMessage(MessageId::kNameTaken) : MakeMessage(MessageId::kNameTakenBy, {otherShown}));
}

TreeCopy::TreeCopy(TFileOperation& operation, std::string sourceRoot, std::string outputBase)
    : operation_(operation), sourceRoot_(std::move(sourceRoot)), outputBase_(std::move(outputBase)) {
    // The source root is the user's choice, links and all; everything
    // beneath it is reached from it without following a link.
    sourceFd_.Reset(OpenLongPath(AT_FDCWD, sourceRoot_.empty() ? "." : sourceRoot_, O_PATH | O_DIRECTORY));
    while (outputBase_.size() > 1 && outputBase_.back() == '/') outputBase_.pop_back();
    const std::string name = NameOf(outputBase_);
    std::string holder = outputBase_.substr(0, outputBase_.size() - name.size());
    if (holder.empty()) holder = ".";
    auto cannotMake = [&](int error) {
        return TessarineError(MakeMessage(MessageId::kCannotMakeCopyFolder, {outputBase_}, error));
    };
    if (name.empty() || IsDotOrDotDot(name)) throw cannotMake(EINVAL);

    // The folder that holds the product is the user's choice, links and all;
    // missing folders on the way are made.
    UniqueFd parent(OpenLongPath(AT_FDCWD, holder, O_PATH | O_DIRECTORY));
    if (!parent && errno == ENOENT) {
        operation_.MakeFolder(holder);
        parent.Reset(OpenLongPath(AT_FDCWD, holder, O_PATH | O_DIRECTORY));
    }
    if (!parent) throw cannotMake(errno);

    // The product must not be the source, hold the source, or lie inside
    // the source tree by way of a link (where the user chose the source
    // folder itself as the destination, the product lies there by name; the
    // collected lists are complete before anything is made).
    UniqueFd source(OpenLongPath(AT_FDCWD, sourceRoot_.empty() ? "." : sourceRoot_, O_PATH | O_DIRECTORY));
    Identity sourceId{};
    if (source && !IdentityOf(source.Get(), sourceId)) source.Reset();
    auto intoSource = [&] {
        return TessarineError(MakeMessage(MessageId::kCopyIntoSource, {outputBase_, sourceRoot_}));
    };
    const bool byName = outputBase_.compare(0, sourceRoot_.size(), sourceRoot_) == 0;
    if (source && !byName && IsWithin(parent.Get(), sourceId)) throw intoSource();

    // The product's own name: never followed. A link or file standing there
    // is removed and the real folder made; an existing real folder (a second
    // run in the same second) is filled again.
    for (int attempt = 0; attempt < 3 && !root_; ++attempt) {
        if (::mkdirat(parent.Get(), name.c_str(), 0700) != 0 && errno != EEXIST) throw cannotMake(errno);
        root_.Reset(::openat(parent.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (root_) break;
        if (errno != ELOOP && errno != ENOTDIR) throw cannotMake(errno);
        if (!RemoveEntry(parent.Get(), name.c_str())) {
            throw TessarineError(MakeMessage(MessageId::kCopyTargetNotRemoved, {outputBase_}, errno));
        }
    }
    if (!root_) throw cannotMake(ELOOP);
    struct stat rootStat {};
    if (::fstat(root_.Get(), &rootStat) != 0) throw cannotMake(errno);
    if (rootStat.st_uid != user_.uid) {
        root_.Reset();
        throw TessarineError(MakeMessage(MessageId::kCopyTargetOfOtherUser, {outputBase_}));
    }

    const Identity rootId{rootStat.st_dev, rootStat.st_ino};
    if (source && (rootId == sourceId || IsWithin(source.Get(), rootId))) {
        root_.Reset();
        throw intoSource();
    }
    ::fchmod(root_.Get(), 0700);  // stays private while it is filled
    // Some file systems take every mode and keep none (exfat-fuse shows
    // 0777 whatever was set): one file tells, for the whole copy.
    {
        const char* probe = ".tessarine-mode";
        UniqueFd file(::openat(root_.Get(), probe, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        struct stat st {};
        if (file && ::fchmod(file.Get(), 0640) == 0 && ::fstat(file.Get(), &st) == 0 && (st.st_mode & 07777) != 0640)
            operation_.ModesIgnored = true;
        if (file) ::unlinkat(root_.Get(), probe, 0);
    }
}

void TreeCopy::MakeFolder(const std::string& rel) {
    if (operation_.StopRequested) return;
    if (WithoutTrailingSeparators(rel).empty()) {
        folders_.push_back(std::string());
        return;
    }
    const std::string shown = outputBase_ + "/" + rel;
    const std::string parentRel = ParentOf(rel);
    // Beneath a folder left out, everything is left out and named.
    if (const auto holder = leftOut_.find(parentRel); holder != leftOut_.end()) {
        operation_.RecordProblem(sourceRoot_ + rel, MakeMessage(MessageId::kLeftOutWithFolder, {holder->second}));
        leftOut_.emplace(rel, holder->second);
        return;
    }
    const UniqueFd parent(OpenBeneath(root_.Get(), parentRel, O_PATH));
    if (!parent) {
        TargetFailed(operation_, shown, errno);
        return;
    }
    const std::string name = NameOf(rel);
    // Made private while it is filled; FinishFolders gives it its own mode.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::mkdirat(parent.Get(), name.c_str(), 0700) == 0) {
            folders_.push_back(rel);
            return;
        }
        if (errno != EEXIST) break;
        struct stat st {};
        if (::fstatat(parent.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        // A folder there is one this job made under a name the
        // destination holds as the same ("Docs" and "docs"): this folder is
        // left out with everything beneath it, never merged into the other.
        if (S_ISDIR(st.st_mode)) {
            NameTaken(parent.Get(), parentRel, name, true);
            leftOut_.emplace(rel, sourceRoot_ + rel);
            return;
        }
        // A link is replaced by the real folder (the job makes its folders
        // before any link); a file in the way is not the product's to
        // remove.
        if (!S_ISLNK(st.st_mode)) {
            errno = ENOTDIR;
            break;
        }
        if (!RemoveEntry(parent.Get(), name.c_str())) break;
    }
    TargetFailed(operation_, shown, errno);
}

uint64_t TreeCopy::CopyEntry(CopyPlace& place, const std::string& rel) {
    if (operation_.StopRequested) return 0;
    const std::string folder = ParentOf(rel);
    const std::string name = NameOf(rel);
    if (!place.open || place.rel != folder) {
        const auto holder = leftOut_.find(folder);
        place.leftOutWith = holder == leftOut_.end() ? nullptr : &holder->second;
        // Beneath the source root without following a link: a folder that
        // another user swapped for a link since the collection is not read.
        place.source.Reset(OpenBeneath(sourceFd_.Get(), folder, O_PATH));
        place.sourceError = place.source ? 0 : errno;
        place.target.Reset(place.leftOutWith ? -1 : OpenBeneath(root_.Get(), folder, O_PATH));
        place.targetError = place.target ? 0 : errno;
        place.rel = folder;
        place.open = true;
    }
    const std::string sourceShown = sourceRoot_ + rel;
    const std::string targetShown = outputBase_ + "/" + rel;
    if (place.leftOutWith) {
        operation_.RecordProblem(sourceShown, MakeMessage(MessageId::kLeftOutWithFolder, {*place.leftOutWith}));
        return 0;
    }
    if (!place.source) {
        operation_.RecordProblem(sourceShown, SourceErrorText(place.sourceError));
        return 0;
    }
    if (!place.target) {
        TargetFailed(operation_, targetShown, place.targetError);
        return 0;
    }

    struct stat st {};
    if (::fstatat(place.source.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        operation_.RecordProblem(sourceShown, ErrorText(errno));
        return 0;
    }
    const uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
        // A hard link: the first of its names to come is copied, the later
        // ones become links of that copy.
        std::unique_lock lock(linksMutex_);
        auto [link, first] = links_.try_emplace({st.st_dev, st.st_ino});
        if (!first) {
            linkMade_.wait(lock, [&] { return link->second.done; });
            const bool made = link->second.made;
            const std::string firstRel = link->second.rel;
            lock.unlock();
            if (made) {
                const int linked = LinkToFirstCopy(place, name.c_str(), firstRel);
                if (linked == 0) return size;
                if (linked == EEXIST) {
                    NameTaken(place.target.Get(), folder, name);
                    return size;
                }
                if (IsDestinationFailure(linked)) {
                    operation_.RecordDestinationFailure(targetShown, linked);
                    return size;
                }
            }
        } else {
            link->second.rel = rel;
            lock.unlock();
            const Made made = CopyStatted(operation_, user_, place.source.Get(), name.c_str(), place.target.Get(),
                                          name.c_str(), st, AtName::kKeep, sourceShown, targetShown);
            if (made == Made::kNameTaken) NameTaken(place.target.Get(), folder, name);
            lock.lock();
            link->second.done = true;
            link->second.made = made == Made::kYes;
            linkMade_.notify_all();
            return size;
        }
    }
    if (CopyStatted(operation_, user_, place.source.Get(), name.c_str(), place.target.Get(), name.c_str(), st,
                    AtName::kKeep, sourceShown, targetShown) == Made::kNameTaken) {
        NameTaken(place.target.Get(), folder, name);
    }
    return size;
}

int TreeCopy::LinkToFirstCopy(CopyPlace& place, const char* name, const std::string& firstRel) {
    const UniqueFd firstFolder(OpenBeneath(root_.Get(), ParentOf(firstRel), O_PATH));
    if (!firstFolder) return errno;
    const std::string firstName = NameOf(firstRel);
    // Where the file system has no hard links, the file is copied instead.
    if (::linkat(firstFolder.Get(), firstName.c_str(), place.target.Get(), name, 0) == 0) return 0;
    return errno;
}

void TreeCopy::FinishFolders() {
    // Deepest first: a folder's time is set once nothing more is made in
    // it, and a folder made unwritable no longer needs to be entered.
    std::vector<const std::string*> order;
    order.reserve(folders_.size());
    for (const auto& rel : folders_) order.push_back(&rel);
    auto depth = [](const std::string* rel) { return std::count(rel->begin(), rel->end(), '/'); };
    std::stable_sort(order.begin(), order.end(),
                     [&](const std::string* a, const std::string* b) { return depth(a) > depth(b); });
    for (const std::string* rel : order) {
        if (operation_.StopRequested) return;
        const std::string shown = outputBase_ + "/" + *rel;
        const UniqueFd target(OpenBeneath(root_.Get(), *rel, O_RDONLY));
        if (!target) {
            TargetFailed(operation_, shown, errno);
            continue;
        }
        const std::string sourcePath = sourceRoot_ + *rel;
        // A folder that cannot be read still gives its mode and times.
        UniqueFd source(OpenBeneath(sourceFd_.Get(), *rel, O_RDONLY));
        const bool readable = source.Valid();
        if (!readable) source.Reset(OpenBeneath(sourceFd_.Get(), *rel, O_PATH));
        struct stat st {};
        if (!source || ::fstat(source.Get(), &st) != 0) {
            operation_.RecordProblem(sourcePath, SourceErrorText(errno));
            continue;
        }
        KeepAttributes(operation_, user_, readable ? source.Get() : -1, target.Get(), st, shown);
    }
}

// ---------------------------------------------------------------------------
// Copier threads

ParallelCopier::ParallelCopier(TreeCopy& tree, const PathList& files)
    : tree_(tree), files_(files), copiers_(WorkerThreads(2, 4)), group_(tree.StopFlag()), working_(copiers_) {
    for (unsigned i = 0; i < copiers_ && !group_.Failed(); ++i) {
        group_.Start([this, i] {
            try {
                Run(i);
            } catch (...) {
                Abandon();
                throw;
            }
        });
    }
    // A copier that could not be started fails the copy before any file is
    // handed over.
    if (group_.Failed()) {
        Abandon();
        group_.Finish();
    }
}

ParallelCopier::~ParallelCopier() {
    Abandon();
    group_.Join();
}

void ParallelCopier::Abandon() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        done_ = true;
    }
    ready_.notify_all();
    copied_.notify_all();
}

size_t ParallelCopier::Lead() const {
    if (finished_ == 0) return kLeastAhead;      // no size seen yet
    if (finishedBytes_ == 0) return kMostAhead;  // empty files only
    return static_cast<size_t>(std::clamp<uint64_t>(kAheadBytes * finished_ / finishedBytes_, kLeastAhead, kMostAhead));
}

void ParallelCopier::Release(size_t count) {
    std::unique_lock lock(mutex_);
    for (size_t i = released_; i < count; ++i) {
        const std::string_view path = files_[i];
        const std::string_view folder = path.substr(0, path.rfind('/') + 1);
        if (!pending_.empty() && pending_.back().folder == folder && pending_.back().first + pending_.back().count == i)
            ++pending_.back().count;
        else
            pending_.push_back({i, 1, folder});
    }
    released_ = std::max(released_, count);
    if (idle_ > 0) ready_.notify_one();
    if (released_ - finished_ <= Lead()) return;
    // Waits until half the files ahead are copied, so that the copiers wake
    // this thread once per few files rather than once per file.
    ownerWaiting_ = true;
    copied_.wait(lock, [this] { return abandoned_ || released_ - finished_ <= Lead() / 2; });
    ownerWaiting_ = false;
}

void ParallelCopier::Finish() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    ready_.notify_all();
    group_.Finish();
}

size_t ParallelCopier::Claim(unsigned self, std::vector<size_t>& batch) {
    // The first run in a folder no other copier is in, else the first.
    const auto looked = pending_.begin() + static_cast<std::ptrdiff_t>(std::min(pending_.size(), kLookAt));
    auto run = std::find_if(pending_.begin(), looked, [this](const FolderRun& r) {
        return std::find(working_.begin(), working_.end(), r.folder) == working_.end();
    });
    if (run == looked) run = pending_.begin();
    // A few files at a time, so that the lock is taken once per few files;
    // at most a share of those waiting, so that every copier has work.
    const size_t take = std::min(run->count, std::clamp<size_t>((released_ - claimed_) / copiers_, 1, kBatch));
    for (size_t k = 0; k < take; ++k)
        if (seen_.insert(files_[run->first + k]).second) batch.push_back(run->first + k);
    working_[self] = run->folder;
    claimed_ += take;
    run->first += take;
    run->count -= take;
    if (run->count == 0) pending_.erase(run);
    return take;
}

void ParallelCopier::Run(unsigned self) {
    CopyPlace place;
    size_t handled = 0;  // files handled since the lock was last held
    uint64_t bytes = 0;  // and their sizes
    std::vector<size_t> batch;
    while (true) {
        batch.clear();
        {
            std::unique_lock lock(mutex_);
            finished_ += handled;
            finishedBytes_ += bytes;
            working_[self] = {};
            if (handled > 0 && ownerWaiting_ && released_ - finished_ <= Lead() / 2) copied_.notify_one();
            ++idle_;
            ready_.wait(lock, [this] { return claimed_ < released_ || done_; });
            --idle_;
            if (abandoned_ || claimed_ >= released_) return;
            handled = Claim(self, batch);
        }
        bytes = 0;
        for (const size_t index : batch) {
            // After a stop the files left are passed over, not copied.
            if (tree_.Stopped()) break;
            const std::string rel = TFileOperation::StripRoot(files_[index], tree_.SourceRoot());
            if (!rel.empty()) bytes += tree_.CopyEntry(place, rel);
        }
    }
}

}  // namespace tessarine
