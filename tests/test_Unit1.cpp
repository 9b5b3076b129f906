// The main window: start-up, every job entry, every way a launch stops, and
// what the window does while a job runs and when it ends. Jobs run through
// a stand-in worker that records the request it loads.
#include <gtest/gtest.h>
#include <pwd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include "about/verform.h"
#include "app/Unit1.h"
#include "launch/DesktopEntry.h"
#include "filters/Unit4.h"
#include "filters/Unit7.h"
#include "dialogkit/DialogSupport.h"
#include "folders/Unit3.h"
#include "settings/Unit2.h"
#include "folders/Unit5.h"
#include "folders/Unit6.h"
#include "qt_test_support.h"
#include "test_support.h"

using namespace tessarine;
using qttest::ModalScript;
using qttest::SeenBox;
using qttest::WaitUntil;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

std::string LoginName() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? pw->pw_name : "";
}

const std::string kFilterText = "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n\"1\",\"1\",\"テキスト\",\"txt\",\r\n";

// A worker stand-in: loads the request, shows a first status, optionally
// waits until the test lets it go, then ends like the real worker.
class StubJob {
public:
    bool hold = false;

    TForm1::JobRunner Runner() {
        return [this](DisplayJobHost& host) {
            JobRequest request;
            host.LoadJobRequest(request);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                loaded_.push_back(request);
            }
            JobProgress progress;
            progress.ProgressMax = 3;
            progress.ProgressPos = 1;
            progress.StatusText = "フォルダ情報取得中";
            progress.DetailText = "しばらくお待ちください";
            host.ShowProgressAll(progress);
            {
                std::unique_lock<std::mutex> lock(mutex_);
                released_.wait(lock, [this] { return !hold || release_; });
            }
            host.FinishJob();
            if (host.StartedFromCommandLine()) host.ArmCloseTimer();
        };
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        release_ = true;
        released_.notify_all();
    }
    std::vector<JobRequest> Loaded() {
        std::lock_guard<std::mutex> lock(mutex_);
        return loaded_;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    std::vector<JobRequest> loaded_;
};

class MainWindow : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string prog, user, src, dest;
    StubJob job;
    std::vector<std::string> opened;
    std::string folderHandler = "org.gnome.Nautilus.desktop";  // what the desktop opens folders with
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        qttest::App();
        prog = dir.path() + "/prog/";
        MakeDir(prog);
        MakeDir(prog + "data");
        WriteFile(prog + "data/文書.dat", kFilterText);
        WriteFile(prog + "data/画像.dat", kFilterText);
        WriteFile(prog + "data/folderlist", "\"1\",\"作業\",\"work\",\"\",\"" + dir.path() +
                                                "/Docs/\",\r\n"
                                                "\"0\",\"隠れ\",\"hidden\",\"\",\"/nowhere/\",\r\n");
        user = prog + "user/" + LoginName();
        src = dir.path() + "/Docs";
        MakeDir(src);
        WriteFile(src + "/a.txt", "a");
        dest = dir.path() + "/dest";
        MakeDir(dest);
    }

    void TearDown() override {
        job.Release();
        if (form) {
            WaitUntil([&] { return !form->Busy && !form->WorkerRunning(); });
            form.reset();
        }
    }

    // An existing user (no seeding) with the given set.ini lines.
    void PrepareUser(const std::string& settings) {
        MakeDir(prog + "user");
        MakeDir(user);
        MakeDir(user + "/data");
        WriteFile(user + "/data/文書.dat", kFilterText);
        WriteFile(user + "/set.ini", "[set]\r\n" + settings);
    }

    // Quiet launches: no question, the fixed destination.
    std::string QuietSettings() { return "ActMode1=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=" + dest + "\r\n"; }

    void Open(const std::vector<std::string>& arguments = {}) {
        form = std::make_unique<TForm1>(prog, arguments);
        form->Form5 = new TForm5(form.get());
        form->Form6 = new TForm6(form.get());
        form->SetJobRunner(job.Runner());
        form->FolderOpener = [this](const std::string& path) { opened.push_back(path); };
        form->FolderHandlerQuery = [this] { return folderHandler; };
        form->show();
        QCoreApplication::processEvents();
    }

    void Drop(QWidget* onto, const std::vector<std::string>& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const std::string& p : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
        mime.setUrls(urls);
        const QPoint at = onto->mapTo(form.get(), onto->rect().center());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        // Delivered as the window system delivers it: to the window, which
        // accepts drops, with the point in the window's coordinates.
        static_cast<QObject*>(form.get())->event(&drop);
    }

    // Waits for the n-th job to end.
    bool JobsEnded(size_t n) {
        return WaitUntil([&] { return job.Loaded().size() >= n && !form->Busy && !form->WorkerRunning(); });
    }

    void SelectRow(int row) { form->FolderList->selectRow(row); }
};

// --- start-up -----------------------------------------------------------------

