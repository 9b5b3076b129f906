// Benchmark driver: one ZIP or 7z job the way the worker runs it, collecting
// the files beneath a folder and archiving them through TFileArchive and
// lib7-zip32.so. With --list it instead writes the names it would archive,
// relative to the folder and NUL-separated, so that 7zz can be run directly
// on the very same files in the same order.
//
//   bench_sevenzip zip|7z <folder/> <archive>
//   bench_sevenzip --list <folder/> <names file>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "engine/FileOperation.h"
#include "engine/TessarineThread.h"

using namespace tessarine;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s zip|7z|--list <folder/> <archive or names file>\n", argv[0]);
        return 2;
    }
    const std::string what = argv[1];
    const std::string folder = WithTrailingSeparator(argv[2]);
    TFileOperation operation;
    std::vector<std::string> folders{folder};
    operation.CollectFolders(folder, folders, true);
    PathList files;
    operation.CollectFiles(folders, false, true, files);

    if (what == "--list") {
        FILE* out = std::fopen(argv[3], "wb");
        if (!out) return 1;
        for (const auto& f : files) {
            const std::string name = TFileOperation::StripRoot(f, folder);
            std::fwrite(name.c_str(), 1, name.size() + 1, out);
        }
        return std::fclose(out) == 0 ? 0 : 1;
    }

    bool reported = false;
    TFileArchive archive([&reported](const std::string& caption, const std::string& text) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        reported = true;
    });
    if (!archive.SevenZipAvailable()) {
        std::fprintf(stderr, "%s is not installed\n", TFileArchive::kSevenZipLibraryName);
        return 1;
    }
    archive.CompressSevenZip(folder, files, argv[3], what == "zip" ? JobMode::kZip : JobMode::kSevenZip);
    return reported ? 1 : 0;
}
