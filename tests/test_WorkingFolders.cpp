#include "engine/WorkingFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {
// A program folder with the installation's seed files.
struct Installation {
    TempDir dir;
    std::string program;
    Installation() : program(dir.folder() + "prog/") {
        MakeDir(program);
        MakeDir(program + "data");
        WriteFile(program + "data/画像.dat", "img");
        WriteFile(program + "data/src.dat", "src");
        WriteFile(program + "data/folderlist", "\"1\",\"n\",\"s\",\"\",\"/x/\",\r\n");
    }
};
}  // namespace

TEST(WorkingFolders, FirstStartSeedsLaterStartsKeepUserChanges) {
    Installation inst;
    TCommon common;
    WorkingFolders f = PrepareWorkingFolders(inst.program, common, inst.dir.folder() + "fallback");
    EXPECT_TRUE(f.NewUserFolder);
    EXPECT_EQ(f.UserFolder, inst.program + "user/" + common.UserName);
    EXPECT_EQ(f.DataFolder, f.UserFolder + "/data");
    EXPECT_TRUE(FolderExists(f.UserFolder + "/tmp"));
    EXPECT_EQ(ReadFile(f.DataFolder + "/画像.dat"), "img");
    EXPECT_EQ(ReadFile(f.FolderListPath()), "\"1\",\"n\",\"s\",\"\",\"/x/\",\r\n");

    // The user deletes a filter and the folder list: only the list comes back.
    ::unlink((f.DataFolder + "/src.dat").c_str());
    ::unlink(f.FolderListPath().c_str());
    f = PrepareWorkingFolders(inst.program, common, inst.dir.folder() + "fallback");
    EXPECT_FALSE(f.NewUserFolder);
    EXPECT_EQ(ReadFile(f.DataFolder + "/src.dat"), "<missing>");
    EXPECT_NE(ReadFile(f.FolderListPath()), "<missing>");
}

TEST(WorkingFolders, ReadOnlyProgramFolderFallsBackToThePerUserFolder) {
    Installation inst;
    ::chmod(inst.dir.path().c_str(), 0777);
    ::chmod(inst.program.c_str(), 0555);
    const std::string fallback = inst.dir.folder() + "home/share";
    const int status = testsupport::RunUnprivileged([&] {
        TCommon common;
        const WorkingFolders f = PrepareWorkingFolders(inst.program, common, fallback);
        if (f.UserFolder != fallback + "/user/" + common.UserName) return 1;
        if (!f.NewUserFolder) return 2;
        if (ReadFile(f.DataFolder + "/画像.dat") != "img") return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}
