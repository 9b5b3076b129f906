// A copy job must write nothing but its new product: never through a link at
// or inside the output, never reading special files, and it must keep what
// `cp -a` keeps, at any depth.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <dirent.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "engine/TessarineThread.h"
#include "engine/staging.h"
#include "engine/tree_copy.h"
#include "engine/unique_fd.h"
#include "recording_host.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RecordingHost;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct CopyJob {
    TempDir dir;
    std::string src, dest, base;
    RecordingHost host;
    bool failed = false;
    std::string failure;
    std::vector<Problem> problems;

    CopyJob() : src(dir.folder() + "src/"), dest(dir.folder() + "dest/") {
        MakeDir(src);
        MakeDir(dest);
        WriteFile(src + "a.txt", "alpha");
        MakeDir(src + "sub");
        WriteFile(src + "sub/b.txt", "bravo");
        SetDestination(dest);
        host.request.JobMode = JobMode::kCopy;
        host.request.IncludeHiddenFiles = true;
        host.request.IncludeHiddenFolders = true;
    }
    void SetDestination(const std::string& folder) {
        base = folder + "src20261209120000";
        host.request.SourcePath = src;
        host.request.OutputBase = base;
    }
    // Runs the job here; returns 0 when it ended without failure or problem.
    int Run() {
        TTessarineThread worker(host);
        worker.Execute();
        failed = worker.Failed();
        failure = worker.FailureText();
        problems = worker.Problems();
        return failed ? 1 : (problems.empty() ? 0 : 3);
    }
    std::string ProblemText() const {
        std::string text = failure;
        for (const auto& p : problems) text += "\n" + p.path + ": " + RenderMessage(p.reason);
        return text;
    }
};

struct stat LStat(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st.st_mode = 0;
    return st;
}