TEST_F(MainWindow, FirstStartSeedsTheUserFolderAndFillsTheViews) {
    Open();
    EXPECT_EQ(form->UserFolder, user);
    EXPECT_EQ(form->DataFolder, user + "/data");
    EXPECT_TRUE(FolderExists(user + "/tmp"));
    EXPECT_EQ(ReadFile(user + "/data/文書.dat"), kFilterText);
    EXPECT_EQ(ReadFile(user + "/data/画像.dat"), kFilterText);
    EXPECT_EQ(ReadFile(user + "/folderlist.dat"), ReadFile(prog + "data/folderlist"));

    // Filter box: the empty item first, then every filter by name.
    ASSERT_EQ(form->ComboBox1->count(), 3);
    EXPECT_EQ(form->ComboBox1->itemText(0), QString());
    QStringList names{form->ComboBox1->itemText(1), form->ComboBox1->itemText(2)};
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("文書"), QStringLiteral("画像")}));
    EXPECT_EQ(form->ComboBox1->currentIndex(), 0);

    // Only ticked registered folders are listed; every line is kept.
    ASSERT_EQ(form->FolderList->rowCount(), 1);
    EXPECT_EQ(form->FolderList->item(0, 0)->text(), QStringLiteral("作業"));
    EXPECT_EQ(form->FolderList->item(0, 1)->text().toStdString(), src + "/");
    EXPECT_EQ(form->FolderListLines.size(), 2u);

    EXPECT_TRUE(form->MainPanel->isVisible());
    EXPECT_FALSE(form->FolderPanel->isVisible());
    EXPECT_FALSE(form->PrgPanel->isVisible());
    EXPECT_TRUE(form->List0->Marked());
    EXPECT_FALSE(form->List1->Marked());
    EXPECT_FALSE(form->List2->isVisible());
    EXPECT_FALSE(form->CheckBox1->isVisible());
    EXPECT_TRUE(form->CommandLinePath.empty());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_TRUE(form->CloseCommandEnabled());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tessarine"));
}

TEST_F(MainWindow, LaterStartSeedsOnlyAMissingFolderList) {
    Open();
    form.reset();
    ::unlink((user + "/data/画像.dat").c_str());
    ::unlink((user + "/folderlist.dat").c_str());
    WriteFile(user + "/data/文書.dat", "mine\r\n");
    Open();
    EXPECT_FALSE(FileExists(user + "/data/画像.dat"));
    EXPECT_EQ(ReadFile(user + "/data/文書.dat"), "mine\r\n");
    EXPECT_TRUE(FileExists(user + "/folderlist.dat"));
    EXPECT_EQ(form->ComboBox1->count(), 2);
}

TEST_F(MainWindow, MissingFolderListGivesAnEmptyList) {
    ::unlink((prog + "data/folderlist").c_str());
    Open();
    EXPECT_EQ(form->FolderList->rowCount(), 0);
    EXPECT_TRUE(form->FolderListLines.empty());
}

TEST_F(MainWindow, SettingsAreCorrectedIntoTheControlsAndSavedOnDestruction) {
    PrepareUser(
        "PosX=40\r\nPosY=30\r\nMode=11\r\nAutoMode=3\r\nHiddenFolder=1\r\nHiddenFile=7\r\n"
        "SelectFileName=gone\r\n");
    Open();
    // Without the 7-Zip library every saved mode starts as copy, a list mode
    // included.
    EXPECT_FALSE(form->RadioButton2->isEnabled());
    EXPECT_FALSE(form->ZIPPass1->isEnabled());
    EXPECT_TRUE(form->RadioButton1->isChecked());
    EXPECT_EQ(form->Settings.Mode, 0);
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_EQ(form->Settings.AutoMode, 0);
    EXPECT_TRUE(form->CheckBox2->isChecked());
    EXPECT_FALSE(form->CheckBox3->isChecked());
    EXPECT_EQ(form->Settings.HiddenFile, 0);
    // A filter that no longer exists shows the empty item but stays chosen.
    EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
    EXPECT_EQ(form->Settings.SelectFileName, "gone");

    // The controls change the settings at once.
    form->RadioButton4->click();
    EXPECT_EQ(form->Settings.Mode, 11);
    form->CheckBox3->click();
    EXPECT_EQ(form->Settings.HiddenFile, 1);
    form->ComboBox1->setCurrentIndex(1);
    emit form->ComboBox1->activated(1);
    EXPECT_EQ(form->Settings.SelectFileName, "文書");

    form->move(120, 80);
    const int x = form->x();
    form.reset();
    const std::string ini = ReadFile(user + "/set.ini");
    for (const char* key :
         {"PosX", "PosY", "SelectFileName", "Mode", "AutoMode", "HiddenFolder", "HiddenFile", "OpenFolder",
          "SelectSaveFolderName", "SelectSaveMode", "NoFileMsg", "FNameSelect1", "FNameSelect2", "ActMode1"}) {
        EXPECT_NE(ini.find(std::string(key) + "="), std::string::npos) << key;
    }
    EXPECT_NE(ini.find("Mode=11"), std::string::npos);
    EXPECT_NE(ini.find("HiddenFile=1"), std::string::npos);
    EXPECT_NE(ini.find("SelectFileName=文書"), std::string::npos);
    EXPECT_NE(ini.find("PosX=" + std::to_string(x)), std::string::npos);
}

