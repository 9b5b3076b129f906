// Copies and archives made where users keep backups: a case-folding USB
// stick (exFAT, FAT), a disk that fills up, a mount that refuses
// permissions. Each test mounts the real file system under a temporary
// folder and drives tessarine-cli as a user would, or the engine where the
// moment of a failure must be chosen.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "engine/FileOperation.h"
#include "engine/destination.h"
#include "engine/tree_copy.h"
#include "mounts.h"
#include "process_runner.h"
#include "recording_host.h"
#include "test_support.h"

using tessarine::PathList;
using testsupport::FileSystem;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::TestMount;
using testsupport::WriteFile;

namespace fs = std::filesystem;

namespace {

testsupport::ProcessResult CopyWithCli(const std::string& user, const std::string& dest, const std::string& src,
                                       const std::string& mode = "copy") {
    return RunProgram("tessarine-cli", {"--user-folder", user, "--mode", mode, "--dest", dest, "--quiet", src}, {},
                      false, 120);
}

// The lines of standard error that name `path` at their start.
std::vector<std::string> LinesAbout(const std::string& err, const std::string& path) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < err.size()) {
        const size_t end = std::min(err.find('\n', start), err.size());
        const std::string line = err.substr(start, end - start);
        if (line.compare(0, path.size() + 2, path + ": ") == 0) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The names in a folder of the product.
std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
    return names;
}

// The product's path, printed on standard output.
std::string ProductOf(const testsupport::ProcessResult& r) {
    return r.out.empty() ? std::string() : r.out.substr(0, r.out.find('\n'));
}

#define SKIP_UNLESS_MOUNTED(m) \
    if (!(m).Mounted()) GTEST_SKIP() << (m).Why()

}  // namespace

// A destination that folds letter case holds one of A.txt and a.txt, and
// one of the folders Docs and docs. The other is left out, never put in
// the place of the first nor merged into it, and named with both source
// paths; every file beneath a folder left out is named too. exFAT folds
// letters beyond ASCII as well. (fusefat takes no copy at all, below.)
TEST(Destinations, NamesThatFoldTogetherKeepTheFirstAndNameBothSourcesOfTheOther) {
    using Pair = std::tuple<std::string, std::string, std::string>;  // two names, "/" for folders
    struct Case {
        FileSystem kind;
        std::vector<Pair> pairs;
    };
    const std::vector<Pair> unicode = {{"A.txt", "a.txt", ""}, {"Docs", "docs", "/"}, {"\u00c4.txt", "\u00e4.txt", ""}};
    for (const Case& c : {Case{FileSystem::kExfat, unicode}}) {
        SCOPED_TRACE(testsupport::NameOf(c.kind));
        TempDir dir;
        const std::string src = dir.folder() + "src/", user = dir.folder() + "user";
        MakeDir(user);
        MakeDir(src);
        std::map<std::string, std::string> files = {
            {"A.txt", "upper"},
            {"a.txt", "lower"},
            {"Docs/one.txt", "one"},
            {"docs/two.txt", "two"},
            {"docs/deep/three.txt", "three"},
        };
        if (c.pairs.size() > 2) files.insert({{"\u00c4.txt", "A umlaut"}, {"\u00e4.txt", "a umlaut"}});
        for (const auto& d : {"Docs", "docs", "docs/deep"}) MakeDir(src + d);
        for (const auto& [name, content] : files) WriteFile(src + name, content);
        TestMount mount(c.kind, dir.path());
        SKIP_UNLESS_MOUNTED(mount);

        const auto r = CopyWithCli(user, mount.Point(), src);
        ASSERT_EQ(r.status, 3) << r.err;
        const std::string product = ProductOf(r);
        for (const auto& [upper, lower, slash] : c.pairs) {
            const std::set<std::string> names = NamesIn(product);
            const bool upperKept = names.count(upper) > 0;
            ASSERT_NE(upperKept, names.count(lower) > 0) << "exactly one of " << upper << " and " << lower;
            const std::string kept = upperKept ? upper : lower, other = upperKept ? lower : upper;
            const auto lines = LinesAbout(r.err, src + other + slash);
            ASSERT_EQ(lines.size(), 1u) << r.err;
            EXPECT_NE(lines[0].find(src + kept + slash), std::string::npos) << lines[0];
            EXPECT_TRUE(LinesAbout(r.err, src + kept + slash).empty()) << r.err;
        }
        // What was copied is what its own source holds; what lies under the
        // folder left out is named one by one and found nowhere.
        for (const auto& [name, content] : files) {
            const bool copied = fs::exists(product + "/" + name) && ReadFile(product + "/" + name) == content;
            // On the folding destination a left-out name finds the kept
            // entry, which must not hold this file's content.
            const bool named = !LinesAbout(r.err, src + name).empty();
            EXPECT_NE(copied, named) << name << "\n" << r.err;
        }
    }
}

