// Real ZIP and 7z archives made through the archive adapter, lib7-zip32.so
// and 7zz, extracted again with 7zz and compared byte for byte with their
// sources.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "archive/Archive.h"
#include "archive/command_line.h"
#include "archive/left_out.h"
#include "archiver_hazards.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::vector<std::string> kAwkwardNames = {
    "with blanks  in it ", "double\"quote", "back\\slash", "-leading-dash", "@leading-at", "star*and?question",
    "line\nbreak", "日本語のファイル名", "accentué é ñ ü", "emoji 😀🎉", std::string("invalid \xff\xfe utf8"),
    std::string("half \xe3\x81 char"), "表ソ十", " leading blank", "$dollar`back`tick'quote",
};

std::string BinDir() {
    const char* dir = std::getenv("TESSARINE_BIN_DIR");
    return dir && *dir ? dir : TESSARINE_BIN_DIR_DEFAULT;
}

// Runs a program (no shell) with its standard input from /dev/null and its
// output discarded or captured; returns its exit status.
int RunProgram(const std::vector<std::string>& args, std::string* output = nullptr) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file and link under a folder, by path relative to it.
std::vector<std::string> TreeFiles(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_directory() || e.is_symlink()) files.push_back(e.path().string().substr(root.size()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// One call of the library's entry point, as the adapter makes it.
struct Call {
    int status = -1;
    std::string report;
    std::map<std::string, std::string> leftOut;  // name: reason
    size_t leftOutCount = 0;
};

// The command line the adapter composes for a ZIP ("zip") or 7z ("7z") job.
std::string Line(const std::string& type, const std::string& archive, const std::string& base,
                 const std::vector<std::string>& names, const std::string& password = "") {
    std::string line = "a -t" + type + (password.empty() ? "" : " -p" + PasswordToken(password)) + " -r \"" +
                       EscapeQuoted(archive) + "\" \"" + EscapeQuoted(base) + "\" ";
    for (const auto& n : names) line += "\"" + EscapeQuoted(n) + "\" ";
    return line;
}

// Loads the library at `library`, runs one command line and unloads it.
Call CallLibrary(const std::string& library, const std::string& line) {
    Call call;
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        call.report = std::string("cannot load: ") + ::dlerror();
        return call;
    }
    using EntryFn = int (*)(void*, const char*, char*, unsigned long);
    const auto entry = reinterpret_cast<EntryFn>(::dlsym(handle, "SevenZip"));
    const auto leftOut = reinterpret_cast<LeftOutEntriesFn>(::dlsym(handle, kLeftOutEntryName));
    std::vector<char> buffer(1024, '\0');
    call.status = entry(nullptr, line.c_str(), buffer.data(), 1023);
    call.report = buffer.data();
    if (leftOut) {
        unsigned long length = 0;
        const char* records = leftOut(&length);
        const auto entries = DecodeLeftOut(std::string_view(records, length));
        call.leftOutCount = entries.size();
        for (const auto& e : entries) call.leftOut[e.name] = e.reason;
    } else {
        call.leftOut["<no LeftOutEntries>"] = "";
    }
    ::dlclose(handle);
    return call;
}

std::string Library() { return BinDir() + "/lib7-zip32.so"; }

bool HoldsErrorWord(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find("error") != std::string::npos;
}

// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The real 7zz, for stand-ins that do something and then run it.
std::string RealSevenZip() {
    std::string path;
    RunProgram({"sh", "-c", "command -v 7zz"}, &path);
    while (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
}

class SevenZipArchives : public ::testing::Test {
protected:
    void SetUp() override {
        src = dir.folder() + "src/";
        MakeDir(src);
        archive.SetLibraryFolders(BinDir() + "/", {});
    }

    void Add(const std::string& relative, const std::string& content) {
        const auto slash = relative.rfind('/');
        if (slash != std::string::npos) std::filesystem::create_directories(src + relative.substr(0, slash));
        WriteFile(src + relative, content);
        files.push_back(src + relative);
    }

    // Extracts the archive into a new folder and compares every file with its
    // source; the archive must hold nothing else.
    void ExpectRoundTrip(const std::string& archivePath, const std::string& password = "") {
        const std::string out = dir.folder() + "out" + std::to_string(++extractions) + "/";
        std::string log;
        ASSERT_EQ(RunProgram({"7zz", "x", "-y", "-snl", "-o" + out, password.empty() ? "-p" : "-p" + password, "--", archivePath},
                      &log),
                  0)
            << log;
        std::vector<std::string> expected;
        for (const auto& f : files) expected.push_back(f.substr(src.size()));
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        EXPECT_EQ(TreeFiles(out), expected);
        for (const auto& name : expected) EXPECT_TRUE(ReadFile(out + name) == ReadFile(src + name)) << name;
    }

    // A folder holding a copy of the library and, beside it, a stand-in 7zz
    // running `script`; returns the library's path.
    std::string LibraryWithSevenZip(const std::string& script) {
        const std::string program = dir.folder() + "program" + std::to_string(++programs) + "/";
        MakeDir(program);
        std::filesystem::copy_file(BinDir() + "/lib7-zip32.so", program + "lib7-zip32.so");
        WriteFile(program + "7zz", "#!/bin/sh\n" + script);
        ::chmod((program + "7zz").c_str(), 0755);
        ::chmod(program.c_str(), 0755);
        return program + "lib7-zip32.so";
    }

    // The relative names of the files added so far.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& f : files) names.push_back(f.substr(src.size()));
        return names;
    }

    TempDir dir;
    std::string src;
    std::vector<std::string> files;
    int programs = 0;
    std::vector<std::pair<std::string, std::string>> boxes;
    TFileArchive archive{[this](const std::string& caption, const std::string& text) {
        boxes.emplace_back(caption, text);
    }};
    int extractions = 0;
};

}  // namespace

