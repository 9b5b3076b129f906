// lib7-zip32.so: the ZIP and 7z archiver library. Its entry point takes an
// archive command line such as
//
//   a -tzip -p"pass word" -r "/out/src.zip" "/work/src/" "a.txt" "sub/b.txt"
//
// and carries it out with the 7-Zip program 7zz, run in the base folder.
// Every listed name is added once, as it is: 7zz gets wildcard matching off
// (-spd) and the names after "--", so "-x", "@a" or "*" are plain names and
// every byte of a name is kept. The password goes to 7zz on its standard
// input, never on its command line. A folder whose entries are all listed
// goes to 7zz by its own name (7-Zip's time grows with the square of the
// names given per folder); see NamesToHandOver in arguments.cpp.
//
// Before 7zz runs, every name is looked at (entry_checks.cpp): named pipes,
// devices, sockets and files the user may not read are left out (7zz would
// block on a pipe or read a device for ever). 7zz writes the archive into a
// hidden folder made beside the final name, and the finished archive is
// renamed over that name (staging.cpp), so whatever was there before is
// replaced whole, never added to. 7zz is started so that it cannot outlive
// the caller's thread and never writes a core file, which would hold the
// password (run_7zz.cpp).
//
// 7zz reads the source through the read guard (lib7zz-guard.so beside this
// library, preloaded into it; see read_guard.cpp): every name beneath the
// base folder without following a link on the way, so that the owner of the
// tree cannot redirect its reading by swapping a folder for a link. A 7zz
// that runs without the guard makes no archive.
//
// The report is the library's own, in English as 7-Zip's are: "N of M files
// added to the archive", then "K files left out" when some are; the word
// "ERROR" appears only when no archive was made. The entries left out, each
// with its reason, are handed over by LeftOutEntries().
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_request.h"
#include "archive/archiver_status.h"
#include "archive/left_out.h"
#include "libraries/left_out_store.h"
#include "libraries/name_set.h"
#include "libraries/plain_reason.h"
#include "libraries/sevenzip/arguments.h"
#include "libraries/sevenzip/deep_files.h"
#include "libraries/sevenzip/entry_checks.h"
#include "libraries/sevenzip/names.h"
#include "libraries/sevenzip/run_7zz.h"
#include "libraries/sevenzip/sevenzip_output.h"
#include "libraries/sevenzip/staging.h"
#include "engine/unique_fd.h"

