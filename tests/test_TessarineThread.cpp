#include "engine/TessarineThread.h"
#include "engine/staging.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "engine/Common.h"
#include "recording_host.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RecordingHost;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

using Calls = std::vector<std::string>;

const std::string kWait = "[しばらくお待ちください]";

// src/ with sub/ (one file), empty/ and two files at the top: F = 3, N = 3.
struct Job {
    TempDir dir;
    std::string src, out;
    RecordingHost host;
    Job() : src(dir.folder() + "src/"), out(dir.folder() + "out/") {
        MakeDir(src);
        MakeDir(out);
        MakeDir(src + "sub");
        MakeDir(src + "empty");
        WriteFile(src + "a.txt", "a");
        WriteFile(src + "b.jpg", "b");
        WriteFile(src + "sub/c.txt", "c");
        host.request.SourcePath = src;
        host.request.OutputBase = out + "src20261209120000";
        host.request.FolderToOpen = out;
        host.request.OpenFolderWhenDone = true;
    }
    Calls Run(JobMode mode) {
        host.request.JobMode = mode;
        TTessarineThread worker(host);
        worker.NothingFoundPause = std::chrono::milliseconds(0);
        worker.Start();
        worker.Join();
        problems = worker.Problems();
        result = worker.Result();
        return host.calls;
    }
    std::string Filter(const std::string& rows) {
        const std::string path = dir.folder() + "f.dat";
        WriteFile(path, rows);
        return path;
    }
    std::vector<Problem> problems;
    JobResult result = JobResult::Done;
};

// The calls every job makes before its work.
Calls Collecting(bool files = true) {
    Calls c{"All 3 0 [] []", "Load", "Text [フォルダ情報取得中] " + kWait, "Pos 1"};
    if (files) c.push_back("Text [ファイル情報取得中] " + kWait);
    c.push_back("Pos 2");
    return c;
}

Calls Concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(TTessarineThread, CopyPublishesEveryFolderAndFileAndCopiesTheTree) {
    Job job;
    const Calls calls = job.Run(JobMode::kCopy);
    Calls expected = Collecting();
    // F = 3 and N = 3: the bar runs from 12 to 18 of 18.
    expected.push_back("All 18 12 [] []");
    for (int i = 1; i <= 3; ++i)
        expected.push_back("All 18 " + std::to_string(12 + i) + " [フォルダ作成中] [" + std::to_string(i) + "/3]");
    for (int j = 1; j <= 3; ++j)
        expected.push_back("All 18 " + std::to_string(15 + j) + " [ファイルコピー中] [" + std::to_string(j) + "/3]");
    expected = Concat(expected, {"All 3 0 [] []", "Pos 3", "Open " + job.out, "Finish"});
    EXPECT_EQ(calls, expected);

    const std::string base = job.host.request.OutputBase;
    EXPECT_EQ(ReadFile(base + "/a.txt"), "a");
    EXPECT_EQ(ReadFile(base + "/sub/c.txt"), "c");
    EXPECT_TRUE(FolderExists(base + "/empty"));
    EXPECT_TRUE(job.problems.empty());
}

TEST(TTessarineThread, FilteredCopyMakesEveryFolderAndCopiesOnlyMatches) {
    Job job;
    job.host.request.FilterFile = job.Filter("\"1\",\"1\",\"画像\",\"jpg\",\r\n");
    job.Run(JobMode::kCopy);
    const std::string base = job.host.request.OutputBase;
    EXPECT_EQ(ReadFile(base + "/b.jpg"), "b");
    EXPECT_EQ(ReadFile(base + "/a.txt"), "<missing>");
    EXPECT_TRUE(FolderExists(base + "/sub"));
    EXPECT_TRUE(FolderExists(base + "/empty"));
}

TEST(TTessarineThread, ArchiveModesPublishTheirStatusLine) {
    const std::pair<JobMode, std::string> modes[] = {{JobMode::kZip, "ZIP圧縮中"},
                                                     {JobMode::kZipPassword, "ZIP圧縮中"},
                                                     {JobMode::kSevenZip, "7-ZIP圧縮中"},
                                                     {JobMode::kSevenZipPassword, "7-ZIP圧縮中"}};
    for (const auto& [mode, status] : modes) {
        Job job;
        const Calls calls = job.Run(mode);
        ASSERT_GE(calls.size(), 7u);
        EXPECT_EQ(Calls(calls.begin(), calls.begin() + 6), Collecting());
        EXPECT_EQ(calls[6], "Text [" + status + "] " + kWait) << NumberOf(mode);
        EXPECT_EQ(calls.back(), "Finish");
    }
}

