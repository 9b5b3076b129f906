// Reading a product back: a sound product passes, a product damaged after it
// was made is caught and its first bad entry named.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>
#include <random>

#include "archiver_hazards.h"
#include "libraries/lha/lh5_encoder.h"
#include "engine/FileOperation.h"
#include "engine/Verify.h"
#include "engine/errors.h"
#include "libraries/lha/lha_reader.h"
#include "engine/zip_directory.h"
#include "mounts.h"
#include "process_runner.h"
#include "test_support.h"

using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;
using namespace tessarine;

namespace {

std::string Repetitive(size_t size) {
    std::string text;
    std::mt19937 random(7);
    while (text.size() < size) text += "line " + std::to_string(random() % 50) + " of a text that repeats\n";
    text.resize(size);
    return text;
}

struct Product {
    TempDir dir;
    std::string src = dir.folder() + "src/";
    std::string out = dir.folder() + "out";
    Product() {
        MakeDir(src);
        MakeDir(src + "sub");
        MakeDir(out);
        WriteFile(src + "a.txt", "a");
        WriteFile(src + "sub/big.txt", Repetitive(400000));
        ::symlink("a.txt", (src + "link").c_str());
    }
    // The product of one job made by the command-line program.
    std::string Make(const std::string& mode, const std::string& password = {}) {
        const auto r =
            RunProgram("tessarine-cli", {"--user-folder", dir.folder() + "user", "-q", "-m", mode, "-d", out, src},
                       password.empty() ? "" : password + "\n");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out.substr(0, r.out.size() - 1);
    }
};

// The folders and files beneath `src` as a job collects them.
struct Collected {
    std::vector<std::string> folders;
    PathList files;
    explicit Collected(const std::string& src) {
        TFileOperation operation;
        operation.CollectFolders(src, folders, true);
        folders.insert(folders.begin(), src);
        operation.CollectFiles(folders, false, true, files);
    }
};

// Flips one byte in the middle of the file.
void FlipByte(const std::string& path) {
    std::string bytes = ReadFile(path);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x40);
    WriteFile(path, bytes);
}

}  // namespace

TEST(VerifyArchive, FlippedByteInAMemberIsCaught) {
    Product p;
    for (const std::string mode : {"lha", "zip", "7z", "7z-pass", "zip-pass"}) {
        const std::string password = mode.find("pass") != std::string::npos ? "secret words" : "";
        const std::string archive = p.Make(mode, password);
        const auto check = [&] {
            return mode == "lha" ? VerifyLhaArchive(archive) : VerifySevenZipArchive(archive, password);
        };
        EXPECT_FALSE(check()) << mode << ": " << check()->entry << " " << RenderMessage(check()->reason);
        FlipByte(archive);
        const auto defect = check();
        ASSERT_TRUE(defect) << mode;
        EXPECT_EQ(defect->entry.rfind(archive, 0), 0u) << defect->entry;
        if (mode == "lha") {
            EXPECT_EQ(defect->entry, archive + "/sub/big.txt") << RenderMessage(defect->reason);
        }
    }
}

TEST(VerifyArchive, WrongPasswordOrCutArchiveFails) {
    Product p;
    const std::string archive = p.Make("7z-pass", "right");
    EXPECT_TRUE(VerifySevenZipArchive(archive, "wrong"));
    const std::string lha = p.Make("lha");
    const std::string bytes = ReadFile(lha);
    WriteFile(lha, bytes.substr(0, bytes.size() - 1));  // the end mark gone
    EXPECT_TRUE(VerifyLhaArchive(lha));
}

TEST(VerifyCopy, TruncatedFileChangedModeAndRetargetedLinkAreCaught) {
    Product p;
    const std::string copy = p.Make("copy");
    const std::vector<std::string> folders = {p.src, p.src + "sub/"};
    const std::vector<std::string> files = {p.src + "a.txt", p.src + "link", p.src + "sub/big.txt"};
    EXPECT_FALSE(VerifyCopy(p.src, copy, folders, files));

    ::truncate((copy + "/sub/big.txt").c_str(), 1000);
    auto defect = VerifyCopy(p.src, copy, folders, files);
    ASSERT_TRUE(defect);
    EXPECT_EQ(defect->entry, copy + "/sub/big.txt");
    // An entry the job reported as not copied is not held against the copy.
    EXPECT_FALSE(VerifyCopy(p.src, copy, folders, files, {p.src + "sub/big.txt"}));

    ::chmod((copy + "/a.txt").c_str(), 0600);
    defect = VerifyCopy(p.src, copy, folders, files);
    ASSERT_TRUE(defect);
    EXPECT_EQ(defect->entry, copy + "/a.txt");  // the first bad entry in list order
    ::chmod((copy + "/a.txt").c_str(), 0644);

    ::unlink((copy + "/link").c_str());
    ::symlink("sub/big.txt", (copy + "/link").c_str());
    defect = VerifyCopy(p.src, copy, folders, files, {p.src + "sub/big.txt"});
    ASSERT_TRUE(defect);
    EXPECT_EQ(defect->entry, copy + "/link");
}

