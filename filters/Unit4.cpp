#include "filters/Unit4.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engine/Common.h"
#include "engine/errors.h"
#include "engine/text_process.h"
#include "dialogkit/DialogSupport.h"

namespace tessarine {

TForm4::TForm4(TDialogPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setWindowTitle("フィルタ設定");
    setModal(true);
    Label1 = MakeHeaderBand("フィルタ設定", this);
    Button3 = new QPushButton("新規にフィルタを追加する", this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(false);
    ComboBox1->setMinimumWidth(220);

    ExtList = new QTableWidget(0, 2, this);
    ExtList->setHorizontalHeaderLabels({"設定名", "拡張子、設定内容"});
    ExtList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ExtList->setSelectionMode(QAbstractItemView::SingleSelection);
    ExtList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ExtList->setShowGrid(true);
    ExtList->verticalHeader()->hide();
    ExtList->horizontalHeader()->setStretchLastSection(true);
    ExtList->setColumnWidth(0, 200);
    ExtList->setMinimumSize(460, 260);
    ExtList->setContextMenuPolicy(Qt::CustomContextMenu);

    CheckBox1 = new QCheckBox("日付フィルタを使用する", this);
    ComboBox2 = new QComboBox(this);
    ComboBox2->addItems({"今日", "1時間", "2時間", "3時間", "昨日から", "1週間前から", "1ヶ月前から"});
    ComboBox2->setCurrentIndex(0);
    Label2 = new QLabel("右クリックで設定を変更できます", this);
    Button1 = new QPushButton("決定", this);
    Button2 = new QPushButton("キャンセル", this);
    for (QPushButton* b : {Button1, Button2, Button3}) b->setAutoDefault(false);

    PopupMenu1 = new QMenu(this);
    RenameSetting1 = PopupMenu1->addAction("設定名を変更する");
    ChangeExt1 = PopupMenu1->addAction("拡張子を変更する");
    AddRow1 = PopupMenu1->addAction("新規に追加する");
    PopupMenu1->addSeparator();
    Delete1 = PopupMenu1->addAction("削除");

    auto* top = new QHBoxLayout;
    top->addWidget(ComboBox1, 1);
    top->addWidget(Button3);
    auto* date = new QHBoxLayout;
    date->addWidget(CheckBox1);
    date->addWidget(ComboBox2);
    date->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label2);
    bottom->addStretch();
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 12);
    body->addLayout(top);
    body->addWidget(ExtList, 1);
    body->addLayout(date);
    body->addLayout(bottom);
    PlaceUnderHeaderBand(this, Label1, body);

    LetFocusedButtonsTakeEnter(this);
    UseListKeys(ExtList);
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm4::Button3Click);
    // Only a choice by the user switches filters; selections made by
    // ListFilters do not.
    connect(ComboBox1, &QComboBox::activated, this, &TForm4::ComboBox1Change);
    connect(RenameSetting1, &QAction::triggered, this, &TForm4::RenameSetting1Click);
    connect(ChangeExt1, &QAction::triggered, this, &TForm4::ChangeExt1Click);
    connect(AddRow1, &QAction::triggered, this, &TForm4::AddRow1Click);
    connect(Delete1, &QAction::triggered, this, &TForm4::Delete1Click);
    PopUpOnRequest(ExtList, PopupMenu1);
    // A tick, an edit or a move of the current row all count as a change.
    connect(ExtList, &QTableWidget::itemChanged, this, &TForm4::ExtListChanging);
    connect(ExtList, &QTableWidget::currentCellChanged, this, &TForm4::ExtListChanging);
}

void TForm4::ExtListChanging() {
    if (!filling_ && RowsOfLoadedFilter) Modified = true;
}

void TForm4::AppendRow(const ExtensionRow& row) {
    const int r = ExtList->rowCount();
    ExtList->insertRow(r);
    auto* name = new QTableWidgetItem(ToQString(row.SettingName));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    name->setCheckState(row.Enabled ? Qt::Checked : Qt::Unchecked);
    name->setData(Qt::UserRole, QByteArray::fromStdString(row.SettingName));
    auto* ext = new QTableWidgetItem(ToQString(row.Extension));
    ext->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    ext->setData(Qt::UserRole, QByteArray::fromStdString(row.Extension));
    ExtList->setItem(r, 0, name);
    ExtList->setItem(r, 1, ext);
}

std::vector<ExtensionRow> TForm4::Rows() const {
    std::vector<ExtensionRow> rows;
    for (int r = 0; r < ExtList->rowCount(); ++r) {
        ExtensionRow row;
        row.Enabled = ExtList->item(r, 0)->checkState() == Qt::Checked;
        row.SettingName = ExtList->item(r, 0)->data(Qt::UserRole).toByteArray().toStdString();
        row.Extension = ExtList->item(r, 1)->data(Qt::UserRole).toByteArray().toStdString();
        rows.push_back(std::move(row));
    }
    return rows;
}

