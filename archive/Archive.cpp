#include "archive/Archive.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "archive/archiver_status.h"
#include "archive/command_line.h"
#include "engine/Common.h"
#include "engine/FileOperation.h"
#include "engine/errors.h"
#include "engine/secrets.h"
#include "engine/text_process.h"

namespace tessarine {

namespace {

// The text between the quotes of a quoted token. On Linux a double quote
// and a backslash get a backslash in front, so that every name survives the
// trip to the library; Windows libraries take the text as it is.
std::string QuotedText(std::string_view text) {
#ifdef _WIN32
    return std::string(text);
#else
    return EscapeQuoted(text);
#endif
}

// The password as it follows -p.
std::string PasswordText(std::string_view password) {
#ifdef _WIN32
    return std::string(password);
#else
    return PasswordToken(password);
#endif
}

}  // namespace

bool ReportMentionsError(const std::string& report) { return FindNoCase(report, "error") != std::string::npos; }

// What tells the two libraries apart: names, messages, and the fields that
// hold the loaded handle and entry point during a run. The messages name
// the library file as installed here, so the user knows what to install.
struct TFileArchive::Library {
    const char* fileName;
    const char* entryName;
    MessageId notFound;
    MessageId callFailed;  // the report so far follows
    void** handle;
    ArchiverEntry* entry;
};

TFileArchive::TFileArchive(ReportBoxFn reportBox)
    : reportBox_(std::move(reportBox)), programFolder_(ProgramFolder()), systemFolders_(SystemLibraryFolders()) {}

TFileArchive::~TFileArchive() {
    // Runs release their library before returning; this only guards against
    // a run that never got that far.
    if (sevenZipLib_) ::dlclose(sevenZipLib_);
    if (lhaLib_) ::dlclose(lhaLib_);
    WipeSecret(archivePassword_);
}

void TFileArchive::SetPassword(const std::string& password) {
    WipeSecret(archivePassword_);
    archivePassword_ = password;
}

void TFileArchive::SetLibraryFolders(std::string programFolder, std::vector<std::string> systemFolders) {
    programFolder_ = std::move(programFolder);
    systemFolders_ = std::move(systemFolders);
    foldersReplaced_ = true;
}

std::string TFileArchive::ProgramFolder() { return WithTrailingSeparator(ExecutableFolder()); }

std::vector<std::string> TFileArchive::SystemLibraryFolders() {
    std::vector<std::string> folders{"/usr/local/lib/", "/usr/lib/"};
#ifdef TESSARINE_MULTIARCH
    folders.push_back("/usr/lib/" TESSARINE_MULTIARCH "/");
#endif
    return folders;
}

bool TFileArchive::Available(const char* fileName) const {
    if (FileExists(programFolder_ + fileName)) return true;
    for (const auto& folder : systemFolders_) {
        if (FileExists(WithTrailingSeparator(folder) + fileName)) return true;
    }
    return false;
}

bool TFileArchive::SevenZipAvailable() const { return Available(kSevenZipLibraryName); }

bool TFileArchive::LhaAvailable() const { return Available(kLhaLibraryName); }

std::string TFileArchive::LoadName(const char* fileName) const {
    // The program folder comes first, as the run path the program's
    // executables carry would have it; named in full, because the loader
    // applies a run path only to the object that calls dlopen, and a
    // wrapped dlopen (sanitizers, preloaded libraries) is called from
    // elsewhere. Without a copy there the platform's search decides.
    if (FileExists(programFolder_ + fileName)) return programFolder_ + fileName;
    if (!foldersReplaced_) return fileName;
    for (const auto& folder : systemFolders_) {
        const std::string path = WithTrailingSeparator(folder) + fileName;
        if (FileExists(path)) return path;
    }
    return programFolder_ + fileName;
}

std::string TFileArchive::CommandLine(const std::string& baseFolder, const PathList& files,
                                      const std::string& archivePath, JobMode jobMode) const {
    const JobModeInfo* mode = FindJobMode(jobMode);
    if (mode == nullptr || mode->kind != ProductKind::kArchive) {
        throw std::invalid_argument("no archive command for job mode " + std::to_string(NumberOf(jobMode)));
    }
    std::string line;
    if (mode->library == ArchiverLibrary::kLha) {
        line = "a -a1 -r2 -x1 -l1 -jp1 -o2 -ji0 \"";
    } else {
        line = mode->format == ArchiveFormat::kZip ? "a -tzip" : "a -t7z";
        if (mode->password) line += " -p" + PasswordText(archivePassword_);
        line += " -r \"";
    }
    size_t listLength = 0;
    for (const auto& file : files) listLength += file.size() + 3;
    line.reserve(line.size() + archivePath.size() + baseFolder.size() + listLength + 16);
    line += QuotedText(archivePath);
    line += "\" \"";
    line += QuotedText(baseFolder);
    line += "\" ";
    for (const auto& file : files) {
        line += '"';
        line += QuotedText(TFileOperation::StripRoot(file, baseFolder));
        line += "\" ";
    }
    return line;
}

void TFileArchive::CompressSevenZip(const std::string& baseFolder, const PathList& files,
                                    const std::string& archivePath, JobMode jobMode) {
    const JobModeInfo* mode = FindJobMode(jobMode);
    if (mode == nullptr || mode->library != ArchiverLibrary::kSevenZip) {
        throw std::invalid_argument("not a ZIP or 7z job mode: " + std::to_string(NumberOf(jobMode)));
    }
    if (!SevenZipAvailable()) return;
    // The command line of a password mode holds the password.
    std::string line = CommandLine(baseFolder, files, archivePath, jobMode);
    RunSevenZip(line);
    WipeSecret(line);
}

void TFileArchive::CompressLha(const std::string& baseFolder, const PathList& files, const std::string& archivePath) {
    RunLha(CommandLine(baseFolder, files, archivePath, JobMode::kLha));
}

std::string TFileArchive::RunSevenZip(const std::string& commandLine) {
    const Library library{kSevenZipLibraryName,           kSevenZipEntryName, MessageId::kSevenZipNotFound,
                          MessageId::kSevenZipCallFailed, &sevenZipLib_,      &sevenZipEntry_};
    return RunLibrary(library, commandLine);
}

std::string TFileArchive::RunLha(const std::string& commandLine) {
    const Library library{kLhaLibraryName,           kLhaEntryName, MessageId::kLhaNotFound,
                          MessageId::kLhaCallFailed, &lhaLib_,      &lhaEntry_};
    return RunLibrary(library, commandLine);
}

std::string TFileArchive::RunLibrary(const Library& library, const std::string& commandLine) {
    *library.handle = ::dlopen(LoadName(library.fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!*library.handle) {
        // The message says what to do; the loader's reason after it tells a
        // missing file from a broken or foreign one.
        const char* reason = ::dlerror();
        Message notFound = MakeMessage(library.notFound);
        if (reason) notFound = Because(MessageId::kWithLoaderReason, std::move(notFound), {reason});
        throw TessarineError(std::move(notFound));
    }

    // A library never stays loaded after a run, whatever happens in it.
    struct Release {
        const Library& library;
        ~Release() {
            ::dlclose(*library.handle);
            *library.handle = nullptr;
            *library.entry = nullptr;
        }
    } release{library};
    *library.entry = reinterpret_cast<ArchiverEntry>(::dlsym(*library.handle, library.entryName));

    lastRun_ = RunResult{};
    std::array<char, kReportBufferSize> output{};
    const auto reportText = [&output] { return std::string(output.data(), ::strnlen(output.data(), output.size())); };
    try {
        if (!*library.entry) throw std::runtime_error(std::string("no entry point ") + library.entryName);
        // Memory that ran out in the library fails the job as memory that
        // runs out anywhere else in it does: no report box, one message.
        if ((*library.entry)(nullptr, commandLine.c_str(), output.data(), kReportSizeGiven) == kArchiverOutOfMemory)
            throw std::bad_alloc();
        const std::string report = reportText();
        lastRun_.ran = true;
        lastRun_.report = report;
        lastRun_.reportIsError = ReportMentionsError(report);
        // The list lives in the library: copied before it is unloaded.
        if (const auto leftOut = reinterpret_cast<LeftOutEntriesFn>(::dlsym(*library.handle, kLeftOutEntryName))) {
            unsigned long length = 0;
            const char* records = leftOut(&length);
            if (records && length > 0) lastRun_.leftOut = DecodeLeftOut(std::string_view(records, length));
        }
        if (lastRun_.reportIsError) {
            if (reportBox_) {
                reportBox_(library.fileName, report);
            } else {
                std::fprintf(stderr, "%s: %s\n", library.fileName, report.c_str());
            }
        }
        return report;
    } catch (const abi::__forced_unwind&) {
        throw;  // thread cancellation must go on unwinding
    } catch (const std::bad_alloc&) {
        throw;  // here or in the library: the job fails for want of memory
    } catch (...) {
        // A missing entry point or a fault inside the library: the caller
        // gets the library's report so far.
        throw TessarineError(MakeMessage(library.callFailed, {reportText()}));
    }
}

}  // namespace tessarine