TEST_F(MainWindow, ArchiverLibrariesInTheProgramFolderEnableTheirModes) {
    WriteFile(prog + "lib7-zip32.so", "");
    WriteFile(prog + "libunlha32.so", "");
    PrepareUser("Mode=5\r\n");
    Open();
    EXPECT_TRUE(form->RadioButton7->isChecked());
    EXPECT_EQ(form->Settings.Mode, 5);
    for (QRadioButton* r :
         {form->RadioButton2, form->RadioButton3, form->RadioButton6, form->RadioButton7, form->RadioButton8}) {
        EXPECT_TRUE(r->isEnabled());
    }
    for (QAction* a : {form->ZIP1, form->ZIPPass1, form->Lha1, form->N7Zip1, form->N7ZipPass1}) {
        EXPECT_TRUE(a->isEnabled());
    }
    form.reset();

    // Either library missing: its controls are off and the saved mode
    // starts as copy, whatever it was.
    ::unlink((prog + "libunlha32.so").c_str());
    Open();
    EXPECT_FALSE(form->RadioButton3->isEnabled());
    EXPECT_FALSE(form->Lha1->isEnabled());
    EXPECT_TRUE(form->RadioButton6->isEnabled());
    EXPECT_TRUE(form->RadioButton1->isChecked());
    EXPECT_EQ(form->Settings.Mode, 0);
}

TEST_F(MainWindow, ChosenFilterIsReselectedIgnoringLetterCase) {
    PrepareUser("SelectFileName=文書\r\n");
    WriteFile(user + "/data/Photos.dat", kFilterText);
    WriteFile(user + "/set.ini", "[set]\r\nSelectFileName=PHOTOS\r\n");
    Open();
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("Photos"));
    EXPECT_EQ(form->Settings.SelectFileName, "PHOTOS");
}

TEST_F(MainWindow, FilterNamesLeadBackToTheirOwnFiles) {
    PrepareUser(QuietSettings());
    WriteFile(user + "/data/memo.dat", kFilterText);
    WriteFile(user + "/data/MEMO.dat", kFilterText);
    WriteFile(user + "/data/Foo.DAT", kFilterText);
    Open();
    for (const char* name : {"memo", "MEMO"}) {
        form->Settings.SelectFileName = name;
        form->LoadFilterNames();
        EXPECT_EQ(form->ComboBox1->currentText().toStdString(), name);
    }
    // A filter listed from Foo.DAT is found again when a job starts.
    form->ComboBox1->setCurrentIndex(form->ComboBox1->findText(QStringLiteral("Foo")));
    form->ComboBox1Change(form->ComboBox1->currentIndex());
    ModalScript script;
    Drop(form->DPanel, {src});
    ASSERT_TRUE(JobsEnded(1));
    EXPECT_EQ(job.Loaded()[0].FilterFile, user + "/data/Foo.DAT");
    EXPECT_EQ(script.Unexpected(), 0);
}

// --- job entries ------------------------------------------------------------

TEST_F(MainWindow, DropStartsOneJobForTheLastItemsFolder) {
    PrepareUser(QuietSettings() + "Mode=11\r\nFNameSelect1=1\r\nFNameSelect2=1\r\nHiddenFolder=1\r\n");
    MakeDir(dir.path() + "/Other");
    WriteFile(prog + "lib7-zip32.so", "");
    WriteFile(prog + "libunlha32.so", "");
    Open();
    Drop(form->DPanel, {dir.path() + "/Other", dest, src + "/a.txt"});
    ASSERT_TRUE(JobsEnded(1));
    const std::vector<JobRequest> loaded = job.Loaded();
    ASSERT_EQ(loaded.size(), 1u);
    const JobRequest& r = loaded[0];
    EXPECT_EQ(r.SourcePath, src + "/");
    EXPECT_EQ(NumberOf(r.JobMode), 11);
    EXPECT_TRUE(r.IncludeHiddenFolders);
    EXPECT_FALSE(r.IncludeHiddenFiles);
    // dest/Docs_yymmdd_hhnn_ss
    ASSERT_EQ(r.OutputBase.size(), dest.size() + std::string("/Docs_071014_0930_05").size());
    EXPECT_EQ(r.OutputBase.rfind(dest + "/Docs_", 0), 0u);
    EXPECT_EQ(r.OutputBase[dest.size() + 12], '_');
    EXPECT_TRUE(r.OpenFolderWhenDone);
    EXPECT_EQ(r.FolderToOpen, dest + "/");
    EXPECT_TRUE(r.FilterFile.empty());
    EXPECT_TRUE(form->MainPanel->isVisible());
}

