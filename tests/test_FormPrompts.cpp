// The prompts over the name entry and folder selection dialogs: texts set
// before each showing, results read only after an accepted showing.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>

#include "dialog_test_support.h"
#include "folders/FormPrompts.h"

using namespace tessarine;

namespace {

// Stand-ins with the members the prompts use; exec() plays the user.
struct FakeNameForm : QDialog {
    QLineEdit* Edit1 = new QLineEdit(this);
    bool Accepted = false;
    std::string EnteredText = "stale";
    QString caption, header, prompt, shownText;
    bool answer = true;
    void SetTexts(const QString& c, const QString& h, const QString& p) { caption = c, header = h, prompt = p; }
    int exec() override {
        shownText = Edit1->text();
        if (answer) {
            Accepted = true;
            EnteredText = "typed";
        }
        return 0;
    }
};

struct FakeFolderForm : QDialog {
    QLineEdit* Edit1 = new QLineEdit(this);
    bool Accepted = false;
    std::string ChosenFolder = "/earlier/";
    QString shownText;
    bool answer = false;
    int exec() override {
        shownText = Edit1->text();
        if (answer) {
            Accepted = true;
            ChosenFolder = "";
        }
        return 0;
    }
};

}  // namespace

TEST(FormPrompts, UsesTheSharedDialogs) {
    testsupport::EnsureApplication();
    FakeNameForm names;
    FakeFolderForm folders;
    folders.Edit1->setText("/left/over/");
    TFormPrompts<FakeNameForm, FakeFolderForm> prompts(names, folders,
                                                       [](QWidget*, QLineEdit* field) { field->setText("/browsed/"); });

    EXPECT_EQ(prompts.EnterName(kNewRowExtension, "txt"), "typed");
    EXPECT_EQ(names.caption, "新規追加");
    EXPECT_EQ(names.header, "新規追加：拡張子を入力してください");
    EXPECT_EQ(names.shownText, "txt");
    names.answer = false;
    EXPECT_EQ(prompts.EnterName(kNewFilterName, ""), std::nullopt);  // the old result is not reused

    // Cancelled: nothing, even though an earlier folder is still held.
    EXPECT_EQ(prompts.SelectFolder(), std::nullopt);
    EXPECT_EQ(folders.shownText, "");  // the field is emptied first
    folders.answer = true;
    EXPECT_EQ(prompts.SelectFolder(), "");

    EXPECT_EQ(prompts.BrowseFolder(nullptr), "/browsed/");
}
