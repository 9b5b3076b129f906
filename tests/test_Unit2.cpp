// The settings dialog on the offscreen platform.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_test_support.h"
#include "dialogkit/DialogSupport.h"
#include "settings/Unit2.h"

using namespace tessarine;
using testsupport::ScriptedPrompts;

namespace {
class SettingsDialogTest : public ::testing::Test {
protected:
    TSetData settings;
    ScriptedPrompts prompts;
    std::unique_ptr<TForm2> form;
    bool sevenZip = true, lha = true;

    void SetUp() override {
        testsupport::EnsureApplication();
        form = std::make_unique<TForm2>(settings, prompts);
        form->ProgramFolder = "/opt/tessarine/";
        form->SevenZipAvailable = [this] { return sevenZip; };
        form->LhaAvailable = [this] { return lha; };
    }
};
}  // namespace

TEST_F(SettingsDialogTest, LibraryStateAtEveryOpening) {
    form->FillFromSettings();
    EXPECT_EQ(form->ZipLabel->text(), "インストールされています");
    EXPECT_EQ(form->LhaLabel->text(), "インストールされています");
    EXPECT_TRUE(form->Label6->isHidden());
    EXPECT_TRUE(form->Label7->isHidden());
    sevenZip = lha = false;
    form->FillFromSettings();
    EXPECT_EQ(form->ZipLabel->text(), "なし");
    EXPECT_EQ(form->LhaLabel->text(), "なし");
    EXPECT_FALSE(form->Label6->isHidden());
    EXPECT_FALSE(form->Label7->isHidden());
    EXPECT_FALSE(form->Label8->isHidden());
}

TEST_F(SettingsDialogTest, CorrectionsStayEvenWhenCancelled) {
    settings.SelectSaveMode = 7;
    settings.ActMode1 = 5;
    settings.OpenFolder = 2;
    settings.FNameSelect1 = 2;
    settings.NoFileMsg = 3;
    settings.SelectSaveFolderName = "  /backup/ \t";
    form->FillFromSettings();
    form->Button2Click();
    EXPECT_EQ(settings.SelectSaveMode, 0);
    EXPECT_EQ(settings.ActMode1, 0);
    EXPECT_EQ(settings.OpenFolder, 0);
    EXPECT_EQ(settings.FNameSelect1, 2);  // shown as the second stamp, not corrected
    EXPECT_EQ(settings.SelectSaveFolderName, "  /backup/ \t");
    EXPECT_TRUE(form->SaveRadioButton1->isChecked());
    EXPECT_TRUE(form->FNameRadioButton2->isChecked());
    EXPECT_TRUE(form->NoDataMsgRadioButton2->isChecked());
    EXPECT_EQ(form->Edit1->text(), "/backup/");

    form->FillFromSettings();
    form->Button1Click();
    EXPECT_EQ(settings.FNameSelect1, 1);
    EXPECT_EQ(settings.NoFileMsg, 0);
    EXPECT_EQ(settings.SelectSaveFolderName, "/backup/");
}

TEST_F(SettingsDialogTest, ConfirmTransfersEveryControl) {
    form->FillFromSettings();
    form->SaveRadioButton3->setChecked(true);
    form->ActModeCheckBox1->setChecked(false);
    form->ActModeCheckBox2->setChecked(false);
    form->FNameCheckBox->setChecked(true);
    form->FNameRadioButton2->setChecked(true);
    form->NoDataMsgRadioButton1->setChecked(true);
    form->Button1Click();
    EXPECT_EQ(settings.SelectSaveMode, 2);
    EXPECT_EQ(settings.SelectSaveFolderName, "");  // empty is stored as it is
    EXPECT_EQ(settings.ActMode1, 0);
    EXPECT_EQ(settings.OpenFolder, 0);
    EXPECT_EQ(settings.FNameSelect2, 1);
    EXPECT_EQ(settings.FNameSelect1, 1);
    EXPECT_EQ(settings.NoFileMsg, 1);
}

TEST_F(SettingsDialogTest, BrowseAndCancel) {
    settings.SelectSaveFolderName = "/old/";
    form->FillFromSettings();
    prompts.browseResult = "/picked/";
    form->Button3Click();
    EXPECT_EQ(form->Edit1->text(), "/picked/");
    form->FNameCheckBox->setChecked(true);
    form->Button2Click();  // cancelled: the browsed folder and the tick are dropped
    EXPECT_EQ(settings.SelectSaveFolderName, "/old/");
    form->FillFromSettings();
    EXPECT_FALSE(form->FNameCheckBox->isChecked());
    EXPECT_EQ(form->Edit1->text(), "/old/");

    // With "保存先を選択する" the field is still stored.
    form->Button3Click();
    form->Button1Click();
    EXPECT_EQ(settings.SelectSaveMode, 0);
    EXPECT_EQ(settings.SelectSaveFolderName, "/picked/");
}

TEST_F(SettingsDialogTest, InstallNotesOpenFromTheProgramFolder) {
    form->Label8Click();
    EXPECT_EQ(prompts.opened, (std::vector<std::string>{"/opt/tessarine/help/dllinstall.html"}));
}

TEST_F(SettingsDialogTest, DownloadLinksOpenTheConfiguredAddresses) {
    const char* bin = std::getenv("TESSARINE_BIN_DIR");
    if (!bin) bin = TESSARINE_BIN_DIR_DEFAULT;
    form->ProgramFolder = std::string(bin) + "/";
    form->Label6Click();
    form->Label7Click();
    ASSERT_EQ(prompts.opened.size(), 2u);
    EXPECT_EQ(prompts.opened[0], "https://www.7-zip.org/download.html");
    // libunlha32.so ships with the program: the local page says so.
    EXPECT_EQ(prompts.opened[1], form->ProgramFolder + "help/dllinstall.html");
}
