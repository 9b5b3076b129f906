// The table of the messages below the windows: each id has its texts, and a
// message renders its arguments, the system's words for its errno and its
// cause in the language asked for.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/message.h"

namespace tessarine {
namespace {

TEST(MessageText, RendersArgumentsErrorsAndCausesInBothLanguages) {
    const std::string noEntry = std::strerror(ENOENT);
    const Message cut = MakeMessage(MessageId::kDefectCopyMissing, {}, ENOENT);
    const struct {
        Message message;
        std::string ja, en;
    } cases[] = {
        {MakeMessage(MessageId::kCannotOpenFile, {"/u/a.dat"}), "ファイル /u/a.dat は開けません",
         "the file /u/a.dat cannot be opened"},
        // An argument that holds "%s" is never filled.
        {MakeMessage(MessageId::kNotEnoughSpace, {"1,024", "512", "/d/%s/"}),
         "保存先の空き容量が足りません (必要 1,024 バイト、空き 512 バイト): /d/%s/",
         "not enough free space on the destination (needed 1,024 bytes, free 512 bytes): /d/%s/"},
        {MakeMessage(MessageId::kDestinationFailed, {"/d/x"}, ENOSPC),
         "保存先に書き込めなくなったため、ジョブを中止しました (" + std::string(std::strerror(ENOSPC)) + "): /d/x",
         "the job was stopped: the destination could not be written any more (" + std::string(std::strerror(ENOSPC)) +
             "): /d/x"},
        {Because(MessageId::kVerifyFailed, cut, {"/d/p/a"}),
         "検証に失敗しました: /d/p/a (the copy is missing: " + noEntry + ")",
         "verification failed: /d/p/a (the copy is missing: " + noEntry + ")"},
        {Because(MessageId::kProblemsSummary, MakeMessage(MessageId::kSystemError, {}, EACCES), {"2", "/s/b"}),
         "2 件の項目を読み取り、作成またはコピーできませんでした。\n最初の項目: /s/b\n理由: " +
             std::string(std::strerror(EACCES)),
         "2 entries could not be read, created or copied.\nFirst: /s/b\nReason: " + std::string(std::strerror(EACCES))},
        {MakeMessage(MessageId::kText, {"7-Zip's words"}), "7-Zip's words", "7-Zip's words"},
        {Message{}, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RenderMessage(c.message, Language::kJapanese), c.ja);
        EXPECT_EQ(RenderMessage(c.message, Language::kEnglish), c.en);
    }
}

TEST(MessageText, EveryIdHasItsTexts) {
    const auto hasTexts = [](unsigned number) {
        const Message message = MakeMessage(static_cast<MessageId>(number));
        return RenderMessage(message, Language::kJapanese).rfind('#', 0) != 0 &&
               RenderMessage(message, Language::kEnglish).rfind('#', 0) != 0;
    };
    for (unsigned id = 1; id < static_cast<unsigned>(MessageId::kEngineEnd); ++id) EXPECT_TRUE(hasTexts(id)) << id;
    for (unsigned id = static_cast<unsigned>(MessageId::kArchiverFirst) + 1;
         id < static_cast<unsigned>(MessageId::kLast); ++id) {
        EXPECT_TRUE(hasTexts(id)) << id;
    }
}

}  // namespace
}  // namespace tessarine
