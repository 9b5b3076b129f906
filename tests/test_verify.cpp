// Reading a product back: a sound product passes, a product damaged after it
// was made is caught and its first bad entry named.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "archivers/lha/lh5_encoder.h"
#include "engine/Verify.h"
#include "engine/errors.h"
#include "engine/lha_check.h"
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
        EXPECT_FALSE(check()) << mode << ": " << check()->entry << " " << check()->reason;
        FlipByte(archive);
        const auto defect = check();
        ASSERT_TRUE(defect) << mode;
        EXPECT_EQ(defect->entry.rfind(archive, 0), 0u) << defect->entry;
        if (mode == "lha") {
            EXPECT_EQ(defect->entry, archive + "/sub/big.txt") << defect->reason;
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
    request.JobMode = kModeLha;
    const std::string archive = p.Make("lha");
    request.OutputBase = archive.substr(0, archive.size() - 4);
    EXPECT_NO_THROW(VerifyProduct(request, {}, {}, {}));
    FlipByte(archive);
    try {
        VerifyProduct(request, {}, {}, {});
        FAIL() << "no error";
    } catch (const TessarineError& e) {
        EXPECT_NE(std::string(e.what()).find("検証に失敗しました: " + archive + "/sub/big.txt"), std::string::npos)
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
    EXPECT_EQ(defect->entry, archive + "/文書/長い名前.txt") << defect->reason;
}
