#pragma once
// The folder selection dialog, and the folder browser it shares with the
// settings dialog.
#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessarine {

// The folder the browser reported last, for the whole process; shared by the
// folder selection dialog and the settings dialog. Empty at start.
extern std::string BrowsePath;

// Opens the folder browser (starting at the root) over `owner` and puts the
// folder selected last, with a closing separator, into `field` - also when
// the browser was cancelled. A selection without a file-system path gives
// the root.
void BrowseFolder(QWidget* owner, QLineEdit* field);

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);

    QLabel* Label1;        // header "フォルダ選択"
    QLabel* Label2;        // prompt "フォルダ名"
    QLineEdit* Edit1;      // read-only; only "参照" fills it
    QPushButton* Button3;  // "参照"
    QPushButton* Button1;  // "決定"
    QPushButton* Button2;  // "キャンセル"

    // Set only by "決定"; the caller clears it before each showing.
    bool Accepted = false;
    // The field without surrounding blanks, set by "決定" (may be empty).
    std::string ChosenFolder;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
};

}  // namespace tessarine