TEST(TTessarineThread, FileListJobWritesTheListAndNeverOpensTheFolder) {
    Job job;
    const Calls calls = job.Run(JobMode::kFileList);
    EXPECT_EQ(calls, Concat(Collecting(), {"Pos 3", "Finish"}));
    const std::string text = ReadFile(job.host.request.OutputBase + ".txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_NE(text.find(job.src + "sub/c.txt\r\n"), std::string::npos);
}

TEST(TTessarineThread, FolderListJobSkipsTheFileWalkAndReportsNothingFound) {
    Job job;
    job.host.noFileMsg = 1;
    const Calls calls = job.Run(JobMode::kFolderList);
    EXPECT_EQ(calls,
              Concat(Collecting(false), {"Pos 3", "Text [] [ファイルが見つかりませんでした]", "Pos 3", "Finish"}));
    const std::string text = ReadFile(job.host.request.OutputBase + ".txt");
    EXPECT_EQ(text.substr(0, job.src.size() + 2), job.src + "\r\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST(TTessarineThread, NothingFoundOpensTheDestinationOnlyWithoutFilter) {
    {
        Job job;
        job.host.noFileMsg = 1;
        job.host.request.SourcePath = job.src + "empty/";
        const Calls calls = job.Run(JobMode::kCopy);
        EXPECT_EQ(calls, Concat(Collecting(), {"Pos 3", "Text [] [ファイルが見つかりませんでした]", "Pos 3",
                                               "Open " + job.out, "Finish"}));
        EXPECT_FALSE(FolderExists(job.host.request.OutputBase));
    }
    {
        Job job;
        job.host.request.FilterFile = job.Filter("\"1\",\"0\",\"x\",\"txt\",\r\n");
        const Calls calls = job.Run(JobMode::kCopy);
        EXPECT_EQ(calls, Concat(Collecting(), {"Pos 3", "Finish"}));
    }
    {
        // An empty file list job still writes its (empty) list.
        Job job;
        job.host.request.SourcePath = job.src + "empty/";
        job.Run(JobMode::kFileList);
        EXPECT_EQ(ReadFile(job.host.request.OutputBase + ".txt"), "");
    }
}

TEST(TTessarineThread, FailingStepIsShownAndTheJobStillFinishesOnce) {
    Job job;
    job.host.fromCommandLine = true;
    job.host.request.FilterFile = job.dir.folder() + "vanished.dat";
    const Calls calls = job.Run(JobMode::kCopy);
    EXPECT_EQ(calls, (Calls{"All 3 0 [] []", "Load", "Text [フォルダ情報取得中] " + kWait,
                            "Message エラー: ファイル " + job.dir.folder() + "vanished.dat は開けません", "Finish",
                            "CloseTimer"}));

    Job job2;
    job2.host.request.OutputBase = job2.dir.folder() + "no-such-folder/list";
    const Calls calls2 = job2.Run(JobMode::kFileList);
    EXPECT_EQ(std::count(calls2.begin(), calls2.end(), "Finish"), 1);
    EXPECT_NE(std::find_if(calls2.begin(), calls2.end(),
                           [](const std::string& c) {
                               return c.rfind("Message エラー: ", 0) == 0 && c.find("no-such-folder") != c.npos;
                           }),
              calls2.end());
}

// A host that removes a collected file just before the copy reaches it.
class VanishingHost : public testsupport::RecordingHost {
public:
    std::string victim;
    void ShowProgressAll(const JobProgress& p) override {
        RecordingHost::ShowProgressAll(p);
        if (p.StatusText == "ファイルコピー中" && !victim.empty()) {
            ::unlink(victim.c_str());
            victim.clear();
        }
    }
};

TEST(TTessarineThread, EntriesThatCouldNotBeCopiedAreReportedAtTheEnd) {
    Job job;
    VanishingHost host;
    host.request = job.host.request;
    host.request.JobMode = JobMode::kCopy;
    host.victim = job.src + "sub/c.txt";
    TTessarineThread worker(host);
    worker.Execute();
    ASSERT_EQ(worker.Problems().size(), 1u);
    EXPECT_EQ(worker.Problems()[0].path, job.src + "sub/c.txt");
    const auto warning = std::find_if(host.calls.begin(), host.calls.end(),
                                      [](const std::string& c) { return c.rfind("Message 警告: 1 件", 0) == 0; });
    ASSERT_NE(warning, host.calls.end());
    EXPECT_NE(warning->find(job.src + "sub/c.txt"), std::string::npos);
    EXPECT_EQ(*(warning + 1), "Finish");
    EXPECT_EQ(ReadFile(job.host.request.OutputBase + "/a.txt"), "a");
}

// Without the 7-Zip library no archive is made: that is a failed job with its
// box, never a silent success.
TEST(TTessarineThread, ArchiveThatWasNotMadeIsAFailedJob) {
    Job job;
    const Calls calls = job.Run(JobMode::kZip);
    EXPECT_EQ(job.result, JobResult::Failed);
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "Message エラー: 書庫 " + job.host.request.OutputBase + ".zip は作成されませんでした"),
              calls.end());
    Job copy;
    copy.Run(JobMode::kCopy);
    EXPECT_EQ(copy.result, JobResult::Done);
}

