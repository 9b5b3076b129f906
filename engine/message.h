#pragma once
// What the code below the windows says: a message id with its arguments.
// Nothing below the windows builds a sentence and no front end reads one
// back; each front end renders a message from the one table of
// engine/message_text.cpp (the window in Japanese, tessarine-cli in the
// language of the locale).
//
// The numbers of the archiver libraries' reasons travel from a library to
// the adapter in the left-out list, so each keeps its number for good: add
// new ids at the end of their block.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessarine {

enum class MessageId : uint16_t {
    kNone = 0,
    // args[0] as it stands: text from outside the program (a loader's
    // reason, 7-Zip's own words).
    kText,
    // The system's words for `error` and nothing else.
    kSystemError,

    // --- the job engine, the archive adapter, data files, launch rules ---

    // Data files.
    kCannotOpenFile,
    kCannotCreateFile,
    kCannotWriteTo,
    kFilterNameEmpty,
    kFilterNameHasSeparator,
    // The user folder refused.
    kUserFolderIsLink,
    kUserFolderOwnedByOther,
    kUserFolderWritableByOthers,
    // The progress view.
    kPhaseCollectingFolders,
    kPhaseCollectingFiles,
    kPhaseCompressingZip,
    kPhaseCompressingSevenZip,
    kPhaseCompressingLha,
    kPhaseVerifying,
    kPhaseMakingFolders,
    kPhaseCopyingFiles,
    kPleaseWait,
    kNothingFound,
    kErrorCaption,
    kWarningCaption,
    kProblemsSummary,
    kAttributesNotHeld,
    kNotHeldPermissions,
    kNotHeldOwners,
    kNotHeldLinkTimes,
    kNotHeldExtendedAttributes,
    kNotHeldAcls,
    kNotHeldJoin,
    kOwnProductsLeftOut,
    // A job that stops.
    kArchiveNotMade,
    kDestinationFailed,
    kOutOfMemory,
    kNotPublished,
    kLosesRenamedFolders,
    kCannotMakeStaging,
    kNotEnoughSpace,
    kVerifyFailed,
    kCannotMakeCopyFolder,
    kCopyIntoSource,
    kCopyTargetNotRemoved,
    kCopyTargetOfOtherUser,
    // Entries left out of a product.
    kReplacedWhileRead,
    kNameTakenBy,
    kNameTaken,
    kLeftOutWithFolder,
    kNameRefused,
    kTooLargeForFat,
    kTooLargeForLha,
    // The archive adapter.
    kSevenZipNotFound,
    kLhaNotFound,
    kWithLoaderReason,
    kSevenZipCallFailed,
    kLhaCallFailed,
    // Launch rules.
    kStartItemEmpty,
    kStartItemMissing,
    kSourceNotGiven,
    kSourceMissing,
    kDestinationMissing,
    kFilterMissing,
    kDestinationInsideSource,
    kConfirmCopy,
    kConfirmZip,
    kConfirmLha,
    kConfirmSevenZip,
    kConfirmFileList,
    kConfirmFolderList,
    // Why a product does not read back as made.
    kDefectSourceUnreadable,
    kDefectSourceShorter,
    kDefectCopyUnreadable,
    kDefectCopyShorter,
    kDefectContentDiffers,
    kDefectSourceAttributesUnreadable,
    kDefectCopyAttributesUnreadable,
    kDefectAttributeMissing,
    kDefectAttributeDiffers,
    kDefectCopyMissing,
    kDefectOtherKind,
    kDefectOwnerDiffers,
    kDefectLinkUnreadable,
    kDefectLinkElsewhere,
    kDefectLinkTimeDiffers,
    kDefectModeDiffers,
    kDefectTimeDiffers,
    kDefectDeviceDiffers,
    kDefectSizeDiffers,
    kDefectFolderMissing,
    kDefectNotFolder,
    kDefectFolderUnreadable,
    kDefectNo7zz,
    kDefect7zzNotStarted,
    kDefect7zzStatus,
    kDefect7zzSignal,
    kDefectNotCollectedFolder,
    kDefectFalseUtf8Mark,
    kDefectMissingUtf8Mark,
    kDefectNotCollectedFile,
    kDefectTwiceInArchive,
    kDefectMissingFromArchive,
    kDefectUnreadable,
    kDefectMoreLines,
    kDefectLineDiffers,
    kDefectEndsInsideLine,
    kDefectMissingFromList,
    kDefectZipTooShort,
    kDefectZipNoEnd,
    kDefectZip64EndDamaged,
    kDefectZipDirectoryOutside,
    kDefectZipHeaderDamaged,
    kDefectZipHeaderCut,
    kDefectZipDirectoryTooLong,
    kDefectLhaNoEndMark,
    kDefectLhaDataAfterEnd,
    kDefectLhaEndsInHeader,
    kDefectLhaHeaderLevel,
    kDefectLhaCannotRead,
    kDefectLhaHeaderDamaged,
    kDefectLhaHeaderCrc,
    kDefectLhaCutShort,
    kDefectLhaFolderWithData,
    kDefectLhaTwoSizes,
    kDefectLhaDoesNotDecode,
    kDefectLhaNeedsMoreData,
    kDefectLhaMethodNotChecked,
    kDefectLhaWrongSize,
    kDefectLhaWrongCrc,
    kDecodeNoCodes,
    kDecodeDamagedTables,
    kDecodeInvalidCode,
    kDecodeMatchBeforeStart,
    kDecodeTooMuchData,
    kDecodeReadError,
    kEngineEnd,  // one past the block's last id; not a message

