#pragma once
// The folder registration dialog: a working copy of folderlist.dat that the
// user edits and writes back with "決定".
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "folders/folderlist.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;

namespace tessarine {

class TDialogPrompts;
class TForm7;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    TForm3(TDialogPrompts& prompts, TForm7& filterSelection, QWidget* parent = nullptr);

    // The folder that holds the list file (no closing separator).
    std::string UserFolder;
    // The main window's LoadRegisteredFolders, run after a written "決定".
    std::function<void()> LoadRegisteredFolders;

    // Fills the list from UserFolder + "/" + fileName, one row per line.
    // False when the file cannot be read (the error was shown); the dialog
    // should then not open.
    bool ShowFolderList(const std::string& fileName);
    // Writes every row to UserFolder + "/" + fileName. False when it cannot
    // be written (the error was shown).
    bool StoreFolderList(const std::string& fileName);

    // The rows as they would be written.
    std::vector<RegisteredFolder> Rows() const;

    QLabel* Label1;        // header "フォルダ登録"
    QPushButton* Button3;  // "新規にフォルダを登録する"
    QTableWidget* FolderList;
    QLabel* Label2;        // hint
    QPushButton* Button1;  // "決定"
    QPushButton* Button2;  // "キャンセル"
    QMenu* PopupMenu1;
    QAction* SelectFilter1;  // "フィルタを選択する"
    QAction* SaveFileName1;  // "保存ファイル名を変更する"
    QAction* Rename1;        // "名前の変更する"
    QAction* Delete1;        // "削除"

protected:
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void SelectFilter1Click();
    void SaveFileName1Click();
    void Rename1Click();
    void Delete1Click();

private:
    TDialogPrompts& prompts_;
    TForm7& filterSelection_;

    void AppendRow(const RegisteredFolder& folder);
    int SelectedRow() const;
    void SetCell(int row, int column, const std::string& value);
    std::string Cell(int row, int column) const;
};

}  // namespace tessarine
