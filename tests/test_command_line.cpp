#include "archive/command_line.h"

#include <gtest/gtest.h>

using namespace tessarine;

TEST(CommandLine, QuotedNamesRoundTripEveryByte) {
    const std::vector<std::string> names = {
        "a.txt", "sub/b.txt", "with blank",  "quote\"inside", "back\\slash\\",         "-x", "@a",
        "*",     "?",         "line\nbreak", "日本語",        std::string("\xff\xfe"), "",   "trailing\\"};
    std::string line = "a -tzip -r \"/out/a.zip\" \"/src/\" ";
    for (const auto& n : names) line += "\"" + EscapeQuoted(n) + "\" ";
    const auto tokens = SplitCommandLine(line);
    ASSERT_EQ(tokens.size(), 5 + names.size());
    EXPECT_EQ(tokens[0], "a");
    EXPECT_EQ(tokens[3], "/out/a.zip");
    EXPECT_EQ(tokens[4], "/src/");
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(tokens[5 + i], names[i]) << i;
}

TEST(CommandLine, PasswordQuotedOnlyWhenItWouldSplit) {
    EXPECT_EQ(PasswordToken("tovk"), "tovk");
    EXPECT_EQ(PasswordToken("a\\b"), "a\\b");
    EXPECT_EQ(PasswordToken("two words"), "\"two words\"");
    EXPECT_EQ(PasswordToken("q\"uo\\te"), "\"q\\\"uo\\\\te\"");
    for (const std::string pw : {"tovk", "a\\b", "two words", "q\"uo\\te", " 日本 語 ", "\\\""}) {
        const auto tokens = SplitCommandLine("a -t7z -p" + PasswordToken(pw) + " -r \"x\"");
        ASSERT_EQ(tokens.size(), 5u) << pw;
        EXPECT_EQ(tokens[2], "-p" + pw);
    }
}

TEST(CommandLine, BlanksSeparateAndEmptyQuotedTokensCount) {
    EXPECT_EQ(SplitCommandLine("  a   b  "), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitCommandLine("a \"\" b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitCommandLine("").empty());
}

// The composer and the splitter must agree on every byte: a password that
// holds a tab was once cut at it.
TEST(CommandLine, PasswordAndNamesRoundTripEveryByteValue) {
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        for (const std::string& pw : {std::string(1, c), "a" + std::string(1, c) + "b", std::string(2, c) + " x"}) {
            const auto tokens = SplitCommandLine("a -t7z -p" + PasswordToken(pw) + " -r \"" + EscapeQuoted(pw) + "\" ");
            ASSERT_EQ(tokens.size(), 5u) << "byte " << b;
            EXPECT_EQ(tokens[2], "-p" + pw) << "byte " << b;
            EXPECT_EQ(tokens[4], pw) << "byte " << b;
        }
    }
}

// The views point into the line or into the rewritten tokens; those must
// stay where they are while more are added (short ones live inside their
// string object, so a growing array would move them away from their views).
TEST(CommandLine, ViewsStayValidAcrossManyRewrittenTokens) {
    std::vector<std::string> names;
    std::string line = "a -t7z -p\"two words\" ";
    for (int i = 0; i < 5000; ++i) {
        const std::string number = std::to_string(i);
        names.push_back(i % 3 == 0 ? "q\"" + number : i % 3 == 1 ? "b\\" + number : "p" + number);
        line += "\"" + EscapeQuoted(names.back()) + "\" ";
    }
    std::deque<std::string> rewritten;
    const auto views = SplitCommandLineViews(line, rewritten);
    ASSERT_EQ(views.size(), 3 + names.size());
    EXPECT_EQ(views[2], "-ptwo words");
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(views[3 + i], names[i]) << i;
}
