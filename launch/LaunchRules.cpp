#include "launch/LaunchRules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>

#include "engine/Common.h"
#include "engine/errors.h"
#include "engine/secrets.h"
#include "engine/text_process.h"
#include "filters/filterfile.h"
#include "folders/folderlist.h"

namespace tessarine {

namespace {
bool EndsWithSeparator(std::string_view path) { return !path.empty() && path.back() == kPathSeparator; }

// A relative path taken from the current folder, so that every path a job
// hands on (to 7zz among others) means the same folder wherever it is used.
std::string Absolute(const std::string& path) {
    if (path.empty() || path.front() == kPathSeparator) return path;
    std::error_code ec;
    const auto cwd = std::filesystem::current_path(ec);
    if (ec) return path;
    std::string absolute = (cwd / path).lexically_normal().string();
    if (path.back() == kPathSeparator) absolute = WithTrailingSeparator(std::move(absolute));
    return absolute;
}

// True when `inner` is `outer` or lies beneath it, component by component.
bool IsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (o->empty()) continue;  // the empty last element of a path ending with "/"
        if (i == inner.end() || *i != *o) return false;
    }
    return true;
}

std::string ContainingFolder(const std::string& path) {
    const size_t slash = path.rfind(kPathSeparator);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool SameAsciiLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A host that means this machine: none, "localhost", or its own name
// (some file managers write that).
bool IsLocalHost(std::string_view host) {
    if (host.empty() || SameAsciiLetters(host, "localhost")) return true;
    char own[HOST_NAME_MAX + 1] = {};
    return ::gethostname(own, sizeof own - 1) == 0 && SameAsciiLetters(host, own);
}

// The path of one file URI with every "%XY" turned into its byte; a "%"
// that does not begin such a triple stays as it is (senders that do not
// encode keep their names).
std::optional<std::string> LocalPathOfUri(std::string_view uri) {
    constexpr std::string_view kScheme = "file:";
    if (uri.size() < kScheme.size() || !SameAsciiLetters(uri.substr(0, kScheme.size()), kScheme)) return std::nullopt;
    std::string_view rest = uri.substr(kScheme.size());
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const size_t pathStart = rest.find(kPathSeparator);
        if (pathStart == std::string_view::npos || !IsLocalHost(rest.substr(0, pathStart))) return std::nullopt;
        rest.remove_prefix(pathStart);
    }
    if (rest.empty() || rest.front() != kPathSeparator) return std::nullopt;
    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        const int high = rest[i] == '%' && i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(rest[i + 2]) : -1;
        if (low < 0) {
            path += rest[i];
            continue;
        }
        const char byte = static_cast<char>(high * 16 + low);
        if (byte == '\0' || byte == kPathSeparator) return std::nullopt;
        path += byte;
        i += 2;
    }
    return path;
}
}  // namespace

Message CheckCommandLineItem(const std::string& item) {
    if (item.empty()) return MakeMessage(MessageId::kStartItemEmpty);
    struct stat st {};
    if (::lstat(item.c_str(), &st) != 0) return MakeMessage(MessageId::kStartItemMissing, {item});
    return {};
}

