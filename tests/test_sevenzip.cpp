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
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "archive/Archive.h"
#include "archive/command_line.h"
#include "archive/left_out.h"
#include "engine/Common.h"
#include "engine/child_process.h"
#include "archiver_hazards.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::FolderNames;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::vector<std::string> kAwkwardNames = {
    "with blanks  in it ",
    "double\"quote",
    "back\\slash",
    "-leading-dash",
    "@leading-at",
    "star*and?question",
    "line\nbreak",
    "日本語のファイル名",
    "accentué é ñ ü",
    "emoji 😀🎉",
    std::string("invalid \xff\xfe utf8"),
    std::string("half \xe3\x81 char"),
    "表ソ十",
    " leading blank",
    "$dollar`back`tick'quote",
};

std::string BinDir() {
    const char* dir = std::getenv("TESSARINE_BIN_DIR");
    return dir && *dir ? dir : TESSARINE_BIN_DIR_DEFAULT;
}

// Runs a program (no shell; a bare name is looked up on PATH) with an empty
// standard input and its output discarded or captured; returns its exit
// status.
int RunProgram(const std::vector<std::string>& args, std::string* output = nullptr) {
    tessarine::ChildCommand command;
    command.program = args[0].find('/') == std::string::npos ? tessarine::FindProgramOnPath(args[0]) : args[0];
    command.argv = args;
    command.errToOut = true;
    command.outLimit = SIZE_MAX;
    const tessarine::ChildResult run = tessarine::RunChild(command);
    if (output) *output = run.out;
    return run.code();
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
        for (const auto& e : entries) call.leftOut[e.name] = RenderMessage(e.reason);
    } else {
        call.leftOut["<no LeftOutEntries>"] = "";
    }
    ::dlclose(handle);
    return call;
}

std::string Library() { return BinDir() + "/lib7-zip32.so"; }

