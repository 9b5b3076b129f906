#include "engine/TessarineThread.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "archive/Archive.h"
#include "engine/errors.h"
#include "engine/tree_copy.h"

namespace tessarine {

namespace {

const char* const kPleaseWait = "しばらくお待ちください";

}  // namespace

std::string ProblemsWarningText(const std::vector<Problem>& problems) {
    if (problems.empty()) return {};
    const Problem& first = problems.front();
    return std::to_string(problems.size()) + " 件の項目を読み取り、作成またはコピーできませんでした。\n" +
           "最初の項目: " + first.path + "\n理由: " + first.reason;
}

std::string JobProductPath(const JobRequest& request) {
    switch (request.JobMode) {
        case kModeCopy: return request.OutputBase;
        case kModeZip:
        case kModeZipPassword: return request.OutputBase + ".zip";
        case kModeLha: return request.OutputBase + ".lzh";
        case kModeSevenZip:
        case kModeSevenZipPassword: return request.OutputBase + ".7z";
        case kModeFileList:
        case kModeFolderList: return request.OutputBase + ".txt";
        default: return {};
    }
}

TTessarineThread::~TTessarineThread() { Join(); }

void TTessarineThread::Start() { thread_ = std::thread([this] { Execute(); }); }

void TTessarineThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void TTessarineThread::PublishText(const std::string& status, const std::string& detail) {
    progress_.StatusText = status;
    progress_.DetailText = detail;
    host_.ShowProgressText(progress_);
}

void TTessarineThread::PublishPos(int32_t pos) {
    progress_.ProgressPos = pos;
    host_.ShowProgressPos(progress_);
}

void TTessarineThread::Execute() {
    progress_ = JobProgress{3, 0, {}, {}};
    std::vector<std::string> folders;
    std::vector<std::string> files;
    bool filter = false;
    problems_.clear();
    failed_ = false;
    failureText_.clear();
    {
        TFileOperation operation;
        host_.ShowProgressAll(progress_);
        try {
            host_.LoadJobRequest(request_);
            RunSteps(operation, filter, folders, files);
        } catch (const std::exception& e) {
            // The job cannot go on; the user is told and the window is handed
            // back all the same.
            failed_ = true;
            failureText_ = e.what();
            host_.ShowMessage(kErrorCaption, failureText_);
        }
        problems_ = std::move(operation.Problems);
    }
    if (!problems_.empty()) host_.ShowMessage(kWarningCaption, ProblemsWarningText(problems_));
    folders = {};
    files = {};
    host_.FinishJob();
    if (host_.StartedFromCommandLine()) host_.ArmCloseTimer();
}

void TTessarineThread::RunSteps(TFileOperation& operation, bool& filter, std::vector<std::string>& folders,
                                std::vector<std::string>& files) {
    const JobRequest& r = request_;
    PublishText("フォルダ情報取得中", kPleaseWait);

    filter = !r.FilterFile.empty();
    if (filter) operation.LoadFilter(r.FilterFile);

    operation.CollectFolders(r.SourcePath, folders, r.IncludeHiddenFolders);
    folders.insert(folders.begin(), r.SourcePath);
    if (r.JobMode == kModeFolderList) SaveListFile(r.OutputBase + ".txt", folders);
    PublishPos(1);

    if (r.JobMode != kModeFolderList) {
        PublishText("ファイル情報取得中", kPleaseWait);
        operation.CollectFiles(folders, filter, r.IncludeHiddenFiles, files);
    }
    PublishPos(2);

    if (r.JobMode == kModeFileList) SaveListFile(r.OutputBase + ".txt", files);

    if (files.empty()) {
        if (host_.NoFileMsg() == 1) {
            PublishPos(3);
            PublishText("", "ファイルが見つかりませんでした");
            std::this_thread::sleep_for(NothingFoundPause);
        }
    } else {
        TFileArchive archive([this](const std::string& caption, const std::string& text) {
            host_.ShowMessage(caption, text);
        });
        switch (r.JobMode) {
            case kModeZip:
            case kModeZipPassword:
            case kModeSevenZip:
            case kModeSevenZipPassword: {
                const bool zip = r.JobMode == kModeZip || r.JobMode == kModeZipPassword;
                PublishText(zip ? "ZIP圧縮中" : "7-ZIP圧縮中", kPleaseWait);
                if (r.JobMode == kModeZipPassword || r.JobMode == kModeSevenZipPassword) archive.SetPassword(r.Password);
                archive.CompressSevenZip(r.SourcePath, files, r.OutputBase + (zip ? ".zip" : ".7z"), r.JobMode);
                break;
            }
            case kModeLha:
                PublishText("Lha圧縮中", kPleaseWait);
                archive.CompressLha(r.SourcePath, files, r.OutputBase + ".lzh");
                break;
            case kModeCopy:
                CopyTree(operation, folders, files);
                break;
            default:
                break;
        }
    }
    PublishPos(3);

    // Without a filter the destination opens also when nothing was found;
    // with one, only when files were found.
    const bool listMode = r.JobMode == kModeFileList || r.JobMode == kModeFolderList;
    if (!listMode && (!filter || !files.empty()) && r.OpenFolderWhenDone) host_.OpenFolder(r.FolderToOpen);
}

void TTessarineThread::CopyTree(TFileOperation& operation, const std::vector<std::string>& folders,
                                const std::vector<std::string>& files) {
    const JobRequest& r = request_;
    const auto F = static_cast<int32_t>(folders.size());
    const auto N = static_cast<int32_t>(files.size());
    progress_ = JobProgress{3 * (F + N), 2 * (F + N), {}, {}};
    host_.ShowProgressAll(progress_);

    // The product folder is opened once; everything in it is made relative
    // to it, and no link at or inside it is followed.
    TreeCopy tree(operation, r.SourcePath, r.OutputBase);
    // Every folder first, so that empty folders are made too and every file
    // finds its folder.
    for (int32_t i = 1; i <= F; ++i) {
        ++progress_.ProgressPos;
        progress_.StatusText = "フォルダ作成中";
        progress_.DetailText = std::to_string(i) + "/" + std::to_string(F);
        host_.ShowProgressAll(progress_);
        tree.MakeFolder(TFileOperation::StripRoot(folders[i - 1], r.SourcePath));
    }
    // Files are copied by a few copier threads while this thread publishes
    // the progress of each file as it hands it over, in list order. On a
    // fast disk copying is bound by the processor, on a slow one by waiting;
    // both gain from more than one copy in flight.
    ParallelCopier copier(tree, files);
    for (int32_t j = 1; j <= N; ++j) {
        ++progress_.ProgressPos;
        progress_.StatusText = "ファイルコピー中";
        progress_.DetailText = std::to_string(j) + "/" + std::to_string(N);
        host_.ShowProgressAll(progress_);
        copier.Release(static_cast<size_t>(j));
    }
    copier.Finish();
    // Folders get their modes and times once they are filled.
    tree.FinishFolders();
    progress_ = JobProgress{3, 0, {}, {}};
    host_.ShowProgressAll(progress_);
}

}  // namespace tessarine
