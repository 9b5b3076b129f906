#pragma once
// The filter editor: creates filters and edits the extension rows of one
// filter at a time, writing a filter file only when its rows changed and
// the user agrees.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "filters/filterfile.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;

namespace tessarine {

class TDialogPrompts;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(TDialogPrompts& prompts, QWidget* parent = nullptr);

    // The folder of the filter files.
    std::string DataFolder;
    // The main window's LoadFilterNames, run after "決定".
    std::function<void()> LoadFilterNames;

    // Refills the filter list (keeping the old entries when no filter file
    // exists), selects `name` (letter case ignored) or the first entry and
    // shows that filter. False when the shown filter could not be read
    // (the error was shown); the dialog should then not open.
    bool ListFilters(const std::string& name);
    // Loads the rows of one filter; false after a read error (shown), with
    // the list empty, LoadedFilterName unchanged and Modified cleared.
    bool ShowFilter(const std::string& name);
    // Saves the rows under `name` when they were modified and the user says
    // yes. False only when writing failed (the error was shown).
    bool StoreFilter(const std::string& name);

    // The rows of the list, as they would be written.
    std::vector<ExtensionRow> Rows() const;

    std::string LoadedFilterName;
    bool Modified = false;
    // The list shows the rows of LoadedFilterName. False after a failed
    // read: the list is empty and belongs to no filter, so nothing can be
    // added to it or saved from it until a filter is shown again.
    bool RowsOfLoadedFilter = true;

    QLabel* Label1;         // header "フィルタ設定"
    QPushButton* Button3;   // "新規にフィルタを追加する"
    QComboBox* ComboBox1;   // filter names
    QTableWidget* ExtList;  // 設定名 / 拡張子、設定内容, with check boxes
    QCheckBox* CheckBox1;   // "日付フィルタを使用する" (not stored)
    QComboBox* ComboBox2;   // date range (not stored)
    QLabel* Label2;         // hint
    QPushButton* Button1;   // "決定"
    QPushButton* Button2;   // "キャンセル"
    QMenu* PopupMenu1;
    QAction* RenameSetting1;  // "設定名を変更する"
    QAction* ChangeExt1;      // "拡張子を変更する"
    QAction* AddRow1;         // "新規に追加する"
    QAction* Delete1;         // "削除"

protected:
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void ComboBox1Change(int index);
    void RenameSetting1Click();
    void ChangeExt1Click();
    void AddRow1Click();
    void Delete1Click();
    void ExtListChanging();

private:
    TDialogPrompts& prompts_;
    bool filling_ = false;  // rows are being loaded: no change notifications

    void AppendRow(const ExtensionRow& row);
    int SelectedRow() const;
};

}  // namespace tessarine
