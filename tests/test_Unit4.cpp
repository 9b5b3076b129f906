// The filter editor and the filter selection dialog on the offscreen
// platform: loading, switching, saving, creating and failures.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "dialog_test_support.h"
#include "engine/Common.h"
#include "filters/Unit4.h"
#include "filters/Unit7.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::ScriptedPrompts;
using testsupport::WriteFile;

namespace {

const std::string kDateRow = "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n";

class FilterEditorTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string data;
    ScriptedPrompts prompts;
    std::unique_ptr<TForm4> form;
    int reloads = 0;

    void SetUp() override {
        testsupport::EnsureApplication();
        data = dir.path() + "/data";
        testsupport::MakeDir(data);
        WriteFile(data + "/text.dat", kDateRow + "\"1\",\"1\",\"Text\",\"txt\",\r\n\"1\",\"0\",\"Word\",\"doc\",\r\n");
        form = std::make_unique<TForm4>(prompts);
        form->DataFolder = data;
        form->LoadFilterNames = [this] { ++reloads; };
    }
    void AddImages() { WriteFile(data + "/images.dat", kDateRow + "\"1\",\"1\",\"PNG\",\"png\",\r\n"); }
    void Pick(const QString& name) {
        const int index = form->ComboBox1->findText(name);
        ASSERT_GE(index, 0);
        form->ComboBox1->setCurrentIndex(index);
        form->ComboBox1Change(index);
    }
};

}  // namespace

TEST_F(FilterEditorTest, OpensOnTheNamedOrTheFirstFilter) {
    ASSERT_TRUE(form->ListFilters(""));
    EXPECT_EQ(form->LoadedFilterName, "text");
    ASSERT_EQ(form->ExtList->rowCount(), 2);
    EXPECT_EQ(form->ExtList->item(1, 1)->text(), "doc");
    EXPECT_EQ(form->ExtList->item(1, 0)->checkState(), Qt::Unchecked);
    EXPECT_FALSE(form->Modified);

    AddImages();
    ASSERT_TRUE(form->ListFilters("IMAGES"));  // letter case ignored
    EXPECT_EQ(form->LoadedFilterName, "images");
    ASSERT_TRUE(form->ListFilters("removed"));
    EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
}

TEST_F(FilterEditorTest, ClickingARowThenSwitchingAsksAndRewrites) {
    AddImages();
    ASSERT_TRUE(form->ListFilters("text"));
    form->ExtList->setCurrentCell(1, 0);  // only a click, no edit
    EXPECT_TRUE(form->Modified);
    prompts.confirms = {true};
    Pick("images");
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"confirm:textを保存しますか？"}));
    EXPECT_EQ(ReadFile(data + "/text.dat"),
              kDateRow + "\"1\",\"1\",\"Text\",\"txt\",\r\n\"1\",\"0\",\"Word\",\"doc\",\r\n");
    EXPECT_EQ(form->LoadedFilterName, "images");
    EXPECT_FALSE(form->Modified);
}

TEST_F(FilterEditorTest, AnsweringNoDropsTheChanges) {
    AddImages();
    ASSERT_TRUE(form->ListFilters("text"));
    const std::string before = ReadFile(data + "/text.dat");
    form->ExtList->item(0, 0)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(form->Modified);
    prompts.confirms = {false};
    Pick("images");
    EXPECT_EQ(ReadFile(data + "/text.dat"), before);
    EXPECT_EQ(form->LoadedFilterName, "images");
    EXPECT_EQ(form->ExtList->rowCount(), 1);
}

