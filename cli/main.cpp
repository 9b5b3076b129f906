// tessarine-cli: one job without a window, with the settings, filters and
// registered folders of the window program.
#include <getopt.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "launch/LaunchRules.h"
#include "cli/Interrupt.h"
#include "cli/Messages.h"
#include "engine/FileOperation.h"
#include "launch/WorkingFolders.h"
#include "engine/datafile.h"
#include "engine/errors.h"
#include "engine/job_mode.h"
#include "engine/secrets.h"
#include "folders/folderlist.h"
#include "settings/ini_rw.h"

#ifndef TESSARINE_VERSION
#define TESSARINE_VERSION "unknown"
#endif

using namespace tessarine;
using cli::Msg;
using cli::Text;

namespace {

enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2, kDoneWithProblems = 3 };

struct Options {
    std::optional<JobMode> mode;
    std::optional<std::string> dest;
    std::optional<std::string> filter;  // "" for --no-filter
    std::optional<bool> hiddenFolders;
    std::optional<bool> hiddenFiles;
    std::optional<int> stamp;
    std::optional<bool> underscore;
    bool open = false;
    bool verify = false;
    bool dryRun = false;
    bool help = false;
    bool version = false;
    Chattiness chattiness = Chattiness::Normal;
    std::optional<std::string> userFolder;
    std::string item;
};

// A mode by its name or by its number, written as set.ini writes it.
std::optional<JobMode> ParseMode(const std::string& text) {
    for (const JobModeInfo& mode : JobModes()) {
        if (text == mode.commandLineName || text == std::to_string(NumberOf(mode.mode))) return mode.mode;
    }
    return std::nullopt;
}

// One line on standard error and the usage status.
int Usage(const std::string& message) {
    std::fprintf(stderr, "tessarine-cli: %s\n", message.c_str());
    return kUsage;
}

// Codes of the options that have no short form.
enum LongOnly : int {
    kNoFilter = 256,
    kHiddenFolders,
    kNoHiddenFolders,
    kHiddenFiles,
    kNoHiddenFiles,
    kStamp,
    kUnderscore,
    kNoUnderscore,
    kOpen,
    kVerify,
    kUserFolder,
    kVersion,
};

// The option getopt_long stopped at: a long one as written (without a
// value), a short one by its letter (it may sit in a bundle).
std::string OptionAsWritten(const std::string& argument, int letter) {
    if (argument.rfind("--", 0) == 0) return argument.substr(0, argument.find('='));
    return letter > 0 && letter < 256 ? std::string("-") + static_cast<char>(letter) : argument;
}

