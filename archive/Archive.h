#pragma once
// The archiver adapter: composes the command line of an archive job, loads
// the archiver library that takes it, runs it and looks at its report.
//
//   lib7-zip32.so, entry SevenZip: ZIP and 7z archives
//   libunlha32.so, entry Unlha:    LHA archives
//
// Both entry points take (owner window handle, command line, report buffer,
// report buffer size) and return one of archive/archiver_status.h; only
// kArchiverOutOfMemory is examined (the report tells the rest).
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "archive/left_out.h"
#include "engine/job_mode.h"
#include "engine/path_list.h"

namespace tessarine {

// The entry point of an archiver library.
using ArchiverEntry = int (*)(void* ownerWindow, const char* commandLine, char* output, unsigned long outputSize);

// Shows an archiver's report to the user in a box with one OK button and
// waits until it is closed. The window program shows it on the main thread;
// the command-line program prints it.
using ReportBoxFn = std::function<void(const std::string& caption, const std::string& text)>;

// Whether an archiver's report mentions an error: "error" in any letter
// case of its ASCII letters.
bool ReportMentionsError(const std::string& report);

class TFileArchive {
public:
    static constexpr const char* kSevenZipLibraryName = "lib7-zip32.so";
    static constexpr const char* kLhaLibraryName = "libunlha32.so";
    static constexpr const char* kSevenZipEntryName = "SevenZip";
    static constexpr const char* kLhaEntryName = "Unlha";
    static constexpr const char* kDefaultPassword = "tovk";

    // The report buffer handed to a library, and the size it is told.
    static constexpr size_t kReportBufferSize = 1024;
    static constexpr unsigned long kReportSizeGiven = 1023;

    // Without a report box, reports that mention an error go to standard
    // error.
    explicit TFileArchive(ReportBoxFn reportBox = {});
    ~TFileArchive();
    TFileArchive(const TFileArchive&) = delete;
    TFileArchive& operator=(const TFileArchive&) = delete;

    void SetPassword(const std::string& password);

    // The modes whose library is 7-Zip (ZIP and 7z). Returns at once, doing nothing,
    // when the 7-Zip library is not installed. Raises TessarineError when the
    // library cannot be loaded or called, std::bad_alloc when memory ran out
    // (in the library too).
    void CompressSevenZip(const std::string& baseFolder, const PathList& files, const std::string& archivePath,
                          JobMode jobMode);

    // The LHA mode. Raises TessarineError when the library cannot be loaded
    // or called, std::bad_alloc when memory ran out (in the library too).
    void CompressLha(const std::string& baseFolder, const PathList& files, const std::string& archivePath);

    // Whether a file of the library's name exists in the program folder or
    // in one of the system library folders.
    bool SevenZipAvailable() const;
    bool LhaAvailable() const;

    // The command line of an archive job, exactly as handed to the
    // library. Raises std::invalid_argument for any other mode.
    std::string CommandLine(const std::string& baseFolder, const PathList& files, const std::string& archivePath,
                            JobMode jobMode) const;

    // What the last compress call learned from its library: the report text,
    // whether it names an error, and the entries the library left out of the
    // archive it made (through the library's own list, which no report
    // buffer cuts short).
    struct RunResult {
        bool ran = false;
        std::string report;
        bool reportIsError = false;
        std::vector<LeftOutEntry> leftOut;
    };
    const RunResult& LastRun() const { return lastRun_; }

    // Replaces the folders where the libraries are looked for: the program
    // folder (ending with the separator) and then the system library
    // folders. Used to run against other copies of the libraries; a library
    // is then loaded from the first of these folders that holds it, since
    // the platform's own library search knows nothing of them.
    void SetLibraryFolders(std::string programFolder, std::vector<std::string> systemFolders);

    // The folder of the running executable, ending with the separator.
    static std::string ProgramFolder();
    // The system library folders, each ending with the separator.
    static std::vector<std::string> SystemLibraryFolders();

private:
    struct Library;
    std::string RunSevenZip(const std::string& commandLine);
    std::string RunLha(const std::string& commandLine);
    std::string RunLibrary(const Library& library, const std::string& commandLine);
    bool Available(const char* fileName) const;
    std::string LoadName(const char* fileName) const;

    ReportBoxFn reportBox_;
    RunResult lastRun_;
    std::string archivePassword_ = kDefaultPassword;  // zeroed when the adapter goes
    void* sevenZipLib_ = nullptr;
    void* lhaLib_ = nullptr;
    ArchiverEntry sevenZipEntry_ = nullptr;
    ArchiverEntry lhaEntry_ = nullptr;
    std::string programFolder_;
    std::vector<std::string> systemFolders_;
    bool foldersReplaced_ = false;
};

}  // namespace tessarine
