#pragma once
// The rules that turn a source folder and the settings into a job
// description: names, the confirmation question, the destination, the
// output name, the filter file and the password. The window program and the
// command-line program both launch jobs through these; nothing here shows a
// window.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/TessarineThread.h"
#include "engine/job_mode.h"
#include "settings/SetData.h"

namespace tessarine {

// Where a launch comes from: it decides how the filter is found.
enum LaunchOrigin : int {
    kOriginDropped = 0,     // a dropped item or the command-line argument
    kOriginRegistered = 1,  // a row of the registered-folder list
};

// The folder a dropped item or a command-line argument stands for, ending
// with "/": an existing folder itself, anything else its containing folder
// ("/b.txt" gives "/"). A relative path is taken from the current folder, so
// that a bare file name never turns into the root folder.
std::string FolderOfItem(const std::string& item);

// Why the window program's command-line argument cannot stand for a
// folder, or none when it can: an empty argument, or one that names no
// entry (a link counts as an entry, also when it leads nowhere). Without
// this check a bare mistake would run a job on the current folder or on "/".
Message CheckCommandLineItem(const std::string& item);

// The local path of the last URI in a drop's text/uri-list, byte for byte,
// or nullopt when that URI names no local file. Earlier URIs are ignored,
// whatever they name. Only "file:" URIs count, without a host or with
// "localhost" or this machine's own name as host; the percent-encoding is
// undone byte by byte, so a name that is not valid UTF-8 keeps its bytes.
// A URI whose path holds "%00" or "%2F" names no file (no name holds NUL
// or "/"); "+" is a plus sign, and "?" and "#" are part of the name.
std::optional<std::string> LastDroppedPath(std::string_view uriList);

// Why a job cannot run on the source folder, or none when it can: the
// folder must exist (a registered folder may have been removed since, or
// registered with an empty path).
Message CheckSourceFolder(const std::string& sourcePath);

// True when the destination folder, with its links resolved, is the source
// folder or lies beneath it although the path as given does not: the job
// would write into the tree it reads, through a link.
bool DestinationInsideSourceThroughLink(const std::string& destination, const std::string& sourcePath);

struct SourceNames {
    std::string BaseName;     // the output name's stem
    std::string DisplayPath;  // the short form shown in the question
};

// One trailing "/" is ignored. The root folder gives base name "disk_root"
// and display path "/"; any other folder its last component as base name
// and "/.../" + base name as display path (Linux paths have no drive part).
SourceNames DescribeSource(std::string_view sourcePath);

// The mode's question about the display path, e.g.
// "/.../Docs をZIP圧縮しますか？"; for an unknown mode the display path alone.
Message ConfirmationText(std::string_view displayPath, JobMode jobMode);

// The destination by SelectSaveMode: nullopt for 0 (the user is asked), the
// source path for 1, SelectSaveFolderName for 2, and the previous launch's
// destination for any other value.
std::optional<std::string> DestinationBySaveMode(const TSetData& settings, std::string_view sourcePath,
                                                 std::string_view previousDestination);

// The date stamp of output names: "yyyymmddhhnnss" when FNameSelect1 is 0,
// else "yymmdd_hhnn_ss"; "_" in front when FNameSelect2 is non-zero.
std::string DateStamp(const std::tm& now, uint8_t fnameSelect1, uint8_t fnameSelect2);

// Destination folder (given a trailing "/" when it lacks one) + base name +
// stamp; the worker adds the extension.
std::string MakeOutputBase(const std::string& destination, std::string_view baseName, std::string_view stamp);

// The job's filter file (full path, or empty for none).
// - Registered folder: the FilterName of the last line of folderListLines
//   whose FolderPath equals the source path byte for byte.
// - Dropped item with AutoMode 1: the same search; when no line matches,
//   the filter chosen in the main window (SelectFileName) applies.
// - Dropped item otherwise: SelectFileName.
std::string FindFilterFile(int origin, const TSetData& settings, const std::vector<std::string>& folderListLines,
                           const std::string& dataFolder, std::string_view sourcePath);

// The entered password without surrounding blanks and control characters;
// an empty result means no job.
std::string TrimPassword(std::string_view entered);

// The questions a launch asks its user.
class LaunchPrompts {
public:
    virtual ~LaunchPrompts() = default;
    // The confirmation question; false when answered "いいえ(&N)".
    virtual bool Confirm(const Message& question) = 0;
    // The destination folder for SelectSaveMode 0; nullopt when cancelled.
    virtual std::optional<std::string> AskDestination() = 0;
    // The password for the password modes; nullopt when cancelled.
    virtual std::optional<std::string> AskPassword() = 0;
    // An error box (title "エラー").
    virtual void ShowError(const Message& message) = 0;
};

struct LaunchInput {
    int Origin = kOriginDropped;
    std::optional<JobMode> ModeOverride;  // none: the Mode setting
    std::string SourcePath;
    std::tm Now{};  // local time for the date stamp
};

// The whole launch in its fixed order: source check, names, confirmation
// (ActMode1 1), destination, output name, open-folder flag, filter file,
// password. Fills the request field by field and returns true when the job
// may start; false when it stopped (after an error box, a "no" or a
// cancel). previousDestination is the destination kept from one launch to
// the next; it is updated as soon as a destination is chosen.
bool PrepareJob(const LaunchInput& input, const TSetData& settings, const std::string& dataFolder,
                const std::vector<std::string>& folderListLines, LaunchPrompts& prompts,
                std::string& previousDestination, JobRequest& request);

}  // namespace tessarine