TEST_F(SevenZipArchives, EveryNameAndSizeRoundTripsInZipAnd7z) {
    Add("empty", "");
    Add("one", "1");
    Add("日本語/メモ.txt", "メモの中身\r\n");
    for (const auto& name : kAwkwardNames) {
        Add(name, "content of " + name);
        Add("sub folder/" + name, name);
    }
    // A name listed twice (a filter naming one extension twice) is added once.
    files.push_back(src + "one");
    for (const auto& [mode, ext] : std::map<int, std::string>{{1, ".zip"}, {4, ".7z"}}) {
        const std::string path = dir.folder() + "archive" + ext;
        archive.CompressSevenZip(src, files, path, mode);
        EXPECT_TRUE(boxes.empty()) << boxes.front().second;
        ExpectRoundTrip(path);
    }
}

TEST_F(SevenZipArchives, PasswordsWithBlanksQuotesAndJapanese) {
    Add("secret.txt", "top secret");
    Add("sub/日本語.bin", std::string("\0\1\2\3", 4));
    const std::vector<std::pair<int, std::string>> cases = {
        {2, "pass word"}, {2, "q\"uote \\ back\\"}, {5, "pass word"}, {5, " \"日本語\" パス \\"}};
    int n = 0;
    for (const auto& [mode, password] : cases) {
        const std::string path = dir.folder() + "locked" + std::to_string(++n) + (mode == 2 ? ".zip" : ".7z");
        archive.SetPassword(password);
        archive.CompressSevenZip(src, files, path, mode);
        EXPECT_TRUE(boxes.empty()) << boxes.front().second;
        ExpectRoundTrip(path, password);
        EXPECT_NE(RunProgram({"7zz", "t", "-pwrong", path}), 0) << password;
        std::string listing;
        if (mode == 2) {
            // 7-Zip's default ZIP encryption, which desktops open.
            RunProgram({"7zz", "l", "-slt", "-p" + password, path}, &listing);
            EXPECT_NE(listing.find("Method = ZipCrypto"), std::string::npos) << listing;
        } else {
            // The names are hidden too: nothing is listed without the password.
            EXPECT_NE(RunProgram({"7zz", "l", "-p", path}, &listing), 0);
            EXPECT_EQ(listing.find("secret.txt"), std::string::npos);
        }
    }
    // 7-Zip takes only ASCII passwords for ZIP, and 7zz reads a password as
    // one line: the job says so instead of making an archive with some other
    // password or none.
    const std::string refused = dir.folder() + "refused.zip";
    for (const std::string& password : std::vector<std::string>{"日本語", "", "two\nlines", std::string(1001, 'p')}) {
        archive.SetPassword(password);
        archive.CompressSevenZip(src, files, refused, 2);
        ASSERT_EQ(boxes.size(), 1u) << password;
        EXPECT_EQ(boxes[0].first, "lib7-zip32.so");
        EXPECT_EQ(boxes[0].second.rfind("ERROR", 0), 0u) << boxes[0].second;
        EXPECT_FALSE(std::filesystem::exists(refused));
        boxes.clear();
    }
}