TEST(VerifyList, AListThatLostALineIsCaught) {
    TempDir dir;
    const std::string list = dir.folder() + "list.txt";
    WriteFile(list, "/a/x\r\n/a/y\r\n");
    EXPECT_FALSE(VerifyListFile(list, {"/a/x", "/a/y"}));
    EXPECT_EQ(VerifyListFile(list, {"/a/x", "/a/y", "/a/z"})->entry, "/a/z");
    EXPECT_EQ(VerifyListFile(list, {"/a/x", "/a/q"})->entry, "/a/q");
    EXPECT_TRUE(VerifyListFile(list, {"/a/x"}));
}

TEST(VerifyProduct, AFailureIsAnErrorNamingTheEntry) {
    Product p;
    JobRequest request;
    request.JobMode = JobMode::kLha;
    const std::string archive = p.Make("lha");
    EXPECT_NO_THROW(VerifyProduct(request, archive, {}, {}, {}));
    FlipByte(archive);
    try {
        VerifyProduct(request, archive, {}, {}, {});
        FAIL() << "no error";
    } catch (const TessarineError& e) {
        EXPECT_NE(std::string(e.what()).find("検証に失敗しました: " + archive + "/sub/big.txt"), std::string::npos)
            << e.what();
    }
}

// Hazard: the product is read back before it takes its final name, while
// the job named its problems by the final name. A file the job reported is
// not held against the copy either way; any other is named where it lies.
TEST(VerifyProduct, ProblemsNamedByTheFinalNameExcuseTheStagedCopy) {
    Product p;
    const std::string copy = p.Make("copy");
    const std::string staged = p.dir.folder() + "staged";
    ASSERT_EQ(::rename(copy.c_str(), staged.c_str()), 0);
    ::truncate((staged + "/sub/big.txt").c_str(), 10);
    JobRequest request;
    request.JobMode = JobMode::kCopy;
    request.SourcePath = p.src;
    request.OutputBase = copy;
    const Collected c(p.src);
    for (const std::string& reported : {copy + "/sub/big.txt", p.src + "sub/big.txt", staged + "/sub/big.txt"}) {
        EXPECT_NO_THROW(VerifyProduct(request, staged, c.folders, c.files,
                                      {Problem{reported, MakeMessage(MessageId::kText, {"cut short"})}}))
            << reported;
    }
    try {
        VerifyProduct(request, staged, c.folders, c.files,
                      {Problem{copy + "/a.txt", MakeMessage(MessageId::kText, {"?"})}});
        FAIL() << "no error";
    } catch (const TessarineError& e) {
        EXPECT_NE(std::string(e.what()).find(staged + "/sub/big.txt (the modification time differs)"),
                  std::string::npos)
            << e.what();
    }
}

// The decoder against the encoder, over inputs that exercise single-code
// tables, long matches, incompressible bytes and many blocks.
TEST(Lh5Decoder, DecodesWhatTheEncoderMakes) {
    std::mt19937 random(3);
    std::vector<std::string> inputs = {"", "a", std::string(100000, 'z'), Repetitive(300000)};
    std::string noise(200000, '\0');
    for (auto& c : noise) c = static_cast<char>(random());
    inputs.push_back(noise);
    std::string mixed;
    for (int i = 0; i < 200; ++i) mixed += i % 3 ? noise.substr(static_cast<size_t>(i) * 100, 300) : Repetitive(2000);
    inputs.push_back(mixed);
    for (const auto& input : inputs) {
        for (const int blockCodes : {32768, 50}) {
            lh5::EncoderOptions options;
            options.blockCodes = blockCodes;
            const auto packed = lh5::Compress(reinterpret_cast<const uint8_t*>(input.data()), input.size(), options);
            const auto decoded = DecodeLh5(packed.data(), packed.size(), input.size());
            ASSERT_TRUE(decoded) << input.size();
            EXPECT_TRUE(*decoded == input) << input.size() << " " << blockCodes;
            if (packed.size() > 4) {
                // Damage near the start shows as a decoding error or as other bytes.
                auto damaged = packed;
                damaged[2] ^= 0x10;
                const auto bad = DecodeLh5(damaged.data(), damaged.size(), input.size());
                EXPECT_TRUE(!bad || *bad != input);
            }
        }
    }
}

