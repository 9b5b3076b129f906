// The one table of the program's messages below the windows, in Japanese
// (the window's language) and English, and how a message becomes a
// sentence.
#include <array>
#include <cstring>

#include "engine/message.h"

namespace tessarine {

namespace {

struct Text {
    MessageId id;
    const char* ja;
    const char* en;
};

// "%s": the next argument; "%e": the system's words for the error;
// "%c": the cause, rendered.
constexpr Text kTexts[] = {
    {MessageId::kText, "%s", "%s"},
    {MessageId::kSystemError, "%e", "%e"},

    // --- the archiver libraries' reasons ---
    {MessageId::kArchiverNamedPipe, "名前付きパイプ", "named pipe"},
    {MessageId::kArchiverDevice, "デバイス", "device"},
    {MessageId::kArchiverSocket, "ソケット", "socket"},
    {MessageId::kArchiverSpecialFile, "特殊なファイル", "special file"},
    {MessageId::kArchiverFolder, "フォルダー", "folder"},
    {MessageId::kArchiverNoName, "名前がありません", "no name"},
    {MessageId::kArchiverNameTooLong, "名前が長すぎて 7-Zip に渡せません (64 KiB まで)",
     "the name is too long to hand to 7-Zip (64 KiB at most)"},
    {MessageId::kArchiverFolderDeep, "PATH_MAX より深いフォルダーは名前では渡せません",
     "a folder deeper than PATH_MAX cannot be handed over by its name"},
    {MessageId::kArchiverLinkDeep, "PATH_MAX より深いリンクは 7-Zip ではリンクとして保存できません",
     "7-Zip cannot store a link deeper than PATH_MAX as a link"},
    {MessageId::kArchiverNotAdded, "7-Zip could not add it", "7-Zip could not add it"},
    {MessageId::kArchiverChangedWhileRead, "読む間に別のものに替わりました",
     "replaced by something else while it was read"},
    {MessageId::kArchiverUnreadable, "読み取りに失敗しました", "reading it failed"},
    {MessageId::kArchiverTooLarge, "is 4 GiB or larger", "is 4 GiB or larger"},
    {MessageId::kArchiverUnsafeName, "has a name that cannot be stored (empty, or leading out with \"..\")",
     "has a name that cannot be stored (empty, or leading out with \"..\")"},
    {MessageId::kArchiverHeaderTooLong, "has a path (with a link's target) longer than an LHA header holds (64 KiB)",
     "has a path (with a link's target) longer than an LHA header holds (64 KiB)"},
    {MessageId::kArchiverLinkBar, "リンクの名前に「|」があり、LHA のリンクとして書けません",
     "the link's name holds \"|\", which an LHA link cannot carry"},
    {MessageId::kArchiverLinkEmptyTarget, "リンク先が空です", "the link's target is empty"},
    {MessageId::kArchiverLinkByteFF, "リンクの名前かリンク先に、LHA がフォルダーの区切りに使うバイト 0xFF があります",
     "the link's name or target holds the byte 0xFF, which LHA uses to separate folders"},
    {MessageId::kArchiverLinkNotUtf8, "リンクの名前かリンク先が UTF-8 でなく、読む側によってリンク先が変わります",
     "the link's name or target is not UTF-8, so readers would take it to point elsewhere"},
    {MessageId::kArchiverNoCommandLine, "コマンドラインがありません", "no command line"},
    {MessageId::kArchiverUnknownCommand, "対応していないコマンドです (使えるのは a だけです): %s",
     "unknown command \"%s\""},
    {MessageId::kArchiverUnknownSwitch, "対応していないスイッチです: %s", "unknown switch \"%s\""},
    {MessageId::kArchiverNoArchivePath, "書庫のパスと基準フォルダーが必要です", "archive path or base folder missing"},
    {MessageId::kArchiverTooManyNames, "名前が多すぎます", "too many names"},
    {MessageId::kArchiverNothingToAdd, "圧縮するファイルがありません", "no files to add"},
};

const Text* Find(MessageId id) {
    for (const Text& text : kTexts)
        if (text.id == id) return &text;
    return nullptr;
}

}  // namespace

bool Message::operator==(const Message& other) const {
    if (id != other.id || args != other.args || error != other.error) return false;
    if (!cause || !other.cause) return !cause && !other.cause;
    return *cause == *other.cause;
}

Message MakeMessage(MessageId id, std::vector<std::string> args, int error) {
    Message message;
    message.id = id;
    message.args = std::move(args);
    message.error = error;
    return message;
}

Message Because(MessageId id, Message cause, std::vector<std::string> args) {
    Message message = MakeMessage(id, std::move(args));
    message.cause = std::make_shared<const Message>(std::move(cause));
    return message;
}

std::string RenderMessage(const Message& message, Language language) {
    const Text* text = Find(message.id);
    if (!text) return "#" + std::to_string(static_cast<unsigned>(message.id));
    const std::string_view pattern = language == Language::kJapanese ? text->ja : text->en;
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        switch (pattern[++i]) {
            case 's':
                if (next < message.args.size()) out += message.args[next++];
                break;
            case 'e': out += std::strerror(message.error); break;
            case 'c':
                if (message.cause) out += RenderMessage(*message.cause, language);
                break;
            default: out += '%', out += pattern[i];
        }
    }
    return out;
}

}  // namespace tessarine
