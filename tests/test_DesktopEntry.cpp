#include "launch/DesktopEntry.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace tessarine;

// Handing the destination to a folder handler that is this program starts a
// job on the product, whose end opens the folder again: an endless chain of
// ever larger archives.
TEST(DesktopEntry, TheFolderIsNotHandedToThisProgramItself) {
    const std::string own = std::string(kDesktopFileId) + ".desktop";
    EXPECT_FALSE(MayHandFolderToDesktop(own));
    EXPECT_FALSE(MayHandFolderToDesktop(own + "\n"));
    EXPECT_FALSE(MayHandFolderToDesktop("tessarine.desktop\n"));  // entry of earlier installations
    EXPECT_FALSE(MayHandFolderToDesktop(own + ";org.gnome.Nautilus.desktop;"));
}

TEST(DesktopEntry, FileManagersAndAnUnknownHandlerGetTheFolder) {
    EXPECT_TRUE(MayHandFolderToDesktop("org.gnome.Nautilus.desktop\n"));
    EXPECT_TRUE(MayHandFolderToDesktop("org.kde.dolphin.desktop;" + std::string(kDesktopFileId) + ".desktop"));
    EXPECT_TRUE(MayHandFolderToDesktop("my-tessarine.desktop"));
    EXPECT_TRUE(MayHandFolderToDesktop(""));
}

// The installation names the desktop entry after the id the program
// announces; were they to differ, the window would lose its icon and the
// check above would miss the installed entry.
TEST(DesktopEntry, TheInstalledEntryCarriesTheAnnouncedId) {
    const std::string entry =
        std::string(TESSARINE_SOURCE_DIR) + "/desktop/" + std::string(kDesktopFileId) + ".desktop.in";
    EXPECT_NE(testsupport::ReadFile(entry), "<missing>");
}

// The folder handler as the desktop reports it; a fake xdg-mime stands in.
TEST(DesktopEntry, DefaultFolderHandlerAsksXdgMime) {
    testsupport::TempDir dir;
    testsupport::WriteFile(
        dir.folder() + "xdg-mime",
        "#!/bin/sh\n[ \"$*\" = \"query default inode/directory\" ] && echo org.kde.dolphin.desktop\n");
    ::chmod((dir.folder() + "xdg-mime").c_str(), 0755);
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    ::setenv("PATH", ("relative:" + dir.path()).c_str(), 1);
    const std::string handler = DefaultFolderHandler();
    ::setenv("PATH", dir.folder().append("none").c_str(), 1);
    const std::string missing = DefaultFolderHandler();
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(handler, "org.kde.dolphin.desktop");
    EXPECT_EQ(missing, "");
}
