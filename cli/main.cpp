// tessarine-cli: one job without a window, with the settings, filters and
// registered folders of the window program.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliHost.h"
#include "app/LaunchRules.h"
#include "engine/WorkingFolders.h"
#include "engine/datafile.h"
#include "engine/errors.h"
#include "folders/folderlist.h"
#include "settings/ini_rw.h"

using namespace tessarine;

namespace {

enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2, kDoneWithProblems = 3 };

const char* const kUsageText = R"(使い方: tessarine-cli [オプション] フォルダ

フォルダ (ファイルを指定するとそのファイルのあるフォルダ) の下のフォルダとファイルを
集め、日付付きの名前でコピー、圧縮、またはリスト作成を行います。オプションを指定しない
項目は、ウィンドウ版と同じ設定 (set.ini) に従います。
Collects every folder and file beneath FOLDER and copies, compresses or lists them
under a date-stamped name. Settings not given as options come from the same set.ini
as the window program.

オプション / options:
  -m, --mode MODE        copy (コピー), zip, zip-pass, lha, 7z, 7z-pass,
                         filelist (ファイルリスト), folderlist (フォルダリスト),
                         or the mode number 0, 1, 2, 3, 4, 5, 11, 12
  -d, --dest FOLDER      保存先フォルダ / destination folder
                         (default: the settings' destination; "ask" is not
                         possible here, so then --dest is required)
  -f, --filter NAME      拡張子フィルタ NAME を使う / use the filter NAME
      --no-filter        フィルタを使わない / no filter
      --hidden-folders   隠しフォルダを含める / include hidden folders
      --no-hidden-folders
      --hidden-files     隠しファイルを含める / include hidden files
      --no-hidden-files
      --stamp long|short 日付の形式 / date stamp: yyyymmddhhnnss or yymmdd_hhnn_ss
      --underscore       名前と日付の間に "_" / "_" between name and date
      --no-underscore
      --open             終了後に保存先フォルダを開く / open the destination afterwards
      --user-folder DIR  設定フォルダ / use DIR instead of the user folder
  -h, --help             この説明 / this text

パスワード付きの形式では、パスワードを端末から (表示せずに) 読み取ります。標準入力が
端末でないときは、標準入力の最初の行を読み取ります。
Password modes read the password from the terminal without echo, or the first
line of standard input when that is not a terminal.

進行状況とメッセージは標準エラー出力に、作成したもののパスは標準出力に出ます。
Progress and messages go to standard error; the path of the product to standard output.

終了コード / exit status:
  0  完了 / done
  1  失敗 / the job failed
  2  指定の誤り / bad usage or input (nothing is written)
  3  完了したが、読み取り・作成・コピーできなかった項目がある (標準エラー出力に一覧)
     done, but some entries could not be read, created or copied (listed on standard error)
)";

struct Options {
    std::optional<int> mode;
    std::optional<std::string> dest;
    std::optional<std::string> filter;  // "" for --no-filter
    std::optional<bool> hiddenFolders;
    std::optional<bool> hiddenFiles;
    std::optional<int> stamp;
    std::optional<bool> underscore;
    bool open = false;
    std::optional<std::string> userFolder;
    std::string item;
};

std::optional<int> ParseMode(const std::string& text) {
    static const std::map<std::string, int> names = {
        {"copy", kModeCopy}, {"zip", kModeZip}, {"zip-pass", kModeZipPassword}, {"lha", kModeLha},
        {"7z", kModeSevenZip}, {"7z-pass", kModeSevenZipPassword}, {"filelist", kModeFileList},
        {"folderlist", kModeFolderList}, {"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5},
        {"11", 11}, {"12", 12}};
    const auto it = names.find(text);
    if (it == names.end()) return std::nullopt;
    return it->second;
}

// One line on standard error and the usage status.
int Usage(const std::string& message) {
    std::fprintf(stderr, "tessarine-cli: %s\n", message.c_str());
    return kUsage;
}

// Reads the options; a message on failure.
std::optional<std::string> ParseOptions(int argc, char** argv, Options& o, bool& help) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            help = true;
        } else if (a == "-m" || a == "--mode") {
            if (!value(v)) return "--mode needs a value";
            o.mode = ParseMode(v);
            if (!o.mode) return "unknown mode \"" + v + "\" (see --help)";
        } else if (a == "-d" || a == "--dest") {
            if (!value(v)) return "--dest needs a folder";
            o.dest = v;
        } else if (a == "-f" || a == "--filter") {
            if (!value(v)) return "--filter needs a filter name";
            if (v.empty()) return "--filter needs a filter name";
            o.filter = v;
        } else if (a == "--no-filter") {
            o.filter = "";
        } else if (a == "--hidden-folders" || a == "--no-hidden-folders") {
            o.hiddenFolders = a == "--hidden-folders";
        } else if (a == "--hidden-files" || a == "--no-hidden-files") {
            o.hiddenFiles = a == "--hidden-files";
        } else if (a == "--stamp") {
            if (!value(v) || (v != "long" && v != "short")) return "--stamp takes long or short";
            o.stamp = v == "long" ? 0 : 1;
        } else if (a == "--underscore" || a == "--no-underscore") {
            o.underscore = a == "--underscore";
        } else if (a == "--open") {
            o.open = true;
        } else if (a == "--user-folder") {
            if (!value(v)) return "--user-folder needs a folder";
            o.userFolder = v;
        } else if (a == "--") {
            if (i + 1 < args.size()) o.item = args[++i];
            if (i + 1 < args.size()) return "only one folder can be given";
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option " + a + " (see --help)";
        } else {
            if (!o.item.empty()) return "only one folder can be given";
            o.item = a;
        }
    }
    return std::nullopt;
}

