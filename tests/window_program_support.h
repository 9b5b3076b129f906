#pragma once
// A program folder of its own for runs of the built window program, so
// that the build's user folder stays as it is, and a user in it whose
// settings launch quietly.
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "process_runner.h"
#include "test_support.h"

namespace testsupport {

inline std::string LoginName() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? pw->pw_name : "";
}

// True when the build holds both archiver libraries; the window offers the
// archive and list modes only with both.
inline bool ArchiversBuilt() {
    return std::filesystem::exists(ProgramFolder() + "lib7-zip32.so") &&
           std::filesystem::exists(ProgramFolder() + "libunlha32.so");
}

// `into`/prog/ with the window program, its data folder, and (when
// `archivers`) the archiver libraries and 7zz as far as the build has them.
inline std::string CopyProgramFolder(const std::string& into, bool archivers) {
    namespace fs = std::filesystem;
    const std::string built = ProgramFolder();
    const std::string prog = into + "/prog/";
    MakeDir(prog);
    fs::copy_file(built + "tessarine", prog + "tessarine");
    fs::copy(built + "data", prog + "data", fs::copy_options::recursive);
    for (const char* file : {"lib7-zip32.so", "lib7zz-guard.so", "libunlha32.so", "7zz"}) {
        if (archivers && fs::exists(built + file)) fs::copy_file(built + file, prog + file);
    }
    return prog;
}

// The user folder of `prog` with a set.ini that runs a job in `mode`
// without a question into `dest` and opens nothing afterwards.
inline std::string MakeQuietUser(const std::string& prog, const std::string& dest, int mode) {
    const std::string user = prog + "user/" + LoginName();
    MakeDir(prog + "user");
    MakeDir(user);
    WriteFile(user + "/set.ini", "[set]\r\nActMode1=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=" + dest +
                                     "\r\nOpenFolder=0\r\nMode=" + std::to_string(mode) + "\r\n");
    return user;
}

}  // namespace testsupport
