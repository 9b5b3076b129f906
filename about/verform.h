#pragma once
// The about box, and the two help-menu actions that open documents.
#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

namespace tessarine {

class TDialogPrompts;
class TLinkLabel;

class TVerInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TVerInfoForm(TDialogPrompts& prompts, QWidget* parent = nullptr);

    // The program folder, with its separator: where the link addresses are
    // kept (data/links.ini).
    std::string ProgramFolder;

    QLabel* Label1;        // header "バージョン情報"
    QLabel* Label2;        // version and release date
    TLinkLabel* Label3;    // home page link
    QPushButton* Button1;  // "閉じる"

public slots:
    void FormCreate();
    void Label3Click();
    void Label3MouseEnter();
    void Label3MouseLeave();
    void Button1Click();

private:
    TDialogPrompts& prompts_;
};

// "ヘルプ(&H)": the local help document in the program folder (which ends
// with its separator). Works also while a job runs.
void OpenHelpDocument(TDialogPrompts& prompts, const std::string& programFolder);
// "最新版をチェックする(&N)" and the about box link: the home page named in
// the program folder's data/links.ini.
void OpenHomePage(TDialogPrompts& prompts, const std::string& programFolder);

}  // namespace tessarine
