// The staging folder a job makes its product in, the clean-up of what
// killed jobs left, and the earlier products a destination inside the
// source holds.
#include "engine/staging.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/own_products.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string ThisHost() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// A staging folder as a job of some host left it: with or without owner
// record, its mtime `age` seconds ago.
void Plant(const std::string& path, const std::string& record, time_t age = 0, bool empty = false) {
    MakeDir(path);
    if (!empty) WriteFile(path + "/product.zip", "half");
    if (!record.empty()) WriteFile(path + "/" + kStagingOwnerFile, record);
    const timespec when[2] = {{::time(nullptr) - age, 0}, {::time(nullptr) - age, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), when, 0);
}

}  // namespace

TEST(JobStaging, ProductTakesTheNextFreeNameAndNeverReplacesWhatIsThere) {
    TempDir dir;
    WriteFile(dir.folder() + "src20261209101500.zip", "earlier");
    MakeDir(dir.folder() + "src20261209101500_2.zip");
    ::symlink("/etc/passwd", (dir.folder() + "src20261209101500_3.zip").c_str());
    std::string published;
    {
        JobStaging staging(dir.path());
        EXPECT_TRUE(IsStagingName(std::filesystem::path(staging.Folder()).parent_path().filename().string()));
        WriteFile(staging.Folder() + "src20261209101500.zip", "new");
        const auto at = staging.Publish("src20261209101500.zip", "src20261209101500", ".zip");
        ASSERT_TRUE(at.has_value()) << std::strerror(errno);
        published = *at;
    }
    EXPECT_EQ(published, dir.folder() + "src20261209101500_4.zip");
    EXPECT_EQ(ReadFile(published), "new");
    EXPECT_EQ(ReadFile(dir.folder() + "src20261209101500.zip"), "earlier");
    // The staging folder went with the job.
    EXPECT_EQ(testsupport::FolderNames(dir.path()),
              (std::vector<std::string>{"src20261209101500.zip", "src20261209101500_2.zip", "src20261209101500_3.zip",
                                        "src20261209101500_4.zip"}));
}

TEST(JobStaging, UnpublishedProductGoesWithItsStagingFolder) {
    TempDir dir;
    {
        JobStaging staging(dir.path());
        MakeDir(staging.Folder() + "copy");
        MakeDir(staging.Folder() + "copy/sub");
        WriteFile(staging.Folder() + "copy/sub/f", "x");
        ::chmod((staging.Folder() + "copy/sub").c_str(), 0500);  // a copied read-only folder
        ::symlink(dir.folder().c_str(), (staging.Folder() + "copy/link").c_str());
    }
    EXPECT_TRUE(testsupport::FolderNames(dir.path()).empty());
}

