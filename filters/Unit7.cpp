#include "filters/Unit7.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/Common.h"
#include "filters/filterfile.h"
#include "dialogkit/DialogSupport.h"

namespace tessarine {

TForm7::TForm7(QWidget* parent) : QDialog(parent) {
    setWindowTitle("フィルタ選択");
    setModal(true);
    Label1 = MakeHeaderBand("フィルタ選択", this);
    Label2 = new QLabel("フィルタ選択", this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(false);
    ComboBox1->setMinimumWidth(280);
    Button1 = new QPushButton("決定", this);
    Button2 = new QPushButton("キャンセル", this);
    for (QPushButton* b : {Button1, Button2}) b->setAutoDefault(false);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 12, 16, 12);
    body->addWidget(Label2);
    body->addWidget(ComboBox1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    body->addSpacing(8);
    body->addLayout(buttons);
    PlaceUnderHeaderBand(this, Label1, body)->setSizeConstraint(QLayout::SetFixedSize);

    LetFocusedButtonsTakeEnter(this);
    connect(Button1, &QPushButton::clicked, this, &TForm7::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm7::Button2Click);
}

void TForm7::ListFilters() {
    TCommon common;
    std::vector<std::string> names;
    ListFilterNames(common, DataFolder, names);
    if (!names.empty()) {
        ComboBox1->clear();
        ComboBox1->addItem(QString());
        for (const auto& name : names) ComboBox1->addItem(ToQString(name));
    }
    ComboBox1->setCurrentIndex(-1);
}

void TForm7::Button1Click() {
    Accepted = true;
    ChosenFilter = ToStdString(ComboBox1->currentText());
    accept();
}

void TForm7::Button2Click() {
    Accepted = false;
    ChosenFilter.clear();
    reject();
}

void TForm7::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape are not bound to the buttons.
    if (TakeUnboundKey(event)) return;
    QDialog::keyPressEvent(event);
}

}  // namespace tessarine
