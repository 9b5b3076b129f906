// libunlha32.so as the program uses it: loaded at run time, driven by the
// adapter's command line, its archives read back by two decoders nobody here
// wrote (lhasa and bsdtar) and compared byte for byte with the sources.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/command_line.h"
#include "archive/left_out.h"
#include "engine/Common.h"
#include "engine/child_process.h"
#include "engine/unique_fd.h"
#include "archiver_hazards.h"
#include "test_support.h"

using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

extern char** environ;

namespace {

// Whether two trees of entries (name: content) are the same; on failure the
// message names only the first entry that differs and where, so that a large
// tree never fills the report.
::testing::AssertionResult SameEntries(const std::map<std::string, std::string>& got,
                                       const std::map<std::string, std::string>& want) {
    auto g = got.begin();
    auto w = want.begin();
    for (; g != got.end() && w != want.end(); ++g, ++w) {
        if (g->first != w->first) {
            return ::testing::AssertionFailure()
                   << (g->first < w->first ? "unexpected entry " + g->first : "missing entry " + w->first);
        }
        if (g->second != w->second)
            return ::testing::AssertionFailure()
                   << g->first << ": " << testsupport::FirstDifference(g->second, w->second);
    }
    if (g != got.end()) return ::testing::AssertionFailure() << "unexpected entry " << g->first;
    if (w != want.end()) return ::testing::AssertionFailure() << "missing entry " << w->first;
    return ::testing::AssertionSuccess();
}

using UnlhaFn = int (*)(void*, const char*, char*, unsigned long);

void* Library() {
    static void* lib = [] {
        const char* bin = std::getenv("TESSARINE_BIN_DIR");
        const std::string path = std::string(bin ? bin : "bin") + "/libunlha32.so";
        void* handle = ::dlopen(path.c_str(), RTLD_NOW);
        if (!handle) throw std::runtime_error("cannot load " + path);
        return handle;
    }();
    return lib;
}

UnlhaFn Entry() { return reinterpret_cast<UnlhaFn>(::dlsym(Library(), "Unlha")); }

// The entries the last call on this thread left out, by name, with reasons.
std::map<std::string, std::string> LeftOut() {
    const auto fn = reinterpret_cast<tessarine::LeftOutEntriesFn>(::dlsym(Library(), tessarine::kLeftOutEntryName));
    if (!fn) return {{"<no LeftOutEntries>", ""}};
    unsigned long length = 0;
    const char* records = fn(&length);
    std::map<std::string, std::string> out;
    for (const auto& e : tessarine::DecodeLeftOut(std::string_view(records, length)))
        out[e.name] = tessarine::RenderMessage(e.reason);
    return out;
}

const char* kSwitches = "a -a1 -r2 -x1 -l1 -jp1 -o2 -ji0 ";

// The command line exactly as the adapter composes it.
std::string CommandLine(const std::string& archive, const std::string& base, const std::vector<std::string>& names) {
    std::string line = std::string(kSwitches) + "\"" + tessarine::EscapeQuoted(archive) + "\" \"" +
                       tessarine::EscapeQuoted(base) + "\" ";
    for (const auto& n : names) line += "\"" + tessarine::EscapeQuoted(n) + "\" ";
    return line;
}

struct Outcome {
    int status;
    std::string report;
};

Outcome CallUnlha(const std::string& line) {
    std::vector<char> buf(1024, '\x7f');
    const int status = Entry()(nullptr, line.c_str(), buf.data(), 1023);
    return {status, std::string(buf.data())};
}

// Runs a program (a bare name looked up on PATH) in `cwd` and returns its
// standard output; exit status in `rc`.
std::string Tool(const std::vector<std::string>& argv, const std::string& cwd, int* rc = nullptr) {
    const tessarine::UniqueFd folder(::open(cwd.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throw std::runtime_error("cannot open " + cwd);
    tessarine::ChildCommand command;
    command.program = argv[0].find('/') == std::string::npos ? tessarine::FindProgramOnPath(argv[0]) : argv[0];
    command.argv = argv;
    command.folder = folder.Get();
    command.env.emplace();
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0) command.env->emplace_back(*e);
    command.env->emplace_back("LC_ALL=C.UTF-8");
    command.outLimit = SIZE_MAX;
    command.errLimit = 0;
    tessarine::ChildResult run = tessarine::RunChild(command);
    if (rc) *rc = run.code();
    return std::move(run.out);
}

// Every file (content) and link ("-> target") beneath `dir`, by relative path.
void Walk(const std::string& dir, const std::string& prefix, std::map<std::string, std::string>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string full = dir + "/" + name;
        struct stat st {};
        ::lstat(full.c_str(), &st);
        if (S_ISDIR(st.st_mode))
            Walk(full, prefix + name + "/", out);
        else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(full.c_str(), target, sizeof target);
            out[prefix + name] = "-> " + std::string(target, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        } else
            out[prefix + name] = ReadFile(full);
    }
    ::closedir(d);
}

std::map<std::string, std::string> Tree(const std::string& dir) {
    std::map<std::string, std::string> out;
    Walk(dir, "", out);
    return out;
}

// Extracts with both tools into fresh folders below `work`.
std::map<std::string, std::string> ExtractLhasa(const std::string& archive, const std::string& dest) {
    MakeDir(dest);
    int rc = -1;
    Tool({"lhasa", "-xq", archive}, dest, &rc);
    EXPECT_EQ(rc, 0) << "lhasa failed on " << archive;
    return Tree(dest);
}

std::map<std::string, std::string> ExtractBsdtar(const std::string& archive, const std::string& dest) {
    MakeDir(dest);
    int rc = -1;
    Tool({"bsdtar", "-xf", archive}, dest, &rc);
    EXPECT_EQ(rc, 0) << "bsdtar failed on " << archive;
    return Tree(dest);
}

// Both tools must list every member. (Their extraction checks each CRC.)
void ExpectListed(const std::string& archive, size_t members) {
    int rc = -1;
    const std::string listing = Tool({"bsdtar", "-tf", archive}, "/", &rc);
    EXPECT_EQ(rc, 0) << "bsdtar -tf failed";
    EXPECT_EQ(static_cast<size_t>(std::count(listing.begin(), listing.end(), '\n')), members) << listing;
    const std::string lhasaList = Tool({"lhasa", "-l", archive}, "/", &rc);
    EXPECT_NE(lhasaList.find(" " + std::to_string(members) + (members == 1 ? " file " : " files ")), std::string::npos)
        << lhasaList;
}

// Writes the files, archives them all and checks both tools give them back.
struct Fixture {
    TempDir dir;
    std::string src = dir.folder() + "src/";
    std::string archive = dir.folder() + "out.lzh";
    std::map<std::string, std::string> files;