std::optional<std::string> LastDroppedPath(std::string_view uriList) {
    // Lines end with CRLF (some senders write LF alone, or add a NUL at the
    // end); lines that begin with "#" are comments.
    std::string_view last;
    while (!uriList.empty()) {
        const size_t end = uriList.find('\n');
        std::string_view line = uriList.substr(0, end);
        uriList.remove_prefix(end == std::string_view::npos ? uriList.size() : end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.remove_suffix(1);
        if (!line.empty() && line.front() != '#') last = line;
    }
    if (last.empty()) return std::nullopt;
    return LocalPathOfUri(last);
}

std::string FolderOfItem(const std::string& item) {
    std::string path = Absolute(item);
    if (FolderExists(path)) return WithTrailingSeparator(std::move(path));
    return WithTrailingSeparator(ContainingFolder(path));
}

bool DestinationInsideSourceThroughLink(const std::string& destination, const std::string& sourcePath) {
    namespace fs = std::filesystem;
    std::error_code ec1, ec2;
    const fs::path realDestination = fs::canonical(destination, ec1);
    const fs::path realSource = fs::canonical(sourcePath, ec2);
    if (ec1 || ec2 || !IsWithin(realDestination, realSource)) return false;
    // Inside the source as written (the "save into the source folder"
    // setting) is the user's choice; only a link makes it a surprise.
    const fs::path writtenDestination = fs::path(Absolute(destination)).lexically_normal();
    const fs::path writtenSource = fs::path(Absolute(sourcePath)).lexically_normal();
    return !IsWithin(writtenDestination, writtenSource);
}

Message CheckSourceFolder(const std::string& sourcePath) {
    if (sourcePath.empty()) return MakeMessage(MessageId::kSourceNotGiven);
    if (!FolderExists(sourcePath)) return MakeMessage(MessageId::kSourceMissing, {sourcePath});
    return {};
}

SourceNames DescribeSource(std::string_view sourcePath) {
    std::string_view s = sourcePath;
    if (EndsWithSeparator(s)) s.remove_suffix(1);
    if (s.empty() && !sourcePath.empty()) return {"disk_root", std::string(1, kPathSeparator)};
    const size_t slash = s.rfind(kPathSeparator);
    SourceNames names;
    names.BaseName = std::string(slash == std::string_view::npos ? s : s.substr(slash + 1));
    names.DisplayPath = std::string(1, kPathSeparator) + "..." + kPathSeparator + names.BaseName;
    return names;
}

Message ConfirmationText(std::string_view displayPath, JobMode jobMode) {
    const JobModeInfo* mode = FindJobMode(jobMode);
    return MakeMessage(mode ? mode->question : MessageId::kText, {std::string(displayPath)});
}

std::optional<std::string> DestinationBySaveMode(const TSetData& settings, std::string_view sourcePath,
                                                 std::string_view previousDestination) {
    switch (settings.SelectSaveMode) {
        case 0: return std::nullopt;
        case 1: return std::string(sourcePath);
        case 2: return settings.SelectSaveFolderName;
        default: return std::string(previousDestination);
    }
}

std::string DateStamp(const std::tm& now, uint8_t fnameSelect1, uint8_t fnameSelect2) {
    char buffer[32];
    if (fnameSelect1 == 0) {
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", now.tm_year + 1900, now.tm_mon + 1,
                      now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02d%02d%02d_%02d%02d_%02d", (now.tm_year + 1900) % 100, now.tm_mon + 1,
                      now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
    }
    return (fnameSelect2 != 0 ? "_" : "") + std::string(buffer);
}

std::string MakeOutputBase(const std::string& destination, std::string_view baseName, std::string_view stamp) {
    std::string base = WithTrailingSeparator(destination);
    base += baseName;
    base += stamp;
    return base;
}

std::string FindFilterFile(int origin, const TSetData& settings, const std::vector<std::string>& folderListLines,
                           const std::string& dataFolder, std::string_view sourcePath) {
    const auto fileOf = [&dataFolder](const std::string& name) {
        return name.empty() ? std::string() : FilterFilePath(dataFolder, name);
    };
    if (origin == kOriginRegistered || settings.AutoMode == 1) {
        if (const auto registered = RegisteredFilterName(folderListLines, sourcePath)) return fileOf(*registered);
        // A registered folder always finds its own line; a dropped folder
        // that is not registered falls back to the chosen filter.
        if (origin == kOriginRegistered) return {};
    }
    return fileOf(settings.SelectFileName);
}

std::string TrimPassword(std::string_view entered) { return std::string(TrimBlanks(entered)); }

bool PrepareJob(const LaunchInput& input, const TSetData& settings, const std::string& dataFolder,
                const std::vector<std::string>& folderListLines, LaunchPrompts& prompts,
                std::string& previousDestination, JobRequest& request) {
    request.SourcePath = input.SourcePath;
    // A Mode no mode has is kept, for the caller to name.
    request.JobMode = input.ModeOverride.value_or(JobModeOfNumber(settings.Mode));
    request.IncludeHiddenFolders = settings.HiddenFolder == 1;
    request.IncludeHiddenFiles = settings.HiddenFile == 1;
    request.Verify = settings.VerifyAfterJob == 1;

    if (const Message problem = CheckSourceFolder(input.SourcePath)) {
        prompts.ShowError(problem);
        return false;
    }

    const SourceNames names = DescribeSource(input.SourcePath);
    if (settings.ActMode1 == 1 && !prompts.Confirm(ConfirmationText(names.DisplayPath, request.JobMode))) return false;

    std::optional<std::string> destination = DestinationBySaveMode(settings, input.SourcePath, previousDestination);
    if (!destination) {
        destination = prompts.AskDestination();
        if (!destination || destination->empty()) return false;
    }
    previousDestination = *destination;
    if (!FolderExists(*destination)) {
        prompts.ShowError(MakeMessage(MessageId::kDestinationMissing));
        return false;
    }
    if (DestinationInsideSourceThroughLink(*destination, input.SourcePath)) {
        prompts.ShowError(MakeMessage(MessageId::kDestinationInsideSource));
        return false;
    }
    // Resolved once, here: the worker and the archivers it starts may run in
    // other folders.
    const std::string folder = WithTrailingSeparator(Absolute(*destination));

    request.OutputBase =
        MakeOutputBase(folder, names.BaseName, DateStamp(input.Now, settings.FNameSelect1, settings.FNameSelect2));
    request.OpenFolderWhenDone = settings.OpenFolder == 1;
    if (request.OpenFolderWhenDone) request.FolderToOpen = folder;

    request.FilterFile = FindFilterFile(input.Origin, settings, folderListLines, dataFolder, input.SourcePath);
    if (!request.FilterFile.empty() && !FileExists(request.FilterFile)) {
        prompts.ShowError(MakeMessage(MessageId::kFilterMissing));
        return false;
    }

    if (const JobModeInfo* mode = FindJobMode(request.JobMode); mode && mode->password) {
        auto entered = prompts.AskPassword();
        if (!entered) return false;
        request.Password = TrimPassword(*entered);
        WipeSecret(*entered);
        if (request.Password.empty()) return false;
    }
    return true;
}

}  // namespace tessarine
