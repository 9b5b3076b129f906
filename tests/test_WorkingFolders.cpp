#include "launch/WorkingFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <vector>

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

namespace {
// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        had_ = std::getenv(name) != nullptr;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

// Runs in another current folder for one test.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& folder) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~ScopedCwd() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};
}  // namespace

// Root can write an installed program folder, but its settings must not land
// in <prefix>/lib/tessarine/user/root: an installed copy keeps every user's
// data in that user's own data folder.
TEST(WorkingFolders, InstalledProgramFolderIsNotWrittenEvenWhenWritable) {
    Installation inst;
    WriteFile(inst.program + kInstalledMarkerName, "");
    ASSERT_EQ(::access(inst.program.c_str(), W_OK), 0);
    TCommon common;
    const std::string fallback = inst.dir.folder() + "home/share";
    const WorkingFolders f = PrepareWorkingFolders(inst.program, common, fallback);
    EXPECT_EQ(f.UserFolder, fallback + "/user/" + common.UserName);
    EXPECT_TRUE(f.NewUserFolder);
    EXPECT_EQ(ReadFile(f.DataFolder + "/画像.dat"), "img");
    EXPECT_FALSE(FolderExists(inst.program + "user"));
}

// The XDG rules: a relative XDG_DATA_HOME is ignored (it would put the user
// folder under whatever the current folder happens to be).
TEST(WorkingFolders, RelativeXdgDataHomeIsIgnored) {
    Installation inst;
    WriteFile(inst.program + kInstalledMarkerName, "");
    MakeDir(inst.dir.folder() + "home");
    MakeDir(inst.dir.folder() + "cwd");
    ScopedEnv home("HOME", (inst.dir.folder() + "home").c_str());
    ScopedEnv data("XDG_DATA_HOME", "relative/share");
    ScopedCwd cwd(inst.dir.folder() + "cwd");
    TCommon common;
    const WorkingFolders f = PrepareWorkingFolders(inst.program, common);
    EXPECT_EQ(f.UserFolder, inst.dir.folder() + "home/.local/share/tessarine/user/" + common.UserName);
    EXPECT_FALSE(FolderExists(inst.dir.folder() + "cwd/relative"));

    ScopedEnv absolute("XDG_DATA_HOME", (inst.dir.folder() + "xdg").c_str());
    EXPECT_EQ(PerUserDataFolder(), inst.dir.folder() + "xdg/tessarine");
}

TEST(WorkingFolders, AUserFolderSomeoneElseControlsIsRefusedUntouched) {
    // Each case spoils one entry of a folder that is fine as an earlier
    // version made it (0755 folders, 0644 files); the refusal names it, and
    // a refused folder is neither seeded nor given its own folders.
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* what;
        std::string entry;  // relative to the user folder; "" the folder itself
        std::function<void(const std::string&)> spoil;
        const char* reason;  // part of the message; empty: accepted
    };
    const auto chmodTo = [](mode_t mode) { return [mode](const std::string& p) { ::chmod(p.c_str(), mode); }; };
    const auto toLink = [](const std::string& p) {
        std::filesystem::rename(p, p + ".real");
        std::filesystem::create_symlink(p + ".real", p);
    };
    const auto toNobody = [](const std::string& p) { ASSERT_EQ(::lchown(p.c_str(), 65534, 65534), 0) << p; };
    const std::vector<Case> cases = {
        {"as an earlier version left it", "", [](const std::string&) {}, ""},
        {"folder readable by all", "", chmodTo(0755), ""},
        {"filter readable by all", "data/src.dat", chmodTo(0644), ""},
        {"folder a link", "", toLink, "シンボリックリンク"},
        {"set.ini group-writable", "set.ini", chmodTo(0620), "書き込める"},
        {"folderlist.dat a link", "folderlist.dat", toLink, "シンボリックリンク"},
        {"data world-writable", "data", chmodTo(0757), "書き込める"},
        {"filter a link", "data/src.dat", toLink, "シンボリックリンク"},
        {"tmp group-writable", "tmp", chmodTo(0775), "書き込める"},
        {"folder another user's", "", toNobody, "他のユーザーのもの"},
        {"filter another user's", "data/src.dat", toNobody, "他のユーザーのもの"},
    };
    for (const auto& c : cases) {
        if (!root && std::string(c.what).find("another user") != std::string::npos) continue;
        Installation inst;
        const std::string user = inst.dir.folder() + "user";
        MakeDir(user);
        MakeDir(user + "/data");
        MakeDir(user + "/tmp");
        WriteFile(user + "/set.ini", "[set]\r\n");
        WriteFile(user + "/folderlist.dat", "");
        WriteFile(user + "/data/src.dat", "src");
        for (const std::string& p : {user, user + "/data", user + "/tmp"}) ::chmod(p.c_str(), 0755);
        const std::string spoiled = c.entry.empty() ? user : user + "/" + c.entry;
        c.spoil(spoiled);
        // Made again only when the folder is accepted.
        const bool tmpTells = c.entry != "tmp";
        if (tmpTells) std::filesystem::remove(user + "/tmp");

        const std::string hazard = RenderMessage(UserFolderHazard(user));
        EXPECT_EQ(hazard.empty(), !*c.reason) << c.what << ": " << hazard;
        TCommon common;
        const WorkingFolders f = PrepareWorkingFoldersAt(inst.program, user, common);
        const std::string refusal = RenderMessage(f.Refusal);
        if (*c.reason) {
            EXPECT_NE(refusal.find(spoiled + " "), std::string::npos) << c.what << ": " << refusal;
            EXPECT_NE(refusal.find(c.reason), std::string::npos) << c.what << ": " << refusal;
            if (tmpTells) {
                EXPECT_FALSE(std::filesystem::exists(user + "/tmp")) << c.what;
            }
        } else {
            EXPECT_FALSE(f.Refusal) << c.what << ": " << refusal;
            EXPECT_TRUE(FolderExists(user + "/tmp")) << c.what;
        }
    }
}

TEST(WorkingFolders, NewUserFoldersAreTheirUsersAlone) {
    Installation inst;
    TCommon common;
    struct stat st {};
    const WorkingFolders beside = PrepareWorkingFolders(inst.program, common, inst.dir.folder() + "fallback");
    const WorkingFolders named = PrepareWorkingFoldersAt(inst.program, inst.dir.folder() + "a/b/user", common);
    for (const WorkingFolders& f : {beside, named}) {
        ASSERT_TRUE(f.NewUserFolder) << f.UserFolder;
        EXPECT_FALSE(f.Refusal) << RenderMessage(f.Refusal);
        for (const std::string& p : {f.UserFolder, f.UserFolder + "/data", f.UserFolder + "/tmp"}) {
            ASSERT_EQ(::lstat(p.c_str(), &st), 0) << p;
            EXPECT_EQ(st.st_mode & 07777, 0700u) << p;
        }
        // Started again, the folder it made is its own.
        EXPECT_FALSE(UserFolderHazard(f.UserFolder));
    }
}