TEST(VerifyArchive, LhaDefectNamesAShiftJisMemberInUtf8) {
    Product p;
    MakeDir(p.src + "文書");
    WriteFile(p.src + "文書/長い名前.txt", Repetitive(2000000));
    const std::string archive = p.Make("lha");
    ASSERT_FALSE(VerifyLhaArchive(archive));
    FlipByte(archive);
    const auto defect = VerifyLhaArchive(archive);
    ASSERT_TRUE(defect);
    EXPECT_EQ(defect->entry, archive + "/文書/長い名前.txt") << RenderMessage(defect->reason);
}

namespace {

// The archive with its end record replaced by a ZIP64 record, its locator
// and an end record whose counts and offsets say "see ZIP64".
std::string WithZip64End(const std::string& zip) {
    const size_t end = zip.size() - 22;  // 7-Zip writes no archive comment
    const auto le = [&](size_t at, int bytes) {
        uint64_t v = 0;
        for (int k = bytes - 1; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(zip[at + static_cast<size_t>(k)]);
        return v;
    };
    const auto put = [](std::string& out, uint64_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>(v >> (8 * k)));
    };
    const uint64_t count = le(end + 10, 2), size = le(end + 12, 4), offset = le(end + 16, 4);
    std::string out = zip.substr(0, end);
    put(out, 0x06064b50, 4);
    put(out, 44, 8);
    put(out, 45, 2);
    put(out, 45, 2);
    put(out, 0, 8);
    put(out, count, 8);
    put(out, count, 8);
    put(out, size, 8);
    put(out, offset, 8);
    put(out, 0x07064b50, 4);
    put(out, 0, 4);
    put(out, end, 8);
    put(out, 1, 4);
    put(out, 0x06054b50, 4);
    put(out, 0, 4);
    put(out, 0xFFFF, 2);
    put(out, 0xFFFF, 2);
    put(out, 0xFFFFFFFF, 4);
    put(out, 0xFFFFFFFF, 4);
    put(out, 0, 2);
    return out;
}

}  // namespace

