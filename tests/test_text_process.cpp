#include "engine/text_process.h"

#include <gtest/gtest.h>

using tessarine::GetField;
using tessarine::ReadField;
using tessarine::ReplaceAll;

namespace {
const std::string kSep = "\",";
}

TEST(GetField, DateRowKeepsOpeningQuoteAndDropsClosingOne) {
    const std::string row = "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"";
    EXPECT_EQ(GetField(1, row, kSep), "\"2");
    EXPECT_EQ(GetField(3, row, kSep), "\"日付フィルタ");
    EXPECT_EQ(GetField(5, row, kSep), "\"0");
    EXPECT_EQ(GetField(6, row, kSep), "");
    EXPECT_EQ(ReadField(3, row), "日付フィルタ");
}

TEST(GetField, TrailingCommaGivesTheSameFields) {
    const std::string with = "\"1\",\"1\",\"テキスト\",\"txt\",";
    const std::string without = "\"1\",\"1\",\"テキスト\",\"txt\"";
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(ReadField(n, with), ReadField(n, without)) << n;
    EXPECT_EQ(ReadField(4, with), "txt");
    // The comma opens one more, empty, field.
    EXPECT_EQ(GetField(5, with, kSep), "");
}

TEST(GetField, EmptyAndMissingFields) {
    EXPECT_EQ(ReadField(2, "\"a\",\"\",\"c\","), "");
    EXPECT_EQ(ReadField(3, "\"a\",\"\",\"c\","), "c");
    EXPECT_EQ(ReadField(9, "\"a\","), "");
    EXPECT_EQ(GetField(1, "", kSep), "");
    EXPECT_EQ(GetField(0, "\"a\",", kSep), "");
    EXPECT_EQ(GetField(-3, "\"a\",", kSep), "");
}

TEST(GetField, LineIsTrimmedButBlankAfterSeparatorBelongsToNextField) {
    EXPECT_EQ(ReadField(1, "  \t\"a\",\"b\",\r\n"), "a");
    EXPECT_EQ(ReadField(2, "\"a\", \"b\","), " b");
}

TEST(GetField, ValuesWithCommasQuotesAndMultiByteEndings) {
    EXPECT_EQ(ReadField(5, "\"1\",\"n\",\"s\",\"f\",\"/home/a,b/\","), "/home/a,b/");
    EXPECT_EQ(ReadField(1, "\"say \"hi\" now\","), "say hi now");
    // A value ending in a multi-byte character keeps it whole.
    EXPECT_EQ(ReadField(1, "\"写真\",\"x\","), "写真");
    EXPECT_EQ(ReadField(2, "\"x\",\"😀\","), "😀");
}

TEST(GetField, UnquotedLineIsOneFieldMissingItsLastCharacter) {
    EXPECT_EQ(GetField(1, "plain text", kSep), "plain tex");
    EXPECT_EQ(GetField(2, "plain text", kSep), "");
    // The last character goes whole, never half of it.
    EXPECT_EQ(GetField(1, "abc写", kSep), "abc");
}

TEST(GetField, OtherSeparatorLengths) {
    EXPECT_EQ(GetField(2, "a;b;c", ";"), "b");
    EXPECT_EQ(GetField(3, "a;b;c", ";"), "c");
    // S = 3: the first two characters of the separator stay in the field
    // until recognised, and S-1 of them are dropped at the end.
    EXPECT_EQ(GetField(1, "ab::|cd", "::|"), "ab");
    EXPECT_EQ(GetField(2, "ab::|cd", "::|"), "");  // "cd" minus two characters
    EXPECT_EQ(GetField(1, "ab区切cd", "区切"), "ab");
    EXPECT_EQ(GetField(2, "ab区切cde", "区切"), "cd");
}

TEST(GetField, KeepsTwentyFiveFields) {
    std::string line;
    for (int i = 1; i <= 30; ++i) line += "\"" + std::to_string(i) + "\",";
    EXPECT_EQ(ReadField(25, line), "25");
    EXPECT_EQ(ReadField(26, line), "");
}

TEST(GetField, InvalidUtf8BytesAreWalkedOneByOne) {
    const std::string line = "\"a\xff\xfe\",\"\xe3\x81\",";
    EXPECT_EQ(ReadField(1, line), "a\xff\xfe");
    EXPECT_EQ(ReadField(2, line), "\xe3\x81");
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutOverlap) {
    EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("\"x\"y\"", "\"", ""), "xy");
    EXPECT_EQ(ReplaceAll("abc", "", "z"), "abc");
    EXPECT_EQ(ReplaceAll("", "a", "z"), "");
    EXPECT_EQ(ReplaceAll("a.b", ".", "..."), "a...b");
    EXPECT_EQ(ReplaceAll("日本語の本", "本", "ほん"), "日ほん語のほん");
}