    Fixture() { MakeDir(src); }

    void Add(const std::string& rel, const std::string& content) {
        for (size_t at = rel.find('/'); at != std::string::npos; at = rel.find('/', at + 1))
            MakeDir(src + rel.substr(0, at));
        WriteFile(src + rel, content);
        files[rel] = content;
    }

    Outcome Archive() {
        std::vector<std::string> names;
        for (const auto& [rel, content] : files) names.push_back(rel);
        return CallUnlha(CommandLine(archive, src, names));
    }
};

std::string TextLike(size_t size, uint32_t seed) {
    static const char* words[] = {"int ", "return ", "struct ",  "const ",  "char* ",    "void ",   "(", ");\n",
                                  "{\n",  "}\n",     "#define ", "static ", "unsigned ", "size_t ", "=", " "};
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) {
        out += words[rng() % 16];
        if (rng() % 5 == 0) out.push_back(static_cast<char>('a' + rng() % 26));
    }
    out.resize(size);
    return out;
}

std::string Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

// The text converted between two iconv encodings.
std::string Converted(const std::string& text, const char* to, const char* from) {
    iconv_t cd = ::iconv_open(to, from);
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size(), outLeft = out.size();
    char* dst = out.data();
    ::iconv(cd, &in, &inLeft, &dst, &outLeft);
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string ToCp932(const std::string& utf8) { return Converted(utf8, "CP932", "UTF-8"); }

// The bytes read as code page 437, as libarchive reads names so marked.
std::string FromCp437(const std::string& bytes) { return Converted(bytes, "UTF-8", "CP437"); }

}  // namespace

