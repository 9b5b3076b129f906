// The 7-Zip library's reading of 7zz's output, fed with runs of 7-Zip 26.02
// recorded by tests/data/7zz/record.sh: what each run comes to for the
// library (files added, entries warned about with their reasons, or a
// failure whose text names none of the paths the library gave 7zz).
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "archive/archiver_status.h"
#include "libraries/sevenzip/sevenzip_output.h"

using namespace tessarine;

namespace {

struct Transcript {
    int exitCode = -1;
    std::string out, err;
};

Transcript Load(const std::string& name) {
    std::ifstream file(std::string(TESSARINE_SOURCE_DIR) + "/tests/data/7zz/" + name + ".txt", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    const std::string outMark = "==> stdout <==\n", errMark = "==> stderr <==\n";
    Transcript t;
    const size_t out = all.find(outMark), err = all.find(errMark);
    if (all.rfind("exit ", 0) != 0 || out == std::string::npos || err == std::string::npos) return t;
    t.exitCode = std::stoi(all.substr(5));
    t.out = all.substr(out + outMark.size(), err - out - outMark.size());
    t.err = all.substr(err + errMark.size());
    return t;
}

using Warned = std::vector<std::pair<std::string, Message>>;

Message System(int error) { return MakeMessage(MessageId::kSystemError, {}, error); }

TEST(SevenZipTranscripts, EachRecordedRunComesToItsOutcome) {
    struct Case {
        const char* name;
        std::vector<std::string_view> given;
        sevenzip::PathWords paths;
        int status;
        size_t added;
        Warned warned;
        std::vector<std::string> failureHolds;  // empty: no failure
    };
    const std::vector<Case> cases = {
        {"success", {"a.txt", "sub"}, {}, kArchiverDone, 3, {}, {}},
        // A name that is gone and a file 7zz may not open: both under their
        // own names with the system's reason; 7zz counts them as added.
        {"warnings",
         {"a.txt", "gone", "secret"},
         {},
         kArchiverLeftOut,
         2,
         {{"gone", System(ENOENT)}, {"secret", System(EACCES)}},
         {}},
        {"wrong_password",
         {"sub/b.txt"},
         {{"../enc.7z", "(archive)"}},
         kArchiverFailed,
         0,
         {},
         {"exit code 2", "ERROR: (archive)\nCannot open encrypted archive. Wrong password?\n"}},
        {"disk_full",
         {"big.bin"},
         {{"../full/out.7z", "(archive)"}},
         kArchiverFailed,
         0,
         {},
         {"7zz ended with exit code 2 (7-Zip could not go on)\n", "errno=28 : No space left on device\n",
          "Creating archive: (archive)\n"}},
        {"rename", {"a.txt", "renamed.txt"}, {{"../ok.7z", "(archive)"}}, kArchiverDone, 0, {}, {}},
    };
    for (const auto& c : cases) {
        const Transcript t = Load(c.name);
        ASSERT_GE(t.exitCode, 0) << c.name;
        const sevenzip::RunReading reading = sevenzip::ReadSevenZipRun(t.exitCode, t.out, t.err, c.given, c.paths);
        EXPECT_EQ(reading.status, c.status) << c.name;
        Warned warned;
        for (const auto& e : reading.warned) warned.emplace_back(e.name, e.reason);
        EXPECT_EQ(warned, c.warned) << c.name;
        EXPECT_EQ(reading.failure.empty(), c.failureHolds.empty()) << c.name << ": " << reading.failure;
        if (c.failureHolds.empty()) {
            EXPECT_EQ(reading.filesAdded, c.added) << c.name;
            continue;
        }
        for (const auto& part : c.failureHolds) EXPECT_NE(reading.failure.find(part), std::string::npos) << part;
        for (const auto& [path, word] : c.paths) EXPECT_EQ(reading.failure.find(path), std::string::npos) << c.name;
        // Of 7-Zip's lines that say "error", only those that begin with
        // "ERROR:" are kept: a name of the user's may be among the others.
        EXPECT_EQ(reading.failure.find("Headers Error"), std::string::npos) << reading.failure;
    }
}

}  // namespace