TEST_F(SevenZipArchives, HundredMegabyteFile) {
    // A pseudo-random block repeated, each 4 KiB stamped with its offset:
    // quick to compress, yet any misplaced or lost piece shows.
    std::string block(4096, '\0');
    uint32_t state = 12345;
    for (auto& c : block) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    std::string big;
    big.reserve(100u << 20);
    while (big.size() < (100u << 20)) {
        const std::string stamp = std::to_string(big.size()) + ":";
        big += stamp;
        big.append(block, 0, block.size() - stamp.size());
    }
    big.resize(100u << 20);
    Add("big.bin", big);
    big = {};
    const std::string path = dir.folder() + "big.zip";
    archive.CompressSevenZip(src, files, path, 1);
    EXPECT_TRUE(boxes.empty()) << boxes.front().second;
    ExpectRoundTrip(path);
}

TEST_F(SevenZipArchives, ListLongerThanTheArgumentLimitTakesSeveralCalls) {
    // The kernel's argument limit is a quarter of the stack limit, never
    // below 128 KiB: with the stack limit lowered, a few hundred long names
    // need several 7zz calls adding to one archive.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_STACK, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 512 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_STACK, &lowered), 0);
    const size_t limit = static_cast<size_t>(::sysconf(_SC_ARG_MAX));
    std::string deep;
    for (char c = 'a'; c < 'a' + 11; ++c) deep += std::string(250, c) + "/";
    size_t total = 0;
    for (size_t i = 0; total < 3 * limit; ++i) {
        Add(deep + std::string(200, 'n') + std::to_string(i), std::to_string(i));
        total += files.back().size();
    }
    // A file gone before the call is left out at once; one that vanishes
    // after that check, in 7zz's first call, is left out by 7zz, and the
    // later calls still add theirs.
    std::vector<std::string> names = Names();
    names.insert(names.begin(), {"gone", "vanish"});
    const std::string library = LibraryWithSevenZip("rm -f '" + src + "vanish'\nexec " + RealSevenZip() + " \"$@\"\n");
    for (const auto& [type, password] : std::map<std::string, std::string>{{"zip", ""}, {"7z", "long list"}}) {
        const std::string path = dir.folder() + "long." + type;
        WriteFile(src + "vanish", "v");
        const Call call = CallLibrary(library, Line(type, path, src, names, password));
        EXPECT_EQ(call.status, 1) << call.report;
        EXPECT_EQ(call.report, std::to_string(files.size()) + " of " + std::to_string(files.size() + 2) +
                                   " files added to the archive\n2 files left out\n");
        EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{{"gone", "No such file or directory"},
                                                                    {"vanish", "No such file or directory"}}));
        ExpectRoundTrip(path, password);
    }
    ::setrlimit(RLIMIT_STACK, &saved);
}

