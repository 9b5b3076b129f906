#include "settings/Unit2.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "about/WebLinks.h"
#include "engine/text_process.h"
#include "dialogkit/DialogSupport.h"

namespace tessarine {

namespace {
QButtonGroup* Exclusive(QWidget* owner, std::initializer_list<QRadioButton*> buttons) {
    auto* group = new QButtonGroup(owner);
    for (QRadioButton* b : buttons) group->addButton(b);
    return group;
}
}  // namespace

TForm2::TForm2(TSetData& settings, TDialogPrompts& prompts, QWidget* parent)
    : QDialog(parent), settings_(settings), prompts_(prompts) {
    setWindowTitle("環境設定");
    setModal(true);
    ApplyGreyDialogLook(this);
    Label1 = MakeHeaderBand("環境設定", this);

    auto* saveBox = new QGroupBox("保存先", this);
    SaveRadioButton1 = new QRadioButton("保存先を選択する", saveBox);
    SaveRadioButton2 = new QRadioButton("同じフォルダへ保存する", saveBox);
    SaveRadioButton3 = new QRadioButton("指定した保存先", saveBox);
    Exclusive(saveBox, {SaveRadioButton1, SaveRadioButton2, SaveRadioButton3});
    Edit1 = new QLineEdit(saveBox);
    Edit1->setReadOnly(true);
    Edit1->setMinimumWidth(320);
    Button3 = new QPushButton("参照", saveBox);
    auto* saveLayout = new QGridLayout(saveBox);
    saveLayout->addWidget(SaveRadioButton1, 0, 0, 1, 3);
    saveLayout->addWidget(SaveRadioButton2, 1, 0, 1, 3);
    saveLayout->addWidget(SaveRadioButton3, 2, 0, 1, 3);
    saveLayout->addWidget(new QLabel("保存先", saveBox), 3, 0);
    saveLayout->addWidget(Edit1, 3, 1);
    saveLayout->addWidget(Button3, 3, 2);

    auto* actBox = new QGroupBox("動作設定", this);
    ActModeCheckBox1 = new QCheckBox("コピー/圧縮前に確認ダイアログを表示する", actBox);
    ActModeCheckBox2 = new QCheckBox("保存先フォルダを開く", actBox);
    auto* actLayout = new QVBoxLayout(actBox);
    actLayout->addWidget(ActModeCheckBox1);
    actLayout->addWidget(ActModeCheckBox2);

    auto* nameBox = new QGroupBox("ファイル名設定", this);
    FNameCheckBox = new QCheckBox("ファイル名を「ファイル名_日付」にする", nameBox);
    FNameRadioButton1 = new QRadioButton("yyyymmddhhnnss(年月日時分秒)", nameBox);
    FNameRadioButton2 = new QRadioButton("yymmdd_hhnnss(年月日_時分_秒)", nameBox);
    Exclusive(nameBox, {FNameRadioButton1, FNameRadioButton2});
    auto* nameLayout = new QVBoxLayout(nameBox);
    nameLayout->addWidget(FNameCheckBox);
    nameLayout->addWidget(FNameRadioButton1);
    nameLayout->addWidget(FNameRadioButton2);

    auto* noDataBox = new QGroupBox("ファイルが存在しないときの動作設定(フィルタ使用時のみ)", this);
    NoDataMsgRadioButton1 = new QRadioButton("メッセージを表示(3秒)", noDataBox);
    NoDataMsgRadioButton2 = new QRadioButton("メッセージを表示しない", noDataBox);
    Exclusive(noDataBox, {NoDataMsgRadioButton1, NoDataMsgRadioButton2});
    auto* noDataLayout = new QHBoxLayout(noDataBox);
    noDataLayout->addWidget(NoDataMsgRadioButton1);
    noDataLayout->addWidget(NoDataMsgRadioButton2);
    noDataLayout->addStretch();

    auto* dllBox = new QGroupBox("DLL情報", this);
    ZipLabel = new QLabel(dllBox);
    LhaLabel = new QLabel(dllBox);
    Label6 = new TLinkLabel("DLLは、こちらから入手できます", dllBox);
    Label7 = new TLinkLabel("DLLは、こちらから入手できます", dllBox);
    Label8 = new TLinkLabel("DLLのインストール方法は、こちらをご覧ください", dllBox);
    auto* dllLayout = new QGridLayout(dllBox);
    dllLayout->addWidget(new QLabel("ZIP圧縮", dllBox), 0, 0);
    dllLayout->addWidget(new QLabel("7-zip32.dll", dllBox), 0, 1);
    dllLayout->addWidget(ZipLabel, 0, 2);
    dllLayout->addWidget(Label6, 0, 3);
    dllLayout->addWidget(new QLabel("LHA圧縮", dllBox), 1, 0);
    dllLayout->addWidget(new QLabel("UNLHA32.DLL", dllBox), 1, 1);
    dllLayout->addWidget(LhaLabel, 1, 2);
    dllLayout->addWidget(Label7, 1, 3);
    dllLayout->addWidget(Label8, 2, 0, 1, 4);
    dllLayout->setColumnStretch(3, 1);

    Button1 = new QPushButton("決定", this);
    Button2 = new QPushButton("キャンセル", this);
    for (QPushButton* b : {Button1, Button2, Button3}) b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 10, 12, 12);
    for (QGroupBox* box : {saveBox, actBox, nameBox, noDataBox, dllBox}) body->addWidget(box);
    body->addLayout(buttons);
    PlaceUnderHeaderBand(this, Label1, body)->setSizeConstraint(QLayout::SetFixedSize);