// A host that damages the product at the moment the worker starts reading it
// back, as a failing disk would.
class DamagingHost : public testsupport::RecordingHost {
public:
    void ShowProgressText(const JobProgress& p) override {
        RecordingHost::ShowProgressText(p);
        if (p.StatusText != "検証中") return;
        // The product is still in its staging folder while it is read back.
        const std::string folder = request.OutputBase.substr(0, request.OutputBase.rfind('/') + 1);
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (IsStagingName(e.path().filename().string()))
                WriteFile(e.path().string() + "/src20261209120000.txt", "lost\r\n");
    }
};

TEST(TTessarineThread, VerifiedJobReadsTheProductBackAndFailsWhenItDiffers) {
    Job job;
    job.host.request.Verify = true;
    EXPECT_EQ(job.Run(JobMode::kFileList), Concat(Collecting(), {"Text [検証中] " + kWait, "Pos 3", "Finish"}));

    Job damaged;
    DamagingHost host;
    host.request = damaged.host.request;
    host.request.JobMode = JobMode::kFileList;
    host.request.Verify = true;
    TTessarineThread worker(host);
    worker.Execute();
    EXPECT_TRUE(worker.Failed());
    EXPECT_NE(
        std::find_if(host.calls.begin(), host.calls.end(),
                     [](const std::string& c) { return c.rfind("Message エラー: 検証に失敗しました: ", 0) == 0; }),
        host.calls.end());
}

// A host whose first call recorded with the given text in it runs out of
// memory, as a host that builds a caption or posts to a window may.
class OutOfMemoryHost : public testsupport::RecordingHost {
public:
    std::string failingCall;
    void ShowProgressAll(const JobProgress& p) override {
        RecordingHost::ShowProgressAll(p);
        MaybeFail();
    }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        RecordingHost::ShowMessage(caption, text);
        MaybeFail();
    }

private:
    void MaybeFail() {
        if (failingCall.empty() || calls.back().find(failingCall) == std::string::npos) return;
        failingCall.clear();
        throw std::bad_alloc();
    }
};

// Memory that runs out in any call of the job, the host's included, fails
// the job with the memory message: it never leaves the worker's thread,
// which would end the process, the job still finishes once, and nothing is
// left in the destination.
TEST(TTessarineThread, MemoryThatRunsOutEndsTheJobNeverTheThread) {
    const std::string memory = "Message エラー: メモリーが足りなくなったため、ジョブを中止しました";
    const struct {
        const char* what;
        const char* failingCall;
        bool missingFilter;  // the job fails on its own first
    } cases[] = {
        {"the job's start", "All 3 0 [] []", false},
        {"the copy", "[ファイルコピー中]", false},
        {"the error box of a failed step", "Message エラー: ファイル", true},
    };
    for (const auto& c : cases) {
        Job job;
        OutOfMemoryHost host;
        host.request = job.host.request;
        host.request.JobMode = JobMode::kCopy;
        if (c.missingFilter) host.request.FilterFile = job.dir.folder() + "vanished.dat";
        host.failingCall = c.failingCall;
        TTessarineThread worker(host);
        worker.Start();
        worker.Join();
        EXPECT_TRUE(host.failingCall.empty()) << c.what << ": the call was never made";
        EXPECT_TRUE(worker.Failed()) << c.what;
        EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Finish"), 1) << c.what;
        EXPECT_EQ(host.calls.back(), "Finish") << c.what;
        EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), memory), host.calls.end()) << c.what;
        EXPECT_EQ(testsupport::FolderNames(job.out), std::vector<std::string>{}) << c.what;
    }
}