// Copies the library, with the read guard it loads into 7zz, into `folder`;
// returns the copy's path.
std::string CopyLibraryInto(const std::string& folder) {
    std::filesystem::copy_file(Library(), folder + "lib7-zip32.so");
    std::filesystem::copy_file(BinDir() + "/lib7zz-guard.so", folder + "lib7zz-guard.so");
    return folder + "lib7-zip32.so";
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
        ASSERT_EQ(RunProgram({"7zz", "x", "-y", "-snl", "-o" + out, password.empty() ? "-p" : "-p" + password, "--",
                              archivePath},
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
        CopyLibraryInto(program);
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
    TFileArchive archive{
        [this](const std::string& caption, const std::string& text) { boxes.emplace_back(caption, text); }};
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
    for (const auto& [mode, ext] :
         std::map<JobMode, std::string>{{JobMode::kZip, ".zip"}, {JobMode::kSevenZip, ".7z"}}) {
        const std::string path = dir.folder() + "archive" + ext;
        archive.CompressSevenZip(src, files, path, mode);
        EXPECT_TRUE(boxes.empty()) << boxes.front().second;
        ExpectRoundTrip(path);
    }
}

TEST_F(SevenZipArchives, PasswordsWithBlanksQuotesAndJapanese) {
    Add("secret.txt", "top secret");
    Add("sub/日本語.bin", std::string("\0\1\2\3", 4));
    const std::vector<std::pair<JobMode, std::string>> cases = {{JobMode::kZipPassword, "pass word"},
                                                                {JobMode::kZipPassword, "q\"uote \\ back\\"},
                                                                {JobMode::kSevenZipPassword, "pass word"},
                                                                {JobMode::kSevenZipPassword, " \"日本語\" パス \\"}};
    int n = 0;
    for (const auto& [mode, password] : cases) {
        const std::string path =
            dir.folder() + "locked" + std::to_string(++n) + (mode == JobMode::kZipPassword ? ".zip" : ".7z");
        archive.SetPassword(password);
        archive.CompressSevenZip(src, files, path, mode);
        EXPECT_TRUE(boxes.empty()) << boxes.front().second;
        ExpectRoundTrip(path, password);
        EXPECT_NE(RunProgram({"7zz", "t", "-pwrong", path}), 0) << password;
        std::string listing;
        if (mode == JobMode::kZipPassword) {
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
    for (const std::string& password : std::vector<std::string>{"日本語", "", "two\nlines", std::string(1025, 'p')}) {
        archive.SetPassword(password);
        archive.CompressSevenZip(src, files, refused, JobMode::kZipPassword);
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
    archive.CompressSevenZip(src, files, path, JobMode::kZip);
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
    archive.CompressSevenZip(src + "nowhere/", {src + "nowhere/a"}, dir.folder() + "x.zip", JobMode::kZip);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].second.rfind("ERROR", 0), 0u);

    // No 7zz beside the library and none on the search path.
    const std::string program = dir.folder() + "program/";
    MakeDir(program);
    CopyLibraryInto(program);
    TFileArchive lonely([this](const std::string& c, const std::string& t) { boxes.emplace_back(c, t); });
    lonely.SetLibraryFolders(program, {});
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (dir.folder() + "empty").c_str(), 1);
    lonely.CompressSevenZip(src, {src + "here.txt"}, dir.folder() + "y.zip", JobMode::kZip);
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
    CopyLibraryInto(program);
    WriteFile(
        program + "7zz",
        "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > \"" + dir.folder() + "args\"\ncat > \"" + dir.folder() +
            "stdin\"\nnext=\nfor a; do [ -n \"$next\" ] && { : > \"$a\"; break; }; [ \"$a\" = -- ] && next=1; done\n"
            "echo Everything is Ok\n");
    ::chmod((program + "7zz").c_str(), 0755);
    for (const auto& name : {"-x", "@a", "*", "sub/b"}) Add(name, name);
    TFileArchive recorded([this](const std::string& c, const std::string& t) { boxes.emplace_back(c, t); });
    recorded.SetLibraryFolders(program, {});
    recorded.SetPassword("secret words");
    recorded.CompressSevenZip(src, {src + "-x", src + "@a", src + "*", src + "sub/b", src + "-x"},
                              dir.folder() + "r.7z", JobMode::kSevenZipPassword);
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

// Hazard: entries that block or never end when read.
TEST_F(SevenZipArchives, NamedPipesDevicesAndSocketsAreNeverOpenedAndAreListedAsLeftOut) {
    Add("good.txt", "fine");
    testsupport::MakeSpecialFiles(src);
    for (const std::string type : {"zip", "7z"}) {
        testsupport::OpenWatch watch;
        watch.Watch(src + "pipe");
        watch.Watch(src + "zero");
        const std::string path = dir.folder() + "special." + type;
        const Call call = CallLibrary(Library(), Line(type, path, src, {"pipe", "good.txt", "zero", "sock"}));
        EXPECT_FALSE(watch.AnyOpened()) << type;
        EXPECT_EQ(call.status, 1) << call.report;
        EXPECT_EQ(call.report, "1 of 4 files added to the archive\n3 files left out\n");
        EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{
                                    {"pipe", "名前付きパイプ"}, {"zero", "デバイス"}, {"sock", "ソケット"}}));
        ExpectRoundTrip(path);
    }
}

// Hazard: whatever sits at the archive's name is replaced whole, never
// added to or written through.
TEST_F(SevenZipArchives, ArchiveAlreadyAtTheNameIsReplacedNotMerged) {
    Add("new.txt", "new");
    WriteFile(dir.folder() + "old.txt", "old");
    for (const std::string type : {"zip", "7z"}) {
        const std::string path = dir.folder() + "same-second." + type;
        ASSERT_EQ(RunProgram({"7zz", "a", "-t" + type, path, dir.folder() + "old.txt"}), 0);
        const Call call = CallLibrary(Library(), Line(type, path, src, {"new.txt"}));
        EXPECT_EQ(call.status, 0) << call.report;
        ExpectRoundTrip(path);  // new.txt alone
    }
}

TEST_F(SevenZipArchives, LinkPlantedAtTheNameIsReplacedAndItsTargetUntouched) {
    Add("a.txt", "a");
    WriteFile(dir.folder() + "victim", "keep me");
    for (const std::string type : {"zip", "7z"}) {
        const std::string path = dir.folder() + "planted." + type;
        const std::string dangling = dir.folder() + "made-elsewhere." + type;
        for (const std::string& target : {dir.folder() + "victim", dangling}) {
            std::filesystem::remove(path);
            ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
            const Call call = CallLibrary(Library(), Line(type, path, src, {"a.txt"}));
            EXPECT_EQ(call.status, 0) << call.report;
            EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path))) << target;
            ExpectRoundTrip(path);
        }
        EXPECT_EQ(ReadFile(dir.folder() + "victim"), "keep me");
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dangling)));
    }
}

