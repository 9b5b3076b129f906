#include "engine/job_mode.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

using namespace tessarine;

namespace {

// Every row is found again by its stored number and by its --mode name, so
// no two rows share either; the numbers are the ones set.ini holds.
TEST(JobModeTable, EveryRowIsFoundByItsNumberAndName) {
    std::set<int32_t> numbers;
    for (const JobModeInfo& row : JobModes()) {
        const int32_t number = NumberOf(row.mode);
        numbers.insert(number);
        EXPECT_EQ(FindJobMode(number), &row) << number;
        EXPECT_EQ(FindJobModeByName(row.commandLineName), &row) << number;
        EXPECT_EQ(&JobModeRow(JobModeOfNumber(number)), &row) << number;
    }
    EXPECT_EQ(numbers, (std::set<int32_t>{0, 1, 2, 3, 4, 5, 11, 12}));
    for (const int32_t unknown : {-1, 6, 10, 13}) {
        EXPECT_EQ(FindJobMode(unknown), nullptr) << unknown;
        EXPECT_THROW(JobModeRow(JobModeOfNumber(unknown)), std::invalid_argument) << unknown;
    }
    EXPECT_EQ(FindJobModeByName("ZIP"), nullptr);
    EXPECT_EQ(FindJobModeByName(""), nullptr);
}

// The columns of a row agree: an archive has a format, the library that
// writes it and an extension; a password only where 7-Zip takes one; each
// kind is read back by a check made for it.
TEST(JobModeTable, ColumnsOfARowAgree) {
    for (const JobModeInfo& row : JobModes()) {
        const int32_t number = NumberOf(row.mode);
        const bool archive = row.kind == ProductKind::kArchive;
        EXPECT_EQ(archive, row.format != ArchiveFormat::kNone) << number;
        const ArchiverLibrary writer = row.format == ArchiveFormat::kLha    ? ArchiverLibrary::kLha
                                       : row.format == ArchiveFormat::kNone ? ArchiverLibrary::kNone
                                                                            : ArchiverLibrary::kSevenZip;
        EXPECT_EQ(row.library, writer) << number;
        EXPECT_EQ(row.extension.empty(), row.kind == ProductKind::kCopyFolder) << number;
        EXPECT_TRUE(!row.password || row.library == ArchiverLibrary::kSevenZip) << number;
        EXPECT_EQ(row.entries == ProductEntries::kFoldersAndFiles, row.kind == ProductKind::kCopyFolder) << number;
        EXPECT_EQ(row.verification == Verification::kListFile, row.kind == ProductKind::kList) << number;
        EXPECT_EQ(row.verification == Verification::kCopyTree, row.kind == ProductKind::kCopyFolder) << number;
        EXPECT_EQ(row.verification == Verification::kLhaTest, row.format == ArchiveFormat::kLha) << number;
        EXPECT_EQ(row.verification == Verification::kSevenZipTestAndZipNames, row.format == ArchiveFormat::kZip)
            << number;
        EXPECT_EQ(RenderMessage(MakeMessage(row.question, {"D"})).substr(0, 2), "D ") << number;
    }
}

}  // namespace
