#pragma once
// The archiver adapter: composes the command line of an archive job, loads
// the archiver library that takes it, runs it and looks at its report.
//
//   lib7-zip32.so, entry SevenZip: ZIP and 7z archives
//   libunlha32.so, entry Unlha:    LHA archives
//
// Both entry points take (owner window handle, command line, report buffer,
// report buffer size) and return an int that is not examined.
#include <functional>
#include <string>
#include <vector>

namespace tessarine {

// The entry point of an archiver library.
using ArchiverEntry = int (*)(void* ownerWindow, const char* commandLine, char* output, unsigned long outputSize);

// Shows an archiver's report to the user in a box with one OK button and
// waits until it is closed. The window program shows it on the main thread;
// the command-line program prints it.
using ReportBoxFn = std::function<void(const std::string& caption, const std::string& text)>;

class TFileArchive {
public:
    static constexpr const char* kSevenZipLibraryName = "lib7-zip32.so";
    static constexpr const char* kLhaLibraryName = "libunlha32.so";
    static constexpr const char* kDefaultPassword = "tovk";

    explicit TFileArchive(ReportBoxFn reportBox = {});
    ~TFileArchive();
    TFileArchive(const TFileArchive&) = delete;
    TFileArchive& operator=(const TFileArchive&) = delete;

    void SetPassword(const std::string& password);

    // Modes 1 and 2 (ZIP), 4 and 5 (7z). Returns at once, doing nothing,
    // when the 7-Zip library is not installed. Raises TessarineError when the
    // library cannot be loaded or called.
    void CompressSevenZip(const std::string& baseFolder, const std::vector<std::string>& files,
                          const std::string& archivePath, int jobMode);

    // Mode 3 (LHA). Raises TessarineError when the library cannot be loaded
    // or called.
    void CompressLha(const std::string& baseFolder, const std::vector<std::string>& files,
                     const std::string& archivePath);

    // Whether a file of the library's name exists in the program folder or
    // in one of the system library folders.
    bool SevenZipAvailable() const;
    bool LhaAvailable() const;

    // The command line of a job, exactly as handed to the library.
    std::string CommandLine(const std::string& baseFolder, const std::vector<std::string>& files,
                            const std::string& archivePath, int jobMode) const;

private:
    // Implemented by the archive back-end work; see Archive.cpp.
    ReportBoxFn reportBox_;
    std::string archivePassword_ = kDefaultPassword;
    void* sevenZipLib_ = nullptr;
    void* lhaLib_ = nullptr;
    ArchiverEntry sevenZipEntry_ = nullptr;
    ArchiverEntry lhaEntry_ = nullptr;
};

}  // namespace tessarine
