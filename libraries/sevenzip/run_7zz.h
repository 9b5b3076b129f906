#pragma once
// Finding and running 7zz: the program and the read guard beside this
// library, the environment 7zz gets, and one run of it with its output
// collected.
#include <sys/types.h>

#include <string>
#include <vector>

#include "engine/unique_fd.h"

namespace sevenzip {

// 7zz beside this library, else in an absolute folder of the executable
// search path; empty when there is none.
std::string FindSevenZipProgram();

// The read guard beside this library (lib7zz-guard.so, see read_guard.cpp),
// opened; invalid when it is not there.
tessarine::UniqueFd OpenReadGuard();

// Why an archive is not made when 7zz ran without the read guard.
std::string GuardMissing();

// The descriptors 7zz gets beside its standard ones when the read guard
// is loaded into it: the guard library, the pipe on which the guard says it
// is in place, the base folder, and deep folders (see read_guard.cpp).
inline constexpr int kGuardLibraryFd = 3;
inline constexpr size_t kGuardFixedFds = 3;

// What 7zz may read: the base folder and, under "PREFIXn" names for n from
// `firstAlias`, deep folders opened here (see AddDeepFiles).
struct ReadGuard {
    int library = -1;
    int base = -1;
    std::vector<int> folders;
    std::string aliasPrefix;
    size_t firstAlias = 0;
};

// The environment 7zz runs with: ours, with a UTF-8 locale so that names
// and the password are read and written as UTF-8, and no library of the
// caller's preloaded (RunProgram preloads the read guard).
std::vector<std::string> ChildEnvironment();

struct RunResult {
    bool started = false;
    bool guarded = false;  // the read guard said it was in place
    int spawnError = 0;
    int status = 0;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs 7zz with the arguments in the folder, feeding `input` on its standard
// input, and collects what it writes; with `guard`, the read guard is loaded
// into it.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, int folderFd,
                     const std::vector<std::string>& baseEnv, const std::string& input,
                     const ReadGuard* guard = nullptr);

}  // namespace sevenzip
