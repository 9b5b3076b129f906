// Shows one dialog filled with sample data, for screenshots of the
// documentation (scripts/dialog-screenshots.sh). Not a test.
//   dialog_gallery NAME   NAME: settings, folders, folders-menu, filters,
//                         filters-menu, filter-select, about, confirm, error
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "about/verform.h"
#include "filters/Unit4.h"
#include "filters/Unit7.h"
#include "dialogkit/DialogSupport.h"
#include "folders/Unit3.h"
#include "settings/Unit2.h"
#include "test_support.h"

using namespace tessarine;

namespace {

// The two shared dialogs are not needed for pictures of these windows.
class GalleryPrompts : public TStandardPrompts {
public:
    std::optional<std::string> EnterName(const NameEntryUse&, const std::string&) override { return std::nullopt; }
    std::optional<std::string> SelectFolder() override { return std::nullopt; }
    std::string BrowseFolder(QWidget*) override { return {}; }
};

void Place(QWidget* w) {
    w->move(0, 0);
    w->show();
    QTimer::singleShot(700, [w] {
        std::printf("%dx%d\n", w->frameGeometry().width(), w->frameGeometry().height());
        std::fflush(stdout);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string which = argc > 1 ? argv[1] : "settings";
    testsupport::TempDir dir;
    const std::string data = dir.path() + "/data";
    std::filesystem::create_directory(data);
    const char* seeds = std::getenv("TESSARINE_BIN_DIR");
    if (seeds) {
        for (const auto& e : std::filesystem::directory_iterator(std::string(seeds) + "/data")) {
            if (e.path().extension() == ".dat")
                std::filesystem::copy_file(e.path(), data + "/" + e.path().filename().string());
        }
    }
    testsupport::WriteFile(dir.path() + "/folderlist.dat",
                           "\"1\",\"ドキュメント\",\"Docs\",\"ドキュメント\",\"/home/hanako/ドキュメント/\",\r\n"
                           "\"1\",\"写真 2024\",\"写真\",\"画像\",\"/home/hanako/ピクチャ/2024/\",\r\n"
                           "\"0\",\"作業中のソース\",\"src\",\"ソースコード\",\"/home/hanako/work/tessarine/\",\r\n"
                           "\"1\",\"共有フォルダ\",\"share\",\"\",\"/srv/share/\",\r\n");
    GalleryPrompts prompts;
    TSetData settings;
    settings.SelectSaveMode = 2;
    settings.SelectSaveFolderName = "/home/hanako/バックアップ/";
    settings.FNameSelect2 = 1;

    TForm7 filterSelection;
    filterSelection.DataFolder = data;
    TForm2 form2(settings, prompts);
    form2.SevenZipAvailable = [] { return true; };
    form2.LhaAvailable = [] { return false; };
    TForm3 form3(prompts, filterSelection);
    form3.UserFolder = dir.path();
    TForm4 form4(prompts);
    form4.DataFolder = data;
    TVerInfoForm about(prompts);

    if (which == "settings") {
        form2.FillFromSettings();
        Place(&form2);
    } else if (which == "folders" || which == "folders-menu") {
        form3.ShowFolderList("folderlist.dat");
        Place(&form3);
        form3.FolderList->selectRow(1);
        if (which == "folders-menu") {
            QTimer::singleShot(
                300, [&] { form3.PopupMenu1->popup(form3.FolderList->viewport()->mapToGlobal(QPoint(200, 50))); });
        }
    } else if (which == "filters" || which == "filters-menu") {
        form4.ListFilters("ドキュメント");
        Place(&form4);
        form4.ExtList->selectRow(2);
        if (which == "filters-menu") {
            QTimer::singleShot(
                300, [&] { form4.PopupMenu1->popup(form4.ExtList->viewport()->mapToGlobal(QPoint(160, 80))); });
        }
    } else if (which == "filter-select") {
        filterSelection.ListFilters();
        filterSelection.ComboBox1->setCurrentIndex(2);
        Place(&filterSelection);
    } else if (which == "about") {
        Place(&about);
    } else if (which == "confirm" || which == "error") {
        QTimer::singleShot(0, [&] {
            if (which == "confirm")
                prompts.Confirm(nullptr, "ドキュメントを保存しますか？");
            else
                prompts.ShowError(nullptr, "同じフィルタ名が存在します。違う名前で作成してください。");
        });
        QTimer::singleShot(400, [] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                box->move(0, 0);
                QTimer::singleShot(300, [box] {
                    std::printf("%dx%d\n", box->width(), box->height());
                    std::fflush(stdout);
                });
            }
        });
    }
    QTimer::singleShot(4000, &app, &QApplication::quit);
    return app.exec();
}
