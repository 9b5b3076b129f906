#pragma once
// The name entry dialog: a one-line prompt whose captions every caller sets
// before showing it (new folder names, filter names, setting names,
// extensions, and the job password).
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessarine {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    // Caption, header and prompt of the next showing.
    void SetTexts(const QString& caption, const QString& header, const QString& prompt);
    // Shows every typed character as "*" (the password prompt) or as typed.
    void SetMasked(bool masked);

    QLabel* Label1;  // header
    QLabel* Label2;  // prompt above the entry
    QLineEdit* Edit1;
    QPushButton* Button1;  // "決定"
    QPushButton* Button2;  // "キャンセル"

    // Set only by "決定"; the caller clears it before each showing.
    bool Accepted = false;
    // The entry without surrounding blanks, set by "決定".
    std::string EnteredText;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void Button1Click();
    void Button2Click();
};

}  // namespace tessarine