// A folder whose name is not valid UTF-8, dropped as a file manager sends
// it (percent-encoded bytes), is the folder the job runs on; its parent
// is not.
TEST_F(MainWindow, DroppedNameThatIsNotUtf8KeepsItsBytes) {
    PrepareUser(QuietSettings());
    const std::string odd = dir.path() + "/Latin1-\xE9t\xE9";
    MakeDir(odd);
    Open();
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"),
                 QUrl::fromLocalFile(QString::fromStdString(dir.path())).toEncoded() + "/Latin1-%E9t%E9\r\n");
    QDropEvent drop(QPointF(form->DPanel->mapTo(form.get(), form->DPanel->rect().center())), Qt::CopyAction, &mime,
                    Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject*>(form.get())->event(&drop);
    ASSERT_TRUE(JobsEnded(1));
    EXPECT_EQ(job.Loaded()[0].SourcePath, odd + "/");
}

TEST_F(MainWindow, DropOutsideTheDropPanelDoesNothing) {
    PrepareUser(QuietSettings());
    Open();
    Drop(form->GroupBox1, {src});
    Drop(form->ComboBox1, {src});
    Drop(form->TopPanel, {src});
    form->List1Click();
    Drop(form->FolderList, {src});
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->Busy);
    EXPECT_TRUE(job.Loaded().empty());
}

TEST_F(MainWindow, CommandLineJobRunsOnceAndClosesTheWindow) {
    PrepareUser(QuietSettings());
    Open({src + "/a.txt", "/ignored"});
    EXPECT_EQ(form->CommandLinePath, src + "/a.txt");
    EXPECT_TRUE(form->Timer1->isActive());
    ASSERT_TRUE(JobsEnded(1));
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(job.Loaded()[0].SourcePath, src + "/");
    // Half a second after the job the window closes itself.
    EXPECT_TRUE(WaitUntil([&] { return !form->isVisible(); }, 3000));
    EXPECT_EQ(job.Loaded().size(), 1u);
}

TEST_F(MainWindow, CommandLineJobNotConfirmedKeepsTheProgramOpen) {
    PrepareUser("SelectSaveMode=2\r\nSelectSaveFolderName=" + dest + "\r\n");
    ModalScript script;
    SeenBox question;
    script.AnswerBox(QStringLiteral("いいえ(&N)"), &question);
    Open({src});
    ASSERT_TRUE(WaitUntil([&] { return script.Done(); }));
    WaitUntil([] { return false; }, 800);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->MainPanel->isVisible());
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_TRUE(job.Loaded().empty());
    EXPECT_EQ(question.text, "/.../Docs をコピーしますか？");
}

// An empty argument, or one naming nothing, is named in an error box; no
// job starts on the current folder or the root, and the program stays open.
TEST_F(MainWindow, CommandLineArgumentNamingNothingIsReportedAndTheProgramStaysOpen) {
    PrepareUser(QuietSettings());
    const std::string missing = dir.path() + "/Docs/nothing";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "起動時に指定されたパスが空です"},
        {missing, "起動時に指定された「" + missing + "」が見つかりません"},
    };
    for (const auto& [argument, message] : cases) {
        ModalScript script;
        SeenBox box;
        script.AnswerBox(QStringLiteral("OK"), &box);
        Open({argument});
        ASSERT_TRUE(WaitUntil([&] { return script.Done(); })) << argument;
        EXPECT_EQ(box.title, "エラー");
        EXPECT_EQ(box.text, message);
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        WaitUntil([] { return false; }, 800);
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(form->Timer2->isActive());
        EXPECT_TRUE(job.Loaded().empty());
        form.reset();
    }
}

struct PopupCase {
    const char* name;
    void (TForm1::*handler)();
    int expectedMode;
};