    LetFocusedButtonsTakeEnter(this);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Label6, &TLinkLabel::clicked, this, &TForm2::Label6Click);
    connect(Label7, &TLinkLabel::clicked, this, &TForm2::Label7Click);
    connect(Label8, &TLinkLabel::clicked, this, &TForm2::Label8Click);
    connect(Label6, &TLinkLabel::mouseEntered, this, &TForm2::Label6MouseEnter);
    connect(Label6, &TLinkLabel::mouseLeft, this, &TForm2::Label6MouseLeave);
    connect(Label7, &TLinkLabel::mouseEntered, this, &TForm2::Label7MouseEnter);
    connect(Label7, &TLinkLabel::mouseLeft, this, &TForm2::Label7MouseLeave);
    connect(Label8, &TLinkLabel::mouseEntered, this, &TForm2::Label8MouseEnter);
    connect(Label8, &TLinkLabel::mouseLeft, this, &TForm2::Label8MouseLeave);
}

void TForm2::FillFromSettings() {
    const bool sevenZip = SevenZipAvailable && SevenZipAvailable();
    Label6->setVisible(!sevenZip);
    ZipLabel->setText(sevenZip ? "インストールされています" : "なし");
    const bool lha = LhaAvailable && LhaAvailable();
    Label7->setVisible(!lha);
    LhaLabel->setText(lha ? "インストールされています" : "なし");

    switch (settings_.SelectSaveMode) {
        case 1: SaveRadioButton2->setChecked(true); break;
        case 2: SaveRadioButton3->setChecked(true); break;
        default:
            settings_.SelectSaveMode = 0;
            SaveRadioButton1->setChecked(true);
            break;
    }
    Edit1->setText(ToQString(std::string(TrimBlanks(settings_.SelectSaveFolderName))));
    if (settings_.ActMode1 != 1) settings_.ActMode1 = 0;
    ActModeCheckBox1->setChecked(settings_.ActMode1 == 1);
    if (settings_.OpenFolder != 1) settings_.OpenFolder = 0;
    ActModeCheckBox2->setChecked(settings_.OpenFolder == 1);
    (settings_.FNameSelect1 != 0 ? FNameRadioButton2 : FNameRadioButton1)->setChecked(true);
    FNameCheckBox->setChecked(settings_.FNameSelect2 != 0);
    (settings_.NoFileMsg == 1 ? NoDataMsgRadioButton1 : NoDataMsgRadioButton2)->setChecked(true);
}

void TForm2::Button1Click() {
    if (SaveRadioButton1->isChecked())
        settings_.SelectSaveMode = 0;
    else if (SaveRadioButton2->isChecked())
        settings_.SelectSaveMode = 1;
    else if (SaveRadioButton3->isChecked())
        settings_.SelectSaveMode = 2;
    settings_.SelectSaveFolderName = std::string(TrimBlanks(ToStdString(Edit1->text())));
    settings_.ActMode1 = ActModeCheckBox1->isChecked() ? 1 : 0;
    settings_.OpenFolder = ActModeCheckBox2->isChecked() ? 1 : 0;
    settings_.FNameSelect1 = FNameRadioButton1->isChecked() ? 0 : 1;
    settings_.FNameSelect2 = FNameCheckBox->isChecked() ? 1 : 0;
    settings_.NoFileMsg = NoDataMsgRadioButton1->isChecked() ? 1 : 0;
    accept();
}

void TForm2::Button2Click() { reject(); }

void TForm2::Button3Click() { Edit1->setText(ToQString(prompts_.BrowseFolder(this))); }

void TForm2::Label6Click() { prompts_.OpenTarget(LoadWebLinks(ProgramFolder).SevenZipDownload); }
void TForm2::Label7Click() { prompts_.OpenTarget(LoadWebLinks(ProgramFolder).LhaDownload); }
void TForm2::Label8Click() { prompts_.OpenTarget(ProgramFolder + std::string(kDllInstallDocument)); }
void TForm2::Label6MouseEnter() { Label6->SetUnderlined(true); }
void TForm2::Label6MouseLeave() { Label6->SetUnderlined(false); }
void TForm2::Label7MouseEnter() { Label7->SetUnderlined(true); }
void TForm2::Label7MouseLeave() { Label7->SetUnderlined(false); }
void TForm2::Label8MouseEnter() { Label8->SetUnderlined(true); }
void TForm2::Label8MouseLeave() { Label8->SetUnderlined(false); }

void TForm2::keyPressEvent(QKeyEvent* event) {
    if (TakeUnboundKey(event)) return;
    QDialog::keyPressEvent(event);
}

}  // namespace tessarine