// Reads the options the usual way (getopt_long: "--dest=DIR", "--dest DIR",
// "-d DIR", "-dDIR", bundled flags, "--" ending the options); a message on
// failure.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& o) {
    static const option longOptions[] = {
        {"mode", required_argument, nullptr, 'm'},
        {"dest", required_argument, nullptr, 'd'},
        {"filter", required_argument, nullptr, 'f'},
        {"no-filter", no_argument, nullptr, kNoFilter},
        {"hidden-folders", no_argument, nullptr, kHiddenFolders},
        {"no-hidden-folders", no_argument, nullptr, kNoHiddenFolders},
        {"hidden-files", no_argument, nullptr, kHiddenFiles},
        {"no-hidden-files", no_argument, nullptr, kNoHiddenFiles},
        {"stamp", required_argument, nullptr, kStamp},
        {"underscore", no_argument, nullptr, kUnderscore},
        {"no-underscore", no_argument, nullptr, kNoUnderscore},
        {"open", no_argument, nullptr, kOpen},
        {"verify", no_argument, nullptr, kVerify},
        {"dry-run", no_argument, nullptr, 'n'},
        {"quiet", no_argument, nullptr, 'q'},
        {"verbose", no_argument, nullptr, 'v'},
        {"user-folder", required_argument, nullptr, kUserFolder},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;  // the messages are ours, in the user's language
    optind = 1;
    int c;
    while ((c = ::getopt_long(argc, argv, ":m:d:f:nqvh", longOptions, nullptr)) != -1) {
        const std::string value = optarg ? optarg : "";
        switch (c) {
            case 'm':
                o.mode = ParseMode(value);
                if (!o.mode) return Text(Msg::UnknownMode, {value});
                break;
            case 'd': o.dest = value; break;
            case 'f':
                if (value.empty()) return Text(Msg::FilterNeedsName);
                o.filter = value;
                break;
            case kNoFilter: o.filter = ""; break;
            case kHiddenFolders:
            case kNoHiddenFolders: o.hiddenFolders = c == kHiddenFolders; break;
            case kHiddenFiles:
            case kNoHiddenFiles: o.hiddenFiles = c == kHiddenFiles; break;
            case kStamp:
                if (value != "long" && value != "short") return Text(Msg::StampTakes);
                o.stamp = value == "long" ? 0 : 1;
                break;
            case kUnderscore:
            case kNoUnderscore: o.underscore = c == kUnderscore; break;
            case kOpen: o.open = true; break;
            case kVerify: o.verify = true; break;
            case 'n': o.dryRun = true; break;
            case 'q': o.chattiness = Chattiness::Quiet; break;
            case 'v': o.chattiness = Chattiness::Verbose; break;
            case kUserFolder: o.userFolder = value; break;
            case 'h': o.help = true; break;
            case kVersion: o.version = true; break;
            case ':': return Text(Msg::NeedsValue, {OptionAsWritten(argv[optind - 1], optopt)});
            default: {
                const std::string written = argv[optind - 1];
                // A long option that takes no value was given one.
                if (optopt != 0 && written.rfind("--", 0) == 0 && written.find('=') != std::string::npos) {
                    return Text(Msg::TakesNoValue, {OptionAsWritten(written, optopt)});
                }
                return Text(Msg::UnknownOption, {OptionAsWritten(written, optopt)});
            }
        }
    }
    if (optind < argc) o.item = argv[optind];
    if (argc - optind > 1) return Text(Msg::OneFolderOnly);
    return std::nullopt;
}

// The longest password the archivers are handed, in bytes.
constexpr size_t kMaxPasswordBytes = 1024;

// One line of standard input without its LF, read byte by byte straight from
// the descriptor so that no stdio buffer keeps a copy of it; at most one
// byte past kMaxPasswordBytes is read. False at the input's end.
bool ReadPasswordLine(std::string& line) {
    line.clear();
    line.reserve(kMaxPasswordBytes + 1);  // never moved, so never copied
    bool any = false;
    char c;
    while (line.size() <= kMaxPasswordBytes) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        any = true;
        if (c == '\n') break;
        line.push_back(c);
    }
    c = 0;
    return any;
}

// Why the password as read cannot be used; nullopt when it can. A CR left
// before the LF counts as a line break: the password would differ from the
// one typed on another system.
std::optional<std::string> PasswordRefusal(const std::string& password) {
    if (password.size() > kMaxPasswordBytes) return Text(Msg::PasswordTooLong, {std::to_string(kMaxPasswordBytes)});
    if (password.find_first_of("\r\n") != std::string::npos) return Text(Msg::PasswordLineBreak);
    if (password.find('\0') != std::string::npos) return Text(Msg::PasswordNul);
    return std::nullopt;
}