TEST_F(MainWindow, EveryPopupActionLaunchesItsModeOnTheSelectedFolder) {
    PrepareUser(QuietSettings() + "Mode=12\r\n");
    const std::string registered = src + "/";
    // Two lines for the same folder: the later one's filter decides, also
    // when that line is not ticked. The combo-box filter plays no part.
    WriteFile(user + "/folderlist.dat", "\"1\",\"作業\",\"work\",\"画像\",\"" + registered +
                                            "\",\r\n"
                                            "\"0\",\"作業2\",\"work\",\"文書\",\"" +
                                            registered + "\",\r\n");
    WriteFile(user + "/set.ini", "[set]\r\n" + QuietSettings() + "SelectFileName=missing\r\n");
    Open();
    form->Settings.Mode = 12;
    form->List1Click();
    const PopupCase cases[] = {
        {"N3", &TForm1::N3Click, 12},
        {"ZIP1", &TForm1::ZIP1Click, 1},
        {"ZIPPass1", &TForm1::ZIPPass1Click, 2},
        {"Lha1", &TForm1::Lha1Click, 3},
        {"N7Zip1", &TForm1::N7Zip1Click, 4},
        {"N7ZipPass1", &TForm1::N7ZipPass1Click, 5},
    };
    // Without a selection nothing happens.
    (form.get()->*cases[0].handler)();
    EXPECT_FALSE(form->Busy);
    SelectRow(0);
    size_t n = 0;
    for (const PopupCase& c : cases) {
        ModalScript script;
        if (c.expectedMode == 2 || c.expectedMode == 5) {
            script.Then([&](QDialog*) {
                form->Form5->Edit1->setText(QStringLiteral(" secret "));
                form->Form5->Button1->click();
            });
        }
        (form.get()->*c.handler)();
        ASSERT_TRUE(JobsEnded(++n)) << c.name;
        EXPECT_EQ(script.Unexpected(), 0) << c.name;
        const JobRequest r = job.Loaded().back();
        EXPECT_EQ(NumberOf(r.JobMode), c.expectedMode) << c.name;
        EXPECT_EQ(r.SourcePath, registered) << c.name;
        EXPECT_EQ(r.FilterFile, user + "/data/文書.dat") << c.name;
        if (c.expectedMode == 2 || c.expectedMode == 5) {
            EXPECT_EQ(r.Password, "secret") << c.name;
        }
        // A job started from the popup ends with the registered-folder view.
        EXPECT_TRUE(form->FolderPanel->isVisible()) << c.name;
    }
}

TEST_F(MainWindow, RegisteredFolderWithoutFilterIgnoresTheComboBoxFilter) {
    PrepareUser(QuietSettings() + "SelectFileName=文書\r\n");
    WriteFile(user + "/folderlist.dat", "\"1\",\"作業\",\"work\",\"\",\"" + src + "/\",\r\n");
    Open();
    form->List1Click();
    SelectRow(0);
    form->N3Click();
    ASSERT_TRUE(JobsEnded(1));
    EXPECT_TRUE(job.Loaded()[0].FilterFile.empty());

    // A drop uses the filter chosen in the combo box.
    form->List0Click();
    Drop(form->DPanel, {src});
    ASSERT_TRUE(JobsEnded(2));
    EXPECT_EQ(job.Loaded()[1].FilterFile, user + "/data/文書.dat");
}

// --- launches that stop -------------------------------------------------------

TEST_F(MainWindow, MissingDestinationIsReportedAndNoJobStarts) {
    for (const std::string& folder : {dir.path() + "/none", std::string()}) {
        PrepareUser("ActMode1=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=" + folder + "\r\n");
        Open();
        ModalScript script;
        SeenBox box;
        script.AnswerBox(QStringLiteral("OK"), &box);
        Drop(form->DPanel, {src});
        EXPECT_TRUE(script.Done());
        EXPECT_EQ(box.title, "エラー");
        EXPECT_EQ(box.text, "保存先フォルダが見つかりません");
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
        EXPECT_FALSE(form->Busy);
        EXPECT_TRUE(job.Loaded().empty());
        form.reset();
    }
}

TEST_F(MainWindow, MissingFilterIsReportedAndNoJobStarts) {
    PrepareUser(QuietSettings() + "SelectFileName=消えた\r\n");
    Open();
    ModalScript script;
    SeenBox box;
    script.AnswerBox(QStringLiteral("OK"), &box);
    Drop(form->DPanel, {src});
    EXPECT_EQ(box.title, "エラー");
    EXPECT_EQ(box.text, "拡張子フィルタが見つかりません");
    EXPECT_TRUE(job.Loaded().empty());
}

TEST_F(MainWindow, ConfirmationBoxStopsOnlyOnNo) {
    PrepareUser("ActMode1=1\r\nSelectSaveMode=2\r\nSelectSaveFolderName=" + dest + "\r\nMode=0\r\n");
    Open();
    {
        ModalScript script;
        SeenBox box;
        script.AnswerBox(QStringLiteral("いいえ(&N)"), &box);
        Drop(form->DPanel, {src});
        EXPECT_EQ(box.title, "確認");
        EXPECT_EQ(box.icon, QMessageBox::Question);
        EXPECT_EQ(box.text, "/.../Docs をコピーしますか？");
        EXPECT_EQ(box.buttons, (std::vector<std::string>{"はい(&Y)", "いいえ(&N)"}));
        EXPECT_FALSE(form->Busy);
        EXPECT_TRUE(job.Loaded().empty());
    }
    {
        ModalScript script;
        script.AnswerBox(QStringLiteral("はい(&Y)"));
        Drop(form->DPanel, {src});
        ASSERT_TRUE(JobsEnded(1));
    }
}

