// What every job promises, tried with tessarine-cli on a hostile tree as an
// ordinary user would meet it: the job ends, writes nothing but its product,
// and says exactly what it made and what it left out.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <map>

#include "process_runner.h"
#include "test_support.h"

using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace fs = std::filesystem;

namespace {

// Everything about a tree that a job must leave as it was: each entry's type,
// permission bits, modification time, and content or link text.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none); it != fs::end(it); ++it) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        std::string value = std::to_string(st.st_mode) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                            std::to_string(st.st_mtim.tv_nsec) + " ";
        if (S_ISREG(st.st_mode) && (st.st_mode & 0444)) value += ReadFile(it->path());
        if (S_ISLNK(st.st_mode)) value += fs::read_symlink(it->path()).string();
        entries[it->path().string()] = value;
    }
    return entries;
}

void MakeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    ::close(fd);
}

// src/ holds ordinary files, names with the word "error", a link that leads
// out of the tree, a named pipe, a device like /dev/zero, a socket and a file
// its user cannot read. The job runs as an unprivileged user.
struct HostileTree {
    TempDir dir;
    std::string user = dir.folder() + "user", src = dir.folder() + "src", out = dir.folder() + "out",
                outside = dir.folder() + "outside";
    HostileTree() {
        for (const auto& d : {user, src, out, outside, src + "/sub", src + "/error-notes"}) MakeDir(d);
        WriteFile(src + "/a.txt", "a");
        WriteFile(src + "/sub/b.txt", "b");
        WriteFile(src + "/error-notes/terror.txt", "t");
        WriteFile(outside + "/secret.txt", "secret");
        ::symlink("../outside/secret.txt", (src + "/link-out").c_str());
        ::mkfifo((src + "/fifo").c_str(), 0644);
        ::mknod((src + "/zero").c_str(), S_IFCHR | 0666, ::makedev(1, 5));
        MakeSocket(src + "/socket");
        WriteFile(src + "/locked.txt", "no");
        ::chmod((src + "/locked.txt").c_str(), 0);
        for (const auto& d : {dir.path(), out}) ::chmod(d.c_str(), 0777);
        testsupport::HandToUnprivileged(user);
    }
    testsupport::ProcessResult Run(const std::string& mode) {
        return RunProgram("tessarine-cli", {"--user-folder", user, "--mode", mode, "--dest", out, src}, "pw\n", true,
                          120);
    }
};

}  // namespace

TEST(JobGuarantees, EveryModeEndsLeavesTheSourceAloneAndNamesWhatItLeftOut) {
    for (const std::string mode : {"copy", "zip", "7z-pass", "lha", "filelist", "folderlist"}) {
        HostileTree t;
        const auto before = Snapshot(t.src);
        const auto outsideBefore = Snapshot(t.outside);
        const auto r = t.Run(mode);
        ASSERT_NE(r.status, -1) << mode << ": the job did not end";
        EXPECT_EQ(Snapshot(t.src), before) << mode;
        EXPECT_EQ(Snapshot(t.outside), outsideBefore) << mode;
        // One product, its path printed, nothing else in the destination.
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << mode << ": " << r.err;
        const std::string product = r.out.substr(0, r.out.size() - 1);
        EXPECT_TRUE(fs::exists(fs::symlink_status(product))) << mode;
        EXPECT_EQ(std::distance(fs::directory_iterator(t.out), {}), 1) << mode;
        if (mode == "filelist" || mode == "folderlist") {
            EXPECT_EQ(r.status, 0) << mode << ": " << r.err;  // names only: nothing is opened
            continue;
        }
        // The unreadable file is missing from every product and named, with
        // the special files an archive cannot hold; the word "error" in
        // names is no failure.
        EXPECT_EQ(r.status, 3) << mode << ": " << r.err;
        EXPECT_NE(r.err.find(t.src + "/locked.txt"), std::string::npos) << mode << ": " << r.err;
        if (mode != "copy") {
            for (const std::string special : {"/fifo", "/zero", "/socket"})
                EXPECT_NE(r.err.find(t.src + special), std::string::npos) << mode << special << ": " << r.err;
        }
    }
}

// An archive or list already at the output name (planted, or made in the
// same second) is replaced whole, never added to; a link there is replaced,
// not written through.
TEST(JobGuarantees, ProductsReplaceWhatStandsAtTheirName) {
    HostileTree t;
    ::chmod((t.src + "/locked.txt").c_str(), 0644);
    for (const auto& special : {"/fifo", "/zero", "/socket"}) ::unlink((t.src + special).c_str());
    for (const std::string mode : {"zip", "7z", "lha", "filelist"}) {
        const std::string extension = mode == "filelist" ? ".txt" : mode == "lha" ? ".lzh" : "." + mode;
        // The planted products of this second and the next few, so that the
        // job's stamp meets one of them.
        const std::time_t now = std::time(nullptr);
        std::vector<std::string> planted;
        for (int s = 0; s < 4; ++s) {
            const std::time_t when = now + s;
            std::tm tm{};
            localtime_r(&when, &tm);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
            planted.push_back(t.out + "/src" + stamp + extension);
        }
        for (size_t i = 0; i < planted.size(); ++i) {
            if (i % 2 == 0) {
                ::symlink((t.outside + "/secret.txt").c_str(), planted[i].c_str());
            } else if (mode == "filelist") {
                WriteFile(planted[i], "planted\r\n");
            } else {
                const std::string junk = t.dir.folder() + "junk.txt";
                WriteFile(junk, "planted member");
                ASSERT_EQ(RunProgram("/usr/bin/7zz",
                                     {"a", "-t" + (mode == "lha" ? std::string("zip") : mode), planted[i], junk})
                              .status,
                          0);
            }
        }
        // Run by this test's user, with a user folder of its own (the tree's
        // belongs to the unprivileged user).
        const auto r = RunProgram("tessarine-cli",
                                  {"--user-folder", t.dir.folder() + "root", "--mode", mode, "--dest", t.out, "--stamp",
                                   "long", "--no-underscore", t.src},
                                  {}, false, 120);
        ASSERT_EQ(r.status, 0) << mode << ": " << r.err;
        const std::string product = r.out.substr(0, r.out.size() - 1);
        EXPECT_EQ(ReadFile(t.outside + "/secret.txt"), "secret") << mode;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(product))) << mode;
        if (mode == "filelist") {
            EXPECT_EQ(ReadFile(product).find("planted"), std::string::npos);
        } else if (mode != "lha") {
            const auto list = RunProgram("/usr/bin/7zz", {"l", product});
            EXPECT_EQ(list.out.find("junk.txt"), std::string::npos) << mode << list.out;
            EXPECT_NE(list.out.find("a.txt"), std::string::npos) << mode << list.out;
        }
        for (const auto& p : planted) ::unlink(p.c_str());
        ::unlink(product.c_str());
        // No temporary is left beside the product.
        EXPECT_EQ(std::distance(fs::directory_iterator(t.out), {}), 0) << mode;
    }
}