// One line of standard input without its line end; false at its end.
bool ReadLine(std::string& line) {
    char* text = nullptr;
    size_t capacity = 0;
    const ssize_t length = ::getline(&text, &capacity, stdin);
    if (length < 0) {
        std::free(text);
        return false;
    }
    line.assign(text, static_cast<size_t>(length));
    std::free(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
}

// The questions of a launch, answered from the options and the terminal.
class CliPrompts : public LaunchPrompts {
public:
    bool Confirm(const std::string&) override { return true; }  // the command is the confirmation
    std::optional<std::string> AskDestination() override {
        error = "no destination: give --dest FOLDER (the settings ask for one at every job)";
        return std::nullopt;
    }
    std::optional<std::string> AskPassword() override {
        std::string password;
        if (::isatty(STDIN_FILENO)) {
            std::fprintf(stderr, "パスワード: ");
            std::fflush(stderr);
            termios old {};
            ::tcgetattr(STDIN_FILENO, &old);
            termios quiet = old;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
            const bool got = ReadLine(password);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
            std::fprintf(stderr, "\n");
            if (!got) return std::nullopt;
        } else if (!ReadLine(password)) {
            error = "no password on standard input";
            return std::nullopt;
        }
        if (TrimPassword(password).empty()) error = "the password is empty";
        return password;
    }
    void ShowError(const std::string& message) override { error = message; }

    std::string error;
};

// The job's outcome as an exit status: the product's path on standard
// output when there is a product, each entry it lacks on standard error.
int ExitStatusOf(const TTessarineThread& worker) {
    const JobRequest& request = worker.Request();
    const bool listMode = request.JobMode == kModeFileList || request.JobMode == kModeFolderList;
    const JobResult result = worker.Result();
    if (result == JobResult::Failed) return kFailed;
    if (!worker.NothingFound() || listMode) std::printf("%s\n", JobProductPath(request).c_str());
    if (result == JobResult::DoneWithProblems) {
        for (const auto& p : worker.Problems()) std::fprintf(stderr, "%s: %s\n", p.path.c_str(), p.reason.c_str());
        return kDoneWithProblems;
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (const auto problem = ParseOptions(argc, argv, options, help)) return Usage(*problem);
    if (help) {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    if (options.item.empty()) return Usage("no folder given (see --help)");

    try {
        TCommon common;
        const WorkingFolders folders =
            options.userFolder ? PrepareWorkingFoldersAt(ExecutableFolder(), *options.userFolder, common)
                               : PrepareWorkingFolders(ExecutableFolder(), common);

        // An existing settings file that cannot be read is bad input, not
        // a reason to run with defaults the user did not choose.
        std::string ignored;
        if (FileExists(folders.SettingsPath()) && !ReadWholeFile(folders.SettingsPath(), ignored)) {
            return Usage("cannot read the settings file " + folders.SettingsPath());
        }
        TSetData settings;
        LoadSettings(folders.SettingsPath(), settings);

        // Options override the settings for this job only; nothing is saved.
        settings.ActMode1 = 0;
        settings.OpenFolder = options.open ? 1 : 0;
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

        std::vector<std::string> folderListLines;
        if (FileExists(folders.FolderListPath())) folderListLines = ReadDataLines(folders.FolderListPath());

        LaunchInput input;
        input.Origin = kOriginDropped;
        input.ModeOverride = options.mode.value_or(-1);
        input.SourcePath = FolderOfItem(options.item);
        const std::time_t now = std::time(nullptr);
        localtime_r(&now, &input.Now);
        if (!FolderExists(options.item)) {
            // A file stands for its folder; anything else is not there.
            if (!FileExists(options.item)) return Usage("\"" + options.item + "\" が見つかりません (no such folder)");
        }

        CliPrompts prompts;
        std::string previousDestination;
        JobRequest request;
        if (!PrepareJob(input, settings, folders.DataFolder, folderListLines, prompts, previousDestination,
                        request)) {
            return Usage(prompts.error.empty() ? "the job was not started" : prompts.error);
        }
        if (request.JobMode != kModeCopy && request.JobMode != kModeZip && request.JobMode != kModeZipPassword &&
            request.JobMode != kModeLha && request.JobMode != kModeSevenZip &&
            request.JobMode != kModeSevenZipPassword && request.JobMode != kModeFileList &&
            request.JobMode != kModeFolderList) {
            return Usage("the settings name an unknown mode " + std::to_string(request.JobMode) + "; give --mode");
        }

        CliHost host(request, stderr, ::isatty(STDERR_FILENO));
        TTessarineThread worker(host);
        worker.NothingFoundPause = std::chrono::milliseconds(0);
        // Nothing else runs meanwhile: the job runs on this thread.
        worker.Execute();

        return ExitStatusOf(worker);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessarine-cli: %s\n", e.what());
        return kFailed;
    }
}
