// The folder registration dialog on the offscreen platform.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>

#include "dialog_test_support.h"
#include "filters/Unit7.h"
#include "folders/Unit3.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::ScriptedPrompts;
using testsupport::WriteFile;

namespace {

class FolderDialogTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string list;
    ScriptedPrompts prompts;
    std::unique_ptr<TForm7> filters;
    std::unique_ptr<TForm3> form;
    int reloads = 0;

    void SetUp() override {
        testsupport::EnsureApplication();
        list = dir.path() + "/folderlist.dat";
        testsupport::MakeDir(dir.path() + "/data");
        WriteFile(dir.path() + "/data/text.dat", "");
        filters = std::make_unique<TForm7>();
        filters->DataFolder = dir.path() + "/data";
        form = std::make_unique<TForm3>(prompts, *filters);
        form->UserFolder = dir.path();
        form->LoadRegisteredFolders = [this] { ++reloads; };
    }
    void Confirm() {
        form->setResult(QDialog::Rejected);
        form->Button1Click();
    }
};

}  // namespace

TEST_F(FolderDialogTest, MissingFileDoesNotOpen) {
    EXPECT_FALSE(form->ShowFolderList("folderlist.dat"));
    EXPECT_EQ(prompts.errors, (std::vector<std::string>{"ファイル " + list + " は開けません"}));
}

TEST_F(FolderDialogTest, ConfirmRewritesInTheWritersForm) {
    WriteFile(list, "\"1\",\"Docs\",\"D\",\"text\",\"/home/u/Docs/\"\n\n\"x\",\"Old\",\"O\",\"\",\"/old/\",\"6\",");
    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    ASSERT_EQ(form->FolderList->rowCount(), 3);
    EXPECT_EQ(form->FolderList->item(0, 0)->checkState(), Qt::Checked);
    EXPECT_EQ(form->FolderList->item(0, 2)->text(), "text");
    EXPECT_EQ(form->FolderList->item(2, 0)->checkState(), Qt::Unchecked);
    Confirm();
    EXPECT_EQ(ReadFile(list),
              "\"1\",\"Docs\",\"D\",\"text\",\"/home/u/Docs/\",\r\n"
              "\"0\",\"\",\"\",\"\",\"\",\r\n"
              "\"0\",\"Old\",\"O\",\"\",\"/old/\",\r\n");
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(FolderDialogTest, NewRegistration) {
    WriteFile(list, "");
    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    form->Button3Click();  // folder dialog cancelled: no name prompt
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"folder"}));
    prompts.folders = {"/srv/a/"};
    form->Button3Click();  // name prompt cancelled: nothing added
    EXPECT_EQ(form->FolderList->rowCount(), 0);
    prompts.folders = {"/srv/a/", ""};
    prompts.names = {"Alpha", ""};
    form->Button3Click();
    form->Button3Click();  // an empty folder and name are taken as they come
    EXPECT_EQ(prompts.log.back(), "name:新規にフォルダを登録する:");
    Confirm();
    EXPECT_EQ(ReadFile(list), "\"1\",\"Alpha\",\"Alpha\",\"\",\"/srv/a/\",\r\n\"1\",\"\",\"\",\"\",\"\",\r\n");
}

TEST_F(FolderDialogTest, ContextActionsAndTicks) {
    WriteFile(list, "\"1\",\"A\",\"A\",\"\",\"/a/\",\r\n\"1\",\"B\",\"B\",\"text\",\"/b/\",\r\n");
    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    form->Rename1Click();  // no row selected: nothing asked
    EXPECT_TRUE(prompts.log.empty());

    form->FolderList->selectRow(0);
    prompts.names = {"Renamed", "file", std::nullopt};
    form->Rename1Click();
    form->SaveFileName1Click();
    form->SaveFileName1Click();  // cancelled: unchanged
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"name:名前を変更する:A", "name:保存ファイル名を変更する:A",
                                                     "name:保存ファイル名を変更する:file"}));
    form->FolderList->item(0, 0)->setCheckState(Qt::Unchecked);
    form->FolderList->selectRow(1);
    form->Delete1Click();
    Confirm();
    EXPECT_EQ(ReadFile(list), "\"0\",\"Renamed\",\"file\",\"\",\"/a/\",\r\n");
}

TEST_F(FolderDialogTest, FilterSelection) {
    WriteFile(list, "\"1\",\"B\",\"B\",\"text\",\"/b/\",\r\n");
    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    form->FolderList->selectRow(0);
    // "キャンセル" in the selection dialog leaves the filter.
    testsupport::WhenModal([this] { filters->Button2->click(); });
    form->SelectFilter1Click();
    EXPECT_EQ(form->Rows()[0].FilterName, "text");
    // The empty entry and "決定" clear it.
    testsupport::WhenModal([this] {
        EXPECT_EQ(filters->ComboBox1->currentIndex(), -1);  // nothing preselected
        filters->ComboBox1->setCurrentIndex(0);
        filters->Button1->click();
    });
    form->SelectFilter1Click();
    EXPECT_EQ(form->Rows()[0].FilterName, "");
    testsupport::WhenModal([this] {
        filters->ComboBox1->setCurrentIndex(1);
        filters->Button1->click();
    });
    form->SelectFilter1Click();
    EXPECT_EQ(form->Rows()[0].FilterName, "text");
}

TEST_F(FolderDialogTest, CancelAndWriteFailureKeepTheFile) {
    const std::string before = "\"1\",\"A\",\"A\",\"\",\"/a/\",\r\n";
    WriteFile(list, before);
    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    form->FolderList->selectRow(0);
    form->Delete1Click();
    form->Button2Click();
    EXPECT_EQ(ReadFile(list), before);
    EXPECT_EQ(reloads, 0);

    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    form->UserFolder = dir.path() + "/gone";
    Confirm();
    EXPECT_EQ(prompts.errors.back(), "ファイル " + dir.path() + "/gone/folderlist.dat を作成できません");
    EXPECT_EQ(form->result(), QDialog::Rejected);  // still open
    EXPECT_EQ(form->FolderList->rowCount(), 1);
    EXPECT_EQ(reloads, 0);
}

TEST_F(FolderDialogTest, PathBytesSurviveTheDialog) {
    // A folder name that is not valid UTF-8 is written back unchanged.
    const std::string line = "\"1\",\"X\",\"X\",\"\",\"/data/\xff\xfe/\",\r\n";
    WriteFile(list, line);
    ASSERT_TRUE(form->ShowFolderList("folderlist.dat"));
    Confirm();
    EXPECT_EQ(ReadFile(list), line);
}