TEST_F(SevenZipArchives, FailingCallLeavesNothingBehind) {
    Add("a.txt", "a");
    const std::string out = dir.folder() + "out/";
    MakeDir(out);
    WriteFile(out + "unrelated", "x");
    // 7zz writes part of the archive and fails, or runs out of memory
    // (which fails the job as a whole); 7zz ends without making one; a bad
    // switch; no 7zz at all.
    const auto half = [](int code) {
        return "next=\nfor a; do [ -n \"$next\" ] && { echo partial > \"$a\"; break; }; "
               "[ \"$a\" = -- ] && next=1; done\nexit " +
               std::to_string(code) + "\n";
    };
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {LibraryWithSevenZip(half(2)), Line("zip", out + "a.zip", src, {"a.txt"}), 2},
        {LibraryWithSevenZip(half(8)), Line("7z", out + "a.7z", src, {"a.txt"}), 3},
        {LibraryWithSevenZip("exit 0\n"), Line("7z", out + "a.7z", src, {"a.txt"}), 2},
        {Library(), "a -tzip -zz \"" + out + "a.zip\" \"" + src + "\" \"a.txt\" ", 2},
        {LibraryWithSevenZip("exec /nonexistent/7zz \"$@\"\n"), Line("zip", out + "a.zip", src, {"a.txt"}), 2},
    };
    for (const auto& [library, line, status] : cases) {
        const Call call = CallLibrary(library, line);
        EXPECT_EQ(call.status, status) << line << call.report;
        EXPECT_EQ(call.report.rfind("ERROR: ", 0), 0u) << call.report;
        EXPECT_EQ(FolderNames(out), std::vector<std::string>{"unrelated"}) << line;
    }
}

// Hazard: a 7zz that outlives the program, or leaves a core file (which
// holds the password) in the source folder.
TEST_F(SevenZipArchives, SevenZipRunsWithoutCoreFilesOrHugePagesAndItsDeathFailsTheCall) {
    Add("a.txt", "a");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &saved), 0);
    rlimit allowed = saved;
    allowed.rlim_cur = saved.rlim_max;  // the caller would allow core files
    ASSERT_EQ(::setrlimit(RLIMIT_CORE, &allowed), 0);
    // The stand-in leaves a process behind that holds its output open: the
    // call still ends when 7zz itself is gone.
    const std::string library = LibraryWithSevenZip(
        "sleep 600 &\necho $! > \"" + dir.folder() + "sleeper\"\n" + "ulimit -c > \"" + dir.folder() +
        "core-limit\"\n" + "grep THP_enabled /proc/self/status > \"" + dir.folder() + "thp\"\nkill -SEGV $$\n");
    const Call call = CallLibrary(library, Line("7z", dir.folder() + "a.7z", src, {"a.txt"}, "pass"));
    ::setrlimit(RLIMIT_CORE, &saved);
    ::kill(std::atoi(ReadFile(dir.folder() + "sleeper").c_str()), SIGKILL);
    EXPECT_EQ(call.status, 2);
    EXPECT_EQ(call.report.rfind("ERROR: ", 0), 0u) << call.report;
    EXPECT_NE(call.report.find("SEGV"), std::string::npos) << call.report;
    EXPECT_EQ(ReadFile(dir.folder() + "core-limit"), "0\n");
    // Nor huge pages, whose zeroing made 7z jobs take twice as long (a
    // kernel that does not show the setting shows nothing).
    EXPECT_EQ(ReadFile(dir.folder() + "thp").find("THP_enabled:\t1"), std::string::npos);
    EXPECT_EQ(FolderNames(src), std::vector<std::string>{"a.txt"});
}

