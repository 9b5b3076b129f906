// The folder selection dialog and the shared folder browser: the last
// selected folder is reported with a closing separator, also after cancel,
// and "決定" without browsing returns an empty folder.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QLineEdit>
#include <QPushButton>

#include <QLabel>

#include "app/ProgramStart.h"
#include "folders/Unit6.h"
#include "qt_test_support.h"
#include "test_support.h"

using tessarine::BrowsePath;
using tessarine::TForm6;

TEST(FolderSelectionDialog, AcceptWithoutBrowsingGivesEmptyFolder) {
    qttest::App();
    TForm6 dialog;
    EXPECT_FALSE(dialog.Accepted);
    EXPECT_TRUE(dialog.ChosenFolder.empty());
    EXPECT_TRUE(dialog.Edit1->isReadOnly());
    qttest::ModalScript script;
    script.Then([&](QDialog*) { dialog.Button1->click(); });
    dialog.exec();
    EXPECT_TRUE(dialog.Accepted);
    EXPECT_EQ(dialog.ChosenFolder, "");
}

TEST(FolderSelectionDialog, BrowsedFolderIsChosenWithClosingSeparator) {
    qttest::App();
    testsupport::TempDir dir;
    testsupport::MakeDir(dir.path() + "/Work");
    BrowsePath.clear();
    TForm6 dialog;
    qttest::ModalScript script;
    script.Then([&](QDialog*) { dialog.Button3->click(); }).Then([&](QDialog* browser) {
        auto* files = qobject_cast<QFileDialog*>(browser);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->windowTitle(), QStringLiteral("フォルダを選択してください"));
        files->setDirectory(QString::fromStdString(dir.path()));
        files->selectFile(QString::fromStdString(dir.path() + "/Work"));
        browser->accept();
    });
    // Once the browser has closed and filled the field, press "決定".
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!dialog.Edit1->text().isEmpty()) {
            poll.stop();
            dialog.Button1->click();
        }
    });
    poll.start(10);
    dialog.exec();
    EXPECT_TRUE(dialog.Accepted);
    EXPECT_EQ(dialog.ChosenFolder, dir.path() + "/Work/");
    EXPECT_EQ(BrowsePath, dir.path() + "/Work/");
}

TEST(FolderBrowser, CancelAfterSelectingStillReportsTheSelection) {
    qttest::App();
    testsupport::TempDir dir;
    testsupport::MakeDir(dir.path() + "/Picked");
    BrowsePath.clear();
    QLineEdit field;
    qttest::ModalScript script;
    script.Then([&](QDialog* browser) {
        auto* files = qobject_cast<QFileDialog*>(browser);
        ASSERT_NE(files, nullptr);
        files->setDirectory(QString::fromStdString(dir.path()));
        // The browser lists a folder in the background; select once listed,
        // as a user's click would.
        auto* view = files->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        auto* model = qobject_cast<QFileSystemModel*>(view->model());
        ASSERT_NE(model, nullptr);
        const QString picked = QString::fromStdString(dir.path() + "/Picked");
        qttest::WaitUntil([&] { return model->index(picked).isValid(); }, 2000);
        view->selectionModel()->setCurrentIndex(model->index(picked), QItemSelectionModel::ClearAndSelect);
        files->reject();
    });
    tessarine::BrowseFolder(nullptr, &field);
    EXPECT_EQ(field.text().toStdString(), dir.path() + "/Picked/");
}

TEST(FolderBrowser, NothingSelectedGivesTheRoot) {
    qttest::App();
    BrowsePath.clear();
    QLineEdit field;
    qttest::ModalScript script;
    script.Then([](QDialog* browser) { browser->reject(); });
    tessarine::BrowseFolder(nullptr, &field);
    EXPECT_EQ(field.text(), QStringLiteral("/"));
    EXPECT_EQ(BrowsePath, "/");
}

// The Qt folder chooser as a user meets it: the "Computer" entry, hidden
// folders, and its own texts in Japanese.
namespace {

QListView* SidebarOf(QFileDialog* files) { return files->findChild<QListView*>(QStringLiteral("sidebar")); }

// Clicks the sidebar entry without a file-system path ("Computer").
bool ClickComputer(QFileDialog* files) {
    QListView* sidebar = SidebarOf(files);
    if (!sidebar) return false;
    for (int row = 0; row < sidebar->model()->rowCount(); ++row) {
        const QModelIndex index = sidebar->model()->index(row, 0);
        if (index.data(Qt::UserRole + 1).toUrl().toLocalFile().isEmpty()) {
            sidebar->setCurrentIndex(index);
            emit sidebar->clicked(index);
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(FolderBrowser, ComputerEntryGivesTheRootOnCancelAndOnChoose) {
    qttest::App();
    testsupport::TempDir dir;
    testsupport::MakeDir(dir.path() + "/Picked");
    for (const bool choose : {false, true}) {
        BrowsePath = dir.path() + "/Picked/";
        QLineEdit field;
        qttest::ModalScript script;
        script.Then([&](QDialog* browser) {
            auto* files = qobject_cast<QFileDialog*>(browser);
            ASSERT_NE(files, nullptr);
            files->setDirectory(QString::fromStdString(dir.path() + "/Picked"));
            const bool clicked = ClickComputer(files);
            EXPECT_TRUE(clicked);
            if (choose && clicked) {
                static_cast<QDialog*>(files)->accept();   // "Choose"
                if (files->isVisible()) files->reject();  // it refused to close
            } else {
                files->reject();
            }
        });
        tessarine::BrowseFolder(nullptr, &field);
        EXPECT_EQ(field.text(), QStringLiteral("/")) << (choose ? "choose" : "cancel");
        // No box (such as "Directory not found") came up.
        EXPECT_EQ(script.Unexpected(), 0);
        EXPECT_TRUE(script.Done());
    }
}

TEST(FolderBrowser, HiddenFoldersAreOffered) {
    qttest::App();
    testsupport::TempDir dir;
    testsupport::MakeDir(dir.path() + "/.config");
    QLineEdit field;
    bool listed = false;
    qttest::ModalScript script;
    script.Then([&](QDialog* browser) {
        auto* files = qobject_cast<QFileDialog*>(browser);
        ASSERT_NE(files, nullptr);
        files->setDirectory(QString::fromStdString(dir.path()));
        auto* view = files->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        const QString hidden = QString::fromStdString(dir.path() + "/.config");
        listed = qttest::WaitUntil(
            [&] {
                const QModelIndex root = view->rootIndex();
                for (int row = 0; row < view->model()->rowCount(root); ++row) {
                    if (view->model()->index(row, 0, root).data().toString() == QStringLiteral(".config")) return true;
                }
                return false;
            },
            3000);
        files->reject();
    });
    tessarine::BrowseFolder(nullptr, &field);
    EXPECT_TRUE(listed);
}

TEST(FolderBrowser, QtsOwnTextsAreJapanese) {
    tessarine::SetUpApplication(qttest::App());
    QLineEdit field;
    std::vector<QString> texts;
    qttest::ModalScript script;
    script.Then([&](QDialog* browser) {
        for (auto* label : browser->findChildren<QLabel*>()) texts.push_back(label->text());
        for (auto* button : browser->findChildren<QPushButton*>()) texts.push_back(button->text());
        browser->reject();
    });
    tessarine::BrowseFolder(nullptr, &field);
    ASSERT_FALSE(texts.empty());
    for (const QString& text : texts) {
        for (const char* english : {"Look in:", "&Choose", "Choose", "Cancel", "Directory:"}) {
            EXPECT_NE(text, QString::fromLatin1(english));
        }
    }
}