// The next job removes what killed jobs left, and only that.
TEST(JobStaging, NextJobRemovesOnlyFoldersWhoseJobIsGone) {
    TempDir dir;
    const std::string host = "host=" + ThisHost() + "\nboot=x\npid=1\n";
    struct Case {
        const char* name;
        std::string record;
        time_t age;
        bool removed;
        bool empty = false;
    };
    const Case cases[] = {
        {".tessarine-Dead01", host, 0, true},                                // its job died
        {".tessarine-Other1", "host=elsewhere\nboot=x\npid=1\n", 0, false},  // a job of another machine
        {".tessarine-Fresh1", "", 0, false},                                 // an archiver\'s, being written
        {".tessarine-Empty1", "", 0, true, true},                            // its job died as it made it
        {".tessarine-Stale1", "", 3600, true},                               // unrecorded for an hour
        {".tessarine-long-name", host, 0, false},                            // not a staging name
        {"tessarine-Dead02", host, 0, false},                                // not hidden: not ours
    };
    for (const Case& c : cases) Plant(dir.folder() + c.name, c.record, c.age, c.empty);
    // A link that looks like a staging folder is never followed.
    const std::string outside = dir.folder() + "outside";
    Plant(outside, host);
    ::symlink(outside.c_str(), (dir.folder() + ".tessarine-Link01").c_str());
    // A running job holds its lock.
    JobStaging running(dir.path());

    EXPECT_EQ(RemoveAbandonedStaging(dir.path()), 3u);
    for (const Case& c : cases) EXPECT_EQ(Exists(dir.folder() + c.name), !c.removed) << c.name;
    EXPECT_TRUE(Exists(outside + "/product.zip"));
    EXPECT_TRUE(Exists(running.Folder() + kStagingOwnerFile));

    // Another process's lock counts like our own.
    Plant(dir.folder() + ".tessarine-Held01", host);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open((dir.folder() + ".tessarine-Held01").c_str(), O_RDONLY | O_DIRECTORY);
        ::flock(fd, LOCK_EX);
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(RemoveAbandonedStaging(dir.path()), 0u);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(RemoveAbandonedStaging(dir.path()), 1u);  // its holder is gone now
    EXPECT_FALSE(Exists(dir.folder() + ".tessarine-Held01"));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(OwnProducts, ProductNamesOfEitherStampAndNoLookAlike) {
    struct Case {
        const char* name;
        const char* extension;
        bool product;
    };
    const Case cases[] = {
        {"rep20261209101500.zip", ".zip", true},
        {"rep_20261209101500.zip", ".zip", true},
        {"rep261209_1015_00.zip", ".zip", true},
        {"rep_261209_1015_00.zip", ".zip", true},
        {"rep20261209101500_2.zip", ".zip", true},
        {"rep20261209101500_17.zip", ".zip", true},
        {"rep20261209101500", "", true},
        {"report20201209101500.zip", ".zip", false},  // another base name
        {"rep2026120910150.zip", ".zip", false},      // a 13-digit stamp
        {"rep202612091015000.zip", ".zip", false},    // 15 digits
        {"rep20261209101500.7z", ".zip", false},      // another extension
        {"rep20261209101500_1.zip", ".zip", false},   // the first has no suffix
        {"rep20261209101500_02.zip", ".zip", false},
        {"rep20261209101500_x.zip", ".zip", false},
        {"rep__20261209101500.zip", ".zip", false},
        {"rep20261209101500.zip.txt", ".txt", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsProductName(c.name, "rep", c.extension), c.product) << c.name;
    EXPECT_EQ(BaseNameOfStem("Docs_20261209101500"), "Docs");
    EXPECT_EQ(BaseNameOfStem("Docs261209_1015_00"), "Docs");
    EXPECT_EQ(BaseNameOfStem("2026"), "2026");
}

TEST(OwnProducts, DestinationInsideTheSourceLeavesOutEarlierProductsAndStagingFolders) {
    TempDir dir;
    const std::string src = dir.folder() + "src/";
    MakeDir(src);
    MakeDir(src + "out");
    MakeDir(src + "out/src20261209101500");  // an earlier copy
    MakeDir(src + "out/src20261209101500/deep");
    MakeDir(src + "out/.tessarine-Ab12Cd");  // another job's staging folder
    MakeDir(src + "out/src-notes");          // the user's own folder
    std::vector<std::string> folders = {src,
                                        src + "out/",
                                        src + "out/.tessarine-Ab12Cd/",
                                        src + "out/src-notes/",
                                        src + "out/src20261209101500/",
                                        src + "out/src20261209101500/deep/"};
    const OwnProductFilter copy(src, src + "out", "src_20261210090000", "", true);
    EXPECT_EQ(copy.LeaveOutFolders(folders), 2u);
    EXPECT_EQ(folders, (std::vector<std::string>{src, src + "out/", src + "out/src-notes/"}));

    PathList files = {src + "a.zip", src + "out/src20261209101500.zip", src + "out/src20261209101500_2.zip",
                      src + "out/src20261209101500.7z", src + "out/src-notes/src20261209101500.zip"};
    const OwnProductFilter zip(src, src + "out/", "src20261210090000", ".zip", false);
    EXPECT_EQ(zip.LeaveOutFiles(files), 2u);
    EXPECT_EQ(testsupport::SortedPaths(files),
              (std::vector<std::string>{src + "a.zip", src + "out/src-notes/src20261209101500.zip",
                                        src + "out/src20261209101500.7z"}));

    // A destination beside the source leaves everything in.
    MakeDir(dir.folder() + "elsewhere");
    const OwnProductFilter outside(src, dir.folder() + "elsewhere", "src20261210090000", ".zip", false);
    PathList all = {src + "out/src20261209101500.zip"};
    EXPECT_EQ(outside.LeaveOutFiles(all), 0u);
    EXPECT_EQ(all.size(), 1u);
}
