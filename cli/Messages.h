#pragma once
// The command-line program's messages, in Japanese when the locale is
// Japanese and in English otherwise. Every text the program itself writes
// is in the one table of Messages.cpp, in both languages.
#include <string>
#include <string_view>
#include <vector>

#include "engine/message.h"

namespace tessarine::cli {

using tessarine::Message;

enum class Msg {
    Usage,
    Version,
    NeedsValue,
    TakesNoValue,
    UnknownMode,
    FilterNeedsName,
    StampTakes,
    UnknownOption,
    OneFolderOnly,
    NoFolder,
    UserFolderEmpty,
    UserFolderNotFolder,
    SettingsUnreadable,
    FolderListUnreadable,
    NoSuchItem,
    NoDestination,
    NoPasswordInput,
    PasswordEmpty,
    PasswordLineBreak,
    PasswordNul,
    PasswordTooLong,
    PasswordPrompt,
    NotStarted,
    UnknownSettingsMode,
    NotCreated,
    Interrupted,
    DryRunWouldMake,
    DryRunCounts,
    DryRunNothing,
    CollectingFolders,
    CollectingFiles,
    CompressingZip,
    CompressingSevenZip,
    CompressingLha,
    Verifying,
    MakingFolders,
    CopyingFiles,
    NothingFound,
    ErrorCaption,
    OwnProductsLeftOut,
    AttributesNotHeld,
    NotHeldPermissions,
    NotHeldOwners,
    NotHeldLinkTimes,
    NotHeldExtendedAttributes,
    NotHeldAcls,
    NotHeldJoin,
    Count
};

// True when LC_ALL, else LC_MESSAGES, else LANG (the first of them that is
// set and not empty) begins with "ja".
bool LocaleIsJapanese();

// Chooses the language of Text(); the program calls it once at its start.
void SetJapanese(bool japanese);
bool Japanese();

// The message in the chosen language, each "%s" replaced by the next
// argument in turn.
std::string Text(Msg id, const std::vector<std::string>& args = {});

// A message of the job engine, the data files or the launch rules in the
// chosen language.
std::string Render(const Message& message);

}  // namespace tessarine::cli
