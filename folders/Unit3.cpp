#include "folders/Unit3.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engine/Common.h"
#include "engine/datafile.h"
#include "engine/errors.h"
#include "engine/text_process.h"
#include "filters/Unit7.h"
#include "dialogkit/DialogSupport.h"

namespace tessarine {

namespace {
enum Column { kName = 0, kSaveFileName = 1, kFilterName = 2, kFolderPath = 3 };
}

TForm3::TForm3(TDialogPrompts& prompts, TForm7& filterSelection, QWidget* parent)
    : QDialog(parent), prompts_(prompts), filterSelection_(filterSelection) {
    setWindowTitle("フォルダ登録");
    setModal(true);
    Label1 = MakeHeaderBand("フォルダ登録", this);
    Button3 = new QPushButton("新規にフォルダを登録する", this);

    FolderList = new QTableWidget(0, 4, this);
    FolderList->setHorizontalHeaderLabels({"名前", "保存ファイル名", "フィルタ", "フォルダパス"});
    FolderList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FolderList->setSelectionMode(QAbstractItemView::SingleSelection);
    FolderList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FolderList->setShowGrid(true);
    FolderList->verticalHeader()->hide();
    FolderList->horizontalHeader()->setStretchLastSection(true);
    FolderList->setColumnWidth(kName, 150);
    FolderList->setColumnWidth(kSaveFileName, 130);
    FolderList->setColumnWidth(kFilterName, 110);
    FolderList->setMinimumSize(640, 280);
    FolderList->setContextMenuPolicy(Qt::CustomContextMenu);

    Label2 = new QLabel("右クリックで設定を変更できます", this);
    Button1 = new QPushButton("決定", this);
    Button2 = new QPushButton("キャンセル", this);
    for (QPushButton* b : {Button1, Button2, Button3}) b->setAutoDefault(false);

    PopupMenu1 = new QMenu(this);
    SelectFilter1 = PopupMenu1->addAction("フィルタを選択する");
    SaveFileName1 = PopupMenu1->addAction("保存ファイル名を変更する");
    Rename1 = PopupMenu1->addAction("名前の変更する");
    PopupMenu1->addSeparator();
    Delete1 = PopupMenu1->addAction("削除");

    auto* top = new QHBoxLayout;
    top->addStretch();
    top->addWidget(Button3);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label2);
    bottom->addStretch();
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 12);
    body->addLayout(top);
    body->addWidget(FolderList, 1);
    body->addLayout(bottom);
    PlaceUnderHeaderBand(this, Label1, body);

    LetFocusedButtonsTakeEnter(this);
    UseListKeys(FolderList);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
    connect(SelectFilter1, &QAction::triggered, this, &TForm3::SelectFilter1Click);
    connect(SaveFileName1, &QAction::triggered, this, &TForm3::SaveFileName1Click);
    connect(Rename1, &QAction::triggered, this, &TForm3::Rename1Click);
    connect(Delete1, &QAction::triggered, this, &TForm3::Delete1Click);
    PopUpOnRequest(FolderList, PopupMenu1);
}

void TForm3::SetCell(int row, int column, const std::string& value) {
    QTableWidgetItem* item = FolderList->item(row, column);
    item->setText(ToQString(value));
    // The exact bytes are kept beside the shown text, so that a path that
    // is not valid UTF-8 is written back unchanged.
    item->setData(Qt::UserRole, QByteArray::fromStdString(value));
}

std::string TForm3::Cell(int row, int column) const {
    return FolderList->item(row, column)->data(Qt::UserRole).toByteArray().toStdString();
}

void TForm3::AppendRow(const RegisteredFolder& folder) {
    const int r = FolderList->rowCount();
    FolderList->insertRow(r);
    for (int c = kName; c <= kFolderPath; ++c) {
        auto* item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        FolderList->setItem(r, c, item);
    }
    FolderList->item(r, kName)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    FolderList->item(r, kName)->setCheckState(folder.Enabled ? Qt::Checked : Qt::Unchecked);
    SetCell(r, kName, folder.Name);
    SetCell(r, kSaveFileName, folder.SaveFileName);
    SetCell(r, kFilterName, folder.FilterName);
    SetCell(r, kFolderPath, folder.FolderPath);
}

std::vector<RegisteredFolder> TForm3::Rows() const {
    std::vector<RegisteredFolder> rows;
    for (int r = 0; r < FolderList->rowCount(); ++r) {
        RegisteredFolder folder;
        folder.Enabled = FolderList->item(r, kName)->checkState() == Qt::Checked;
        folder.Name = Cell(r, kName);
        folder.SaveFileName = Cell(r, kSaveFileName);
        folder.FilterName = Cell(r, kFilterName);
        folder.FolderPath = Cell(r, kFolderPath);
        rows.push_back(std::move(folder));
    }
    return rows;
}

int TForm3::SelectedRow() const {
    const auto selected = FolderList->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

bool TForm3::ShowFolderList(const std::string& fileName) {
    FolderList->setRowCount(0);
    try {
        for (const auto& folder : ReadFolderList(UserFolder + kPathSeparator + fileName)) AppendRow(folder);
    } catch (const TessarineError& e) {
        prompts_.ShowError(this, e.what());
        return false;
    }
    return true;
}

bool TForm3::StoreFolderList(const std::string& fileName) {
    try {
        WriteFolderList(UserFolder + kPathSeparator + fileName, Rows());
    } catch (const TessarineError& e) {
        prompts_.ShowError(this, e.what());
        return false;
    }
    return true;
}

void TForm3::Button3Click() {
    const auto folder = prompts_.SelectFolder();
    if (!folder) return;
    const auto name = prompts_.EnterName(kNewFolderName, "");
    if (!name) return;
    RegisteredFolder row;
    row.Enabled = true;
    row.Name = *name;
    row.SaveFileName = *name;
    row.FolderPath = *folder;
    AppendRow(row);
}

void TForm3::SelectFilter1Click() {
    const int r = SelectedRow();
    if (r < 0) return;
    filterSelection_.ListFilters();
    filterSelection_.Accepted = false;
    filterSelection_.exec();
    if (!filterSelection_.Accepted) return;
    SetCell(r, kFilterName, std::string(TrimBlanks(filterSelection_.ChosenFilter)));
}

void TForm3::SaveFileName1Click() {
    const int r = SelectedRow();
    if (r < 0) return;
    if (const auto entered = prompts_.EnterName(kSaveFileNameEntry, Cell(r, kSaveFileName))) {
        SetCell(r, kSaveFileName, *entered);
    }
}

void TForm3::Rename1Click() {
    const int r = SelectedRow();
    if (r < 0) return;
    if (const auto entered = prompts_.EnterName(kRenameFolderEntry, Cell(r, kName))) SetCell(r, kName, *entered);
}

void TForm3::Delete1Click() {
    const int r = SelectedRow();
    if (r >= 0) FolderList->removeRow(r);
}

void TForm3::Button1Click() {
    if (!StoreFolderList(std::string(kFolderListFileName))) return;
    if (LoadRegisteredFolders) LoadRegisteredFolders();
    accept();
}

void TForm3::Button2Click() { reject(); }

void TForm3::keyPressEvent(QKeyEvent* event) {
    if (TakeUnboundKey(event)) return;
    QDialog::keyPressEvent(event);
}

}  // namespace tessarine
