// Runs libunlha32.so the way the program does: one "a" command line naming
// an archive, a base folder and every file of a list (one relative name a
// line), composed exactly as the archive adapter composes it.
//   unlha_run <library> <archive> <base folder ending in /> <list file>
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "archive/command_line.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: unlha_run <library> <archive> <base folder/> <list file>\n");
        return 2;
    }
    void* lib = ::dlopen(argv[1], RTLD_NOW);
    if (!lib) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    using UnlhaFn = int (*)(void*, const char*, char*, unsigned long);
    const auto unlha = reinterpret_cast<UnlhaFn>(::dlsym(lib, "Unlha"));
    std::string line = "a -a1 -r2 -x1 -l1 -jp1 -o2 -ji0 \"" + tessarine::EscapeQuoted(argv[2]) + "\" \"" +
                       tessarine::EscapeQuoted(argv[3]) + "\" ";
    std::ifstream list(argv[4]);
    std::string name;
    while (std::getline(list, name))
        if (!name.empty()) line += "\"" + tessarine::EscapeQuoted(name) + "\" ";
    char report[1024] = {};
    const int status = unlha(nullptr, line.c_str(), report, 1023);
    if (status != 0) std::fprintf(stderr, "%s", report);
    return status;
}