TEST_F(MainWindow, FolderSelectionCancelledOrEmptyStartsNoJob) {
    PrepareUser("ActMode1=0\r\nSelectSaveMode=0\r\n");
    Open();
    form->Form6->Edit1->setText(QStringLiteral("/left/over/"));
    form->Form6->Accepted = true;
    bool emptied = false;
    {
        ModalScript script;
        script.Then([&](QDialog*) {
            emptied = form->Form6->Edit1->text().isEmpty() && !form->Form6->Accepted;
            form->Form6->Button2->click();
        });
        Drop(form->DPanel, {src});
        EXPECT_TRUE(script.Done());
        EXPECT_TRUE(emptied);
    }
    {
        ModalScript script;
        script.Then([&](QDialog*) { form->Form6->Button1->click(); });
        Drop(form->DPanel, {src});
        EXPECT_TRUE(script.Done());
    }
    EXPECT_FALSE(form->Busy);
    EXPECT_TRUE(job.Loaded().empty());
    {
        ModalScript script;
        script.Then([&](QDialog*) {
            form->Form6->Edit1->setText(QString::fromStdString(dest + "/"));
            form->Form6->Button1->click();
        });
        Drop(form->DPanel, {src});
        ASSERT_TRUE(JobsEnded(1));
        EXPECT_EQ(job.Loaded()[0].OutputBase.rfind(dest + "/Docs", 0), 0u);
    }
}

TEST_F(MainWindow, PasswordPromptIsMaskedAndBlankOrCancelledStartsNoJob) {
    PrepareUser(QuietSettings() + "Mode=2\r\n");
    Open();
    form->Settings.Mode = 2;  // the adapter reports no 7-Zip here
    bool masked = false;
    QString caption, prompt;
    {
        ModalScript script;
        script.Then([&](QDialog*) {
            TForm5* d = form->Form5;
            caption = d->windowTitle();
            prompt = d->Label2->text();
            d->Edit1->setText(QStringLiteral("pw"));
            masked = d->Edit1->displayText() == QStringLiteral("**");
            d->Button2->click();
        });
        Drop(form->DPanel, {src});
    }
    EXPECT_EQ(caption, QStringLiteral("パスワード設定"));
    EXPECT_EQ(prompt, QStringLiteral("設定するパスワードを入力してください"));
    EXPECT_TRUE(masked);
    EXPECT_EQ(form->Form5->Edit1->echoMode(), QLineEdit::Normal);
    {
        ModalScript script;
        script.Then([&](QDialog*) {
            form->Form5->Edit1->setText(QStringLiteral("   "));
            form->Form5->Button1->click();
        });
        Drop(form->DPanel, {src});
    }
    EXPECT_FALSE(form->Busy);
    EXPECT_TRUE(job.Loaded().empty());
    {
        ModalScript script;
        script.Then([&](QDialog*) {
            EXPECT_TRUE(form->Form5->Edit1->text().isEmpty());
            form->Form5->Edit1->setText(QStringLiteral("\t 秘密 "));
            form->Form5->Button1->click();
        });
        Drop(form->DPanel, {src});
        ASSERT_TRUE(JobsEnded(1));
        EXPECT_EQ(job.Loaded()[0].Password, "秘密");
        EXPECT_EQ(NumberOf(job.Loaded()[0].JobMode), 2);
    }
}

TEST_F(MainWindow, RegisteredFolderThatNoLongerExistsIsRefused) {
    PrepareUser(QuietSettings());
    WriteFile(user + "/folderlist.dat", "\"1\",\"消えた\",\"gone\",\"\",\"" + dir.path() + "/gone/\",\r\n");
    Open();
    form->List1Click();
    SelectRow(0);
    ModalScript script;
    script.AnswerBox(QStringLiteral("OK"));
    form->N3Click();
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(form->Busy);
    EXPECT_TRUE(job.Loaded().empty());
}

// --- keys ------------------------------------------------------------------