TEST_F(SevenZipArchives, SevenZipDiesWithTheProcessThatStartedIt) {
    Add("a.txt", "a");
    const std::string pidFile = dir.folder() + "7zz-pid";
    const std::string library = LibraryWithSevenZip("echo $$ > \"" + pidFile + ".new\"\nmv \"" + pidFile + ".new\" \"" +
                                                    pidFile + "\"\nexec sleep 600\n");
    const pid_t helper = ::fork();
    if (helper == 0) {
        CallLibrary(library, Line("zip", dir.folder() + "a.zip", src, {"a.txt"}));
        ::_exit(0);
    }
    // Waits for the stand-in 7zz to start (bounded, in case it never does).
    for (int i = 0; i < 600 && ReadFile(pidFile) == "<missing>"; ++i) ::usleep(50 * 1000);
    const pid_t sevenZip = std::atoi(ReadFile(pidFile).c_str());
    ASSERT_GT(sevenZip, 0);
    ::kill(helper, SIGKILL);
    ::waitpid(helper, nullptr, 0);
    // Gone, or a zombie waiting for init to collect it.
    auto running = [&] {
        std::ifstream stat("/proc/" + std::to_string(sevenZip) + "/stat");
        std::string pid, name, state;
        return stat >> pid >> name >> state && state != "Z";
    };
    for (int i = 0; i < 600 && running(); ++i) ::usleep(50 * 1000);
    EXPECT_FALSE(running());
    if (running()) ::kill(sevenZip, SIGKILL);
}

// Hazard: a report that says "error" when nothing went wrong.
TEST_F(SevenZipArchives, NamesHoldingTheWordErrorGiveNoFalseAlarm) {
    src = dir.folder() + "error-notes/";
    MakeDir(src);
    Add("terror.txt", "t");
    Add("ERROR.log", "e");
    Add("ErrorLogs/today.txt", "d");
    const std::string out = dir.folder() + "ErrorLogs/";
    MakeDir(out);
    for (const auto& [mode, type] :
         std::map<JobMode, std::string>{{JobMode::kZip, "zip"}, {JobMode::kSevenZip, "7z"}}) {
        const Call call = CallLibrary(Library(), Line(type, out + "error-notes." + type, src, Names()));
        EXPECT_EQ(call.status, 0);
        EXPECT_EQ(call.report, "3 of 3 files added to the archive\n");
        archive.CompressSevenZip(src, files, out + "terror-backup." + type, mode);
        EXPECT_TRUE(boxes.empty()) << boxes.front().second;
        ExpectRoundTrip(out + "terror-backup." + type);
    }
}

// Hazard: entries lost from the outcome when there are many.
TEST_F(SevenZipArchives, ThousandsOfUnreadableFilesAreAllListedAndCounted) {
    ::chmod(src.c_str(), 0777);
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("readable-" + std::to_string(i));
        Add(names.back(), "r");
    }
    for (int i = 0; i < 4760; ++i) {
        names.push_back("secret-" + std::to_string(i));
        WriteFile(src + names.back(), "s");
        ::chmod((src + names.back()).c_str(), 0000);
    }
    const std::string path = src + "o.zip";
    const std::string result = src + "result";
    const int rc = testsupport::RunUnprivileged([&] {
        const Call call = CallLibrary(Library(), Line("zip", path, src, names));
        WriteFile(result, std::to_string(call.status) + "\n" + call.report + std::to_string(call.leftOutCount) + "\n" +
                              (call.leftOut.count("secret-4759") ? call.leftOut.at("secret-4759") : "-"));
        return 0;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ReadFile(result),
              "1\n10 of 4770 files added to the archive\n4760 files left out\n4760\nPermission denied");
    ExpectRoundTrip(path);
}

TEST_F(SevenZipArchives, FilesGoneOrUnreadableWhen7zzComesToThemAreListed) {
    // A stand-in removes one file and closes another after the library
    // looked at them and before the real 7zz runs (as the unprivileged
    // user, for whom a closed file is unreadable).
    ::chmod(src.c_str(), 0777);
    Add("stays.txt", "s");
    const std::string library =
        LibraryWithSevenZip("rm -f vanish\nchmod 000 turned\nexec " + RealSevenZip() + " \"$@\"\n");
    const std::string path = src + "o.7z";
    const std::string result = src + "result";
    const int rc = testsupport::RunUnprivileged([&] {
        WriteFile(src + "vanish", "v");
        WriteFile(src + "turned", "t");
        const Call call = CallLibrary(library, Line("7z", path, src, {"vanish", "stays.txt", "turned"}));
        std::string text = std::to_string(call.status) + "\n" + call.report;
        for (const auto& [name, reason] : call.leftOut) text += name + ": " + reason + "\n";
        WriteFile(result, text);
        return 0;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ReadFile(result),
              "1\n1 of 3 files added to the archive\n2 files left out\n"
              "turned: Permission denied\nvanish: No such file or directory\n");
    ExpectRoundTrip(path);
}

// The names that pass the checks keep their order among those left out, and
// an entry 7zz then misses is named as listed (here with the "/" a base
// folder without its closing separator leaves in front).
TEST_F(SevenZipArchives, EntryMissedAfterOneLeftOutIsNamedAsListed) {
    Add("stays.txt", "s");
    WriteFile(src + "vanish", "v");
    ASSERT_EQ(::mkfifo((src + "fifo").c_str(), 0644), 0);
    const std::string library = LibraryWithSevenZip("rm -f vanish\nexec " + RealSevenZip() + " \"$@\"\n");
    const std::string base = src.substr(0, src.size() - 1);
    const Call call =
        CallLibrary(library, Line("zip", dir.folder() + "o.zip", base, {"/fifo", "/vanish", "/stays.txt"}));
    EXPECT_EQ(call.status, 1);
    EXPECT_EQ(call.report, "1 of 3 files added to the archive\n2 files left out\n");
    EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{{"/fifo", "名前付きパイプ"},
                                                                {"/vanish", "No such file or directory"}}));
    ExpectRoundTrip(dir.folder() + "o.zip");
}