TEST_F(FilterEditorTest, RowEditsAndSave) {
    ASSERT_TRUE(form->ListFilters("text"));
    // New row: cancelled at either step adds nothing.
    prompts.names = {std::nullopt};
    form->AddRow1Click();
    prompts.names = {"Excel", std::nullopt};
    form->AddRow1Click();
    EXPECT_EQ(form->ExtList->rowCount(), 2);
    EXPECT_FALSE(form->Modified);
    prompts.names = {"Excel", "xlsx"};
    form->AddRow1Click();
    ASSERT_EQ(form->ExtList->rowCount(), 3);

    form->ExtList->selectRow(0);
    prompts.names = {"Plain text"};
    form->RenameSetting1Click();
    prompts.names = {"text"};
    form->ChangeExt1Click();
    form->ExtList->selectRow(1);
    prompts.confirms = {false, true};
    form->Delete1Click();  // "いいえ": the row stays
    form->Delete1Click();
    EXPECT_EQ(prompts.log[prompts.log.size() - 1], "confirm:リストから「Word」を削除しますか？");

    prompts.confirms = {true};
    form->Button1Click();
    EXPECT_EQ(ReadFile(data + "/text.dat"),
              kDateRow + "\"1\",\"1\",\"Plain text\",\"text\",\r\n\"1\",\"1\",\"Excel\",\"xlsx\",\r\n");
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(FilterEditorTest, DeletingEveryRowLeavesTheDateRow) {
    ASSERT_TRUE(form->ListFilters("text"));
    prompts.confirms = {true, true, true};
    for (int i = 0; i < 2; ++i) {
        form->ExtList->selectRow(0);
        form->Delete1Click();
    }
    form->Button1Click();
    EXPECT_EQ(ReadFile(data + "/text.dat"), kDateRow);
}

TEST_F(FilterEditorTest, NewFilter) {
    ASSERT_TRUE(form->ListFilters("text"));
    form->ExtList->item(0, 0)->setCheckState(Qt::Unchecked);

    prompts.names = {"TEXT2"};
    WriteFile(data + "/TEXT2.dat", "keep");
    form->Button3Click();  // duplicate
    EXPECT_EQ(prompts.errors.back(), "同じフィルタ名が存在します。違う名前で作成してください。");
    EXPECT_EQ(ReadFile(data + "/TEXT2.dat"), "keep");

    prompts.names = {""};
    form->Button3Click();  // an empty name would create ".dat"
    EXPECT_FALSE(std::filesystem::exists(data + "/.dat"));
    EXPECT_EQ(prompts.errors.size(), 2u);

    prompts.names = {std::nullopt};
    form->Button3Click();  // cancelled: nothing happens
    EXPECT_EQ(prompts.errors.size(), 2u);

    const std::string before = ReadFile(data + "/text.dat");
    form->ExtList->item(0, 0)->setCheckState(Qt::Checked);
    prompts.names = {"a.b"};
    form->Button3Click();  // unsaved changes are dropped without a question
    EXPECT_EQ(ReadFile(data + "/a.b.dat"), "");
    EXPECT_EQ(ReadFile(data + "/text.dat"), before);
    EXPECT_EQ(form->LoadedFilterName, "a.b");
    EXPECT_EQ(form->ComboBox1->currentText(), "a.b");
    EXPECT_EQ(form->ExtList->rowCount(), 0);
    EXPECT_EQ(prompts.log.back(), "name:新規にフィルタを追加する:");
}

TEST_F(FilterEditorTest, ReadFailureKeepsThePreviousName) {
    AddImages();
    ASSERT_TRUE(form->ListFilters("text"));
    std::filesystem::remove(data + "/images.dat");
    Pick("images");
    EXPECT_EQ(prompts.errors.size(), 1u);
    EXPECT_EQ(prompts.errors[0], "ファイル " + data + "/images.dat は開けません");
    EXPECT_EQ(form->ExtList->rowCount(), 0);
    EXPECT_EQ(form->LoadedFilterName, "text");
}

TEST_F(FilterEditorTest, EmptiedListAfterAReadFailureIsNeverSaved) {
    AddImages();
    ASSERT_TRUE(form->ListFilters("text"));
    const std::string before = ReadFile(data + "/text.dat");
    form->ExtList->item(0, 0)->setCheckState(Qt::Unchecked);
    std::filesystem::remove(data + "/images.dat");
    prompts.confirms = {false, true};
    Pick("images");  // "いいえ" keeps the changes pending, then the read fails
    form->Button1Click();
    EXPECT_EQ(ReadFile(data + "/text.dat"), before);
    EXPECT_EQ(prompts.log.size(), 2u);  // one question, one error; no second question
}

TEST_F(FilterEditorTest, RowsAfterAReadFailureAreNeverOfferedToTheFilterShownBefore) {
    AddImages();
    ASSERT_TRUE(form->ListFilters("text"));
    const std::string before = ReadFile(data + "/text.dat");
    std::filesystem::remove(data + "/images.dat");
    Pick("images");
    prompts.names = {std::string("New"), std::string("new")};
    form->AddRow1Click();
    form->Button1Click();
    for (const std::string& asked : prompts.log) EXPECT_EQ(asked.rfind("confirm:", 0), std::string::npos) << asked;
    EXPECT_EQ(ReadFile(data + "/text.dat"), before);
    EXPECT_EQ(form->ExtList->rowCount(), 0);
}

TEST_F(FilterEditorTest, ExactSpellingWinsOverLetterCase) {
    WriteFile(data + "/memo.dat", kDateRow + "\"1\",\"1\",\"lower\",\"l\",\r\n");
    WriteFile(data + "/MEMO.dat", kDateRow + "\"1\",\"1\",\"upper\",\"u\",\r\n");
    for (const char* name : {"memo", "MEMO"}) {
        ASSERT_TRUE(form->ListFilters(name));
        EXPECT_EQ(form->LoadedFilterName, name);
        EXPECT_EQ(form->ComboBox1->currentText().toStdString(), name);
    }
    EXPECT_EQ(form->ExtList->item(0, 0)->text(), "upper");
}

TEST_F(FilterEditorTest, WriteFailureKeepsTheDialogOpen) {
    AddImages();
    ASSERT_TRUE(form->ListFilters("text"));
    form->ExtList->item(0, 0)->setCheckState(Qt::Unchecked);
    // A folder in place of the file cannot be replaced.
    std::filesystem::remove(data + "/text.dat");
    testsupport::MakeDir(data + "/text.dat");
    prompts.confirms = {true, true};
    Pick("images");  // the switch does not take place
    EXPECT_EQ(prompts.errors.back(), "ファイル " + data + "/text.dat を作成できません");
    EXPECT_EQ(form->LoadedFilterName, "text");
    EXPECT_TRUE(form->Modified);
    EXPECT_EQ(form->ExtList->rowCount(), 2);

    // "決定" now stores the rows shown, under the filter they came from, and
    // fails again: the images filter is not overwritten with them.
    form->setResult(QDialog::Rejected);
    form->Button1Click();
    EXPECT_EQ(prompts.errors.size(), 2u);
    EXPECT_EQ(ReadFile(data + "/images.dat"), kDateRow + "\"1\",\"1\",\"PNG\",\"png\",\r\n");
    EXPECT_EQ(reloads, 0);
    EXPECT_EQ(form->result(), QDialog::Rejected);
}

TEST_F(FilterEditorTest, CancelWritesNothing) {
    ASSERT_TRUE(form->ListFilters("text"));
    const std::string before = ReadFile(data + "/text.dat");
    form->ExtList->item(0, 0)->setCheckState(Qt::Unchecked);
    form->Button2Click();
    EXPECT_EQ(ReadFile(data + "/text.dat"), before);
    EXPECT_TRUE(prompts.log.empty());
    EXPECT_EQ(reloads, 0);
}

// Keys in the filter editor: Tab leaves the list without moving its current
// row (which would mark the filter as changed), Shift+F10 opens the row
// menu, and a focused button takes Enter.
TEST_F(FilterEditorTest, TabLeavesTheListAndShiftF10OpensItsMenu) {
    ASSERT_TRUE(form->ListFilters("text"));
    form->show();
    form->ExtList->setFocus();
    for (int i = 0; i < 7; ++i) QTest::keyClick(form->ExtList, Qt::Key_Tab);
    EXPECT_FALSE(form->Modified);
    QTest::keyClick(form->ExtList, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(form->PopupMenu1->isVisible());
    form->PopupMenu1->close();
    form->Button2->setFocus();
    QTest::keyClick(form->Button2, Qt::Key_Return);
    EXPECT_FALSE(form->isVisible());
}

TEST(FilterSelection, ListsAndReturnsAName) {
    testsupport::EnsureApplication();
    testsupport::TempDir dir;
    TForm7 form;
    form.DataFolder = dir.path();
    form.ListFilters();  // no filter files: nothing to list
    EXPECT_EQ(form.ComboBox1->count(), 0);
    WriteFile(dir.path() + "/text.dat", "");
    form.ListFilters();
    ASSERT_EQ(form.ComboBox1->count(), 2);
    EXPECT_EQ(form.ComboBox1->itemText(0), "");
    EXPECT_EQ(form.ComboBox1->currentIndex(), -1);

    form.Button1Click();  // nothing picked
    EXPECT_TRUE(form.Accepted);
    EXPECT_EQ(form.ChosenFilter, "");
    form.ComboBox1->setCurrentIndex(1);
    form.Button1Click();
    EXPECT_EQ(form.ChosenFilter, "text");
    form.Button2Click();
    EXPECT_FALSE(form.Accepted);
    EXPECT_EQ(form.ChosenFilter, "");
}