TEST(Unlha, SizesRunsAndRandomDataComeBackExactlyFromBothTools) {
    Fixture f;
    f.Add("empty", "");
    f.Add("one", "x");
    for (const size_t size : {8191u, 8192u, 8193u, 65535u, 65536u, 65537u, 3u * 8192u + 1u})
        f.Add("text-" + std::to_string(size), TextLike(size, static_cast<uint32_t>(size)));
    f.Add("run-of-a", std::string(1 << 20, 'a'));
    f.Add("random", Random(200000, 1));
    const std::string block = Random(8192, 2);
    f.Add("window-period", block + block + block + block + "tail");
    const Outcome run = f.Archive();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.report.find("rror"), std::string::npos) << run.report;
    // Incompressible data is stored; compressible data is not.
    const std::string verbose = Tool({"lhasa", "-v", f.archive}, "/");
    auto method = [&](const std::string& name) {
        const size_t at = verbose.find(" " + name + "\n");
        const size_t line = verbose.rfind('\n', at) + 1;
        return at == std::string::npos ? std::string("<not listed>") : verbose.substr(line, at - line);
    };
    EXPECT_NE(method("random").find("-lh0-"), std::string::npos) << verbose;
    EXPECT_NE(method("run-of-a").find("-lh5-"), std::string::npos) << verbose;
    ExpectListed(f.archive, f.files.size());
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
    EXPECT_TRUE(SameEntries(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), f.files));
}

TEST(Unlha, HundredMegabyteFile) {
    Fixture f;
    // Stretches of text, noise and runs, so that every kind of block and
    // both long and short matches occur across the file.
    std::string big;
    big.reserve((100u << 20) + (1u << 20));
    const std::string noise = Random(1 << 20, 7);
    for (uint32_t i = 0; big.size() < (100u << 20); ++i) {
        if (i % 3 == 0)
            big += TextLike(1 << 20, i);
        else if (i % 3 == 1)
            big += noise.substr(i % 4096, (1 << 20) - i % 4096);
        else
            big.append(1 << 20, static_cast<char>(i));
    }
    big.resize(100u << 20);
    WriteFile(f.src + "big.bin", big);  // not kept twice in memory
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, {"big.bin"}));
    EXPECT_EQ(run.status, 0) << run.report;
    struct stat st {};
    ::stat(f.archive.c_str(), &st);
    EXPECT_LT(st.st_size, 50 << 20);
    ExpectListed(f.archive, 1);
    const auto lhasa = ExtractLhasa(f.archive, f.dir.folder() + "lhasa");
    ASSERT_EQ(lhasa.count("big.bin"), 1u);
    EXPECT_TRUE(lhasa.at("big.bin") == big);
    const auto bsdtar = ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar");
    ASSERT_EQ(bsdtar.count("big.bin"), 1u);
    EXPECT_TRUE(bsdtar.at("big.bin") == big);
}

TEST(Unlha, DeepPathsAndHeadersOfEveryLengthNearMultiplesOf256) {
    Fixture f;
    std::string deep;
    for (int i = 0; i < 40; ++i) deep += "level" + std::to_string(i) + "/";
    f.Add(deep + "bottom.txt", "at the bottom");
    f.Add("a/b/c.txt", TextLike(5000, 3));
    // Header length grows with the name; one of these lands on a multiple
    // of 256, which needs a padding byte.
    for (size_t len = 150; len <= 255; ++len) f.Add(std::string(len, 'n'), "name length " + std::to_string(len));
    for (size_t len = 150; len <= 255; ++len) f.Add("dir/" + std::string(len, 'm'), "in a folder");
    for (size_t len = 150; len <= 250; len += 3) f.Add("ü😀/" + std::string(len, 'j'), "non-ASCII folder");
    const Outcome run = f.Archive();
    EXPECT_EQ(run.status, 0) << run.report;
    ExpectListed(f.archive, f.files.size());
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
    EXPECT_TRUE(SameEntries(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), f.files));
}

// Names are stored in Shift-JIS when every character has a form there, else
// as UTF-8 with a code-page header saying so. bsdtar converts names by that
// header; lhasa writes the stored bytes as they are. So lhasa gives
// Shift-JIS names back in Shift-JIS, and neither tool can give back a byte
// 0xFF (the format's folder separator) or, for bsdtar, bytes that are not
// UTF-8.
TEST(Unlha, AwkwardNamesComeBackAsEachToolCanReadThem) {
    const std::vector<std::string> sjisNames = {"日本語のファイル名", "表ソ十", "全角　スペース"};
    const std::vector<std::string> utf8Names = {"with blanks  in it ",
                                                "double\"quote",
                                                "back\\slash",
                                                "-leading-dash",
                                                "@leading-at",
                                                "star*and?question",
                                                "line\nbreak",
                                                "accentué é ñ ü",
                                                "emoji 😀🎉",
                                                "yen¥sign",
                                                "pipe|name",
                                                " leading blank",
                                                "semi;colon,comma",
                                                "$dollar`back`tick'quote"};
    const std::vector<std::string> rawNames = {std::string("half \xe3\x81 char"), std::string("latin1 \xe9t\xe9")};
    Fixture f;
    std::map<std::string, std::string> forLhasa, forBsdtar;
    auto add = [&](const std::string& rel, const std::string& lhasaRel, bool bsdtarReads) {
        const std::string content = "content of " + rel;
        f.Add(rel, content);
        forLhasa[lhasaRel] = content;
        if (bsdtarReads) forBsdtar[rel] = content;
    };
    for (const auto& n : sjisNames) {
        add(n, ToCp932(n), true);
        add(n + " folder/" + n, ToCp932(n + " folder/" + n), true);
    }
    for (const auto& n : utf8Names) {
        add(n, n, true);
        add(n + " folder/" + n, n + " folder/" + n, true);
    }
    for (const auto& n : rawNames) add(n + " folder/" + n, n + " folder/" + n, false);
    const Outcome run = f.Archive();
    EXPECT_EQ(run.status, 0) << run.report;
    ExpectListed(f.archive, f.files.size());
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), forLhasa));
    auto bsdtar = ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar");
    // bsdtar reads names that are not UTF-8 as code page 437: there, under
    // other names, but present and intact.
    EXPECT_EQ(bsdtar.size(), f.files.size());
    for (const auto& [rel, content] : forBsdtar) EXPECT_EQ(bsdtar[rel], content) << rel;
}