// Hazard: paths that mean something else in the folder where 7zz runs.
TEST_F(SevenZipArchives, RelativeArchivePathAndBaseFolderMeanTheCurrentFolder) {
    Add("a.txt", "a");
    MakeDir(dir.folder() + "out");
    const std::string saved = std::filesystem::current_path();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const Call call = CallLibrary(Library(), Line("zip", "out/rel.zip", "src/", {"a.txt"}));
    ASSERT_EQ(::chdir(saved.c_str()), 0);
    EXPECT_EQ(call.status, 0) << call.report;
    EXPECT_FALSE(std::filesystem::exists(src + "out"));
    ExpectRoundTrip(dir.folder() + "out/rel.zip");
}

TEST_F(SevenZipArchives, SevenZipIsNotTakenFromRelativeEntriesOfTheSearchPath) {
    Add("a.txt", "a");
    // A program named 7zz in the current folder, in the base folder and in
    // a relative "bin" below either.
    const std::string impostor = "#!/bin/sh\ntouch \"" + dir.folder() + "impostor-ran\"\nexit 0\n";
    for (const std::string& folder : {dir.folder(), dir.folder() + "bin/", src, src + "bin/"}) {
        MakeDir(folder);
        WriteFile(folder + "7zz", impostor);
        ::chmod((folder + "7zz").c_str(), 0755);
    }
    const std::string program = dir.folder() + "program/";
    MakeDir(program);
    CopyLibraryInto(program);
    const std::string savedPath = std::getenv("PATH");
    const std::string savedFolder = std::filesystem::current_path();
    const std::string real = RealSevenZip();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    ::setenv("PATH", (":bin:.:" + real.substr(0, real.rfind('/'))).c_str(), 1);
    const Call call = CallLibrary(program + "lib7-zip32.so", Line("zip", dir.folder() + "a.zip", src, {"a.txt"}));
    ::setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(::chdir(savedFolder.c_str()), 0);
    EXPECT_EQ(call.status, 0) << call.report;
    EXPECT_FALSE(std::filesystem::exists(dir.folder() + "impostor-ran"));
    files = {src + "a.txt"};
    ExpectRoundTrip(dir.folder() + "a.zip");
}

