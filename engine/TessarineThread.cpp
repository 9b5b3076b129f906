#include "engine/TessarineThread.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include <exception>
#include <new>

#include "archive/Archive.h"
#include "engine/Verify.h"
#include "engine/destination.h"
#include "engine/errors.h"
#include "engine/job_mode.h"
#include "engine/own_products.h"
#include "engine/secrets.h"
#include "engine/staging.h"
#include "engine/tree_copy.h"

namespace tessarine {

namespace {

// The extension a mode's product carries (none for a copy folder).
std::string ProductExtension(JobMode mode) { return std::string(JobModeRow(mode).extension); }

// The folder that holds a product, with its separator, and the product's
// name without extension.
std::string FolderPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}
std::string NamePart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string JobProductPath(const JobRequest& request) {
    const JobModeInfo* mode = FindJobMode(request.JobMode);
    return mode ? request.OutputBase + std::string(mode->extension) : std::string();
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
    failure_ = {};
    {
        TFileOperation operation;
        RegisterRunningJob(&operation.StopRequested);
        try {
            host_.JobStarted();
            host_.LoadJobRequest(request_);
            outcome_.product.clear();
            RunSteps(operation, filter, folders, files);
        } catch (const std::exception&) {
            Fail(std::current_exception(), folders, files);
        }
        try {
            for (auto& p : operation.Problems) {
                p.path = Shown(std::move(p.path));
                p.reason = Shown(std::move(p.reason));
            }
        } catch (const std::bad_alloc&) {
            // The entries not reached keep the path they have: the job's
            // result is what it made, not what memory was left to tell it.
        }
        // A product that is not complete goes with its staging folder.
        staging_.reset();
        RegisterRunningJob(nullptr);
        outcome_.problems = std::move(operation.Problems);
        outcome_.attributesNotHeld = operation.AttributesNotHeld;
        outcome_.notHeldKinds = operation.NotHeldKinds;
    }
    outcome_.nothingFound = files.empty();
    // The lists go before the outcome is told, which may need their memory.
    folders = {};
    files = {};
    outcome_.result = failed_                     ? JobResult::Failed
                      : outcome_.problems.empty() ? JobResult::Done
                                                  : JobResult::DoneWithProblems;
    try {
        host_.JobEnded(outcome_);
    } catch (const std::bad_alloc&) {
        // A product made stays made, under its name; a failure was told
        // already. Outcome() still holds everything.
    }
    host_.FinishJob();
    // The worker's copy outlives the job (Request() is read afterwards);
    // its password does not.
    WipeSecret(request_.Password);
    if (host_.StartedFromCommandLine()) host_.ArmCloseTimer();
}

void TTessarineThread::Fail(const std::exception_ptr& error, std::vector<std::string>& folders, PathList& files) {
    failed_ = true;
    try {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const TessarineError& e) {
            // The job cannot go on; the user is told and the window is
            // handed back all the same.
            failure_ = Shown(e.message());
            host_.JobFailed(failure_);
            return;
        } catch (const std::exception& e) {
            failure_ = Shown(MakeMessage(MessageId::kText, {e.what()}));
            host_.JobFailed(failure_);
            return;
        }
    } catch (const std::bad_alloc&) {
    }
    // Memory ran out on this thread or on one of the job's workers (which
    // stopped the others), or while the failure was being told. What was
    // collected goes first, so that the failure can be told.
    folders = {};
    files = {};
    try {
        failure_ = MakeMessage(MessageId::kOutOfMemory);
        host_.JobFailed(failure_);
    } catch (const std::bad_alloc&) {
        // Not even that could be shown; the job has failed all the same.
    }
}