// The questions of a launch, answered from the options and the terminal.
class CliPrompts : public LaunchPrompts {
public:
    explicit CliPrompts(bool dryRun) : dryRun_(dryRun) {}
    bool Confirm(const Message&) override { return true; }  // the command is the confirmation
    std::optional<std::string> AskDestination() override {
        error = Text(Msg::NoDestination);
        return std::nullopt;
    }
    std::optional<std::string> AskPassword() override {
        // A dry run makes no archive and needs no password.
        if (dryRun_) return std::string("-");
        // Before the password is in memory: a crash leaves no core file
        // holding it.
        KeepOutOfCoreDumps();
        std::string password;
        if (::isatty(STDIN_FILENO)) {
            std::fputs(Text(Msg::PasswordPrompt).c_str(), stderr);
            std::fflush(stderr);
            termios old{};
            ::tcgetattr(STDIN_FILENO, &old);
            termios quiet = old;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            cli::SetTerminalToRestore(&old);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
            const bool got = ReadPasswordLine(password);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
            cli::SetTerminalToRestore(nullptr);
            std::fprintf(stderr, "\n");
            if (!got) return std::nullopt;
        } else if (!ReadPasswordLine(password)) {
            error = Text(Msg::NoPasswordInput);
            return std::nullopt;
        }
        if (const auto refusal = PasswordRefusal(password)) {
            WipeSecret(password);
            error = *refusal;
            return std::nullopt;
        }
        if (TrimPassword(password).empty()) error = Text(Msg::PasswordEmpty);
        return password;
    }
    void ShowError(const Message& message) override { error = cli::Render(message); }

    std::string error;

private:
    bool dryRun_;
};

// The working folders as they are, for a dry run: nothing is created or
// seeded. A user folder that does not exist yet reads as a new one would:
// default settings and the installation's seed files.
struct FoundFolders {
    WorkingFolders folders;
    std::string folderListPath;
};

FoundFolders LocateWorkingFolders(const std::string& programFolder, const std::optional<std::string>& userFolder) {
    FoundFolders found;
    WorkingFolders& f = found.folders;
    f.ProgramFolder = WithTrailingSeparator(programFolder);
    if (userFolder) {
        f.UserFolder = *userFolder;
        while (f.UserFolder.size() > 1 && f.UserFolder.back() == kPathSeparator) f.UserFolder.pop_back();
    } else {
        std::string login;
        if (const passwd* pw = ::getpwuid(::geteuid())) login = pw->pw_name;
        // Where a job would keep them: the program folder's, unless it is an
        // installed one or holds none, then the per-user data folder's.
        f.UserFolder = f.ProgramFolder + "user" + kPathSeparator + login;
        if (IsInstalledProgramFolder(f.ProgramFolder) || !FolderExists(f.UserFolder)) {
            const std::string perUser = PerUserDataFolder() + "/user/" + login;
            if (FolderExists(perUser) || IsInstalledProgramFolder(f.ProgramFolder)) f.UserFolder = perUser;
        }
    }
    f.Refusal = UserFolderHazard(f.UserFolder);
    const std::string seeds = f.ProgramFolder + "data";
    f.DataFolder = FolderExists(f.UserFolder + "/data") ? f.UserFolder + "/data" : seeds;
    found.folderListPath = FileExists(f.FolderListPath()) ? f.FolderListPath() : seeds + "/folderlist";
    return found;
}

// Collects what the job would take and prints the product and the entries
// on standard output, writing nothing.
int DryRun(const JobRequest& request, Chattiness chattiness) {
    TFileOperation operation;
    std::vector<std::string> folders;
    PathList files;
    const bool filter = !request.FilterFile.empty();
    if (filter) operation.LoadFilter(request.FilterFile);
    operation.CollectFolders(request.SourcePath, folders, request.IncludeHiddenFolders);
    folders.insert(folders.begin(), request.SourcePath);
    const JobModeInfo& mode = JobModeRow(request.JobMode);
    if (mode.entries != ProductEntries::kFolders) {
        operation.CollectFiles(folders, filter, request.IncludeHiddenFiles, files);
    }

    const bool listMode = mode.kind == ProductKind::kList;
    const std::string product = JobProductPath(request);
    if (files.empty() && !listMode) {
        if (chattiness != Chattiness::Quiet) std::fprintf(stderr, "%s\n", Text(Msg::DryRunNothing).c_str());
    } else {
        if (chattiness != Chattiness::Quiet) {
            const std::string counts =
                Text(Msg::DryRunCounts, {std::to_string(folders.size()), std::to_string(files.size())});
            std::fprintf(stderr, "%s\n%s\n", Text(Msg::DryRunWouldMake, {product}).c_str(), counts.c_str());
        }
        std::printf("%s\n", product.c_str());
        if (mode.entries != ProductEntries::kFiles) {
            for (const auto& f : folders) std::printf("%s\n", f.c_str());
        }
        if (mode.entries != ProductEntries::kFolders) {
            for (const auto f : files) std::printf("%.*s\n", static_cast<int>(f.size()), f.data());
        }
    }
    std::fflush(stdout);
    for (const auto& p : operation.Problems) {
        std::fprintf(stderr, "%s: %s\n", p.path.c_str(), cli::Render(p.reason).c_str());
    }
    return operation.Problems.empty() ? kDone : kDoneWithProblems;
}