    // --- reasons of the archiver libraries (numbers travel between the
    // libraries and the adapter) ---
    kArchiverFirst = 500,
    // Why an entry is not in the archive. No arguments unless named.
    kArchiverNamedPipe,
    kArchiverDevice,
    kArchiverSocket,
    kArchiverSpecialFile,
    kArchiverFolder,            // LHA stores files and links only
    kArchiverNoName,            // an empty name on the command line
    kArchiverNameTooLong,       // longer than a 7zz argument may be
    kArchiverFolderDeep,        // a folder beneath PATH_MAX
    kArchiverLinkDeep,          // a link beneath PATH_MAX
    kArchiverNotAdded,          // 7zz named it without a reason
    kArchiverChangedWhileRead,  // swapped for something else while it was read
    kArchiverUnreadable,        // reading it failed half way
    kArchiverTooLarge,          // 4 GiB or more for an LHA member
    kArchiverUnsafeName,        // nothing left to store, or ".." leading out
    kArchiverHeaderTooLong,     // the path does not fit in an LHA header
    kArchiverLinkBar,           // an LHA link's name holds "|"
    kArchiverLinkEmptyTarget,   // an LHA link with no target
    kArchiverLinkByteFF,        // 0xFF separates folders in LHA
    kArchiverLinkNotUtf8,
    // Why a command line is not carried out.
    kArchiverNoCommandLine,
    kArchiverUnknownCommand,  // args: the command
    kArchiverUnknownSwitch,   // args: the switch
    kArchiverNoArchivePath,
    kArchiverTooManyNames,
    kArchiverNothingToAdd,

    kLast  // one past the last id; not a message
};

// The engine's block must end before the libraries' numbers begin.
static_assert(MessageId::kEngineEnd <= MessageId::kArchiverFirst);

struct Message {
    MessageId id = MessageId::kNone;
    // Fill the text's "%s" in order: paths as their bytes, numbers as
    // decimal text.
    std::vector<std::string> args;
    // The errno the system answered with; "%e" in the text stands for the
    // system's words for it.
    int error = 0;
    // "%c" in the text stands for this message rendered: the reason a
    // wrapping message gives ("the job stopped: <cause>").
    std::shared_ptr<const Message> cause;

    explicit operator bool() const { return id != MessageId::kNone; }
    bool operator==(const Message& other) const;
};

Message MakeMessage(MessageId id, std::vector<std::string> args = {}, int error = 0);
// `id` with `cause` as its "%c".
Message Because(MessageId id, Message cause, std::vector<std::string> args = {});

enum class Language { kJapanese, kEnglish };

// The message as a sentence in `language`. An id the table does not know
// (a newer library's reason) is rendered with its number.
std::string RenderMessage(const Message& message, Language language = Language::kJapanese);

}  // namespace tessarine