// Hazard: a ZIP whose central directory lost or damaged a name passes 7-Zip's
// test. Archives made by 7zz through the job (whole folders go in by name,
// so folder entries are there too), with awkward names, read through the
// plain and the ZIP64 end records.
TEST(VerifyZipNames, DamagedOrMissingNamesAreCaughtAndSoundArchivesPass) {
    Product p;
    WriteFile(p.src + "sub/日本語.txt", "j");
    WriteFile(p.src + std::string("sub/bad \xff byte"), "b");
    WriteFile(p.src + "sub/back\\slash", "s");
    const Collected c(p.src);
    for (const std::string mode : {"zip", "zip-pass"}) {
        const std::string archive = p.Make(mode, mode == "zip" ? "" : "secret");
        const std::string sound = ReadFile(archive);
        const size_t firstHeader = sound.find(std::string("PK\x01\x02", 4));
        std::string damaged = sound;
        const size_t name = damaged.find("big.txt", firstHeader);
        ASSERT_NE(name, std::string::npos);
        damaged[name] = 'p';  // "sub/pig.txt"
        // The UTF-8 flag (bit 11 of the flags at offset 8) of the central
        // header of the Japanese name cleared.
        std::string unmarked = sound;
        const size_t japanese = unmarked.find("sub/日本語.txt", firstHeader);
        ASSERT_NE(japanese, std::string::npos);
        unmarked[japanese - 46 + 9] = static_cast<char>(unmarked[japanese - 46 + 9] & ~0x08);
        PathList withGone = c.files;
        withGone.Append(p.src + "sub/", "gone.txt");
        struct Case {
            const char* what;
            std::string bytes;
            const PathList* files;
            std::vector<std::string> skipped;
            std::string entry;  // "" when the archive passes
            std::string reason;
        } cases[] = {
            {"sound", sound, &c.files, {}, "", ""},
            {"sound, ZIP64 end", WithZip64End(sound), &c.files, {}, "", ""},
            {"damaged name", damaged, &c.files, {}, archive + "/sub/pig.txt", "is not a collected file"},
            {"damaged name, ZIP64", WithZip64End(damaged), &c.files, {}, archive + "/sub/pig.txt", ""},
            {"missing name", sound, &withGone, {}, p.src + "sub/gone.txt", "is missing from the archive"},
            {"UTF-8 flag lost",
             unmarked,
             &c.files,
             {},
             archive + "/sub/日本語.txt",
             "the UTF-8 name is not marked as UTF-8"},
            {"missing but left out", sound, &withGone, {p.src + "sub/gone.txt"}, "", ""},
            {"missing, counted only", sound, &withGone, {p.src}, "", ""},
            {"cut directory", sound.substr(0, sound.size() - 30), &c.files, {}, archive, ""},
        };
        for (const auto& k : cases) {
            WriteFile(archive, k.bytes);
            const auto defect = VerifyZipNames(archive, p.src, c.folders, *k.files, k.skipped);
            if (k.entry.empty()) {
                EXPECT_FALSE(defect) << mode << " " << k.what << ": " << defect->entry << " "
                                     << RenderMessage(defect->reason);
                continue;
            }
            ASSERT_TRUE(defect) << mode << " " << k.what;
            EXPECT_EQ(defect->entry, k.entry) << mode << " " << k.what << ": " << RenderMessage(defect->reason);
            if (!k.reason.empty()) {
                EXPECT_EQ(RenderMessage(defect->reason), k.reason) << mode << " " << k.what;
            }
        }
        // The reader sees every collected file and the folder entry 7zz added.
        WriteFile(archive, sound);
        const ZipDirectory read = ReadZipDirectory(archive);
        EXPECT_FALSE(read.error) << RenderMessage(read.error);
        std::vector<std::string> names;
        for (const auto& e : read.entries) names.push_back(e.name);
        EXPECT_EQ(testsupport::Sorted(names),
                  testsupport::Sorted({"a.txt", "link", "sub/", "sub/big.txt", "sub/日本語.txt",
                                       std::string("sub/bad \xff byte"), "sub/back\\slash"}));
    }
}

