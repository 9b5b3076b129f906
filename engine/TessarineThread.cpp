#include "engine/TessarineThread.h"

#include <sys/stat.h>

#include <exception>

#include "archive/Archive.h"
#include "engine/Verify.h"
#include "engine/errors.h"
#include "engine/tree_copy.h"

namespace tessarine {

namespace {

const char* const kArchiveNotMade = "書庫 %s は作成されませんでした";

}  // namespace

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

void TTessarineThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TTessarineThread::Join() {
    if (thread_.joinable()) thread_.join();
}

void TTessarineThread::Execute() {
    std::vector<std::string> folders;
    PathList files;
    bool filter = false;
    outcome_ = JobOutcome{};
    failed_ = false;
    failureText_.clear();
    {
        TFileOperation operation;
        host_.JobStarted();
        try {
            host_.LoadJobRequest(request_);
            outcome_.product = JobProductPath(request_);
            RunSteps(operation, filter, folders, files);
        } catch (const std::exception& e) {
            // The job cannot go on; the user is told and the window is handed
            // back all the same.
            failed_ = true;
            failureText_ = e.what();
            host_.JobFailed(failureText_);
        }
        outcome_.problems = std::move(operation.Problems);
        outcome_.attributesNotHeld = operation.AttributesNotHeld;
    }
    outcome_.nothingFound = files.empty();
    outcome_.result = failed_                     ? JobResult::Failed
                      : outcome_.problems.empty() ? JobResult::Done
                                                  : JobResult::DoneWithProblems;
    host_.JobEnded(outcome_);
    folders = {};
    files = {};
    host_.FinishJob();
    if (host_.StartedFromCommandLine()) host_.ArmCloseTimer();
}

void TTessarineThread::RunSteps(TFileOperation& operation, bool& filter, std::vector<std::string>& folders,
                                PathList& files) {
    const JobRequest& r = request_;
    host_.PhaseStarted(JobPhase::CollectingFolders);

    filter = !r.FilterFile.empty();
    if (filter) operation.LoadFilter(r.FilterFile);

    operation.CollectFolders(r.SourcePath, folders, r.IncludeHiddenFolders);
    folders.insert(folders.begin(), r.SourcePath);
    if (r.JobMode == kModeFolderList) SaveListFile(r.OutputBase + ".txt", PathList(folders));
    host_.PhaseDone(JobPhase::CollectingFolders);

    if (r.JobMode != kModeFolderList) {
        host_.PhaseStarted(JobPhase::CollectingFiles);
        operation.CollectFiles(folders, filter, r.IncludeHiddenFiles, files);
    }
    host_.PhaseDone(JobPhase::CollectingFiles);
    host_.EntriesCollected(folders, files);

    if (r.JobMode == kModeFileList) SaveListFile(r.OutputBase + ".txt", files);

    if (files.empty()) {
        if (host_.NoFileMsg() == 1) {
            host_.NothingFound();
            std::this_thread::sleep_for(NothingFoundPause);
        }
    } else if (r.JobMode == kModeCopy) {
        CopyTree(operation, folders, files);
    } else {
        Compress(operation, files);
    }
    // A product that does not read back as made fails the job.
    if (r.Verify && (!files.empty() || r.JobMode == kModeFileList || r.JobMode == kModeFolderList)) {
        host_.PhaseStarted(JobPhase::Verifying);
        VerifyProduct(r, JobProductPath(r), folders, files, operation.Problems, operation.NotHeldKinds);
    }
    host_.WorkDone();

    // Without a filter the destination opens also when nothing was found;
    // with one, only when files were found.
    const bool listMode = r.JobMode == kModeFileList || r.JobMode == kModeFolderList;
    if (!listMode && (!filter || !files.empty()) && r.OpenFolderWhenDone) host_.OpenFolder(r.FolderToOpen);
}

void TTessarineThread::Compress(TFileOperation& operation, const PathList& files) {
    const JobRequest& r = request_;
    const bool sevenZip = r.JobMode == kModeZip || r.JobMode == kModeZipPassword || r.JobMode == kModeSevenZip ||
                          r.JobMode == kModeSevenZipPassword;
    if (!sevenZip && r.JobMode != kModeLha) return;  // the list modes wrote their product already

    TFileArchive archive(
        [this](const std::string& library, const std::string& report) { host_.ArchiverReport(library, report); });
    const std::string product = JobProductPath(r);
    if (r.JobMode == kModeLha) {
        host_.PhaseStarted(JobPhase::CompressingLha);
        archive.CompressLha(r.SourcePath, files, product);
    } else {
        const bool zip = r.JobMode == kModeZip || r.JobMode == kModeZipPassword;
        host_.PhaseStarted(zip ? JobPhase::CompressingZip : JobPhase::CompressingSevenZip);
        if (r.JobMode == kModeZipPassword || r.JobMode == kModeSevenZipPassword) archive.SetPassword(r.Password);
        archive.CompressSevenZip(r.SourcePath, files, product, r.JobMode);
    }

    // The archiver's report box (an error) has been shown already; the job
    // has no usable product then, and none when nothing was made at all
    // (the 7-Zip library is not installed).
    const TFileArchive::RunResult& run = archive.LastRun();
    for (const auto& entry : run.leftOut)
        operation.Problems.push_back(Problem{r.SourcePath + entry.name, entry.reason});
    struct stat st {};
    if (run.reportIsError) {
        failed_ = true;
        failureText_ = run.report;
    } else if (::lstat(product.c_str(), &st) != 0) {
        failed_ = true;
        failureText_ = FormatMessage(kArchiveNotMade, product);
        host_.JobFailed(failureText_);
    }
}

void TTessarineThread::CopyTree(TFileOperation& operation, const std::vector<std::string>& folders,
                                const PathList& files) {
    const JobRequest& r = request_;
    const auto F = static_cast<int32_t>(folders.size());
    const auto N = static_cast<int32_t>(files.size());
    host_.CopyStarted(F, N);

    // The product folder is opened once; everything in it is made relative
    // to it, and no link at or inside it is followed.
    TreeCopy tree(operation, r.SourcePath, r.OutputBase);
    // Every folder first, so that empty folders are made too and every file
    // finds its folder.
    for (int32_t i = 1; i <= F; ++i) {
        host_.MakingFolder(i, F);
        tree.MakeFolder(TFileOperation::StripRoot(folders[i - 1], r.SourcePath));
    }
    // Files are copied by a few copier threads while this thread announces
    // each file as it hands it over, in list order. On a fast disk copying
    // is bound by the processor, on a slow one by waiting; both gain from
    // more than one copy in flight.
    ParallelCopier copier(tree, files);
    for (int32_t j = 1; j <= N; ++j) {
        host_.CopyingFile(j, N);
        copier.Release(static_cast<size_t>(j));
    }
    copier.Finish();
    // Folders get their modes and times once they are filled.
    tree.FinishFolders();
    host_.CopyDone();
}

}  // namespace tessarine
