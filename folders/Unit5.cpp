#include "folders/Unit5.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogkit/DialogSupport.h"
#include "engine/text_process.h"

namespace tessarine {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("新規にフォルダを登録する"));
    Label1 = new QLabel(QStringLiteral("新規にフォルダを登録"), this);
    QFont headerFont = Label1->font();
    headerFont.setBold(true);
    Label1->setFont(headerFont);
    Label2 = new QLabel(QStringLiteral("フォルダ名"), this);
    Edit1 = new QLineEdit(this);
    Edit1->setMinimumWidth(320);
    Button1 = new QPushButton(QStringLiteral("決定"), this);
    Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
    // Enter does not press a button: the dialog closes through its buttons
    // or its frame only.
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addSpacing(6);
    layout->addWidget(Label2);
    layout->addWidget(Edit1);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    LetFocusedButtonsTakeEnter(this);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button2Click);
}

void TForm5::SetTexts(const QString& caption, const QString& header, const QString& prompt) {
    setWindowTitle(caption);
    Label1->setText(header);
    Label2->setText(prompt);
}

void TForm5::SetMasked(bool masked) {
    // Qt draws a bullet by default; the prompt shows "*" for every character.
    Edit1->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    Edit1->setStyleSheet(masked ? QStringLiteral("QLineEdit { lineedit-password-character: 42; }") : QString());
}

void TForm5::keyPressEvent(QKeyEvent* event) {
    // Escape would close a QDialog; this one is left through its buttons.
    if (TakeUnboundKey(event, true)) return;
    QDialog::keyPressEvent(event);
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Edit1->setFocus();
}

void TForm5::Button1Click() {
    Accepted = true;
    QByteArray text = Edit1->text().toUtf8();
    EnteredText = std::string(TrimBlanks(std::string_view(text.constData(), static_cast<size_t>(text.size()))));
    // The dialog also asks for passwords: no copy is left behind.
    text.fill('\0');
    close();
}

void TForm5::Button2Click() {
    Accepted = false;
    close();
}

}  // namespace tessarine