TEST_F(MainWindow, ViewsAndTheFolderMenuAreReachableFromTheKeyboard) {
    PrepareUser(QuietSettings());
    WriteFile(user + "/folderlist.dat", "\"1\",\"作業\",\"work\",\"\",\"" + src + "/\",\r\n");
    Open();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == form.get(); }));
    QTest::keyClick(form.get(), Qt::Key_2, Qt::AltModifier);
    EXPECT_EQ(form->CurrentView, 1);
    EXPECT_TRUE(form->FolderPanel->isVisible());
    QTest::keyClick(form.get(), Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(form->CurrentView, 0);
    QTest::keyClick(form.get(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(form->CurrentView, 1);
    EXPECT_TRUE(form->List1->Marked());
    // Shift+F10 opens the popup menu of the registered-folder list.
    SelectRow(0);
    form->FolderList->setFocus();
    QTest::keyClick(form->FolderList, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(form->FolderPopupMenu->isVisible());
    form->FolderPopupMenu->close();
}

// --- while a job runs ---------------------------------------------------------

TEST_F(MainWindow, CommandsBlockedByAJobAreGreyed) {
    PrepareUser(QuietSettings());
    job.hold = true;
    Open();
    Drop(form->DPanel, {src});
    ASSERT_TRUE(WaitUntil([&] { return job.Loaded().size() == 1; }));
    for (QAction* blocked : {form->S2, form->F1, form->O1, form->Close1, form->About1}) {
        EXPECT_FALSE(blocked->isEnabled()) << blocked->text().toStdString();
    }
    EXPECT_FALSE(form->List0->isEnabled());
    EXPECT_TRUE(form->Help2->isEnabled());
    EXPECT_TRUE(form->N1->isEnabled());
    job.Release();
    ASSERT_TRUE(JobsEnded(1));
    for (QAction* blocked : {form->S2, form->F1, form->O1, form->Close1, form->About1}) {
        EXPECT_TRUE(blocked->isEnabled()) << blocked->text().toStdString();
    }
    EXPECT_TRUE(form->List1->isEnabled());
}

// Prompts that record what would be opened on the desktop.
class RecordingPrompts : public TStandardPrompts {
public:
    std::vector<std::string> opened;
    std::optional<std::string> EnterName(const NameEntryUse&, const std::string&) override { return std::nullopt; }
    std::optional<std::string> SelectFolder() override { return std::nullopt; }
    std::string BrowseFolder(QWidget*) override { return {}; }
    void OpenTarget(const std::string& target) override { opened.push_back(target); }
};

// A main window high on the screen still gets its dialogs wholly on the
// screen.
TEST_F(MainWindow, DialogsStayOnTheScreenOfTheMainWindow) {
    PrepareUser("PosX=0\r\nPosY=-60\r\n");
    Open();
    RecordingPrompts prompts;
    TForm2 form2(form->Settings, prompts, form.get());
    form2.SevenZipAvailable = [] { return false; };
    form2.LhaAvailable = [] { return false; };
    TVerInfoForm about(prompts, form.get());
    form->Form2 = &form2;
    form->VerInfoForm = &about;
    const QRect screen = form->screen()->availableGeometry();
    ASSERT_GT(form2.sizeHint().height(), form->height());  // a centred dialog would reach above the screen
    int seen = 0;
    ModalScript script;
    for (int i = 0; i < 2; ++i) {
        script.Then([&](QDialog* d) {
            ++seen;
            EXPECT_TRUE(screen.contains(d->frameGeometry()))
                << d->windowTitle().toStdString() << " top " << d->frameGeometry().top();
            d->reject();
        });
    }
    form->S2Click();
    form->About1Click();
    EXPECT_EQ(seen, 2);
}

TEST_F(MainWindow, MenuDialogsOpenOnlyWhileIdleAndHelpAlwaysWorks) {
    PrepareUser(QuietSettings());
    WriteFile(user + "/folderlist.dat", "");
    job.hold = true;
    Open();
    RecordingPrompts prompts;
    TForm7 form7(form.get());
    form7.DataFolder = form->DataFolder;
    TForm2 form2(form->Settings, prompts, form.get());
    form2.SevenZipAvailable = [] { return false; };
    form2.LhaAvailable = [] { return false; };
    TForm3 form3(prompts, form7, form.get());
    form3.UserFolder = form->UserFolder;
    TForm4 form4(prompts, form.get());
    form4.DataFolder = form->DataFolder;
    TVerInfoForm about(prompts, form.get());
    form->Form2 = &form2;
    form->Form3 = &form3;
    form->Form4 = &form4;
    form->VerInfoForm = &about;
    form->Prompts = &prompts;

    struct Entry {
        const char* name;
        void (TForm1::*handler)();
        QDialog* dialog;
    };
    const Entry entries[] = {{"S2", &TForm1::S2Click, &form2},
                             {"F1", &TForm1::F1Click, &form3},
                             {"O1", &TForm1::O1Click, &form4},
                             {"About1", &TForm1::About1Click, &about}};
    for (const Entry& e : entries) {
        QDialog* shown = nullptr;
        ModalScript script;
        script.Then([&](QDialog* d) {
            shown = d;
            d->reject();
        });
        (form.get()->*e.handler)();
        EXPECT_EQ(shown, e.dialog) << e.name;
    }

    Drop(form->DPanel, {src});
    ASSERT_TRUE(WaitUntil([&] { return job.Loaded().size() == 1; }));
    {
        ModalScript script;
        for (const Entry& e : entries) (form.get()->*e.handler)();
        form->Close1Click();
        QCoreApplication::processEvents();
        EXPECT_EQ(script.Unexpected(), 0);
        EXPECT_TRUE(form->isVisible());
    }
    form->Help2Click();
    form->N1Click();
    EXPECT_EQ(prompts.opened.size(), 2u);
    if (!prompts.opened.empty()) {
        EXPECT_EQ(prompts.opened[0].rfind(prog, 0), 0u);
    }
    job.Release();
    ASSERT_TRUE(JobsEnded(1));
}

TEST_F(MainWindow, RunningJobHidesTheEntriesAndRefusesToClose) {
    PrepareUser(QuietSettings());
    job.hold = true;
    Open();
    Drop(form->DPanel, {src});
    ASSERT_TRUE(WaitUntil([&] { return job.Loaded().size() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return form->PrgInfo1->text() == QStringLiteral("フォルダ情報取得中"); }));
    EXPECT_TRUE(form->Busy);
    EXPECT_TRUE(form->PrgPanel->isVisible());
    EXPECT_FALSE(form->DPanel->isVisible());
    EXPECT_FALSE(form->FolderList->isVisible());
    EXPECT_EQ(form->PrgInfo2->text(), QStringLiteral("しばらくお待ちください"));
    EXPECT_EQ(form->PrgBar->maximum(), 3);
    EXPECT_EQ(form->PrgBar->value(), 1);

    form->List1Click();
    EXPECT_EQ(form->CurrentView, 0);
    EXPECT_TRUE(form->PrgPanel->isVisible());
    form->Close1Click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->CloseCommandEnabled());
    // A drop on the place of the hidden panel starts nothing.
    Drop(form->PrgPanel, {src});

    job.Release();
    ASSERT_TRUE(JobsEnded(1));
    EXPECT_EQ(job.Loaded().size(), 1u);
    EXPECT_TRUE(form->MainPanel->isVisible());
    EXPECT_FALSE(form->PrgPanel->isVisible());
    EXPECT_TRUE(form->CloseCommandEnabled());
    EXPECT_FALSE(form->Timer2->isActive());
    EXPECT_TRUE(form->close());
}

// A call that reaches the window through its event queue.
class MetaCallCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) ++count;
        return false;
    }
};