TEST(Unlha, PermissionsTimesAndLinksAreKept) {
    Fixture f;
    f.Add("tool.sh", "#!/bin/sh\necho hi\n");
    ::chmod((f.src + "tool.sh").c_str(), 0750);
    f.Add("old.txt", "from long ago");
    // Access and modification times differ, so a writer that stores the
    // access time is caught.
    const struct timeval times[2] = {{1600000000, 0}, {1000000000, 0}};
    ::utimes((f.src + "old.txt").c_str(), times);
    f.Add("sub/target.txt", "pointed at");
    ::symlink("sub/target.txt", (f.src + "link").c_str());
    ::symlink("/nowhere/at/all", (f.src + "dangling").c_str());
    std::vector<std::string> names = {"tool.sh", "old.txt", "sub/target.txt", "link", "dangling"};
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, names));
    EXPECT_EQ(run.status, 0) << run.report;
    auto expected = f.files;
    expected["link"] = "-> sub/target.txt";
    expected["dangling"] = "-> /nowhere/at/all";
    ExpectListed(f.archive, 5);
    for (const auto& tool : {"lhasa", "bsdtar"}) {
        const std::string dest = f.dir.folder() + tool;
        const auto tree = std::string(tool) == "lhasa" ? ExtractLhasa(f.archive, dest) : ExtractBsdtar(f.archive, dest);
        EXPECT_EQ(tree, expected) << tool;
        struct stat st {};
        ::stat((dest + "/tool.sh").c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0750u) << tool;
        ::stat((dest + "/old.txt").c_str(), &st);
        EXPECT_EQ(st.st_mtime, 1000000000) << tool;
    }
}