TEST_F(SevenZipArchives, FailuresAreReportedAsErrorWithTheReason) {
    // A missing file: the archive holds the rest and the file is listed.
    Add("here.txt", "here");
    Call call = CallLibrary(Library(), Line("zip", dir.folder() + "partial.zip", src, {"here.txt", "gone.txt"}));
    EXPECT_EQ(call.status, 1);
    EXPECT_EQ(call.report, "1 of 2 files added to the archive\n1 files left out\n");
    EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{{"gone.txt", "No such file or directory"}}));
    ExpectRoundTrip(dir.folder() + "partial.zip");

    // Nothing that can be added: no archive, and every name is listed.
    std::vector<std::string> missing;
    for (int i = 0; i < 3000; ++i) missing.push_back("missing" + std::to_string(i));
    call = CallLibrary(Library(), Line("7z", dir.folder() + "none.7z", src, missing));
    EXPECT_EQ(call.status, 2);
    EXPECT_EQ(call.report.rfind("ERROR: ", 0), 0u) << call.report;
    EXPECT_EQ(call.leftOutCount, 3000u);
    EXPECT_FALSE(std::filesystem::exists(dir.folder() + "none.7z"));
    files.clear();

    // A base folder that is not there.
    archive.CompressSevenZip(src + "nowhere/", {src + "nowhere/a"}, dir.folder() + "x.zip", 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].second.rfind("ERROR", 0), 0u);

    // No 7zz beside the library and none on the search path.
    const std::string program = dir.folder() + "program/";
    MakeDir(program);
    std::filesystem::copy_file(BinDir() + "/lib7-zip32.so", program + "lib7-zip32.so");
    TFileArchive lonely([this](const std::string& c, const std::string& t) { boxes.emplace_back(c, t); });
    lonely.SetLibraryFolders(program, {});
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (dir.folder() + "empty").c_str(), 1);
    lonely.CompressSevenZip(src, {src + "here.txt"}, dir.folder() + "y.zip", 1);
    ::setenv("PATH", path.c_str(), 1);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].second.rfind("ERROR", 0), 0u);
    EXPECT_NE(boxes[1].second.find("7zz"), std::string::npos);
}

TEST_F(SevenZipArchives, PasswordGoesOnStandardInputAndEveryNameOnceAfterDoubleDash) {
    // A recording 7zz beside a copy of the library shows what 7zz is given;
    // it makes the archive it is asked for (the path after "--").
    const std::string program = dir.folder() + "program/";
    MakeDir(program);
    std::filesystem::copy_file(BinDir() + "/lib7-zip32.so", program + "lib7-zip32.so");
    WriteFile(program + "7zz",
              "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > \"" + dir.folder() + "args\"\ncat > \"" + dir.folder() +
                  "stdin\"\nnext=\nfor a; do [ -n \"$next\" ] && { : > \"$a\"; break; }; [ \"$a\" = -- ] && next=1; done\n"
                  "echo Everything is Ok\n");
    ::chmod((program + "7zz").c_str(), 0755);
    for (const auto& name : {"-x", "@a", "*", "sub/b"}) Add(name, name);
    TFileArchive recorded([this](const std::string& c, const std::string& t) { boxes.emplace_back(c, t); });
    recorded.SetLibraryFolders(program, {});
    recorded.SetPassword("secret words");
    recorded.CompressSevenZip(src, {src + "-x", src + "@a", src + "*", src + "sub/b", src + "-x"},
                              dir.folder() + "r.7z", 5);
    EXPECT_TRUE(boxes.empty());
    // 7zz writes the archive in a hidden folder beside its final place.
    const std::string args = ReadFile(dir.folder() + "args");
    const std::regex expected(std::regex_replace(dir.path(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                              "/src\na\n-t7z\n-spd\n-snl\n-bd\n-sccUTF-8\n-mhe=on\n-p\n--\n" +
                              std::regex_replace(dir.folder(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                              R"(\.tessarine-[A-Za-z0-9]{6}/r\.7z)" + "\n-x\n@a\n\\*\nsub/b\n");
    EXPECT_TRUE(std::regex_match(args, expected)) << args;
    EXPECT_EQ(ReadFile(dir.folder() + "stdin"), "secret words\nsecret words\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.folder() + "r.7z"));
    // Nothing of the library stays loaded after the run.
    void* handle = ::dlopen((program + "lib7-zip32.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(handle, nullptr);
    if (handle) ::dlclose(handle);
}