// The exit status of a finished job, with the product's path on standard
// output when there is a product, and each entry it lacks on standard error.
int ExitStatusOf(const TTessarineThread& worker) {
    const JobOutcome& outcome = worker.Outcome();
    const JobRequest& request = worker.Request();
    const JobModeInfo* mode = FindJobMode(request.JobMode);
    const bool listMode = mode && mode->kind == ProductKind::kList;
    if (outcome.result == JobResult::Failed) return kFailed;
    if (!outcome.nothingFound || listMode) std::printf("%s\n", outcome.product.c_str());
    if (outcome.ownProductsLeftOut > 0) {
        std::fprintf(stderr, "%s\n",
                     Text(Msg::OwnProductsLeftOut, {std::to_string(outcome.ownProductsLeftOut)}).c_str());
    }
    if (outcome.attributesNotHeld > 0 && outcome.notHeldKinds != 0) {
        // One line for the job: which kinds the destination did not keep.
        static const std::pair<NotHeldKind, Msg> kNames[] = {
            {kNotHeldPermissions, Msg::NotHeldPermissions},
            {kNotHeldOwners, Msg::NotHeldOwners},
            {kNotHeldLinkTimes, Msg::NotHeldLinkTimes},
            {kNotHeldExtendedAttributes, Msg::NotHeldExtendedAttributes},
            {kNotHeldAcls, Msg::NotHeldAcls},
        };
        std::string kinds;
        for (const auto& [kind, name] : kNames) {
            if (!(outcome.notHeldKinds & kind)) continue;
            if (!kinds.empty()) kinds += Text(Msg::NotHeldJoin);
            kinds += Text(name);
        }
        std::fprintf(stderr, "%s\n",
                     Text(Msg::AttributesNotHeld, {std::to_string(outcome.attributesNotHeld), kinds}).c_str());
    }
    if (outcome.result == JobResult::DoneWithProblems) {
        for (const auto& p : worker.Problems()) {
            std::fprintf(stderr, "%s: %s\n", p.path.c_str(), cli::Render(p.reason).c_str());
        }
        return kDoneWithProblems;
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    cli::SetJapanese(cli::LocaleIsJapanese());
    Options options;
    if (const auto problem = ParseOptions(argc, argv, options)) return Usage(*problem);
    if (options.help) {
        std::fputs(Text(Msg::Usage).c_str(), stdout);
        return kDone;
    }
    if (options.version) {
        std::printf("%s\n", Text(Msg::Version, {TESSARINE_VERSION}).c_str());
        return kDone;
    }
    if (options.item.empty()) return Usage(Text(Msg::NoFolder));
    if (options.userFolder) {
        if (options.userFolder->empty()) return Usage(Text(Msg::UserFolderEmpty));
        struct stat st {};
        if (::stat(options.userFolder->c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            return Usage(Text(Msg::UserFolderNotFolder, {*options.userFolder}));
        }
    }
    cli::WatchInterrupts();

    try {
        WorkingFolders folders;
        std::string folderListPath;
        if (options.dryRun) {
            FoundFolders found = LocateWorkingFolders(ExecutableFolder(), options.userFolder);
            folders = std::move(found.folders);
            folderListPath = std::move(found.folderListPath);
        } else {
            TCommon common;
            folders = options.userFolder ? PrepareWorkingFoldersAt(ExecutableFolder(), *options.userFolder, common)
                                         : PrepareWorkingFolders(ExecutableFolder(), common);
            folderListPath = folders.FolderListPath();
        }
        // Settings from, or files written through, a place someone else
        // controls: no job.
        if (folders.Refusal) {
            std::fprintf(stderr, "tessarine-cli: %s\n", cli::Render(folders.Refusal).c_str());
            return kFailed;
        }

        // An existing settings file that cannot be read is bad input, not
        // a reason to run with defaults the user did not choose.
        std::string ignored;
        if (FileExists(folders.SettingsPath()) && !ReadWholeFile(folders.SettingsPath(), ignored)) {
            return Usage(Text(Msg::SettingsUnreadable, {folders.SettingsPath()}));
        }
        TSetData settings;
        LoadSettings(folders.SettingsPath(), settings);

        // Options override the settings for this job only; nothing is saved.
        settings.ActMode1 = 0;
        settings.OpenFolder = options.open ? 1 : 0;
        if (options.verify) settings.VerifyAfterJob = 1;
        if (options.dest) {
            settings.SelectSaveMode = 2;
            settings.SelectSaveFolderName = *options.dest;
        }
        if (options.filter) {
            settings.SelectFileName = *options.filter;
            settings.AutoMode = 0;
        }
        if (options.hiddenFolders) settings.HiddenFolder = *options.hiddenFolders ? 1 : 0;
        if (options.hiddenFiles) settings.HiddenFile = *options.hiddenFiles ? 1 : 0;
        if (options.stamp) settings.FNameSelect1 = static_cast<uint8_t>(*options.stamp);
        if (options.underscore) settings.FNameSelect2 = *options.underscore ? 1 : 0;

        // The registered folders matter only when a dropped folder takes its
        // registered filter (AutoMode 1); otherwise the file is not read.
        std::vector<std::string> folderListLines;
        if (settings.AutoMode == 1 && FileExists(folderListPath)) {
            if (!ReadWholeFile(folderListPath, ignored)) {
                return Usage(Text(Msg::FolderListUnreadable, {folderListPath}));
            }
            folderListLines = ReadDataLines(folderListPath);
        }

        LaunchInput input;
        input.Origin = kOriginDropped;
        input.ModeOverride = options.mode;
        input.SourcePath = FolderOfItem(options.item);
        const std::time_t now = std::time(nullptr);
        localtime_r(&now, &input.Now);
        if (!FolderExists(options.item)) {
            // A file stands for its folder; anything else is not there.
            if (!FileExists(options.item)) return Usage(Text(Msg::NoSuchItem, {options.item}));
        }

        CliPrompts prompts(options.dryRun);
        std::string previousDestination;
        JobRequest request;
        if (!PrepareJob(input, settings, folders.DataFolder, folderListLines, prompts, previousDestination, request)) {
            return Usage(prompts.error.empty() ? Text(Msg::NotStarted) : prompts.error);
        }
        if (FindJobMode(request.JobMode) == nullptr) {
            return Usage(Text(Msg::UnknownSettingsMode, {std::to_string(NumberOf(request.JobMode))}));
        }
        if (options.dryRun) return DryRun(request, options.chattiness);

        CliHost host(request, stderr, ::isatty(STDERR_FILENO), options.chattiness);
        TTessarineThread worker(host);
        worker.NothingFoundPause = std::chrono::milliseconds(0);
        // Nothing else runs meanwhile: the job runs on this thread.
        worker.Execute();
        cli::HoldIfInterrupted();
        const int status = ExitStatusOf(worker);
        std::fflush(stdout);
        return status;
    } catch (const TessarineError& e) {
        cli::HoldIfInterrupted();
        std::fprintf(stderr, "tessarine-cli: %s\n", cli::Render(e.message()).c_str());
        return kFailed;
    } catch (const std::exception& e) {
        cli::HoldIfInterrupted();
        std::fprintf(stderr, "tessarine-cli: %s\n", e.what());
        return kFailed;
    }
}
