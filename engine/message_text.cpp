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
    // The job engine, the archive adapter, data files, launch rules.
    {MessageId::kCannotOpenFile, "ファイル %s は開けません", "the file %s cannot be opened"},
    {MessageId::kCannotCreateFile, "ファイル %s を作成できません", "the file %s cannot be created"},
    {MessageId::kCannotWriteTo, "%s に書き込めません", "cannot write to %s"},
    {MessageId::kFilterNameEmpty, "フィルタ名を入力してください。", "Enter a filter name."},
    {MessageId::kFilterNameHasSeparator, "フィルタ名に「/」は使えません。", "A filter name cannot hold \"/\"."},
    {MessageId::kUserFolderIsLink, "%s はシンボリックリンクなので使えません", "%s is a symbolic link and is not used"},
    {MessageId::kUserFolderOwnedByOther, "%s は他のユーザーのものなので使えません",
     "%s belongs to another user and is not used"},
    {MessageId::kUserFolderWritableByOthers, "%s は他のユーザーも書き込めるので使えません",
     "%s can be written by other users and is not used"},
    {MessageId::kPhaseCollectingFolders, "フォルダ情報取得中", "Collecting folders"},
    {MessageId::kPhaseCollectingFiles, "ファイル情報取得中", "Collecting files"},
    {MessageId::kPhaseCompressingZip, "ZIP圧縮中", "Compressing (ZIP)"},
    {MessageId::kPhaseCompressingSevenZip, "7-ZIP圧縮中", "Compressing (7z)"},
    {MessageId::kPhaseCompressingLha, "Lha圧縮中", "Compressing (LHA)"},
    {MessageId::kPhaseVerifying, "検証中", "Verifying"},
    {MessageId::kPhaseMakingFolders, "フォルダ作成中", "Creating folders"},
    {MessageId::kPhaseCopyingFiles, "ファイルコピー中", "Copying files"},
    {MessageId::kPleaseWait, "しばらくお待ちください", "please wait"},
    {MessageId::kNothingFound, "ファイルが見つかりませんでした", "No file was found"},
    {MessageId::kErrorCaption, "エラー", "Error"},
    {MessageId::kWarningCaption, "警告", "Warning"},
    {MessageId::kProblemsSummary, "%s 件の項目を読み取り、作成またはコピーできませんでした。\n最初の項目: %s\n理由: %c",
     "%s entries could not be read, created or copied.\nFirst: %s\nReason: %c"},
    {MessageId::kAttributesNotHeld, "%s 件の項目の%sは、保存先のファイルシステムが保存できないため省きました。",
     "%s entries: the destination's file system did not keep their %s."},
    {MessageId::kNotHeldPermissions, "アクセス権", "permissions"},
    {MessageId::kNotHeldOwners, "所有者", "owners"},
    {MessageId::kNotHeldLinkTimes, "リンクの日時", "link times"},
    {MessageId::kNotHeldExtendedAttributes, "拡張属性", "extended attributes"},
    {MessageId::kNotHeldAcls, "ACL", "ACLs"},
    {MessageId::kNotHeldJoin, "・", ", "},
    {MessageId::kOwnProductsLeftOut,
     "保存先がコピー元の中にあるため、以前に作成したものと作業中のフォルダ %s 件を対象から外しました。",
     "The destination lies inside the source: left out %s of its earlier products and working folders."},
    {MessageId::kArchiveNotMade, "書庫 %s は作成されませんでした", "the archive %s was not made"},
    {MessageId::kDestinationFailed, "保存先に書き込めなくなったため、ジョブを中止しました (%e): %s",
     "the job was stopped: the destination could not be written any more (%e): %s"},
    {MessageId::kOutOfMemory, "メモリーが足りなくなったため、ジョブを中止しました",
     "the job was stopped: it ran out of memory"},
    {MessageId::kNotPublished, "作成したもの %s を最終的な名前にできません: %e",
     "cannot give the product %s its final name: %e"},
    {MessageId::kLosesRenamedFolders,
     "保存先 %s のファイルシステムは名前を変えたフォルダの中身を失うため、コピーを作成できません（何も残していません）",
     "the file system of the destination %s loses the content of a folder that is renamed, so no copy was made "
     "(nothing was left there)"},
    {MessageId::kCannotMakeStaging, "保存先 %s に作業用フォルダを作成できません: %e",
     "cannot make a working folder in the destination %s: %e"},
    {MessageId::kNotEnoughSpace, "保存先の空き容量が足りません (必要 %s バイト、空き %s バイト): %s",
     "not enough free space on the destination (needed %s bytes, free %s bytes): %s"},
    {MessageId::kVerifyFailed, "検証に失敗しました: %s (%c)", "verification failed: %s (%c)"},
    {MessageId::kCannotMakeCopyFolder, "コピー先のフォルダ %s を作成できません: %e",
     "cannot make the copy's folder %s: %e"},
    {MessageId::kCopyIntoSource,
     "コピー先 %s はコピー元 %s と同じか、リンクを通してその中にあるため、コピーを中止しました",
     "the copy was stopped: its folder %s is the source %s or lies inside it through a link"},
    {MessageId::kCopyTargetNotRemoved,
     "コピー先 %s にあるリンクまたはファイルを取り除けないため、コピーを中止しました（何も書き込んでいません）: %e",
     "the copy was stopped: the link or file at %s cannot be removed (nothing was written): %e"},
    {MessageId::kCopyTargetOfOtherUser, "コピー先 %s は別のユーザーのフォルダのため、コピーを中止しました",
     "the copy was stopped: the folder %s belongs to another user"},
    {MessageId::kReplacedWhileRead, "読む間に別のものに替わりました", "replaced by something else while it was read"},
    {MessageId::kNameTakenBy, "保存先では %s と同じ名前になるため省きました",
     "left out: on the destination its name is the same as that of %s"},
    {MessageId::kNameTaken, "保存先では先に作成した項目と同じ名前になるため省きました",
     "left out: on the destination its name is the same as that of an entry made before"},
    {MessageId::kLeftOutWithFolder, "フォルダ %s を省いたため、その中のこの項目も省きました",
     "left out with the folder %s that holds it"},
    {MessageId::kNameRefused, "保存先のファイルシステム (%s) ではこの名前を使えないため省きました",
     "left out: the destination's file system (%s) cannot hold this name"},
    {MessageId::kTooLargeForFat, "保存先のファイルシステム (%s) は 4 GiB 以上のファイルを保存できないため省きました",
     "left out: the destination's file system (%s) cannot hold a file of 4 GiB or more"},
    {MessageId::kTooLargeForLha, "LHA 書庫には 4 GiB 以上のファイルを格納できないため省きました",
     "left out: an LHA archive cannot hold a file of 4 GiB or more"},
    {MessageId::kSevenZipNotFound, "lib7-zip32.soが見つかりませんでした。インストールしてください。",
     "lib7-zip32.so was not found. Please install it."},
    {MessageId::kLhaNotFound, "libunlha32.soが見つかりませんでした。インストールしてください。",
     "libunlha32.so was not found. Please install it."},
    {MessageId::kWithLoaderReason, "%c\n%s", "%c\n%s"},
    {MessageId::kSevenZipCallFailed, "lib7-zip32.so ERROR %s", "lib7-zip32.so ERROR %s"},
    {MessageId::kLhaCallFailed, "libunlha32.so Error %s", "libunlha32.so Error %s"},
    {MessageId::kStartItemEmpty, "起動時に指定されたパスが空です", "the path given at start is empty"},
    {MessageId::kStartItemMissing, "起動時に指定された「%s」が見つかりません", "\"%s\" given at start was not found"},
    {MessageId::kSourceNotGiven, "対象フォルダが指定されていません", "no source folder was given"},
    {MessageId::kSourceMissing, "対象フォルダ %s が見つかりません", "the source folder %s was not found"},
    {MessageId::kDestinationMissing, "保存先フォルダが見つかりません", "the destination folder was not found"},
    {MessageId::kFilterMissing, "拡張子フィルタが見つかりません", "the extension filter was not found"},
    {MessageId::kDestinationInsideSource,
     "保存先フォルダはリンクを通して対象フォルダの中を指しています。別の保存先を選んでください",
     "the destination folder points into the source folder through a link; choose another destination"},
    {MessageId::kConfirmCopy, "%s をコピーしますか？", "Copy %s?"},
    {MessageId::kConfirmZip, "%s をZIP圧縮しますか？", "Compress %s to ZIP?"},
    {MessageId::kConfirmLha, "%s をLha圧縮しますか？", "Compress %s to LHA?"},
    {MessageId::kConfirmSevenZip, "%s を7-ZIP圧縮しますか？", "Compress %s to 7z?"},
    {MessageId::kConfirmFileList, "%s のファイルリストを作成しますか？", "Make the file list of %s?"},
    {MessageId::kConfirmFolderList, "%s のフォルダリストを作成しますか？", "Make the folder list of %s?"},
    // The reasons a product fails its check read the same in both languages,
    // as the window has always shown them.
    {MessageId::kDefectSourceUnreadable, "the source cannot be read: %e", "the source cannot be read: %e"},
    {MessageId::kDefectSourceShorter, "the source became shorter", "the source became shorter"},
    {MessageId::kDefectCopyUnreadable, "the copy cannot be read: %e", "the copy cannot be read: %e"},
    {MessageId::kDefectCopyShorter, "the copy is shorter", "the copy is shorter"},
    {MessageId::kDefectContentDiffers, "the content differs at byte %s", "the content differs at byte %s"},
    {MessageId::kDefectSourceAttributesUnreadable, "the source's extended attributes cannot be read: %e",
     "the source's extended attributes cannot be read: %e"},
    {MessageId::kDefectCopyAttributesUnreadable, "the copy's extended attributes cannot be read: %e",
     "the copy's extended attributes cannot be read: %e"},
    {MessageId::kDefectAttributeMissing, "the extended attribute %s is missing",
     "the extended attribute %s is missing"},
    {MessageId::kDefectAttributeDiffers, "the extended attribute %s differs", "the extended attribute %s differs"},
    {MessageId::kDefectCopyMissing, "the copy is missing: %e", "the copy is missing: %e"},
    {MessageId::kDefectOtherKind, "the copy is of another kind", "the copy is of another kind"},
    {MessageId::kDefectOwnerDiffers, "the owner differs", "the owner differs"},
    {MessageId::kDefectLinkUnreadable, "the link cannot be read: %e", "the link cannot be read: %e"},
    {MessageId::kDefectLinkElsewhere, "the link points elsewhere", "the link points elsewhere"},
    {MessageId::kDefectLinkTimeDiffers, "the link's modification time differs", "the link's modification time differs"},
    {MessageId::kDefectModeDiffers, "the permission bits differ", "the permission bits differ"},
    {MessageId::kDefectTimeDiffers, "the modification time differs", "the modification time differs"},
    {MessageId::kDefectDeviceDiffers, "the device number differs", "the device number differs"},
    {MessageId::kDefectSizeDiffers, "the size differs", "the size differs"},
    {MessageId::kDefectFolderMissing, "the folder is missing: %e", "the folder is missing: %e"},
    {MessageId::kDefectNotFolder, "is not a folder", "is not a folder"},
    {MessageId::kDefectFolderUnreadable, "the folder cannot be read: %e", "the folder cannot be read: %e"},
    {MessageId::kDefectNo7zz, "the 7-Zip program 7zz was not found", "the 7-Zip program 7zz was not found"},
    {MessageId::kDefect7zzNotStarted, "7zz could not be started", "7zz could not be started"},
    {MessageId::kDefect7zzStatus, "7zz t ended with status %s", "7zz t ended with status %s"},
    {MessageId::kDefect7zzSignal, "7zz t was stopped by a signal", "7zz t was stopped by a signal"},
    {MessageId::kDefectNotCollectedFolder, "is not a collected folder", "is not a collected folder"},
    {MessageId::kDefectFalseUtf8Mark, "the name is marked as UTF-8 but is not",
     "the name is marked as UTF-8 but is not"},
    {MessageId::kDefectMissingUtf8Mark, "the UTF-8 name is not marked as UTF-8",
     "the UTF-8 name is not marked as UTF-8"},
    {MessageId::kDefectNotCollectedFile, "is not a collected file", "is not a collected file"},
    {MessageId::kDefectTwiceInArchive, "is in the archive twice", "is in the archive twice"},
    {MessageId::kDefectMissingFromArchive, "is missing from the archive", "is missing from the archive"},
    {MessageId::kDefectUnreadable, "cannot be read: %e", "cannot be read: %e"},
    {MessageId::kDefectMoreLines, "holds more lines than were collected", "holds more lines than were collected"},
    {MessageId::kDefectLineDiffers, "line %s of the list differs", "line %s of the list differs"},
    {MessageId::kDefectEndsInsideLine, "ends inside a line", "ends inside a line"},
    {MessageId::kDefectMissingFromList, "is missing from the list", "is missing from the list"},
    {MessageId::kDefectZipTooShort, "too short for a ZIP archive", "too short for a ZIP archive"},
    {MessageId::kDefectZipNoEnd, "the end of the central directory is missing",
     "the end of the central directory is missing"},
    {MessageId::kDefectZip64EndDamaged, "the ZIP64 end of the central directory is damaged",
     "the ZIP64 end of the central directory is damaged"},
    {MessageId::kDefectZipDirectoryOutside, "the central directory lies outside the archive",
     "the central directory lies outside the archive"},
    {MessageId::kDefectZipHeaderDamaged, "central header %s is damaged", "central header %s is damaged"},
    {MessageId::kDefectZipHeaderCut, "central header %s is cut short", "central header %s is cut short"},
    {MessageId::kDefectZipDirectoryTooLong, "the central directory holds more than its headers",
     "the central directory holds more than its headers"},
    {MessageId::kDefectLhaNoEndMark, "ends without its end mark", "ends without its end mark"},
    {MessageId::kDefectLhaDataAfterEnd, "holds data after its end mark", "holds data after its end mark"},
    {MessageId::kDefectLhaEndsInHeader, "ends inside a header", "ends inside a header"},
    {MessageId::kDefectLhaHeaderLevel, "has a header of level %s, not 2", "has a header of level %s, not 2"},
    {MessageId::kDefectLhaCannotRead, "cannot be read", "cannot be read"},
    {MessageId::kDefectLhaHeaderDamaged, "has a damaged header", "has a damaged header"},
    {MessageId::kDefectLhaHeaderCrc, "has a damaged header (CRC)", "has a damaged header (CRC)"},
    {MessageId::kDefectLhaCutShort, "is cut short", "is cut short"},
    {MessageId::kDefectLhaFolderWithData, "is a folder or link with data", "is a folder or link with data"},
    {MessageId::kDefectLhaTwoSizes, "is stored with two different sizes", "is stored with two different sizes"},
    {MessageId::kDefectLhaDoesNotDecode, "does not decode: %c", "does not decode: %c"},
    {MessageId::kDefectLhaNeedsMoreData, "needs more data than it holds", "needs more data than it holds"},
    {MessageId::kDefectLhaMethodNotChecked, "uses the method %s, which is not checked",
     "uses the method %s, which is not checked"},
    {MessageId::kDefectLhaWrongSize, "has the wrong size", "has the wrong size"},
    {MessageId::kDefectLhaWrongCrc, "has the wrong CRC-16", "has the wrong CRC-16"},
    {MessageId::kDecodeNoCodes, "a block of no codes", "a block of no codes"},
    {MessageId::kDecodeDamagedTables, "damaged code tables", "damaged code tables"},
    {MessageId::kDecodeInvalidCode, "an invalid code", "an invalid code"},
    {MessageId::kDecodeMatchBeforeStart, "a match before the start of the data",
     "a match before the start of the data"},
    {MessageId::kDecodeTooMuchData, "more data than the stored size", "more data than the stored size"},
    {MessageId::kDecodeReadError, "a read error", "a read error"},

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
    if (!message) return {};
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