TEST_F(MainWindow, TheLastProgressOfAJobIsAlwaysShownAndUpdatesAreNotQueuedOneByOne) {
    PrepareUser(QuietSettings());
    Open();
    // The main thread does not run its events until the job has published
    // every update: a window that queued one call per update would find
    // tens of thousands waiting (a million-file job would hold the window
    // behind them); one that coalesces finds a single call.
    std::promise<void> go, published;
    std::atomic<bool> loaded{false};
    MetaCallCounter calls;
    form->installEventFilter(&calls);
    form->SetJobRunner([&](DisplayJobHost& host) {
        JobRequest request;
        host.LoadJobRequest(request);  // answered by the main thread
        loaded = true;
        go.get_future().wait();
        JobProgress p;
        p.ProgressMax = 60000;
        for (int i = 1; i <= 20000; ++i) {
            p.ProgressPos = 40000 + i;
            p.StatusText = "ファイルコピー中";
            p.DetailText = std::to_string(i) + "/20000";
            host.ShowProgressText(p);
            host.ShowProgressPos(p);
            if (i == 1) host.ShowProgressAll(p);
        }
        p.ProgressPos = 59999;
        host.ShowProgressPos(p);
        published.set_value();
        host.FinishJob();
    });
    Drop(form->DPanel, {src});
    ASSERT_TRUE(WaitUntil([&] { return loaded.load(); }));
    go.set_value();
    published.get_future().wait();
    ASSERT_TRUE(WaitUntil([&] { return !form->Busy && !form->WorkerRunning(); }));
    form->removeEventFilter(&calls);
    EXPECT_LE(calls.count, 3);  // the first update's call, the end of the job, at most one spare
    EXPECT_EQ(form->PrgBar->maximum(), 60000);
    EXPECT_EQ(form->PrgBar->value(), 59999);
    EXPECT_EQ(form->PrgInfo1->text(), QStringLiteral("ファイルコピー中"));
    EXPECT_EQ(form->PrgInfo2->text(), QStringLiteral("20000/20000"));
}

TEST_F(MainWindow, JobMessagesAndFolderOpeningGoThroughTheWindow) {
    PrepareUser(QuietSettings());
    Open();
    form->SetJobRunner([](DisplayJobHost& host) {
        JobRequest request;
        host.LoadJobRequest(request);
        host.ShowMessage("エラー", "ファイル x を作成できません");
        host.OpenFolder(request.FolderToOpen);
        host.FinishJob();
    });
    ModalScript script;
    SeenBox box;
    script.AnswerBox(QStringLiteral("OK"), &box);
    Drop(form->DPanel, {src});
    ASSERT_TRUE(WaitUntil([&] { return !form->Busy && !form->WorkerRunning(); }));
    EXPECT_EQ(box.title, "エラー");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.text, "ファイル x を作成できません");
    EXPECT_EQ(opened, std::vector<std::string>{dest + "/"});
}

// Where the desktop opens folders with this very program, opening the
// destination would start a job on it, and so on without end.
TEST_F(MainWindow, TheDestinationIsNotHandedToThisProgramAsFolderHandler) {
    PrepareUser(QuietSettings());
    folderHandler = std::string(kDesktopFileId) + ".desktop";
    Open();
    form->SetJobRunner([](JobHost& host) {
        JobRequest request;
        host.LoadJobRequest(request);
        host.OpenFolder(request.FolderToOpen);
        host.FinishJob();
    });
    Drop(form->DPanel, {src});
    ASSERT_TRUE(WaitUntil([&] { return !form->Busy && !form->WorkerRunning(); }));
    EXPECT_TRUE(opened.empty());
}

}  // namespace