// Links whose name or target holds bytes the "name|target" form gives
// meaning to. Readers take the first "|" as the end of the name and 0xFF as
// a folder separator; libarchive reads names by the header's code page. A
// link is stored only where both tools read back the same link, and left
// out with its reason otherwise; never stored as its target's content
// (every target exists, and only the links are archived).
TEST(Unlha, LinksWithAnyByteComeBackAsTheSameLinkOrAreLeftOut) {
    std::string ascii;  // every ASCII byte but NUL, "/" and "|"
    for (int c = 1; c < 0x80; ++c)
        if (c != '/' && c != '|') ascii += static_cast<char>(c);
    // Every byte 0x80-0xFE (not UTF-8), in four names short enough to stay
    // within the name limit once converted.
    std::string high[4];
    for (int c = 0x80; c < 0xFF; ++c) high[(c - 0x80) / 32] += static_cast<char>(c);
    enum Kind { Utf8, ShiftJis, Cp437, LeftOutFor };
    const struct {
        std::string name, target;
        Kind kind;
        const char* reason = "";  // part of the reason, when left out
    } cases[] = {
        {"plain", "t/file", Utf8},
        {"pipe in target", "t/a|b", Utf8},
        {"pipes in target", "t/|a||b|", Utf8},
        {"every ascii byte " + ascii, "t/" + ascii + "|", Utf8},
        {"jürgen", "t/Ωμέγα", Utf8},
        // "ポ" is 83 7C in Shift-JIS: a "|" byte, so the link stays UTF-8.
        {"ポスト", "t/ポスト", Utf8},
        {"表ソ", "t/表ソ", ShiftJis},  // second bytes 0x5C
        {"high " + high[0], "t/file", Cp437},
        {"high " + high[1], "t/file", Cp437},
        {"high " + high[2], "t/file", Cp437},
        {"high " + high[3], "t/file", Cp437},
        {"notes|old", "t/file", LeftOutFor, "「|」"},
        {"ff \xFF name", "t/file", LeftOutFor, "0xFF"},
        {"ff in target folder", "t/\xFF/file", LeftOutFor, "0xFF"},
        {"ff at target end", "t/file\xFF", LeftOutFor, "0xFF"},
        {"latin1 target", "t/caf\xE9", LeftOutFor, "UTF-8"},
        {"latin1 name \xE9", "t/Ωμέγα", LeftOutFor, "UTF-8"},
    };
    Fixture f;
    std::map<std::string, std::string> forLhasa, forBsdtar, leftOut;
    std::vector<std::string> names;
    for (const auto& c : cases) {
        if (!f.files.count(c.target)) f.Add(c.target, "content of " + c.target);
        ASSERT_EQ(::symlink(c.target.c_str(), (f.src + c.name).c_str()), 0) << c.name;
        names.push_back(c.name);
        // lhasa writes the stored bytes; bsdtar converts them by code page.
        switch (c.kind) {
            case Utf8: forLhasa[c.name] = forBsdtar[c.name] = "-> " + c.target; break;
            case ShiftJis:
                forLhasa[ToCp932(c.name)] = "-> " + ToCp932(c.target);
                forBsdtar[c.name] = "-> " + c.target;
                break;
            case Cp437:
                forLhasa[c.name] = "-> " + c.target;
                forBsdtar[FromCp437(c.name)] = "-> " + c.target;
                break;
            case LeftOutFor: leftOut[c.name] = c.reason;
        }
    }
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, names));
    EXPECT_EQ(run.status, 1) << run.report;
    const auto listed = LeftOut();
    EXPECT_EQ(listed.size(), leftOut.size());
    for (const auto& [name, reason] : leftOut) {
        ASSERT_EQ(listed.count(name), 1u) << name;
        EXPECT_NE(listed.at(name).find(reason), std::string::npos) << name << ": " << listed.at(name);
    }
    ExpectListed(f.archive, names.size() - leftOut.size());
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), forLhasa));
    EXPECT_TRUE(SameEntries(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), forBsdtar));
}

TEST(Unlha, FilesThatCannotBeStoredAreLeftOutAndListedWithTheirReason) {
    Fixture f;
    f.Add("good.txt", "fine");
    MakeDir(f.src + "a folder");
    {
        // 4 GiB exactly, sparse: no disk space, and never read.
        const int fd = ::open((f.src + "huge").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0);
        ::close(fd);
    }
    WriteFile(f.dir.folder() + "outside", "outside the base folder");
    const std::vector<std::string> names = {"missing", "good.txt", "a folder", "huge", "../outside"};
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, names));
    EXPECT_EQ(run.status, 1);
    // The report counts; the list names each entry and why.
    EXPECT_EQ(run.report, "1 of 5 files added to the archive\n4 files left out\n");
    EXPECT_EQ(LeftOut(), (std::map<std::string, std::string>{
                             {"missing", "No such file or directory"},
                             {"a folder", "フォルダー"},
                             {"huge", "is 4 GiB or larger"},
                             {"../outside", "has a name that cannot be stored (empty, or leading out with \"..\")"}}));
    ExpectListed(f.archive, 1);
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
    EXPECT_TRUE(SameEntries(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), f.files));

    // A file the user may not read (root reads everything, so run as nobody).
    TempDir open;
    ::chmod(open.path().c_str(), 0777);
    WriteFile(open.folder() + "secret", "no");
    ::chmod((open.folder() + "secret").c_str(), 0000);
    WriteFile(open.folder() + "public", "yes");
    const std::string archive = open.folder() + "o.lzh";
    const int rc = testsupport::RunUnprivileged([&] {
        const Outcome r = CallUnlha(CommandLine(archive, open.folder(), {"secret", "public"}));
        return r.status == 1 && r.report == "1 of 2 files added to the archive\n1 files left out\n" &&
                       LeftOut() == std::map<std::string, std::string>{{"secret", "Permission denied"}}
                   ? 0
                   : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(SameEntries(ExtractBsdtar(archive, open.folder() + "x"),
                            (std::map<std::string, std::string>{{"public", "yes"}})));
}

TEST(Unlha, UnknownCommandsAndSwitchesAreErrorsAndWriteNothing) {
    Fixture f;
    f.Add("a.txt", "a");
    for (const std::string& line :
         {"x \"" + f.archive + "\" \"" + f.src + "\" \"a.txt\" ",
          "a -a1 -zz \"" + f.archive + "\" \"" + f.src + "\" \"a.txt\" ", std::string("a -a1 "), std::string("")}) {
        const Outcome run = CallUnlha(line);
        EXPECT_EQ(run.status, 2) << line;
        EXPECT_EQ(run.report.rfind("Error", 0), 0u) << run.report;
        EXPECT_NE(::access(f.archive.c_str(), F_OK), 0) << line;
    }
    // After the base folder, "-x", "@list" and "*" are file names.
    f.Add("-x", "dash");
    f.Add("@list", "at");
    f.Add("*", "star");
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, {"-x", "@list", "*"}));
    EXPECT_EQ(run.status, 0) << run.report;
    EXPECT_EQ(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"),
              (std::map<std::string, std::string>{{"-x", "dash"}, {"@list", "at"}, {"*", "star"}}));
}

