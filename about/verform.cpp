#include "about/verform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "about/WebLinks.h"
#include "dialogkit/DialogSupport.h"

namespace tessarine {

TVerInfoForm::TVerInfoForm(TDialogPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
    setWindowTitle("バージョン情報");
    setModal(true);
    ApplyGreyDialogLook(this);
    Label1 = MakeHeaderBand("バージョン情報", this);
    auto* name = new QLabel("Tessarine", this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    Label2 = new QLabel(this);
    Label3 = new TLinkLabel("最新バージョンの確認は、ここをクリックしてください", this);
    for (QLabel* l : {name, Label2, static_cast<QLabel*>(Label3)}) l->setStyleSheet("color: white;");
    Button1 = new QPushButton("閉じる", this);
    Button1->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(20, 14, 20, 14);
    body->setSpacing(10);
    body->addWidget(name);
    body->addWidget(Label2);
    body->addWidget(Label3);
    body->addSpacing(6);
    body->addLayout(buttons);
    PlaceUnderHeaderBand(this, Label1, body)->setSizeConstraint(QLayout::SetFixedSize);

    connect(Label3, &TLinkLabel::clicked, this, &TVerInfoForm::Label3Click);
    connect(Label3, &TLinkLabel::mouseEntered, this, &TVerInfoForm::Label3MouseEnter);
    connect(Label3, &TLinkLabel::mouseLeft, this, &TVerInfoForm::Label3MouseLeave);
    LetFocusedButtonsTakeEnter(this);
    connect(Button1, &QPushButton::clicked, this, &TVerInfoForm::Button1Click);
    FormCreate();
}

void TVerInfoForm::FormCreate() { Label2->setText(ToQString(std::string(kVersionText))); }
void TVerInfoForm::Label3Click() { OpenHomePage(prompts_, ProgramFolder); }
void TVerInfoForm::Label3MouseEnter() { Label3->SetUnderlined(true); }
void TVerInfoForm::Label3MouseLeave() { Label3->SetUnderlined(false); }
void TVerInfoForm::Button1Click() { accept(); }

void OpenHelpDocument(TDialogPrompts& prompts, const std::string& programFolder) {
    prompts.OpenTarget(programFolder + std::string(kHelpDocument));
}

void OpenHomePage(TDialogPrompts& prompts, const std::string& programFolder) {
    prompts.OpenTarget(LoadWebLinks(programFolder).HomePage);
}

}  // namespace tessarine