// Hazard: entries deeper than the kernel takes in one path. A deep base
// folder is archived; files whose names are longer than PATH_MAX (which 7zz
// cannot open by name) are kept under their own names, with and without a
// password, and a link down there, which cannot be kept as a link, is listed
// as left out with its reason.
TEST_F(SevenZipArchives, DeepBaseFolderAndNamesLongerThanPathMaxAreKept) {
    const std::string deepBase = dir.folder() + testsupport::MakeDeepFolders(dir.path(), 22);
    ASSERT_GT(deepBase.size(), size_t{PATH_MAX});
    testsupport::WriteLong(deepBase + "in-deep-base.txt", "deep base");
    Call call = CallLibrary(Library(), Line("7z", dir.folder() + "deep.7z", deepBase, {"in-deep-base.txt"}));
    EXPECT_EQ(call.status, 0) << call.report;
    std::string content;
    RunProgram({"7zz", "e", "-so", dir.folder() + "deep.7z"}, &content);
    EXPECT_NE(content.find("deep base"), std::string::npos) << content;

    Add("short.txt", "s");
    const std::string deepFolder = testsupport::MakeDeepFolders(src, 22);
    const std::vector<std::string> longNames = {deepFolder + "long-name.txt", deepFolder + "second.txt",
                                                deepFolder.substr(0, deepFolder.size() - 201) + "one-up.txt"};
    for (const auto& name : longNames) testsupport::WriteLong(src + name, name.substr(name.rfind('/') + 1));
    const std::string longLink = deepFolder + "link";
    {
        const UniqueFd folder(OpenLongPath(AT_FDCWD, src + deepFolder, O_PATH | O_DIRECTORY));
        ASSERT_EQ(::symlinkat("long-name.txt", folder.Get(), "link"), 0);
    }
    std::vector<std::string> names = {"short.txt", longLink};
    names.insert(names.end(), longNames.begin(), longNames.end());
    for (const std::string type : {"zip", "7z"}) {
        for (const std::string password : {"", "pw"}) {
            const std::string path = dir.folder() + "long" + password + "." + type;
            call = CallLibrary(Library(), Line(type, path, src, names, password));
            EXPECT_EQ(call.status, 1) << type << " " << call.report;
            EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{
                                        {longLink, "PATH_MAX より深いリンクは 7-Zip ではリンクとして保存できません"}}))
                << type;
            std::string listing;
            ASSERT_EQ(RunProgram({"7zz", "l", "-slt", "-p" + password, path}, &listing), 0) << type;
            std::vector<std::string> stored;
            std::istringstream lines(listing.substr(listing.find("----------")));
            for (std::string line; std::getline(lines, line);)
                if (line.rfind("Path = ", 0) == 0) stored.push_back(line.substr(7));
            std::vector<std::string> expected = {"short.txt"};
            expected.insert(expected.end(), longNames.begin(), longNames.end());
            EXPECT_TRUE(testsupport::Sorted(stored) == testsupport::Sorted(expected))
                << type << " " << password << ": " << stored.size() << " names";
            EXPECT_EQ(RunProgram({"7zz", "t", "-p" + password, path}), 0) << type << " " << password;
            if (password.empty()) {
                // bsdtar writes paths of any depth; 7zz and unzip stop at PATH_MAX.
                const std::string out = dir.folder() + "x-" + type + "/";
                MakeDir(out);
                ASSERT_EQ(RunProgram({"bsdtar", "-x", "-C", out, "-f", path}), 0) << type;
                for (const auto& name : longNames) {
                    const UniqueFd file(OpenLongPath(AT_FDCWD, out + name, O_RDONLY));
                    char text[32] = {};
                    ASSERT_TRUE(file.Valid()) << type;
                    ASSERT_GT(::read(file.Get(), text, sizeof text), 0);
                    EXPECT_EQ(std::string(text), name.substr(name.rfind('/') + 1)) << type;
                }
            }
        }
    }
    RunProgram({"rm", "-rf", dir.path()});  // deeper than the test folder's own clean-up reaches
}

