// The windows on the xcb platform with a real window manager (openbox on
// Xvfb): where the main window and the dialogs land, and what the title bars
// read.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QMessageBox>

#include "about/verform.h"
#include "app/ProgramStart.h"
#include "app/Unit1.h"
#include "dialog_test_support.h"
#include "settings/Unit2.h"
#include "test_support.h"
#include "xcb_session.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

std::string LoginName() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? pw->pw_name : "";
}

// A program folder with an existing user whose set.ini holds every key.
class XcbWindows : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string prog, user;

    void SetUp() override {
        SKIP_WITHOUT_WINDOW_MANAGER();
        prog = dir.path() + "/prog/";
        user = prog + "user/" + LoginName();
        for (const std::string& folder : {prog, prog + "data", prog + "user", user, user + "/data"}) MakeDir(folder);
        WriteFile(prog + "data/folderlist", "");
    }
    void WriteSettings(int posX, int posY) {
        WriteFile(user + "/set.ini", "[set]\r\nPosX=" + std::to_string(posX) + "\r\nPosY=" + std::to_string(posY) +
                                         "\r\nSelectFileName=\r\nMode=0\r\nAutoMode=0\r\nHiddenFolder=0\r\n"
                                         "HiddenFile=0\r\nOpenFolder=1\r\nSelectSaveFolderName=\r\n"
                                         "SelectSaveMode=0\r\nActMode1=1\r\nNoFileMsg=0\r\nFNameSelect1=0\r\n"
                                         "FNameSelect2=0\r\nVerifyAfterJob=0\r\n");
    }
};

}  // namespace

// The main window sits where it was when the program last ended: its frame
// lands at PosX/PosY, and ten starts in a row leave set.ini as it was.
TEST_F(XcbWindows, MainWindowTenStartsLeaveSetIniUnchanged) {
    WriteSettings(200, 150);
    const std::string before = ReadFile(user + "/set.ini");
    for (int start = 0; start < 10; ++start) {
        auto form = std::make_unique<TForm1>(prog, std::vector<std::string>{});
        form->show();
        ASSERT_TRUE(xcbtest::WaitUntilFramed(form.get()));
        // The frame reaches its place (the program may move it once the
        // window manager has reported the frame).
        EXPECT_TRUE(xcbtest::WaitUntil([&] { return form->windowHandle()->framePosition() == QPoint(200, 150); }, 5000))
            << "start " << start << ": frame at " << form->windowHandle()->framePosition().x() << ","
            << form->windowHandle()->framePosition().y();
        xcbtest::WaitUntil([&] { return form->pos() == QPoint(200, 150); }, 2000);
        form.reset();
        ASSERT_EQ(ReadFile(user + "/set.ini"), before) << "start " << start;
    }
}

// Title bars read exactly the captions the windows set, without the
// application's name after them.
TEST_F(XcbWindows, CaptionsAreShownAsGiven) {
    SetUpApplication(*qApp);
    testsupport::ScriptedPrompts prompts;
    TSetData data;
    TForm2 settings(data, prompts);
    settings.show();
    TVerInfoForm about(prompts);
    about.show();
    QMessageBox question(QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("?"));
    question.show();
    for (QWidget* window :
         {static_cast<QWidget*>(&settings), static_cast<QWidget*>(&about), static_cast<QWidget*>(&question)}) {
        ASSERT_TRUE(xcbtest::WaitUntilFramed(window));
        EXPECT_EQ(xcbtest::TitleOnScreen(window), window->windowTitle().toStdString());
    }
    EXPECT_EQ(xcbtest::TitleOnScreen(&settings), "環境設定");
}