int TForm4::SelectedRow() const {
    const auto selected = ExtList->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

bool TForm4::ListFilters(const std::string& name) {
    TCommon common;
    std::vector<std::string> names;
    ListFilterNames(common, DataFolder, names);
    if (!names.empty()) {
        ComboBox1->clear();
        for (const auto& n : names) ComboBox1->addItem(ToQString(n));
    }
    int index = 0;
    if (!TrimBlanks(name).empty()) {
        index = FindNameEntry(ComboBox1, ToQString(name));  // exact spelling first, then letter case ignored
        if (index < 0) index = 0;
    }
    ComboBox1->setCurrentIndex(ComboBox1->count() > 0 ? index : -1);
    const QString shown = ComboBox1->currentText();
    if (shown.isEmpty()) return true;
    return ShowFilter(ToStdString(shown));
}

bool TForm4::ShowFilter(const std::string& name) {
    filling_ = true;
    ExtList->setRowCount(0);
    try {
        const std::vector<ExtensionRow> rows = ReadFilterRows(FilterFilePath(DataFolder, name));
        for (const auto& row : rows) AppendRow(row);
    } catch (const TessarineError& e) {
        filling_ = false;
        // The emptied list no longer holds the rows of LoadedFilterName;
        // saving it later would wipe that filter, and rows added to it would
        // be offered for saving into a filter that is not the one on screen.
        Modified = false;
        RowsOfLoadedFilter = false;
        prompts_.ShowError(this, e.what());
        return false;
    }
    filling_ = false;
    LoadedFilterName = name;
    Modified = false;
    RowsOfLoadedFilter = true;
    return true;
}

bool TForm4::StoreFilter(const std::string& name) {
    if (!Modified || !RowsOfLoadedFilter) return true;
    // Rows can only be edited while a filter is shown, so there is always
    // a name; an empty one would make the file ".dat".
    if (name.empty()) return true;
    if (!prompts_.Confirm(this, name + "を保存しますか？")) return true;
    try {
        WriteFilterRows(FilterFilePath(DataFolder, name), Rows());
    } catch (const TessarineError& e) {
        prompts_.ShowError(this, e.what());
        return false;
    }
    Modified = false;
    return true;
}

void TForm4::ComboBox1Change(int index) {
    if (!StoreFilter(LoadedFilterName)) return;
    ShowFilter(ToStdString(ComboBox1->itemText(index)));
}

void TForm4::Button3Click() {
    const auto entered = prompts_.EnterName(kNewFilterName, "");
    if (!entered) return;
    if (const Message problem = CheckNewFilterName(*entered)) {
        prompts_.ShowError(this, RenderMessage(problem));
        return;
    }
    Modified = false;
    const std::string path = FilterFilePath(DataFolder, *entered);
    try {
        if (FileExists(path) || !CreateFilterFile(path)) {
            prompts_.ShowError(this, "同じフィルタ名が存在します。違う名前で作成してください。");
            return;
        }
    } catch (const TessarineError& e) {
        prompts_.ShowError(this, e.what());
        return;
    }
    ListFilters(*entered);
}

void TForm4::RenameSetting1Click() {
    const int r = SelectedRow();
    if (r < 0) return;
    QTableWidgetItem* item = ExtList->item(r, 0);
    const auto entered = prompts_.EnterName(kSettingNameEntry, item->data(Qt::UserRole).toByteArray().toStdString());
    if (!entered) return;
    Modified = true;
    item->setData(Qt::UserRole, QByteArray::fromStdString(*entered));
    item->setText(ToQString(*entered));
}

void TForm4::ChangeExt1Click() {
    const int r = SelectedRow();
    if (r < 0) return;
    QTableWidgetItem* item = ExtList->item(r, 1);
    const auto entered = prompts_.EnterName(kExtensionEntry, item->data(Qt::UserRole).toByteArray().toStdString());
    if (!entered) return;
    Modified = true;
    item->setData(Qt::UserRole, QByteArray::fromStdString(*entered));
    item->setText(ToQString(*entered));
}

void TForm4::AddRow1Click() {
    if (LoadedFilterName.empty()) {
        prompts_.ShowError(this, "フィルタがありません。「新規にフィルタを追加する」で作成してください。");
        return;
    }
    if (!RowsOfLoadedFilter) {
        prompts_.ShowError(this, "表示中のフィルタを読み込めませんでした。フィルタを選び直してください。");
        return;
    }
    const auto name = prompts_.EnterName(kNewRowName, "");
    if (!name) return;
    const auto extension = prompts_.EnterName(kNewRowExtension, "");
    if (!extension) return;
    Modified = true;
    AppendRow({true, *name, *extension});
}

void TForm4::Delete1Click() {
    const int r = SelectedRow();
    if (r < 0) return;
    const std::string name = ExtList->item(r, 0)->data(Qt::UserRole).toByteArray().toStdString();
    if (!prompts_.Confirm(this, "リストから「" + name + "」を削除しますか？")) return;
    Modified = true;
    ExtList->removeRow(r);
}

void TForm4::Button1Click() {
    // The rows on screen belong to LoadedFilterName; after a failed switch
    // the combo box already names another filter, whose file must not get
    // these rows.
    if (!StoreFilter(LoadedFilterName)) return;
    if (LoadFilterNames) LoadFilterNames();
    accept();
}

void TForm4::Button2Click() { reject(); }

void TForm4::keyPressEvent(QKeyEvent* event) {
    if (TakeUnboundKey(event)) return;
    QDialog::keyPressEvent(event);
}

}  // namespace tessarine