// Hazard: whole folders handed to 7zz by their names, taking in entries the
// job left out. A job with hidden folders but not hidden files: thousands of
// files in one folder beside a hidden file left out, folders that hold only
// listed entries, a filter's leftovers, an empty folder, a hidden file in a
// hidden folder, a named pipe, a folder with many hidden files:
// the archive holds exactly the listed files, and as folders only those above
// a listed file.
TEST_F(SevenZipArchives, WholeFoldersGoInByNameAndNothingUnlistedComesWithThem) {
    for (int i = 0; i < 3000; ++i) Add("many/IMG_" + std::to_string(20240000 + i) + ".JPG", std::to_string(i));
    WriteFile(src + "many/.hidden", "left out with the hidden files");
    for (const std::string& name :
         std::vector<std::string>{"a.txt", "inner/b.txt", "inner/deeper/c.txt", "-x", "\xff bad"})
        Add("whole/" + name, name);
    ASSERT_EQ(::symlink("a.txt", (src + "whole/link").c_str()), 0);
    files.push_back(src + "whole/link");
    Add("filtered/kept.txt", "kept");
    WriteFile(src + "filtered/passed-over.jpg", "not the filter's choice");
    Add("with-empty/kept.txt", "kept");
    MakeDir(src + "with-empty/void");
    Add("with-pipe/kept.txt", "kept");
    ASSERT_EQ(::mkfifo((src + "with-pipe/pipe").c_str(), 0644), 0);
    Add(".hidden-folder/listed", "listed");
    Add("plain/kept.txt", "kept");
    MakeDir(src + "plain/.git");
    WriteFile(src + "plain/.git/.keep", "hidden file in a hidden folder");
    // More entries left out of one folder than are kept out by switches.
    Add("crowded/k1", "1");
    Add("crowded/k2", "2");
    for (int i = 0; i < 40; ++i) WriteFile(src + "crowded/.h" + std::to_string(i), "h");
    std::vector<std::string> names = Names();
    names.push_back("with-pipe/pipe");  // listed, left out by the library

    const std::string library = LibraryWithSevenZip("printf '%s\\n' \"$@\" >> \"" + dir.folder() + "args\"\nexec " +
                                                    RealSevenZip() + " \"$@\"\n");
    for (const std::string type : {"zip", "7z"}) {
        std::filesystem::remove(dir.folder() + "args");
        const std::string path = dir.folder() + "whole." + type;
        const Call call = CallLibrary(library, Line(type, path, src, names));
        EXPECT_EQ(call.status, 1) << call.report;
        EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{{"with-pipe/pipe", "名前付きパイプ"}}));
        // One 7zz call, given the whole folders by name, the few entries
        // left out of them kept out by switches, the rest name by name.
        const std::string args = ReadFile(dir.folder() + "args");
        EXPECT_EQ(std::count(args.begin(), args.end(), '\n'), 8 + 5 + 9 + (type == "zip" ? 1 : 0)) << args;  // -mtp=1
        for (const std::string name : {"many", "whole", ".hidden-folder", "-x!many/.hidden", "-x!with-empty/void",
                                       "-x!plain/.git", "-x!with-pipe/pipe", "crowded/k1"}) {
            EXPECT_NE(args.find("\n" + name + "\n"), std::string::npos) << name;
        }

        std::string listing;
        ASSERT_EQ(RunProgram({"7zz", "l", "-slt", path}, &listing), 0) << listing;
        std::vector<std::string> listedFiles, listedFolders;
        std::string entry;
        std::istringstream lines(listing.substr(listing.find("----------")));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Path = ", 0) == 0) entry = line.substr(7);
            if (line.rfind("Attributes = ", 0) == 0) (line[13] == 'D' ? listedFolders : listedFiles).push_back(entry);
        }
        std::sort(listedFiles.begin(), listedFiles.end());
        std::sort(listedFolders.begin(), listedFolders.end());
        std::vector<std::string> expected;
        for (const auto& name : Names()) expected.push_back(name);
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(listedFiles.size(), expected.size());
        for (size_t k = 0; k < expected.size(); ++k) {
            if (expected[k].find('\xff') == std::string::npos) {
                EXPECT_EQ(listedFiles[k], expected[k]);
            }
        }
        // Folders only from those named whole, nothing empty or hidden.
        EXPECT_EQ(listedFolders,
                  (std::vector<std::string>{".hidden-folder", "filtered", "many", "plain", "whole", "whole/inner",
                                            "whole/inner/deeper", "with-empty", "with-pipe"}));
        ExpectRoundTrip(path);
        std::string link;
        RunProgram({"7zz", "l", "-slt", path, "whole/link"}, &link);
        EXPECT_NE(link.find(" lrwxrwxrwx"), std::string::npos) << link;
    }
}

// Hazard: a folder named whole changing between the look at it and 7zz's
// own: what 7zz would add then is not the list. A stand-in adds a file to
// one folder and removes one from another before the real 7zz runs.
TEST_F(SevenZipArchives, FolderChangedBefore7zzReadsItIsArchivedFromTheListedNames) {
    for (int i = 0; i < 20; ++i) Add("photos/p" + std::to_string(i), std::to_string(i));
    Add("mail/m", "m");
    WriteFile(src + "mail/doomed", "d");
    std::vector<std::string> names = Names();
    names.push_back("mail/doomed");
    const std::string library =
        LibraryWithSevenZip("[ -e '" + src + "mail/doomed' ] && { echo new > '" + src + "photos/new'; rm -f '" + src +
                            "mail/doomed'; }\nexec " + RealSevenZip() + " \"$@\"\n");
    const std::string path = dir.folder() + "changed.zip";
    const Call call = CallLibrary(library, Line("zip", path, src, names));
    EXPECT_EQ(call.status, 1) << call.report;
    EXPECT_EQ(call.leftOut, (std::map<std::string, std::string>{{"mail/doomed", "No such file or directory"}}));
    ExpectRoundTrip(path);  // without photos/new
}

