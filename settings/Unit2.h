#pragma once
// The settings dialog: destination, confirmation, opening the destination,
// output-name stamps and the no-file message, and whether the archiver
// libraries are installed. It changes only the settings record in memory.
#include <QDialog>
#include <functional>
#include <string>

#include "settings/SetData.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tessarine {

class TDialogPrompts;
class TLinkLabel;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    TForm2(TSetData& settings, TDialogPrompts& prompts, QWidget* parent = nullptr);

    // The program folder (with its closing separator), for the local
    // document on installing the archiver libraries.
    std::string ProgramFolder;
    // Whether each archiver library is installed; asked at every opening.
    std::function<bool()> SevenZipAvailable;
    std::function<bool()> LhaAvailable;

    // Sets every control from the settings, correcting values no control
    // can show (those corrections stay even when the dialog is cancelled).
    void FillFromSettings();

    QLabel* Label1;  // header "環境設定"
    QRadioButton* SaveRadioButton1;
    QRadioButton* SaveRadioButton2;
    QRadioButton* SaveRadioButton3;
    QLineEdit* Edit1;
    QPushButton* Button3;  // "参照"
    QCheckBox* ActModeCheckBox1;
    QCheckBox* ActModeCheckBox2;
    QCheckBox* FNameCheckBox;
    QRadioButton* FNameRadioButton1;
    QRadioButton* FNameRadioButton2;
    QRadioButton* NoDataMsgRadioButton1;
    QRadioButton* NoDataMsgRadioButton2;
    QLabel* ZipLabel;
    QLabel* LhaLabel;
    TLinkLabel* Label6;    // 7-Zip library download
    TLinkLabel* Label7;    // LHA library download
    TLinkLabel* Label8;    // local installation notes
    QPushButton* Button1;  // "決定"
    QPushButton* Button2;  // "キャンセル"

protected:
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Label6Click();
    void Label7Click();
    void Label8Click();
    void Label6MouseEnter();
    void Label6MouseLeave();
    void Label7MouseEnter();
    void Label7MouseLeave();
    void Label8MouseEnter();
    void Label8MouseLeave();

private:
    TSetData& settings_;
    TDialogPrompts& prompts_;
};

}  // namespace tessarine
