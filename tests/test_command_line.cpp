#include "archive/command_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "archive/archive_request.h"
#include "archive/left_out.h"

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

// The adapter's command lines for each library, and the lines a library
// refuses, read into requests.
TEST(CommandLine, ArchiveRequestsOfBothLibraries) {
    using Names = std::vector<std::string_view>;
    struct Case {
        std::string line;
        ArchiverDialect dialect;
        MessageId failure;
        ArchiveType type = ArchiveType::kLha;
        std::optional<std::string> password = std::nullopt;
        Names entries = {};
    };
    const std::vector<Case> cases = {
        {"a -tzip -r \"/o/a.zip\" \"/s/\" \"a.txt\" \"-x\" \"\" \"a.txt\" ",
         ArchiverDialect::kSevenZip,
         MessageId::kNone,
         ArchiveType::kZip,
         std::nullopt,
         {"a.txt", "-x", "", "a.txt"}},
        {"a -t7z -p\"two \\\"words\" -r \"/o/a\" \"/s/\" \"q\\\"uote\"",
         ArchiverDialect::kSevenZip,
         MessageId::kNone,
         ArchiveType::kSevenZip,
         "two \"words",
         {"q\"uote"}},
        // Without -t the extension tells; an empty -p is still a password.
        {"A -p -r \"/o/a.ZIP\" \"/s/\" \"b\"",
         ArchiverDialect::kSevenZip,
         MessageId::kNone,
         ArchiveType::kZip,
         "",
         {"b"}},
        {"a -a1 -r2 -x1 -l1 -jp1 -o2 -ji0 \"/o/a.lzh\" \"/s/\" \"c\"",
         ArchiverDialect::kLha,
         MessageId::kNone,
         ArchiveType::kLha,
         std::nullopt,
         {"c"}},
        {"", ArchiverDialect::kLha, MessageId::kArchiverNoCommandLine},
        {"x \"/o/a.zip\" \"/s/\" \"b\"", ArchiverDialect::kSevenZip, MessageId::kArchiverUnknownCommand},
        {"a -tzip \"/o/a.lzh\" \"/s/\" \"b\"", ArchiverDialect::kLha, MessageId::kArchiverUnknownSwitch},
        {"a -a1 \"/o/a.lzh\" \"/s/\" \"b\"", ArchiverDialect::kSevenZip, MessageId::kArchiverUnknownSwitch},
        {"a -tzip \"/o/a.zip\"", ArchiverDialect::kSevenZip, MessageId::kArchiverNoArchivePath},
        {"a -tzip \"/o/a.zip\" \"/s/\" ", ArchiverDialect::kSevenZip, MessageId::kArchiverNothingToAdd},
    };
    for (const auto& c : cases) {
        ParsedArchiveRequest parsed = ParseArchiveRequest(c.line, c.dialect);
        EXPECT_EQ(parsed.failure.id, c.failure) << c.line;
        if (c.failure != MessageId::kNone) continue;
        // Moved, the request keeps its names.
        const ArchiveRequest request = std::move(parsed.request);
        EXPECT_EQ(request.type, c.type) << c.line;
        EXPECT_EQ(request.archive.substr(0, 3), "/o/") << c.line;
        EXPECT_EQ(request.baseFolder, "/s/") << c.line;
        EXPECT_EQ(request.password, c.password) << c.line;
        EXPECT_EQ(request.entries, c.entries) << c.line;
    }
}

// Left-out records carry the reason's id, errno and arguments; a list cut
// anywhere keeps its whole records, and an id this side does not know
// arrives as it is.
TEST(CommandLine, LeftOutRecordsKeepTheirReasons) {
    Message unknown;
    unknown.id = static_cast<MessageId>(4321);
    unknown.args = {"x"};
    const std::vector<LeftOutEntry> entries = {
        {"gone.txt", MakeMessage(MessageId::kSystemError, {}, ENOENT)},
        {"", MakeMessage(MessageId::kArchiverNamedPipe)},
        {"dir/with\nbreak", MakeMessage(MessageId::kArchiverUnknownSwitch, {"-q", ""})},
        {"newer", unknown},
    };
    const std::string records = EncodeLeftOut(entries);
    size_t whole = 0;
    for (size_t cut = 0; cut <= records.size(); ++cut) {
        const auto decoded = DecodeLeftOut(std::string_view(records).substr(0, cut));
        if (whole < entries.size() && cut == EncodeLeftOut({entries.begin(), entries.begin() + whole + 1}).size())
            ++whole;
        ASSERT_EQ(decoded.size(), whole) << cut;
        for (size_t k = 0; k < whole; ++k) {
            EXPECT_EQ(decoded[k].name, entries[k].name);
            EXPECT_EQ(decoded[k].reason, entries[k].reason) << k;
        }
    }
    EXPECT_EQ(RenderMessage(DecodeLeftOut(records)[0].reason), "No such file or directory");
    EXPECT_EQ(RenderMessage(DecodeLeftOut(records)[3].reason), "#4321");
    // A garbled record ends the list.
    EXPECT_TRUE(DecodeLeftOut(std::string("a\0seven\0"
                                          "0\0"
                                          "0\0",
                                          12))
                    .empty());
}
