#include "libraries/sevenzip/deep_files.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "libraries/sevenzip/arguments.h"
#include "libraries/sevenzip/names.h"
#include "libraries/sevenzip/sevenzip_output.h"
#include "engine/unique_fd.h"

namespace sevenzip {

using tessarine::LeftOutEntry;
using tessarine::UniqueFd;

std::string AddDeepFiles(const std::string& program, const std::vector<std::string>& env, const std::string& input,
                         const tessarine::ArchiveRequest& request, const std::string& partial,
                         const ReadGuard& baseGuard, const std::vector<std::string_view>& given,
                         const std::vector<std::string_view>& deep, std::vector<LeftOutEntry>& leftOut) {
    // The aliases begin with a name no listed entry begins with, so that
    // adding them never updates an entry already in the archive.
    std::unordered_set<std::string_view> tops;
    for (const std::string_view name : given) {
        const std::string_view relative = WithoutLeadingSlashes(name);
        tops.insert(relative.substr(0, relative.find('/')));
    }
    std::string prefix = ".tessarine-deep-";
    while (std::any_of(tops.begin(), tops.end(), [&](std::string_view top) { return top.starts_with(prefix); }))
        prefix.insert(0, "_");

    // Each folder numbered in the order its first file comes; the files
    // taken folder by folder, so that one call's folders are consecutive.
    std::unordered_map<std::string_view, size_t> numberOf;
    std::vector<std::string_view> folders;
    std::vector<std::pair<size_t, size_t>> files;  // (folder number, deep file)
    for (size_t k = 0; k < deep.size(); ++k) {
        const std::string_view relative = WithoutLeadingSlashes(deep[k]);
        const std::string_view folder = relative.substr(0, relative.rfind('/'));
        const auto [hit, added] = numberOf.try_emplace(folder, folders.size());
        if (added) folders.push_back(folder);
        files.emplace_back(hit->second, k);
    }
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    const std::vector<std::string> add = SevenZipArguments("a", request, partial);
    const std::vector<std::string> rename = SevenZipArguments("rn", request, partial);
    const auto failed = [](const std::vector<std::string>& fixed, const RunResult& result) {
        const int code = result.started && WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
        return "7zz (" + fixed[1] + ") could not add the files deeper than PATH_MAX" +
               (code > 0 ? " (exit code " + std::to_string(code) + ", " + ExitMeaning(code) + ")" : "");
    };

    // A few hundred folders per call keep the descriptors well within the
    // usual limit of 1,024.
    constexpr size_t kFoldersPerCall = 256;
    const size_t budget = NameBudget(add, env);
    std::vector<std::string> pairs;  // "ALIAS/name" and the own name, for each file added
    for (size_t next = 0; next < files.size();) {
        ReadGuard guard = baseGuard;
        guard.aliasPrefix = prefix;
        guard.firstAlias = files[next].first;
        std::vector<UniqueFd> opened;  // a folder not reached stands as /dev/null, which no look-up enters
        std::vector<int> openError;
        std::vector<std::string> names;  // "ALIAS/name"
        std::vector<size_t> fileOf;      // the deep file of each name
        size_t used = 0;
        size_t end = next;
        for (; end < files.size(); ++end) {
            const auto [number, k] = files[end];
            if (number - guard.firstAlias >= kFoldersPerCall) break;
            const std::string_view relative = WithoutLeadingSlashes(deep[k]);
            std::string alias = prefix + std::to_string(number) + std::string(relative.substr(relative.rfind('/')));
            if (!names.empty() && used + ArgumentCost(alias) > budget) break;
            while (opened.size() <= number - guard.firstAlias) {
                opened.emplace_back(
                    tessarine::OpenBeneath(baseGuard.base, folders[guard.firstAlias + opened.size()], O_PATH));
                openError.push_back(opened.back() ? 0 : errno);
                if (!opened.back()) opened.back().Reset(::open("/dev/null", O_PATH | O_CLOEXEC));
            }
            if (const int error = openError[number - guard.firstAlias]; error != 0) {
                // A folder on the way was swapped for a link, or is gone.
                leftOut.push_back(LeftOutEntry{std::string(deep[k]),
                                               tessarine::MakeMessage(tessarine::MessageId::kSystemError, {}, error)});
                continue;
            }
            used += ArgumentCost(alias);
            names.push_back(std::move(alias));
            fileOf.push_back(k);
        }
        next = end;
        if (names.empty()) continue;
        for (const auto& fd : opened) guard.folders.push_back(fd.Get());
        std::vector<std::string> args = add;
        args.insert(args.end(), names.begin(), names.end());
        const RunResult result = RunProgram(program, args, baseGuard.base, env, input, &guard);
        const int code = result.started && WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
        if (code != 0 && code != 1) return failed(add, result);
        if (!result.guarded) return GuardMissing();
        // An entry 7zz named is listed under its own name; one it did not
        // name is listed as 7zz showed it.
        std::unordered_map<std::string_view, tessarine::Message> missed;
        std::vector<LeftOutEntry> warned;
        if (code == 1) {
            warned = WarnedEntries(result.out, std::vector<std::string_view>(names.begin(), names.end()));
            for (const auto& entry : warned) missed.emplace(entry.name, entry.reason);
        }
        for (size_t i = 0; i < names.size(); ++i) {
            const auto hit = missed.find(names[i]);
            if (hit != missed.end()) {
                leftOut.push_back(LeftOutEntry{std::string(deep[fileOf[i]]), hit->second});
                missed.erase(hit);
                continue;
            }
            pairs.push_back(names[i]);
            pairs.emplace_back(WithoutLeadingSlashes(deep[fileOf[i]]));
        }
        for (const auto& entry : warned) {
            if (missed.count(entry.name)) leftOut.push_back(entry);
        }
    }
    // The renames, as many pairs per call as fit.
    const size_t renameBudget = NameBudget(rename, env);
    for (size_t next = 0; next < pairs.size();) {
        std::vector<std::string> args = rename;
        size_t used = 0;
        size_t end = next;
        while (end < pairs.size()) {
            const size_t cost = ArgumentCost(pairs[end]) + ArgumentCost(pairs[end + 1]);
            if (end > next && used + cost > renameBudget) break;
            used += cost;
            end += 2;
        }
        args.insert(args.end(), pairs.begin() + static_cast<long>(next), pairs.begin() + static_cast<long>(end));
        const RunResult result = RunProgram(program, args, baseGuard.base, env, input);
        if (!result.started || !WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0)
            return failed(rename, result);
        next = end;
    }
    return {};
}

}  // namespace sevenzip