// Hazard: a ZIP's own time is DOS time in 2-second steps; a file with an odd
// second came back a second later from Info-ZIP's unzip. The archive carries
// Unix times, so every file comes back with its own second (unzip sets whole
// seconds), with and without a password.
TEST_F(SevenZipArchives, UnzipRestoresEveryModificationSecond) {
    if (RunProgram({"unzip", "-v"}) != 0) GTEST_SKIP() << "unzip (Info-ZIP) is not installed";
    const std::vector<timespec> times = {
        {1714979289, 123456789}, {1714979290, 0}, {1714979291, 999999999}, {315532801, 0}, {2000000001, 500}};
    for (size_t i = 0; i < times.size(); ++i) {
        Add("sub/t" + std::to_string(i), "x");
        const timespec both[2] = {times[i], times[i]};
        ASSERT_EQ(::utimensat(AT_FDCWD, files.back().c_str(), both, 0), 0);
    }
    for (const std::string password : {"", "secret"}) {
        const std::string zip = dir.folder() + "t" + password + ".zip";
        const Call call = CallLibrary(Library(), Line("zip", zip, src, Names(), password));
        ASSERT_EQ(call.status, 0) << call.report;
        const std::string out = dir.folder() + "unzipped" + password + "/";
        std::string log;
        std::vector<std::string> unzip = {"unzip", "-q", "-d", out, zip};
        if (!password.empty()) unzip.insert(unzip.begin() + 1, {"-P", password});
        ASSERT_EQ(RunProgram(unzip, &log), 0) << log;
        for (size_t i = 0; i < times.size(); ++i) {
            struct stat st {};
            ASSERT_EQ(::stat((out + "sub/t" + std::to_string(i)).c_str(), &st), 0);
            EXPECT_EQ(st.st_mtim.tv_sec, times[i].tv_sec) << "t" << i << " password \"" << password << "\"";
        }
    }
}

// The owner of the tree swaps folders for links to a folder of secrets
// after the names were checked and just before 7zz reads them (a stand-in
// 7zz does the swap, then runs the real one). Nothing is read through a
// link, whether 7zz is given the files ("sub"), the folder whole ("all",
// every entry of which is listed) or a deep file through its folder's
// alias: the files beneath are left out and named.
TEST_F(SevenZipArchives, FolderSwappedForALinkBefore7zzReadsIsNotReadThrough) {
    const std::string outside = dir.folder() + "private/";
    MakeDir(outside);
    const std::string deep = testsupport::MakeDeepFolders(outside, 22);
    testsupport::WriteLong(outside + deep + "d.txt", "secret");
    for (const std::string name : {"b.txt", "e.txt"}) WriteFile(outside + name, "secret");
    MakeDir(outside + "deep");
    WriteFile(outside + "deep/c.txt", "secret");
    Add("a.txt", "a");
    Add("sub/b.txt", "b");
    Add("sub/deep/c.txt", "c");
    Add("all/e.txt", "e");
    ASSERT_EQ(testsupport::MakeDeepFolders(src + "sub", 22), deep);
    testsupport::WriteLong(src + "sub/" + deep + "d.txt", "d");
    std::vector<std::string> names = Names();
    names.push_back("sub/" + deep + "d.txt");
    const std::string library =
        LibraryWithSevenZip("for f in sub all; do if [ ! -L $f ]; then mv $f $f.moved && ln -s '" + outside +
                            "' $f; fi; done\nexec '" + RealSevenZip() + "' \"$@\"\n");
    for (const std::string type : {"zip", "7z"}) {
        for (const std::string folder : {"sub", "all"}) {
            if (!std::filesystem::is_symlink(src + folder)) continue;
            std::filesystem::remove(src + folder);
            std::filesystem::rename(src + folder + ".moved", src + folder);
        }
        const std::string path = dir.folder() + "swapped." + type;
        const Call call = CallLibrary(library, Line(type, path, src, names));
        EXPECT_EQ(call.status, 1) << type << " " << call.report;
        for (const std::string& gone : {std::string("sub/b.txt"), std::string("sub/deep/c.txt"),
                                        std::string("all/e.txt"), "sub/" + deep + "d.txt"})
            EXPECT_TRUE(call.leftOut.count(gone)) << type << " " << gone.substr(0, 40);
        std::string content;
        RunProgram({"7zz", "e", "-so", path}, &content);
        EXPECT_EQ(content, "a") << type;
    }
}
