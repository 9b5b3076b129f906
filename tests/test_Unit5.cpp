// The name entry dialog: its result flag, the trimmed text, the masked
// password use, and that Enter and Escape do not close it.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "folders/Unit5.h"
#include "qt_test_support.h"

using tessarine::TForm5;

namespace {

// Shows the dialog modally, lets `act` work on it, returns after it closed.
void ShowAnd(TForm5& dialog, const std::function<void(TForm5&)>& act) {
    qttest::ModalScript script;
    script.Then([&](QDialog*) { act(dialog); });
    dialog.exec();
    EXPECT_TRUE(script.Done());
}

}  // namespace

TEST(NameEntryDialog, AcceptReturnsTextWithoutSurroundingBlanks) {
    qttest::App();
    TForm5 dialog;
    dialog.Accepted = false;
    ShowAnd(dialog, [](TForm5& d) {
        d.Edit1->setText(QStringLiteral("  新しい 名前\t "));
        d.Button1->click();
    });
    EXPECT_TRUE(dialog.Accepted);
    EXPECT_EQ(dialog.EnteredText, "新しい 名前");
    EXPECT_FALSE(dialog.isVisible());
}

TEST(NameEntryDialog, CancelAndFrameCloseLeaveAcceptedFalseAndKeepLastText) {
    qttest::App();
    TForm5 dialog;
    ShowAnd(dialog, [](TForm5& d) {
        d.Edit1->setText(QStringLiteral("first"));
        d.Button1->click();
    });
    ASSERT_EQ(dialog.EnteredText, "first");

    dialog.Accepted = false;
    ShowAnd(dialog, [](TForm5& d) {
        d.Edit1->setText(QStringLiteral("second"));
        d.Button2->click();
    });
    EXPECT_FALSE(dialog.Accepted);
    EXPECT_EQ(dialog.EnteredText, "first");

    ShowAnd(dialog, [](TForm5& d) { d.close(); });
    EXPECT_FALSE(dialog.Accepted);

    // Blanks only: accepted, and empty.
    ShowAnd(dialog, [](TForm5& d) {
        d.Edit1->setText(QStringLiteral("   "));
        d.Button1->click();
    });
    EXPECT_TRUE(dialog.Accepted);
    EXPECT_EQ(dialog.EnteredText, "");
}

TEST(NameEntryDialog, EnterAndEscapeDoNotCloseIt) {
    qttest::App();
    TForm5 dialog;
    ShowAnd(dialog, [](TForm5& d) {
        d.Edit1->setText(QStringLiteral("x"));
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(d.Edit1, &press);
            EXPECT_TRUE(d.isVisible()) << key;
        }
        d.Button2->click();
    });
    EXPECT_FALSE(dialog.Accepted);
}

TEST(NameEntryDialog, CallerTextsAndMaskAreApplied) {
    qttest::App();
    TForm5 dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("新規にフォルダを登録する"));
    dialog.SetTexts(QStringLiteral("パスワード設定"), QStringLiteral("パスワード設定"),
                    QStringLiteral("設定するパスワードを入力してください"));
    dialog.SetMasked(true);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("パスワード設定"));
    EXPECT_EQ(dialog.Label2->text(), QStringLiteral("設定するパスワードを入力してください"));
    EXPECT_EQ(dialog.Edit1->echoMode(), QLineEdit::Password);
    dialog.Edit1->setText(QStringLiteral("abc"));
    // Every typed character is drawn as "*".
    EXPECT_EQ(dialog.Edit1->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, dialog.Edit1), '*');
    EXPECT_EQ(dialog.Edit1->displayText(), QStringLiteral("***"));
    dialog.SetMasked(false);
    EXPECT_EQ(dialog.Edit1->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(dialog.Edit1->displayText(), QStringLiteral("abc"));
}

// A focused button takes Enter, as Space; Enter in the entry field still
// closes nothing (no default button).
TEST(NameEntryDialog, FocusedButtonTakesEnter) {
    qttest::App();
    for (const bool accept : {true, false}) {
        TForm5 dialog;
        dialog.Accepted = !accept;
        ShowAnd(dialog, [accept](TForm5& d) {
            QPushButton* button = accept ? d.Button1 : d.Button2;
            button->setFocus();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(button, &press);
            if (d.isVisible()) d.reject();  // Enter did nothing
        });
        EXPECT_EQ(dialog.Accepted, accept);
    }
}
