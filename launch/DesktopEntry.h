#pragma once
// The program's place on the desktop: the id of its desktop entry, and
// whether a folder may be handed to the desktop's folder handler.
#include <string>
#include <string_view>

namespace tessarine {

// The desktop entry's file name without ".desktop" (also the AppStream id);
// the window program announces it to the desktop so that its windows find
// their icon and entry. desktop/CMakeLists.txt installs the entry under it.
inline constexpr std::string_view kDesktopFileId = "org.example.tessarine";

// True when `handler` (what `xdg-mime query default inode/directory` prints)
// names this program's own desktop entry: the current one, or
// "tessarine.desktop" of earlier installations, which claimed folders.
bool IsOwnDesktopEntry(std::string_view handler);

// Whether the destination folder may be handed to the desktop after a job.
// Not when the desktop's folder handler is this program: it would start a
// job on the product's folder, whose end opens that folder again, without
// end.
bool MayHandFolderToDesktop(std::string_view folderHandler);

// The desktop entry that opens folders, as `xdg-mime query default
// inode/directory` prints it (xdg-mime looked up in the absolute entries of
// PATH only); empty when it cannot be asked or names none.
std::string DefaultFolderHandler();

}  // namespace tessarine