// Hazard: a copy to a destination that cannot hold some metadata fails its
// verification although it holds all it can. Each kind is caught while the
// destination keeps it and not counted once the job says it did not.
TEST(VerifyCopy, WhatTheDestinationDidNotKeepIsNotCounted) {
    Product p;
    // A user attribute and an access list (user 1234 may read) on a file.
    const std::string acl =
        std::string("\x02\0\0\0", 4) + std::string("\x01\0\x06\0\xff\xff\xff\xff", 8) +
        std::string("\x02\0\x04\0\xd2\x04\0\0", 8) + std::string("\x04\0\x04\0\xff\xff\xff\xff", 8) +
        std::string("\x10\0\x04\0\xff\xff\xff\xff", 8) + std::string("\x20\0\x04\0\xff\xff\xff\xff", 8);
    const std::string tagged = p.src + "sub/big.txt";
    const bool attributes = ::setxattr(tagged.c_str(), "user.note", "kept", 4, 0) == 0 &&
                            ::setxattr(tagged.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const std::string copy = p.Make("copy");
    const Collected c(p.src);
    ASSERT_FALSE(VerifyCopy(p.src, copy, c.folders, c.files));
    const std::string taggedCopy = copy + "/sub/big.txt";
    struct stat linkStat {};
    ::lstat((p.src + "link").c_str(), &linkStat);
    const timespec linkTimes[2] = {linkStat.st_atim, linkStat.st_mtim};
    const timespec otherTimes[2] = {{1000, 0}, {1000, 0}};
    struct Case {
        const char* what;
        unsigned bit;
        std::string entry;
        std::function<void()> damage, undo;
        bool rootOnly = false;
    };
    std::vector<Case> cases = {
        {"permission bits", kNotHeldPermissions, copy + "/a.txt", [&] { ::chmod((copy + "/a.txt").c_str(), 0600); },
         [&] { ::chmod((copy + "/a.txt").c_str(), 0644); }},
        {"folder permission bits", kNotHeldPermissions, copy + "/sub/", [&] { ::chmod((copy + "/sub").c_str(), 0700); },
         [&] { ::chmod((copy + "/sub").c_str(), 0755); }},
        {"link time", kNotHeldLinkTimes, copy + "/link",
         [&] { ::utimensat(AT_FDCWD, (copy + "/link").c_str(), otherTimes, AT_SYMLINK_NOFOLLOW); },
         [&] { ::utimensat(AT_FDCWD, (copy + "/link").c_str(), linkTimes, AT_SYMLINK_NOFOLLOW); }},
        {"owner", kNotHeldOwners, copy + "/sub/big.txt",
         [&] { (void)!::chown((copy + "/sub/big.txt").c_str(), 1234, 1234); },
         [&] { (void)!::chown((copy + "/sub/big.txt").c_str(), 0, 0); }, true},
    };
    if (attributes) {
        cases.push_back({"extended attribute", kNotHeldExtendedAttributes, taggedCopy,
                         [&] { ::setxattr(taggedCopy.c_str(), "user.note", "lost", 4, 0); },
                         [&] { ::setxattr(taggedCopy.c_str(), "user.note", "kept", 4, 0); }});
        cases.push_back(
            {"access list", kNotHeldAcls, taggedCopy,
             [&] { ::removexattr(taggedCopy.c_str(), "system.posix_acl_access"); },
             [&] { ::setxattr(taggedCopy.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0); }});
    }
    for (const auto& k : cases) {
        if (k.rootOnly && ::geteuid() != 0) continue;
        k.damage();
        const auto defect = VerifyCopy(p.src, copy, c.folders, c.files);
        ASSERT_TRUE(defect) << k.what;
        EXPECT_EQ(defect->entry, k.entry) << k.what << ": " << RenderMessage(defect->reason);
        EXPECT_FALSE(VerifyCopy(p.src, copy, c.folders, c.files, {}, k.bit)) << k.what;
        k.undo();
        EXPECT_FALSE(VerifyCopy(p.src, copy, c.folders, c.files)) << k.what;
    }
}

// Hazard: entries deeper than PATH_MAX, which the copy keeps, cannot be
// looked at by full path: they are compared relative to open folders.
TEST(VerifyCopy, PathsLongerThanPathMaxAreCompared) {
    Product p;
    const std::string deep = testsupport::MakeDeepFolders(p.src + "sub", 22);
    ASSERT_GT(deep.size(), size_t{PATH_MAX});
    testsupport::WriteLong(p.src + "sub/" + deep + "deep.txt", "deep content");
    // Archives keep the deep file too, and their names read back.
    for (const std::string mode : {"zip", "7z", "lha"}) {
        const auto r = RunProgram("tessarine-cli", {"--user-folder", p.dir.folder() + "user", "-q", "--verify", "-m",
                                                    mode, "-d", p.out, p.src});
        EXPECT_EQ(r.status, 0) << mode << ": " << r.err.substr(0, 300);
    }
    const std::string copy = p.Make("copy");
    const Collected c(p.src);
    ASSERT_GT(c.folders.size(), 22u);
    EXPECT_FALSE(VerifyCopy(p.src, copy, c.folders, c.files));
    const std::string target = copy + "/sub/" + deep + "deep.txt";
    struct Case {
        const char* what;
        std::function<void()> damage;
        std::string entry, reason;
    } cases[] = {
        {"content",
         [&] {
             // The same size and time, one byte other.
             const UniqueFd file(OpenLongPath(AT_FDCWD, target, O_WRONLY));
             struct stat st {};
             ::fstat(file.Get(), &st);
             ASSERT_EQ(::pwrite(file.Get(), "D", 1, 0), 1);
             const timespec times[2] = {st.st_atim, st.st_mtim};
             ::futimens(file.Get(), times);
         },
         target, "the content differs at byte 0"},
        {"missing file",
         [&] {
             const UniqueFd folder(OpenLongPath(AT_FDCWD, copy + "/sub/" + deep, O_PATH | O_DIRECTORY));
             ::unlinkat(folder.Get(), "deep.txt", 0);
         },
         target, "the copy is missing: No such file or directory"},
        {"missing folder",
         [&] {
             const std::string parent = deep.substr(0, deep.size() - 1);
             const size_t cut = parent.rfind('/');
             const UniqueFd above(OpenLongPath(AT_FDCWD, copy + "/sub/" + parent.substr(0, cut), O_PATH | O_DIRECTORY));
             ::unlinkat(above.Get(), parent.substr(cut + 1).c_str(), AT_REMOVEDIR);
         },
         copy + "/sub/" + deep, "the folder is missing: No such file or directory"},
    };
    for (const auto& k : cases) {
        k.damage();
        const auto defect = VerifyCopy(p.src, copy, c.folders, c.files);
        ASSERT_TRUE(defect) << k.what;
        EXPECT_EQ(defect->entry, k.entry) << k.what;
        EXPECT_EQ(RenderMessage(defect->reason), k.reason) << k.what;
    }
    testsupport::RunProgram("/bin/rm", {"-rf", p.dir.path()});  // deeper than the test folder's clean-up reaches
}

// Hazard: a name holding CR or LF splits its line. Such an entry is written
// escaped on a line of its own; every other line stays the entry's bytes.
TEST(VerifyList, NamesWithLineBreaksKeepOneLineEach) {
    TempDir dir;
    const std::string list = dir.folder() + "list.txt";
    struct Case {
        std::string entry, line;
    } cases[] = {
        {"/a/plain", "/a/plain"},
        {"/a/back\\slash", "/a/back\\slash"},
        {"/a/line\nbreak", "\\/a/line\\nbreak"},
        {"/a/cr\rhere", "\\/a/cr\\rhere"},
        {"/a/crlf\r\n", "\\/a/crlf\\r\\n"},
        {"/a/both\\\n", "\\/a/both\\\\\\n"},
        {"/a/\\n literally", "/a/\\n literally"},
    };
    PathList entries;
    std::string expected;
    for (const auto& k : cases) {
        entries.Append("", k.entry);
        expected += k.line + "\r\n";
    }
    SaveListFile(list, entries);
    EXPECT_EQ(ReadFile(list), expected);
    EXPECT_FALSE(VerifyListFile(list, entries));
    // An escaped line that lost its escape is caught.
    std::string damaged = expected;
    damaged.replace(damaged.find("\\/a/line\\nbreak"), 15, "\\/a/line\\rbreak");
    WriteFile(list, damaged);
    const auto defect = VerifyListFile(list, entries);
    ASSERT_TRUE(defect);
    EXPECT_EQ(defect->entry, "/a/line\nbreak");
}

// Hazard: destinations without permission bits and with coarse times (a FAT
// or exFAT stick). List files are written there, and a copy there verifies
// once the kinds it cannot hold are named.
TEST(VerifyDestination, FatAndExfatHoldListsAndVerifiedCopies) {
    std::string notMounted;
    for (const auto fs : {testsupport::FileSystem::kFat, testsupport::FileSystem::kExfat}) {
        const std::string kind = testsupport::NameOf(fs);
        TempDir dir;
        const std::string src = dir.folder() + "src/";
        MakeDir(src);
        MakeDir(src + "sub");
        WriteFile(src + "odd.txt", "odd second");
        WriteFile(src + "sub/b.txt", "b");
        const timespec odd[2] = {{1714979289, 123456789}, {1714979289, 123456789}};
        ::utimensat(AT_FDCWD, (src + "odd.txt").c_str(), odd, 0);
        const testsupport::TestMount mount(fs, dir.path(), 16);
        if (!mount.Mounted()) {
            notMounted += kind + ": " + mount.Why() + "; ";
            continue;
        }
        const std::string mnt = mount.Point();
        const Collected c(src);
        for (const std::string mode : {"filelist", "folderlist"}) {
            const auto r = RunProgram("tessarine-cli", {"--user-folder", dir.folder() + "user", "-q", "--verify", "-m",
                                                        mode, "-d", mnt, src});
            EXPECT_EQ(r.status, 0) << kind << " " << mode << ": " << r.err;
            const std::string list = r.out.substr(0, r.out.size() - 1);
            EXPECT_FALSE(VerifyListFile(list, mode == "filelist" ? c.files : PathList(c.folders)))
                << kind << " " << mode;
        }
        const std::string copy = mnt + "/copy";
        ASSERT_EQ(RunProgram("/bin/cp", {"-r", "--preserve=timestamps", src, copy}).status, 0) << kind;
        const auto defect = VerifyCopy(src, copy, c.folders, c.files);
        ASSERT_TRUE(defect) << kind;
        EXPECT_EQ(RenderMessage(defect->reason), "the permission bits differ") << kind;
        const auto kept = VerifyCopy(src, copy, c.folders, c.files, {}, kNotHeldPermissions | kNotHeldOwners);
        EXPECT_FALSE(kept) << kind << ": " << kept->entry << " " << RenderMessage(kept->reason);
    }
    if (!notMounted.empty()) GTEST_SKIP() << notMounted;
}