void TTessarineThread::RunSteps(TFileOperation& operation, bool& filter, std::vector<std::string>& folders,
                                PathList& files) {
    const JobRequest& r = request_;
    host_.PhaseStarted(JobPhase::CollectingFolders);
    const std::string destination = FolderPart(r.OutputBase);
    const JobModeInfo& mode = JobModeRow(r.JobMode);
    const std::string extension(mode.extension);
    // What killed jobs left in this destination goes first, so that it is
    // neither collected nor in the way.
    RemoveAbandonedStaging(destination);

    filter = !r.FilterFile.empty();
    if (filter) operation.LoadFilter(r.FilterFile);

    const OwnProductFilter own(r.SourcePath, destination, NamePart(r.OutputBase), extension,
                               mode.kind == ProductKind::kCopyFolder);
    operation.CollectFolders(r.SourcePath, folders, r.IncludeHiddenFolders);
    folders.insert(folders.begin(), r.SourcePath);
    outcome_.ownProductsLeftOut = own.LeaveOutFolders(folders);
    const bool list = mode.kind == ProductKind::kList;
    if (list && mode.entries == ProductEntries::kFolders) SaveListFile(Staged(), PathList(folders));
    host_.PhaseDone(JobPhase::CollectingFolders);

    if (mode.entries != ProductEntries::kFolders) {
        host_.PhaseStarted(JobPhase::CollectingFiles);
        operation.CollectFiles(folders, filter, r.IncludeHiddenFiles, files);
        outcome_.ownProductsLeftOut += own.LeaveOutFiles(files);
    }
    host_.PhaseDone(JobPhase::CollectingFiles);
    host_.EntriesCollected(folders, files);
    {
        // What the destination cannot hold is left out and named before
        // anything is written; a copy that cannot fit is not begun.
        PreflightResult preflight = Preflight(r, folders, files);
        if (preflight.ShortOfSpace()) throw TessarineError(NotEnoughSpaceText(preflight));
        for (auto& p : preflight.leftOut) operation.Problems.push_back(std::move(p));
    }

    if (list && mode.entries == ProductEntries::kFiles) SaveListFile(Staged(), files);

    if (files.empty()) {
        if (host_.NoFileMsg() == 1) {
            host_.NothingFound();
            std::this_thread::sleep_for(NothingFoundPause);
        }
    } else if (mode.kind == ProductKind::kCopyFolder) {
        CopyTree(operation, folders, files);
    } else {
        Compress(operation, files);
    }
    // A product that does not read back as made fails the job, and is
    // removed with its staging folder: it never gets its final name.
    if (r.Verify && staging_ && !failed_) {
        host_.PhaseStarted(JobPhase::Verifying);
        VerifyProduct(r, Staged(), folders, files, operation.Problems, operation.NotHeldKinds);
    }
    if (staging_ && !failed_) Publish(operation);
    host_.WorkDone();

    // Without a filter the destination opens also when nothing was found;
    // with one, only when files were found.
    if (!list && (!filter || !files.empty()) && r.OpenFolderWhenDone) host_.OpenFolder(r.FolderToOpen);
}

std::string TTessarineThread::Staged() {
    if (!staging_) staging_.emplace(FolderPart(request_.OutputBase));
    JobRequest staged = request_;
    staged.OutputBase = staging_->Folder() + NamePart(request_.OutputBase);
    return JobProductPath(staged);
}