// A destination that fills up ends the job once: exit 1, one message with
// the cause and the destination, no line per file left. Not enough free
// space for the collected files is found before anything is written.
TEST(Destinations, AFullDestinationFailsTheJobOnceWithItsCause) {
    struct Case {
        const char* what;
        unsigned inodes;  // ext4 with this few inodes runs out of them half way
        size_t files;     // small files
        size_t bigBytes;  // and one file of this size
        const char* expected;
    };
    const Case cases[] = {
        {"the inodes run out half way", 64, 150, 0, "No space left on device"},
        {"the files need more than is free", 0, 3, 12u << 20, "not enough free space"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string src = dir.folder() + "src/", user = dir.folder() + "user";
        MakeDir(user);
        MakeDir(src);
        for (size_t i = 0; i < c.files; ++i) WriteFile(src + "f" + std::to_string(i), "x");
        if (c.bigBytes) WriteFile(src + "big", std::string(c.bigBytes, 'b'));
        TestMount mount(FileSystem::kExt4, dir.path(), 8, c.inodes);
        SKIP_UNLESS_MOUNTED(mount);

        const auto r = CopyWithCli(user, mount.Point(), src);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        ASSERT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(mount.Point()), std::string::npos) << r.err;
        if (c.bigBytes) {
            // Both figures, and nothing written.
            EXPECT_NE(r.err.find("needed 12,"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("bytes, free "), std::string::npos) << r.err;
            EXPECT_EQ(NamesIn(mount.Point()), std::set<std::string>{"lost+found"});
        }
    }
}

// A write that fails for want of space is the destination's failure, told
// once; the file cut short is removed and the copiers take no more files.
TEST(Destinations, AWriteThatRunsOutOfSpaceStopsTheCopyAndLeavesNoFileCutShort) {
    TempDir dir;
    const std::string src = dir.folder() + "src/";
    MakeDir(src);
    tessarine::PathList files;
    for (int i = 0; i < 40; ++i) {
        const std::string name = src + "f" + std::to_string(i);
        WriteFile(name, std::string(1u << 20, static_cast<char>('a' + i % 26)));
        files.push_back(name);
    }
    TestMount mount(FileSystem::kExt4, dir.path(), 8);
    SKIP_UNLESS_MOUNTED(mount);

    tessarine::TFileOperation operation;
    {
        tessarine::TreeCopy tree(operation, src, mount.Point() + "/product");
        tree.MakeFolder("");
        tessarine::ParallelCopier copier(tree, files);
        copier.Release(files.size());
        copier.Finish();
        tree.FinishFolders();
    }
    const tessarine::WriteFailure failure = operation.DestinationFailure();
    EXPECT_EQ(failure.error, ENOSPC);
    EXPECT_EQ(failure.path.compare(0, mount.Point().size(), mount.Point()), 0) << failure.path;
    EXPECT_TRUE(operation.StopRequested);
    EXPECT_TRUE(operation.Problems.empty())
        << operation.Problems.front().path << ": " << RenderMessage(operation.Problems.front().reason);
    size_t whole = 0;
    for (const auto& name : NamesIn(mount.Point() + "/product")) {
        EXPECT_EQ(fs::file_size(mount.Point() + "/product/" + name), 1u << 20) << name << " is cut short";
        ++whole;
    }
    EXPECT_LT(whole, files.size());
}

// Before the job, what the destination cannot hold is taken out of the
// lists and named with its reason: names FAT and exFAT refuse (a folder
// with everything beneath it), files of 4 GiB on FAT, and in an LHA
// archive on any destination.
TEST(Destinations, WhatTheDestinationCannotHoldIsNamedBeforeTheJob) {
    struct Case {
        FileSystem kind;
        const char* mode;
        std::vector<std::string> leftOut;  // relative to the source, with the reason's words
        std::vector<std::string> kept;
    };
    const std::string refused = "cannot hold this name";
    const std::string withFolder = "left out with the folder";
    const Case cases[] = {
        {FileSystem::kExfat,
         "copy",
         {"what?.txt", "colon:.txt", "tab\t.txt", "dot.", "blank ", "bad./", "bad./in.txt", "bad./sub/", "bad./sub/z"},
         {"ok.txt"}},
        {FileSystem::kExt4, "lha", {"big"}, {"ok.txt", "what?.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(testsupport::NameOf(c.kind)) + " " + c.mode);
        TempDir dir;
        const std::string src = dir.folder() + "src/", user = dir.folder() + "user";
        MakeDir(user);
        MakeDir(src);
        for (const auto& name : c.leftOut) {
            if (name.back() == '/') MakeDir(src + name);
        }
        for (const auto* list : {&c.leftOut, &c.kept}) {
            for (const auto& name : *list) {
                if (name == "big") {
                    // Sparse: 4 GiB of length, no blocks.
                    WriteFile(src + name, "");
                    ASSERT_EQ(::truncate((src + name).c_str(), off_t{1} << 32), 0);
                } else if (name.back() != '/') {
                    WriteFile(src + name, name);
                }
            }
        }
        TestMount mount(c.kind, dir.path(), 64);
        SKIP_UNLESS_MOUNTED(mount);

        const auto r = CopyWithCli(user, mount.Point(), src, c.mode);
        ASSERT_EQ(r.status, 3) << r.err;
        for (const auto& name : c.leftOut) {
            const auto lines = LinesAbout(r.err, src + name);
            ASSERT_EQ(lines.size(), 1u) << name << "\n" << r.err;
            const bool beneath = name.find("bad./") == 0 && name != "bad./";
            const std::string reason = beneath ? withFolder : name == "big" ? "4 GiB or more" : refused;
            EXPECT_NE(lines[0].find(reason), std::string::npos) << lines[0];
        }
        for (const auto& name : c.kept) EXPECT_TRUE(LinesAbout(r.err, src + name).empty()) << name << "\n" << r.err;
        if (std::string(c.mode) == "copy") {
            const std::string product = ProductOf(r);
            EXPECT_EQ(ReadFile(product + "/ok.txt"), "ok.txt");
            EXPECT_FALSE(fs::exists(product + "/bad.")) << "a refused folder is not made";
        }
    }
}

// Metadata the destination refuses is told once for the job with its
// kinds, not as a problem per entry: on the command line's standard error,
// and in the window's progress view.
TEST(Destinations, MetadataTheDestinationRefusesIsToldOnceByKind) {
    struct Case {
        FileSystem kind;
        std::vector<std::pair<std::string, std::string>> told;  // the kinds named on the one line (English, Japanese)
    };
    const Case cases[] = {
        {FileSystem::kChmodRefused, {{"permissions", "アクセス権"}}},
        // exfat-fuse takes every mode and keeps none.
        {FileSystem::kExfat, {{"permissions", "アクセス権"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testsupport::NameOf(c.kind));
        TempDir dir;
        const std::string src = dir.folder() + "src/", user = dir.folder() + "user";
        MakeDir(user);
        MakeDir(src);
        MakeDir(src + "sub");
        for (const auto& name : {"a.txt", "b.txt", "sub/c.txt"}) WriteFile(src + name, name);
        // An owner that is not the copying user's, and an extended attribute.
        ::chown((src + "a.txt").c_str(), 1234, 1234);
        const bool xattrs = ::setxattr((src + "b.txt").c_str(), "user.note", "n", 1, 0) == 0;
        TestMount mount(c.kind, dir.path());
        SKIP_UNLESS_MOUNTED(mount);

        const auto r = CopyWithCli(user, mount.Point(), src);
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("did not keep their"), std::string::npos) << r.err;
        for (const auto& [english, japanese] : c.told) {
            if (english == "extended attributes" && !xattrs) continue;
            EXPECT_NE(r.err.find(english), std::string::npos) << english << ": " << r.err;
        }
        EXPECT_EQ(ReadFile(ProductOf(r) + "/sub/c.txt"), "sub/c.txt");

        testsupport::RecordingHost host;
        host.request.JobMode = tessarine::JobMode::kCopy;
        host.request.SourcePath = src;
        host.request.OutputBase = mount.Point() + "/window";
        tessarine::TTessarineThread worker(host);
        worker.Execute();
        EXPECT_EQ(worker.Result(), tessarine::JobResult::Done);
        std::vector<std::string> told;
        for (const auto& call : host.calls) {
            if (call.find("保存先のファイルシステムが保存できない") != std::string::npos) told.push_back(call);
            EXPECT_EQ(call.rfind("Message", 0), std::string::npos) << call;
        }
        ASSERT_EQ(told.size(), 1u);
        for (const auto& [english, japanese] : c.told) {
            if (english == "extended attributes" && !xattrs) continue;
            EXPECT_NE(told[0].find(japanese), std::string::npos) << japanese << ": " << told[0];
        }
    }
}

// fusefat renames a folder as an empty one: a copy, which gets its dated
// name by renaming its folder, is refused before anything is copied, and
// nothing is left. What FAT cannot hold is still named by the pre-flight
// check, and lists and archives, single files, are made there.
TEST(Destinations, FusefatRefusesACopyButTakesListsAndArchives) {
    TempDir dir;
    const std::string src = dir.folder() + "src/", user = dir.folder() + "user";
    MakeDir(user);
    MakeDir(src);
    MakeDir(src + "bad.");
    for (const auto& name : {"ok.txt", "what?.txt", "pipe|.txt", "bad./in.txt"}) WriteFile(src + name, name);
    WriteFile(src + "big", "");
    ASSERT_EQ(::truncate((src + "big").c_str(), off_t{1} << 32), 0);
    TestMount mount(FileSystem::kFat, dir.path());
    SKIP_UNLESS_MOUNTED(mount);

    const auto copy = CopyWithCli(user, mount.Point(), src);
    EXPECT_EQ(copy.status, 1) << copy.err;
    EXPECT_NE(copy.err.find("loses the content of a folder"), std::string::npos) << copy.err;
    EXPECT_TRUE(NamesIn(mount.Point()).empty());
    for (const std::string mode : {"filelist", "lha"}) {
        const auto r = CopyWithCli(user, mount.Point(), src, mode);
        EXPECT_LE(r.status, 3) << mode << ": " << r.err;
        EXPECT_TRUE(fs::is_regular_file(ProductOf(r))) << mode << ": " << r.out << r.err;
    }

    std::vector<std::string> folders = {src, src + "bad./"};
    PathList files = {src + "ok.txt", src + "what?.txt", src + "pipe|.txt", src + "bad./in.txt", src + "big"};
    tessarine::JobRequest request;
    request.JobMode = tessarine::JobMode::kCopy;
    request.SourcePath = src;
    request.OutputBase = mount.Point() + "/src20261209120000";
    const auto preflight = tessarine::Preflight(request, folders, files);
    std::set<std::string> leftOut;
    for (const auto& p : preflight.leftOut) leftOut.insert(p.path);
    EXPECT_EQ(leftOut, (std::set<std::string>{src + "what?.txt", src + "pipe|.txt", src + "bad./", src + "bad./in.txt",
                                              src + "big"}));
    EXPECT_EQ(testsupport::SortedPaths(files), (std::vector<std::string>{src + "ok.txt"}));
}