TEST(Unlha, BaseFolderWithoutClosingSeparatorStoresRelativeNames) {
    Fixture f;
    f.Add("a.txt", "a");
    f.Add("sub/b.txt", "b");
    std::string base = f.src;
    base.pop_back();  // names now begin with "/"
    const Outcome run = CallUnlha(CommandLine(f.archive, base, {"/a.txt", "/sub/b.txt"}));
    EXPECT_EQ(run.status, 0) << run.report;
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
    EXPECT_TRUE(SameEntries(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), f.files));
}

TEST(Unlha, ReportCountsAndStaysInTheBufferWhileTheListHoldsEveryEntry) {
    Fixture f;
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string n = "a-rather-long-file-name-number-" + std::to_string(i) + ".txt";
        f.Add(n, n);
        names.push_back(n);
    }
    for (int i = 0; i < 100; ++i) names.push_back("not-there-" + std::to_string(i) + ".txt");
    std::vector<char> buf(1024, '\x7f');
    const int status = Entry()(nullptr, CommandLine(f.archive, f.src, names).c_str(), buf.data(), 1023);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(buf[1023], '\x7f') << "wrote past the size it was given";
    EXPECT_EQ(std::string(buf.data()), "200 of 300 files added to the archive\n100 files left out\n");
    const auto leftOut = LeftOut();
    EXPECT_EQ(leftOut.size(), 100u);
    EXPECT_EQ(leftOut.count("not-there-99.txt"), 1u);
    // Nothing that can be added: no archive, and every name is listed.
    std::vector<std::string> missing(names.begin() + 200, names.end());
    const std::string none = f.dir.folder() + "none.lzh";
    const Outcome failed = CallUnlha(CommandLine(none, f.src, missing));
    EXPECT_EQ(failed.status, 2);
    EXPECT_EQ(failed.report.rfind("Error: ", 0), 0u) << failed.report;
    EXPECT_EQ(LeftOut().size(), 100u);
    for (const auto& e : std::filesystem::directory_iterator(f.dir.path()))
        EXPECT_EQ(e.path().filename().string().rfind("none.lzh", 0), std::string::npos) << e.path();
    // A buffer too small for the summary gets as much as fits.
    std::vector<char> small(8, '\x7f');
    Entry()(nullptr, CommandLine(f.archive, f.src, names).c_str(), small.data(), 6);
    EXPECT_EQ(std::string(small.data()), "200 o");
    EXPECT_EQ(small[6], '\x7f');
}

TEST(Unlha, SuccessReportNeverHoldsTheWordErrorEvenWhenNamesDo) {
    // The program shows any report containing "error" as a failure.
    TempDir dir;
    const std::string src = dir.folder() + "Errors in src/";
    MakeDir(src);
    MakeDir(src + "ERROR-logs");
    WriteFile(src + "error.h", "#pragma once\n");
    WriteFile(src + "ERROR-logs/today.txt", "nothing");
    WriteFile(src + "plain.txt", "plain");
    const std::string archive = dir.folder() + "Errors in src20240101.lzh";
    const Outcome run = CallUnlha(CommandLine(archive, src, {"error.h", "ERROR-logs/today.txt", "plain.txt"}));
    EXPECT_EQ(run.status, 0);
    std::string lower = run.report;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.find("error"), std::string::npos) << run.report;
    EXPECT_EQ(run.report, "3 of 3 files added to the archive\n");
    EXPECT_EQ(ExtractBsdtar(archive, dir.folder() + "x").size(), 3u);
}