void TTessarineThread::Publish(TFileOperation& operation) {
    const std::string staged = Staged();
    if (operation.StopRequested) throw TessarineError(MakeMessage(MessageId::kNotPublished, {staged}, ECANCELED));
    // A folder is moved to another parent only when it is writable itself;
    // a copy of a read-only folder gets its mode back once it is in place.
    UniqueFd folder(OpenLongPath(AT_FDCWD, staged, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    struct stat st {};
    const bool lent = folder && ::fstat(folder.Get(), &st) == 0 && (st.st_mode & S_IWUSR) == 0 &&
                      ::fchmod(folder.Get(), (st.st_mode & 07777) | S_IWUSR) == 0;
    const std::string extension = ProductExtension(request_.JobMode);
    const auto published = staging_->Publish(NamePart(staged), NamePart(request_.OutputBase), extension);
    const int error = errno;
    if (folder) {
        if (lent) ::fchmod(folder.Get(), st.st_mode & 07777);
        // Moving a folder may touch its times; they are the source's again.
        RestampCopyRoot(folder.Get());
    }
    if (!published) throw TessarineError(MakeMessage(MessageId::kNotPublished, {staged}, error));
    outcome_.product = *published;
}

Message TTessarineThread::Shown(Message message) const {
    if (!staging_) return message;
    for (auto& arg : message.args) arg = Shown(std::move(arg));
    if (message.cause) message.cause = std::make_shared<const Message>(Shown(*message.cause));
    return message;
}

std::string TTessarineThread::Shown(std::string text) const {
    if (!staging_) return text;
    // Inside the staging folder the product is made under its final name.
    const std::string staged = staging_->Folder() + NamePart(request_.OutputBase);
    std::string named = request_.OutputBase;
    if (!outcome_.product.empty())
        named = outcome_.product.substr(0, outcome_.product.size() - ProductExtension(request_.JobMode).size());
    for (size_t at = text.find(staged); at != std::string::npos; at = text.find(staged, at + named.size()))
        text.replace(at, staged.size(), named);
    return text;
}

void TTessarineThread::RestampCopyRoot(int folder) {
    const UniqueFd source(OpenLongPath(AT_FDCWD, request_.SourcePath, O_PATH | O_DIRECTORY));
    struct stat st {};
    if (!source || ::fstat(source.Get(), &st) != 0) return;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(folder, times);
}

void TTessarineThread::Compress(TFileOperation& operation, const PathList& files) {
    const JobRequest& r = request_;
    const JobModeInfo& mode = JobModeRow(r.JobMode);
    if (mode.kind != ProductKind::kArchive) return;  // the list modes wrote their product already

    TFileArchive archive(
        [this](const std::string& library, const std::string& report) { host_.ArchiverReport(library, report); });
    const std::string product = Staged();
    if (mode.library == ArchiverLibrary::kLha) {
        host_.PhaseStarted(JobPhase::CompressingLha);
        archive.CompressLha(r.SourcePath, files, product);
    } else {
        const bool zip = mode.format == ArchiveFormat::kZip;
        host_.PhaseStarted(zip ? JobPhase::CompressingZip : JobPhase::CompressingSevenZip);
        if (mode.password) archive.SetPassword(r.Password);
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
        failure_ = MakeMessage(MessageId::kText, {run.report});
    } else if (::lstat(product.c_str(), &st) != 0) {
        failed_ = true;
        failure_ = MakeMessage(MessageId::kArchiveNotMade, {JobProductPath(r)});
        host_.JobFailed(failure_);
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
    const std::string staged = Staged();
    // The copy gets its final name by one rename of its folder; where that
    // would lose the folder's content the copy is not begun.
    if (!staging_->KeepsRenamedFolders())
        throw TessarineError(MakeMessage(MessageId::kLosesRenamedFolders, {FolderPart(r.OutputBase)}));
    TreeCopy tree(operation, r.SourcePath, staged);
    // Every folder first, so that empty folders are made too and every file
    // finds its folder.
    for (int32_t i = 1; i <= F && !operation.StopRequested; ++i) {
        host_.MakingFolder(i, F);
        tree.MakeFolder(TFileOperation::StripRoot(folders[i - 1], r.SourcePath));
    }
    // Files are copied by a few copier threads while this thread announces
    // each file as it hands it over, in list order. On a fast disk copying
    // is bound by the processor, on a slow one by waiting; both gain from
    // more than one copy in flight.
    ParallelCopier copier(tree, files);
    for (int32_t j = 1; j <= N && !operation.StopRequested; ++j) {
        host_.CopyingFile(j, N);
        copier.Release(static_cast<size_t>(j));
    }
    copier.Finish();
    // Folders get their modes and times once they are filled.
    tree.FinishFolders();
    // A destination that is full, read-only or gone ends the job once,
    // rather than failing each file left.
    if (const WriteFailure failure = operation.DestinationFailure(); failure.error != 0) {
        throw TessarineError(MakeMessage(MessageId::kDestinationFailed, {failure.path}, failure.error));
    }
    host_.CopyDone();
}

}  // namespace tessarine