void SetMtime(const std::string& path, time_t sec, long nsec) {
    // The access time differs from the one set, so a copy that keeps the
    // access time in its place is caught.
    const timespec times[2] = {{sec + 12345, 0}, {sec, nsec}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::string GetXattr(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = ::lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? "<none>" : std::string(value, static_cast<size_t>(n));
}

}  // namespace

// ---------------------------------------------------------------------------
// Links at the output name and inside the output

// Whatever stands at the product's name (a link into the source, an
// earlier product with links planted inside, another user's link in a
// shared folder) stays as it is: the product takes the next free name.
TEST(CopySafety, EntryAtTheOutputNameIsNeverWrittenAndTheProductTakesTheNextName) {
    struct Case {
        const char* what;
        bool shared;  // the destination is a sticky shared folder, the job runs as nobody
        void (*plant)(const std::string& base, const std::string& src, const std::string& outside);
    };
    const Case cases[] = {
        {"link to the source", false,
         [](const std::string& base, const std::string& src, const std::string&) {
             ASSERT_EQ(::symlink(src.c_str(), base.c_str()), 0);
         }},
        {"earlier product with planted links", false,
         [](const std::string& base, const std::string&, const std::string& outside) {
             MakeDir(base);
             ASSERT_EQ(::symlink(outside.c_str(), (base + "/sub").c_str()), 0);
             ASSERT_EQ(::symlink((outside + "victim").c_str(), (base + "/a.txt").c_str()), 0);
         }},
        {"another user's link in a shared folder", true,
         [](const std::string& base, const std::string&, const std::string& outside) {
             ASSERT_EQ(::symlink(outside.c_str(), base.c_str()), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.shared && ::geteuid() != 0) continue;  // needs root to plant a link of another user
        CopyJob job;
        const std::string outside = job.dir.folder() + "outside/";
        MakeDir(outside);
        ::chmod(outside.c_str(), 0777);
        WriteFile(outside + "victim", "victim");
        if (c.shared) {
            const std::string shared = job.dir.folder() + "shared/";
            MakeDir(shared);
            ::chmod(shared.c_str(), 01777);
            job.SetDestination(shared);
        }
        c.plant(job.base, job.src, outside);
        const struct stat before = LStat(job.base);
        const int status = c.shared ? testsupport::RunUnprivileged([&] { return job.Run(); }) : job.Run();
        EXPECT_EQ(status, 0) << job.ProblemText();
        EXPECT_EQ(ReadFile(outside + "victim"), "victim");
        EXPECT_EQ(LStat(outside + "a.txt").st_mode, 0u);
        EXPECT_EQ(LStat(outside + "sub").st_mode, 0u);
        EXPECT_EQ(ReadFile(job.src + "a.txt"), "alpha");
        EXPECT_EQ(LStat(job.base).st_ino, before.st_ino);
        EXPECT_EQ(LStat(job.base).st_mode, before.st_mode);
        EXPECT_TRUE(S_ISDIR(LStat(job.base + "_2").st_mode));
        EXPECT_EQ(ReadFile(job.base + "_2/sub/b.txt"), "bravo");
        EXPECT_EQ(ReadFile(job.base + "_2/a.txt"), "alpha");
    }
}

TEST(CopySafety, OutputThatALinkPutsInsideTheSourceIsRefused) {
    CopyJob job;
    const std::string via = job.dir.folder() + "via";
    ::symlink((job.src + "sub").c_str(), via.c_str());
    job.SetDestination(via + "/");
    EXPECT_EQ(job.Run(), 1);
    EXPECT_FALSE(job.failure.empty());
    EXPECT_EQ(LStat(job.src + "sub/src20261209120000").st_mode, 0u);
}

TEST(TreeCopy, FolderResolutionNeverFollowsALinkWithOrWithoutOpenat2) {
    TempDir dir;
    MakeDir(dir.folder() + "a");
    MakeDir(dir.folder() + "a/b");
    ::symlink("b", (dir.folder() + "a/l").c_str());
    const UniqueFd root(::open(dir.path().c_str(), O_PATH | O_DIRECTORY));
    for (auto open : {&OpenBeneath, &OpenBeneathByComponents}) {
        EXPECT_GE(UniqueFd(open(root.Get(), "a/b/", O_PATH)).Get(), 0);
        EXPECT_LT(UniqueFd(open(root.Get(), "a/l", O_PATH)).Get(), 0);
        EXPECT_LT(UniqueFd(open(root.Get(), "a/l/", O_PATH)).Get(), 0);
    }
}

// ---------------------------------------------------------------------------
// Special files

TEST(CopySafety, FifoDeviceAndSocketAreRecreatedAndTheJobEnds) {
    CopyJob job;
    ASSERT_EQ(::mkfifo((job.src + "pipe").c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::mknod((job.src + "zero").c_str(), S_IFCHR | 0644, makedev(1, 5)), 0);
    }
    const UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = job.src + "sock";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(::bind(sock.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    const struct stat pipe = LStat(job.base + "/pipe");
    EXPECT_TRUE(S_ISFIFO(pipe.st_mode));
    EXPECT_EQ(pipe.st_mode & 07777, 0640u);
    EXPECT_TRUE(S_ISSOCK(LStat(job.base + "/sock").st_mode));
    if (root) {
        const struct stat zero = LStat(job.base + "/zero");
        EXPECT_TRUE(S_ISCHR(zero.st_mode));
        EXPECT_EQ(zero.st_rdev, makedev(1, 5));
    }
}

// ---------------------------------------------------------------------------
// Metadata

TEST(CopySafety, FolderModesAndTimesFileModesAndLinkTimesAreKept) {
    CopyJob job;
    MakeDir(job.src + "private");
    WriteFile(job.src + "private/secret", "s");
    ::chmod((job.src + "private/secret").c_str(), 0640);
    ::chmod((job.src + "private").c_str(), 0700);
    ::chmod((job.src + "sub").c_str(), 0750);
    ::symlink("a.txt", (job.src + "link").c_str());
    if (::geteuid() == 0) {  // root keeps owners, as `cp -a` does
        ::chown((job.src + "private/secret").c_str(), 65534, 65534);
        ::lchown((job.src + "link").c_str(), 65534, 65534);
    }
    SetMtime(job.src + "link", 1100000000, 5);
    SetMtime(job.src + "private", 1200000000, 123456789);
    SetMtime(job.src + "sub", 1300000000, 0);
    SetMtime(job.src, 1400000000, 42);
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();

    // What `cp -a` makes of the same tree is what the job makes.
    const std::string cpOut = job.dir.folder() + "cp-a";
    ASSERT_EQ(std::system(("cp -a '" + job.src + "' '" + cpOut + "'").c_str()), 0);
    for (const char* rel : {"", "/private", "/private/secret", "/sub", "/sub/b.txt", "/link", "/a.txt"}) {
        const struct stat ours = LStat(job.base + rel);
        const struct stat cp = LStat(cpOut + rel);
        EXPECT_EQ(ours.st_mode, cp.st_mode) << rel;
        EXPECT_EQ(ours.st_mtim.tv_sec, cp.st_mtim.tv_sec) << rel;
        EXPECT_EQ(ours.st_mtim.tv_nsec, cp.st_mtim.tv_nsec) << rel;
        EXPECT_EQ(ours.st_uid, cp.st_uid) << rel;
        EXPECT_EQ(ours.st_gid, cp.st_gid) << rel;
    }
    EXPECT_EQ(LStat(job.base + "/private").st_mode & 07777, 0700u);
    EXPECT_EQ(LStat(job.base + "/private").st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(LStat(job.base + "/private/secret").st_uid, LStat(job.src + "private/secret").st_uid);
}

TEST(CopySafety, ExtendedAttributesAndAclsOfFilesAndFoldersAreKept) {
    CopyJob job;
    if (::setxattr((job.src + "a.txt").c_str(), "user.note", "hello", 5, 0) != 0) {
        GTEST_SKIP() << "the file system holds no user extended attributes";
    }
    ASSERT_EQ(::setxattr((job.src + "sub").c_str(), "user.folder", "f", 1, 0), 0);
    // An access ACL granting nobody read access: user::rw- user:65534:r-- group::r-- mask::r-- other::---.
    const uint32_t none = 0xffffffff;
    const struct __attribute__((packed)) {
        uint32_t version = 2;
        struct {
            uint16_t tag, perm;
            uint32_t id;
        } e[5];
    } acl{2, {{0x01, 6, none}, {0x02, 4, 65534}, {0x04, 4, none}, {0x10, 4, none}, {0x20, 0, none}}};
    const bool acls = ::setxattr((job.src + "sub/b.txt").c_str(), "system.posix_acl_access", &acl, sizeof acl, 0) == 0;
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    EXPECT_EQ(GetXattr(job.base + "/a.txt", "user.note"), "hello");
    EXPECT_EQ(GetXattr(job.base + "/sub", "user.folder"), "f");
    if (acls) {
        EXPECT_EQ(GetXattr(job.base + "/sub/b.txt", "system.posix_acl_access"),
                  GetXattr(job.src + "sub/b.txt", "system.posix_acl_access"));
    }
}

TEST(CopySafety, AttributesTheTargetCannotHoldAreCountedNotReported) {
    CopyJob job;
    if (::setxattr((job.src + "a.txt").c_str(), "user.note", "hello", 5, 0) != 0) {
        GTEST_SKIP() << "the file system holds no user extended attributes";
    }
    // ramfs holds permissions but no extended attributes.
    if (::mount("none", job.dest.c_str(), "ramfs", 0, nullptr) != 0) GTEST_SKIP() << "cannot mount ramfs";
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    EXPECT_EQ(ReadFile(job.base + "/a.txt"), "alpha");
    TFileOperation op;
    op.CopyOneFile(job.src + "a.txt", job.dest + "one.txt");
    EXPECT_TRUE(op.Problems.empty());
    EXPECT_EQ(op.AttributesNotHeld, 1u);
    ::umount2(job.dest.c_str(), MNT_DETACH);
}

TEST(CopySafety, SparseFileStaysSparse) {
    CopyJob job;
    const std::string path = job.src + "sparse.img";
    {
        const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT, 0644));
        ASSERT_EQ(::ftruncate(fd.Get(), off_t{1} << 30), 0);
        ASSERT_EQ(::pwrite(fd.Get(), "x", 1, off_t{1} << 29), 1);
    }
    if (LStat(path).st_blocks * 512 > (1 << 20)) GTEST_SKIP() << "the file system holds no holes";
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    const struct stat copy = LStat(job.base + "/sparse.img");
    EXPECT_EQ(copy.st_size, off_t{1} << 30);
    EXPECT_LT(copy.st_blocks * 512, 1 << 20);
    const UniqueFd fd(::open((job.base + "/sparse.img").c_str(), O_RDONLY));
    char c = 0;
    EXPECT_EQ(::pread(fd.Get(), &c, 1, off_t{1} << 29), 1);
    EXPECT_EQ(c, 'x');
}

TEST(CopySafety, HardLinksStayHardLinks) {
    CopyJob job;
    ASSERT_EQ(::link((job.src + "a.txt").c_str(), (job.src + "sub/same.txt").c_str()), 0);
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    const struct stat one = LStat(job.base + "/a.txt");
    const struct stat two = LStat(job.base + "/sub/same.txt");
    EXPECT_EQ(one.st_ino, two.st_ino);
    EXPECT_EQ(one.st_nlink, 2u);
    EXPECT_EQ(ReadFile(job.base + "/sub/same.txt"), "alpha");
}

// ---------------------------------------------------------------------------
// Copier threads: files are taken out of list order, folder by folder

namespace {

struct CopierTree {
    TempDir dir;
    std::string src = dir.folder() + "src/", base = dir.folder() + "copy";
    TFileOperation operation;
    PathList files;
    std::vector<std::string> folders;
    CopierTree() { MakeDir(src); }
    void AddFolder(const std::string& rel) {
        MakeDir(src + rel);
        folders.push_back(rel);
    }
    // Copies `files` as the copy job does; `afterRelease` runs after each
    // release with the count released so far.
    template <typename Check>
    void Copy(Check afterRelease) {
        TreeCopy tree(operation, src, base);
        tree.MakeFolder("");
        for (const auto& rel : folders) tree.MakeFolder(rel);
        ParallelCopier copier(tree, files);
        for (size_t j = 1; j <= files.size(); ++j) {
            copier.Release(j);
            afterRelease(j);
        }
        copier.Finish();
        tree.FinishFolders();
    }
};

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

}  // namespace

TEST(ParallelCopier, EveryFileOfManyFoldersIsCopiedOnceWithItsHardLinksAndRepeatsInTheList) {
    CopierTree t;
    for (int f = 0; f < 30; ++f) {
        const std::string folder = "d" + std::to_string(f) + "/";
        t.AddFolder(folder);
        for (int i = 0; i < 25; ++i) {
            const std::string rel = folder + "f" + std::to_string(i);
            WriteFile(t.src + rel, rel);
            t.files.push_back(t.src + rel);
            if (i % 5 == 0) t.files.push_back(t.src + rel);  // listed twice in a row
        }
        if (f > 0) {  // a hard link of a file of the folder before, listed before its first name
            ASSERT_EQ(::link((t.src + "d" + std::to_string(f - 1) + "/f3").c_str(), (t.src + folder + "link").c_str()),
                      0);
            t.files.push_back(t.src + folder + "link");
        }
    }
    t.files.push_back(t.src + "d0/f7");  // and once more, far from its first place
    t.Copy([](size_t) {});
    EXPECT_TRUE(t.operation.Problems.empty());
    for (int f = 0; f < 30; ++f) {
        const std::string folder = t.base + "/d" + std::to_string(f) + "/";
        EXPECT_EQ(FilesIn(folder), f > 0 ? 26u : 25u) << folder;
        for (int i = 0; i < 25; ++i) {
            const std::string rel = "d" + std::to_string(f) + "/f" + std::to_string(i);
            EXPECT_EQ(ReadFile(t.base + "/" + rel), rel);
        }
        if (f > 0) {
            EXPECT_EQ(LStat(folder + "link").st_ino, LStat(t.base + "/d" + std::to_string(f - 1) + "/f3").st_ino);
        }
    }
}

TEST(ParallelCopier, ReleaseOfLargeFilesWaitsForTheCopyingToKeepUp) {
    // With files of 2 MiB the release may run only a few files ahead of the
    // copying, so that the progress shown stays close to what is copied.
    CopierTree t;
    t.AddFolder("big/");
    const std::string content(2 << 20, 'z');
    for (int i = 0; i < 48; ++i) {
        const std::string path = t.src + "big/f" + std::to_string(i);
        WriteFile(path, content);
        t.files.push_back(path);
    }
    size_t mostAhead = 0;
    t.Copy([&](size_t released) {
        const size_t there = FilesIn(t.base + "/big");
        mostAhead = std::max(mostAhead, released > there ? released - there : 0);
    });
    EXPECT_TRUE(t.operation.Problems.empty());
    EXPECT_EQ(FilesIn(t.base + "/big"), 48u);
    EXPECT_LE(mostAhead, 20u);
}

// ---------------------------------------------------------------------------
// Depth

TEST(CopySafety, TreeDeeperThanPathMaxIsCollectedListedAndCopiedWhole) {
    CopyJob job;
    const std::string name(200, 'd');
    std::string rel;
    {
        UniqueFd folder(::open(job.src.c_str(), O_PATH | O_DIRECTORY));
        for (int level = 0; level < 30; ++level) {
            ASSERT_EQ(::mkdirat(folder.Get(), name.c_str(), 0755), 0);
            folder.Reset(::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY));
            rel += name + "/";
        }
        const UniqueFd file(::openat(folder.Get(), "deep.txt", O_WRONLY | O_CREAT, 0644));
        ASSERT_EQ(::write(file.Get(), "deep", 4), 4);
    }
    ASSERT_GT(job.src.size() + rel.size(), static_cast<size_t>(PATH_MAX));
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    const UniqueFd copy(OpenLongPath(AT_FDCWD, job.base + "/" + rel + "deep.txt", O_RDONLY));
    ASSERT_TRUE(copy.Valid());
    char text[8] = {};
    EXPECT_EQ(::read(copy.Get(), text, sizeof text), 4);
    EXPECT_STREQ(text, "deep");

    job.host.request.JobMode = JobMode::kFileList;
    EXPECT_EQ(job.Run(), 0) << job.ProblemText();
    EXPECT_NE(ReadFile(job.base + ".txt").find(job.src + rel + "deep.txt\r\n"), std::string::npos);
    RemoveTreeAt(AT_FDCWD, job.src.c_str());
    RemoveTreeAt(AT_FDCWD, job.base.c_str());
}

// Readers that stop at the first short read would take a piece for the
// whole: a sequenced-packet socket hands one packet per read.
TEST(ReadFull, GathersEveryPieceUpToTheSizeAndStopsAtTheEnd) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    UniqueFd reader(ends[0]), writer(ends[1]);
    ASSERT_EQ(::write(writer.Get(), "abc", 3), 3);
    ASSERT_EQ(::write(writer.Get(), "def", 3), 3);
    writer.Reset();
    char buffer[8] = {};
    EXPECT_EQ(ReadFull(reader.Get(), buffer, 6), 6);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(ReadFull(reader.Get(), buffer, sizeof buffer), 0);
}

// A host that, as the copy begins, swaps a collected folder of the source
// for a link to a folder outside the tree, as the owner of a shared tree
// could while root's job runs.
class SwappingHost : public RecordingHost {
public:
    std::string folder, outside;
    void ShowProgressAll(const JobProgress& p) override {
        RecordingHost::ShowProgressAll(p);
        if (p.StatusText != "ファイルコピー中" || folder.empty()) return;
        ASSERT_EQ(::rename(folder.c_str(), (folder + ".moved").c_str()), 0);
        ASSERT_EQ(::symlink(outside.c_str(), folder.c_str()), 0);
        folder.clear();
    }
};

TEST(CopySafety, FolderSwappedForALinkAfterTheCollectionIsNotFollowed) {
    TempDir dir;
    const std::string src = dir.folder() + "src/", outside = dir.folder() + "private/";
    MakeDir(src);
    MakeDir(src + "sub");
    MakeDir(src + "sub/deep");
    WriteFile(src + "a.txt", "a");
    WriteFile(src + "sub/b.txt", "b");
    WriteFile(src + "sub/deep/c.txt", "c");
    MakeDir(outside);
    MakeDir(outside + "deep");
    WriteFile(outside + "b.txt", "secret");
    WriteFile(outside + "deep/c.txt", "secret");
    SwappingHost host;
    host.folder = src + "sub";
    host.outside = outside;
    host.request.JobMode = JobMode::kCopy;
    host.request.SourcePath = src;
    host.request.OutputBase = dir.folder() + "src20261209120000";
    TTessarineThread worker(host);
    worker.Execute();
    EXPECT_EQ(worker.Result(), JobResult::DoneWithProblems);
    std::set<std::string> named;
    for (const auto& p : worker.Problems()) named.insert(p.path);
    EXPECT_TRUE(named.count(src + "sub/b.txt")) << named.size();
    EXPECT_TRUE(named.count(src + "sub/deep/c.txt")) << named.size();
    const std::string product = host.request.OutputBase;
    EXPECT_EQ(ReadFile(product + "/a.txt"), "a");
    for (const auto& e : std::filesystem::recursive_directory_iterator(product)) {
        if (e.is_regular_file()) {
            EXPECT_NE(ReadFile(e.path().string()), "secret") << e.path();
        }
    }
}