TEST(Unlha, NamedPipesDevicesAndSocketsAreNeverOpenedAndAreListedAsLeftOut) {
    Fixture f;
    f.Add("good.txt", "fine");
    testsupport::MakeSpecialFiles(f.src);
    testsupport::OpenWatch watch;
    watch.Watch(f.src + "pipe");
    watch.Watch(f.src + "zero");
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, {"pipe", "good.txt", "zero", "sock"}));
    EXPECT_FALSE(watch.AnyOpened());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.report, "1 of 4 files added to the archive\n3 files left out\n");
    EXPECT_EQ(LeftOut(), (std::map<std::string, std::string>{
                             {"pipe", "名前付きパイプ"}, {"zero", "デバイス"}, {"sock", "ソケット"}}));
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
}

TEST(Unlha, NameListedTwiceIsStoredOnce) {
    Fixture f;
    f.Add("a.txt", "a");
    f.Add("sub/c.txt", "c");
    const Outcome run =
        CallUnlha(CommandLine(f.archive, f.src, {"a.txt", "sub/c.txt", "a.txt", "./a.txt", "sub//c.txt"}));
    EXPECT_EQ(run.status, 0) << run.report;
    EXPECT_EQ(run.report, "2 of 2 files added to the archive\n");
    ExpectListed(f.archive, 2);
    int rc = -1;
    Tool({"lhasa", "t", f.archive}, "/", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
}

TEST(Unlha, EntriesDeeperThanTheKernelPathLimitAreArchived) {
    TempDir dir;
    // A base folder whose own path is longer than PATH_MAX, and a name
    // longer than PATH_MAX below a short base folder.
    const std::string deepBase = dir.folder() + testsupport::MakeDeepFolders(dir.path(), 22);
    ASSERT_GT(deepBase.size(), size_t{PATH_MAX});
    testsupport::WriteLong(deepBase + "in-deep-base.txt", "deep base");
    MakeDir(dir.folder() + "short");
    const std::string longName = testsupport::MakeDeepFolders(dir.folder() + "short", 22) + "long-name.txt";
    ASSERT_GT(longName.size(), size_t{PATH_MAX});
    testsupport::WriteLong(dir.folder() + "short/" + longName, "long name");

    const std::string first = dir.folder() + "deep-base.lzh";
    Outcome run = CallUnlha(CommandLine(first, deepBase, {"in-deep-base.txt"}));
    EXPECT_EQ(run.status, 0) << run.report << LeftOut().begin()->second;
    const std::string second = dir.folder() + "long-name.lzh";
    run = CallUnlha(CommandLine(second, dir.folder() + "short/", {longName}));
    EXPECT_EQ(run.status, 0) << run.report << LeftOut().begin()->second;
    int rc = -1;
    for (const auto& [archive, content] : {std::pair{first, "deep base"}, std::pair{second, "long name"}}) {
        Tool({"lhasa", "t", archive}, "/", &rc);
        EXPECT_EQ(rc, 0) << archive;
        EXPECT_EQ(Tool({"bsdtar", "-xOf", archive}, "/", &rc), content);
    }
    EXPECT_EQ(Tool({"bsdtar", "-tf", second}, "/", &rc), longName + "\n");
    Tool({"rm", "-rf", dir.path()}, "/");  // deeper than the test folder's own clean-up reaches
}

TEST(Unlha, ThousandsOfUnreadableFilesAreAllListedAndCounted) {
    TempDir open;
    ::chmod(open.path().c_str(), 0777);
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("readable-" + std::to_string(i));
        WriteFile(open.folder() + names.back(), "r");
    }
    for (int i = 0; i < 4760; ++i) {
        names.push_back("secret-" + std::to_string(i));
        WriteFile(open.folder() + names.back(), "s");
        ::chmod((open.folder() + names.back()).c_str(), 0000);
    }
    const std::string archive = open.folder() + "o.lzh";
    const std::string result = open.folder() + "result";
    const int rc = testsupport::RunUnprivileged([&] {
        const Outcome r = CallUnlha(CommandLine(archive, open.folder(), names));
        const auto leftOut = LeftOut();
        WriteFile(result, std::to_string(r.status) + "\n" + r.report + std::to_string(leftOut.size()) + "\n" +
                              (leftOut.count("secret-4759") ? leftOut.at("secret-4759") : "-"));
        return 0;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(ReadFile(result),
              "1\n10 of 4770 files added to the archive\n4760 files left out\n4760\nPermission denied");
    ExpectListed(archive, 10);
}

TEST(Unlha, LibraryIsReleasedWhenUnloaded) {
    // The program loads the library for each run and releases it after.
    Fixture f;
    f.Add("a.txt", "a");
    const char* bin = std::getenv("TESSARINE_BIN_DIR");
    const std::string copy = f.dir.folder() + "libunlha32.so";
    WriteFile(copy, ReadFile(std::string(bin ? bin : "bin") + "/libunlha32.so"));
    void* lib = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    std::vector<char> buf(1024);
    const auto entry = reinterpret_cast<UnlhaFn>(::dlsym(lib, "Unlha"));
    EXPECT_EQ(entry(nullptr, CommandLine(f.archive, f.src, {"a.txt", "gone"}).c_str(), buf.data(), 1023), 1);
    ::dlclose(lib);
    void* still = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr);
    if (still) ::dlclose(still);
}

// Random names (every printable ASCII byte but the separator) and random
// contents of every kind and size, through the writer and back out of both
// readers byte for byte. Seeded, so a failure repeats.
TEST(Unlha, RandomTreesComeBackExactlyFromBothTools) {
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        Fixture f;
        for (size_t n = 1 + rng() % 6; n > 0; --n) {
            std::string name;
            for (size_t k = 1 + rng() % 12; k > 0; --k) {
                char c = static_cast<char>(0x20 + rng() % 0x5f);
                if (c == '/') c = '_';
                name.push_back(c);
            }
            if (name == "." || name == "..") name += "x";
            const size_t size = rng() % 3 == 0 ? rng() % 64 : rng() % 150000;
            const uint32_t seed = static_cast<uint32_t>(rng());
            std::string content = rng() % 2 ? TextLike(size, seed) : Random(size, seed);
            if (rng() % 3 == 0) content += std::string(rng() % 20000, static_cast<char>(rng()));
            f.Add((rng() % 3 == 0 ? "d" + std::to_string(rng() % 3) + "/" : "") + name, content);
        }
        const Outcome run = f.Archive();
        ASSERT_EQ(run.status, 0) << round << ": " << run.report;
        EXPECT_EQ(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files) << round;
        EXPECT_EQ(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), f.files) << round;
    }
}