namespace {

using namespace sevenzip;
using tessarine::ArchiveRequest;
using tessarine::ArchiveType;
using tessarine::LeftOutEntry;
using tessarine::UniqueFd;

// The longest password taken, in bytes.
constexpr size_t kMaxPassword = 1024;

// What of a request 7zz cannot carry out, in the report's words; empty when
// it can. Empty names are dropped and each name is kept once, at its first
// place (7-Zip refuses a list that holds a name twice); a name beginning
// with "/" is the same entry as without it.
std::string CheckRequest(ArchiveRequest& request) {
    std::vector<std::string_view>& names = request.entries;
    archivers::NameSet seen(names.size(), [&names](size_t k) { return WithoutLeadingSlashes(names[k]); });
    size_t kept = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) continue;
        names[kept] = names[i];
        if (seen.Insert(kept) == kept) ++kept;
    }
    names.resize(kept);
    // 7zz without names would add the whole folder.
    if (names.empty())
        return RenderMessage(tessarine::MakeMessage(tessarine::MessageId::kArchiverNothingToAdd),
                             tessarine::Language::kEnglish);
    if (!request.password) return {};
    const std::string& password = *request.password;
    if (password.empty()) return "the password is empty";
    if (password.size() > kMaxPassword)
        return "the password is too long (" + std::to_string(kMaxPassword) + " bytes at most)";
    // 7zz reads the password as one line.
    if (password.find_first_of("\r\n") != std::string::npos) return "the password cannot hold a line break";
    if (request.type == ArchiveType::kZip &&
        std::any_of(password.begin(), password.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return "a ZIP password can hold ASCII characters only (a limit of 7-Zip); the 7z format takes any";
    return {};
}

// Copies the report into the caller's buffer: at most size - 1 bytes, cut
// at a character boundary, NUL-terminated.
void WriteReport(const std::string& report, char* output, unsigned long size) {
    if (!output || size == 0) return;
    size_t n = std::min<size_t>(report.size(), size - 1);
    if (n < report.size()) {
        // Step back over continuation bytes of a cut UTF-8 character.
        while (n > 0 && (static_cast<unsigned char>(report[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(output, report.data(), n);
    output[n] = '\0';
}

int Fail(const std::string& reason, char* output, unsigned long size) {
    WriteReport("ERROR: " + reason + "\n", output, size);
    return tessarine::kArchiverFailed;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SevenZip(void* /*ownerWindow*/, const char* commandLine,
                                                               char* output, unsigned long outputSize) {
    archivers::ClearLeftOut();
    if (output && outputSize > 0) output[0] = '\0';
    // The names stay views into the command line, which the caller holds
    // throughout the call, or into the request for the few that hold escapes.
    tessarine::ParsedArchiveRequest parsed = tessarine::ParseArchiveRequest(
        commandLine ? std::string_view(commandLine) : std::string_view(), tessarine::ArchiverDialect::kSevenZip);
    if (parsed.failure) return Fail(RenderMessage(parsed.failure, tessarine::Language::kEnglish), output, outputSize);
    ArchiveRequest& request = parsed.request;
    if (const std::string refused = CheckRequest(request); !refused.empty()) return Fail(refused, output, outputSize);
    const std::string program = FindSevenZipProgram();
    if (program.empty())
        return Fail("the 7-Zip program 7zz was not found; install the 7zip package", output, outputSize);
    // 7zz runs in the base folder, so every path it gets is absolute: a
    // relative archive path means the caller's current folder.
    const std::string archive = AbsolutePath(request.archive);
    const std::string baseFolder = AbsolutePath(request.baseFolder);
    const UniqueFd baseFd(tessarine::OpenLongPath(AT_FDCWD, baseFolder, O_PATH | O_DIRECTORY));
    if (!baseFd) return Fail("cannot open the base folder: " + archivers::PlainReason(errno), output, outputSize);
    if (archive.back() == '/') return Fail("the archive path names a folder", output, outputSize);
    const UniqueFd guardLibrary = OpenReadGuard();
    if (!guardLibrary) return Fail(GuardMissing(), output, outputSize);
    ReadGuard guard;
    guard.library = guardLibrary.Get();
    guard.base = baseFd.Get();

    // The names 7zz may have, as listed, in the list's own order; the others
    // are left out here with their reason.
    const size_t listedCount = request.entries.size();
    CheckedEntries checked = CheckEntries(baseFd.Get(), std::move(request.entries));
    const std::vector<std::string_view>& given = checked.given;
    const std::vector<std::string_view>& deep = checked.deep;
    std::vector<LeftOutEntry>& leftOut = checked.leftOut;
    // What the report says when the call ends: the count first, then the
    // entries left out, listed in full by LeftOutEntries().
    auto finish = [&](int status, const std::string& failure) {
        archivers::StoreLeftOut(tessarine::EncodeLeftOut(leftOut));
        if (!failure.empty()) {
            Fail(failure, output, outputSize);
            return status;
        }
        // An entry 7zz warned about may lie inside a listed folder, so the
        // count of entries left out can exceed the names listed.
        const size_t missing = std::min(leftOut.size(), listedCount);
        std::string report = std::to_string(listedCount - missing) + " of " + std::to_string(listedCount) +
                             " files added to the archive\n";
        if (!leftOut.empty()) report += std::to_string(leftOut.size()) + " files left out\n";
        WriteReport(report, output, outputSize);
        return status;
    };
    if (given.empty() && deep.empty()) return finish(2, "no file can be added (all were left out)");

    const TempFolder temp(archive);
    if (!temp.Made())
        return finish(2, "cannot make the archive's temporary folder: " + archivers::PlainReason(temp.Error()));
    const std::string partial = temp.Path() + archive.substr(archive.rfind('/'));
    const PathWords paths = {{partial, "(archive)"},
                             {archive, "(archive)"},
                             {temp.Path(), "(temporary folder)"},
                             {baseFolder, "(base folder)"}};
    std::vector<std::string> fixedArgs = SevenZipArguments("a", request, partial);
    const std::string input = PasswordInput(request);
    const auto env = ChildEnvironment();

    // Whole folders go in by their own names, other entries one by one (see
    // NamesToHandOver). Should 7zz then add other than the listed number of
    // files, or a folder named whole have changed since it was looked at here
    // (an entry made, removed or renamed in it), the archive is made again
    // from the entries' own names, so that exactly the listed files go in and
    // the missing ones are reported.
    size_t namedFolders = 0;
    std::vector<std::string_view> handed;
    std::vector<std::string> excluded;
    std::vector<FolderMark> marks;
    if (checked.anyFolder) {
        handed = RelativeNames(given);
    } else {
        handed = NamesToHandOver(baseFd.Get(), given, namedFolders, excluded, marks);
    }
    std::vector<std::string> plainArgs = fixedArgs;
    const auto dashes = std::find(fixedArgs.begin(), fixedArgs.end(), "--");
    fixedArgs.insert(dashes, excluded.begin(), excluded.end());
    size_t budget = NameBudget(fixedArgs, env);
    enum class Outcome { kDone, kFailed, kRedo };
    int failedStatus = 0;
    auto addAll = [&](const std::vector<std::string_view>& names, bool byFolders) {
        // The names go in as few calls as the kernel's argument limit
        // allows; each further call adds to the archive the first one made.
        size_t callBudget = budget;
        size_t next = 0;
        size_t added = 0;
        while (next < names.size()) {
            std::vector<std::string> args = fixedArgs;
            size_t used = 0;
            size_t end = next;
            while (end < names.size() && (end == next || used + ArgumentCost(names[end]) <= callBudget)) {
                used += ArgumentCost(names[end]);
                ++end;
            }
            args.insert(args.end(), names.begin() + static_cast<long>(next), names.begin() + static_cast<long>(end));
            const RunResult run = RunProgram(program, args, baseFd.Get(), env, input, &guard);
            if (!run.started && run.spawnError == E2BIG && end - next > 1) {
                callBudget = used / 2;  // the limit was tighter than estimated
                continue;
            }
            if (!run.started) {
                failedStatus = finish(2, "cannot start 7zz: " + archivers::PlainReason(run.spawnError));
                return Outcome::kFailed;
            }
            if (!WIFEXITED(run.status)) {
                const int signal = WTERMSIG(run.status);
                const char* name = ::sigabbrev_np(signal);
                failedStatus = finish(2, "7zz was stopped by signal " + std::to_string(signal) + " (SIG" +
                                             (name ? name : "?") + "); no archive was made");
                return Outcome::kFailed;
            }
            if (!run.guarded) {
                failedStatus = finish(2, GuardMissing());
                return Outcome::kFailed;
            }
            const int code = WEXITSTATUS(run.status);
            if (code == 1 && byFolders) return Outcome::kRedo;
            // Without folders named whole, the names are the given ones, in order.
            const std::vector<std::string_view> batch(given.begin() + static_cast<long>(next),
                                                      given.begin() + static_cast<long>(end));
            RunReading reading = ReadSevenZipRun(code, run.out, run.err, batch, paths);
            if (!reading.failure.empty()) {
                failedStatus = finish(reading.status, reading.failure);
                return Outcome::kFailed;
            }
            for (auto& e : reading.warned) leftOut.push_back(std::move(e));
            added += reading.filesAdded;
            next = end;
        }
        if (byFolders && (added != given.size() || !FoldersUnchanged(baseFd.Get(), marks))) return Outcome::kRedo;
        return Outcome::kDone;
    };
#ifdef __GLIBC__
    // What was freed while the names were looked at goes back to the system
    // before 7zz, which needs much memory for a long list, starts.
    ::malloc_trim(0);
#endif
    Outcome outcome = given.empty() ? Outcome::kDone : addAll(handed, namedFolders > 0);
    if (outcome == Outcome::kRedo) {
        ::unlink(partial.c_str());
        fixedArgs = plainArgs;
        budget = NameBudget(fixedArgs, env);
        handed = RelativeNames(given);
        outcome = addAll(handed, false);
    }
    if (outcome == Outcome::kFailed) return failedStatus;
    if (!deep.empty()) {
        const std::string failure = AddDeepFiles(program, env, input, request, partial, guard, given, deep, leftOut);
        if (!failure.empty()) return finish(2, failure);
    }
    if (const std::string failure = PlaceArchive(partial, archive); !failure.empty()) return finish(2, failure);
    return finish(leftOut.empty() ? 0 : 1, "");
}

// The entries the last SevenZip call on this thread left out, each as its
// name and reason (see archive/left_out.h).
extern "C" __attribute__((visibility("default"))) const char* LeftOutEntries(unsigned long* length) {
    return archivers::LeftOutOfThisThread(length);
}

// Unloading frees the list of the thread that unloads (the one that called).
__attribute__((destructor)) static void FreeLeftOutEntries() { archivers::ClearLeftOut(); }