TEST(Unlha, MembersKeepTheListOrderWhenPreparedAheadOnSeveralThreads) {
    // Far more members than are prepared ahead at a time, small ones next to
    // ones read straight into the archive (over 8 MiB), in an order that is
    // not sorted: the archive must hold them in exactly the listed order.
    // Members of a few MiB fill the bytes that may wait before the small
    // ones behind them are begun.
    Fixture f;
    std::vector<std::string> names;
    for (int i = 0; i < 160; ++i) {
        const std::string name = "m" + std::to_string((i * 37) % 160) + (i % 2 ? "/x" : ".txt");
        const size_t size = i % 53 == 0  ? (8u << 20) + 1 + static_cast<size_t>(i)
                            : i % 9 == 0 ? (3u << 20) + static_cast<size_t>(i)
                                         : static_cast<size_t>(i * 977 % 20000);
        f.Add(name, i % 3 == 0 ? Random(size, static_cast<uint32_t>(i)) : TextLike(size, static_cast<uint32_t>(i)));
        names.push_back(name);
    }
    const Outcome run = CallUnlha(CommandLine(f.archive, f.src, names));
    EXPECT_EQ(run.status, 0) << run.report;
    int rc = -1;
    std::string expected;
    for (const auto& n : names) expected += n + "\n";
    EXPECT_EQ(Tool({"bsdtar", "-tf", f.archive}, "/", &rc), expected);
    EXPECT_TRUE(SameEntries(ExtractLhasa(f.archive, f.dir.folder() + "lhasa"), f.files));
    EXPECT_TRUE(SameEntries(ExtractBsdtar(f.archive, f.dir.folder() + "bsdtar"), f.files));
}

// A folder of the source swapped for a link to a folder outside the tree
// after the collection: the archiver reaches every entry beneath its base
// folder without following a link, so nothing outside the tree goes in.
TEST(Unlha, FolderSwappedForALinkIsNotReadThrough) {
    Fixture f;
    f.Add("a.txt", "inside");
    f.Add("sub/b.txt", "inside");
    const std::string outside = f.dir.folder() + "private/";
    MakeDir(outside);
    WriteFile(outside + "b.txt", "secret");
    ASSERT_EQ(::rename((f.src + "sub").c_str(), (f.src + "sub.moved").c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (f.src + "sub").c_str()), 0);
    f.Archive();
    EXPECT_EQ(Tool({"bsdtar", "-xOf", f.archive}, f.dir.path()), "inside");
}
